// Reading scans: the importer against ITK's own typed read of the same file,
// the histogram built from the load's value counts against the pass over
// every sample, and (with --peak-memory FILE) the peak memory of one import.
// The 256^3 int16 NIfTI files are made here from the head phantom.
#include <benchmark/benchmark.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkNiftiImageIO.h>

#include <sys/resource.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/scan_writer.h"
#include "tools/volume/phantom.h"
#include "volume/histogram.h"
#include "volume/scan_import.h"
#include "volume/volume.h"

namespace {

const std::string kFolder = "/tmp/tamlo-bench-scans";

// The phantom as a CT would store it: int16 values around -1000..2400.
void WriteFiles() {
    if (std::filesystem::exists(kFolder + "/head256.nii.gz"))
        return;
    std::filesystem::create_directories(kFolder);
    const std::vector<uint16_t> head = phantom::MakeHeadPhantom(256, 256, 256);
    std::vector<double> values(head.begin(), head.end());
    for (double& v : values)
        v -= 1000;
    scan_test::ScanSpec spec;
    spec.dims = {256, 256, 256};
    spec.spacing = {0.9, 0.9, 1.2};
    for (const char* name : {"/head256.nii", "/head256.nii.gz"}) {
        const std::string problem = scan_test::WriteScan(kFolder + name, spec, values);
        if (!problem.empty()) {
            std::fprintf(stderr, "cannot write %s: %s\n", name, problem.c_str());
            std::exit(1);
        }
    }
}

void Import(benchmark::State& state, const std::string& name) {
    for (auto _ : state) {
        ScanVolume volume;
        std::string error;
        if (!ReadScan(kFolder + name, &volume, &error))
            return state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(volume.samples.get());
    }
}

// What ITK itself does to read the file into an image of its stored type.
void ItkRead(benchmark::State& state, const std::string& name) {
    using Image = itk::Image<int16_t, 3>;
    for (auto _ : state) {
        auto reader = itk::ImageFileReader<Image>::New();
        reader->SetImageIO(itk::NiftiImageIO::New());
        reader->SetFileName(kFolder + name);
        reader->Update();
        benchmark::DoNotOptimize(reader->GetOutput()->GetBufferPointer());
    }
}

void BM_ImportNifti(benchmark::State& state) {
    Import(state, "/head256.nii");
}
void BM_ItkReadNifti(benchmark::State& state) {
    ItkRead(state, "/head256.nii");
}
void BM_ImportNiftiGz(benchmark::State& state) {
    Import(state, "/head256.nii.gz");
}
void BM_ItkReadNiftiGz(benchmark::State& state) {
    ItkRead(state, "/head256.nii.gz");
}

struct Shifted {
    std::vector<uint16_t> samples = phantom::MakeHeadPhantom(256, 256, 256);
    std::vector<uint32_t> counts = std::vector<uint32_t>(kSampleValues);
    Shifted() {
        ShiftSamplesCountingValues(samples.data(), static_cast<uint32_t>(samples.size()), counts.data());
    }
};
const Shifted& Phantom() {
    static const Shifted shifted;
    return shifted;
}

// What a resize would pay to rebuild the bins: before, a pass over every
// sample; now, one step per value.
void BM_HistogramFromSamples(benchmark::State& state) {
    const Shifted& p = Phantom();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            CountHistogram(p.samples.data(), static_cast<uint32_t>(p.samples.size()), 640));
}
void BM_HistogramFromValueCounts(benchmark::State& state) {
    const Shifted& p = Phantom();
    for (auto _ : state)
        benchmark::DoNotOptimize(CountHistogramFromValues(p.counts.data(), 640));
}

// A folder of many one-slice series (as a PACS export of scouts and
// localisers may be): finding its series must grow with the files, not
// with their square. The folders are made once, by ITK's DICOM writer.
std::string ManySeriesFolder(int seriesCount) {
    const std::string folder = kFolder + "/series-" + std::to_string(seriesCount);
    if (std::filesystem::exists(folder + ".done"))
        return folder;
    std::filesystem::create_directories(folder);
    scan_test::ScanSpec spec;
    spec.dims = {8, 8, 1};
    for (int i = 0; i < seriesCount; ++i) {
        const std::string problem = scan_test::WriteDicomSeries(
            folder, spec, std::vector<double>(64, i % 100), {"s" + std::to_string(i)}, 1.0, 0.0,
            "1.2.826.0.1.3680043.2.1125.7." + std::to_string(i + 1));
        if (!problem.empty()) {
            std::fprintf(stderr, "cannot write series %d: %s\n", i, problem.c_str());
            std::exit(1);
        }
    }
    std::ofstream(folder + ".done");
    return folder;
}

void BM_ImportFolderOfOneSliceSeries(benchmark::State& state) {
    const std::string folder = ManySeriesFolder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ScanVolume volume;
        std::string error;
        if (!ReadScan(folder, &volume, &error))
            return state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(volume.samples.get());
    }
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ImportNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ItkReadNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ItkReadNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HistogramFromSamples)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramFromValueCounts)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ImportFolderOfOneSliceSeries)
    ->Arg(1250)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

long StatusKilobytes(const char* key, const std::string& process = "self") {
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return -1;
}

long ProportionalKilobytes(const std::string& process) {
    std::ifstream rollup("/proc/" + process + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line))
        if (line.rfind("Pss:", 0) == 0)
            return std::strtol(line.c_str() + 4, nullptr, 10);
    return 0;
}

// Watches this process and the reader's child every 100 us and keeps the
// largest growth of what both hold together over `baseKilobytes`. Each
// counts its proportional share (Pss) of pages the two share since the fork,
// so nothing is counted twice. Two high-water marks added would count the
// child's read and this process's result as if they were held at once; they
// are not.
class CombinedPeak {
  public:
    explicit CombinedPeak(long baseKilobytes)
        : base_(baseKilobytes), mainThread_(std::to_string(::gettid())), watcher_([this] { Watch(); }) {}
    ~CombinedPeak() { Stop(); }
    long Stop() {
        stop_ = true;
        if (watcher_.joinable())
            watcher_.join();
        return peak_;
    }

  private:
    void Watch() {
        while (!stop_) {
            long held = ProportionalKilobytes("self");
            std::ifstream children("/proc/self/task/" + mainThread_ + "/children");
            std::string child;
            while (children >> child)
                held += std::max(0L, ProportionalKilobytes(child));
            peak_ = std::max(peak_, held - base_);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    long base_;
    std::string mainThread_;
    std::atomic<bool> stop_{false};
    long peak_ = 0;
    std::thread watcher_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0) {
        // One import in a fresh process and nothing else: the time it takes
        // (the caller measures it), undisturbed by a watch on its memory.
        ScanVolume volume;
        std::string error;
        if (!ReadScan(argv[2], &volume, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    WriteFiles();
    if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0) {
        // One import in a fresh process: the largest growth of what this
        // process and the reader's child held together, against 2.5 x the
        // 16-bit result + the file.
        // A name in the folder of the files made here, or a path of its own.
        const std::string path = argv[2][0] == '/' ? std::string(argv[2]) : kFolder + "/" + argv[2];
        const long before = StatusKilobytes("VmRSS:");
        ScanVolume volume;
        std::string error;
        CombinedPeak combined(ProportionalKilobytes("self"));
        if (!ReadScan(path, &volume, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const double peak = combined.Stop() / 1024.0;
        const double result = 2.0 * volume.dimX * volume.dimY * volume.dimZ / (1 << 20);
        struct rusage children {};
        ::getrusage(RUSAGE_CHILDREN, &children);
        const double parentPeak = (StatusKilobytes("VmHWM:") - before) / 1024.0;
        const double childPeak = (children.ru_maxrss - before) / 1024.0;
        const double file = std::filesystem::file_size(path) / double(1 << 20);
        std::printf(
            "%s: peak %.1f MiB (this process %.1f, the reader %.1f at most), result %.1f MiB, file %.1f "
            "MiB, budget %.1f MiB\n",
            argv[2], peak, parentPeak, childPeak, result, file, 2.5 * result + file);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

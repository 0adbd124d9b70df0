// Reading scans: the importer against ITK's own typed read of the same file,
// the histogram built from the load's value counts against the pass over
// every sample, and (with --peak-memory FILE) the peak memory of one import.
// The 256^3 int16 NIfTI files are made here from the head phantom.
#include <benchmark/benchmark.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkNiftiImageIO.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

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

BENCHMARK(BM_ImportNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ItkReadNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ItkReadNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HistogramFromSamples)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramFromValueCounts)->Unit(benchmark::kMicrosecond);

long StatusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    WriteFiles();
    if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0) {
        // One import in a fresh process: the growth of the peak over what the
        // process held before, against 2.5 x the 16-bit result + the file. The
        // reader runs in a child, whose peak (over what it shared with this
        // process) and the result it hands over in memory count too.
        const std::string path = kFolder + "/" + argv[2];
        const long before = StatusKilobytes("VmRSS:");
        ScanVolume volume;
        std::string error;
        if (!ReadScan(path, &volume, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const double result = 2.0 * volume.dimX * volume.dimY * volume.dimZ / (1 << 20);
        struct rusage children {};
        ::getrusage(RUSAGE_CHILDREN, &children);
        const double parentPeak = (StatusKilobytes("VmHWM:") - before) / 1024.0;
        const double childPeak = (children.ru_maxrss - before) / 1024.0 + result;
        const double peak = std::max(parentPeak, childPeak);
        const double file = std::filesystem::file_size(path) / double(1 << 20);
        std::printf("%s: peak %.1f MiB, result %.1f MiB, file %.1f MiB, budget %.1f MiB\n", argv[2], peak,
                    result, file, 2.5 * result + file);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

// tamlo-convert INPUT OUTPUT: reads a scan (NIfTI, NRRD, MetaImage, a DICOM
// file or folder, a TIFF stack) as the viewer does and writes the volume file, its grid as
// read or (--cubic) resampled onto cubic voxels; prints what it found and
// what it wrote.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/file_replace.h"
#include "tools/convert/resample.h"
#include "volume/chunk_cache.h"
#include "volume/scan_import.h"
#include "volume/scan_input_files.h"
#include "volume/volume_read.h"

namespace {

struct Progress {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    bool shown = false;
    const char* stage = "reading";
};

// A progress line on the terminal, only for a read that takes a while.
void ShowProgress(double fraction, void* context) {
    auto* progress = static_cast<Progress*>(context);
    if (!::isatty(2))
        return;
    if (!progress->shown &&
        std::chrono::steady_clock::now() - progress->start < std::chrono::milliseconds(500))
        return;
    progress->shown = true;
    std::fprintf(stderr, "\r%s: %3d%%", progress->stage, static_cast<int>(fraction * 100));
    std::fflush(stderr);
}

void ShowSlices(uint32_t done, uint32_t total, void* context) {
    ShowProgress(static_cast<double>(done) / total, context);
}

void EndProgress(Progress* progress) {
    if (progress->shown)
        std::fprintf(stderr, "\r%*s\r", 40, "");
    progress->shown = false;
}

// What the viewer can hold: 2 bytes a sample within 4 GB.
constexpr uint64_t kMostSamples = (uint64_t{1} << 31) - 1;

int Fail(const std::string& message) {
    std::fprintf(stderr, "tamlo-convert: %s\n", message.c_str());
    return 1;
}

// "2" -> 2; false for anything but a plain decimal count.
bool ParseCount(const char* text, uint32_t* count) {
    if (*text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno != 0 || value > 0xFFFFFFFFull)
        return false;
    *count = static_cast<uint32_t>(value);
    return true;
}

// Keeps in `scan` only the grid the user chose (`channel` from 1, `time`
// from 0), its channel's facts first; empty when done, else why not. A
// scan of one grid needs no choice; one of several does.
std::string ChooseOneGrid(std::optional<uint32_t> channel, std::optional<uint32_t> time, VolumeData* scan) {
    const uint32_t channels = scan->ChannelCount(), times = scan->timePoints;
    if (channel && *channel > channels)
        return "--channel " + std::to_string(*channel) + ": the scan has " + std::to_string(channels) +
               (channels == 1 ? " channel" : " channels");
    if (time && *time >= times)
        return "--time " + std::to_string(*time) + ": the scan has " + std::to_string(times) +
               (times == 1 ? " time point (0)" : " time points (0 to " + std::to_string(times - 1) + ")");
    std::string missing;
    if (channels > 1 && !channel)
        missing = std::to_string(channels) + " channels (choose one with --channel C)";
    if (times > 1 && !time)
        missing += (missing.empty() ? "" : " and ") + std::to_string(times) +
                   " time points (choose one with --time N)";
    if (!missing.empty())
        return "the scan has " + missing + "; a volume file holds one grid";
    const uint32_t c = channel ? *channel - 1 : 0, t = time ? *time : 0;
    if (channels == 1 && times == 1)
        return {};
    const uint64_t count = scan->GridSamples();
    std::unique_ptr<uint16_t[]> one(new (std::nothrow) uint16_t[count]);
    if (!one)
        return "not enough memory for the chosen grid";
    std::copy_n(scan->Grid(c, t), count, one.get());
    scan->samples = std::move(one);
    scan->channels = {scan->channels[c]};
    scan->timePoints = 1;
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    SetChunkCacheBudget(0);  // one read: no chunk is asked for twice
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf(
            "usage: tamlo-convert [--values ct|auto|full|LOW,HIGH] [--cubic] [--channel C] [--time N]\n"
            "                     [--level N] [--max-edge N] INPUT OUTPUT\n"
            "Reads a scan (NIfTI .nii/.nii.gz, NRRD .nrrd/.nhdr, MetaImage .mha/.mhd, DICOM: one file of a\n"
            "series or its folder, a TIFF stack .tif/.tiff, or an OME-Zarr store's folder), maps its values\n"
            "onto 0..4095, turns it to the viewer's orientation (x left, y superior, z posterior; a stack's\n"
            "and a store's axes are kept) and writes the volume file OUTPUT (u16 x, y, z, then the\n"
            "samples).\n"
            "The volume file has no spacing: its voxels are shown as cubes. The grid is written as read;\n"
            "--cubic resamples it onto cubic voxels of its smallest spacing instead, keeping the box's\n"
            "proportions (more samples where the spacing differs between axes).\n"
            "--values chooses the window of values mapped onto 0..4095: ct (-1024..3071 HU), auto (from the\n"
            "histogram, robust to a few extreme voxels), full (the scan's whole range) or LOW,HIGH; by\n"
            "default ct for a CT and auto otherwise; each channel of a multi-channel scan has its own.\n"
            "A volume file holds one grid: --channel C (from 1) and --time N (from 0) choose the channel "
            "and\n"
            "the time point of a scan with several; such a scan is refused without them.\n"
            "An OME-Zarr store is read at its finest level whose edges fit the device's usual limit (2048) "
            "or\n"
            "--max-edge N, and the memory; --level N (0 the finest) reads that level. Its levels are "
            "listed.\n");
        return 0;
    }
    ValueChoice values;
    bool cubic = false;
    // Chosen by the user: a channel counted from 1, a time point from 0.
    std::optional<uint32_t> channel, timePoint;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cubic") {
            cubic = true;
        } else if (arg == "--values" || arg.rfind("--values=", 0) == 0) {
            const bool joined = arg.size() > 8;
            if (!joined && i + 1 >= argc) {
                std::fprintf(stderr, "tamlo-convert: option --values needs a value\n");
                return 2;
            }
            const std::string value = joined ? arg.substr(9) : argv[++i];
            if (!ParseValueChoice(value, &values)) {
                std::fprintf(stderr,
                             "tamlo-convert: --values takes ct, auto, full or LOW,HIGH (LOW below HIGH, both "
                             "finite), not \"%s\"\n",
                             value.c_str());
                return 2;
            }
        } else if (arg == "--level" || arg == "--max-edge") {
            uint32_t number = 0;
            if (i + 1 >= argc || !ParseCount(argv[i + 1], &number) || number > INT32_MAX ||
                (arg == "--max-edge" && number == 0)) {
                std::fprintf(
                    stderr, "tamlo-convert: %s takes %s\n", arg.c_str(),
                    arg == "--level" ? "a level (0 for the finest)" : "an edge of at least 1 sample");
                return 2;
            }
            ++i;
            if (arg == "--level")
                values.level = static_cast<int32_t>(number);
            else
                values.maxEdge = number;
        } else if (arg == "--channel" || arg == "--time") {
            const bool isChannel = arg == "--channel";
            uint32_t number = 0;
            if (i + 1 >= argc || !ParseCount(argv[i + 1], &number) || (isChannel && number == 0)) {
                std::fprintf(
                    stderr, "tamlo-convert: %s takes %s\n", arg.c_str(),
                    isChannel ? "a channel number (1 for the first)" : "a time point (0 for the first)");
                return 2;
            }
            ++i;
            (isChannel ? channel : timePoint) = number;
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() != 2) {
        std::fprintf(
            stderr,
            "usage: tamlo-convert [--values ct|auto|full|LOW,HIGH] [--cubic] [--channel C] [--time N] "
            "INPUT OUTPUT (--help for more)\n");
        return 2;
    }
    const std::string input = names[0], output = names[1];
    // Found out before the scan is read: a wrong output name costs nothing,
    // and no file the scan is read from (its data files, its series) is
    // ever what gets replaced.
    const std::string role = ScanInputFiles(input).RoleOf(output);
    if (!role.empty())
        return Fail("cannot write " + output + ": it is " + role + " (" + input + ")");
    const std::string unwritable = CheckReplaceable(output);
    if (!unwritable.empty())
        return Fail("cannot write " + output + ": " + unwritable);
    // Any other scan is no place for a volume file either. Only a file that
    // is there can be one: a new name starts no reader.
    if (::access(output.c_str(), F_OK) == 0 && IsScanFile(output))
        return Fail("cannot write " + output + ": it is a scan; the output is a volume file, name a new one");

    Progress progress;
    VolumeData scan;
    VolumeProblem unread;
    ReadingWatch watch;
    watch.context = &progress;
    watch.progress = &ShowProgress;
    const bool read = ReadVolume(input, values, &scan, &unread, watch);
    EndProgress(&progress);
    TakeScanWarnings();
    // What the viewer would say in its box.
    if (!read)
        return Fail(unread.text);
    if (!scan.isScan)
        return Fail(input + " is a volume file already; tamlo-convert reads scans");
    const uint32_t channelsRead = scan.ChannelCount(), timesRead = scan.timePoints;
    const std::string choice = ChooseOneGrid(channel, timePoint, &scan);
    if (!choice.empty())
        return Fail(choice + " (" + input + ")");
    std::printf("input:   %s (%s, %s)\n", input.c_str(), scan.format.c_str(), scan.sampleType.c_str());
    std::printf("grid:    %u x %u x %u, spacing %g x %g x %g\n", scan.dimX, scan.dimY, scan.dimZ,
                scan.spacingX, scan.spacingY, scan.spacingZ);
    // A store's levels, one a line, the one read among them.
    for (size_t at = 0, end = 0; at < scan.storeLevels.size(); at = end + 1) {
        end = scan.storeLevels.find('\n', at);
        if (end == std::string::npos)
            end = scan.storeLevels.size();
        std::printf("%s %.*s\n", at == 0 ? "levels: " : "        ", static_cast<int>(end - at),
                    scan.storeLevels.c_str() + at);
    }
    if (scan.channels[0].anyFinite)
        std::printf("values:  %g .. %g%s%s\n", scan.channels[0].minValue, scan.channels[0].maxValue,
                    scan.channels[0].unit.empty() ? "" : " ", scan.channels[0].unit.c_str());
    else
        std::printf("values:  none finite\n");
    std::printf("window:  %g .. %g (%s), mapped onto 0 .. 4095\n", scan.channels[0].windowLow,
                scan.channels[0].windowHigh, ValueWindowName(scan.channels[0].window));
    if (!(scan.channels[0].windowHigh > scan.channels[0].windowLow))
        std::printf("note:    the values span no range (%s), so every sample is 0\n",
                    scan.channels[0].anyFinite ? "all equal" : "none finite");
    if (!scan.notice.empty())
        std::printf("note:    %s\n", scan.notice.c_str());
    if (channelsRead > 1)
        std::printf("channel: %u of %u%s%s\n", *channel, channelsRead,
                    scan.channels[0].name.empty() ? "" : ", ", scan.channels[0].name.c_str());
    if (timesRead > 1)
        std::printf("time:    point %u of %u (from 0)\n", *timePoint, timesRead);

    const uint32_t dims[3] = {scan.dimX, scan.dimY, scan.dimZ};
    const double spacing[3] = {scan.spacingX, scan.spacingY, scan.spacingZ};
    const bool alreadyCubic = spacing[0] == spacing[1] && spacing[1] == spacing[2];
    if (!cubic || alreadyCubic) {
        // The samples as read, written from the array they were read into.
        const std::string problem = WriteVolumeFile(output, dims, scan.samples.get());
        if (!problem.empty())
            return Fail(problem);
        if (alreadyCubic)
            std::printf("output:  %s, %u x %u x %u cubic voxels of %g\n", output.c_str(), dims[0], dims[1],
                        dims[2], spacing[0]);
        else
            std::printf(
                "output:  %s, %u x %u x %u samples, the grid as read; the volume file has no spacing, so its "
                "voxels show as cubes, not %g x %g x %g (--cubic resamples onto cubic voxels)\n",
                output.c_str(), dims[0], dims[1], dims[2], spacing[0], spacing[1], spacing[2]);
        return 0;
    }
    const IsotropicGrid fine = IsotropicGridFor(dims, spacing);
    const IsotropicGrid grid = CappedIsotropicGrid(dims, spacing, kMostSamples, 65535);
    // The edges as they are, not as they were clamped to fit a count.
    const auto edgesText = [&](double edge) {
        char text[96];
        std::snprintf(text, sizeof(text), "%.6g x %.6g x %.6g", std::round(dims[0] * spacing[0] / edge),
                      std::round(dims[1] * spacing[1] / edge), std::round(dims[2] * spacing[2] / edge));
        return std::string(text);
    };
    if (grid.spacing != fine.spacing)
        std::printf(
            "note:    cubic voxels of %g would make %s samples, more than the viewer's %llu; "
            "voxels of %g instead\n",
            fine.spacing, edgesText(fine.spacing).c_str(), static_cast<unsigned long long>(kMostSamples),
            grid.spacing);
    for (uint32_t edge : grid.dims) {
        if (edge > 65535)
            return Fail("cannot write " + output + ": the cubic grid would be " + edgesText(grid.spacing) +
                        ", past the volume file's 65535 per axis");
    }
    const long double bytes = 2.0L * grid.dims[0] * grid.dims[1] * grid.dims[2];
    if (bytes > static_cast<long double>(AvailableMemoryBytes()))
        return Fail("cannot write " + output + ": the cubic grid needs more memory than is free");
    progress = Progress{};
    progress.stage = "resampling";
    std::unique_ptr<uint16_t[]> samples =
        ResampleIsotropic(scan.samples.get(), dims, spacing, grid, &ShowSlices, &progress);
    EndProgress(&progress);
    if (!samples)
        return Fail("not enough memory to resample " + input);
    const std::string problem = WriteVolumeFile(output, grid.dims, samples.get());
    if (!problem.empty())
        return Fail(problem);
    std::printf("output:  %s, %u x %u x %u cubic voxels of %g, resampled from %u x %u x %u\n", output.c_str(),
                grid.dims[0], grid.dims[1], grid.dims[2], grid.spacing, dims[0], dims[1], dims[2]);
    return 0;
}

#include "volume/volume_read.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files/file_read.h"
#include "volume/volume_file.h"

namespace {

constexpr double kScanTimeLimitSeconds = 300;

class FileCloser {
  public:
    explicit FileCloser(int fd) : fd_(fd) {}
    ~FileCloser() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

  private:
    int fd_;
};

bool Fail(VolumeProblem* problem, const std::string& text) {
    *problem = VolumeProblem{kVolumeErrorCaption, text, false};
    return false;
}

bool HasScanName(const std::string& path) {
    static const char* const kScanEndings[] = {".nii",  ".nii.gz", ".hdr", ".nrrd",
                                               ".nhdr", ".mha",    ".mhd", ".dcm"};
    for (const char* ending : kScanEndings) {
        const size_t n = std::strlen(ending);
        if (path.size() > n && strcasecmp(path.c_str() + path.size() - n, ending) == 0)
            return true;
    }
    return false;
}

bool ReadVolumeFileSamples(int fd, uint64_t fileSize, const VolumeHeader& header, const std::string& path,
                           VolumeData* volume, VolumeProblem* problem) {
    const std::string check = CheckVolumeFile(header, fileSize);
    if (!check.empty())
        return Fail(problem, check + " (" + path + ")");
    const uint32_t count = static_cast<uint32_t>(uint32_t{header.dimX} * header.dimY * header.dimZ);
    std::unique_ptr<uint16_t[]> samples(new (std::nothrow) uint16_t[count > 0 ? count : 1]);
    if (!samples)
        return Fail(problem, "Not enough memory for the volume's samples (" + path + ")");
    errno = 0;
    if (!ReadFully(fd, samples.get(), uint64_t{count} * 2))
        return Fail(problem, "Unable to read volume file (" + path +
                                 "): " + (errno ? std::strerror(errno) : "the file ended early"));
    VolumeData read;
    VolumeChannel& channel = read.channels[0];
    channel.window = ValueWindow::FullRange;
    channel.windowLow = 0;
    channel.windowHigh = 4095;
    uint16_t low = 0, high = 0;
    if (FitSamplesToTwelveBits(samples.get(), count, &low, &high)) {
        // The range the samples had; without one it is counted where the
        // samples are installed.
        channel.minValue = low;
        channel.maxValue = high;
        channel.anyFinite = true;
        read.notices.push_back(
            {"Volume rescaled", "The samples of '" + path + "' use more than 12 bits (values " +
                                    std::to_string(low) + " to " + std::to_string(high) +
                                    "). They are shown mapped from that range onto 0 to 4095."});
    }
    read.samples = std::move(samples);
    read.dimX = header.dimX;
    read.dimY = header.dimY;
    read.dimZ = header.dimZ;
    read.format = "volume file";
    read.sampleType = "uint16";
    *volume = std::move(read);
    return true;
}

// Read, or NotAScan with what was looked for in `notAScan` (the caller
// tries what else it knows); a refusal is set in `problem`.
ScanOutcome ReadScanVolume(const std::string& path, const ValueChoice& values, const ReadingWatch& watch,
                           VolumeData* volume, VolumeProblem* problem, std::string* notAScan) {
    ScanVolume scan;
    std::string error;
    // A reader that hangs (a file that never ends) must not hold the
    // caller: the watch's stop check ends the reader.
    if (watch.scanStarts != nullptr)
        watch.scanStarts(watch.context);
    SetScanWait(kScanTimeLimitSeconds, watch.stopRequested, watch.context);
    ScanOutcome outcome = OpenScan(path, &scan, &error, 0, watch.progress, watch.context, values);
    const bool abandoned = watch.abandoned != nullptr && watch.abandoned(watch.context);
    if (outcome == ScanOutcome::Read && abandoned)
        outcome = ScanOutcome::Stopped;  // the user no longer wants it, even read
    // The stop check must not outlive its context (later reads use it).
    SetScanWait(kScanTimeLimitSeconds, nullptr, nullptr);
    if (outcome == ScanOutcome::NotAScan) {
        *notAScan = error;
        return outcome;
    }
    if (outcome != ScanOutcome::Read) {
        Fail(problem, "Unable to read scan (" + path + "): " + error);
        problem->quiet = abandoned;
        return outcome;
    }
    std::string flat;  // channels whose values span no range
    for (uint32_t c = 0; c < scan.ChannelCount(); ++c)
        if (!(scan.channels[c].windowHigh > scan.channels[c].windowLow))
            flat += (flat.empty() ? "" : ", ") + std::to_string(c + 1);
    if (!flat.empty() && scan.ChannelCount() == 1)
        scan.notices.push_back(
            {"Volume values",
             "The values of '" + path +
                 "' span no range (all equal, or none finite), so every sample is shown as 0."});
    else if (!flat.empty())
        scan.notices.push_back(
            {"Volume values", "The values of channel" +
                                  std::string(flat.find(',') == std::string::npos ? " " : "s ") + flat +
                                  " of '" + path +
                                  "' span no range (all equal, or none finite), so every "
                                  "sample there is shown as 0."});
    if (!scan.notice.empty())
        scan.notices.push_back({"Volume slices", "'" + path + "': " + scan.notice + "."});
    *volume = std::move(scan);
    return outcome;
}

}  // namespace

bool ReadVolume(const std::string& path, const ValueChoice& values, VolumeData* volume,
                VolumeProblem* problem, const ReadingWatch& watch) {
    struct stat pathInfo {};
    std::string notAScan;
    if (::stat(path.c_str(), &pathInfo) == 0 && S_ISDIR(pathInfo.st_mode)) {
        const ScanOutcome outcome =
            ReadScanVolume(path, values, watch, volume, problem, &notAScan);  // a DICOM series' folder
        if (outcome == ScanOutcome::NotAScan)
            Fail(problem, "Unable to read scan (" + path + "): " + notAScan);
        return outcome == ScanOutcome::Read;
    }
    // Non-blocking: opening a FIFO would otherwise wait for a writer; it is
    // then refused as not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Fail(problem, "Unable to open volume file (" + path + "): " + std::strerror(errno));
    FileCloser closer(fd);
    struct stat info {};
    uint8_t headerBytes[kVolumeHeaderBytes];
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool haveHeader = regular && ReadFully(fd, headerBytes, kVolumeHeaderBytes);
    const uint64_t fileSize = regular ? static_cast<uint64_t>(info.st_size) : 0;
    const VolumeHeader header = haveHeader ? ReadVolumeHeader(headerBytes) : VolumeHeader{};
    if (regular && !(haveHeader && IsExactVolumeFile(header, fileSize))) {
        const ScanOutcome outcome = ReadScanVolume(path, values, watch, volume, problem, &notAScan);
        if (outcome != ScanOutcome::NotAScan)
            return outcome == ScanOutcome::Read;
        // A name that promises a scan, which no reader took: the volume
        // file's messages ("Volume too large: 25960 x 27756 x 11375") would
        // mislead.
        if (HasScanName(path))
            return Fail(
                problem,
                "Unable to read scan (" + path +
                    "): its name says NIfTI, NRRD, MetaImage or DICOM, but no reader recognises its content");
    }
    if (!haveHeader)
        return Fail(problem, "Unable to read volume file (" + path +
                                 "): it is not a volume file or is shorter than its 6-byte header");
    return ReadVolumeFileSamples(fd, fileSize, header, path, volume, problem);
}

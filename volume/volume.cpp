#include "volume/volume.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files/file_read.h"
#include "platform/shell/shell.h"
#include "render/resources.h"
#include "volume/gradient.h"
#include "volume/reading_progress.h"
#include "volume/scan_import.h"

namespace {

constexpr const char* kVolumeCaption = "error: Volume";
constexpr double kScanTimeLimitSeconds = 300;

void ShowVolumeError(const std::string& text, const char* caption = kVolumeCaption) {
    shell::MessageBox(nullptr, text.c_str(), caption, shell::MB_OK);
}

class FileCloser {
  public:
    explicit FileCloser(int fd) : fd_(fd) {}
    ~FileCloser() {
        if (fd_ >= 0)
            ::close(fd_);
    }

  private:
    int fd_;
};

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

}  // namespace

CVolume::~CVolume() {
    Unload();
}

bool CVolume::Load(const char* path, const ValueChoice& values) {
    // Everything that can go wrong with the file is found out before the
    // current volume is let go.
    struct stat pathInfo {};
    std::string notAScan;
    if (::stat(path, &pathInfo) == 0 && S_ISDIR(pathInfo.st_mode)) {
        const ScanOutcome outcome = LoadScan(path, values, &notAScan);  // a DICOM series' folder
        if (outcome == ScanOutcome::NotAScan)
            ShowVolumeError(std::string("Unable to read scan (") + path + "): " + notAScan);
        return outcome == ScanOutcome::Read;
    }
    // Non-blocking: opening a FIFO would otherwise wait for a writer; it is
    // then refused as not a regular file.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        ShowVolumeError(std::string("Unable to open volume file (") + path + "): " + std::strerror(errno));
        return false;
    }
    FileCloser closer(fd);
    struct stat info {};
    uint8_t headerBytes[kVolumeHeaderBytes];
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const bool haveHeader = regular && ReadFully(fd, headerBytes, kVolumeHeaderBytes);
    const uint64_t fileSize = regular ? static_cast<uint64_t>(info.st_size) : 0;
    const VolumeHeader header = haveHeader ? ReadVolumeHeader(headerBytes) : VolumeHeader{};
    // A file exactly as long as its header promises is a volume file, even
    // if a scan reader would take it too; any other file is a scan only if
    // a reader recognises it, else the volume file's checks speak.
    if (regular && !(haveHeader && IsExactVolumeFile(header, fileSize))) {
        const ScanOutcome outcome = LoadScan(path, values, &notAScan);
        if (outcome != ScanOutcome::NotAScan)
            return outcome == ScanOutcome::Read;
        // A name that promises a scan, which no reader took: the volume
        // file's messages ("Volume too large: 25960 x 27756 x 11375") would
        // mislead.
        if (HasScanName(path)) {
            ShowVolumeError(
                std::string("Unable to read scan (") + path +
                "): its name says NIfTI, NRRD, MetaImage or DICOM, but no reader recognises its content");
            return false;
        }
    }
    if (!haveHeader) {
        ShowVolumeError(std::string("Unable to read volume file (") + path +
                        "): it is not a volume file or is shorter than its 6-byte header");
        return false;
    }
    return LoadVolumeFile(fd, fileSize, header, path);
}

bool CVolume::LoadVolumeFile(int fd, uint64_t fileSize, const VolumeHeader& header, const char* path) {
    const std::string problem = CheckVolumeFile(header, fileSize);
    if (!problem.empty()) {
        ShowVolumeError(problem + " (" + path + ")");
        return false;
    }
    const uint32_t count = static_cast<uint32_t>(uint32_t{header.dimX} * header.dimY * header.dimZ);
    std::unique_ptr<uint16_t[]> samples(new (std::nothrow) uint16_t[count > 0 ? count : 1]);
    if (!samples) {
        ShowVolumeError(std::string("Not enough memory for the volume's samples (") + path + ")");
        return false;
    }
    errno = 0;
    if (!ReadFully(fd, samples.get(), uint64_t{count} * 2)) {
        ShowVolumeError(std::string("Unable to read volume file (") + path +
                        "): " + (errno ? std::strerror(errno) : "the file ended early"));
        return false;
    }
    uint16_t low = 0, high = 0;
    const bool rescaled = FitSamplesToTwelveBits(samples.get(), count, &low, &high);
    const uint32_t dims[3] = {header.dimX, header.dimY, header.dimZ};
    const float spacing[3] = {1.0f, 1.0f, 1.0f};
    if (!Install(std::move(samples), dims, spacing, path))
        return false;
    isScan = false;
    isCt = false;
    valueWindow = ValueWindow::FullRange;
    windowLow = 0;
    windowHigh = 4095;
    valueUnit.clear();
    if (rescaled) {
        minValue = low;
        maxValue = high;
        const std::string text = std::string("The samples of '") + path + "' use more than 12 bits (values " +
                                 std::to_string(low) + " to " + std::to_string(high) +
                                 "). They are shown mapped from that range onto 0 to 4095.";
        shell::MessageBox(nullptr, text.c_str(), "Volume rescaled", shell::MB_OK | shell::MB_ICONINFORMATION);
    }
    return true;
}

ScanOutcome CVolume::LoadScan(const char* path, const ValueChoice& values, std::string* notAScan) {
    ScanVolume scan;
    std::string error;
    // A reader that hangs (a file that never ends) must not hold the window:
    // its close box, a quit, Esc or the progress's Cancel ends the reader.
    ReadingProgress reading(path);
    SetScanWait(kScanTimeLimitSeconds, &ReadingProgress::StopRequested, &reading);
    ScanOutcome outcome = OpenScan(path, &scan, &error, 0, &ReadingProgress::Report, &reading, values);
    if (outcome == ScanOutcome::Read && reading.Cancelled())
        outcome = ScanOutcome::Stopped;  // the user no longer wants it, even read
    // The stop check must not outlive `reading` (later reads use it).
    SetScanWait(
        kScanTimeLimitSeconds, [](void*) { return shell::CloseRequested(); }, nullptr);
    reading.End();
    // What the readers had to say goes to the debug output, on request.
    const bool verbose = std::getenv("TAMLO_DEBUG") != nullptr;
    for (const std::string& warning : TakeScanWarnings()) {
        if (verbose)
            shell::OutputDebugString(("scan reader: " + warning + "\n").c_str());
    }
    if (outcome == ScanOutcome::NotAScan) {
        *notAScan = error;
        return outcome;
    }
    if (outcome != ScanOutcome::Read) {
        // A closing window is told nothing more, nor a user who cancelled.
        if (!shell::CloseRequested() && !reading.Cancelled())
            ShowVolumeError(std::string("Unable to read scan (") + path + "): " + error);
        return outcome;
    }
    const uint32_t dims[3] = {scan.dimX, scan.dimY, scan.dimZ};
    const float spacing[3] = {static_cast<float>(scan.spacingX), static_cast<float>(scan.spacingY),
                              static_cast<float>(scan.spacingZ)};
    if (!Install(std::move(scan.samples), dims, spacing, path))
        return ScanOutcome::Refused;
    minValue = scan.minValue;
    maxValue = scan.maxValue;
    isScan = true;
    isCt = scan.isCt;
    valueWindow = scan.window;
    windowLow = scan.windowLow;
    windowHigh = scan.windowHigh;
    valueUnit = scan.unit;
    if (!(scan.windowHigh > scan.windowLow)) {
        const std::string text =
            std::string("The values of '") + path +
            "' span no range (all equal, or none finite), so every sample is shown as 0.";
        shell::MessageBox(nullptr, text.c_str(), "Volume values", shell::MB_OK | shell::MB_ICONINFORMATION);
    }
    if (!scan.notice.empty()) {
        const std::string text = std::string("'") + path + "': " + scan.notice + ".";
        shell::MessageBox(nullptr, text.c_str(), "Volume slices", shell::MB_OK | shell::MB_ICONINFORMATION);
    }
    return ScanOutcome::Read;
}

bool CVolume::Remap(const ValueChoice& values) {
    if (voxels == nullptr || !isScan || path.empty())
        return false;
    const std::string shown = path;  // Load replaces it
    std::string notAScan;
    return LoadScan(shown.c_str(), values, &notAScan) == ScanOutcome::Read;
}

namespace {

// What a file with no samples most likely is, for the message that says so.
std::string ZeroDimensionHint(const std::string& path) {
    const auto endsWith = [&](const char* end) {
        const std::string tail =
            path.size() >= std::strlen(end) ? path.substr(path.size() - std::strlen(end)) : "";
        return strcasecmp(tail.c_str(), end) == 0;
    };
    if (endsWith(".tf"))
        return "; it looks like a transfer function, which File > Open does not take as a volume";
    if (endsWith(".img"))
        return "; an .img holds only the samples of a .hdr/.img pair: open its .hdr";
    return {};
}

}  // namespace

bool CVolume::Install(std::unique_ptr<uint16_t[]> samples, const uint32_t dims[3], const float spacing[3],
                      const char* path) {
    // The texture would be refused; the message says which file and why.
    if (dims[0] == 0 || dims[1] == 0 || dims[2] == 0) {
        ShowVolumeError(std::string("CreateTexture failed (") + path + ": " + std::to_string(dims[0]) +
                        " x " + std::to_string(dims[1]) + " x " + std::to_string(dims[2]) +
                        " samples, a zero dimension" + ZeroDimensionHint(path) + ")");
        return false;
    }
    InvalidateVolumeLayer();
    uint32_t factors[3] = {1, 1, 1};
    uint32_t finalDims[3] = {dims[0], dims[1], dims[2]};
    float finalSpacing[3] = {spacing[0], spacing[1], spacing[2]};
    const uint32_t limit = MaxVolumeTextureEdge();
    ReductionFactors(dims, limit, factors);
    const bool reduced = factors[0] > 1 || factors[1] > 1 || factors[2] > 1;
    if (reduced) {
        samples = BoxAverage(samples.get(), dims, factors, finalDims);
        if (!samples) {
            ShowVolumeError(std::string("Not enough memory to reduce the volume for the GPU (") + path + ")");
            return false;
        }
        for (int axis = 0; axis < 3; ++axis)
            finalSpacing[axis] *= static_cast<float>(factors[axis]);
    }
    const uint64_t count64 = uint64_t{finalDims[0]} * finalDims[1] * finalDims[2];
    if (count64 * 2 > UINT32_MAX || finalDims[0] > INT32_MAX || finalDims[1] > INT32_MAX ||
        finalDims[2] > INT32_MAX) {
        ShowVolumeError("Volume too large: " + std::to_string(finalDims[0]) + " x " +
                        std::to_string(finalDims[1]) + " x " + std::to_string(finalDims[2]) +
                        " samples do not fit in 4 GB (" + path + ")");
        return false;
    }
    const uint32_t count = static_cast<uint32_t>(count64);
    // All or nothing: the new textures and views are made before anything
    // of the shown volume is let go, so a failure leaves it shown and usable.
    // The volume's texture is made empty and filled once the gradient has
    // been worked out from the 12-bit samples, before their shift in place:
    // the samples are never held twice.
    gpu::Texture3DDesc desc;
    desc.Width = finalDims[0];
    desc.Height = finalDims[1];
    desc.Depth = finalDims[2];
    desc.Format = gpu::Format::R16_UNORM;
    gpu::Texture3D* texture = nullptr;
    gpu::ShaderResourceView* view = nullptr;
    if (!CreateTextureWithView(
            desc, gpu::SubresourceData{},
            {"CreateTexture failed", kVolumeCaption, "CreateShaderResourceView failed", "error: CVolume"},
            &texture, &view))
        return false;
    // Shading is worth having but not a reason to refuse a volume: without
    // the memory for it the volume is shown unshaded.
    std::string gradientProblem;
    gpu::Texture2D* newGradientTexture = nullptr;
    gpu::ShaderResourceView* newGradientView = nullptr;
    std::vector<uint8_t> newGradientCopy;
    MakeGradientTexture(samples.get(), finalDims, finalSpacing, &newGradientTexture, &newGradientView,
                        &gradientProblem, VolumePassOnCpu() ? &newGradientCopy : nullptr);
    std::vector<uint32_t> counts(kSampleValues, 0);
    ShiftSamplesCountingValues(samples.get(), count, counts.data());
    // In 64 bits: a slice of two 16-bit edges can pass 2^31 bytes.
    FillTexture(texture, 0, samples.get(), 2 * finalDims[0],
                static_cast<uint32_t>(uint64_t{2} * finalDims[0] * finalDims[1]));

    Unload();
    this->path = path;
    gradientTexture = newGradientTexture;
    gradientView = newGradientView;
    SetVolumeGradient(gradientView);
    gradientCopy = std::move(newGradientCopy);
    if (!gradientCopy.empty()) {
        uint32_t gradientDims[3], gradientFactors[3];
        GradientGrid(finalDims, gradientDims, gradientFactors);
        SetSoftwareGradient(gradientCopy.data(), gradientDims);
    }
    dimX = static_cast<int32_t>(finalDims[0]);
    dimY = static_cast<int32_t>(finalDims[1]);
    dimZ = static_cast<int32_t>(finalDims[2]);
    spacingX = finalSpacing[0];
    spacingY = finalSpacing[1];
    spacingZ = finalSpacing[2];
    // Physical sizes; with unit spacing exactly the grid's, so a volume file
    // keeps the box its dimensions give.
    const float sizeX = static_cast<float>(dimX) * spacingX;
    const float sizeY = static_cast<float>(dimY) * spacingY;
    const float sizeZ = static_cast<float>(dimZ) * spacingZ;
    const float maxSize = std::max({sizeX, sizeY, sizeZ});
    extentX = sizeX / maxSize;
    extentY = sizeY / maxSize;
    extentZ = sizeZ / maxSize;
    halfExtentX = extentX * 0.5f;
    halfExtentY = extentY * 0.5f;
    halfExtentZ = extentZ * 0.5f;
    voxelCount = count;
    const float half[3] = {halfExtentX, halfExtentY, halfExtentZ};
    SetClearSpaceVolume(MeasureBricks(samples.get(), finalDims), half);
    voxels = std::move(samples);
    SetSoftwareVolume(voxels.get(), finalDims);
    volumeTexture = texture;
    volumeView = view;
    valueCounts = std::move(counts);
    const auto first = std::find_if(valueCounts.begin(), valueCounts.end(), [](uint32_t n) { return n > 0; });
    const auto last =
        std::find_if(valueCounts.rbegin(), valueCounts.rend(), [](uint32_t n) { return n > 0; });
    minValue = first == valueCounts.end() ? 0 : static_cast<double>(first - valueCounts.begin());
    maxValue = last == valueCounts.rend() ? 0 : static_cast<double>(valueCounts.rend() - last - 1);
    if (reduced) {
        const std::string text =
            std::string("'") + path + "' has " + std::to_string(dims[0]) + " x " + std::to_string(dims[1]) +
            " x " + std::to_string(dims[2]) + " samples, more than this GPU's largest 3D texture edge (" +
            std::to_string(limit) + "). It is shown averaged over boxes of " + std::to_string(factors[0]) +
            " x " + std::to_string(factors[1]) + " x " + std::to_string(factors[2]) + " samples, as " +
            std::to_string(dimX) + " x " + std::to_string(dimY) + " x " + std::to_string(dimZ) + ".";
        shell::MessageBox(nullptr, text.c_str(), "Volume reduced", shell::MB_OK | shell::MB_ICONINFORMATION);
    }
    if (!gradientProblem.empty()) {
        const std::string text = std::string("'") + path + "' is shown unshaded: " + gradientProblem + ".";
        shell::MessageBox(nullptr, text.c_str(), "Volume unshaded", shell::MB_OK | shell::MB_ICONINFORMATION);
    }
    return true;
}

void CVolume::MakeGradientTexture(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                                  gpu::Texture2D** texture, gpu::ShaderResourceView** view,
                                  std::string* problem, std::vector<uint8_t>* copy) {
    uint32_t gradientDims[3], factors[3];
    GradientGrid(dims, gradientDims, factors);
    const uint64_t texels = uint64_t{gradientDims[0]} * gradientDims[1] * gradientDims[2];
    const uint64_t bytes = texels * kGradientBytesPerSample;
    // The driver's copy (a CPU device keeps its textures in the same memory)
    // and one slab of ours, next to everything the load holds already.
    const uint64_t slabBytes = std::min(texels, kGradientSlabTexels) * kGradientBytesPerSample;
    const uint64_t available = AvailableMemoryBytes();
    if (bytes > UINT32_MAX || (available != 0 && bytes + 2 * slabBytes > available)) {
        *problem = "its gradient needs " + std::to_string((bytes + (1u << 20) - 1) >> 20) +
                   " MB, more memory than is free";
        return;
    }
    // An array of 2D slices along z, not a 3D texture: the shader reads it
    // filtered within a slice and from the nearest slice, four texels where
    // a 3D texture's filter takes eight, which is most of what shading costs
    // a frame on a CPU rasteriser. Across slices the smoothed gradient
    // changes little (see ComputeGradient). Made empty, then filled a slab at
    // a time as the slabs are worked out, so that the gradient is never held
    // whole beside the device's copy.
    gpu::Texture2DDesc desc;
    desc.Width = gradientDims[0];
    desc.Height = gradientDims[1];
    // Two slices at least: one slice would be a plain 2D texture.
    desc.ArraySize = std::max(gradientDims[2], 2u);
    desc.Format = gpu::Format::R8G8B8A8_UNORM;
    // Quietly: the one message is the notice that the volume is unshaded.
    if (!CreateTextureWithView(desc, gpu::SubresourceData{}, {nullptr, nullptr, nullptr, nullptr}, texture,
                               view)) {
        *problem = "the device could not make its gradient texture";
        return;
    }
    const uint32_t rowPitch = kGradientBytesPerSample * gradientDims[0];
    const size_t sliceBytes = size_t{rowPitch} * gradientDims[1];
    // The CPU's pass reads the gradient from memory; without room for that
    // copy it draws shaded pictures with the slices.
    if (copy != nullptr && (available == 0 || 2 * bytes + 2 * slabBytes <= available)) {
        try {
            copy->resize(bytes);
        } catch (const std::bad_alloc&) {
            copy->clear();
        }
    }
    const bool copying = copy != nullptr && copy->size() == bytes;
    const bool made = ComputeGradientSlabs(
        samples, dims, spacing, kGradientSlabTexels,
        [&](uint32_t firstZ, uint32_t planes, const uint8_t* slab) {
            for (uint32_t z = firstZ; z < firstZ + planes; ++z)
                FillTexture(*texture, z, slab + (z - firstZ) * sliceBytes, rowPitch);
            if (copying)
                std::copy_n(slab, planes * sliceBytes, copy->data() + firstZ * sliceBytes);
            if (gradientDims[2] < desc.ArraySize)  // one plane: its second slice repeats it
                FillTexture(*texture, 1, slab, rowPitch);
        });
    if (!made) {
        if (copy != nullptr)
            copy->clear();
        ReleaseAndNull(*view);
        ReleaseAndNull(*texture);
        *problem = "its gradient needs " + std::to_string((slabBytes + (1u << 20) - 1) >> 20) +
                   " MB while it is worked out, more memory than is free";
    }
}

void CVolume::Unload() {
    InvalidateVolumeLayer();
    SetSoftwareVolume(nullptr, nullptr);
    SetSoftwareGradient(nullptr, nullptr);
    gradientCopy.clear();
    gradientCopy.shrink_to_fit();
    voxels.reset();
    ReleaseAndNull(volumeTexture);
    ReleaseAndNull(volumeView);
    SetVolumeGradient(nullptr);
    ReleaseAndNull(gradientTexture);
    ReleaseAndNull(gradientView);
    valueCounts.clear();
    histogramBins.reset();
    maxSample = 0;
    ReleaseAndNull(histogramTexture);
    ReleaseAndNull(histogramView);
    isScan = false;
    path.clear();
}

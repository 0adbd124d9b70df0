#include "volume/volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/shell/shell.h"
#include "render/renderer.h"
#include "volume/scan_import.h"

namespace {

constexpr const char* kVolumeCaption = "error: Volume";

void ShowVolumeError(const std::string& text, const char* caption = kVolumeCaption) {
    shell::MessageBox(nullptr, text.c_str(), caption, shell::MB_OK);
}

// Reads exactly `size` bytes unless the file ends or fails first; one read
// may deliver less than asked.
bool ReadFully(int fd, void* buffer, uint64_t size) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, 1u << 30));
        const ssize_t got = ::read(fd, out, chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<uint64_t>(got);
    }
    return true;
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

}  // namespace

VolumeHeader ReadVolumeHeader(const uint8_t* b) {
    VolumeHeader h;
    h.dimX = static_cast<uint16_t>(b[0] | b[1] << 8);
    h.dimY = static_cast<uint16_t>(b[2] | b[3] << 8);
    h.dimZ = static_cast<uint16_t>(b[4] | b[5] << 8);
    return h;
}

std::string CheckVolumeFile(const VolumeHeader& header, uint64_t fileSize) {
    const uint64_t samples = uint64_t{header.dimX} * header.dimY * header.dimZ;
    if (samples * 2 > UINT32_MAX) {
        return "Volume too large: " + std::to_string(header.dimX) + " x " + std::to_string(header.dimY) +
               " x " + std::to_string(header.dimZ) + " samples do not fit in 4 GB";
    }
    if (fileSize < kVolumeHeaderBytes + samples * 2) {
        return "Volume file is shorter than its header says: " + std::to_string(header.dimX) + " x " +
               std::to_string(header.dimY) + " x " + std::to_string(header.dimZ) + " samples need " +
               std::to_string(kVolumeHeaderBytes + samples * 2) + " bytes, the file has " +
               std::to_string(fileSize);
    }
    return {};
}

void ShiftSamples(uint16_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        samples[i] = static_cast<uint16_t>(samples[i] << 4);
}

void ShiftSamplesCountingValues(uint16_t* samples, uint32_t count, uint32_t* valueCounts) {
    // Neighbouring samples mostly share a value, so four interleaved tables
    // keep each increment from waiting for the one before.
    std::vector<uint32_t> partial(size_t{kSampleValues} * 4, 0);
    uint32_t* p0 = partial.data();
    uint32_t* p1 = p0 + kSampleValues;
    uint32_t* p2 = p1 + kSampleValues;
    uint32_t* p3 = p2 + kSampleValues;
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const uint32_t v0 = samples[i] & 0x0FFFu, v1 = samples[i + 1] & 0x0FFFu;
        const uint32_t v2 = samples[i + 2] & 0x0FFFu, v3 = samples[i + 3] & 0x0FFFu;
        ++p0[v0];
        ++p1[v1];
        ++p2[v2];
        ++p3[v3];
        samples[i] = static_cast<uint16_t>(v0 << 4);
        samples[i + 1] = static_cast<uint16_t>(v1 << 4);
        samples[i + 2] = static_cast<uint16_t>(v2 << 4);
        samples[i + 3] = static_cast<uint16_t>(v3 << 4);
    }
    for (; i < count; ++i) {
        const uint32_t v = samples[i] & 0x0FFFu;
        ++p0[v];
        samples[i] = static_cast<uint16_t>(v << 4);
    }
    for (uint32_t v = 0; v < kSampleValues; ++v)
        valueCounts[v] = p0[v] + p1[v] + p2[v] + p3[v];
}

bool FitSamplesToTwelveBits(uint16_t* samples, uint32_t count, uint16_t* low, uint16_t* high) {
    uint16_t lo = count ? samples[0] : 0, hi = lo;
    for (uint32_t i = 0; i < count; ++i) {
        lo = std::min(lo, samples[i]);
        hi = std::max(hi, samples[i]);
    }
    *low = lo;
    *high = hi;
    if (hi <= 0x0FFF)
        return false;
    // A constant file maps to 0, as a constant scan does.
    std::vector<uint16_t> table(size_t{hi} + 1, 0);
    const double scale = hi > lo ? 4095.0 / (hi - lo) : 0.0;
    for (uint32_t v = lo; v <= hi; ++v)
        table[v] = static_cast<uint16_t>((v - lo) * scale + 0.5);
    for (uint32_t i = 0; i < count; ++i)
        samples[i] = table[samples[i]];
    return true;
}

void ReductionFactors(const uint32_t dims[3], uint32_t limit, uint32_t factors[3]) {
    for (int axis = 0; axis < 3; ++axis)
        factors[axis] = (limit == 0 || dims[axis] <= limit) ? 1 : (dims[axis] + limit - 1) / limit;
}

std::unique_ptr<uint16_t[]> BoxAverage(const uint16_t* samples, const uint32_t dims[3],
                                       const uint32_t factors[3], uint32_t reducedDims[3]) {
    for (int axis = 0; axis < 3; ++axis)
        reducedDims[axis] = (dims[axis] + factors[axis] - 1) / factors[axis];
    const size_t count = size_t{reducedDims[0]} * reducedDims[1] * reducedDims[2];
    std::unique_ptr<uint16_t[]> reduced(new (std::nothrow) uint16_t[count > 0 ? count : 1]);
    if (!reduced)
        return reduced;
    const size_t rowPitch = dims[0], slicePitch = size_t{dims[0]} * dims[1];
    size_t out = 0;
    for (uint32_t z = 0; z < reducedDims[2]; ++z) {
        const uint32_t z0 = z * factors[2], z1 = std::min(dims[2], z0 + factors[2]);
        for (uint32_t y = 0; y < reducedDims[1]; ++y) {
            const uint32_t y0 = y * factors[1], y1 = std::min(dims[1], y0 + factors[1]);
            for (uint32_t x = 0; x < reducedDims[0]; ++x) {
                const uint32_t x0 = x * factors[0], x1 = std::min(dims[0], x0 + factors[0]);
                uint64_t sum = 0;
                for (uint32_t k = z0; k < z1; ++k)
                    for (uint32_t j = y0; j < y1; ++j) {
                        const uint16_t* row = samples + k * slicePitch + j * rowPitch;
                        for (uint32_t i = x0; i < x1; ++i)
                            sum += row[i] & 0x0FFFu;
                    }
                const uint64_t n = uint64_t{x1 - x0} * (y1 - y0) * (z1 - z0);
                reduced[out++] = static_cast<uint16_t>((sum + n / 2) / n);
            }
        }
    }
    return reduced;
}

bool IsExactVolumeFile(const VolumeHeader& header, uint64_t fileSize) {
    return fileSize == kVolumeHeaderBytes + uint64_t{2} * header.dimX * header.dimY * header.dimZ;
}

CVolume::~CVolume() {
    Unload();
}

bool CVolume::Load(const char* path) {
    // Everything that can go wrong with the file is found out before the
    // current volume is let go.
    struct stat pathInfo {};
    if (::stat(path, &pathInfo) == 0 && S_ISDIR(pathInfo.st_mode) && IsScanFile(path))
        return LoadScan(path);  // a DICOM series' folder
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
    if (regular && !(haveHeader && IsExactVolumeFile(header, fileSize)) && IsScanFile(path))
        return LoadScan(path);
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

bool CVolume::LoadScan(const char* path) {
    ScanVolume scan;
    std::string error;
    const bool read = ReadScan(path, &scan, &error);
    // What the readers had to say goes to the debug output, on request.
    const bool verbose = std::getenv("TAMLO_DEBUG") != nullptr;
    for (const std::string& warning : TakeScanWarnings()) {
        if (verbose)
            shell::OutputDebugString(("scan reader: " + warning + "\n").c_str());
    }
    if (!read) {
        ShowVolumeError(std::string("Unable to read scan (") + path + "): " + error);
        return false;
    }
    const uint32_t dims[3] = {scan.dimX, scan.dimY, scan.dimZ};
    const float spacing[3] = {static_cast<float>(scan.spacingX), static_cast<float>(scan.spacingY),
                              static_cast<float>(scan.spacingZ)};
    if (!Install(std::move(scan.samples), dims, spacing, path))
        return false;
    minValue = scan.minValue;
    maxValue = scan.maxValue;
    return true;
}

bool CVolume::Install(std::unique_ptr<uint16_t[]> samples, const uint32_t dims[3], const float spacing[3],
                      const char* path) {
    InvalidateVolumeLayer();
    uint32_t factors[3] = {1, 1, 1};
    uint32_t finalDims[3] = {dims[0], dims[1], dims[2]};
    float finalSpacing[3] = {spacing[0], spacing[1], spacing[2]};
    const uint32_t limit = Renderer.device != nullptr ? Renderer.device->MaxTexture3DSize() : 0;
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
    std::vector<uint32_t> counts(kSampleValues, 0);
    ShiftSamplesCountingValues(samples.get(), count, counts.data());

    // All or nothing: the new texture and view are made before anything of
    // the shown volume is let go, so a failure leaves it shown and usable.
    gpu::Texture3DDesc desc;
    desc.Width = finalDims[0];
    desc.Height = finalDims[1];
    desc.Depth = finalDims[2];
    desc.MipLevels = 1;
    desc.Format = gpu::Format::R16_UNORM;
    desc.Usage = gpu::Usage::DEFAULT;
    desc.BindFlags = gpu::BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = 0;
    desc.MiscFlags = 0;
    gpu::SubresourceData init;
    init.pSysMem = samples.get();
    init.SysMemPitch = 2 * finalDims[0];
    // In 64 bits: a slice of two 16-bit edges can pass 2^31 bytes.
    init.SysMemSlicePitch = static_cast<uint32_t>(uint64_t{2} * finalDims[0] * finalDims[1]);
    gpu::Texture3D* texture = nullptr;
    if (Renderer.device == nullptr || gpu::FAILED(Renderer.device->CreateTexture3D(&desc, &init, &texture))) {
        ShowVolumeError("CreateTexture failed");
        return false;
    }
    gpu::ShaderResourceViewDesc viewDesc;
    viewDesc.Format = gpu::Format::R16_UNORM;
    viewDesc.ViewDimension = gpu::SrvDimension::TEXTURE3D;
    viewDesc.Texture3D.MostDetailedMip = 0;
    viewDesc.Texture3D.MipLevels = 1;
    gpu::ShaderResourceView* view = nullptr;
    if (gpu::FAILED(Renderer.device->CreateShaderResourceView(texture, &viewDesc, &view))) {
        ReleaseAndNull(texture);
        ShowVolumeError("CreateShaderResourceView failed", "error: CVolume");
        return false;
    }

    Unload();
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
    Renderer.volumeBricks = MeasureBricks(samples.get(), finalDims);
    voxels = samples.release();
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
    return true;
}

void CVolume::Unload() {
    InvalidateVolumeLayer();
    delete[] voxels;
    voxels = nullptr;
    ReleaseAndNull(volumeTexture);
    ReleaseAndNull(volumeView);
    Renderer.volumeBricks = VolumeBricks{};
    valueCounts.clear();
    delete[] histogramBins;
    histogramBins = nullptr;
    maxSample = 0;
    ReleaseAndNull(histogramTexture);
    ReleaseAndNull(histogramView);
}

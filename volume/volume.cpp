#include "volume/volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/shell/shell.h"
#include "render/renderer.h"

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

CVolume::~CVolume() {
    Unload();
}

bool CVolume::Load(const char* path) {
    // Everything that can go wrong with the file is found out before the
    // current volume is let go.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ShowVolumeError(std::string("Unable to open volume file (") + path + "): " + std::strerror(errno));
        return false;
    }
    FileCloser closer(fd);
    struct stat info {};
    uint8_t headerBytes[kVolumeHeaderBytes];
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !ReadFully(fd, headerBytes, kVolumeHeaderBytes)) {
        ShowVolumeError(std::string("Unable to read volume file (") + path +
                        "): it is not a volume file or is shorter than its 6-byte header");
        return false;
    }
    const VolumeHeader header = ReadVolumeHeader(headerBytes);
    const std::string problem = CheckVolumeFile(header, static_cast<uint64_t>(info.st_size));
    if (!problem.empty()) {
        ShowVolumeError(problem + " (" + path + ")");
        return false;
    }
    // The device's largest 3D texture edge is known before anything is read:
    // a volume past it is refused with its size, and the shown one stays.
    if (Renderer.device != nullptr) {
        const uint32_t limit = Renderer.device->MaxTexture3DSize();
        if (header.dimX > limit || header.dimY > limit || header.dimZ > limit) {
            ShowVolumeError("Volume too large for the GPU: " + std::to_string(header.dimX) + " x " +
                            std::to_string(header.dimY) + " x " + std::to_string(header.dimZ) +
                            " samples, the largest 3D texture edge is " + std::to_string(limit) + " (" +
                            path + ")");
            return false;
        }
    }
    const uint32_t count = static_cast<uint32_t>(uint32_t{header.dimX} * header.dimY * header.dimZ);
    uint16_t* samples = new (std::nothrow) uint16_t[count > 0 ? count : 1];
    if (samples == nullptr) {
        ShowVolumeError(std::string("Not enough memory for the volume's samples (") + path + ")");
        return false;
    }
    errno = 0;
    if (!ReadFully(fd, samples, uint64_t{count} * 2)) {
        delete[] samples;
        ShowVolumeError(std::string("Unable to read volume file (") + path +
                        "): " + (errno ? std::strerror(errno) : "the file ended early"));
        return false;
    }

    if (voxels != nullptr || volumeTexture != nullptr || volumeView != nullptr)
        Unload();

    dimX = header.dimX;
    dimY = header.dimY;
    dimZ = header.dimZ;
    const float maxDim = static_cast<float>(std::max({dimX, dimY, dimZ}));
    extentX = static_cast<float>(dimX) / maxDim;
    extentY = static_cast<float>(dimY) / maxDim;
    extentZ = static_cast<float>(dimZ) / maxDim;
    halfExtentX = extentX * 0.5f;
    halfExtentY = extentY * 0.5f;
    halfExtentZ = extentZ * 0.5f;
    voxelCount = count;
    voxels = samples;
    ShiftSamples(voxels, voxelCount);

    gpu::Texture3DDesc desc;
    desc.Width = static_cast<uint32_t>(dimX);
    desc.Height = static_cast<uint32_t>(dimY);
    desc.Depth = static_cast<uint32_t>(dimZ);
    desc.MipLevels = 1;
    desc.Format = gpu::Format::R16_UNORM;
    desc.Usage = gpu::Usage::DEFAULT;
    desc.BindFlags = gpu::BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = 0;
    desc.MiscFlags = 0;
    gpu::SubresourceData init;
    init.pSysMem = voxels;
    init.SysMemPitch = static_cast<uint32_t>(2 * dimX);
    // In 64 bits: a slice of two 16-bit edges can pass 2^31 bytes.
    init.SysMemSlicePitch =
        static_cast<uint32_t>(uint64_t{2} * static_cast<uint32_t>(dimX) * static_cast<uint32_t>(dimY));
    if (Renderer.device == nullptr ||
        gpu::FAILED(Renderer.device->CreateTexture3D(&desc, &init, &volumeTexture))) {
        ShowVolumeError("CreateTexture failed");
        delete[] voxels;
        voxels = nullptr;
        return false;
    }

    gpu::ShaderResourceViewDesc viewDesc;
    viewDesc.Format = gpu::Format::R16_UNORM;
    viewDesc.ViewDimension = gpu::SrvDimension::TEXTURE3D;
    viewDesc.Texture3D.MostDetailedMip = 0;
    viewDesc.Texture3D.MipLevels = 1;
    if (gpu::FAILED(Renderer.device->CreateShaderResourceView(volumeTexture, &viewDesc, &volumeView))) {
        ShowVolumeError("CreateShaderResourceView failed", "error: CVolume");
        return false;
    }
    return true;
}

void CVolume::Unload() {
    delete[] voxels;
    voxels = nullptr;
    ReleaseAndNull(volumeTexture);
    ReleaseAndNull(volumeView);
    delete[] histogramBins;
    histogramBins = nullptr;
    maxSample = 0;
    ReleaseAndNull(histogramTexture);
    ReleaseAndNull(histogramView);
}

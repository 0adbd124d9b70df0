// DDS reading and writing for uncompressed 32-bit images.
//
// Sections: file layout · parsing · writing · texture creation.
#include <cstring>

#include "platform/d3dx/d3dx.h"
#include "platform/d3dx/file_bytes.h"

namespace d3dx {
namespace {

// ---------------------------------------------------------------------------
// File layout: "DDS ", a 124-byte header holding a 32-byte pixel format, then
// (when the format's FourCC is "DX10") a 20-byte extension, then the pixels.

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

constexpr uint32_t kMagic = FourCC('D', 'D', 'S', ' ');
constexpr uint32_t kFourCCDx10 = FourCC('D', 'X', '1', '0');
constexpr size_t kHeaderSize = 124;
constexpr size_t kPixelFormatSize = 32;
constexpr size_t kDx10HeaderSize = 20;
constexpr uint32_t kMaxDimension = 16384;

// Byte offsets inside the header (after the magic).
constexpr size_t kOffSize = 0, kOffFlags = 4, kOffHeight = 8, kOffWidth = 12, kOffPitch = 16, kOffDepth = 20,
                 kOffMipCount = 24, kOffPixelFormat = 72, kOffCaps = 104, kOffCaps2 = 108;
// ... inside the pixel format.
constexpr size_t kOffPfSize = 0, kOffPfFlags = 4, kOffPfFourCC = 8, kOffPfBitCount = 12, kOffPfMasks = 16;

constexpr uint32_t kFlagCaps = 0x1, kFlagHeight = 0x2, kFlagWidth = 0x4, kFlagPitch = 0x8,
                   kFlagPixelFormat = 0x1000, kFlagDepth = 0x800000;
constexpr uint32_t kPfAlphaPixels = 0x1, kPfFourCC = 0x4, kPfRgb = 0x40;
constexpr uint32_t kCapsTexture = 0x1000;
constexpr uint32_t kCaps2Cubemap = 0x200, kCaps2Volume = 0x200000;

constexpr uint32_t kDxgiR8G8B8A8Unorm = 28, kDxgiB8G8R8A8Unorm = 87;
constexpr uint32_t kDimensionTexture2D = 3;
constexpr uint32_t kMiscTextureCube = 0x4;

struct Masks {
    uint32_t r, g, b, a;
};
constexpr Masks kRgbaMasks = {0x000000ffu, 0x0000ff00u, 0x00ff0000u, 0xff000000u};
constexpr Masks kBgraMasks = {0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0xff000000u};

uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool Fail(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
    return false;
}

std::string FourCCText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(code >> (8 * i));
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parsing

bool ParseDds(const uint8_t* data, size_t size, DdsImage* image, std::string* error) {
    if (data == nullptr || image == nullptr)
        return Fail(error, "DDS: no data");
    if (size < 4 + kHeaderSize)
        return Fail(error, "DDS: truncated header (" + std::to_string(size) + " bytes)");
    if (Get32(data) != kMagic)
        return Fail(error, "DDS: not a DDS file (wrong magic)");
    const uint8_t* h = data + 4;
    const uint8_t* pf = h + kOffPixelFormat;
    if (Get32(h + kOffSize) != kHeaderSize || Get32(pf + kOffPfSize) != kPixelFormatSize)
        return Fail(error, "DDS: header or pixel format size field is wrong");

    const uint32_t flags = Get32(h + kOffFlags);
    const uint32_t width = Get32(h + kOffWidth), height = Get32(h + kOffHeight);
    const uint32_t caps2 = Get32(h + kOffCaps2);
    if ((caps2 & kCaps2Cubemap) != 0)
        return Fail(error, "DDS: cube maps are not supported");
    if ((caps2 & kCaps2Volume) != 0 || ((flags & kFlagDepth) != 0 && Get32(h + kOffDepth) > 1))
        return Fail(error, "DDS: volume textures are not supported");
    if (width == 0 || height == 0)
        return Fail(error, "DDS: zero width or height");
    if (width > kMaxDimension || height > kMaxDimension)
        return Fail(error, "DDS: " + std::to_string(width) + " x " + std::to_string(height) + " exceeds " +
                               std::to_string(kMaxDimension));

    size_t pixelOffset = 4 + kHeaderSize;
    gpu::Format format = gpu::Format::UNKNOWN;
    const uint32_t pfFlags = Get32(pf + kOffPfFlags);
    if ((pfFlags & kPfFourCC) != 0 && Get32(pf + kOffPfFourCC) == kFourCCDx10) {
        if (size < pixelOffset + kDx10HeaderSize)
            return Fail(error, "DDS: truncated DX10 header");
        const uint8_t* x = data + pixelOffset;
        pixelOffset += kDx10HeaderSize;
        const uint32_t dxgi = Get32(x), dimension = Get32(x + 4), misc = Get32(x + 8),
                       arraySize = Get32(x + 12);
        if (dxgi == kDxgiR8G8B8A8Unorm) {
            format = gpu::Format::R8G8B8A8_UNORM;
        } else if (dxgi == kDxgiB8G8R8A8Unorm) {
            format = gpu::Format::B8G8R8A8_UNORM;
        } else {
            return Fail(error, "DDS: DXGI format " + std::to_string(dxgi) +
                                   " is not supported (only R8G8B8A8_UNORM and B8G8R8A8_UNORM)");
        }
        if (dimension != kDimensionTexture2D)
            return Fail(error, "DDS: the DX10 resource is not a 2D texture");
        if ((misc & kMiscTextureCube) != 0)
            return Fail(error, "DDS: cube maps are not supported");
        if (arraySize != 1)
            return Fail(error, "DDS: texture arrays are not supported");
    } else if ((pfFlags & kPfFourCC) != 0) {
        return Fail(error, "DDS: compressed or FourCC format '" + FourCCText(Get32(pf + kOffPfFourCC)) +
                               "' is not supported");
    } else {
        const uint32_t bits = Get32(pf + kOffPfBitCount);
        if ((pfFlags & (kPfRgb | kPfAlphaPixels)) != (kPfRgb | kPfAlphaPixels) || bits != 32)
            return Fail(error, "DDS: only 32-bit RGB formats with alpha are supported (this one has " +
                                   std::to_string(bits) + " bits per pixel)");
        const uint8_t* m = pf + kOffPfMasks;
        const Masks masks = {Get32(m), Get32(m + 4), Get32(m + 8), Get32(m + 12)};
        auto same = [&](const Masks& k) {
            return masks.r == k.r && masks.g == k.g && masks.b == k.b && masks.a == k.a;
        };
        if (same(kRgbaMasks)) {
            format = gpu::Format::R8G8B8A8_UNORM;
        } else if (same(kBgraMasks)) {
            format = gpu::Format::B8G8R8A8_UNORM;
        } else {
            return Fail(error, "DDS: 32-bit channel masks are neither RGBA nor BGRA");
        }
    }

    // Rows are tightly packed in an uncompressed file; a pitch that says
    // otherwise means the header does not describe the data.
    const size_t rowBytes = size_t(width) * 4;
    if ((flags & kFlagPitch) != 0 && Get32(h + kOffPitch) != rowBytes)
        return Fail(error, "DDS: pitch " + std::to_string(Get32(h + kOffPitch)) + " does not match width " +
                               std::to_string(width));
    const size_t imageBytes = rowBytes * height;  // at most 16384^2 * 4, fits size_t
    if (size - pixelOffset < imageBytes)
        return Fail(error, "DDS: truncated pixel data (" + std::to_string(size - pixelOffset) + " of " +
                               std::to_string(imageBytes) + " bytes)");

    image->width = width;
    image->height = height;
    image->format = format;
    image->pixels.assign(data + pixelOffset, data + pixelOffset + imageBytes);
    return true;
}

// ---------------------------------------------------------------------------
// Writing

std::vector<uint8_t> WriteDds(const DdsImage& image) {
    const Masks* masks = image.format == gpu::Format::R8G8B8A8_UNORM   ? &kRgbaMasks
                         : image.format == gpu::Format::B8G8R8A8_UNORM ? &kBgraMasks
                                                                       : nullptr;
    if (masks == nullptr || image.width == 0 || image.height == 0 || image.width > kMaxDimension ||
        image.height > kMaxDimension || image.pixels.size() != size_t(image.width) * image.height * 4)
        return {};

    std::vector<uint8_t> out(4 + kHeaderSize, 0);
    Put32(out.data(), kMagic);
    uint8_t* h = out.data() + 4;
    Put32(h + kOffSize, kHeaderSize);
    Put32(h + kOffFlags, kFlagCaps | kFlagHeight | kFlagWidth | kFlagPitch | kFlagPixelFormat);
    Put32(h + kOffHeight, image.height);
    Put32(h + kOffWidth, image.width);
    Put32(h + kOffPitch, image.width * 4);
    Put32(h + kOffMipCount, 1);
    uint8_t* pf = h + kOffPixelFormat;
    Put32(pf + kOffPfSize, kPixelFormatSize);
    Put32(pf + kOffPfFlags, kPfRgb | kPfAlphaPixels);
    Put32(pf + kOffPfBitCount, 32);
    Put32(pf + kOffPfMasks, masks->r);
    Put32(pf + kOffPfMasks + 4, masks->g);
    Put32(pf + kOffPfMasks + 8, masks->b);
    Put32(pf + kOffPfMasks + 12, masks->a);
    Put32(h + kOffCaps, kCapsTexture);
    out.insert(out.end(), image.pixels.begin(), image.pixels.end());
    return out;
}

// ---------------------------------------------------------------------------
// Texture creation

HRESULT CreateShaderResourceViewFromFile(gpu::Device* device, const char* path,
                                         gpu::ShaderResourceView** view, std::string* error) {
    if (view != nullptr)
        *view = nullptr;
    if (device == nullptr || path == nullptr || view == nullptr) {
        if (error)
            *error = "CreateShaderResourceViewFromFile: null argument";
        return gpu::E_INVALIDARG;
    }
    std::vector<uint8_t> bytes;
    std::string text;
    HRESULT hr = internal::ReadFileBytes(path, &bytes, &text);
    DdsImage image;
    if (gpu::SUCCEEDED(hr) && !ParseDds(bytes.data(), bytes.size(), &image, &text)) {
        text = std::string(path) + ": " + text;
        hr = gpu::E_FAIL;
    }
    if (gpu::FAILED(hr)) {
        if (error)
            *error = text;
        return hr;
    }

    gpu::Texture2DDesc desc;
    desc.Width = image.width;
    desc.Height = image.height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = image.format;
    desc.BindFlags = gpu::BIND_SHADER_RESOURCE;
    gpu::SubresourceData initial;
    initial.pSysMem = image.pixels.data();
    initial.SysMemPitch = image.width * 4;
    initial.SysMemSlicePitch = image.width * image.height * 4;
    gpu::Texture2D* texture = nullptr;
    hr = device->CreateTexture2D(&desc, &initial, &texture);
    if (gpu::FAILED(hr)) {
        if (error)
            *error = std::string(path) + ": CreateTexture2D failed";
        return hr;
    }
    hr = device->CreateShaderResourceView(texture, nullptr, view);
    // The view holds its own reference to the texture.
    texture->Release();
    if (gpu::FAILED(hr)) {
        *view = nullptr;
        if (error)
            *error = std::string(path) + ": CreateShaderResourceView failed";
    }
    return hr;
}

}  // namespace d3dx

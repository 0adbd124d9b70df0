// Run-time HLSL compilation and texture-file loading, shaped like D3DX11.
//
// CompileFromFile translates one entry point of an HLSL shader-model-5 file
// to GLSL 450 (shaderc to SPIR-V, SPIRV-Cross to GLSL) and returns it, with its
// reflection, as gpu shader bytecode (platform/gpu/shader_bytecode.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"

namespace d3dx {

using gpu::HRESULT;

// profile: "vs_5_0" or "ps_5_0". On failure *errorMessages (when asked for)
// receives the compiler's text ("file:line: error: ..."), or a text of ours for
// a file that cannot be read (E_NOTFOUND when it is not there) or a shader the
// GL side cannot express; on success any warnings. The text is NUL-terminated.
// Both out-blobs are null when not produced.
HRESULT CompileFromFile(const char* path, const char* entryPoint, const char* profile, gpu::Blob** shader,
                        gpu::Blob** errorMessages);

// The same from source held in memory; sourceName appears in messages.
HRESULT CompileFromMemory(const char* source, size_t length, const char* sourceName, const char* entryPoint,
                          const char* profile, gpu::Blob** shader, gpu::Blob** errorMessages);

// A 2D texture (one mip level, shader resource) and its view from a DDS file.
// E_NOTFOUND for a missing file, E_FAIL for one that cannot be read or parsed,
// else the device's failure; *error (when given) then says why in one line.
HRESULT CreateShaderResourceViewFromFile(gpu::Device* device, const char* path,
                                         gpu::ShaderResourceView** view, std::string* error = nullptr);

// ---------------------------------------------------------------------------
// DDS, as plain data (no device): uncompressed 32-bit RGBA or BGRA, legacy or
// DX10 header. Only the top mip level of the first image is kept.

struct DdsImage {
    uint32_t width = 0;
    uint32_t height = 0;
    gpu::Format format = gpu::Format::UNKNOWN;  // R8G8B8A8_UNORM or B8G8R8A8_UNORM
    std::vector<uint8_t> pixels;                // width * height * 4 bytes, rows top to bottom
};

// Refuses (false, with a one-line reason) anything else, a truncated file and
// sizes that do not add up; never reads outside [data, data + size).
bool ParseDds(const uint8_t* data, size_t size, DdsImage* image, std::string* error);

// Writes a legacy-header, 32-bit DDS of the image (for our atlas maker).
std::vector<uint8_t> WriteDds(const DdsImage& image);

}  // namespace d3dx

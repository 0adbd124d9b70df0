// Whole-file reads shared by the shader compiler and the texture loader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"

namespace d3dx::internal {

// S_OK with the file's bytes; E_NOTFOUND for a file that is not there and
// E_FAIL for any other failure, each with "cannot read 'path': reason".
gpu::HRESULT ReadFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error);

}  // namespace d3dx::internal

#include "platform/d3dx/file_bytes.h"

#include <unistd.h>

#include <cerrno>

#include "platform/files/file_read.h"

namespace d3dx::internal {

gpu::HRESULT ReadFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
    // Shaders and textures: a few megabytes; anything near this is no asset.
    constexpr uint64_t kMaxAssetBytes = uint64_t{1} << 30;
    std::string why;
    if (ReadWholeFile(path, kMaxAssetBytes, "it is too large", bytes, &why))
        return gpu::S_OK;
    *error = std::string("cannot read '") + path + "': " + why;
    bytes->clear();
    const bool missing = ::access(path, F_OK) != 0 && errno == ENOENT;
    return missing ? gpu::E_NOTFOUND : gpu::E_FAIL;
}

}  // namespace d3dx::internal

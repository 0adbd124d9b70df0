#include "platform/d3dx/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace d3dx::internal {

gpu::HRESULT ReadFileBytes(const char* path, std::vector<uint8_t>* bytes, std::string* error) {
    bytes->clear();
    auto fail = [&](int err) {
        *error = std::string("cannot read '") + path + "': " + std::strerror(err);
        bytes->clear();
        return err == ENOENT ? gpu::E_NOTFOUND : gpu::E_FAIL;
    };
    errno = 0;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return fail(errno);
    // Read in chunks rather than trusting a size from fseek/ftell, which lies
    // for pipes and is -1 for directories.
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    int err = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(file);
    if (err != 0)
        return fail(err);
    return gpu::S_OK;
}

}  // namespace d3dx::internal

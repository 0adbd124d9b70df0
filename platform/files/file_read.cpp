#include "platform/files/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Reads until `size` bytes have come, the file ends or a read fails; returns
// how many came.
uint64_t ReadUpTo(int fd, uint8_t* out, uint64_t size) {
    uint64_t done = 0;
    while (done < size) {
        // One read of more than 2 GB is refused by some systems.
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size - done, 1u << 30));
        const ssize_t got = ::read(fd, out + done, chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<uint64_t>(got);
    }
    return done;
}

}  // namespace

bool ReadFully(int fd, void* buffer, uint64_t size) {
    return ReadUpTo(fd, static_cast<uint8_t*>(buffer), size) == size;
}

bool WriteFully(int fd, const void* data, uint64_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        // As for reads: no single write of more than 1 GB.
        const ssize_t put = ::write(fd, p, static_cast<size_t>(std::min<uint64_t>(size, uint64_t{1} << 30)));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        p += put;
        size -= static_cast<uint64_t>(put);
    }
    return true;
}

bool ReadWholeFile(const char* path, uint64_t maxBytes, const char* tooLarge, std::vector<uint8_t>* bytes,
                   std::string* why) {
    bytes->clear();
    // Non-blocking: opening a FIFO would otherwise wait for a writer. A
    // regular file reads the same either way.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok) {
        *why = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *why = "it is not a regular file";
        ok = false;
    } else if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        *why = tooLarge;
        ok = false;
    } else {
        bytes->resize(static_cast<size_t>(info.st_size));
        bytes->resize(static_cast<size_t>(ReadUpTo(fd, bytes->data(), bytes->size())));
    }
    ::close(fd);
    return ok;
}

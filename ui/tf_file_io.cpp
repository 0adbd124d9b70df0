#include "ui/tf_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/files/file_read.h"

bool ReplaceFileAtomically(const std::string& chosen, const std::vector<uint8_t>& bytes, std::string* why) {
    // Through a link, the file it names is replaced and the link stays.
    std::string path = chosen;
    struct stat linkInfo {};
    if (::lstat(chosen.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::weakly_canonical(chosen, ec);
        if (ec) {
            *why = ec.message();
            return false;
        }
        path = target.string();
    }
    struct stat existing {};
    mode_t mode;
    if (::stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            *why = "a folder of that name exists";
            return false;
        }
        // A device, a pipe or a socket is never turned into a plain file.
        if (!S_ISREG(existing.st_mode)) {
            *why = "it is not a regular file";
            return false;
        }
        // Root may write anything; a file nobody may write is still kept.
        if ((existing.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
            *why = "the file is read-only";
            return false;
        }
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    temp.assign(name.data());
    bool ok = WriteFully(fd, bytes.data(), bytes.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (!ok)
        *why = std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        *why = std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        *why = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool ReadTransferFunctionFile(const char* path, std::vector<ControlPoint>* points, std::string* message) {
    std::vector<uint8_t> bytes;
    std::string why;
    // Files beyond 64 MB are no transfer function (that is over three million points).
    if (!ReadWholeFile(path, uint64_t{64} << 20, "it is far too large for a transfer function", &bytes,
                       &why)) {
        *message = std::string("Unable to read transfer function (") + path + "): " + why;
        return false;
    }
    if (!ParseTransferFunction(bytes.data(), bytes.size(), points, &why)) {
        *message = std::string("Not a transfer function (") + path + "): " + why;
        return false;
    }
    return true;
}

#include "platform/files/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/files/file_read.h"

namespace {

// The file a name leads to: through links, the file they name, so that the
// link itself stays. False with the reason for a link that cannot be followed.
bool FollowLinks(const std::string& chosen, std::string* path, std::string* why) {
    *path = chosen;
    struct stat linkInfo {};
    if (::lstat(chosen.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode))
        return true;
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::weakly_canonical(chosen, ec);
    if (ec) {
        *why = ec.message();
        return false;
    }
    *path = target.string();
    return true;
}

// Empty or the reason; `mode` is what the new file gets.
std::string CheckFollowed(const std::string& path, mode_t* mode) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) != 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        *mode = 0666 & ~mask;
        return {};
    }
    if (S_ISDIR(existing.st_mode))
        return "a folder of that name exists";
    // A device, a pipe or a socket is never turned into a plain file.
    if (!S_ISREG(existing.st_mode))
        return "it is not a regular file";
    // Root may write anything; a file nobody may write is still kept.
    if ((existing.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
        return "the file is read-only";
    *mode = existing.st_mode & 07777;
    return {};
}

}  // namespace

std::string CheckReplaceable(const std::string& chosen) {
    std::string path, why;
    if (!FollowLinks(chosen, &path, &why))
        return why;
    mode_t mode = 0;
    return CheckFollowed(path, &mode);
}

bool ReplaceFileAtomically(const std::string& chosen, std::initializer_list<FilePiece> pieces,
                           std::string* why) {
    std::string path;
    if (!FollowLinks(chosen, &path, why))
        return false;
    mode_t mode = 0;
    *why = CheckFollowed(path, &mode);
    if (!why->empty())
        return false;
    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    temp.assign(name.data());
    bool ok = true;
    for (const FilePiece& piece : pieces)
        ok = ok && WriteFully(fd, piece.data, piece.size);
    ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
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

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

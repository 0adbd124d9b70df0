// Transfer Function > Open and > Save: the ".tf" file through the file
// dialogs. A bad file changes nothing; a save replaces the old file only once
// the new one is completely on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/tab.h"

namespace {

constexpr const char* kTfFilter = "Transfer Function Files (*.tf)\0*.tf\0";
constexpr const char* kTfCaption = "CTab";

void ShowTfError(const std::string& text) {
    shell::MessageBox(nullptr, text.c_str(), kTfCaption, shell::MB_OK);
}

// The whole file, or false with errno describing why not. Files beyond 64 MB
// are no transfer function (that is over three million points).
bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes, std::string* why) {
    // Non-blocking: opening a FIFO would otherwise wait for a writer. A
    // regular file reads the same either way.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        *why = "it is not a regular file";
        ok = false;
    } else if (ok && info.st_size > (64 << 20)) {
        *why = "it is far too large for a transfer function";
        ok = false;
    }
    if (ok) {
        bytes->resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < bytes->size()) {
            const ssize_t got = ::read(fd, bytes->data() + done, bytes->size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        bytes->resize(done);
    } else if (why->empty()) {
        *why = std::strerror(errno);
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// Writes beside the target, flushes, then renames over it: the old file stays
// whole until the new one is complete. New files get the usual permissions
// (0666 less the umask); an existing file keeps its own.
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
    bool ok = WriteAll(fd, bytes.data(), bytes.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
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

}  // namespace

bool ReadTransferFunctionFile(const char* path, std::vector<ControlPoint>* points, std::string* message) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!ReadWholeFile(path, &bytes, &why)) {
        *message = std::string("Unable to read transfer function (") + path + "): " + why;
        return false;
    }
    if (!ParseTransferFunction(bytes.data(), bytes.size(), points, &why)) {
        *message = std::string("Not a transfer function (") + path + "): " + why;
        return false;
    }
    return true;
}

void InstallTransferFunction(const std::vector<ControlPoint>& points) {
    EditorTab.ReplacePoints(points.data(), static_cast<uint32_t>(points.size()));
    EditorTab.GenerateColorGeometry();
    EditorTab.GenerateTransfer();
}

void LoadTransferFunction() {
    char path[4096] = {};
    shell::OPENFILENAME ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = kTfFilter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof(path);
    ofn.Flags = shell::OFN_EXPLORER | shell::OFN_FILEMUSTEXIST;
    if (!shell::GetOpenFileName(&ofn))
        return;
    OpenTransferFunctionFile(path);
}

bool OpenTransferFunctionFile(const char* path) {
    std::vector<ControlPoint> loaded;
    std::string message;
    if (!ReadTransferFunctionFile(path, &loaded, &message)) {
        ShowTfError(message);
        return false;
    }
    InstallTransferFunction(loaded);
    return true;
}

void SaveTransferFunction() {
    char path[4096] = ".tf";
    shell::OPENFILENAME ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = kTfFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof(path);
    ofn.Flags = shell::OFN_EXPLORER;
    if (!shell::GetSaveFileName(&ofn))
        return;

    const std::vector<uint8_t> bytes = SerializeTransferFunction(EditorTab.points, EditorTab.pointCount);
    std::string why;
    if (!ReplaceFileAtomically(path, bytes, &why)) {
        ShowTfError(std::string("Unable to save transfer function (") + path + "): " + why);
    }
}

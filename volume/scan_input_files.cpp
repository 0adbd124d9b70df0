#include "volume/scan_input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "volume/scan_data_files.h"

namespace {

// A DICOM file as the series reader groups them: 128 free bytes, then
// "DICM". Read here without the DICOM library, which stays in the child.
bool HasDicomPreamble(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info {};
    char magic[4] = {};
    const bool dicom = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       ::pread(fd, magic, sizeof(magic), 128) == static_cast<ssize_t>(sizeof(magic)) &&
                       std::memcmp(magic, "DICM", 4) == 0;
    ::close(fd);
    return dicom;
}

}  // namespace

ScanInputFiles::ScanInputFiles(const std::string& input) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(input, ec);
    Add(input, kItself);
    // Only a regular file has a header to read: opening a pipe would wait.
    if (fs::is_regular_file(status)) {
        for (const std::string& file : DetachedDataFiles(input))
            Add(file, "a data file the input's header names");
    }
    // The series of a DICOM file is read from its folder (not its
    // sub-folders), and a folder's from the folder itself.
    fs::path seriesFolder;
    if (fs::is_directory(status))
        seriesFolder = input;
    else if (HasDicomPreamble(input))
        seriesFolder = fs::path(input).parent_path();
    else
        return;
    for (const auto& entry : fs::directory_iterator(seriesFolder.empty() ? "." : seriesFolder, ec)) {
        if (HasDicomPreamble(entry.path().string()))
            Add(entry.path().string(), "a DICOM file of the input's series folder");
    }
}

void ScanInputFiles::Add(const std::string& path, const char* role) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        roles_.emplace(std::make_pair(info.st_dev, info.st_ino), role);  // the first role stays
}

std::string ScanInputFiles::RoleOf(const std::string& candidate) const {
    struct stat info {};
    if (::stat(candidate.c_str(), &info) != 0)
        return {};
    const auto found = roles_.find({info.st_dev, info.st_ino});
    return found == roles_.end() ? std::string() : found->second;
}

#include "render/data_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>

namespace {

std::optional<DataFolderList>& ProgramFolders() {
    static std::optional<DataFolderList> folders;
    return folders;
}

}  // namespace

DataFolderList MakeDataFolders(const std::string& executableFolder, const std::string& buildTreeData) {
    DataFolderList folders{""};
    if (executableFolder.empty())
        return folders;
    const std::filesystem::path bin(executableFolder);
    for (const std::filesystem::path& candidate : {bin / ".." / "share" / "tamlo", bin / buildTreeData}) {
        const std::string folder = candidate.lexically_normal().string();
        // An install whose bin/ is the build tree's own would list one folder twice.
        bool listed = false;
        for (const std::string& f : folders)
            listed = listed || f == folder;
        if (!listed)
            folders.push_back(folder);
    }
    return folders;
}

std::string ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::string FindDataFile(const std::string& name, const DataFolderList& folders) {
    for (const std::string& folder : folders) {
        const std::string path = folder.empty() ? name : (std::filesystem::path(folder) / name).string();
        struct stat info {};
        // Readable and a plain file: a folder or an unreadable file of that
        // name would only fail later with a less useful message.
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0)
            return path;
    }
    return {};
}

std::string WhyNoDataFile(const std::string& name, const DataFolderList& folders) {
    for (const std::string& folder : folders) {
        const std::string path = folder.empty() ? name : (std::filesystem::path(folder) / name).string();
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        // Something of that name is there: say what is wrong with it, not
        // that it is missing.
        if (::stat(path.c_str(), &info) != 0)
            return path + " cannot be followed: " + std::strerror(errno);
        if (S_ISDIR(info.st_mode))
            return path + " is a folder";
        if (!S_ISREG(info.st_mode))
            return path + " is not a regular file (a pipe or a device)";
        return path + " cannot be read: " + std::strerror(::access(path.c_str(), R_OK) == 0 ? 0 : errno);
    }
    return "no such file in " + DescribeDataFolders(folders);
}

std::string DescribeDataFolders(const DataFolderList& folders) {
    std::string text;
    for (const std::string& folder : folders) {
        if (!text.empty())
            text += ", ";
        if (folder.empty()) {
            std::error_code ec;
            const std::filesystem::path cwd = std::filesystem::current_path(ec);
            text += (ec ? std::string(".") : cwd.string()) + " (the working folder)";
        } else {
            text += folder;
        }
    }
    return text;
}

const DataFolderList& ProgramDataFolders() {
    std::optional<DataFolderList>& folders = ProgramFolders();
    if (!folders)
        folders = MakeDataFolders(ExecutableFolder(), "../data");
    return *folders;
}

void SetProgramDataFolders(DataFolderList folders) {
    ProgramFolders() = std::move(folders);
}

std::vector<std::string> FindPresets(const DataFolderList& folders) {
    std::vector<std::string> found;
    std::set<std::string> names;
    for (const std::string& folder : folders) {
        const std::string presets = folder.empty() ? "presets" : folder + "/presets";
        std::error_code error;
        std::vector<std::string> here;
        for (const auto& entry : std::filesystem::directory_iterator(presets, error)) {
            const std::string name = entry.path().filename().string();
            std::error_code typeError;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".tf") == 0 &&
                entry.is_regular_file(typeError))
                here.push_back(name);
        }
        std::sort(here.begin(), here.end());
        for (const std::string& name : here) {
            if (names.insert(name).second)
                found.push_back(presets + "/" + name);
        }
    }
    return found;
}

std::vector<std::string> LimitPresets(std::vector<std::string> found, size_t most) {
    if (found.size() <= most)
        return found;
    auto folderOf = [](const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); };
    size_t first = 0;
    while (first < found.size() && folderOf(found[first]) == folderOf(found.front()))
        ++first;
    const size_t later = found.size() - first;
    const size_t keepFirst = std::min(first, std::max(most - std::min(later, most / 2), most / 2));
    found.erase(found.begin() + static_cast<std::ptrdiff_t>(keepFirst),
                found.begin() + static_cast<std::ptrdiff_t>(first));
    found.resize(std::min(found.size(), most));
    return found;
}

#include "volume/scan_data_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "volume/scan_library_output.h"

namespace {

constexpr size_t kHeaderLimit = 64 << 10;
// A pattern "slice%03d.raw 1 1000 1" names at most this many files; more is
// no series anyone writes, and checking them would be the hang we avoid.
constexpr long kMostPatternFiles = 100000;

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

std::string Lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Beside(const std::string& headerPath, const std::string& name) {
    return !name.empty() && name[0] == '/' ? name : FolderOf(headerPath) + name;
}

struct Header {
    std::vector<std::string> lines;  // the whole text, line by line
    std::string kind;                // "nrrd", "meta", "nifti" or empty
};

Header ReadHeader(const std::string& path) {
    Header header;
    std::ifstream in(path, std::ios::binary);
    std::string text(kHeaderLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.rfind("NRRD000", 0) == 0) {
        header.kind = "nrrd";
    } else if (text.size() >= 348) {
        int32_t size = 0;
        std::memcpy(&size, text.data(), 4);
        // NIfTI-1 .hdr: 348 either way round, "ni1" at 344 (a .nii has "n+1").
        if ((size == 348 || size == 0x5C010000) && text.compare(344, 3, "ni1") == 0)
            header.kind = "nifti";
    }
    if (header.kind.empty() && Lowered(text).find("elementdatafile") != std::string::npos)
        header.kind = "meta";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        header.lines.push_back(line);
    return header;
}

// Whether `pattern` holds exactly one number's conversion ("%d", "%03d",
// "%4u", ...) and otherwise only text and "%%": the readers and this file
// hand it to printf with one int, so any other conversion would read or
// write memory the header chose.
bool IsNumberPattern(const std::string& pattern) {
    int numbers = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%')
            continue;
        if (++i < pattern.size() && pattern[i] == '%')
            continue;
        if (i < pattern.size() && (pattern[i] == '0' || pattern[i] == '-'))
            ++i;
        for (int digits = 0;
             digits < 2 && i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]));
             ++digits)
            ++i;
        if (i >= pattern.size() || std::strchr("diu", pattern[i]) == nullptr)
            return false;
        ++numbers;
    }
    return numbers == 1;
}

// The names a "data file" value gives: one file, "LIST" and the lines after
// it, or a printf pattern with first, last and step (one already checked
// with IsNumberPattern).
std::vector<std::string> Names(const std::string& value, const std::vector<std::string>& after) {
    std::istringstream words(value);
    std::string first;
    words >> first;
    std::vector<std::string> names;
    if (first == "LIST") {
        for (const std::string& line : after)
            if (!Trimmed(line).empty())
                names.push_back(Trimmed(line));
        return names;
    }
    long from = 0, to = 0, step = 0;
    if (first.find('%') != std::string::npos && (words >> from >> to >> step) && step != 0 &&
        (to - from) / step >= 0 && (to - from) / step < kMostPatternFiles) {
        for (long i = from; step > 0 ? i <= to : i >= to; i += step) {
            char name[4096];
            std::snprintf(name, sizeof(name), first.c_str(), static_cast<int>(i));
            names.push_back(name);
        }
        return names;
    }
    return {Trimmed(value)};
}

struct Detached {
    std::vector<std::string> files;
    long long lineSkip = 0, byteSkip = 0;
    // What the files must hold between them, where the header says it
    // plainly (raw samples): 0 when it cannot be known (compressed data).
    long double neededBytes = 0;
    size_t filesNeeded = 0;    // for a list or pattern: one file per slice (or block)
    std::string negativeSize;  // a size the readers would take as a huge unsigned one
    std::string badPattern;    // a pattern that is not IsNumberPattern's
    bool compressed = false;
};

// Bytes per value of an NRRD "type" or a MetaImage "ElementType"; 0 when
// not known.
int ValueBytes(std::string type) {
    type = Lowered(type);
    const auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
    if (has("64") || has("long long") || has("longlong") || has("long_long") || has("double"))
        return 8;
    if (has("short") || has("16"))
        return 2;
    if (has("char") || has("8"))
        return 1;
    if (has("float") || has("32") || has("int") || has("long"))
        return 4;
    return 0;
}

std::vector<long double> Numbers(const std::string& text) {
    std::istringstream in(text);
    std::vector<long double> numbers;
    for (long double n; in >> n;)
        numbers.push_back(n);
    return numbers;
}

Detached Parse(const std::string& headerPath) {
    const Header header = ReadHeader(headerPath);
    Detached found;
    if (header.kind == "nifti") {
        std::string stem = headerPath;
        if (stem.size() > 4 && Lowered(stem.substr(stem.size() - 4)) == ".hdr")
            stem.resize(stem.size() - 4);
        struct stat info {};
        const std::string gz = stem + ".img.gz";
        found.files.push_back(::lstat(gz.c_str(), &info) == 0 && ::lstat((stem + ".img").c_str(), &info) != 0
                                  ? gz
                                  : stem + ".img");
        return found;
    }
    const char separator = header.kind == "nrrd" ? ':' : '=';
    if (header.kind.empty())
        return found;
    std::vector<long double> sizes;
    long double channels = 1;
    int valueBytes = 0;
    bool raw = header.kind == "meta";
    for (size_t i = 0; i < header.lines.size(); ++i) {
        const std::string& line = header.lines[i];
        if (header.kind == "nrrd" && Trimmed(line).empty())
            break;  // the end of an attached header: the data follows
        const size_t at = line.find(separator);
        if (at == std::string::npos)
            continue;
        const std::string key = Lowered(Trimmed(line.substr(0, at)));
        const std::string value =
            Trimmed(line.substr(at + 1 + (header.kind == "nrrd" && line[at + 1] == '=')));
        if (key == "line skip" || key == "lineskip")
            found.lineSkip = std::atoll(value.c_str());
        else if (key == "byte skip" || key == "byteskip" || key == "headersize")
            found.byteSkip = std::atoll(value.c_str());
        else if (key == "sizes" || key == "dimsize")
            sizes = Numbers(value);
        else if (key == "type" || key == "elementtype")
            valueBytes = ValueBytes(value);
        else if (key == "elementnumberofchannels")
            channels = Numbers(value).empty() ? 1 : Numbers(value)[0];
        else if (key == "encoding")
            raw = Lowered(value) == "raw";
        else if (key == "compresseddata")
            found.compressed = Lowered(value) == "true";
        if ((key == "sizes" || key == "dimsize") && found.negativeSize.empty()) {
            for (long double size : sizes) {
                if (size < 0)
                    found.negativeSize = Trimmed(line.substr(0, at)) + " " + value;
            }
        }
        const bool dataKey =
            header.kind == "nrrd" ? key == "data file" || key == "datafile" : key == "elementdatafile";
        if (!dataKey)
            continue;
        if (header.kind == "meta" && value == "LOCAL")
            return found;
        // An NRRD name with first, last and step after it is a pattern; the
        // MetaImage library takes any name with a "%" for one.
        std::istringstream words(value);
        std::string pattern;
        long long first = 0, last = 0, step = 0;
        const bool numbersFollow = static_cast<bool>(words >> pattern >> first >> last >> step);
        const bool isPattern =
            (numbersFollow || header.kind == "meta") && pattern.find('%') != std::string::npos;
        if (isPattern && !IsNumberPattern(pattern)) {
            found.badPattern = pattern;
            return found;
        }
        const std::vector<std::string> after(header.lines.begin() + static_cast<long>(i) + 1,
                                             header.lines.end());
        for (const std::string& name : Names(value, after))
            found.files.push_back(Beside(headerPath, name));
        // A list or pattern holds blocks of its last number's dimensions (a
        // slice each by default): one file per block.
        const std::vector<long double> numbers =
            Numbers(value.substr(std::min(value.size(), value.find(' '))));
        const bool several = value.rfind("LIST", 0) == 0 || isPattern;
        if (several && !sizes.empty()) {
            size_t blockDims = sizes.size() - 1;
            const std::string last = numbers.empty() ? value.substr(value.rfind(' ') + 1) : "";
            if (value.rfind("LIST", 0) == 0 && !last.empty() &&
                std::isdigit(static_cast<unsigned char>(last[0])))
                blockDims = static_cast<size_t>(std::atoi(last.c_str()));
            else if (numbers.size() >= 4)
                blockDims = static_cast<size_t>(numbers[3]);
            long double blocks = 1;
            for (size_t d = std::min(blockDims, sizes.size()); d < sizes.size(); ++d)
                blocks *= sizes[d];
            if (blocks >= 1 && blocks < kMostPatternFiles)
                found.filesNeeded = static_cast<size_t>(blocks);
        }
        // MetaImage's data key is its last; what follows is data or names.
        if (header.kind == "meta")
            break;
    }
    if (raw && !found.compressed && valueBytes > 0 && !sizes.empty()) {
        found.neededBytes = valueBytes * channels;
        for (long double size : sizes)
            found.neededBytes *= size;
    }
    return found;
}

// zlib's own header (what MetaImage writes for compressed data) or gzip's.
bool StartsCompressed(const std::string& path, long long skip) {
    std::ifstream in(path, std::ios::binary);
    if (skip > 0)
        in.seekg(skip);
    unsigned char start[2] = {0, 0};
    in.read(reinterpret_cast<char*>(start), 2);
    if (in.gcount() < 2)
        return false;
    return (start[0] == 0x1f && start[1] == 0x8b) ||
           ((start[0] & 0x0f) == 8 && (start[0] * 256 + start[1]) % 31 == 0);
}

}  // namespace

std::vector<std::string> DetachedDataFiles(const std::string& headerPath) {
    return Parse(headerPath).files;
}

std::string CheckDetachedDataFiles(const std::string& headerPath) {
    const Detached detached = Parse(headerPath);
    if (!detached.negativeSize.empty())
        return "the header gives a negative size (" + detached.negativeSize + ")";
    if (!detached.badPattern.empty())
        return "its data file pattern " + detached.badPattern +
               " is not a name with one number in it (such as slice%03d.raw)";
    for (const std::string& file : detached.files) {
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0)
            return "its data file " + file + " cannot be opened: " + std::strerror(errno);
        if (S_ISDIR(info.st_mode))
            return "its data file " + file + " is a folder";
        if (!S_ISREG(info.st_mode))
            return "its data file " + file + " is not a regular file (a pipe or a device never ends)";
        const long long size = info.st_size;
        // Each skipped line takes at least one byte.
        if (detached.lineSkip > size || detached.byteSkip > size)
            return "its data file " + file + " holds " + std::to_string(size) + " bytes, fewer than the " +
                   (detached.lineSkip > size ? std::to_string(detached.lineSkip) + " lines"
                                             : std::to_string(detached.byteSkip) + " bytes") +
                   " the header skips";
    }
    return {};
}

std::string CheckDetachedDataSizes(const std::string& headerPath) {
    const Detached detached = Parse(headerPath);
    for (const std::string& file : detached.files)
        if (detached.compressed && !StartsCompressed(file, detached.byteSkip))
            return "its data file " + file + " is not compressed, though the header says it is";
    if (detached.filesNeeded > detached.files.size())
        return "the header lists " + std::to_string(detached.files.size()) + " data files, its sizes need " +
               std::to_string(detached.filesNeeded);
    if (detached.neededBytes > 0 && !detached.files.empty() && detached.lineSkip == 0) {
        const long double each = detached.neededBytes / static_cast<long double>(detached.files.size());
        for (const std::string& file : detached.files) {
            struct stat info {};
            ::stat(file.c_str(), &info);
            const long double held =
                static_cast<long double>(info.st_size) - std::max(0LL, detached.byteSkip);
            if (held < each)
                return "its data file " + file + " ends before its last sample (" + BytesText(each) +
                       " needed, " + BytesText(std::max<long double>(held, 0)) + " found)";
        }
    }
    return {};
}

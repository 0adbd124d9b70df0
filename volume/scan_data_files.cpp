#include "volume/scan_data_files.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
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
    std::vector<long long> starts;   // where each line starts in the file
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
    long long start = 0;
    for (std::string line; std::getline(lines, line); start += static_cast<long long>(line.size()) + 1) {
        header.lines.push_back(line);
        header.starts.push_back(start);
    }
    header.starts.push_back(start);  // past the last line
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

// A MetaImage pattern's words after its name (first, last, step, block
// dimensions), where given, must be whole numbers, and the step not 0.
bool MetaPatternNumbersSound(const std::string& value) {
    std::istringstream words(value);
    std::string word;
    words >> word;
    for (int index = 0; words >> word; ++index) {
        char* end = nullptr;
        errno = 0;
        const long long number = std::strtoll(word.c_str(), &end, 10);
        if (end == word.c_str() || *end != '\0' || errno != 0 || number < INT_MIN || number > INT_MAX ||
            (index == 2 && number == 0))
            return false;
    }
    return true;
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
    bool compressed = false;   // MetaImage's CompressedData, NRRD's gzip or bzip2 encoding
    bool deflated = false;     // compressed with zlib (gzip, or MetaImage's own)
    // The samples in the header's own file, from this byte on: MetaImage's
    // LOCAL, an NRRD header without a data file. -1 when they are elsewhere.
    long long ownDataStart = -1;
    long double compressedDataSize = 0;  // MetaImage's CompressedDataSize; 0 when not given
    bool text = false;                   // NRRD's ascii encoding: numbers written out
    std::string type;                    // NRRD's "type", lowered
    long double samples = 0;             // the product of the sizes
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
        if (header.kind == "nrrd" && Trimmed(line).empty()) {
            found.ownDataStart = found.files.empty() ? header.starts[i + 1] : -1;
            break;  // the end of an attached header: the data follows
        }
        const size_t at = line.find(separator);
        if (at == std::string::npos)
            continue;
        std::string key = Lowered(Trimmed(line.substr(0, at)));
        // The MetaImage library compares its keys as C strings: a NUL ends one.
        if (header.kind == "meta" && key.find('\0') != std::string::npos)
            key = Trimmed(key.substr(0, key.find('\0')));
        const std::string value =
            Trimmed(line.substr(at + 1 + (header.kind == "nrrd" && line[at + 1] == '=')));
        if (key == "line skip" || key == "lineskip")
            found.lineSkip = std::atoll(value.c_str());
        else if (key == "byte skip" || key == "byteskip" || key == "headersize")
            found.byteSkip = std::atoll(value.c_str());
        else if (key == "sizes" || key == "dimsize")
            sizes = Numbers(value);
        else if (key == "type" || key == "elementtype") {
            valueBytes = ValueBytes(value);
            found.type = Lowered(value);
        } else if (key == "elementnumberofchannels")
            channels = Numbers(value).empty() ? 1 : Numbers(value)[0];
        else if (key == "encoding") {
            raw = Lowered(value) == "raw";
            found.text = Lowered(value) == "ascii" || Lowered(value) == "text" || Lowered(value) == "txt";
            found.deflated = Lowered(value) == "gzip" || Lowered(value) == "gz";
            found.compressed = found.deflated || Lowered(value) == "bzip2" || Lowered(value) == "bz2";
        } else if (key == "compresseddata") {
            found.compressed = found.deflated = Lowered(value) == "true";
        } else if (key == "compresseddatasize") {
            found.compressedDataSize =
                Numbers(value).empty() ? 0 : std::max<long double>(Numbers(value)[0], 0);
        }
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
        if (header.kind == "meta" && value == "LOCAL") {
            found.ownDataStart = header.starts[i + 1];
            return found;
        }
        // An NRRD name with first, last and step after it is a pattern; the
        // MetaImage library takes any value with a "%" anywhere for one, and
        // reads its first, last and step as whatever numbers the words give
        // (0 for a word that is none, and it divides by the step).
        std::istringstream words(value);
        std::string pattern;
        long long first = 0, last = 0, step = 0;
        const bool numbersFollow = static_cast<bool>(words >> pattern >> first >> last >> step);
        const bool isPattern = header.kind == "meta"
                                   ? value.find('%') != std::string::npos
                                   : numbersFollow && pattern.find('%') != std::string::npos;
        if (isPattern &&
            (!IsNumberPattern(pattern) || (header.kind == "meta" && !MetaPatternNumbersSound(value)))) {
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
    if (!sizes.empty()) {
        found.samples = 1;
        for (long double size : sizes)
            found.samples *= size;
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

long double FileBytes(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long double>(info.st_size) : 0;
}

// Where each compressed stream starts: in the header's own file, or in each
// data file past its skipped bytes.
std::vector<std::pair<std::string, long long>> CompressedStreams(const std::string& headerPath,
                                                                 const Detached& detached) {
    if (detached.ownDataStart >= 0)
        return {{headerPath, detached.ownDataStart}};
    std::vector<std::pair<std::string, long long>> streams;
    for (const std::string& file : detached.files)
        streams.emplace_back(file, std::max(0LL, detached.byteSkip));
    return streams;
}

// Deflate packs at most 1032 bytes into one (a run of one value); a gzip
// member's own header and trailer only add to the compressed side.
constexpr long double kMostDeflateRatio = 1032;

// Inflates one zlib or gzip stream of at most `limit` bytes from `start` in
// `path` into `out`, which has room for `room` bytes; `*made` says how many
// it holds. Empty when the stream ends whole within its bytes and fits.
std::string InflateStream(const std::string& path, long long start, long double limit, unsigned char* out,
                          uint64_t room, uint64_t* made) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(start);
    z_stream stream{};
    if (!in || ::inflateInit2(&stream, 15 + 32) != Z_OK)
        return "its compressed data cannot be read";
    std::vector<unsigned char> chunk(1 << 16);
    unsigned char beyond[64];  // where output past the samples would go
    *made = 0;
    int status = Z_OK;
    std::string problem;
    while (problem.empty()) {
        if (stream.avail_in == 0) {
            const auto want = static_cast<std::streamsize>(std::min<long double>(chunk.size(), limit));
            in.read(reinterpret_cast<char*>(chunk.data()), want);
            const auto got = static_cast<uInt>(in.gcount());
            limit -= got;
            if (got == 0) {
                problem = "its compressed data stops early (cut off?)";
                break;
            }
            stream.next_in = chunk.data();
            stream.avail_in = got;
        }
        const uint64_t left = room - *made;
        stream.next_out = left > 0 ? out + *made : beyond;
        stream.avail_out = left > 0 ? static_cast<uInt>(std::min<uint64_t>(left, 1u << 30)) : sizeof(beyond);
        const uInt before = stream.avail_out;
        status = ::inflate(&stream, Z_NO_FLUSH);
        if (left == 0 && stream.avail_out != before)
            problem = "its compressed data holds more than the header's sizes need";
        else
            *made += before - stream.avail_out;
        if (status == Z_STREAM_END)
            break;
        if (problem.empty() && status != Z_OK && status != Z_BUF_ERROR)
            problem = std::string("its compressed data is damaged (") +
                      (stream.msg ? stream.msg : "zlib error") + ")";
    }
    ::inflateEnd(&stream);
    return problem;
}

// The range of an NRRD integer type ("short", "uint8", "unsigned long long
// int" ...); false for a floating-point or unknown one.
bool IntegerRange(const std::string& type, long double* low, long double* high) {
    const auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
    if (type.empty() || has("float") || has("double") || has("block"))
        return false;
    const int bits = has("16") || has("short")  ? 16
                     : has("64") || has("long") ? 64
                     : has("8") || has("char")  ? 8
                                                : 32;
    const bool isUnsigned = type[0] == 'u' || has("unsigned");
    *low = isUnsigned ? 0 : -std::ldexp(1.0L, bits - 1);
    *high = isUnsigned ? std::ldexp(1.0L, bits) - 1 : std::ldexp(1.0L, bits - 1) - 1;
    return true;
}

}  // namespace

std::string CheckNrrdTextValues(const std::string& headerPath) {
    const Detached detached = Parse(headerPath);
    long double low = 0, high = 0;
    if (!detached.text || !IntegerRange(detached.type, &low, &high))
        return {};
    std::vector<std::pair<std::string, long long>> sources;
    if (detached.ownDataStart >= 0)
        sources.emplace_back(headerPath, detached.ownDataStart);
    for (const std::string& file : detached.files)
        sources.emplace_back(file, std::max(0LL, detached.byteSkip));
    long double left = detached.samples > 0 ? detached.samples : std::numeric_limits<long double>::max();
    for (const auto& [file, start] : sources) {
        std::ifstream in(file, std::ios::binary);
        in.seekg(start);
        for (long long line = 0; line < detached.lineSkip && in; ++line)
            in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        std::string word;
        for (int c = 0; left > 0 && c != EOF;) {
            c = in.get();
            if (c != EOF && c != ',' && !std::isspace(c)) {
                word += static_cast<char>(c);
                continue;
            }
            if (word.empty())
                continue;
            char* end = nullptr;
            const long double value = std::strtold(word.c_str(), &end);
            if (end == word.c_str() + word.size() && (value < low || value > high))
                return "its data holds " + word.substr(0, 40) + ", beyond the range of its type " +
                       detached.type + " (" + std::to_string(static_cast<long long>(low)) + " to " +
                       std::to_string(static_cast<unsigned long long>(high)) + ")";
            word.clear();
            --left;
        }
    }
    return {};
}

std::string CheckCompressedCapacity(const std::string& headerPath, long double sampleBytes) {
    const Detached detached = Parse(headerPath);
    if (!detached.deflated)
        return {};
    long double held = 0;
    for (const auto& [file, start] : CompressedStreams(headerPath, detached))
        held += std::max<long double>(FileBytes(file) - static_cast<long double>(start), 0);
    if (detached.compressedDataSize > 0)
        held = std::min(held, detached.compressedDataSize);
    if (held * kMostDeflateRatio + 1024 >= sampleBytes)
        return {};
    return "its compressed data (" + BytesText(held) + ") cannot hold the " + BytesText(sampleBytes) +
           " of samples its sizes need";
}

std::string InflateMetaImageData(const std::string& headerPath, void* samples, uint64_t bytes) {
    const Detached detached = Parse(headerPath);
    const auto streams = CompressedStreams(headerPath, detached);
    if (streams.empty())
        return "the header names no data file";
    auto* out = static_cast<unsigned char*>(samples);
    uint64_t done = 0;
    for (const auto& [file, start] : streams) {
        // The library reads CompressedDataSize bytes where it is given.
        const long double limit = detached.compressedDataSize > 0 && streams.size() == 1
                                      ? detached.compressedDataSize
                                      : std::numeric_limits<long double>::max();
        uint64_t made = 0;
        const std::string problem = InflateStream(file, start, limit, out + done, bytes - done, &made);
        done += made;
        if (!problem.empty())
            return streams.size() > 1 ? problem + " (" + file + ")" : problem;
    }
    if (done < bytes)
        return "its compressed data holds " + BytesText(done) + " of samples, its sizes need " +
               BytesText(bytes);
    return {};
}

long double MostBytesToRead(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    // Bytes a library decodes (DICOM's JPEG and the like) are counted as
    // ten plain ones.
    constexpr long double kDecodedWeight = 10;
    if (S_ISDIR(info.st_mode)) {
        long double bytes = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path, ec))
            if (entry.is_regular_file(ec))
                bytes += static_cast<long double>(entry.file_size(ec));
        return bytes * kDecodedWeight;
    }
    if (!S_ISREG(info.st_mode))
        return 0;  // opened by no reader
    const Detached detached = Parse(path);
    const bool known = !ReadHeader(path).kind.empty() || path.find(".nii") != std::string::npos;
    long double bytes = 0;
    for (const std::string& file : detached.files) {
        struct stat data {};
        if (::stat(file.c_str(), &data) == 0 && S_ISREG(data.st_mode))
            bytes += static_cast<long double>(data.st_size) *
                     (detached.compressed || StartsCompressed(file, 0) ? kMostDeflateRatio : 1);
    }
    const long double own = static_cast<long double>(info.st_size);
    const bool ownCompressed =
        StartsCompressed(path, 0) || (detached.compressed && detached.ownDataStart >= 0);
    return bytes + own * (ownCompressed ? kMostDeflateRatio : known ? 1 : kDecodedWeight);
}

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
        if (detached.deflated && !StartsCompressed(file, detached.byteSkip))
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

// Scans through ITK's readers: the file's own header gives the grid, the
// sample type, the spacing and the directions; the samples are read once in
// their stored type, then turned to the program's orientation and mapped onto
// 12 bits in one pass.
//
//   Library output ........ ITK's output window and GDCM's streams, kept
//   Recognising a file .... each reader's CanReadFile, never the name alone
//   Orientation ........... the permutation and flips nearest the directions
//   Mapping ............... [min, max] -> 0..4095, a table for small types
//   Single files .......... NIfTI, NRRD, MetaImage, one DICOM file
//   DICOM series .......... the file's series in its folder, by position
#include "volume/scan_import.h"
#include "volume/scan_reader.h"

#include <gdcmTrace.h>
#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <itkOutputWindow.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <sstream>

namespace {

// ---------------------------------------------------------------------------
// Library output

constexpr size_t kMaxWarnings = 200;
std::vector<std::string> Warnings;
std::ostringstream GdcmStream;

void KeepWarning(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!text.empty() && Warnings.size() < kMaxWarnings)
        Warnings.push_back(std::move(text));
}

void CollectGdcmOutput() {
    std::string text = GdcmStream.str();
    GdcmStream.str({});
    GdcmStream.clear();
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        KeepWarning(line);
}

// Some readers inside ITK write straight to the process's streams (MetaIO to
// std::cerr, the NIfTI and NRRD libraries to stderr). While a reader runs,
// both the C++ streams and file descriptors 1 and 2 go to a temporary file;
// what arrived becomes warnings, and the caller can look at it.
class StreamCapture {
  public:
    StreamCapture() {
        std::fflush(stdout);
        std::fflush(stderr);
        file_ = std::tmpfile();
        if (file_ != nullptr) {
            savedOut_ = ::dup(1);
            savedErr_ = ::dup(2);
            ::dup2(::fileno(file_), 1);
            ::dup2(::fileno(file_), 2);
        }
        oldCout_ = std::cout.rdbuf(text_.rdbuf());
        oldCerr_ = std::cerr.rdbuf(text_.rdbuf());
    }
    ~StreamCapture() { Finish(); }

    // Restores the streams; returns everything that was written meanwhile.
    std::string Finish() {
        if (finished_)
            return captured_;
        finished_ = true;
        std::cout.rdbuf(oldCout_);
        std::cerr.rdbuf(oldCerr_);
        captured_ = text_.str();
        if (file_ != nullptr) {
            std::fflush(stdout);
            std::fflush(stderr);
            ::dup2(savedOut_, 1);
            ::dup2(savedErr_, 2);
            ::close(savedOut_);
            ::close(savedErr_);
            std::rewind(file_);
            char buffer[4096];
            size_t got;
            while ((got = std::fread(buffer, 1, sizeof(buffer), file_)) > 0 && captured_.size() < (1u << 20))
                captured_.append(buffer, got);
            std::fclose(file_);
        }
        std::istringstream lines(captured_);
        for (std::string line; std::getline(lines, line);)
            KeepWarning(line);
        return captured_;
    }

  private:
    std::ostringstream text_;
    std::streambuf* oldCout_ = nullptr;
    std::streambuf* oldCerr_ = nullptr;
    std::FILE* file_ = nullptr;
    int savedOut_ = -1, savedErr_ = -1;
    bool finished_ = false;
    std::string captured_;
};

class WarningWindow : public itk::OutputWindow {
  public:
    using Self = WarningWindow;
    using Superclass = itk::OutputWindow;
    using Pointer = itk::SmartPointer<Self>;
    itkSimpleNewMacro(Self);
    void DisplayText(const char* text) override { KeepWarning(text ? text : ""); }
};

// Both libraries write to the terminal by themselves; the program keeps
// that to itself.
void RouteLibraryOutput() {
    static std::once_flag once;
    std::call_once(once, [] {
        itk::OutputWindow::SetInstance(WarningWindow::New());
        gdcm::Trace::SetStream(GdcmStream);
        gdcm::Trace::SetWarningStream(GdcmStream);
        gdcm::Trace::SetErrorStream(GdcmStream);
        gdcm::Trace::SetDebugStream(GdcmStream);
        gdcm::Trace::DebugOff();
    });
}

// The first line of a library's reason, without ITK's file:line preamble.
std::string OneLine(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        line = line.substr(first);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        return line;
    }
    return "the reader gave no reason";
}

std::string Reason(const itk::ExceptionObject& e) {
    const char* description = e.GetDescription();
    return OneLine(description && *description ? description : e.what());
}

// ---------------------------------------------------------------------------
// Recognising a file

enum class Family { None, Nifti, Nrrd, Meta, Dicom };

const char* FamilyName(Family family) {
    switch (family) {
        case Family::Nifti:
            return "NIfTI";
        case Family::Nrrd:
            return "NRRD";
        case Family::Meta:
            return "MetaImage";
        case Family::Dicom:
            return "DICOM";
        case Family::None:
            break;
    }
    return "unknown";
}

itk::ImageIOBase::Pointer MakeReader(Family family) {
    switch (family) {
        case Family::Nifti:
            return itk::NiftiImageIO::New().GetPointer();
        case Family::Nrrd:
            return itk::NrrdImageIO::New().GetPointer();
        case Family::Meta:
            return itk::MetaImageIO::New().GetPointer();
        case Family::Dicom:
            return itk::GDCMImageIO::New().GetPointer();
        case Family::None:
            break;
    }
    return nullptr;
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

Family RecognisedFamily(const std::string& path) {
    // Only regular files: a reader that opens a FIFO would wait for a writer.
    if (!IsRegularFile(path))
        return Family::None;
    for (Family family : {Family::Nifti, Family::Nrrd, Family::Meta, Family::Dicom}) {
        try {
            if (MakeReader(family)->CanReadFile(path.c_str()))
                return family;
        } catch (const itk::ExceptionObject&) {
        }
    }
    return Family::None;
}

// The DICOM series of a folder, each sorted by slice position.
std::vector<std::vector<std::string>> DicomSeries(const std::string& folder) {
    std::vector<std::vector<std::string>> series;
    auto names = itk::GDCMSeriesFileNames::New();
    names->SetUseSeriesDetails(true);
    names->SetDirectory(folder);
    for (const std::string& uid : names->GetSeriesUIDs())
        series.push_back(names->GetFileNames(uid));
    return series;
}

// ---------------------------------------------------------------------------
// Orientation

using Directions = std::array<std::array<double, 3>, 3>;  // [physical LPS axis][grid axis]

struct Placement {
    std::array<int, 3> gridAxis{0, 1, 2};  // which grid axis becomes x, y, z
    std::array<bool, 3> reversed{false, false, false};
};

// x <- left (LPS 0), y <- superior (LPS 2), z <- posterior (LPS 1).
constexpr std::array<int, 3> kPhysicalAxisOf = {0, 2, 1};

Placement PlaceGrid(const Directions& d) {
    Placement best;
    double bestScore = -1;
    std::array<int, 3> perm = {0, 1, 2};
    do {
        double score = 0;
        for (int o = 0; o < 3; ++o)
            score += std::fabs(d[kPhysicalAxisOf[o]][perm[o]]);
        if (score > bestScore + 1e-9) {
            bestScore = score;
            best.gridAxis = perm;
        }
    } while (std::next_permutation(perm.begin(), perm.end()));
    for (int o = 0; o < 3; ++o)
        best.reversed[o] = d[kPhysicalAxisOf[o]][best.gridAxis[o]] < 0;
    return best;
}

// ---------------------------------------------------------------------------
// Mapping

struct Grid {
    std::array<uint64_t, 3> dims{1, 1, 1};
    std::array<double, 3> spacing{1, 1, 1};
    Directions directions{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
};

// False when no value is finite (or there are none).
template <typename T>
bool ValueRange(const T* values, uint64_t count, double* low, double* high) {
    if constexpr (std::is_floating_point_v<T>) {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        for (uint64_t i = 0; i < count; ++i) {
            const double v = static_cast<double>(values[i]);
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        *low = lo;
        *high = hi;
        return lo <= hi;
    } else {
        T lo = count ? values[0] : T{}, hi = lo;
        for (uint64_t i = 0; i < count; ++i) {
            lo = std::min(lo, values[i]);
            hi = std::max(hi, values[i]);
        }
        *low = static_cast<double>(lo);
        *high = static_cast<double>(hi);
        return count > 0;
    }
}

inline uint16_t MapValue(double v, double low, double scale) {
    if (!(v >= low))  // below the range, or NaN
        return 0;
    const double t = (v - low) * scale + 0.5;
    return t >= 4095.0 ? 4095 : static_cast<uint16_t>(t);
}

// Writes `in` (grid order) into `out` in the program's order, each value
// mapped from [low, high] onto 0..4095.
template <typename T>
void PlaceAndMap(const T* in, const Grid& grid, const Placement& placement, double low, double high,
                 uint16_t* out) {
    const double scale = high > low ? 4095.0 / (high - low) : 0.0;
    std::array<uint64_t, 3> outDims;
    for (int o = 0; o < 3; ++o)
        outDims[o] = grid.dims[placement.gridAxis[o]];
    const std::array<int64_t, 3> outStride = {1, static_cast<int64_t>(outDims[0]),
                                              static_cast<int64_t>(outDims[0] * outDims[1])};
    std::array<int64_t, 3> step{};
    int64_t base = 0;
    for (int o = 0; o < 3; ++o) {
        const int a = placement.gridAxis[o];
        if (placement.reversed[o]) {
            step[a] = -outStride[o];
            base += static_cast<int64_t>(grid.dims[a] - 1) * outStride[o];
        } else {
            step[a] = outStride[o];
        }
    }

    // Small integer types: one table entry per possible value.
    constexpr bool kTable = std::is_integral_v<T> && sizeof(T) <= 2;
    std::vector<uint16_t> table;
    int64_t tableOrigin = 0;
    if constexpr (kTable) {
        tableOrigin = static_cast<int64_t>(std::numeric_limits<T>::min());
        table.resize(size_t{1} << (8 * sizeof(T)));
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = MapValue(static_cast<double>(static_cast<int64_t>(i) + tableOrigin), low, scale);
    }

    const uint64_t nx = grid.dims[0], ny = grid.dims[1], nz = grid.dims[2];
    for (uint64_t k = 0; k < nz; ++k) {
        for (uint64_t j = 0; j < ny; ++j) {
            uint16_t* row =
                out + base + static_cast<int64_t>(j) * step[1] + static_cast<int64_t>(k) * step[2];
            const int64_t s = step[0];
            if constexpr (kTable) {
                const uint16_t* t = table.data() - tableOrigin;
                for (uint64_t i = 0; i < nx; ++i)
                    row[static_cast<int64_t>(i) * s] = t[static_cast<int64_t>(in[i])];
            } else {
                for (uint64_t i = 0; i < nx; ++i)
                    row[static_cast<int64_t>(i) * s] = MapValue(static_cast<double>(in[i]), low, scale);
            }
            in += nx;
        }
    }
}

// ---------------------------------------------------------------------------
// Reading

struct Failure {
    std::string text;
};

std::string SizeText(const std::vector<uint64_t>& dims) {
    std::string text;
    for (size_t i = 0; i < dims.size(); ++i)
        text += (i ? " x " : "") + std::to_string(dims[i]);
    return text;
}

std::string BytesText(long double bytes) {
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 6) {
        bytes /= 1024;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof(text), unit ? "%.1Lf %s" : "%.0Lf %s", bytes, units[unit]);
    return text;
}

std::string TypeName(itk::IOComponentEnum type) {
    switch (type) {
        case itk::IOComponentEnum::UCHAR:
            return "uint8";
        case itk::IOComponentEnum::CHAR:
            return "int8";
        case itk::IOComponentEnum::USHORT:
            return "uint16";
        case itk::IOComponentEnum::SHORT:
            return "int16";
        case itk::IOComponentEnum::UINT:
            return "uint32";
        case itk::IOComponentEnum::INT:
            return "int32";
        case itk::IOComponentEnum::ULONG:
        case itk::IOComponentEnum::ULONGLONG:
            return "uint64";
        case itk::IOComponentEnum::LONG:
        case itk::IOComponentEnum::LONGLONG:
            return "int64";
        case itk::IOComponentEnum::FLOAT:
            return "float32";
        case itk::IOComponentEnum::DOUBLE:
            return "float64";
        default:
            break;
    }
    return "unsupported";
}

// Refuses what cannot be shown, from the header alone: more than one value
// per sample, a fourth dimension, a type we do not map, a grid too large for
// the memory that reading it would need.
Grid CheckHeader(itk::ImageIOBase& io, uint64_t memoryBudget, uint64_t extraBytesPerSample,
                 uint64_t componentBytes) {
    if (io.GetNumberOfComponents() != 1) {
        throw Failure{itk::ImageIOBase::GetPixelTypeAsString(io.GetPixelType()) + " image with " +
                      std::to_string(io.GetNumberOfComponents()) +
                      " values per sample; only single-valued (scalar) images can be shown"};
    }
    const unsigned dimensions = io.GetNumberOfDimensions();
    std::vector<uint64_t> sizes;
    for (unsigned i = 0; i < dimensions; ++i)
        sizes.push_back(io.GetDimensions(i));
    for (unsigned i = 3; i < dimensions; ++i) {
        if (sizes[i] != 1) {
            throw Failure{std::to_string(dimensions) + "-D image (" + SizeText(sizes) +
                          "); only 3-D volumes can be shown"};
        }
    }
    if (TypeName(io.GetComponentType()) == "unsupported") {
        throw Failure{"samples of type " + itk::ImageIOBase::GetComponentTypeAsString(io.GetComponentType()) +
                      " are not supported"};
    }
    Grid grid;
    long double samples = 1;
    for (unsigned i = 0; i < std::min(dimensions, 3u); ++i) {
        grid.dims[i] = sizes[i];
        samples *= static_cast<long double>(sizes[i]);
        const double spacing = io.GetSpacing(i);
        grid.spacing[i] = std::isfinite(spacing) && spacing > 0 ? spacing : 1.0;
        const std::vector<double> direction = io.GetDirection(i);
        for (unsigned p = 0; p < 3; ++p)
            grid.directions[p][i] = p < direction.size() ? direction[p] : (p == i ? 1.0 : 0.0);
    }
    if (samples == 0)
        throw Failure{"the image has no samples (" + SizeText(sizes) + ")"};
    const long double need = samples * static_cast<long double>(componentBytes + extraBytesPerSample);
    if (need > static_cast<long double>(memoryBudget)) {
        throw Failure{"too large: " + SizeText(sizes) + " samples of " + TypeName(io.GetComponentType()) +
                      " need " + BytesText(need) + " of memory, " + BytesText(memoryBudget) + " is free"};
    }
    return grid;
}

template <typename T>
void FinishScan(const T* values, const Grid& grid, ScanVolume* volume) {
    const uint64_t count = grid.dims[0] * grid.dims[1] * grid.dims[2];
    // Nothing finite at all: everything maps to 0.
    if (!ValueRange(values, count, &volume->minValue, &volume->maxValue))
        volume->minValue = volume->maxValue = 0;
    const Placement placement = PlaceGrid(grid.directions);
    volume->samples.reset(new uint16_t[count]);
    PreferHugePages(volume->samples.get(), count * sizeof(uint16_t));
    PlaceAndMap(values, grid, placement, volume->minValue, volume->maxValue, volume->samples.get());
    volume->dimX = static_cast<uint32_t>(grid.dims[placement.gridAxis[0]]);
    volume->dimY = static_cast<uint32_t>(grid.dims[placement.gridAxis[1]]);
    volume->dimZ = static_cast<uint32_t>(grid.dims[placement.gridAxis[2]]);
    volume->spacingX = grid.spacing[placement.gridAxis[0]];
    volume->spacingY = grid.spacing[placement.gridAxis[1]];
    volume->spacingZ = grid.spacing[placement.gridAxis[2]];
}

void FinishScanOfType(itk::IOComponentEnum type, const void* values, const Grid& grid, ScanVolume* volume) {
    using C = itk::IOComponentEnum;
    switch (type) {
        case C::UCHAR:
            return FinishScan(static_cast<const uint8_t*>(values), grid, volume);
        case C::CHAR:
            return FinishScan(static_cast<const int8_t*>(values), grid, volume);
        case C::USHORT:
            return FinishScan(static_cast<const uint16_t*>(values), grid, volume);
        case C::SHORT:
            return FinishScan(static_cast<const int16_t*>(values), grid, volume);
        case C::UINT:
            return FinishScan(static_cast<const uint32_t*>(values), grid, volume);
        case C::INT:
            return FinishScan(static_cast<const int32_t*>(values), grid, volume);
        case C::ULONG:
        case C::ULONGLONG:
            return FinishScan(static_cast<const uint64_t*>(values), grid, volume);
        case C::LONG:
        case C::LONGLONG:
            return FinishScan(static_cast<const int64_t*>(values), grid, volume);
        case C::FLOAT:
            return FinishScan(static_cast<const float*>(values), grid, volume);
        case C::DOUBLE:
            return FinishScan(static_cast<const double*>(values), grid, volume);
        default:
            throw Failure{"samples of this type are not supported"};
    }
}

void ReadWhole(itk::ImageIOBase& io, void* buffer) {
    itk::ImageIORegion region(io.GetNumberOfDimensions());
    for (unsigned i = 0; i < io.GetNumberOfDimensions(); ++i) {
        region.SetIndex(i, 0);
        region.SetSize(i, io.GetDimensions(i));
    }
    io.SetIORegion(region);
    io.Read(buffer);
}

std::unique_ptr<char[]> Allocate(uint64_t bytes) {
    char* buffer = new (std::nothrow) char[std::max<uint64_t>(bytes, 1)];
    if (buffer == nullptr)
        throw Failure{"not enough memory to read " + BytesText(bytes)};
    PreferHugePages(buffer, bytes);
    return std::unique_ptr<char[]>(buffer);
}

// The NIfTI library fills samples missing at the end of a short file with
// zeros and reports success; a cut .nii.gz would show as a volume with a
// black end. The data's length is checked here instead, from the header's own
// sizes (beside the read, on another thread). Empty when the file holds every
// sample.
std::string CheckNiftiLength(const std::string& path) {
    auto endsWith = [&](const char* end) {
        const size_t n = std::strlen(end);
        return path.size() >= n && path.compare(path.size() - n, n, end) == 0;
    };
    std::string dataPath = path;
    if (endsWith(".hdr"))
        dataPath = path.substr(0, path.size() - 4) + ".img";
    else if (endsWith(".hdr.gz"))
        dataPath = path.substr(0, path.size() - 7) + ".img.gz";

    unsigned char header[544] = {};
    gzFile headerFile = ::gzopen(path.c_str(), "rb");
    if (headerFile == nullptr)
        return "cannot open " + path;
    const int headerBytes = ::gzread(headerFile, header, sizeof(header));
    ::gzclose(headerFile);
    int32_t headerSize = 0;
    std::memcpy(&headerSize, header, 4);
    const bool swapped = headerSize == 0x5C010000 || headerSize == 0x1C020000;
    const bool two = headerSize == 540 || headerSize == 0x1C020000;
    if (headerBytes < (two ? 540 : 348) || !(two || headerSize == 348 || headerSize == 0x5C010000))
        return {};  // not a header we can measure; the library has checked it
    auto field = [&](size_t offset, auto value) {
        std::memcpy(&value, header + offset, sizeof(value));
        if (swapped) {
            auto* bytes = reinterpret_cast<unsigned char*>(&value);
            std::reverse(bytes, bytes + sizeof(value));
        }
        return value;
    };
    long double samples = 1;
    double bits = 0, offset = 0;
    if (two) {
        const int64_t rank = field(16, int64_t{});
        for (int64_t i = 1; i <= std::clamp<int64_t>(rank, 0, 7); ++i)
            samples *= static_cast<long double>(std::max<int64_t>(field(16 + 8 * i, int64_t{}), 1));
        bits = field(14, int16_t{});
        offset = static_cast<double>(field(168, int64_t{}));
    } else {
        const int16_t rank = field(40, int16_t{});
        for (int16_t i = 1; i <= std::clamp<int16_t>(rank, 0, 7); ++i)
            samples *= static_cast<long double>(std::max<int16_t>(field(40 + 2 * i, int16_t{}), 1));
        bits = field(72, int16_t{});
        offset = field(108, float{});
    }
    const bool single = !(dataPath != path);
    if (!(offset >= 0) || offset > 1e12)
        offset = 0;
    if (single && offset < (two ? 544 : 352))
        offset = two ? 544 : 352;
    const long double needed = static_cast<long double>(offset) + samples * bits / 8;

    // An uncompressed file answers with its size. A gzip file ends with the
    // length of what it holds (modulo 2^32): a file that ends with exactly
    // the length its header needs is whole (a cut file ends in compressed
    // bytes, which match by chance once in 2^32). Anything else is inflated
    // to its end to find out.
    if (std::FILE* raw = std::fopen(dataPath.c_str(), "rb")) {
        unsigned char magic[2] = {0, 0}, trailer[4] = {0, 0, 0, 0};
        const size_t got = std::fread(magic, 1, 2, raw);
        const bool trailerRead = std::fseek(raw, -4, SEEK_END) == 0 && std::fread(trailer, 1, 4, raw) == 4;
        std::fclose(raw);
        struct stat info {};
        if ((got < 2 || magic[0] != 0x1f || magic[1] != 0x8b) && ::stat(dataPath.c_str(), &info) == 0) {
            const long double size = static_cast<long double>(info.st_size);
            if (size < needed)
                return "the file ends before its last sample (" + BytesText(needed) + " needed, " +
                       BytesText(size) + " found)";
            return {};
        }
        const uint32_t length = uint32_t{trailer[0]} | uint32_t{trailer[1]} << 8 |
                                uint32_t{trailer[2]} << 16 | uint32_t{trailer[3]} << 24;
        const long double wrapped = std::fmod(needed, 4294967296.0L);
        if (trailerRead && static_cast<long double>(length) == wrapped)
            return {};
    }
    gzFile file = ::gzopen(dataPath.c_str(), "rb");
    if (file == nullptr)
        return "cannot open " + dataPath;
    std::vector<unsigned char> chunk(1 << 20);
    long double total = 0;
    int got = 0;
    while (total < needed && (got = ::gzread(file, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0)
        total += got;
    int status = Z_OK;
    const char* message = ::gzerror(file, &status);
    if (message != nullptr && std::strchr(message, ':'))
        message = std::strrchr(message, ':') + 1;  // without the path, which the caller names
    std::string problem;
    if (status == Z_BUF_ERROR)
        problem = "the file ends before its last sample (the compressed data stops early)";
    else if (got < 0 || (status != Z_OK && status != Z_STREAM_END))
        problem = std::string("the compressed data is damaged (") + (message ? message : "zlib error") + ")";
    else if (total < needed)
        problem = "the file ends before its last sample (" + BytesText(needed) + " needed, " +
                  BytesText(total) + " found)";
    ::gzclose(file);
    return problem;
}

void ReadSingleFile(const std::string& path, Family family, uint64_t budget, ScanVolume* volume) {
    itk::ImageIOBase::Pointer io = MakeReader(family);
    io->SetFileName(path);
    io->ReadImageInformation();
    const uint64_t componentBytes = io->GetComponentSize();
    // The stored samples, then the 12-bit result beside them.
    const Grid grid = CheckHeader(*io, budget, 2, componentBytes);
    const uint64_t count = grid.dims[0] * grid.dims[1] * grid.dims[2];
    std::unique_ptr<char[]> stored = Allocate(count * componentBytes);
    std::future<std::string> lengthCheck;
    if (family == Family::Nifti) {
        lengthCheck = std::async(std::launch::async, CheckNiftiLength, path);
    }
    StreamCapture capture;
    ReadWhole(*io, stored.get());
    const std::string said = capture.Finish();
    // MetaIO says so on std::cerr and carries on with what it had.
    if (family == Family::Meta && said.find("not read completely") != std::string::npos)
        throw Failure{"the file ends before its last sample (" + OneLine(said.substr(said.find("M_Read"))) +
                      ")"};
    if (lengthCheck.valid()) {
        const std::string problem = lengthCheck.get();
        if (!problem.empty())
            throw Failure{problem};
    }
    const itk::IOComponentEnum type = io->GetComponentType();
    io = nullptr;  // a reader may keep its own copy of the samples until it goes
    FinishScanOfType(type, stored.get(), grid, volume);
    volume->format = FamilyName(family);
    volume->sampleType = TypeName(type);
}

// The slices of one series, each a file, sorted by position. They are read
// into one float grid (each slice may carry its own rescale), then mapped.
void ReadDicomSeries(const std::vector<std::string>& files, uint64_t budget, ScanProgress progress,
                     void* context, ScanVolume* volume) {
    auto first = itk::GDCMImageIO::New();
    first->SetFileName(files.front());
    first->ReadImageInformation();
    const uint64_t slices = files.size();
    if (first->GetNumberOfDimensions() > 2 && first->GetDimensions(2) > 1) {
        throw Failure{"the series mixes multi-frame files (" + std::to_string(first->GetDimensions(2)) +
                      " frames in " + files.front() + ") with others"};
    }
    const uint64_t nx = first->GetDimensions(0), ny = first->GetDimensions(1);
    // Float grid plus the 12-bit result plus one stored slice.
    Grid grid = CheckHeader(*first, budget / std::max<uint64_t>(slices, 1), 2, sizeof(float));
    grid.dims = {nx, ny, slices};

    std::array<double, 3> firstOrigin{}, lastOrigin{};
    std::unique_ptr<char[]> values = Allocate(nx * ny * slices * sizeof(float));
    float* out = reinterpret_cast<float*>(values.get());
    std::unique_ptr<char[]> stored;
    uint64_t storedBytes = 0;
    std::string sampleType;
    for (uint64_t z = 0; z < slices; ++z) {
        auto io = itk::GDCMImageIO::New();
        io->SetFileName(files[z]);
        io->ReadImageInformation();
        if (io->GetNumberOfComponents() != 1 || io->GetDimensions(0) != nx || io->GetDimensions(1) != ny ||
            (io->GetNumberOfDimensions() > 2 && io->GetDimensions(2) > 1)) {
            throw Failure{"the slices of the series differ in size or kind (" + files[z] + ")"};
        }
        const uint64_t bytes = io->GetImageSizeInBytes();
        if (bytes > storedBytes) {
            stored = Allocate(bytes);
            storedBytes = bytes;
        }
        ReadWhole(*io, stored.get());
        const uint64_t n = nx * ny;
        float* target = out + z * n;
        auto copy = [&](auto* typed) {
            for (uint64_t i = 0; i < n; ++i)
                target[i] = static_cast<float>(typed[i]);
        };
        using C = itk::IOComponentEnum;
        switch (io->GetComponentType()) {
            case C::UCHAR:
                copy(reinterpret_cast<const uint8_t*>(stored.get()));
                break;
            case C::CHAR:
                copy(reinterpret_cast<const int8_t*>(stored.get()));
                break;
            case C::USHORT:
                copy(reinterpret_cast<const uint16_t*>(stored.get()));
                break;
            case C::SHORT:
                copy(reinterpret_cast<const int16_t*>(stored.get()));
                break;
            case C::UINT:
                copy(reinterpret_cast<const uint32_t*>(stored.get()));
                break;
            case C::INT:
                copy(reinterpret_cast<const int32_t*>(stored.get()));
                break;
            case C::FLOAT:
                copy(reinterpret_cast<const float*>(stored.get()));
                break;
            case C::DOUBLE:
                copy(reinterpret_cast<const double*>(stored.get()));
                break;
            default:
                throw Failure{"samples of type " +
                              itk::ImageIOBase::GetComponentTypeAsString(io->GetComponentType()) +
                              " are not supported (" + files[z] + ")"};
        }
        if (z == 0)
            sampleType = TypeName(io->GetComponentType());
        std::array<double, 3> origin{};
        for (unsigned i = 0; i < 3 && i < io->GetNumberOfDimensions(); ++i)
            origin[i] = io->GetOrigin(i);
        if (io->GetNumberOfDimensions() < 3)
            origin[2] = 0;
        if (z == 0)
            firstOrigin = origin;
        lastOrigin = origin;
        if (progress)
            progress(static_cast<double>(z + 1) / static_cast<double>(slices), context);
    }

    // The slices' own step and direction come from their positions: the
    // third column of the header's directions is only a guess for a series.
    if (slices > 1) {
        std::array<double, 3> step;
        double length = 0;
        for (int p = 0; p < 3; ++p) {
            step[p] = (lastOrigin[p] - firstOrigin[p]) / static_cast<double>(slices - 1);
            length += step[p] * step[p];
        }
        length = std::sqrt(length);
        if (length > 1e-9) {
            grid.spacing[2] = length;
            for (int p = 0; p < 3; ++p)
                grid.directions[p][2] = step[p] / length;
        }
    }
    FinishScan(out, grid, volume);
    volume->format = "DICOM series (" + std::to_string(slices) + (slices == 1 ? " file)" : " files)");
    volume->sampleType = sampleType;
}

// The series that holds `file`, or the largest series of a folder.
std::vector<std::string> SeriesOf(const std::string& path) {
    const bool folder = IsFolder(path);
    const std::string directory = folder ? path : std::filesystem::path(path).parent_path().string();
    const std::vector<std::vector<std::string>> all = DicomSeries(directory.empty() ? "." : directory);
    std::vector<std::string> chosen;
    if (folder) {
        for (const auto& series : all)
            if (series.size() > chosen.size())
                chosen = series;
        return chosen;
    }
    std::error_code ec;
    for (const auto& series : all) {
        for (const std::string& name : series) {
            if (std::filesystem::equivalent(name, path, ec))
                return series;
        }
    }
    return {path};
}

}  // namespace

// A scan's buffers are tens of megabytes written once from start to end;
// with 4 KiB pages most of that time is page faults. Huge pages, where the
// system gives them on request, take one fault per 2 MiB.
void PreferHugePages(void* buffer, size_t bytes) {
    constexpr uintptr_t kHuge = 2u << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + bytes) & ~(kHuge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

uint64_t AvailableMemoryBytes() {
    std::ifstream info("/proc/meminfo");
    std::string key;
    uint64_t kilobytes = 0;
    std::string unit;
    while (info >> key >> kilobytes >> unit) {
        if (key == "MemAvailable:")
            return kilobytes * 1024;
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
}

bool RecogniseScanHere(const std::string& path) {
    RouteLibraryOutput();
    StreamCapture capture;
    bool recognised = false;
    try {
        if (IsFolder(path))
            recognised = !DicomSeries(path).empty();
        else
            recognised = RecognisedFamily(path) != Family::None;
    } catch (const itk::ExceptionObject&) {
    }
    CollectGdcmOutput();
    return recognised;
}

bool ReadScanHere(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget,
                  ScanProgress progress, void* progressContext) {
    RouteLibraryOutput();
    const uint64_t budget = memoryBudget ? memoryBudget : AvailableMemoryBytes();
    ScanVolume result;
    bool read = false;
    StreamCapture capture;
    try {
        const Family family = IsFolder(path) ? Family::Dicom : RecognisedFamily(path);
        if (family == Family::None) {
            *error = "not a NIfTI, NRRD, MetaImage or DICOM file";
        } else if (family == Family::Dicom) {
            const std::vector<std::string> files = SeriesOf(path);
            if (files.empty()) {
                *error = "the folder holds no DICOM series";
            } else if (files.size() == 1) {
                ReadSingleFile(files.front(), family, budget, &result);  // one slice, or multi-frame
                read = true;
            } else {
                ReadDicomSeries(files, budget, progress, progressContext, &result);
                read = true;
            }
        } else {
            ReadSingleFile(path, family, budget, &result);
            read = true;
        }
    } catch (const Failure& failure) {
        *error = failure.text;
        read = false;
    } catch (const itk::ExceptionObject& e) {
        *error = Reason(e);
        read = false;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to read the scan";
        read = false;
    } catch (const std::exception& e) {
        *error = OneLine(e.what());
        read = false;
    }
    CollectGdcmOutput();
    if (read)
        *volume = std::move(result);
    return read;
}

std::vector<std::string> TakeScanWarningsHere() {
    CollectGdcmOutput();
    std::vector<std::string> taken;
    taken.swap(Warnings);
    return taken;
}

// TIFF stacks through libtiff. Every page is checked against the first
// before any sample is read, and the whole size against the budget. Where
// the pages lie in the file uncompressed, one after another, as the
// channel-major values FinishScan takes (so most microscopy software writes
// a stack), the file itself, mapped, is those values: nothing is copied.
// Otherwise each page is decoded straight into its place in a buffer of
// them (only RGB pages and tiles pass through a buffer of one strip or tile).
//
//   Library messages ... libtiff's first error is the reason; warnings kept quiet
//   Pages .............. shape and sample type of a page, and the walk that checks them
//   Units .............. lengths to millimetres, the ImageJ and OME spellings
//   ImageJ ............. the description's counts, step and unit; its display tables
//   OME-XML ............ a tolerant reader of the few elements and attributes needed
//   Samples ............ strips and tiles into place
//   Mapped samples ..... pages used where they lie in the file
//   Reading ............ the layout chosen, the budget, the pages read
#include "volume/scan_tiff.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "volume/scan_library_output.h"
#include "volume/scan_samples.h"

namespace {

using scan_mapping::Grid;

// The reading child carries at most this many channels to the program.
constexpr uint64_t kMostChannels = 1024;

// ---------------------------------------------------------------------------
// Library messages

// libtiff reports through handlers: its first error says why a call failed.
// Its warnings (tags it does not know, as ImageJ and OME writers add them)
// are nothing a user can act on.
struct Messages {
    std::string firstError, firstWarning;
};

int KeepFirstError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<Messages*>(user);
    if (messages->firstError.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof(text), format, args);
        messages->firstError = OneLine(text);
    }
    return 1;
}

// A warning is kept only to say why a chain of pages ended early (the
// library warns of a loop and stops).
int KeepFirstWarning(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* messages = static_cast<Messages*>(user);
    if (messages->firstWarning.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof(text), format, args);
        messages->firstWarning = OneLine(text);
    }
    return 1;
}

class TiffFile {
  public:
    TiffFile(const std::string& path, uint64_t budget) {
        // Messages of calls that carry no file would go to stderr.
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, KeepFirstError, &messages_);
        TIFFOpenOptionsSetWarningHandlerExtR(options, KeepFirstWarning, &messages_);
        // A forged strip size or tag count must not make the library ask
        // for more memory than the whole read may take.
        TIFFOpenOptionsSetMaxSingleMemAlloc(
            options, static_cast<tmsize_t>(std::min<uint64_t>(budget, std::numeric_limits<tmsize_t>::max())));
        tif_ = TIFFOpenExt(path.c_str(), "r", options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffFile() {
        if (tif_ != nullptr)
            TIFFClose(tif_);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return tif_; }
    void Forget() { messages_ = {}; }
    std::string Warning() const { return messages_.firstWarning; }
    bool Failed() const { return !messages_.firstError.empty(); }
    std::string Reason(const std::string& otherwise) const {
        return messages_.firstError.empty() ? otherwise : messages_.firstError;
    }

  private:
    Messages messages_;
    TIFF* tif_ = nullptr;
};

// ---------------------------------------------------------------------------
// Pages

struct PageShape {
    uint32_t width = 0, length = 0, depth = 1;
    uint16_t bits = 1, format = SAMPLEFORMAT_UINT, samples = 1;
    uint16_t planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_MINISBLACK,
             compression = COMPRESSION_NONE;
    bool tiled = false;
};

PageShape ShapeOf(TIFF* tif) {
    PageShape s;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &s.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &s.length);
    TIFFGetFieldDefaulted(tif, TIFFTAG_IMAGEDEPTH, &s.depth);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &s.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &s.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &s.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &s.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &s.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &s.photometric);
    s.tiled = TIFFIsTiled(tif) != 0;
    return s;
}

std::optional<SampleType> TypeOf(const PageShape& s) {
    const bool integer = s.format == SAMPLEFORMAT_UINT || s.format == SAMPLEFORMAT_VOID;
    switch (s.bits) {
        case 8:
            return integer                        ? SampleType::UInt8
                   : s.format == SAMPLEFORMAT_INT ? std::optional(SampleType::Int8)
                                                  : std::nullopt;
        case 16:
            return integer                        ? SampleType::UInt16
                   : s.format == SAMPLEFORMAT_INT ? std::optional(SampleType::Int16)
                                                  : std::nullopt;
        case 32:
            return integer                           ? SampleType::UInt32
                   : s.format == SAMPLEFORMAT_INT    ? SampleType::Int32
                   : s.format == SAMPLEFORMAT_IEEEFP ? std::optional(SampleType::Float32)
                                                     : std::nullopt;
        case 64:
            return integer                           ? SampleType::UInt64
                   : s.format == SAMPLEFORMAT_INT    ? SampleType::Int64
                   : s.format == SAMPLEFORMAT_IEEEFP ? std::optional(SampleType::Float64)
                                                     : std::nullopt;
        default:
            return std::nullopt;
    }
}

std::string TypeText(const PageShape& s) {
    if (const std::optional<SampleType> type = TypeOf(s))
        return SampleTypeName(*type);
    const char* kind = s.format == SAMPLEFORMAT_INT      ? "signed"
                       : s.format == SAMPLEFORMAT_IEEEFP ? "floating-point"
                       : s.format == SAMPLEFORMAT_UINT   ? "unsigned"
                                                         : "complex";
    return std::to_string(s.bits) + "-bit " + kind;
}

std::string PageName(uint64_t index) {
    return "page " + std::to_string(index + 1);
}

std::string AreaText(const PageShape& s) {
    return std::to_string(s.width) + " x " + std::to_string(s.length);
}

// What the first page must be for its samples to be read at all.
void CheckFirstPage(const PageShape& s) {
    if (s.width == 0 || s.length == 0)
        throw ScanFailure{"the first page has no samples (" + AreaText(s) + ")"};
    if (s.depth > 1)
        throw ScanFailure{"the pages are blocks of " + std::to_string(s.depth) +
                          " slices (ImageDepth); only flat pages can be read"};
    if (!TypeOf(s))
        throw ScanFailure{"the pages hold " + TypeText(s) +
                          " samples; only 8, 16, 32 or 64-bit integers and 32 or 64-bit floats can be read"};
    if (s.samples == 0)
        throw ScanFailure{"the first page gives no samples per pixel"};
}

// Why a page cannot join the first: another size, sample type or number of
// samples per pixel, or data this libtiff cannot decode. Empty when it can.
std::string PageMismatch(const PageShape& first, const PageShape& s, uint64_t index) {
    if (s.width != first.width || s.length != first.length)
        return PageName(index) + " is " + AreaText(s) + ", the first is " + AreaText(first);
    if (s.bits != first.bits || TypeOf(s) != TypeOf(first) || s.depth != first.depth)
        return PageName(index) + " holds " + TypeText(s) + " samples, the first " + TypeText(first);
    if (s.samples != first.samples)
        return PageName(index) + " has " + std::to_string(s.samples) + " samples per pixel, the first " +
               std::to_string(first.samples);
    if (!TIFFIsCODECConfigured(s.compression))
        return PageName(index) + " is compressed with scheme " + std::to_string(s.compression) +
               ", which cannot be decoded here";
    if (s.photometric == PHOTOMETRIC_YCBCR && s.compression != COMPRESSION_JPEG)
        return PageName(index) + " is YCbCr without JPEG compression, which cannot be read";
    return {};
}

// Each page the same as the first; refused naming the first that is not.
void CheckPage(const PageShape& first, const PageShape& s, uint64_t index) {
    if (std::string why = PageMismatch(first, s, index); !why.empty())
        throw ScanFailure{std::move(why)};
}

// Thumbnails and the lower levels of a pyramid are not slices.
bool IsReducedImage(TIFF* tif) {
    uint32_t kind = 0;
    return TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE) != 0;
}

// Moves to the next page; false at the end of the file's chain of pages.
// A chain that breaks (a loop, an offset past the end, a damaged
// directory) is refused: what follows the break cannot be known.
bool NextPage(TiffFile& file, uint64_t pagesSoFar) {
    file.Forget();
    if (TIFFReadDirectory(file.get()))
        return true;
    if (file.Failed() || !TIFFLastDirectory(file.get())) {
        const std::string warning = file.Warning();
        throw ScanFailure{"the file is damaged after " + PageName(pagesSoFar - 1) + ": " +
                          file.Reason(warning.empty() ? "the next page cannot be read" : warning)};
    }
    return false;
}

// Counts the pages (the first directory current), checking the first
// `checked` of them against the first.
uint64_t CountPages(TiffFile& file, const PageShape& first, uint64_t checked) {
    uint64_t pages = 0;
    do {
        if (IsReducedImage(file.get()))
            continue;
        if (pages < checked)
            CheckPage(first, ShapeOf(file.get()), pages);
        ++pages;
    } while (NextPage(file, std::max<uint64_t>(pages, 1)));
    return pages;
}

// Counts every directory of the file's chain from the first, as OME numbers
// them (its IFDs), and the full-size pages among them into `pages`. OME may
// place a plane in any directory, and only those it places need match the
// first page: whether each does is kept in `fits`.
uint64_t CountDirectories(TiffFile& file, const PageShape& first, std::vector<bool>* fits, uint64_t* pages) {
    if (!TIFFSetDirectory(file.get(), 0))
        throw ScanFailure{"the first page cannot be read again: " + file.Reason("the file changed")};
    uint64_t directories = 0;
    do {
        *pages += IsReducedImage(file.get()) ? 0 : 1;
        fits->push_back(PageMismatch(first, ShapeOf(file.get()), directories).empty());
        ++directories;
    } while (NextPage(file, directories));
    return directories;
}

// The directories that hold the planes, by directory, each with its plane's
// index in the page order; empty where page k (of the full-size pages) is
// plane k.
using Placements = std::vector<std::pair<uint64_t, uint64_t>>;

// The planes' pages in the file's order, the first directory current at the
// start: each page's number (as messages name it) and its plane.
class PlaneWalk {
  public:
    PlaneWalk(TiffFile& file, const Placements& placed, uint64_t planes)
        : file_(file), placed_(placed), planes_(planes) {}

    // False once every plane is met, or where the file's chain ends first.
    bool Next(uint64_t* page, uint64_t* plane) {
        while (met_ < planes_) {
            if (started_ && !NextPage(file_, placed_.empty() ? std::max<uint64_t>(met_, 1) : directory_ + 1))
                return false;
            directory_ += started_ ? 1 : 0;
            started_ = true;
            if (placed_.empty() ? IsReducedImage(file_.get()) : placed_[met_].first != directory_)
                continue;
            *page = placed_.empty() ? met_ : directory_;
            *plane = placed_.empty() ? met_ : placed_[met_].second;
            ++met_;
            return true;
        }
        return false;
    }

  private:
    TiffFile& file_;
    const Placements& placed_;
    const uint64_t planes_;
    uint64_t met_ = 0, directory_ = 0;
    bool started_ = false;
};

// ---------------------------------------------------------------------------
// Units

// Millimetres in one unit of length, for the spellings ImageJ and OME use;
// none for a unit that is no length ("pixel") or unknown.
std::optional<double> MillimetresPer(std::string unit) {
    unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
    // ImageJ writes the micro sign escaped in its description; the micro
    // sign and the Greek mu both occur in UTF-8 and Latin-1 files.
    for (const char* micro : {"\\u00B5", "\\u00b5", "\xC2\xB5", "\xCE\xBC", "\xB5"})
        if (unit.rfind(micro, 0) == 0)
            unit = "u" + unit.substr(std::strlen(micro));
    struct Named {
        const char* name;
        double millimetres;
    };
    static const Named kUnits[] = {
        {"um", 1e-3},         {"micron", 1e-3},     {"microns", 1e-3},
        {"micrometer", 1e-3}, {"micrometre", 1e-3}, {"nm", 1e-6},
        {"nanometer", 1e-6},  {"nanometre", 1e-6},  {"mm", 1},
        {"millimeter", 1},    {"millimetre", 1},    {"cm", 10},
        {"centimeter", 10},   {"centimetre", 10},   {"m", 1e3},
        {"meter", 1e3},       {"metre", 1e3},       {"pm", 1e-9},
        {"\xC3\x85", 1e-7},   {"angstrom", 1e-7},   {"in", 25.4},
        {"inch", 25.4},       {"inches", 25.4},
    };
    // Symbols as written ("mm" is not "Mm"); words in any case.
    std::string lower = unit;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Named& named : kUnits)
        if ((unit.size() > 2 ? lower : unit) == named.name)
            return named.millimetres;
    return std::nullopt;
}

// Seconds, milliseconds and the like as the program shows them.
std::string TimeUnitText(std::string unit) {
    for (const char* micro : {"\\u00B5", "\xC2\xB5", "\xCE\xBC"})
        if (unit.rfind(micro, 0) == 0)
            unit = "u" + unit.substr(std::strlen(micro));
    if (unit == "sec" || unit == "second" || unit == "seconds")
        return "s";
    return unit;
}

bool ParseNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(*value);
}

bool ParseCount(const std::string& text, uint64_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 12)
        return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// ---------------------------------------------------------------------------
// The layout of the pages

enum Axis { kChannel = 0, kSlice = 1, kFrame = 2 };

struct Layout {
    std::string format = "TIFF";
    std::array<uint64_t, 3> sizes{1, 1, 1};  // channels (of pages), slices, time points
    std::array<int, 3> order{kChannel, kSlice,
                             kFrame};        // the axis that varies fastest from page to page first
    bool countsGiven = false;                // ImageJ's or OME's counts, which the pages must match
    bool exactPages = true;                  // every page belongs (OME may hold more images)
    std::array<double, 3> spacing{1, 1, 1};  // mm where the unit is known
    double timeStep = 0;
    std::string timeUnit;
    std::vector<std::string> names;  // by channel of the pages' samples, where given
    std::vector<int32_t> colours;
    // OME's TiffData: `count` planes from `first` (channel of pages, slice,
    // time point, advancing in `order`) in the directories from `ifd` on;
    // no count: every plane. None: page k is plane k in `order`.
    struct Run {
        size_t file = 0;  // in `files`
        uint64_t ifd = 0;
        std::array<uint64_t, 3> first{};
        std::optional<uint64_t> count;
    };
    std::vector<Run> runs;
    // The files of a set that the runs name: this one first (""), then the
    // others beside it, in the order the description first names them.
    std::vector<std::string> files{""};
    uint64_t Pages() const { return sizes[0] * sizes[1] * sizes[2]; }
};

std::string CountsText(const Layout& l, const char* what) {
    const auto part = [](uint64_t n, const char* one) {
        return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
    };
    return part(l.sizes[kChannel], "channel") + " x " + part(l.sizes[kSlice], "slice") + " x " +
           part(l.sizes[kFrame], what);
}

// The channel (of pages), slice and time point of page `index` in the page order.
std::array<uint64_t, 3> PlaceOf(const Layout& l, uint64_t index) {
    std::array<uint64_t, 3> at{};
    for (int axis : l.order) {
        at[axis] = index % l.sizes[axis];
        index /= l.sizes[axis];
    }
    return at;
}

uint64_t IndexOf(const Layout& l, const std::array<uint64_t, 3>& at) {
    uint64_t index = 0;
    for (int k = 2; k >= 0; --k)
        index = index * l.sizes[l.order[k]] + at[l.order[k]];
    return index;
}

std::string PlaneText(const std::array<uint64_t, 3>& at) {
    return "channel " + std::to_string(at[kChannel] + 1) + ", slice " + std::to_string(at[kSlice] + 1) +
           ", time point " + std::to_string(at[kFrame] + 1);
}

// How messages name file `file` of a set, after the page or IFD they name.
std::string OfFile(const std::vector<std::string>& files, size_t file) {
    return files[file].empty() ? "" : " of \"" + files[file] + "\"";
}

// Where OME's TiffData put the planes, in the files `files` of `directories`
// each: refused unless each plane is placed once, in a directory of its own.
// The placements of each file, by directory.
std::vector<Placements> Place(const Layout& layout, const std::vector<std::string>& files,
                              const std::vector<uint64_t>& directories) {
    const uint64_t used = layout.Pages();
    constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
    std::vector<std::pair<size_t, uint64_t>> directoryOf(used, {0, kNone});
    const std::string what = "the OME description places ";
    for (const Layout::Run& run : layout.runs) {
        const size_t file = run.file;
        for (int axis = 0; axis < 3; ++axis)
            if (run.first[axis] >= layout.sizes[axis])
                throw ScanFailure{what + PlaneText(run.first) + ", outside its " +
                                  CountsText(layout, "time point")};
        const uint64_t start = IndexOf(layout, run.first), count = run.count.value_or(used);
        if (count > used - start)
            throw ScanFailure{what + std::to_string(count) + " planes from " + PlaneText(run.first) +
                              ", past the last of its " + CountsText(layout, "time point")};
        // Each plane met once at most: no more steps than planes.
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t plane = start + i, directory = run.ifd + i;
            if (directory >= directories[file])
                throw ScanFailure{what + PlaneText(PlaceOf(layout, plane)) + " in IFD " +
                                  std::to_string(directory) + ", past the " +
                                  (file == 0
                                       ? "file's " + std::to_string(directories[file]) + " pages"
                                       : std::to_string(directories[file]) + " pages" + OfFile(files, file))};
            if (directoryOf[plane].second != kNone)
                throw ScanFailure{what + PlaneText(PlaceOf(layout, plane)) + " twice"};
            directoryOf[plane] = {file, directory};
        }
    }
    std::vector<Placements> placed(files.size());
    for (uint64_t plane = 0; plane < used; ++plane) {
        if (directoryOf[plane].second == kNone)
            throw ScanFailure{what + "no page for " + PlaneText(PlaceOf(layout, plane))};
        placed[directoryOf[plane].first].emplace_back(directoryOf[plane].second, plane);
    }
    for (size_t file = 0; file < files.size(); ++file) {
        Placements& inFile = placed[file];
        std::sort(inFile.begin(), inFile.end());
        for (size_t i = 1; i < inFile.size(); ++i)
            if (inFile[i].first == inFile[i - 1].first)
                throw ScanFailure{what + PlaneText(PlaceOf(layout, inFile[i - 1].second)) + " and " +
                                  PlaneText(PlaceOf(layout, inFile[i].second)) + " both in IFD " +
                                  std::to_string(inFile[i].first) + OfFile(files, file)};
    }
    return placed;
}

// The resolution tags: pixels per unit along x and y.
std::array<double, 2> PixelSizes(TIFF* tif) {
    std::array<double, 2> size{1, 1};
    float resolution = 0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resolution) && std::isfinite(resolution) && resolution > 0)
        size[0] = 1.0 / resolution;
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resolution) && std::isfinite(resolution) && resolution > 0)
        size[1] = 1.0 / resolution;
    return size;
}

// A plain stack gives no step between pages; a resolution in centimetres
// gives x and y, and z is taken to be x. Inches are left alone: most files
// carry 72 per inch from the program that wrote them, meaning nothing.
void PlainSpacing(TIFF* tif, Layout* layout) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_CENTIMETER)
        return;
    const std::array<double, 2> size = PixelSizes(tif);
    layout->spacing = {size[0] * 10, size[1] * 10, size[0] * 10};
}

// ---------------------------------------------------------------------------
// ImageJ

// "ImageJ=1.53t\nimages=24\nchannels=2\nslices=3\nframes=4\nunit=micron\nspacing=2.5\n..."
void ReadImageJ(TIFF* tif, const std::string& text, Layout* layout) {
    layout->format = "ImageJ TIFF";
    layout->countsGiven = true;
    std::optional<uint64_t> images;
    std::string unit;
    std::optional<double> zStep;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        const auto count = [&](uint64_t* to) {
            if (!ParseCount(value, to) || *to == 0)
                throw ScanFailure{"the ImageJ description's " + key + "=" + value + " is not a count"};
        };
        double number = 0;
        if (key == "images") {
            images = 0;
            count(&*images);
        } else if (key == "channels") {
            count(&layout->sizes[kChannel]);
        } else if (key == "slices") {
            count(&layout->sizes[kSlice]);
        } else if (key == "frames") {
            count(&layout->sizes[kFrame]);
        } else if (key == "unit") {
            unit = value;
        } else if (key == "spacing" && ParseNumber(value, &number) && number > 0) {
            zStep = number;
        } else if (key == "finterval" && ParseNumber(value, &number) && number > 0) {
            layout->timeStep = number;
            if (layout->timeUnit.empty())
                layout->timeUnit = "s";
        } else if (key == "tunit" && !value.empty()) {
            layout->timeUnit = TimeUnitText(value);
        }
    }
    // A plain ImageJ stack names only its images: they are its slices.
    if (images && text.find("\nslices=") == std::string::npos &&
        *images % (layout->sizes[kChannel] * layout->sizes[kFrame]) == 0)
        layout->sizes[kSlice] = *images / (layout->sizes[kChannel] * layout->sizes[kFrame]);
    const long double product =
        static_cast<long double>(layout->sizes[0]) * layout->sizes[1] * layout->sizes[2];
    if (images && product != static_cast<long double>(*images))
        throw ScanFailure{"the ImageJ description gives " + CountsText(*layout, "frame") + ", not the " +
                          std::to_string(*images) + " images it names"};
    if (product > static_cast<long double>(std::numeric_limits<uint32_t>::max()))
        throw ScanFailure{"the ImageJ description gives " + CountsText(*layout, "frame") +
                          ", more images than a TIFF file holds"};
    const std::array<double, 2> pixel = PixelSizes(tif);
    uint16_t resolutionUnit = RESUNIT_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);
    // Without a unit the numbers stay as given, relative to each other;
    // without a step the voxels are taken to be as deep as they are wide.
    const double scale = !unit.empty()                          ? MillimetresPer(unit).value_or(1)
                         : resolutionUnit == RESUNIT_CENTIMETER ? 10
                                                                : 1;
    layout->spacing = {pixel[0] * scale, pixel[1] * scale, zStep.value_or(pixel[0]) * scale};
}

// ImageJ keeps each channel's display table in two private tags: the byte
// counts of its entries (50838) and the entries themselves (50839), a
// header of (type, count) pairs first. A table is 256 reds, greens and
// blues; the channel's colour is its brightest entry. Empty when the file
// has no tables, or not one for each channel.
std::vector<int32_t> ImageJColours(TIFF* tif, uint64_t channels) {
    constexpr uint32_t kCountsTag = 50838, kDataTag = 50839;
    const TIFFField* countsField = TIFFFindField(tif, kCountsTag, TIFF_ANY);
    const TIFFField* dataField = TIFFFindField(tif, kDataTag, TIFF_ANY);
    // Only the shape every writer uses: other shapes would be read as
    // another type than the library holds.
    const auto variable = [](const TIFFField* field) {
        return field != nullptr && TIFFFieldPassCount(field) && TIFFFieldReadCount(field) == TIFF_VARIABLE2;
    };
    if (!variable(countsField) || !variable(dataField) || TIFFFieldDataType(countsField) != TIFF_LONG ||
        (TIFFFieldDataType(dataField) != TIFF_BYTE && TIFFFieldDataType(dataField) != TIFF_UNDEFINED))
        return {};
    uint32_t countsLength = 0, dataLength = 0;
    const uint32_t* counts = nullptr;
    const uint8_t* data = nullptr;
    if (!TIFFGetField(tif, kCountsTag, &countsLength, &counts) ||
        !TIFFGetField(tif, kDataTag, &dataLength, &data) || counts == nullptr || data == nullptr ||
        countsLength < 1 || dataLength < 4 || counts[0] > dataLength)
        return {};
    const bool bigEndian = std::memcmp(data, "IJIJ", 4) == 0;
    if (!bigEndian && std::memcmp(data, "JIJI", 4) != 0)
        return {};
    const auto word = [&](uint64_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t{data[at + static_cast<uint64_t>(i)]} << (bigEndian ? 8 * (3 - i) : 8 * i);
        return v;
    };
    std::vector<int32_t> colours;
    uint64_t offset = counts[0], entry = 1;
    for (uint64_t at = 4; at + 8 <= counts[0]; at += 8) {
        const uint32_t type = word(at), number = word(at + 4);
        for (uint32_t i = 0; i < number; ++i, ++entry) {
            if (entry >= countsLength || offset + counts[entry] > dataLength)
                return {};
            if (type == 0x6c757473 /* "luts" */ && counts[entry] == 768) {
                const uint8_t* lut = data + offset;
                colours.push_back(int32_t{lut[255]} << 16 | int32_t{lut[511]} << 8 | int32_t{lut[767]});
            }
            offset += counts[entry];
        }
    }
    return colours.size() == channels ? colours : std::vector<int32_t>{};
}

// ---------------------------------------------------------------------------
// OME-XML

struct XmlElement {
    std::string name;  // without its namespace prefix
    bool closing = false;
    std::vector<std::pair<std::string, std::string>> attributes;
    const std::string* Attribute(const std::string& key) const {
        for (const auto& [k, v] : attributes)
            if (k == key)
                return &v;
        return nullptr;
    }
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const size_t end = text.find(';', i);
        const std::string entity = end == std::string::npos ? "" : text.substr(i + 1, end - i - 1);
        static const std::pair<const char*, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        bool known = false;
        for (const auto& [name, c] : kNamed)
            if (entity == name) {
                out += c;
                known = true;
            }
        if (!known && entity.size() > 1 && entity[0] == '#') {
            const long code = entity[1] == 'x' ? std::strtol(entity.c_str() + 2, nullptr, 16)
                                               : std::strtol(entity.c_str() + 1, nullptr, 10);
            if (code > 0 && code < 0x80) {
                out += static_cast<char>(code);
                known = true;
            }
        }
        if (known)
            i = end;
        else
            out += '&';
    }
    return out;
}

// The elements of `xml` in order, each with its attributes; comments,
// processing instructions, CDATA and text are passed over. What is not
// well formed ends the list where it begins.
std::vector<XmlElement> XmlElements(const std::string& xml) {
    std::vector<XmlElement> elements;
    size_t at = 0;
    const auto skipPast = [&](const char* end) {
        const size_t found = xml.find(end, at);
        at = found == std::string::npos ? xml.size() : found + std::strlen(end);
    };
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while ((at = xml.find('<', at)) != std::string::npos) {
        if (xml.compare(at, 4, "<!--") == 0) {
            skipPast("-->");
            continue;
        }
        if (xml.compare(at, 9, "<![CDATA[") == 0) {
            skipPast("]]>");
            continue;
        }
        if (xml.compare(at, 2, "<?") == 0 || xml.compare(at, 2, "<!") == 0) {
            skipPast(">");
            continue;
        }
        XmlElement element;
        ++at;
        if (at < xml.size() && xml[at] == '/') {
            element.closing = true;
            ++at;
        }
        const size_t nameStart = at;
        while (at < xml.size() && !isSpace(xml[at]) && xml[at] != '>' && xml[at] != '/')
            ++at;
        element.name = xml.substr(nameStart, at - nameStart);
        if (const size_t colon = element.name.rfind(':'); colon != std::string::npos)
            element.name = element.name.substr(colon + 1);
        while (true) {
            while (at < xml.size() && isSpace(xml[at]))
                ++at;
            if (at >= xml.size())
                return elements;
            if (xml[at] == '>' || xml[at] == '/') {
                skipPast(">");
                break;
            }
            const size_t keyStart = at;
            while (at < xml.size() && xml[at] != '=' && !isSpace(xml[at]) && xml[at] != '>')
                ++at;
            std::string key = xml.substr(keyStart, at - keyStart);
            while (at < xml.size() && isSpace(xml[at]))
                ++at;
            if (at >= xml.size() || xml[at] != '=')
                return elements;
            ++at;
            while (at < xml.size() && isSpace(xml[at]))
                ++at;
            if (at >= xml.size() || (xml[at] != '"' && xml[at] != '\''))
                return elements;
            const size_t close = xml.find(xml[at], at + 1);
            if (close == std::string::npos)
                return elements;
            if (const size_t colon = key.rfind(':'); colon != std::string::npos)
                key = key.substr(colon + 1);
            element.attributes.emplace_back(key, Unescape(xml.substr(at + 1, close - at - 1)));
            at = close + 1;
        }
        elements.push_back(std::move(element));
    }
    return elements;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The TiffData elements of the first image (`tiffData`, each with the
// UUID inside it or null), as runs of planes in this file, `fileName`.
void ReadTiffData(const std::vector<XmlElement>& elements,
                  const std::vector<std::pair<const XmlElement*, const XmlElement*>>& tiffData,
                  const std::string& fileName, Layout* layout) {
    // A file renamed after it was written still names its old self: where
    // every TiffData of the description names one and the same file, that
    // is this one.
    uint64_t placements = 0, named = 0;
    std::optional<std::string> oneName;
    bool sameName = true;
    for (const XmlElement& e : elements)
        if (!e.closing && e.name == "TiffData") {
            ++placements;
        } else if (const std::string* name =
                       e.closing || e.name != "UUID" ? nullptr : e.Attribute("FileName")) {
            ++named;
            sameName = sameName && (!oneName || *oneName == BaseName(*name));
            oneName = BaseName(*name);
        }
    const std::string self = placements > 0 && named == placements && sameName ? *oneName : fileName;
    std::unordered_map<std::string, size_t> fileIndex;  // the set's other files, by name
    for (const auto& [element, uuid] : tiffData) {
        const XmlElement* e = element;  // named: older compilers cannot capture a structured binding
        Layout::Run run;
        // A set's other files are looked for beside this one, by their
        // names alone: a description may not lead the read elsewhere.
        if (const std::string* name = uuid ? uuid->Attribute("FileName") : nullptr;
            name && BaseName(*name) != self)
            run.file = fileIndex.try_emplace(BaseName(*name), fileIndex.size() + 1).first->second;
        bool given = false;
        const auto number = [&](const char* key, uint64_t* value) {
            const std::string* text = e->Attribute(key);
            if (text != nullptr && !ParseCount(*text, value))
                throw ScanFailure{std::string("the OME TiffData's ") + key + " is \"" + *text +
                                  "\", not a count"};
            given = given || text != nullptr;
            return text != nullptr;
        };
        number("IFD", &run.ifd);
        number("FirstC", &run.first[kChannel]);
        number("FirstZ", &run.first[kSlice]);
        number("FirstT", &run.first[kFrame]);
        uint64_t count = 0;
        if (number("PlaneCount", &count))
            run.count = count;
        else if (given)
            run.count = 1;
        layout->runs.push_back(run);
    }
    layout->files.resize(fileIndex.size() + 1);
    for (const auto& [name, index] : fileIndex)
        layout->files[index] = name;
}

// The first image's Pixels, Channel and TiffData elements of an OME
// description, in the file named `fileName`.
void ReadOme(const std::string& xml, const PageShape& first, const std::string& fileName, Layout* layout) {
    layout->format = "OME-TIFF";
    layout->countsGiven = true;
    layout->exactPages = false;
    const std::vector<XmlElement> elements = XmlElements(xml);
    const XmlElement* pixels = nullptr;
    std::vector<const XmlElement*> channels;
    std::vector<std::pair<const XmlElement*, const XmlElement*>> tiffData;  // with its UUID
    for (const XmlElement& e : elements) {
        if (pixels == nullptr && !e.closing && e.name == "Pixels")
            pixels = &e;
        else if (pixels != nullptr && (e.name == "Pixels" || e.name == "Image"))
            break;
        else if (pixels != nullptr && !e.closing && e.name == "Channel")
            channels.push_back(&e);
        else if (pixels != nullptr && !e.closing && e.name == "TiffData")
            tiffData.emplace_back(&e, nullptr);
        else if (!tiffData.empty() && !e.closing && e.name == "UUID")
            tiffData.back().second = &e;
    }
    if (pixels == nullptr)
        throw ScanFailure{"the OME description has no Pixels element"};
    const auto count = [&](const char* key) {
        const std::string* text = pixels->Attribute(key);
        uint64_t value = 0;
        if (text == nullptr || !ParseCount(*text, &value) || value == 0)
            throw ScanFailure{std::string("the OME Pixels element's ") + key + " is " +
                              (text ? "\"" + *text + "\"" : "missing") + ", not a count"};
        return value;
    };
    const uint64_t sizeX = count("SizeX"), sizeY = count("SizeY"), sizeC = count("SizeC");
    layout->sizes[kSlice] = count("SizeZ");
    layout->sizes[kFrame] = count("SizeT");
    if (sizeX != first.width || sizeY != first.length)
        throw ScanFailure{"the OME description gives planes of " + std::to_string(sizeX) + " x " +
                          std::to_string(sizeY) + ", the pages are " + AreaText(first)};
    if (sizeC % first.samples != 0)
        throw ScanFailure{"the OME description gives " + std::to_string(sizeC) + " channels, pages of " +
                          std::to_string(first.samples) + " samples"};
    layout->sizes[kChannel] = sizeC / first.samples;
    if (static_cast<long double>(layout->sizes[0]) * layout->sizes[1] * layout->sizes[2] >
        static_cast<long double>(std::numeric_limits<uint32_t>::max()))
        throw ScanFailure{"the OME description gives " + CountsText(*layout, "time point") +
                          ", more planes than a TIFF file holds"};
    const std::string* order = pixels->Attribute("DimensionOrder");
    const std::string dimensionOrder = order ? *order : "XYZCT";
    std::array<bool, 3> seen{};
    for (int k = 0; k < 3; ++k) {
        const char letter = dimensionOrder.size() == 5 ? dimensionOrder[static_cast<size_t>(k) + 2] : '?';
        const int axis = letter == 'C' ? kChannel : letter == 'Z' ? kSlice : letter == 'T' ? kFrame : -1;
        if (dimensionOrder.compare(0, 2, "XY") != 0 || axis < 0 || seen[axis])
            throw ScanFailure{"the OME DimensionOrder \"" + dimensionOrder +
                              "\" is not XY followed by Z, C and T in some order"};
        seen[axis] = true;
        layout->order[k] = axis;
    }
    ReadTiffData(elements, tiffData, fileName, layout);
    // Physical sizes in millimetres where every unit is known (OME's
    // default is the micrometre); else the numbers as given, relative.
    std::array<std::optional<double>, 3> given, millimetres;
    bool allKnown = true;
    for (int i = 0; i < 3; ++i) {
        const std::string axis(1, "XYZ"[i]);
        const std::string* text = pixels->Attribute("PhysicalSize" + axis);
        double value = 0;
        if (text == nullptr || !ParseNumber(*text, &value) || !(value > 0))
            continue;
        const std::string* unit = pixels->Attribute("PhysicalSize" + axis + "Unit");
        const std::optional<double> per = MillimetresPer(unit ? *unit : "um");
        allKnown = allKnown && per.has_value();
        given[i] = value;
        millimetres[i] = value * per.value_or(1);
    }
    if (allKnown)
        given = millimetres;
    const double x = given[0].value_or(given[1].value_or(1));
    layout->spacing = {x, given[1].value_or(x), given[2].value_or(x)};
    double step = 0;
    if (const std::string* text = pixels->Attribute("TimeIncrement");
        text && ParseNumber(*text, &step) && step > 0) {
        layout->timeStep = step;
        const std::string* unit = pixels->Attribute("TimeIncrementUnit");
        layout->timeUnit = TimeUnitText(unit ? *unit : "s");
    }
    // Channels by the pages' samples: a Channel element of several samples
    // (RGB) names each of them.
    for (const XmlElement* channel : channels) {
        uint64_t samples = 1;
        if (const std::string* text = channel->Attribute("SamplesPerPixel"))
            if (!ParseCount(*text, &samples) || samples == 0 || samples > sizeC)
                samples = 1;
        const std::string* name = channel->Attribute("Name");
        const std::string* colour = channel->Attribute("Color");
        char* end = nullptr;
        const long long rgba = colour ? std::strtoll(colour->c_str(), &end, 10) : 0;
        const bool coloured = colour && !colour->empty() && *end == '\0' && samples == 1 &&
                              rgba >= std::numeric_limits<int32_t>::min() &&
                              rgba <= std::numeric_limits<uint32_t>::max();
        for (uint64_t s = 0; s < samples && layout->names.size() < sizeC; ++s) {
            layout->names.push_back(name ? *name : "");
            layout->colours.push_back(
                coloured ? static_cast<int32_t>((static_cast<uint32_t>(rgba) >> 8) & 0xFFFFFF) : -1);
        }
    }
}

// ---------------------------------------------------------------------------
// Samples

[[noreturn]] void PageFails(const TiffFile& file, uint64_t page, const std::string& otherwise) {
    throw ScanFailure{PageName(page) + " cannot be read: " + file.Reason(otherwise)};
}

// One page into place: `planes[s]` is where sample s of its first pixel
// goes, each plane width x length samples of `bytes`, x fastest. `spare`:
// bytes of memory left for a tile's buffer.
void ReadPage(TiffFile& file, uint64_t page, const std::vector<char*>& planes, uint64_t bytes,
              uint64_t spare) {
    TIFF* tif = file.get();
    const PageShape s = ShapeOf(tif);
    if (s.photometric == PHOTOMETRIC_YCBCR && s.compression == COMPRESSION_JPEG)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const bool separate = s.planar == PLANARCONFIG_SEPARATE && s.samples > 1;
    const uint64_t filePlanes = separate ? s.samples : 1;
    const uint64_t inBlock = separate ? 1 : s.samples;  // samples per pixel within a strip or tile
    const uint64_t pixelBytes = inBlock * bytes;
    const uint64_t width = s.width, length = s.length;
    // A block of `columns` x `rows` pixels, `pitch` pixels a row, decoded
    // into `block`, to its place at (x0, y0) of the file's plane `plane`.
    const auto place = [&](const char* block, uint64_t pitch, uint64_t x0, uint64_t y0, uint64_t columns,
                           uint64_t rows, uint64_t plane) {
        for (uint64_t r = 0; r < rows; ++r)
            for (uint64_t c = 0; c < inBlock; ++c) {
                char* to = planes[plane + c] + ((y0 + r) * width + x0) * bytes;
                const char* from = block + (r * pitch * inBlock + c) * bytes;
                if (inBlock == 1) {
                    std::memcpy(to, from, columns * bytes);
                    continue;
                }
                for (uint64_t x = 0; x < columns; ++x)
                    std::memcpy(to + x * bytes, from + x * pixelBytes, bytes);
            }
    };
    std::vector<char> block;
    file.Forget();
    if (!s.tiled) {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        const uint64_t rps = std::clamp<uint64_t>(rowsPerStrip, 1, length);
        const uint64_t strips = (length + rps - 1) / rps;
        if (TIFFNumberOfStrips(tif) < strips * filePlanes)
            PageFails(file, page,
                      "it has " + std::to_string(TIFFNumberOfStrips(tif)) + " strips, its rows need " +
                          std::to_string(strips * filePlanes));
        if (inBlock > 1)
            block.resize(rps * width * pixelBytes);
        for (uint64_t plane = 0; plane < filePlanes; ++plane)
            for (uint64_t k = 0; k < strips; ++k) {
                const uint64_t rows = std::min(rps, length - k * rps);
                const auto want = static_cast<tmsize_t>(rows * width * pixelBytes);
                char* into = inBlock > 1 ? block.data() : planes[plane] + k * rps * width * bytes;
                const tmsize_t got =
                    TIFFReadEncodedStrip(tif, static_cast<uint32_t>(k + plane * strips), into, want);
                if (got != want)
                    PageFails(file, page,
                              "strip " + std::to_string(k + plane * strips) + " is shorter than its rows");
                if (inBlock > 1)
                    place(into, width, 0, k * rps, width, rows, 0);
            }
        return;
    }
    uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileBytes = TIFFTileSize(tif);
    if (tileWidth == 0 || tileLength == 0 || tileBytes <= 0 ||
        static_cast<uint64_t>(tileBytes) < uint64_t{tileWidth} * tileLength * pixelBytes)
        PageFails(file, page,
                  "its tiles of " + std::to_string(tileWidth) + " x " + std::to_string(tileLength) +
                      " cannot be decoded");
    // A tile may overhang its page, but not by more than the memory allows.
    if (static_cast<uint64_t>(tileBytes) > spare)
        PageFails(file, page,
                  "its tiles of " + std::to_string(tileWidth) + " x " + std::to_string(tileLength) +
                      " need " + BytesText(static_cast<long double>(tileBytes)) + " each, " +
                      BytesText(spare) + " is free");
    block.resize(static_cast<size_t>(tileBytes));
    for (uint64_t plane = 0; plane < filePlanes; ++plane)
        for (uint64_t y = 0; y < length; y += tileLength)
            for (uint64_t x = 0; x < width; x += tileWidth) {
                const uint32_t tile = TIFFComputeTile(tif, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                                      0, static_cast<uint16_t>(plane));
                if (tile >= TIFFNumberOfTiles(tif) ||
                    TIFFReadEncodedTile(tif, tile, block.data(), tileBytes) != tileBytes)
                    PageFails(file, page, "tile " + std::to_string(tile) + " cannot be decoded");
                place(block.data(), tileWidth, x, y, std::min<uint64_t>(tileWidth, width - x),
                      std::min<uint64_t>(tileLength, length - y), plane);
            }
}

// ---------------------------------------------------------------------------
// Mapped samples

// Where the current page's samples begin in the file when they lie there as
// one run, row after row, in the machine's byte order and needing no
// decoding: the values exactly as a strip read would give them.
std::optional<uint64_t> PlainRun(TIFF* tif, uint64_t bytes) {
    const PageShape s = ShapeOf(tif);
    uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
    if (s.tiled || s.compression != COMPRESSION_NONE || s.samples != 1 || fillOrder != FILLORDER_MSB2LSB ||
        (bytes > 1 && TIFFIsByteSwapped(tif)))
        return std::nullopt;
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const uint64_t length = s.length, rps = std::clamp<uint64_t>(rowsPerStrip, 1, length);
    const uint64_t strips = (length + rps - 1) / rps, rowBytes = uint64_t{s.width} * bytes;
    if (TIFFNumberOfStrips(tif) < strips)
        return std::nullopt;
    const uint64_t start = TIFFGetStrileOffset(tif, 0);
    for (uint64_t k = 0; k < strips; ++k) {
        const auto strip = static_cast<uint32_t>(k);
        const uint64_t rows = std::min(rps, length - k * rps);
        if (TIFFGetStrileOffset(tif, strip) != start + k * rps * rowBytes ||
            TIFFGetStrileByteCount(tif, strip) < rows * rowBytes)
            return std::nullopt;
    }
    return start;
}

// The stored values of the whole stack as the file itself, mapped, when
// every plane's page (`placed`, as PlaneWalk takes it) lies in the file
// where the values array would hold it (`destination(plane)` pages from
// the start), one page after another: so stacks are written by most
// microscopy software. Null otherwise, and the pages are decoded instead. A file cut short under the mapping
// ends the reading child, which is then reported as a damaged file. The file is read in here, a piece at a
// time, each piece told to `progress`: from a slow disk that is the whole read.
std::shared_ptr<const char[]> MapPlainStack(TiffFile& file, const PageShape& first, uint64_t bytes,
                                            uint64_t used, uint64_t totalBytes, const Placements& placed,
                                            const std::function<uint64_t(uint64_t)>& destination,
                                            ScanProgress progress, void* progressContext) {
    TIFF* tif = file.get();
    if (first.tiled || first.compression != COMPRESSION_NONE || first.samples != 1 || totalBytes == 0)
        return nullptr;
    const uint64_t pageBytes = uint64_t{first.width} * first.length * bytes;
    if (!TIFFSetDirectory(tif, 0))
        return nullptr;
    PlaneWalk walk(file, placed, used);
    uint64_t met = 0, base = 0, page = 0, plane = 0;
    while (walk.Next(&page, &plane)) {
        const std::optional<uint64_t> run = PlainRun(tif, bytes);
        const uint64_t want = destination(plane) * pageBytes;
        if (!run || (met == 0 ? *run < want : *run != base + want))
            return nullptr;
        if (met == 0)
            base = *run - want;
        ++met;
    }
    struct stat info {};
    const int fd = TIFFFileno(tif);
    // Values where their type may not be read (an odd offset) are decoded.
    if (met < used || base % bytes != 0 || ::fstat(fd, &info) != 0 ||
        static_cast<uint64_t>(info.st_size) < base || static_cast<uint64_t>(info.st_size) - base < totalBytes)
        return nullptr;
    const uint64_t pageSize = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t skip = base % pageSize, length = skip + totalBytes;
    if (length > std::numeric_limits<size_t>::max())
        return nullptr;
    void* map = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_PRIVATE, fd,
                       static_cast<off_t>(base - skip));
    if (map == MAP_FAILED)
        return nullptr;
    ::madvise(map, static_cast<size_t>(length), MADV_SEQUENTIAL);
    // Where the system cannot take pages ahead, they come at the first pass over the values.
    constexpr uint64_t kPiece = uint64_t{64} << 20;
    for (uint64_t at = 0; at < length; at += kPiece) {
        ::madvise(static_cast<char*>(map) + at, static_cast<size_t>(std::min(kPiece, length - at)),
                  MADV_POPULATE_READ);
        if (progress != nullptr)
            progress(static_cast<double>(std::min(length, at + kPiece)) / static_cast<double>(length),
                     progressContext);
    }
    return std::shared_ptr<const char[]>(static_cast<const char*>(map) + skip, [map, length](const char*) {
        ::munmap(map, static_cast<size_t>(length));
    });
}

// ---------------------------------------------------------------------------
// Sets of files

// The file named `name` beside the file at `path`, and its size; refused
// as `what` + "is not beside it" unless it is a regular file.
std::string BesideFile(const std::string& path, const std::string& name, const std::string& what,
                       uint64_t* size = nullptr) {
    const size_t slash = path.find_last_of('/');
    const std::string beside =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name;
    struct stat info {};
    if (::stat(beside.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        throw ScanFailure{what + "is not beside it"};
    if (size != nullptr)
        *size = static_cast<uint64_t>(info.st_size);
    return beside;
}

// Opens file `name` of the set that the file at `path` belongs to: beside it.
std::unique_ptr<TiffFile> OpenSetFile(const std::string& path, const std::string& name, uint64_t budget) {
    const std::string beside =
        BesideFile(path, name, "the OME description places planes in \"" + name + "\", which ");
    auto file = std::make_unique<TiffFile>(beside, budget);
    if (file->get() == nullptr)
        throw ScanFailure{"the OME description places planes in \"" + name +
                          "\", which cannot be opened: " + file->Reason("its header is damaged")};
    return file;
}

// Runs `work` on file `name` of a set ("" for the file opened): what it
// refuses names the file.
template <typename Work>
void InSetFile(const std::string& name, Work work) {
    try {
        work();
    } catch (ScanFailure& failure) {
        if (!name.empty() && failure.text.rfind("the OME description places planes in", 0) != 0)
            failure.text = "in \"" + name + "\", " + failure.text;
        throw;
    }
}

// The description of the set that the file at `path` belongs to: its own
// (`text`), unless it holds planes alone and names another file for the
// description (OME's BinaryOnly): a companion file of OME-XML, or another
// TIFF file of the set, beside it.
std::string SetDescription(const std::string& path, const std::string& text, uint64_t budget) {
    const std::string* named = nullptr;
    const std::vector<XmlElement> elements = XmlElements(text);
    for (const XmlElement& e : elements)
        if (e.name == "Pixels")
            return text;
        else if (!e.closing && e.name == "BinaryOnly" && named == nullptr)
            named = e.Attribute("MetadataFile");
    if (named == nullptr)
        return text;
    const std::string name = BaseName(*named);
    const std::string what = "the OME description is in \"" + name + "\", which ";
    uint64_t size = 0;
    const std::string beside = BesideFile(path, name, what, &size);
    if (IsTiffFile(beside)) {
        const std::unique_ptr<TiffFile> other = OpenSetFile(path, name, budget);
        char* description = nullptr;
        if (!TIFFGetField(other->get(), TIFFTAG_IMAGEDESCRIPTION, &description) || description == nullptr)
            throw ScanFailure{what + "has no description"};
        return description;
    }
    // OME-XML runs to a few megabytes for the largest sets.
    constexpr uint64_t kMostBytes = 64u << 20;
    if (size > std::min(kMostBytes, budget))
        throw ScanFailure{what + "holds " + BytesText(static_cast<long double>(size)) +
                          ", more than a description"};
    std::ifstream in(beside, std::ios::binary);
    std::string xml(static_cast<size_t>(size), '\0');
    if (!in.read(xml.data(), static_cast<std::streamsize>(xml.size())))
        throw ScanFailure{what + "cannot be read"};
    return xml;
}

}  // namespace

bool IsTiffFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[4] = {};
    if (!in.read(head, sizeof(head)))
        return false;
    for (const char* magic : {"II*\0", "MM\0*", "II+\0", "MM\0+"})
        if (std::memcmp(head, magic, 4) == 0)
            return true;
    return false;
}

void ReadTiff(const std::string& path, uint64_t budget, const ValueChoice& choice, ScanVolume* volume,
              ScanProgress progress, void* progressContext) {
    TiffFile file(path, budget);
    TIFF* tif = file.get();
    if (tif == nullptr)
        throw ScanFailure{"the TIFF file cannot be opened: " + file.Reason("its header is damaged")};
    // The first full-size page holds the description.
    while (IsReducedImage(tif))
        if (!NextPage(file, 1))
            throw ScanFailure{"the file holds only reduced images (thumbnails), no full page"};
    const PageShape first = ShapeOf(tif);
    CheckFirstPage(first);
    CheckPage(first, first, 0);
    const SampleType type = *TypeOf(first);

    Layout layout;
    char* description = nullptr;
    const std::string text =
        TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description ? description : "";
    if (text.rfind("ImageJ=", 0) == 0)
        ReadImageJ(tif, text, &layout);
    else if (const size_t ome = text.find("OME"); ome != std::string::npos && ome < 512 && ome > 0 &&
                                                  (text[ome - 1] == '<' || text[ome - 1] == ':'))
        ReadOme(SetDescription(path, text, budget), first, BaseName(path), &layout);
    else
        PlainSpacing(tif, &layout);
    if (layout.format == "ImageJ TIFF")
        layout.colours = ImageJColours(tif, layout.sizes[kChannel] * first.samples);

    // Without OME's TiffData the full-size pages are the planes in the page
    // order; with them, any directory may hold any plane.
    uint64_t pages = 0, held = 0;
    const std::vector<std::string>& setFiles = layout.files;
    std::vector<std::vector<bool>> fits(setFiles.size());
    std::vector<uint64_t> directories;
    if (layout.runs.empty())
        pages = held = CountPages(file, first,
                                  layout.countsGiven ? layout.Pages() : std::numeric_limits<uint64_t>::max());
    for (size_t f = 0; f < setFiles.size() && !layout.runs.empty(); ++f)
        InSetFile(setFiles[f], [&] {
            std::unique_ptr<TiffFile> other = f == 0 ? nullptr : OpenSetFile(path, setFiles[f], budget);
            directories.push_back(CountDirectories(f == 0 ? file : *other, first, &fits[f], &pages));
            held += directories.back();
        });
    if (!layout.countsGiven)
        layout.sizes[kSlice] = pages;
    const uint64_t used = layout.Pages();
    if (layout.countsGiven && (held < used || (layout.exactPages && held != used)))
        throw ScanFailure{"the " + std::string(layout.format == "OME-TIFF" ? "OME" : "ImageJ") +
                          " description gives " +
                          CountsText(layout, layout.format == "OME-TIFF" ? "time point" : "frame") + " (" +
                          std::to_string(used) + " pages), but the " +
                          (setFiles.size() > 1 ? "set's " + std::to_string(setFiles.size()) + " files hold "
                                               : std::string("file holds ")) +
                          std::to_string(held)};
    // By file of the set; none where page k is plane k.
    const std::vector<Placements> placed =
        layout.runs.empty() ? std::vector<Placements>{} : Place(layout, setFiles, directories);
    const Placements none;
    const auto placedIn = [&](size_t f) -> const Placements& { return placed.empty() ? none : placed[f]; };
    for (size_t f = 0; f < placed.size(); ++f)
        InSetFile(setFiles[f], [&] {
            std::unique_ptr<TiffFile> other;
            for (const auto& [directory, plane] : placed[f]) {
                if (fits[f][directory])
                    continue;
                if (f > 0 && other == nullptr)
                    other = OpenSetFile(path, setFiles[f], budget);
                TiffFile& in = f == 0 ? file : *other;
                if (!TIFFSetDirectory(in.get(), static_cast<tdir_t>(directory)))
                    throw ScanFailure{PageName(directory) +
                                      " cannot be read again: " + in.Reason("the file changed")};
                CheckPage(first, ShapeOf(in.get()), directory);
            }
        });
    const uint64_t channels = layout.sizes[kChannel] * first.samples;
    const uint64_t frames = layout.sizes[kFrame];
    if (channels > kMostChannels)
        throw ScanFailure{"the stack has " + std::to_string(channels) + " channels; at most " +
                          std::to_string(kMostChannels) + " can be shown"};

    Grid grid;
    grid.dims = {first.width, first.length, layout.sizes[kSlice]};
    grid.spacing = layout.spacing;
    // x along the patient's left, y towards the feet, z towards the back:
    // the program shows that as x to the right, y down and z away from the
    // eye, the way the pages are seen one after another.
    grid.directions = {{{1, 0, 0}, {0, 0, 1}, {0, -1, 0}}};
    CheckVoxelSize(grid);
    const uint64_t bytes = SampleBytes(type);
    // The stored samples, and the 12-bit result beside them: made in pieces
    // as they cross to the parent, which holds it whole.
    const long double samples = static_cast<long double>(first.width) * first.length *
                                static_cast<long double>(used) * static_cast<long double>(first.samples);
    const long double need = samples * static_cast<long double>(bytes + 2);
    if (need > static_cast<long double>(budget)) {
        std::string size = SizeText({grid.dims[0], grid.dims[1], grid.dims[2]}) + " samples";
        if (channels > 1)
            size += " x " + std::to_string(channels) + " channels";
        if (frames > 1)
            size += " x " + std::to_string(frames) + " time points";
        throw ScanFailure{"too large: " + size + " of " + SampleTypeName(type) + " need " + BytesText(need) +
                          " of memory, " + BytesText(budget) + " is free"};
    }
    const uint64_t gridSamples = grid.dims[0] * grid.dims[1] * grid.dims[2];
    const uint64_t pageSamples = grid.dims[0] * grid.dims[1];
    const uint64_t totalBytes = gridSamples * channels * frames * bytes;
    // Where sample s of the page's first pixel goes, in pages from the start.
    const auto planeOf = [&](const std::array<uint64_t, 3>& at, uint64_t s) {
        const uint64_t channel = at[kChannel] * first.samples + s;
        return (channel * frames + at[kFrame]) * layout.sizes[kSlice] + at[kSlice];
    };
    // Pages that lie in one file as the samples would lie in memory are
    // used where they lie.
    std::shared_ptr<const char[]> values =
        setFiles.size() > 1 ? nullptr
                            : MapPlainStack(
                                  file, first, bytes, used, totalBytes, placedIn(0),
                                  [&](uint64_t plane) { return planeOf(PlaceOf(layout, plane), 0); },
                                  progress, progressContext);
    if (values == nullptr) {
        std::unique_ptr<char[]> read = AllocateScanBuffer(totalBytes);
        std::vector<char*> planes(first.samples);
        uint64_t met = 0;
        for (size_t f = 0; f < setFiles.size(); ++f)
            InSetFile(setFiles[f], [&] {
                std::unique_ptr<TiffFile> other = f == 0 ? nullptr : OpenSetFile(path, setFiles[f], budget);
                TiffFile& from = f == 0 ? file : *other;
                if (!TIFFSetDirectory(from.get(), 0))
                    throw ScanFailure{"the first page cannot be read again: " +
                                      from.Reason("the file changed")};
                PlaneWalk walk(from, placedIn(f), placed.empty() ? used : placed[f].size());
                uint64_t page = 0, plane = 0;
                while (walk.Next(&page, &plane)) {
                    const std::array<uint64_t, 3> at = PlaceOf(layout, plane);
                    for (uint64_t s = 0; s < first.samples; ++s)
                        planes[s] = read.get() + planeOf(at, s) * pageSamples * bytes;
                    ReadPage(from, page, planes, bytes, budget - static_cast<uint64_t>(need));
                    ++met;
                    // A hundred steps at most: each crosses to the parent.
                    if (progress != nullptr && (met * 100 / used != (met - 1) * 100 / used))
                        progress(static_cast<double>(met) / static_cast<double>(used), progressContext);
                }
            });
        if (met < used)
            throw ScanFailure{"the file changed while it was read: " + std::to_string(met) + " pages, not " +
                              std::to_string(used)};
        values = std::move(read);
    }

    FinishScan(type, std::move(values), grid, choice, false, volume, static_cast<uint32_t>(channels),
               static_cast<uint32_t>(frames));
    const bool rgb = first.photometric == PHOTOMETRIC_RGB ||
                     (first.photometric == PHOTOMETRIC_YCBCR && first.compression == COMPRESSION_JPEG);
    for (uint64_t c = 0; c < channels; ++c) {
        VolumeChannel& channel = volume->channels[c];
        if (c < layout.names.size())
            channel.name = layout.names[c];
        const uint64_t sample = c % first.samples;
        if (c < layout.colours.size() && layout.colours[c] >= 0)
            channel.colour = layout.colours[c];
        else if (rgb && first.samples >= 3 && sample < 3)
            channel.colour = sample == 0 ? 0xFF0000 : sample == 1 ? 0x00FF00 : 0x0000FF;
    }
    volume->timeStep = layout.timeStep;
    volume->timeUnit = layout.timeUnit;
    volume->format = layout.format;
    if (pages > used)
        volume->notice = std::to_string(pages - used) +
                         " pages of further images left out; shown: the first " + "image, " +
                         std::to_string(used) + (used == 1 ? " page" : " pages");
}

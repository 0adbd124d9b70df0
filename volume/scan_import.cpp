// Scans through ITK's readers: the file's own header gives the grid, the
// sample type, the spacing and the directions; the samples are read once in
// their stored type, then turned to the program's orientation and mapped onto
// 12 bits in one pass.
//
//   Library output ........ ITK's output window and GDCM's streams, kept
//                           (scan_library_output.cpp)
//   Recognising a file .... each reader's CanReadFile, never the name alone
//   Orientation, mapping .. the permutation and flips nearest the directions;
//                           [min, max] -> 0..4095 (scan_mapping.h)
//   Single files .......... NIfTI, NRRD, MetaImage, one DICOM file
//   DICOM series .......... the file's series in its folder, by position
#include "volume/scan_import.h"
#include "volume/scan_data_files.h"
#include "volume/scan_dicom_lengths.h"
#include "volume/scan_header_text.h"
#include "volume/scan_library_output.h"
#include "volume/scan_mapping.h"
#include "volume/scan_nifti2.h"
#include "volume/scan_nifti_length.h"
#include "volume/scan_reader.h"
#include "volume/scan_samples.h"
#include "volume/scan_tiff.h"
#include "volume/zarr_store.h"

#include <gdcmSerieHelper.h>
#include <itkGDCMImageIO.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <unordered_set>

namespace {

using namespace scan_mapping;
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

bool SkipDicom = false;

Family RecognisedFamily(const std::string& path) {
    // Only regular files: a reader that opens a FIFO would wait for a writer.
    if (!IsRegularFile(path))
        return Family::None;
    for (Family family : {Family::Nifti, Family::Nrrd, Family::Meta, Family::Dicom}) {
        if (family == Family::Dicom && SkipDicom)
            break;
        try {
            if (MakeReader(family)->CanReadFile(path.c_str()))
                return family;
        } catch (const itk::ExceptionObject&) {
        }
    }
    return Family::None;
}

// One DICOM series of a folder: its files sorted by slice position, and its
// Series Instance UID (series of one UID are set apart by size or kind).
struct DicomSeriesFiles {
    std::vector<std::string> files;
    std::string uid;
};

std::string SeriesUidOf(const gdcm::File& file) {
    const gdcm::Tag tag(0x0020, 0x000e);
    const gdcm::DataSet& tags = file.GetDataSet();
    const gdcm::ByteValue* bytes =
        tags.FindDataElement(tag) ? tags.GetDataElement(tag).GetByteValue() : nullptr;
    if (bytes == nullptr)
        return {};
    std::string uid(bytes->GetPointer(), bytes->GetLength());
    while (!uid.empty() && (uid.back() == '\0' || uid.back() == ' '))
        uid.pop_back();
    return uid;
}

// The DICOM series of a folder, each sorted by slice position.
std::vector<DicomSeriesFiles> DicomSeries(const std::string& folder) {
    // The library reads every file of the folder to sort them into series,
    // believing their lengths: a forged one is found here first.
    std::error_code ec;
    std::unordered_set<std::string> unfollowable;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0)
            unfollowable.insert(entry.path().filename().string());
        const std::string problem = CheckDicomLengths(entry.path().string());
        if (!problem.empty())
            throw ScanFailure{problem + " (" + entry.path().string() + ")"};
    }
    // The library's listing stops at the first link it cannot follow (a
    // loop, a link to nothing) and drops every file after it. Such a folder
    // is listed through a private one holding links to its other entries;
    // the names are then given back in the real folder.
    std::string listed = folder;
    if (!unfollowable.empty()) {
        char pattern[] = "/tmp/tamlo-series-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) {
            listed = pattern;
            for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
                const std::string name = entry.path().filename().string();
                if (unfollowable.count(name) == 0)
                    std::filesystem::create_symlink(std::filesystem::absolute(entry.path(), ec),
                                                    listed + "/" + name, ec);
            }
        }
    }
    // The library's own grouping, walked once: asking it for each series by
    // its identifier walks every series again (quadratic in their number).
    std::vector<DicomSeriesFiles> series;
    gdcm::SerieHelper helper;
    helper.SetUseSeriesDetails(true);
    helper.CreateDefaultUniqueSeriesIdentifier();
    helper.SetDirectory(listed, false);
    for (gdcm::FileList* list = helper.GetFirstSingleSerieUIDFileSet(); list != nullptr;
         list = helper.GetNextSingleSerieUIDFileSet()) {
        if (list->empty())
            continue;
        helper.OrderFileList(list);
        DicomSeriesFiles one;
        one.uid = SeriesUidOf(*list->front());
        for (const auto& file : *list)
            one.files.push_back(listed == folder ? file->filename
                                                 : (std::filesystem::path(folder) /
                                                    std::filesystem::path(file->filename).filename())
                                                       .string());
        series.push_back(std::move(one));
    }
    if (listed != folder)
        std::filesystem::remove_all(listed, ec);
    return series;
}

// ---------------------------------------------------------------------------
// Reading

// The type of a stored sample, if we map it.
std::optional<SampleType> SampleTypeOf(itk::IOComponentEnum type) {
    using C = itk::IOComponentEnum;
    switch (type) {
        case C::UCHAR:
            return SampleType::UInt8;
        case C::CHAR:
            return SampleType::Int8;
        case C::USHORT:
            return SampleType::UInt16;
        case C::SHORT:
            return SampleType::Int16;
        case C::UINT:
            return SampleType::UInt32;
        case C::INT:
            return SampleType::Int32;
        case C::ULONG:
        case C::ULONGLONG:
            return SampleType::UInt64;
        case C::LONG:
        case C::LONGLONG:
            return SampleType::Int64;
        case C::FLOAT:
            return SampleType::Float32;
        case C::DOUBLE:
            return SampleType::Float64;
        default:
            return std::nullopt;
    }
}

// How many time points of `pointBytes` each `budget` holds, for a refusal.
std::string TimePointsThatFit(long double pointBytes, uint64_t budget) {
    const long double fit = std::floor(static_cast<long double>(budget) / pointBytes);
    return "; " + std::to_string(static_cast<uint64_t>(fit)) +
           (fit == 1 ? " time point fits" : " time points fit");
}

// What a header says beyond the grid: its channels (values per sample) and
// time points (a fourth axis).
struct SampleLayout {
    uint32_t channels = 1, timePoints = 1;
    bool interleaved = true;  // a sample's channels side by side, else grid after grid
    double timeStep = 0;      // the fourth axis' spacing, 0 when not given
};

// Refuses what cannot be shown, from the header alone: too many values per
// sample, axes beyond a fourth (time), a type we do not map, a grid too
// large for the memory that reading it would need. A fourth axis of one
// point is a plain volume.
Grid CheckHeader(itk::ImageIOBase& io, uint64_t memoryBudget, uint64_t extraBytesPerSample,
                 uint64_t componentBytes, SampleLayout* layout, bool fifthAxisChannels = false) {
    const unsigned dimensions = io.GetNumberOfDimensions();
    // A NIfTI file's fifth axis (dim[5]) holds the values of a sample,
    // stored after all time points: the library gives it as an axis.
    const bool channelAxis = fifthAxisChannels && dimensions > 4 && io.GetNumberOfComponents() == 1;
    const uint64_t components = channelAxis ? io.GetDimensions(4) : io.GetNumberOfComponents();
    if (components == 0 || components > kMostScanChannels) {
        throw ScanFailure{itk::ImageIOBase::GetPixelTypeAsString(io.GetPixelType()) + " image with " +
                          std::to_string(components) + " values per sample; at most " +
                          std::to_string(kMostScanChannels) + " channels can be read"};
    }
    std::vector<uint64_t> sizes;
    for (unsigned i = 0; i < dimensions; ++i)
        sizes.push_back(io.GetDimensions(i));
    for (unsigned i = channelAxis ? 5 : 4; i < dimensions; ++i) {
        if (sizes[i] != 1) {
            throw ScanFailure{std::to_string(dimensions) + "-D image (" + SizeText(sizes) +
                              "); only 3-D volumes, with channels and a time axis, can be shown"};
        }
    }
    const std::optional<SampleType> type = SampleTypeOf(io.GetComponentType());
    if (!type) {
        throw ScanFailure{"samples of type " +
                          itk::ImageIOBase::GetComponentTypeAsString(io.GetComponentType()) +
                          " are not supported"};
    }
    Grid grid;
    long double samples = 1;
    for (unsigned i = 0; i < std::min(dimensions, 3u); ++i) {
        grid.dims[i] = sizes[i];
        samples *= static_cast<long double>(sizes[i]);
        const double spacing = io.GetSpacing(i);
        // Zero or negative: not given. What is not finite is refused below.
        grid.spacing[i] = spacing > 0 || !std::isfinite(spacing) ? spacing : 1.0;
        const std::vector<double> direction = io.GetDirection(i);
        for (unsigned p = 0; p < 3; ++p)
            grid.directions[p][i] = p < direction.size() ? direction[p] : (p == i ? 1.0 : 0.0);
    }
    const uint64_t timePoints = dimensions > 3 ? sizes[3] : 1;
    if (samples == 0 || timePoints == 0)
        throw ScanFailure{"the image has no samples (" + SizeText(sizes) + ")"};
    if (timePoints > kMostScanTimePoints)
        throw ScanFailure{"the time axis has " + std::to_string(timePoints) + " points; at most " +
                          std::to_string(kMostScanTimePoints) + " can be read"};
    CheckVoxelSize(grid);
    layout->channels = static_cast<uint32_t>(components);
    layout->interleaved = !channelAxis;
    layout->timePoints = static_cast<uint32_t>(timePoints);
    const double step = dimensions > 3 ? io.GetSpacing(3) : 0;
    layout->timeStep = std::isfinite(step) && step > 0 ? step : 0;
    // Channels are parted after the read through a buffer the size of all
    // but one of them.
    const long double values = samples * static_cast<long double>(timePoints * components);
    const long double partBytes = components > 1 && !channelAxis ? static_cast<long double>(componentBytes) *
                                                                       (components - 1) / components
                                                                 : 0;
    const long double need =
        values * (static_cast<long double>(componentBytes + extraBytesPerSample) + partBytes);
    if (need > static_cast<long double>(memoryBudget)) {
        std::string counts = SizeText(sizes);
        if (components > 1)
            counts += " x " + std::to_string(components) + " channels";
        throw ScanFailure{"too large: " + counts + " samples of " + SampleTypeName(*type) + " need " +
                          BytesText(need) + " of memory, " + BytesText(memoryBudget) + " is free" +
                          (timePoints > 1 ? TimePointsThatFit(need / timePoints, memoryBudget) : "")};
    }
    return grid;
}

// DICOM images are shown as one channel at one time point.
void RefuseChannelsInDicom(itk::ImageIOBase& io, const SampleLayout& layout) {
    if (layout.channels != 1)
        throw ScanFailure{itk::ImageIOBase::GetPixelTypeAsString(io.GetPixelType()) + " image with " +
                          std::to_string(layout.channels) +
                          " values per sample; only single-valued (scalar) DICOM images can be shown"};
    if (layout.timePoints != 1)
        throw ScanFailure{"a DICOM image with " + std::to_string(layout.timePoints) +
                          " time points; only 3-D DICOM images can be shown"};
}

// DICOM's Modality says CT.
bool DicomSaysCt(itk::ImageIOBase& io) {
    std::string modality;
    if (!itk::ExposeMetaData<std::string>(io.GetMetaDataDictionary(), "0008|0060", modality))
        return false;
    modality.erase(std::remove(modality.begin(), modality.end(), ' '), modality.end());
    return modality == "CT";
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

// MetaImage's compressed samples, inflated here (its library leaves what a
// stream does not give as whatever memory held), then put in this machine's
// byte order as the library would.
void InflateMetaImage(const std::string& path, itk::MetaImageIO& io, char* stored, uint64_t bytes) {
    if (const std::string problem = InflateMetaImageData(path, stored, bytes); !problem.empty())
        throw ScanFailure{problem};
    const uint64_t size = io.GetComponentSize();
    const bool bigEndianHere = std::endian::native == std::endian::big;
    if (size > 1 && io.GetMetaImagePointer()->BinaryDataByteOrderMSB() != bigEndianHere)
        for (uint64_t at = 0; at + size <= bytes; at += size)
            std::reverse(stored + at, stored + at + size);
}

// The DICOM library believes every length it is told; each file's are
// checked first (`named`: the file is one slice of several, so say which).
void CheckDicomFile(const std::string& path, bool named) {
    const std::string problem = CheckDicomLengths(path);
    if (!problem.empty())
        throw ScanFailure{named ? problem + " (" + path + ")" : problem};
}

void ReadSingleFile(const std::string& path, Family family, uint64_t budget, const ValueChoice& choice,
                    ScanVolume* volume) {
    if (family == Family::Dicom)
        CheckDicomFile(path, false);
    if (family == Family::Nifti)
        if (const std::string problem = CheckNiftiGeometry(path); !problem.empty())
            throw ScanFailure{problem};
    if (family == Family::Meta || family == Family::Nrrd)
        if (const std::string problem =
                family == Family::Meta ? CheckMetaImageHeader(path) : CheckNrrdHeader(path);
            !problem.empty())
            throw ScanFailure{problem};
    itk::ImageIOBase::Pointer io = MakeReader(family);
    io->SetFileName(path);
    io->ReadImageInformation();
    const uint64_t componentBytes = io->GetComponentSize();
    // The stored samples, and the 12-bit result beside them: made in pieces
    // here as they cross to the parent, which holds it whole.
    SampleLayout layout;
    const Grid grid = CheckHeader(*io, budget, 2, componentBytes, &layout, family == Family::Nifti);
    if (family == Family::Dicom)
        RefuseChannelsInDicom(*io, layout);
    // The header alone has been read so far; a data file that never ends
    // (a pipe, a device) or falls short is refused before the samples are.
    if (family != Family::Dicom) {
        const std::string dataProblem = CheckDetachedDataSizes(path);
        if (!dataProblem.empty())
            throw ScanFailure{dataProblem};
    }
    const uint64_t gridCount = grid.dims[0] * grid.dims[1] * grid.dims[2];
    const uint64_t count = gridCount * layout.channels * layout.timePoints;
    if (family == Family::Nrrd || family == Family::Meta)
        if (const std::string problem = CheckCompressedCapacity(
                path, static_cast<long double>(count) * static_cast<long double>(componentBytes));
            !problem.empty())
            throw ScanFailure{problem};
    std::unique_ptr<char[]> stored = AllocateScanBuffer(count * componentBytes);
    std::future<std::string> lengthCheck;
    if (family == Family::Nifti)
        lengthCheck = std::async(std::launch::async, CheckNiftiLength, path);
    else if (family == Family::Nrrd)
        lengthCheck = std::async(std::launch::async, CheckNrrdTextValues, path);
    auto* meta = dynamic_cast<itk::MetaImageIO*>(io.GetPointer());
    StreamCapture capture;
    if (meta != nullptr && meta->GetMetaImagePointer()->CompressedData())
        InflateMetaImage(path, *meta, stored.get(), count * componentBytes);
    else
        ReadWhole(*io, stored.get());
    const std::string said = capture.Finish();
    // MetaIO says so on std::cerr and carries on with what it had.
    if (family == Family::Meta && said.find("not read completely") != std::string::npos)
        throw ScanFailure{"the file ends before its last sample (" +
                          OneLine(said.substr(said.find("M_Read"))) + ")"};
    if (lengthCheck.valid()) {
        const std::string problem = lengthCheck.get();
        if (!problem.empty())
            throw ScanFailure{problem};
    }
    const SampleType type = *SampleTypeOf(io->GetComponentType());  // CheckHeader took it
    const bool rgb =
        io->GetPixelType() == itk::IOPixelEnum::RGB || io->GetPixelType() == itk::IOPixelEnum::RGBA;
    const bool ctByModality = family == Family::Dicom && DicomSaysCt(*io);
    io = nullptr;  // a reader may keep its own copy of the samples until it goes
    // The library gives a sample's channels side by side (a NIfTI file's
    // fifth axis as stored, grid after grid); the channels are kept apart,
    // each with its own window. Parted, the values are in a NIfTI file's
    // own order.
    if (layout.interleaved)
        stored = SeparateChannels(std::move(stored), componentBytes, gridCount, layout.channels,
                                  layout.timePoints);
    if (family == Family::Nifti && (type == SampleType::Float32 || type == SampleType::Float64))
        RestoreNonFiniteNifti(path, stored.get(), count, type == SampleType::Float64);
    FinishScan(type, std::move(stored), grid, choice, ctByModality, volume, layout.channels,
               layout.timePoints);
    volume->timeStep = layout.timeStep;
    if (family == Family::Nifti && layout.timePoints > 1)
        volume->timeUnit = NiftiTimeUnit(path, &volume->timeStep);
    if (rgb)
        for (uint32_t c = 0; c < std::min<uint32_t>(3, layout.channels); ++c)
            volume->channels[c].colour = 0xFF0000 >> (8 * c);
    volume->format = FamilyName(family);
}

// A grid has one step between slices. Slices that share a position, or a
// step that differs from the rest (a gap where slices are missing), would be
// drawn evenly spaced and so in the wrong places: such a series is refused,
// naming the slices.
void CheckSlicePositions(const std::vector<std::array<double, 3>>& origins,
                         const std::vector<std::string>& files, const Grid& grid) {
    if (origins.size() < 2)
        return;
    // Each slice's distance along the normal of the first slice's plane.
    const auto& d = grid.directions;
    const std::array<double, 3> normal = {d[1][0] * d[2][1] - d[2][0] * d[1][1],
                                          d[2][0] * d[0][1] - d[0][0] * d[2][1],
                                          d[0][0] * d[1][1] - d[1][0] * d[0][1]};
    std::vector<std::pair<double, size_t>> along;
    for (size_t z = 0; z < origins.size(); ++z)
        along.emplace_back(origins[z][0] * normal[0] + origins[z][1] * normal[1] + origins[z][2] * normal[2],
                           z);
    std::sort(along.begin(), along.end());
    std::vector<double> steps;
    for (size_t i = 0; i + 1 < along.size(); ++i)
        steps.push_back(along[i + 1].first - along[i].first);
    std::vector<double> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    const double typical = sorted[sorted.size() / 2];
    // Positions are written as decimal text: a hundredth of the step, and
    // never less than a micrometre, is rounding, not a gap.
    const double tolerance = std::max(0.01 * typical, 1e-3);
    const auto number = [](double value) {
        char text[32];
        std::snprintf(text, sizeof(text), "%.6g", value);
        return std::string(text);
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const std::string& from = files[along[i].second];
        const std::string& to = files[along[i + 1].second];
        if (steps[i] < tolerance)
            throw ScanFailure{"two slices lie at the same position (" + number(along[i].first) +
                              " mm): " + from + " and " + to};
        if (std::abs(steps[i] - typical) > tolerance)
            throw ScanFailure{"the slices are not evenly spaced: " + number(steps[i]) + " mm from " + from +
                              " to " + to + ", " + number(typical) +
                              " mm between the others (slices missing?)"};
    }
}

// The slices of one series, each a file, sorted by position. They are read
// into one float grid (each slice may carry its own rescale), then mapped.
void ReadDicomSeries(const std::vector<std::string>& files, uint64_t budget, ScanProgress progress,
                     void* context, const ValueChoice& choice, ScanVolume* volume) {
    CheckDicomFile(files.front(), true);
    auto first = itk::GDCMImageIO::New();
    first->SetFileName(files.front());
    first->ReadImageInformation();
    const uint64_t slices = files.size();
    if (first->GetNumberOfDimensions() > 2 && first->GetDimensions(2) > 1) {
        throw ScanFailure{"the series mixes multi-frame files (" + std::to_string(first->GetDimensions(2)) +
                          " frames in " + files.front() + ") with others"};
    }
    const uint64_t nx = first->GetDimensions(0), ny = first->GetDimensions(1);
    // Float grid plus the 12-bit result plus one stored slice.
    SampleLayout layout;
    Grid grid = CheckHeader(*first, budget / std::max<uint64_t>(slices, 1), 2, sizeof(float), &layout);
    RefuseChannelsInDicom(*first, layout);
    grid.dims = {nx, ny, slices};

    std::array<double, 3> firstOrigin{}, lastOrigin{};
    std::vector<std::array<double, 3>> origins;
    std::unique_ptr<char[]> values = AllocateScanBuffer(nx * ny * slices * sizeof(float));
    float* out = reinterpret_cast<float*>(values.get());
    std::unique_ptr<char[]> stored;
    uint64_t storedBytes = 0;
    std::string sampleType;
    for (uint64_t z = 0; z < slices; ++z) {
        if (z > 0)
            CheckDicomFile(files[z], true);
        auto io = itk::GDCMImageIO::New();
        io->SetFileName(files[z]);
        io->ReadImageInformation();
        if (io->GetNumberOfComponents() != 1 || io->GetDimensions(0) != nx || io->GetDimensions(1) != ny ||
            (io->GetNumberOfDimensions() > 2 && io->GetDimensions(2) > 1)) {
            throw ScanFailure{"the slices of the series differ in size or kind (" + files[z] + ")"};
        }
        const uint64_t bytes = io->GetImageSizeInBytes();
        if (bytes > storedBytes) {
            stored = AllocateScanBuffer(bytes);
            storedBytes = bytes;
        }
        ReadWhole(*io, stored.get());
        const std::optional<SampleType> type = SampleTypeOf(io->GetComponentType());
        if (!type) {
            throw ScanFailure{"samples of type " +
                              itk::ImageIOBase::GetComponentTypeAsString(io->GetComponentType()) +
                              " are not supported (" + files[z] + ")"};
        }
        SamplesToFloat(*type, stored.get(), nx * ny, out + z * nx * ny);
        if (z == 0)
            sampleType = SampleTypeName(*type);
        std::array<double, 3> origin{};
        for (unsigned i = 0; i < 3 && i < io->GetNumberOfDimensions(); ++i)
            origin[i] = io->GetOrigin(i);
        if (io->GetNumberOfDimensions() < 3)
            origin[2] = 0;
        if (z == 0)
            firstOrigin = origin;
        lastOrigin = origin;
        origins.push_back(origin);
        if (progress)
            progress(static_cast<double>(z + 1) / static_cast<double>(slices), context);
    }

    CheckSlicePositions(origins, files, grid);
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
    FinishScan(SampleType::Float32, std::move(values), grid, choice, DicomSaysCt(*first), volume);
    volume->format = "DICOM series (" + std::to_string(slices) + (slices == 1 ? " file)" : " files)");
    volume->sampleType = sampleType;
}

// What a folder without a series holds instead, for the message.
std::string NoSeriesReason(const std::string& folder) {
    std::error_code ec;
    uint64_t files = 0, folders = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        ++(entry.is_directory(ec) ? folders : files);
    if (files == 0 && folders == 0)
        return "the folder holds no DICOM series: it is empty";
    return std::string("the folder holds no DICOM series: ") +
           (files == 1 ? "its one file is not" : "none of its " + std::to_string(files) + " files is") +
           " a DICOM image" + (folders ? " (its sub-folders are not searched)" : "");
}

std::string SliceSizeText(itk::ImageIOBase& io) {
    return std::to_string(io.GetDimensions(0)) + " x " + std::to_string(io.GetDimensions(1));
}

// Slices with the chosen series' own Series Instance UID that the library
// set apart (another size or kind, a bad Rows tag): named, so that what is
// shown is not taken for the whole series. Empty when there are none.
std::string SetApartNotice(const DicomSeriesFiles& chosen, const std::vector<DicomSeriesFiles>& all) {
    const auto headerOf = [](const std::string& file) {
        auto io = itk::GDCMImageIO::New();
        io->SetFileName(file);
        io->ReadImageInformation();
        return io;
    };
    std::vector<std::string> apart;
    for (const auto& series : all) {
        if (&series == &chosen || chosen.uid.empty() || series.uid != chosen.uid)
            continue;
        try {
            auto other = headerOf(series.files.front());
            for (const std::string& file : series.files)
                apart.push_back(file + " is " + SliceSizeText(*other));
        } catch (const itk::ExceptionObject&) {
        }
    }
    if (apart.empty())
        return {};
    auto first = headerOf(chosen.files.front());
    std::string named;
    for (size_t i = 0; i < apart.size() && i < 3; ++i)
        named += (i ? ", " : "") + apart[i];
    if (apart.size() > 3)
        named += ", ...";
    return std::to_string(apart.size()) + (apart.size() == 1 ? " slice" : " slices") +
           " of the series left out for another size or kind (" + named + "); shown: the " +
           std::to_string(chosen.files.size()) + (chosen.files.size() == 1 ? " slice" : " slices") + " of " +
           SliceSizeText(*first);
}

struct SeriesChoice {
    std::vector<std::string> files;
    std::string setApart;  // SetApartNotice
};

// The series that holds `file`, or the largest series of a folder.
SeriesChoice SeriesOf(const std::string& path) {
    const bool folder = IsFolder(path);
    const std::string directory = folder ? path : std::filesystem::path(path).parent_path().string();
    const std::vector<DicomSeriesFiles> all = DicomSeries(directory.empty() ? "." : directory);
    const DicomSeriesFiles* chosen = nullptr;
    std::error_code ec;
    for (const auto& series : all) {
        if (folder && (chosen == nullptr || series.files.size() > chosen->files.size()))
            chosen = &series;
        for (const std::string& name : series.files)
            if (!folder && chosen == nullptr && std::filesystem::equivalent(name, path, ec))
                chosen = &series;
    }
    if (chosen == nullptr)
        return {folder ? std::vector<std::string>{} : std::vector<std::string>{path}, {}};
    return {chosen->files, SetApartNotice(*chosen, all)};
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
        if (IsOmeZarrStore(path))
            recognised = true;
        else if (IsFolder(path))
            recognised = !DicomSeries(path).empty();
        else
            recognised = RecognisedFamily(path) != Family::None ||
                         (IsRegularFile(path) && (IsNifti2File(path) || IsTiffFile(path)));
    } catch (const itk::ExceptionObject&) {
    } catch (const ScanFailure&) {
        recognised = true;  // a damaged series: reading it says what is wrong
    }
    CollectGdcmOutput();
    return recognised;
}

ScanOutcome ReadScanHere(const std::string& path, ScanVolume* volume, std::string* error,
                         uint64_t memoryBudget, ScanProgress progress, void* progressContext,
                         const ValueChoice& values, SampleMaking making) {
    RouteLibraryOutput();
    const uint64_t budget = memoryBudget ? memoryBudget : AvailableMemoryBytes();
    ScanVolume result;
    ScanOutcome outcome = ScanOutcome::Refused;
    StreamCapture capture;
    // Progress 0 says a reader took the file: what fails after it is the
    // file's fault, not a sign that it is no scan.
    const auto recognised = [&] {
        if (progress != nullptr)
            progress(0, progressContext);
    };
    try {
        const bool store = IsOmeZarrStore(path);
        const Family family = store ? Family::None : IsFolder(path) ? Family::Dicom : RecognisedFamily(path);
        if (store) {
            recognised();
            const ZarrStore opened = OpenOmeZarrStore(path);
            size_t level = ChooseZarrLevel(opened, values, budget);
            const size_t coarsest = opened.levels.size() - 1;
            // A part is read at the level that shows it; the coarsest
            // first is for a whole store's first picture.
            const bool coarseFirst =
                values.coarsestFirst && values.level < 0 && values.Whole() && level < coarsest;
            if (coarseFirst)
                level = coarsest;
            ReadOmeZarrLevel(opened, level, budget, values, progress, progressContext, &result);
            if (coarseFirst)
                result.finerLevel = static_cast<int32_t>(ChooseZarrLevel(opened, values, budget));
            outcome = ScanOutcome::Read;
        } else if (family == Family::None && IsRegularFile(path) && IsNifti2File(path)) {
            recognised();
            ReadNifti2(path, budget, values, &result);
            outcome = ScanOutcome::Read;
        } else if (family == Family::None && IsRegularFile(path) && IsTiffFile(path)) {
            recognised();
            ReadTiff(path, budget, values, &result, progress, progressContext);
            outcome = ScanOutcome::Read;
        } else if (family == Family::None) {
            *error = "not a NIfTI, NRRD, MetaImage, DICOM or TIFF file, nor an OME-Zarr store";
            outcome = ScanOutcome::NotAScan;
        } else if (family == Family::Dicom) {
            const SeriesChoice series = SeriesOf(path);
            const std::vector<std::string>& files = series.files;
            if (files.empty()) {
                *error = NoSeriesReason(path);
                outcome = ScanOutcome::NotAScan;
            } else {
                recognised();
                try {
                    if (files.size() == 1)
                        ReadSingleFile(files.front(), family, budget, values, &result);  // or multi-frame
                    else
                        ReadDicomSeries(files, budget, progress, progressContext, values, &result);
                } catch (ScanFailure& failure) {
                    if (!series.setApart.empty())
                        failure.text += "; " + series.setApart;
                    throw;
                }
                result.notice = series.setApart;
                outcome = ScanOutcome::Read;
            }
        } else {
            recognised();
            if (const std::string dataProblem = CheckDetachedDataFiles(path); !dataProblem.empty())
                throw ScanFailure{dataProblem};
            ReadSingleFile(path, family, budget, values, &result);
            outcome = ScanOutcome::Read;
        }
        if (outcome == ScanOutcome::Read && making == SampleMaking::Whole)
            MakeAllSamples(&result);
    } catch (const ScanFailure& failure) {
        *error = failure.text;
    } catch (const itk::ExceptionObject& e) {
        *error = Reason(e);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to read the scan";
    } catch (const std::exception& e) {
        *error = OneLine(e.what());
    }
    CollectGdcmOutput();
    if (outcome == ScanOutcome::Read)
        *volume = std::move(result);
    return outcome;
}

bool ParseValueChoice(const std::string& text, ValueChoice* choice) {
    if (text == "ct" || text == "auto" || text == "full") {
        *choice = {text == "ct"     ? ValueWindow::Ct
                   : text == "auto" ? ValueWindow::Automatic
                                    : ValueWindow::FullRange};
        return true;
    }
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    const auto number = [](const std::string& part, double* value) {
        char* end = nullptr;
        *value = std::strtod(part.c_str(), &end);
        return !part.empty() && end == part.c_str() + part.size() && std::isfinite(*value);
    };
    double low = 0, high = 0;
    if (!number(text.substr(0, comma), &low) || !number(text.substr(comma + 1), &high) || !(low < high))
        return false;
    *choice = {ValueWindow::Custom, low, high};
    return true;
}

const char* ValueWindowName(ValueWindow window) {
    switch (window) {
        case ValueWindow::Ct:
            return "CT (Hounsfield units)";
        case ValueWindow::Automatic:
            return "Automatic";
        case ValueWindow::FullRange:
            return "Full range";
        case ValueWindow::Custom:
            return "Custom";
        case ValueWindow::Default:
            break;
    }
    return "Default";
}

void SkipDicomHere(bool skip) {
    SkipDicom = skip;
}

std::vector<std::string> TakeScanWarningsHere() {
    return TakeLibraryWarnings();
}

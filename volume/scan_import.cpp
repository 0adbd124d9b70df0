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
#include "volume/scan_library_output.h"
#include "volume/scan_mapping.h"
#include "volume/scan_nifti2.h"
#include "volume/scan_nifti_length.h"
#include "volume/scan_reader.h"

#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
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
#include <sstream>

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

struct Failure {
    std::string text;
};

// The DICOM series of a folder, each sorted by slice position.
std::vector<std::vector<std::string>> DicomSeries(const std::string& folder) {
    // The library reads every file of the folder to sort them into series,
    // believing their lengths: a forged one is found here first.
    std::error_code ec;
    std::vector<std::string> unfollowable;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0)
            unfollowable.push_back(entry.path().filename().string());
        const std::string problem = CheckDicomLengths(entry.path().string());
        if (!problem.empty())
            throw Failure{problem + " (" + entry.path().string() + ")"};
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
                if (std::find(unfollowable.begin(), unfollowable.end(), name) == unfollowable.end())
                    std::filesystem::create_symlink(std::filesystem::absolute(entry.path(), ec),
                                                    listed + "/" + name, ec);
            }
        }
    }
    std::vector<std::vector<std::string>> series;
    auto names = itk::GDCMSeriesFileNames::New();
    names->SetUseSeriesDetails(true);
    names->SetDirectory(listed);
    for (const std::string& uid : names->GetSeriesUIDs()) {
        std::vector<std::string> files = names->GetFileNames(uid);
        for (std::string& file : files)
            if (listed != folder)
                file = (std::filesystem::path(folder) / std::filesystem::path(file).filename()).string();
        series.push_back(std::move(files));
    }
    if (listed != folder)
        std::filesystem::remove_all(listed, ec);
    return series;
}

// ---------------------------------------------------------------------------
// Reading

std::string SizeText(const std::vector<uint64_t>& dims) {
    std::string text;
    for (size_t i = 0; i < dims.size(); ++i)
        text += (i ? " x " : "") + std::to_string(dims[i]);
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

// The window `choice` asks for over these values; `ctByModality`: the file
// says it is a CT (DICOM's Modality), else the values decide.
template <typename T>
void ChooseWindow(const T* values, uint64_t count, const ValueChoice& choice, bool ctByModality,
                  ScanVolume* volume) {
    const ValueFacts facts = SurveyValues(values, count);
    volume->minValue = facts.min;
    volume->maxValue = facts.max;
    volume->isCt = ctByModality || LooksLikeCt(facts);
    volume->unit = volume->isCt ? "HU" : "";
    ValueWindow window = choice.window;
    if (window == ValueWindow::Default)
        window = volume->isCt ? ValueWindow::Ct : ValueWindow::Automatic;
    volume->window = window;
    switch (window) {
        case ValueWindow::Ct:
            volume->windowLow = kCtWindowLow;
            volume->windowHigh = kCtWindowHigh;
            break;
        case ValueWindow::Custom:
            volume->windowLow = choice.low;
            volume->windowHigh = choice.high;
            break;
        case ValueWindow::Automatic:
            AutomaticWindow(values, count, facts, &volume->windowLow, &volume->windowHigh);
            break;
        case ValueWindow::Default:
        case ValueWindow::FullRange:
            volume->windowLow = facts.min;
            volume->windowHigh = facts.max;
            break;
    }
}

template <typename T>
void FinishScan(const T* values, const Grid& grid, const ValueChoice& choice, bool ctByModality,
                ScanVolume* volume) {
    const uint64_t count = grid.dims[0] * grid.dims[1] * grid.dims[2];
    ChooseWindow(values, count, choice, ctByModality, volume);
    const Placement placement = PlaceGrid(grid.directions);
    volume->samples.reset(new uint16_t[count]);
    PreferHugePages(volume->samples.get(), count * sizeof(uint16_t));
    PlaceAndMap(values, grid, placement, volume->windowLow, volume->windowHigh, volume->samples.get());
    volume->dimX = static_cast<uint32_t>(grid.dims[placement.gridAxis[0]]);
    volume->dimY = static_cast<uint32_t>(grid.dims[placement.gridAxis[1]]);
    volume->dimZ = static_cast<uint32_t>(grid.dims[placement.gridAxis[2]]);
    volume->spacingX = grid.spacing[placement.gridAxis[0]];
    volume->spacingY = grid.spacing[placement.gridAxis[1]];
    volume->spacingZ = grid.spacing[placement.gridAxis[2]];
}

void FinishScanOfType(itk::IOComponentEnum type, const void* values, const Grid& grid,
                      const ValueChoice& choice, bool ctByModality, ScanVolume* volume) {
    using C = itk::IOComponentEnum;
    switch (type) {
        case C::UCHAR:
            return FinishScan(static_cast<const uint8_t*>(values), grid, choice, ctByModality, volume);
        case C::CHAR:
            return FinishScan(static_cast<const int8_t*>(values), grid, choice, ctByModality, volume);
        case C::USHORT:
            return FinishScan(static_cast<const uint16_t*>(values), grid, choice, ctByModality, volume);
        case C::SHORT:
            return FinishScan(static_cast<const int16_t*>(values), grid, choice, ctByModality, volume);
        case C::UINT:
            return FinishScan(static_cast<const uint32_t*>(values), grid, choice, ctByModality, volume);
        case C::INT:
            return FinishScan(static_cast<const int32_t*>(values), grid, choice, ctByModality, volume);
        case C::ULONG:
        case C::ULONGLONG:
            return FinishScan(static_cast<const uint64_t*>(values), grid, choice, ctByModality, volume);
        case C::LONG:
        case C::LONGLONG:
            return FinishScan(static_cast<const int64_t*>(values), grid, choice, ctByModality, volume);
        case C::FLOAT:
            return FinishScan(static_cast<const float*>(values), grid, choice, ctByModality, volume);
        case C::DOUBLE:
            return FinishScan(static_cast<const double*>(values), grid, choice, ctByModality, volume);
        default:
            throw Failure{"samples of this type are not supported"};
    }
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

std::unique_ptr<char[]> Allocate(uint64_t bytes) {
    char* buffer = new (std::nothrow) char[std::max<uint64_t>(bytes, 1)];
    if (buffer == nullptr)
        throw Failure{"not enough memory to read " + BytesText(bytes)};
    PreferHugePages(buffer, bytes);
    return std::unique_ptr<char[]>(buffer);
}

// The DICOM library believes every length it is told; each file's are
// checked first (`named`: the file is one slice of several, so say which).
void CheckDicomFile(const std::string& path, bool named) {
    const std::string problem = CheckDicomLengths(path);
    if (!problem.empty())
        throw Failure{named ? problem + " (" + path + ")" : problem};
}

void ReadSingleFile(const std::string& path, Family family, uint64_t budget, const ValueChoice& choice,
                    ScanVolume* volume) {
    if (family == Family::Dicom)
        CheckDicomFile(path, false);
    itk::ImageIOBase::Pointer io = MakeReader(family);
    io->SetFileName(path);
    io->ReadImageInformation();
    const uint64_t componentBytes = io->GetComponentSize();
    // The stored samples, then the 12-bit result beside them; at the hand-
    // over the result is held twice, in this child and in the parent (4
    // bytes a sample, more than a uint8 scan's stored and result together).
    const uint64_t extraBytes = std::max<uint64_t>(2, 4 - std::min<uint64_t>(componentBytes, 2));
    const Grid grid = CheckHeader(*io, budget, extraBytes, componentBytes);
    // The header alone has been read so far; a data file that never ends
    // (a pipe, a device) or falls short is refused before the samples are.
    if (family != Family::Dicom) {
        const std::string dataProblem = CheckDetachedDataSizes(path);
        if (!dataProblem.empty())
            throw Failure{dataProblem};
    }
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
    const bool ctByModality = family == Family::Dicom && DicomSaysCt(*io);
    io = nullptr;  // a reader may keep its own copy of the samples until it goes
    FinishScanOfType(type, stored.get(), grid, choice, ctByModality, volume);
    volume->format = FamilyName(family);
    volume->sampleType = TypeName(type);
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
            throw Failure{"two slices lie at the same position (" + number(along[i].first) + " mm): " + from +
                          " and " + to};
        if (std::abs(steps[i] - typical) > tolerance)
            throw Failure{"the slices are not evenly spaced: " + number(steps[i]) + " mm from " + from +
                          " to " + to + ", " + number(typical) + " mm between the others (slices missing?)"};
    }
}

// NIfTI-2 (ITK here reads only NIfTI-1): the header by scan_nifti2.cpp,
// the samples through zlib, which reads a plain file as it is.
template <typename T>
void FinishNifti2(const T* stored, const Nifti2Header& h, const Grid& grid, const ValueChoice& choice,
                  ScanVolume* volume) {
    const bool scaled = h.sclSlope != 0 && std::isfinite(h.sclSlope) && (h.sclSlope != 1 || h.sclInter != 0);
    if (!scaled)
        return FinishScan(stored, grid, choice, false, volume);
    const uint64_t count = grid.dims[0] * grid.dims[1] * grid.dims[2];
    std::unique_ptr<char[]> real = Allocate(count * sizeof(double));
    double* values = reinterpret_cast<double*>(real.get());
    for (uint64_t i = 0; i < count; ++i)
        values[i] = static_cast<double>(stored[i]) * h.sclSlope + h.sclInter;
    FinishScan(values, grid, choice, false, volume);
}

Grid Nifti2Grid(const Nifti2Header& h) {
    Grid grid;
    for (int i = 0; i < 3; ++i)
        grid.dims[i] = h.dim[0] > i ? static_cast<uint64_t>(h.dim[i + 1]) : 1;
    // Columns of the index-to-RAS matrix, from the sform or else the qform.
    double columns[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::array<double, 3> spacing{};
    for (int i = 0; i < 3; ++i)
        spacing[i] = std::abs(h.pixdim[i + 1]);
    if (h.sformCode > 0) {
        for (int i = 0; i < 3; ++i) {
            spacing[i] = std::sqrt(h.srow[0][i] * h.srow[0][i] + h.srow[1][i] * h.srow[1][i] +
                                   h.srow[2][i] * h.srow[2][i]);
            for (int p = 0; p < 3; ++p)
                columns[i][p] = spacing[i] > 0 ? h.srow[p][i] / spacing[i] : (p == i);
        }
    } else if (h.qformCode > 0) {
        const double b = h.quatern[0], c = h.quatern[1], d = h.quatern[2];
        const double a = std::sqrt(std::max(0.0, 1 - b * b - c * c - d * d));
        const double qfac = h.pixdim[0] < 0 ? -1 : 1;
        const double r[3][3] = {{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
                                {2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b)},
                                {2 * (b * d - a * c), 2 * (c * d + a * b), a * a + d * d - c * c - b * b}};
        for (int i = 0; i < 3; ++i)
            for (int p = 0; p < 3; ++p)
                columns[i][p] = r[p][i] * (i == 2 ? qfac : 1);
    }
    for (int i = 0; i < 3; ++i) {
        grid.spacing[i] = std::isfinite(spacing[i]) && spacing[i] > 0 ? spacing[i] : 1.0;
        // RAS to the LPS the rest of the importer speaks.
        for (int p = 0; p < 3; ++p)
            grid.directions[p][i] = p < 2 ? -columns[i][p] : columns[i][p];
    }
    return grid;
}

void ReadNifti2(const std::string& path, uint64_t budget, const ValueChoice& choice, ScanVolume* volume) {
    Nifti2Header h;
    const std::string problem = ReadNifti2Header(path, &h);
    if (!problem.empty())
        throw Failure{problem};
    const uint64_t bytes = static_cast<uint64_t>(Nifti2SampleBytes(h.datatype));
    if (bytes == 0)
        throw Failure{"NIfTI-2 samples of datatype " + std::to_string(h.datatype) + " are not supported"};
    if (h.dim[0] < 1 || h.dim[0] > 7)
        throw Failure{"the NIfTI-2 header gives " + std::to_string(h.dim[0]) + " dimensions"};
    std::vector<uint64_t> sizes;
    for (int64_t i = 1; i <= h.dim[0]; ++i)
        sizes.push_back(h.dim[i] > 0 ? static_cast<uint64_t>(h.dim[i]) : 0);
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] == 0)
            throw Failure{"the image has no samples (" + SizeText(sizes) + ")"};
        if (i >= 3 && sizes[i] != 1)
            throw Failure{std::to_string(sizes.size()) + "-D image (" + SizeText(sizes) +
                          "); only 3-D volumes can be shown"};
    }
    const Grid grid = Nifti2Grid(h);
    const long double count = static_cast<long double>(grid.dims[0]) * grid.dims[1] * grid.dims[2];
    const long double need = count * static_cast<long double>(bytes + sizeof(double) + 4);
    if (need > static_cast<long double>(budget))
        throw Failure{"too large: " + SizeText(sizes) + " samples need " + BytesText(need) + " of memory, " +
                      BytesText(budget) + " is free"};
    const uint64_t total = grid.dims[0] * grid.dims[1] * grid.dims[2] * bytes;
    std::unique_ptr<char[]> stored = Allocate(total);
    gzFile file = ::gzopen(path.c_str(), "rb");
    if (file == nullptr)
        throw Failure{std::string("cannot open the file: ") + std::strerror(errno)};
    const int64_t start = std::max<int64_t>(h.voxOffset, 544);
    bool whole = ::gzseek(file, static_cast<z_off_t>(start), SEEK_SET) == start;
    for (uint64_t done = 0; whole && done < total;) {
        const unsigned chunk = static_cast<unsigned>(std::min<uint64_t>(total - done, 1u << 30));
        const int got = ::gzread(file, stored.get() + done, chunk);
        whole = got > 0;
        done += got > 0 ? static_cast<uint64_t>(got) : 0;
    }
    // To the end, where zlib checks a compressed stream's CRC and length.
    char rest[4096];
    while (whole && ::gzread(file, rest, sizeof(rest)) > 0) {
    }
    int status = Z_OK;
    const std::string zlibSays = ::gzerror(file, &status);
    ::gzclose(file);
    if (!whole)
        throw Failure{"the file ends before its last sample"};
    if (status != Z_OK && status != Z_STREAM_END)
        throw Failure{"the compressed data is damaged (" + zlibSays + ")"};
    const char* p = stored.get();
    switch (h.datatype) {
        case 2:
            FinishNifti2(reinterpret_cast<const uint8_t*>(p), h, grid, choice, volume);
            break;
        case 256:
            FinishNifti2(reinterpret_cast<const int8_t*>(p), h, grid, choice, volume);
            break;
        case 4:
            FinishNifti2(reinterpret_cast<const int16_t*>(p), h, grid, choice, volume);
            break;
        case 512:
            FinishNifti2(reinterpret_cast<const uint16_t*>(p), h, grid, choice, volume);
            break;
        case 8:
            FinishNifti2(reinterpret_cast<const int32_t*>(p), h, grid, choice, volume);
            break;
        case 768:
            FinishNifti2(reinterpret_cast<const uint32_t*>(p), h, grid, choice, volume);
            break;
        case 16:
            FinishNifti2(reinterpret_cast<const float*>(p), h, grid, choice, volume);
            break;
        case 64:
            FinishNifti2(reinterpret_cast<const double*>(p), h, grid, choice, volume);
            break;
        case 1024:
            FinishNifti2(reinterpret_cast<const int64_t*>(p), h, grid, choice, volume);
            break;
        default:
            FinishNifti2(reinterpret_cast<const uint64_t*>(p), h, grid, choice, volume);
            break;
    }
    volume->format = "NIfTI-2";
    const char* names[] = {"uint8",  "int8",    "int16",   "uint16", "int32",
                           "uint32", "float32", "float64", "int64",  "uint64"};
    const int16_t codes[] = {2, 256, 4, 512, 8, 768, 16, 64, 1024, 1280};
    for (int i = 0; i < 10; ++i)
        if (codes[i] == h.datatype)
            volume->sampleType = names[i];
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
        throw Failure{"the series mixes multi-frame files (" + std::to_string(first->GetDimensions(2)) +
                      " frames in " + files.front() + ") with others"};
    }
    const uint64_t nx = first->GetDimensions(0), ny = first->GetDimensions(1);
    // Float grid plus the 12-bit result plus one stored slice.
    Grid grid = CheckHeader(*first, budget / std::max<uint64_t>(slices, 1), 2, sizeof(float));
    grid.dims = {nx, ny, slices};

    std::array<double, 3> firstOrigin{}, lastOrigin{};
    std::vector<std::array<double, 3>> origins;
    std::unique_ptr<char[]> values = Allocate(nx * ny * slices * sizeof(float));
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
    FinishScan(out, grid, choice, DicomSaysCt(*first), volume);
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
            recognised =
                RecognisedFamily(path) != Family::None || (IsRegularFile(path) && IsNifti2File(path));
    } catch (const itk::ExceptionObject&) {
    } catch (const Failure&) {
        recognised = true;  // a damaged series: reading it says what is wrong
    }
    CollectGdcmOutput();
    return recognised;
}

bool ReadScanHere(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget,
                  ScanProgress progress, void* progressContext, const ValueChoice& values) {
    RouteLibraryOutput();
    const uint64_t budget = memoryBudget ? memoryBudget : AvailableMemoryBytes();
    ScanVolume result;
    bool read = false;
    StreamCapture capture;
    try {
        const Family family = IsFolder(path) ? Family::Dicom : RecognisedFamily(path);
        if (family == Family::None && IsRegularFile(path) && IsNifti2File(path)) {
            ReadNifti2(path, budget, values, &result);
            read = true;
        } else if (family == Family::None) {
            *error = "not a NIfTI, NRRD, MetaImage or DICOM file";
        } else if (family == Family::Dicom) {
            const std::vector<std::string> files = SeriesOf(path);
            if (files.empty()) {
                *error = "the folder holds no DICOM series";
            } else if (files.size() == 1) {
                ReadSingleFile(files.front(), family, budget, values, &result);  // one slice, or multi-frame
                read = true;
            } else {
                ReadDicomSeries(files, budget, progress, progressContext, values, &result);
                read = true;
            }
        } else if (const std::string dataProblem = CheckDetachedDataFiles(path); !dataProblem.empty()) {
            *error = dataProblem;
        } else {
            ReadSingleFile(path, family, budget, values, &result);
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

std::vector<std::string> TakeScanWarningsHere() {
    return TakeLibraryWarnings();
}

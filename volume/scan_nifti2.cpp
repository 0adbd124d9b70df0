#include "volume/scan_nifti2.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "volume/scan_library_output.h"
#include "volume/scan_nifti_layout.h"
#include "volume/scan_nifti_length.h"
#include "volume/scan_samples.h"

namespace {

using namespace nifti_layout;

bool ReadRaw(const std::string& path, unsigned char* bytes) {
    gzFile file = ::gzopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    const int got = ::gzread(file, bytes, kNifti2HeaderBytes);
    ::gzclose(file);
    return got == kNifti2HeaderBytes;
}

template <typename T>
T Field(const unsigned char* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// NIfTI's datatype codes for the types we map.
std::optional<SampleType> SampleTypeOf(int16_t datatype) {
    switch (datatype) {
        case 2:
            return SampleType::UInt8;
        case 256:
            return SampleType::Int8;
        case 4:
            return SampleType::Int16;
        case 512:
            return SampleType::UInt16;
        case 8:
            return SampleType::Int32;
        case 768:
            return SampleType::UInt32;
        case 1024:
            return SampleType::Int64;
        case 1280:
            return SampleType::UInt64;
        case 16:
            return SampleType::Float32;
        case 64:
            return SampleType::Float64;
        default:
            return std::nullopt;
    }
}

scan_mapping::Grid GridOf(const Nifti2Header& h) {
    scan_mapping::Grid grid;
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

}  // namespace

bool IsNifti2File(const std::string& path) {
    unsigned char bytes[kNifti2HeaderBytes];
    return ReadRaw(path, bytes) && Field<int32_t>(bytes, 0) == kNifti2HeaderBytes &&
           std::memcmp(bytes + kNifti2Magic, kNifti2Magic1, sizeof(kNifti2Magic1)) == 0;
}

std::string ReadNifti2Header(const std::string& path, Nifti2Header* h) {
    unsigned char bytes[kNifti2HeaderBytes];
    if (!ReadRaw(path, bytes))
        return "the file ends inside its NIfTI-2 header";
    if (Field<int32_t>(bytes, 0) != kNifti2HeaderBytes ||
        std::memcmp(bytes + kNifti2Magic, kNifti2Magic1, sizeof(kNifti2Magic1)) != 0)
        return "not a little-endian NIfTI-2 file";
    h->datatype = Field<int16_t>(bytes, kNifti2Datatype);
    for (int i = 0; i < 8; ++i) {
        h->dim[i] = Field<int64_t>(bytes, kNifti2Dim + 8 * i);
        h->pixdim[i] = Field<double>(bytes, kNifti2Pixdim + 8 * i);
    }
    h->voxOffset = Field<int64_t>(bytes, kNifti2VoxOffset);
    h->sclSlope = Field<double>(bytes, kNifti2SclSlope);
    h->sclInter = Field<double>(bytes, kNifti2SclInter);
    h->qformCode = Field<int32_t>(bytes, kNifti2QformCode);
    h->sformCode = Field<int32_t>(bytes, kNifti2SformCode);
    for (int i = 0; i < 3; ++i) {
        h->quatern[i] = Field<double>(bytes, kNifti2Quatern + 8 * i);
        h->qoffset[i] = Field<double>(bytes, kNifti2Qoffset + 8 * i);
        for (int j = 0; j < 4; ++j)
            h->srow[i][j] = Field<double>(bytes, kNifti2Srow + 32 * i + 8 * j);
    }
    return {};
}

void ReadNifti2(const std::string& path, uint64_t budget, const ValueChoice& choice, ScanVolume* volume) {
    Nifti2Header h;
    const std::string problem = ReadNifti2Header(path, &h);
    if (!problem.empty())
        throw ScanFailure{problem};
    const std::optional<SampleType> type = SampleTypeOf(h.datatype);
    if (!type)
        throw ScanFailure{"NIfTI-2 samples of datatype " + std::to_string(h.datatype) + " are not supported"};
    if (h.dim[0] < 1 || h.dim[0] > 7)
        throw ScanFailure{"the NIfTI-2 header gives " + std::to_string(h.dim[0]) + " dimensions"};
    std::vector<uint64_t> sizes;
    for (int64_t i = 1; i <= h.dim[0]; ++i)
        sizes.push_back(h.dim[i] > 0 ? static_cast<uint64_t>(h.dim[i]) : 0);
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] == 0)
            throw ScanFailure{"the image has no samples (" + SizeText(sizes) + ")"};
        if (i >= 5 && sizes[i] != 1)
            throw ScanFailure{std::to_string(sizes.size()) + "-D image (" + SizeText(sizes) +
                              "); only 3-D volumes, with channels and a time axis, can be shown"};
    }
    // dim[4] is time, dim[5] the values of a sample, stored after all
    // time points: channel by channel, as FinishScan takes them.
    const uint64_t timePoints = sizes.size() > 3 ? sizes[3] : 1, channels = sizes.size() > 4 ? sizes[4] : 1;
    if (timePoints > kMostScanTimePoints || channels > kMostScanChannels)
        throw ScanFailure{std::to_string(timePoints) + " time points of " + std::to_string(channels) +
                          " channels; at most " + std::to_string(kMostScanTimePoints) + " and " +
                          std::to_string(kMostScanChannels) + " can be read"};
    const scan_mapping::Grid grid = GridOf(h);
    const uint64_t bytes = SampleBytes(*type);
    // The stored samples, their scaled copy and the 12-bit result (made in
    // pieces as it crosses to the parent, which holds it whole).
    const long double count = static_cast<long double>(grid.dims[0]) * grid.dims[1] * grid.dims[2] *
                              static_cast<long double>(timePoints * channels);
    const long double need = count * static_cast<long double>(bytes + sizeof(double) + 2);
    if (need > static_cast<long double>(budget))
        throw ScanFailure{"too large: " + SizeText(sizes) + " samples need " + BytesText(need) +
                          " of memory, " + BytesText(budget) + " is free"};
    const uint64_t samples = grid.dims[0] * grid.dims[1] * grid.dims[2] * timePoints * channels;
    const uint64_t total = samples * bytes;
    std::unique_ptr<char[]> stored = AllocateScanBuffer(total);
    // zlib reads a plain file as it is.
    gzFile file = ::gzopen(path.c_str(), "rb");
    if (file == nullptr)
        throw ScanFailure{std::string("cannot open the file: ") + std::strerror(errno)};
    const int64_t start = std::max<int64_t>(h.voxOffset, kNifti2FirstSample);
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
        throw ScanFailure{"the file ends before its last sample"};
    if (status != Z_OK && status != Z_STREAM_END)
        throw ScanFailure{"the compressed data is damaged (" + zlibSays + ")"};
    const bool scaled = h.sclSlope != 0 && std::isfinite(h.sclSlope) && (h.sclSlope != 1 || h.sclInter != 0);
    if (scaled) {
        std::unique_ptr<char[]> real = AllocateScanBuffer(samples * sizeof(double));
        SamplesToScaledDouble(*type, stored.get(), samples, h.sclSlope, h.sclInter,
                              reinterpret_cast<double*>(real.get()));
        stored.reset();
        FinishScan(SampleType::Float64, std::move(real), grid, choice, false, volume,
                   static_cast<uint32_t>(channels), static_cast<uint32_t>(timePoints));
    } else {
        FinishScan(*type, std::move(stored), grid, choice, false, volume, static_cast<uint32_t>(channels),
                   static_cast<uint32_t>(timePoints));
    }
    if (timePoints > 1)
        volume->timeUnit = NiftiTimeUnit(path, &volume->timeStep);
    volume->sampleType = SampleTypeName(*type);
    volume->format = "NIfTI-2";
}

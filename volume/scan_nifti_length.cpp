#include "volume/scan_nifti_length.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "volume/scan_library_output.h"
#include "volume/scan_nifti_layout.h"

using namespace nifti_layout;

namespace {

// Where a NIfTI file's samples are and what they are, from its header.
struct NiftiLayout {
    std::string dataPath;  // the file itself, or the .img beside a .hdr
    bool swapped = false;  // the other byte order
    int16_t datatype = 0;
    double bits = 0, offset = 0, slope = 0, intercept = 0;
    long double samples = 1;
    bool usableGeometry = true;  // voxel size, and the quaternion or sform rows in use
    double timeStep = 0;         // pixdim[4]
    int32_t units = 0;           // xyzt_units
};

// A size or position the orientation's arithmetic (in float) survives: its
// square must not overflow, or the library's decomposition never ends.
bool Usable(double value) {
    return std::isfinite(value) && std::abs(value) <= 1e15;
}

// False for a header this cannot measure (the library has checked it).
bool ReadNiftiLayout(const std::string& path, NiftiLayout* layout) {
    auto endsWith = [&](const char* end) {
        const size_t n = std::strlen(end);
        return path.size() >= n && path.compare(path.size() - n, n, end) == 0;
    };
    layout->dataPath = path;
    if (endsWith(".hdr"))
        layout->dataPath = path.substr(0, path.size() - 4) + ".img";
    else if (endsWith(".hdr.gz"))
        layout->dataPath = path.substr(0, path.size() - 7) + ".img.gz";

    unsigned char header[kNifti2FirstSample] = {};
    gzFile headerFile = ::gzopen(path.c_str(), "rb");
    if (headerFile == nullptr)
        return false;
    const int headerBytes = ::gzread(headerFile, header, sizeof(header));
    ::gzclose(headerFile);
    int32_t headerSize = 0;
    std::memcpy(&headerSize, header, sizeof(headerSize));
    const bool two = headerSize == kNifti2HeaderBytes || headerSize == kNifti2HeaderBytesSwapped;
    if (headerBytes < (two ? kNifti2HeaderBytes : kNifti1HeaderBytes))
        return false;
    // The byte order as the NIfTI library decides it: by dim[0] (1 to 7),
    // else by the header's size; the header's size need not be right.
    int16_t rank1 = 0;
    std::memcpy(&rank1, header + kNifti1Dim, sizeof(rank1));
    const auto plausible = [](int16_t rank) { return rank > 0 && rank <= 7; };
    const int16_t reversed =
        static_cast<int16_t>(static_cast<uint16_t>(rank1) << 8 | static_cast<uint16_t>(rank1) >> 8);
    const bool swapped = two ? headerSize == kNifti2HeaderBytesSwapped
                             : !plausible(rank1) && (plausible(reversed) ||
                                                     (rank1 == 0 && headerSize == kNifti1HeaderBytesSwapped));
    auto field = [&](size_t offset, auto value) {
        std::memcpy(&value, header + offset, sizeof(value));
        if (swapped) {
            auto* bytes = reinterpret_cast<unsigned char*>(&value);
            std::reverse(bytes, bytes + sizeof(value));
        }
        return value;
    };
    layout->swapped = swapped;
    // pixdim[0..3] always; quatern_b/c/d and qoffset_x/y/z, and srow_x/y/z,
    // when their code says they are in use.
    const auto checkGeometry = [&](size_t pixdim, size_t quatern, auto type, bool qform, bool sform) {
        for (size_t i = 0; i < 4 + 6 + 12; ++i) {
            const bool used = i < 4 || (i < 10 ? qform : sform);
            const size_t at = i < 4 ? pixdim + sizeof(type) * i : quatern + sizeof(type) * (i - 4);
            layout->usableGeometry &= !used || Usable(field(at, type));
        }
    };
    if (two) {
        const int64_t rank = field(kNifti2Dim, int64_t{});
        for (int64_t i = 1; i <= std::clamp<int64_t>(rank, 0, 7); ++i)
            layout->samples *=
                static_cast<long double>(std::max<int64_t>(field(kNifti2Dim + 8 * i, int64_t{}), 1));
        layout->datatype = field(kNifti2Datatype, int16_t{});
        layout->bits = field(kNifti2Bitpix, int16_t{});
        layout->offset = static_cast<double>(field(kNifti2VoxOffset, int64_t{}));
        layout->slope = field(kNifti2SclSlope, double{});
        layout->intercept = field(kNifti2SclInter, double{});
        checkGeometry(kNifti2Pixdim, kNifti2Quatern, double{}, field(kNifti2QformCode, int32_t{}) > 0,
                      field(kNifti2SformCode, int32_t{}) > 0);
        layout->timeStep = field(kNifti2Pixdim + 4 * sizeof(double), double{});
        layout->units = field(kNifti2XyztUnits, int32_t{});
    } else {
        const int16_t rank = field(kNifti1Dim, int16_t{});
        for (int16_t i = 1; i <= std::clamp<int16_t>(rank, 0, 7); ++i)
            layout->samples *=
                static_cast<long double>(std::max<int16_t>(field(kNifti1Dim + 2 * i, int16_t{}), 1));
        layout->datatype = field(kNifti1Datatype, int16_t{});
        layout->bits = field(kNifti1Bitpix, int16_t{});
        layout->offset = field(kNifti1VoxOffset, float{});
        layout->slope = field(kNifti1SclSlope, float{});
        layout->intercept = field(kNifti1SclInter, float{});
        checkGeometry(kNifti1Pixdim, kNifti1Quatern, float{}, field(kNifti1QformCode, int16_t{}) > 0,
                      field(kNifti1SformCode, int16_t{}) > 0);
        layout->timeStep = field(kNifti1Pixdim + 4 * sizeof(float), float{});
        layout->units = static_cast<unsigned char>(header[kNifti1XyztUnits]);
    }
    const bool single = layout->dataPath == path;
    if (!(layout->offset >= 0) || layout->offset > 1e12)
        layout->offset = 0;
    if (single && layout->offset < (two ? kNifti2FirstSample : kNifti1FirstSample))
        layout->offset = static_cast<double>(two ? kNifti2FirstSample : kNifti1FirstSample);
    return true;
}

}  // namespace

std::string CheckNiftiLength(const std::string& path) {
    NiftiLayout layout;
    if (!ReadNiftiLayout(path, &layout))
        return {};  // not a header we can measure; the library has checked it
    const std::string& dataPath = layout.dataPath;
    const long double needed = static_cast<long double>(layout.offset) + layout.samples * layout.bits / 8;

    // An uncompressed file answers with its size. A gzip file is inflated
    // to its very end, beside the library's read: only there does zlib check
    // the stream's CRC and length, and the library stops reading at its last
    // sample. A flipped byte or a forged length trailer is then found; the
    // trailer alone would vouch for either.
    if (std::FILE* raw = std::fopen(dataPath.c_str(), "rb")) {
        unsigned char magic[2] = {0, 0};
        const size_t got = std::fread(magic, 1, 2, raw);
        std::fclose(raw);
        struct stat info {};
        if ((got < 2 || magic[0] != kGzipMagic[0] || magic[1] != kGzipMagic[1]) &&
            ::stat(dataPath.c_str(), &info) == 0) {
            const long double size = static_cast<long double>(info.st_size);
            if (size < needed)
                return "the file ends before its last sample (" + BytesText(needed) + " needed, " +
                       BytesText(size) + " found)";
            return {};
        }
    }
    gzFile file = ::gzopen(dataPath.c_str(), "rb");
    if (file == nullptr)
        return "cannot open " + dataPath;
    std::vector<unsigned char> chunk(1 << 20);
    long double total = 0;
    int got = 0;
    while ((got = ::gzread(file, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0)
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

void RestoreNonFiniteNifti(const std::string& path, void* samples, uint64_t count, bool doubles) {
    NiftiLayout layout;
    if (!ReadNiftiLayout(path, &layout) || layout.datatype != (doubles ? kNiftiFloat64 : kNiftiFloat32))
        return;
    gzFile file = ::gzopen(layout.dataPath.c_str(), "rb");
    if (file == nullptr)
        return;
    const bool isDouble = layout.datatype == kNiftiFloat64;
    const size_t bytes = isDouble ? sizeof(double) : sizeof(float);
    const bool scaled = layout.slope != 0 && std::isfinite(layout.slope);
    std::vector<unsigned char> chunk(bytes << 16);
    bool whole =
        ::gzseek(file, static_cast<z_off_t>(layout.offset), SEEK_SET) == static_cast<z_off_t>(layout.offset);
    for (uint64_t done = 0; whole && done < count;) {
        const uint64_t n = std::min<uint64_t>(count - done, chunk.size() / bytes);
        whole = ::gzread(file, chunk.data(), static_cast<unsigned>(n * bytes)) == static_cast<int>(n * bytes);
        for (uint64_t i = 0; whole && i < n; ++i) {
            unsigned char* raw = chunk.data() + i * bytes;
            if (layout.swapped)
                std::reverse(raw, raw + bytes);
            double value = 0;
            if (isDouble) {
                std::memcpy(&value, raw, sizeof(double));
            } else {
                float single = 0;
                std::memcpy(&single, raw, sizeof(float));
                value = single;
            }
            if (std::isfinite(value))
                continue;
            if (scaled)
                value = value * layout.slope + layout.intercept;
            if (isDouble)
                static_cast<double*>(samples)[done + i] = value;
            else
                static_cast<float*>(samples)[done + i] = static_cast<float>(value);
        }
        done += n;
    }
    ::gzclose(file);
}

std::string CheckNiftiGeometry(const std::string& path) {
    NiftiLayout layout;
    if (ReadNiftiLayout(path, &layout) && !layout.usableGeometry)
        return "the NIfTI header's voxel size or orientation holds a number that is not finite, or beyond "
               "1e15 mm";
    return {};
}

std::string NiftiTimeUnit(const std::string& path, double* step) {
    NiftiLayout layout;
    if (!ReadNiftiLayout(path, &layout))
        return {};
    *step = std::isfinite(layout.timeStep) && layout.timeStep > 0 ? layout.timeStep : 0;
    // The time bits of xyzt_units: 8 seconds, 16 milliseconds, 24
    // microseconds (the others are frequencies, no time).
    switch (layout.units & 0x38) {
        case 8:
            return "s";
        case 16:
            return "ms";
        case 24:
            return "\u00b5s";
        default:
            return {};
    }
}

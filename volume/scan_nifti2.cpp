#include "volume/scan_nifti2.h"

#include <zlib.h>

#include <cstring>

namespace {

// The header's layout (all little-endian here).
constexpr int kHeaderBytes = 540;
constexpr size_t kMagicOffset = 4, kDatatypeOffset = 12, kDimOffset = 16, kPixdimOffset = 104,
                 kVoxOffsetOffset = 168, kSclSlopeOffset = 176, kSclInterOffset = 184, kQformOffset = 344,
                 kSformOffset = 348, kQuaternOffset = 352, kQoffsetOffset = 376, kSrowOffset = 400;
constexpr char kMagic[8] = {'n', '+', '2', '\0', '\r', '\n', '\032', '\n'};

bool ReadRaw(const std::string& path, unsigned char* bytes) {
    gzFile file = ::gzopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    const int got = ::gzread(file, bytes, kHeaderBytes);
    ::gzclose(file);
    return got == kHeaderBytes;
}

template <typename T>
T Field(const unsigned char* bytes, size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

}  // namespace

bool IsNifti2File(const std::string& path) {
    unsigned char bytes[kHeaderBytes];
    return ReadRaw(path, bytes) && Field<int32_t>(bytes, 0) == kHeaderBytes &&
           std::memcmp(bytes + kMagicOffset, kMagic, sizeof(kMagic)) == 0;
}

std::string ReadNifti2Header(const std::string& path, Nifti2Header* h) {
    unsigned char bytes[kHeaderBytes];
    if (!ReadRaw(path, bytes))
        return "the file ends inside its NIfTI-2 header";
    if (Field<int32_t>(bytes, 0) != kHeaderBytes ||
        std::memcmp(bytes + kMagicOffset, kMagic, sizeof(kMagic)) != 0)
        return "not a little-endian NIfTI-2 file";
    h->datatype = Field<int16_t>(bytes, kDatatypeOffset);
    for (int i = 0; i < 8; ++i) {
        h->dim[i] = Field<int64_t>(bytes, kDimOffset + 8 * i);
        h->pixdim[i] = Field<double>(bytes, kPixdimOffset + 8 * i);
    }
    h->voxOffset = Field<int64_t>(bytes, kVoxOffsetOffset);
    h->sclSlope = Field<double>(bytes, kSclSlopeOffset);
    h->sclInter = Field<double>(bytes, kSclInterOffset);
    h->qformCode = Field<int32_t>(bytes, kQformOffset);
    h->sformCode = Field<int32_t>(bytes, kSformOffset);
    for (int i = 0; i < 3; ++i) {
        h->quatern[i] = Field<double>(bytes, kQuaternOffset + 8 * i);
        h->qoffset[i] = Field<double>(bytes, kQoffsetOffset + 8 * i);
        for (int j = 0; j < 4; ++j)
            h->srow[i][j] = Field<double>(bytes, kSrowOffset + 32 * i + 8 * j);
    }
    return {};
}

int Nifti2SampleBytes(int16_t datatype) {
    switch (datatype) {
        case 2:    // uint8
        case 256:  // int8
            return 1;
        case 4:    // int16
        case 512:  // uint16
            return 2;
        case 8:    // int32
        case 16:   // float32
        case 768:  // uint32
            return 4;
        case 64:    // float64
        case 1024:  // int64
        case 1280:  // uint64
            return 8;
        default:
            return 0;
    }
}

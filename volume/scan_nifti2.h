// NIfTI-2, read by us: the ITK of this system reads only NIfTI-1, and a
// NIfTI-2 header is a plain record (540 bytes, 64-bit sizes and doubles).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "volume/scan_import.h"

struct Nifti2Header {
    std::array<int64_t, 8> dim{};  // dim[0]: how many follow
    int16_t datatype = 0;
    std::array<double, 8> pixdim{};
    int64_t voxOffset = 0;
    double sclSlope = 0, sclInter = 0;
    int32_t qformCode = 0, sformCode = 0;
    double quatern[3] = {}, qoffset[3] = {};
    double srow[3][4] = {};
};

// True when the file (plain or gzip) starts with a NIfTI-2 header.
bool IsNifti2File(const std::string& path);

// The header, or the reason it cannot be read (empty on success).
std::string ReadNifti2Header(const std::string& path, Nifti2Header* header);

// Reads the whole file into `volume` (ScanFailure with the reason when it
// cannot); `budget`: bytes of memory the read may take.
void ReadNifti2(const std::string& path, uint64_t budget, const ValueChoice& choice, ScanVolume* volume);

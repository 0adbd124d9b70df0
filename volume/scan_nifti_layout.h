// Where a NIfTI header keeps what the length check and the NIfTI-2 reader
// need (byte offsets from the file's start; sizes as the header stores them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace nifti_layout {

// The first field is the header's own size: 348 (NIfTI-1) or 540 (NIfTI-2),
// or those bytes reversed in a file of the other byte order.
inline constexpr int32_t kNifti1HeaderBytes = 348, kNifti2HeaderBytes = 540;
inline constexpr int32_t kNifti1HeaderBytesSwapped = 0x5C010000, kNifti2HeaderBytesSwapped = 0x1C020000;
// A single file (.nii) holds the header, 4 bytes of extension flags, then
// the samples at the stated offset, never before this.
inline constexpr int64_t kNifti1FirstSample = 352, kNifti2FirstSample = 544;

// NIfTI-1: int16 dim[8], int16 datatype, int16 bitpix, float pixdim[8],
// float vox_offset, float scl_slope and scl_inter, int16 qform_code and
// sform_code, then (all float) quatern_b/c/d, qoffset_x/y/z and
// srow_x/y/z[4] one after another.
inline constexpr size_t kNifti1Dim = 40, kNifti1Datatype = 70, kNifti1Bitpix = 72, kNifti1Pixdim = 76,
                        kNifti1VoxOffset = 108, kNifti1SclSlope = 112, kNifti1SclInter = 116,
                        kNifti1QformCode = 252, kNifti1SformCode = 254, kNifti1Quatern = 256,
                        kNifti1XyztUnits = 123;  // one byte

// Datatype codes of the float types.
inline constexpr int16_t kNiftiFloat32 = 16, kNiftiFloat64 = 64;

// NIfTI-2: char magic[8], int16 datatype, int16 bitpix, int64 dim[8],
// double pixdim[8], int64 vox_offset, double scl_slope and scl_inter,
// int32 qform_code and sform_code, double quatern_b/c/d, qoffset_x/y/z,
// srow_x/y/z[4].
inline constexpr size_t kNifti2Magic = 4, kNifti2Datatype = 12, kNifti2Bitpix = 14, kNifti2Dim = 16,
                        kNifti2Pixdim = 104, kNifti2VoxOffset = 168, kNifti2SclSlope = 176,
                        kNifti2SclInter = 184, kNifti2QformCode = 344, kNifti2SformCode = 348,
                        kNifti2Quatern = 352, kNifti2Qoffset = 376, kNifti2Srow = 400,
                        kNifti2XyztUnits = 500;  // int32
inline constexpr char kNifti2Magic1[8] = {'n', '+', '2', '\0', '\r', '\n', '\032', '\n'};

// The gzip stream's first two bytes.
inline constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};

}  // namespace nifti_layout

// A NIfTI file's data checked for a cut end against its header's own sizes.
#pragma once

#include <cstdint>
#include <string>

// The NIfTI library fills samples missing at the end of a short file with
// zeros and reports success; a cut .nii.gz would show as a volume with a
// black end. The data's length is checked here instead, from the header's own
// sizes (beside the read, on another thread). Empty when the file holds every
// sample.
std::string CheckNiftiLength(const std::string& path);

// The NIfTI library turns every infinite or NaN float sample into 0 as it
// reads, so +inf would show at the bottom of the window, not the top. The
// stored non-finite values (rescaled as the header says) are put back into
// `samples`, the library's read of the file's `count` samples as float32
// (or float64: `doubles`). A file that does not store that type is left alone.
void RestoreNonFiniteNifti(const std::string& path, void* samples, uint64_t count, bool doubles);

// ITK's NIfTI reader stops its process on a voxel size or orientation that
// is not finite (NaN in the sform), and never returns from one whose squares
// overflow; such a header is refused first, with this reason. Empty when
// every number is usable.
std::string CheckNiftiGeometry(const std::string& path);

// A NIfTI time series' step between time points (pixdim[4], 0 when not
// given) into `step`, and its unit as the header says ("s", "ms", "\u00b5s";
// empty when it says none).
std::string NiftiTimeUnit(const std::string& path, double* step);

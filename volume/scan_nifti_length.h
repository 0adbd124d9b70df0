// A NIfTI file's data checked for a cut end against its header's own sizes.
#pragma once

#include <string>

// The NIfTI library fills samples missing at the end of a short file with
// zeros and reports success; a cut .nii.gz would show as a volume with a
// black end. The data's length is checked here instead, from the header's own
// sizes (beside the read, on another thread). Empty when the file holds every
// sample.
std::string CheckNiftiLength(const std::string& path);

// Writes small scans with ITK's own writers, so that the tests read files
// made the way the field's tools make them (nothing is committed).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace scan_test {

enum class StoredType { UInt8, Int8, UInt16, Int16, UInt32, Int32, UInt64, Int64, Float32, Float64 };

struct ScanSpec {
    std::array<uint32_t, 3> dims{1, 1, 1};
    std::array<double, 3> spacing{1, 1, 1};
    std::array<double, 3> origin{0, 0, 0};
    // [physical LPS axis][grid axis]: column i is grid axis i's direction.
    std::array<std::array<double, 3>, 3> directions{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    StoredType type = StoredType::Int16;
    unsigned components = 1;  // 3: an RGB image
    uint32_t timePoints = 0;  // above 1: a 4-D image
};

// `values` in grid order (x fastest), components interleaved, time last.
// The format follows the name: .nii, .nii.gz, .nrrd, .nhdr, .mha, .mhd.
// Empty on success, else the reason.
std::string WriteScan(const std::string& path, const ScanSpec& spec, const std::vector<double>& values);

// One DICOM file per slice z, named fileNames[z], all of one series, with the
// given rescale; `values` are the real-world values (after the rescale).
std::string WriteDicomSeries(const std::string& folder, const ScanSpec& spec,
                             const std::vector<double>& values, const std::vector<std::string>& fileNames,
                             double slope = 1.0, double intercept = 0.0,
                             const std::string& seriesUid = "1.2.826.0.1.3680043.2.1125.1",
                             const std::string& modality = "CT");

}  // namespace scan_test

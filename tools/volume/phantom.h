// Deterministic sample volumes: a head-like phantom with 12-bit values, and
// the writer of the volume file format (u16 dimensions, then u16 samples).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace phantom {

// Tissue values on the 12-bit scale the viewer expects.
inline constexpr uint16_t kAir = 0;
inline constexpr uint16_t kSkin = 900;
inline constexpr uint16_t kBone = 3400;
inline constexpr uint16_t kBrain = 1300;
inline constexpr uint16_t kFluid = 400;
inline constexpr uint16_t kLesion = 2600;

// A head seen in a CT scan: skin, a skull shell, softer brain inside with two
// fluid-filled ventricles, eyes and a nose at the front (-z), and a bright
// lesion on the +x side so that left and right can be told apart. x runs
// left to right, y from the chin (0) to the crown, z from the face to the back.
// Samples are x fastest, then y, then z; every value is below 4096.
std::vector<uint16_t> MakeHeadPhantom(int dimX, int dimY, int dimZ);

// The same head as a scanner would record it, for choosing transfer functions
// on tissue values that match real scans: a CT in Hounsfield units stored as
// 12-bit scanners do (HU + 1024, so -1024..3071 is 0..4095, what the viewer
// makes of such a scan), and a T1-weighted MRI scaled to its own range (fat
// brightest, white matter brighter than grey, fluid and cortical bone dark).
// Both add a scalp of skin, fat and muscle, a skull of two cortical tables
// round marrow, a folded grey-matter ribbon round white matter, fluid between
// brain and skull, and the eyes' lenses.
enum class Modality { Ct, MriT1 };
std::vector<uint16_t> MakeHeadScan(int dimX, int dimY, int dimZ, Modality modality);

// Writes the volume file; false (with the reason in *error) if it cannot.
bool WriteVolumeFile(const std::string& path, int dimX, int dimY, int dimZ,
                     const std::vector<uint16_t>& samples, std::string* error);

}  // namespace phantom

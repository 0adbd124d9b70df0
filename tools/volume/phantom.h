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

// Writes the volume file; false (with the reason in *error) if it cannot.
bool WriteVolumeFile(const std::string& path, int dimX, int dimY, int dimZ,
                     const std::vector<uint16_t>& samples, std::string* error);

}  // namespace phantom

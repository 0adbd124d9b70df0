#include "tools/volume/phantom.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace phantom {
namespace {

// Squared normalised distance from an ellipsoid's centre: below 1 is inside.
float Ellipsoid(float x, float y, float z, float cx, float cy, float cz, float rx, float ry, float rz) {
    const float dx = (x - cx) / rx, dy = (y - cy) / ry, dz = (z - cz) / rz;
    return dx * dx + dy * dy + dz * dz;
}

// A small repeatable grain, so flat regions look like a scan rather than paint.
int Grain(int x, int y, int z) {
    uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                 static_cast<uint32_t>(z) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<int>(h % 61) - 30;
}

uint16_t TissueAt(float x, float y, float z) {
    // Coordinates in [-1, 1] across the volume; the head's long axis is y.
    const float head = Ellipsoid(x, y, z, 0.0f, 0.05f, 0.05f, 0.72f, 0.88f, 0.80f);
    const float nose = Ellipsoid(x, y, z, 0.0f, -0.05f, -0.78f, 0.10f, 0.18f, 0.14f);
    if (head > 1.0f && nose > 1.0f)
        return kAir;
    if (nose <= 1.0f && head > 0.93f)
        return kSkin;
    const float skullOuter = Ellipsoid(x, y, z, 0.0f, 0.05f, 0.05f, 0.66f, 0.82f, 0.74f);
    if (skullOuter > 1.0f)
        return kSkin;
    const float skullInner = Ellipsoid(x, y, z, 0.0f, 0.07f, 0.06f, 0.59f, 0.74f, 0.67f);
    // Eyes sit in the front of the skull, below the brain.
    for (float side : {-0.25f, 0.25f}) {
        if (Ellipsoid(x, y, z, side, -0.12f, -0.55f, 0.11f, 0.10f, 0.10f) <= 1.0f)
            return kFluid + 300;
    }
    if (skullInner > 1.0f)
        return kBone;
    if (Ellipsoid(x, y, z, 0.30f, 0.35f, 0.20f, 0.12f, 0.12f, 0.12f) <= 1.0f)
        return kLesion;
    for (float side : {-0.12f, 0.12f}) {
        if (Ellipsoid(x, y, z, side, 0.20f, 0.10f, 0.07f, 0.18f, 0.30f) <= 1.0f)
            return kFluid;
    }
    // Grey matter near the skull is a little brighter than white matter inside.
    return skullInner > 0.7f ? kBrain + 150 : kBrain;
}

// The tissues of MakeHeadScan and their values in each modality.
enum Tissue {
    kTAir,
    kTSkin,
    kTFat,
    kTMuscle,
    kTCortical,
    kTMarrow,
    kTCsf,
    kTGrey,
    kTWhite,
    kTVitreous,
    kTLens
};
// CT in Hounsfield units.
constexpr float kCtValue[] = {-1000, 40, -90, 50, 1600, 450, 8, 38, 28, 10, 110};
// T1-weighted MRI on 0..1 of its range.
constexpr float kMriValue[] = {0.0f, 0.45f, 0.95f, 0.33f, 0.03f, 0.72f, 0.10f, 0.42f, 0.62f, 0.08f, 0.40f};

// The neck below the head: skin, fat and muscle round the cervical spine,
// a stack of vertebral bodies (cortical shell, marrow inside) with discs.
Tissue NeckTissueAt(float x, float y, float z) {
    const float r = std::hypot(x / 0.34f, (z - 0.18f) / 0.30f);
    if (r > 1.0f)
        return kTAir;
    if (r > 0.94f)
        return kTSkin;
    const float spine = std::hypot(x / 0.09f, (z - 0.28f) / 0.08f);
    const float level = std::fmod(y + 2.0f, 0.16f);  // one vertebra and its disc
    if (spine <= 1.0f && level > 0.03f)
        return spine > 0.7f || level < 0.05f || level > 0.14f ? kTCortical : kTMarrow;
    return r > 0.8f ? kTFat : kTMuscle;
}

// The lower jaw: a bony arch round the front of the face under the skull.
bool InMandible(float x, float y, float z) {
    if (y < -0.80f || y > -0.58f || z > 0.15f)
        return false;
    const float arch = std::hypot(x / 0.46f, (z - 0.12f) / 0.72f);
    return arch > 0.86f && arch < 1.0f;
}

Tissue ScanTissueAt(float x, float y, float z) {
    const float head = Ellipsoid(x, y, z, 0.0f, 0.05f, 0.05f, 0.72f, 0.88f, 0.80f);
    const float nose = Ellipsoid(x, y, z, 0.0f, -0.05f, -0.78f, 0.10f, 0.18f, 0.14f);
    if (InMandible(x, y, z))
        return kTCortical;
    if (head > 1.0f && nose > 1.0f)
        return y < -0.45f ? NeckTissueAt(x, y, z) : kTAir;
    if (head > 0.95f || nose <= 1.0f)
        return nose <= 0.8f ? kTMuscle : kTSkin;
    const float skullOuter = Ellipsoid(x, y, z, 0.0f, 0.05f, 0.05f, 0.66f, 0.82f, 0.74f);
    for (float side : {-0.25f, 0.25f}) {
        const float eye = Ellipsoid(x, y, z, side, -0.12f, -0.55f, 0.11f, 0.10f, 0.10f);
        if (eye <= 1.0f)
            return Ellipsoid(x, y, z, side, -0.12f, -0.63f, 0.05f, 0.05f, 0.025f) <= 1.0f ? kTLens
                                                                                          : kTVitreous;
    }
    if (skullOuter > 1.0f)
        return head > 0.87f ? kTFat : kTMuscle;
    const float skullInner = Ellipsoid(x, y, z, 0.0f, 0.07f, 0.06f, 0.59f, 0.74f, 0.67f);
    if (skullInner > 1.0f)
        return skullOuter > 0.9f || skullInner < 1.1f ? kTCortical : kTMarrow;
    if (skullInner > 0.93f)
        return kTCsf;
    for (float side : {-0.12f, 0.12f}) {
        if (Ellipsoid(x, y, z, side, 0.20f, 0.10f, 0.07f, 0.18f, 0.30f) <= 1.0f)
            return kTCsf;
    }
    // Grey matter folds into the white: the ribbon's inner edge waves.
    const float fold = 0.07f * std::sin(19.0f * x) * std::sin(15.0f * y) * std::sin(17.0f * z);
    return skullInner > 0.68f + fold ? kTGrey : kTWhite;
}

// Every voxel in file order (x fastest, then y, then z) with its centre on
// [-1, 1] along each axis; value(fx, fy, fz, x, y, z) gives its sample. Row
// y = 0 is the chin: y grows towards the crown.
template <class Value>
std::vector<uint16_t> SampleGrid(int dimX, int dimY, int dimZ, Value value) {
    std::vector<uint16_t> samples(static_cast<size_t>(dimX) * dimY * dimZ);
    size_t i = 0;
    for (int z = 0; z < dimZ; ++z) {
        const float fz = (z + 0.5f) / dimZ * 2.0f - 1.0f;
        for (int y = 0; y < dimY; ++y) {
            const float fy = (y + 0.5f) / dimY * 2.0f - 1.0f;
            for (int x = 0; x < dimX; ++x) {
                const float fx = (x + 0.5f) / dimX * 2.0f - 1.0f;
                samples[i++] = value(fx, fy, fz, x, y, z);
            }
        }
    }
    return samples;
}

}  // namespace

std::vector<uint16_t> MakeHeadScan(int dimX, int dimY, int dimZ, Modality modality) {
    return SampleGrid(dimX, dimY, dimZ, [modality](float fx, float fy, float fz, int x, int y, int z) {
        const Tissue t = ScanTissueAt(fx, fy, fz);
        // Noise of about 10 HU in the CT, 1% of the range in the MRI.
        const float value = modality == Modality::Ct
                                ? kCtValue[t] + 1024.0f + Grain(x, y, z) * 0.35f
                                : kMriValue[t] * 4095.0f + std::fabs(Grain(x, y, z) * 1.4f);
        return static_cast<uint16_t>(std::lround(std::fmin(std::fmax(value, 0.0f), 4095.0f)));
    });
}

std::vector<uint16_t> MakeHeadPhantom(int dimX, int dimY, int dimZ) {
    return SampleGrid(dimX, dimY, dimZ, [](float fx, float fy, float fz, int x, int y, int z) {
        const uint16_t tissue = TissueAt(fx, fy, fz);
        int value = tissue == kAir ? 0 : tissue + Grain(x, y, z);
        if (value < 0)
            value = 0;
        if (value > 4095)
            value = 4095;
        return static_cast<uint16_t>(value);
    });
}

bool WriteVolumeFile(const std::string& path, int dimX, int dimY, int dimZ,
                     const std::vector<uint16_t>& samples, std::string* error) {
    if (dimX < 0 || dimY < 0 || dimZ < 0 || dimX > 65535 || dimY > 65535 || dimZ > 65535 ||
        samples.size() != static_cast<size_t>(dimX) * dimY * dimZ) {
        *error = "dimensions and sample count do not agree";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(6 + samples.size() * 2);
    for (int d : {dimX, dimY, dimZ}) {
        bytes.push_back(static_cast<uint8_t>(d & 0xFF));
        bytes.push_back(static_cast<uint8_t>(d >> 8));
    }
    for (uint16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<uint8_t>(s >> 8));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        *error = path + ": could not write the whole file";
        return false;
    }
    return true;
}

}  // namespace phantom

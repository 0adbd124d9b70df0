#include "tests/gpu/storm/hostile_files.h"

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "tests/gpu/viewer/viewer_harness.h"

namespace storm_test {
namespace {

std::vector<uint8_t> Header(uint16_t x, uint16_t y, uint16_t z) {
    return {static_cast<uint8_t>(x),      static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(y),
            static_cast<uint8_t>(y >> 8), static_cast<uint8_t>(z),      static_cast<uint8_t>(z >> 8)};
}

}  // namespace

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

void WriteSmallVolume(const std::string& path, int dimX, int dimY, int dimZ) {
    std::vector<uint16_t> samples(static_cast<size_t>(dimX) * dimY * dimZ);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>((i * 2654435761u >> 7) & 0x0FFF);
    viewer_test::WriteVolume(path, dimX, dimY, dimZ, samples);
}

void WriteTransferFile(const std::string& path, const std::vector<ControlPoint>& points) {
    WriteBytes(path, SerializeTransferFunction(points.data(), static_cast<uint32_t>(points.size())));
}

HostileFiles WriteHostileFiles(const std::string& dir) {
    HostileFiles f;
    WriteSmallVolume(dir + "/small.vol", 6, 5, 4);
    WriteSmallVolume(dir + "/flat.vol", 9, 1, 2);
    f.volumes = {dir + "/small.vol", dir + "/flat.vol"};
    f.soundVolumes = f.volumes.size();

    std::vector<uint8_t> truncated = Header(8, 8, 8);
    truncated.resize(6 + 8 * 8 * 8 * 2 - 1, 0x11);
    WriteBytes(dir + "/truncated.vol", truncated);
    WriteBytes(dir + "/huge.vol", Header(65535, 65535, 65535));  // far past 32 bits of samples
    std::vector<uint8_t> zero = Header(0, 7, 7);
    WriteBytes(dir + "/zero.vol", zero);
    WriteBytes(dir + "/half_header.vol", {3, 0, 3});
    WriteBytes(dir + "/empty.vol", {});
    ::mkdir((dir + "/folder.vol").c_str(), 0755);
    for (const char* name : {"truncated.vol", "huge.vol", "zero.vol", "half_header.vol", "empty.vol",
                             "folder.vol", "missing.vol"})
        f.volumes.push_back(dir + "/" + name);

    WriteTransferFile(dir + "/good.tf", {{0, 0, 0, 0, 0}, {0.3f, 1, 0.2f, 0.1f, 0.6f}, {1, 1, 1, 1, 1}});
    WriteTransferFile(dir + "/steps.tf",
                      {{0, 0, 0, 0, 0}, {0.5f, 1, 0, 0, 0.3f}, {0.5f, 0, 0, 1, 0.8f}, {1, 1, 1, 1, 1}});
    f.transfer = {dir + "/good.tf", dir + "/steps.tf"};
    f.soundTransfer = f.transfer.size();

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    WriteTransferFile(dir + "/one.tf", {{0.5f, 1, 1, 1, 1}});
    std::vector<uint8_t> shortTf =
        SerializeTransferFunction(std::vector<ControlPoint>{{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}}.data(), 2);
    shortTf[0] = 3;
    WriteBytes(dir + "/short.tf", shortTf);
    WriteBytes(dir + "/countmax.tf", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    WriteBytes(dir + "/tiny.tf", {2, 0});
    // Values stored as they are: out of range, reversed and non-finite ones
    // load and must still be drawable and editable without harm.
    WriteTransferFile(dir + "/reversed.tf", {{1, 1, 0, 0, 1}, {0.5f, 0, 1, 0, 0.5f}, {0, 0, 0, 1, 0}});
    WriteTransferFile(
        dir + "/wild.tf",
        {{-3, 7, -2, 40, -1}, {0.25f, inf, 0, 0, 2}, {0.75f, 0, -inf, 0, 0.5f}, {9, 0, 0, 0, 1}});
    WriteTransferFile(dir + "/nan.tf", {{0, nan, 0, 0, 0}, {1, 1, 1, nan, nan}});
    ::mkdir((dir + "/folder.tf").c_str(), 0755);
    for (const char* name : {"one.tf", "short.tf", "countmax.tf", "tiny.tf", "reversed.tf", "wild.tf",
                             "nan.tf", "folder.tf", "missing.tf"})
        f.transfer.push_back(dir + "/" + name);
    return f;
}

}  // namespace storm_test

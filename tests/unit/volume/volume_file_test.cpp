// The volume file's checks, made before anything is allocated or unloaded.
#include <gtest/gtest.h>

#include "volume/volume.h"

namespace {

TEST(VolumeFileTest, HeaderIsLittleEndian) {
    const uint8_t bytes[6] = {0x00, 0x01, 0x34, 0x12, 0x01, 0x00};
    const VolumeHeader h = ReadVolumeHeader(bytes);
    EXPECT_EQ(h.dimX, 256);
    EXPECT_EQ(h.dimY, 0x1234);
    EXPECT_EQ(h.dimZ, 1);
}

TEST(VolumeFileTest, SizeChecks) {
    EXPECT_EQ(CheckVolumeFile({256, 256, 128}, 6 + 16777216), "") << "exactly the samples";
    EXPECT_EQ(CheckVolumeFile({256, 256, 128}, 6 + 16777216 + 99), "") << "extra bytes are ignored";
    EXPECT_EQ(CheckVolumeFile({1, 1, 1}, 8), "");
    EXPECT_EQ(CheckVolumeFile({0, 5, 5}, 6), "") << "a zero dimension is left for the texture to refuse";
    const std::string shortFile = CheckVolumeFile({256, 256, 128}, 6 + 16777215);
    EXPECT_NE(shortFile.find("shorter"), std::string::npos) << shortFile;
    EXPECT_NE(CheckVolumeFile({2, 2, 2}, 5), "") << "shorter than the header";
    const std::string huge = CheckVolumeFile({65535, 65535, 65535}, 1ull << 40);
    EXPECT_NE(huge.find("too large"), std::string::npos) << huge;
    // 2^31 samples need 2^32 bytes: one past what 32 bits can count.
    EXPECT_NE(CheckVolumeFile({2048, 1024, 1024}, 1ull << 40), "");
    EXPECT_EQ(CheckVolumeFile({2048, 1024, 1023}, 1ull << 40), "");
}

TEST(VolumeFileTest, SamplesShiftIntoTheTopTwelveBits) {
    uint16_t samples[4] = {0x0FFF, 1, 0x1234, 0xF000};
    ShiftSamples(samples, 4);
    EXPECT_EQ(samples[0], 0xFFF0);
    EXPECT_EQ(samples[1], 16);
    EXPECT_EQ(samples[2], 0x2340) << "bits above 11 are lost";
    EXPECT_EQ(samples[3], 0);
}

}  // namespace

// The build-time data tools: the desktop icon cut from the atlas, the preset
// maker (text to .tf, refusing what the viewer would refuse) and the
// synthetic CT and MRI heads the presets were chosen on.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/atlas/atlas_image.h"
#include "tools/volume/phantom.h"
#include "ui/transfer_function.h"

namespace {

TEST(DesktopIconTest, TheAtlasArrowOnARoundedDarkBlueSquare) {
    const std::vector<uint8_t> icon = atlas::DrawDesktopIcon(atlas::DrawInterfaceAtlas());
    ASSERT_EQ(icon.size(), size_t{atlas::kIconSize} * atlas::kIconSize * 4);
    auto at = [&](int x, int y) { return &icon[(static_cast<size_t>(y) * atlas::kIconSize + x) * 4]; };
    for (const auto& [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}})
        EXPECT_EQ(at(x, y)[3], 0) << "rounded corner " << x << "," << y << " is clear";
    for (const auto& [x, y] : {std::pair{16, 16}, {1, 16}, {16, 30}}) {
        const uint8_t* p = at(x, y);
        EXPECT_EQ((std::array<int, 4>{p[0], p[1], p[2], p[3]}), (std::array<int, 4>{0, 0, 128, 255}))
            << "the viewer's dark blue where the arrow is not: " << x << "," << y;
    }
    const uint8_t* ring = at(6, 16);  // the arrow's ring, 10 texels left of its centre
    EXPECT_GT(ring[0], 200);
    EXPECT_EQ(ring[3], 255);
}

class MakeTfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tamlo-make-tf-XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    // Runs make_tf on the text; its exit status, stderr in *err.
    int Run(const std::string& text, std::string* err) {
        std::ofstream(dir_ + "/in.txt") << text;
        const std::string command = std::string(TAMLO_MAKE_TF_PROGRAM) + " " + dir_ + "/in.txt " + dir_ +
                                    "/out.tf 2>" + dir_ + "/err.txt";
        const int status = std::system(command.c_str());
        std::ifstream in(dir_ + "/err.txt");
        err->assign(std::istreambuf_iterator<char>(in), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string dir_;
};

TEST_F(MakeTfTest, TextBecomesTheViewersFormatAndBadTextIsRefusedByLine) {
    std::string err;
    ASSERT_EQ(Run("# a comment\n0 0 0 0 0\n\n  0.5 1 0.5 0.25 0.75   # red-ish\n1 1 1 1 1\n", &err), 0)
        << err;
    const ControlPoint expected[3] = {{0, 0, 0, 0, 0}, {0.5f, 1, 0.5f, 0.25f, 0.75f}, {1, 1, 1, 1, 1}};
    std::ifstream out(dir_ + "/out.tf", std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, SerializeTransferFunction(expected, 3));

    EXPECT_EQ(Run("0 0 0 0 0\n0.5 1 1 1\n1 1 1 1 1\n", &err), 1);
    EXPECT_NE(err.find("in.txt:2: a point is five numbers"), std::string::npos) << err;
    EXPECT_EQ(Run("0 0 0 0 0\nhalf 1 1 1 1\n", &err), 1);
    EXPECT_NE(err.find("in.txt:2: not a number"), std::string::npos) << err;
    EXPECT_EQ(Run("0 0 0 0 0\n0.7 1 1 1 1\n0.6 1 1 1 1\n1 1 1 1 1\n", &err), 1) << "out of order";
    EXPECT_NE(err.find("the viewer would refuse it"), std::string::npos) << err;
    EXPECT_EQ(Run("0 0 0 0 0\n1 1 1 1 1.5\n", &err), 1) << "opacity past 1";
}

// The presets' tissue positions rest on these values.
TEST(HeadScanTest, TissuesSitWhereRealScansPutThem) {
    constexpr int n = 64;
    const auto ct = phantom::MakeHeadScan(n, n, n, phantom::Modality::Ct);
    const auto mri = phantom::MakeHeadScan(n, n, n, phantom::Modality::MriT1);
    ASSERT_EQ(ct.size(), size_t{n} * n * n);
    auto at = [](const std::vector<uint16_t>& v, int x, int y, int z) {
        return static_cast<int>(v[(static_cast<size_t>(z) * n + y) * n + x]);
    };
    EXPECT_NEAR(at(ct, 0, 0, 0), 24, 12) << "air: -1000 HU stored as HU + 1024";
    EXPECT_NEAR(at(ct, n / 2, n / 2, n / 2), 1024 + 28, 12) << "white matter: 28 HU";
    EXPECT_LT(at(mri, 0, 0, 0), 50) << "no signal in air";
    EXPECT_NEAR(at(mri, n / 2, n / 2, n / 2), 0.62 * 4095, 45) << "white matter";
    int ctBone = 0, mriFat = 0;
    uint16_t ctMax = 0;
    for (size_t i = 0; i < ct.size(); ++i) {
        ctBone += ct[i] > 1024 + 1000;
        mriFat += mri[i] > 0.9 * 4095;
        ctMax = std::max(ctMax, ct[i]);
    }
    EXPECT_GT(ctBone, n * n) << "a skull, jaw and spine of dense bone";
    EXPECT_LE(ctMax, 4095);
    EXPECT_GT(mriFat, n * n / 4) << "scalp fat is the MRI's brightest tissue";
}

// The sample volume shipped beside the viewer and the preset pictures were
// made from these exact bytes; any change to the heads or to their voxel walk
// shows here first (FNV-1a over the little-endian samples).
TEST(HeadScanTest, SampleVolumesKeepTheirExactBytes) {
    auto fnv = [](const std::vector<uint16_t>& samples) {
        uint64_t h = 1469598103934665603ull;
        for (uint16_t s : samples) {
            for (int byte : {s & 0xFF, s >> 8}) {
                h ^= static_cast<uint64_t>(byte);
                h *= 1099511628211ull;
            }
        }
        return h;
    };
    // Unequal sides, so that a walk with two axes swapped cannot pass.
    EXPECT_EQ(fnv(phantom::MakeHeadPhantom(40, 36, 32)), 0xb60bd2ba39ba08a3ull) << "phantom";
    EXPECT_EQ(fnv(phantom::MakeHeadScan(40, 36, 32, phantom::Modality::Ct)), 0x4e2154e58792b0d4ull) << "CT";
    EXPECT_EQ(fnv(phantom::MakeHeadScan(40, 36, 32, phantom::Modality::MriT1)), 0xf0a7542ea29cbf01ull)
        << "MRI";
}

TEST(HeadScanTest, PhantomRunsXFastestWithTheLesionOnPlusX) {
    constexpr int n = 64;
    const auto head = phantom::MakeHeadPhantom(n, n, n);
    auto at = [&](int x, int y, int z) {
        return static_cast<int>(head[(static_cast<size_t>(z) * n + y) * n + x]);
    };
    // The lesion's centre, (0.30, 0.35, 0.20) on [-1, 1], is voxel (41, 43, 38).
    EXPECT_NEAR(at(41, 43, 38), phantom::kLesion, 30) << "lesion on the +x side";
    EXPECT_NEAR(at(n - 1 - 41, 43, 38), phantom::kBrain, 200) << "brain where the mirror image would be";
    EXPECT_EQ(at(0, 0, 0), 0) << "air in the corner";
}

}  // namespace

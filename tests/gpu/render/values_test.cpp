// Values in the scan's own units: the CT presets land on the tissue they name
// whatever range a CT's file spans (padding, a short range, metal), and an
// MRI's picture does not move for one hot voxel.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/gpu/viewer/viewer_harness.h"
#include "tests/support/scan_writer.h"
#include "tools/render/batch_render.h"
#include "tools/volume/phantom.h"

namespace {

constexpr int kSide = 48;
constexpr int kWidth = 400, kHeight = 320;

class ValuesRenderTest : public viewer_test::ViewerTest {
  protected:
    void TearDown() override {
        batch::EndSession();
        ViewerTest::TearDown();
    }

    std::string Write(const std::string& name, const std::vector<double>& values,
                      scan_test::StoredType type = scan_test::StoredType::Int16) {
        scan_test::ScanSpec spec;
        spec.dims = {kSide, kSide, kSide};
        spec.type = type;
        const std::string path = ScratchDir() + "/" + name;
        EXPECT_EQ(scan_test::WriteScan(path, spec, values), "") << path;
        return path;
    }

    batch::Picture Render(const std::string& volume, const std::string& preset,
                          const ValueChoice& values = {}) {
        batch::Options o;
        o.volumePath = volume;
        o.tfPath = std::string(TAMLO_DATA_DIR) + "/presets/" + preset;
        o.width = kWidth;
        o.height = kHeight;
        o.distance = 2.2f;
        o.values = values;
        const std::string error = batch::StartSession(o);
        EXPECT_EQ(error, "") << volume;
        batch::RenderFrame();
        batch::Picture picture = batch::ReadPicture();
        batch::EndSession();
        return picture;
    }

    // Root mean square difference over the colour channels, as a fraction of full scale.
    static double Rmse(const batch::Picture& a, const batch::Picture& b) {
        double sum = 0;
        size_t n = 0;
        for (size_t i = 0; i < a.rgba.size() && i < b.rgba.size(); ++i) {
            if (i % 4 == 3)
                continue;
            const double d = (static_cast<double>(a.rgba[i]) - static_cast<double>(b.rgba[i])) / 255.0;
            sum += d * d;
            ++n;
        }
        return n ? std::sqrt(sum / static_cast<double>(n)) : 1.0;
    }

    static double Coverage(const batch::Picture& p) {
        size_t lit = 0;
        for (size_t i = 0; i < p.rgba.size(); i += 4)
            lit += p.rgba[i] + p.rgba[i + 1] + p.rgba[i + 2] > 30;
        return static_cast<double>(lit) / static_cast<double>(p.rgba.size() / 4);
    }
};

// The synthetic CT head in Hounsfield units (its 12-bit samples are HU + 1024).
std::vector<double> CtHead() {
    const std::vector<uint16_t> samples = phantom::MakeHeadScan(kSide, kSide, kSide, phantom::Modality::Ct);
    std::vector<double> hu(samples.begin(), samples.end());
    for (double& v : hu)
        v -= 1024;
    return hu;
}

TEST_F(ValuesRenderTest, CtPresetsShowTheSameHeadWhateverRangeTheFileSpans) {
    std::vector<double> exact = CtHead();
    exact.front() = -1024;
    exact.back() = 3071;
    std::vector<double> shortRange = CtHead();
    for (double& v : shortRange)
        v = std::clamp(v, -1010.0, 1611.0);
    std::vector<double> padded = CtHead();
    std::vector<double> metal = CtHead();
    for (int z = 0; z < kSide; ++z)
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const double dx = x - (kSide - 1) / 2.0, dz = z - (kSide - 1) / 2.0;
                if (dx * dx + dz * dz > kSide * kSide / 4.0)
                    padded[(z * kSide + y) * kSide + x] = -3024;
            }
    for (int i = 0; i < 3; ++i)
        metal[((kSide / 2) * kSide + kSide / 2) * kSide + kSide / 2 + i] = 8000;

    const std::string exactPath = Write("exact.nii", exact);
    const std::vector<std::string> variants = {Write("short.nii", shortRange), Write("padded.nii", padded),
                                               Write("metal.nii", metal)};
    for (const char* preset : {"ct-bone.tf", "ct-skin.tf"}) {
        const batch::Picture reference = Render(exactPath, preset);
        ASSERT_GT(Coverage(reference), 0.02) << preset << ": the head is seen";
        for (const std::string& variant : variants)
            EXPECT_LT(Rmse(Render(variant, preset), reference), 0.03) << preset << " on " << variant;
    }
    // Mapped from its own range, the padded CT is another picture: the rule is what makes them agree.
    EXPECT_GT(
        Rmse(Render(variants[1], "ct-bone.tf", {ValueWindow::FullRange}), Render(exactPath, "ct-bone.tf")),
        0.03);
}

TEST_F(ValuesRenderTest, OneHotVoxelLeavesTheMriAsItWas) {
    const std::vector<uint16_t> samples =
        phantom::MakeHeadScan(kSide, kSide, kSide, phantom::Modality::MriT1);
    std::vector<double> mri(samples.begin(), samples.end());
    std::vector<double> hot = mri;
    hot[((kSide / 2) * kSide + kSide / 2) * kSide + kSide / 2] =
        100.0 * *std::max_element(mri.begin(), mri.end());
    const batch::Picture reference =
        Render(Write("mri.nii", mri, scan_test::StoredType::Float32), "mri-brain.tf");
    ASSERT_GT(Coverage(reference), 0.02);
    const std::string hotPath = Write("hot.nii", hot, scan_test::StoredType::Float32);
    EXPECT_LT(Rmse(Render(hotPath, "mri-brain.tf"), reference), 0.03);
    EXPECT_GT(Rmse(Render(hotPath, "mri-brain.tf", {ValueWindow::FullRange}), reference), 0.03)
        << "over the full range the hot voxel would squeeze the brain into the lowest values";
}

}  // namespace

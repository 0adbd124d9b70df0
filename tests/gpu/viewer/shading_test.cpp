// Shading and the extreme modes against CPU references: an opaque ball lit by
// the headlight (bright where it faces the eye, dark towards its rim), flat
// with shading off; and the maximum and minimum intensity of blocks whose
// extremes are known, through the transfer function.
#include <algorithm>
#include <cmath>
#include <random>

#include "app/app_state.h"
#include "platform/gpu/gpu.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"

namespace viewer_test {
namespace {

constexpr int kSide = 32, kWindow = 160;

// The transfer function's 1024-texel lookup, linearly filtered, of a ramp
// from 0 to 1 over the 16-bit density of a 12-bit sample.
double Ramp(uint16_t sample) {
    return std::clamp((sample * 16.0 / 65535.0 * 1024.0 - 0.5) / 1023.0, 0.0, 1.0);
}

class ShadingTest : public ViewerTest {
  protected:
    // Opens the samples seen straight down z from `distance`, through
    // `points`, and returns the frame before each command and after the last.
    std::vector<Frame> Draw(
        const std::vector<uint16_t>& samples, std::vector<ControlPoint> points,
        std::vector<uint16_t> commands, std::function<void()> atEnd = [] {}) {
        const std::string path = ScratchDir() + "/volume.vol";
        WriteVolume(path, kSide, kSide, kSide, samples);
        shell::testing::SetFileDialogScript({path});
        std::vector<Frame> frames;
        std::vector<std::function<void()>> steps = {[this] {
                                                        Size(kWindow, kWindow);
                                                        OrbitCamera.pitch = OrbitCamera.yaw = 0.0f;
                                                        OrbitCamera.distance = 3.0f;
                                                        beforeOpen_();
                                                        Command(kCmdFileOpen);
                                                    },
                                                    [points] { InstallTransferFunction(points); }, [] {}};
        for (uint16_t command : commands) {
            steps.push_back([&frames, command] {
                frames.push_back(ReadFrame());
                Command(command);
            });
            steps.push_back([] {});
        }
        steps.push_back([&] {
            frames.push_back(ReadFrame());
            atEnd();
        });
        Run(steps);
        return frames;
    }
    std::function<void()> beforeOpen_ = [] {};

    // Where a ray through pixel (x, y) meets a sphere about the view's target
    // of `radius` object units: the cosine between its normal and the ray
    // back to the eye, where the headlight is, or -1 where it misses.
    static double Facing(int x, int y, double radius) {
        d3dx::Matrix projection;
        d3dx::MatrixTranspose(&projection, &Renderer.projection);
        const double dx = ((x + 0.5) / kWindow * 2 - 1) / projection.m[0][0];
        const double dy = (1 - (y + 0.5) / kWindow * 2) / projection.m[1][1];
        const double c = OrbitCamera.distance, dd = dx * dx + dy * dy + 1;
        const double disc = c * c - dd * (c * c - radius * radius);
        if (disc < 0)
            return -1;
        // The hit, from the centre: (t dx, t dy, t - c); the ray (dx, dy, 1).
        const double t = (c - std::sqrt(disc)) / dd;
        return std::fabs(t * dd - c) / (radius * std::sqrt(dd));
    }
};

constexpr double kRadius = 11.0;

// A ball of kRadius voxels with an edge 1.5 voxels soft, and a grey
// function clear below half its density and opaque above it.
std::vector<uint16_t> BallSamples() {
    constexpr double kCentre = (kSide - 1) / 2.0;
    std::vector<uint16_t> samples(kSide * kSide * kSide);
    for (int z = 0; z < kSide; ++z)
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const double r = std::hypot(x - kCentre, y - kCentre, z - kCentre);
                samples[(z * kSide + y) * kSide + x] =
                    static_cast<uint16_t>(4000 * std::clamp((kRadius - r) / 1.5 + 0.5, 0.0, 1.0));
            }
    return samples;
}
const std::vector<ControlPoint> kGreyBall = {{0, 0.5f, 0.5f, 0.5f, 0},
                                             {0.42f, 0.5f, 0.5f, 0.5f, 0},
                                             {0.48f, 0.5f, 0.5f, 0.5f, 1},
                                             {1, 0.5f, 0.5f, 0.5f, 1}};

TEST_F(ShadingTest, AnOpaqueBallFollowsTheDiffuseTermShadedAndIsFlatUnshaded) {
    const std::vector<Frame> frames = Draw(BallSamples(), kGreyBall, {kCmdViewShading});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(boxes_.empty());
    double shadedError = 0, flatError = 0, worst = 0;
    int n = 0;
    for (int y = 0; y < kWindow; ++y)
        for (int x = 0; x < kWindow; ++x) {
            // Inside 85% of the disc: the rim's pixels are partly covered.
            const double facing = Facing(x, y, kRadius * 0.85 / kSide);
            if (facing < 0)
                continue;
            const double cosine = Facing(x, y, kRadius / kSide);
            const double lit = 255 * (0.5 * (0.3 + 0.7 * cosine) + 0.3 * std::pow(cosine, 20));
            const double shadedDiff = std::fabs(frames[0].At(x, y)[0] - lit);
            shadedError += shadedDiff;
            worst = std::max(worst, shadedDiff);
            flatError += std::fabs(frames[1].At(x, y)[0] - 127.5);
            ++n;
        }
    ASSERT_GT(n, 500);
    EXPECT_LT(shadedError / n, 4.0) << "mean levels off the diffuse term, worst " << worst;
    EXPECT_LT(flatError / n, 1.0) << "unshaded, the ball is one flat grey";
    const int centre = kWindow / 2;
    EXPECT_GT(frames[0].At(centre, centre)[0], 200) << "bright where the ball faces the eye";
}

// Without room for the gradient the volume is shown all the same, unshaded,
// and the user told why.
TEST_F(ShadingTest, AVolumeWithoutAGradientIsShownUnshadedWithANotice) {
    // The gradient's, the first 2D texture of an open.
    beforeOpen_ = [] { gpu::testing::FailNthCreation(gpu::testing::CreationKind::Texture2D, 1); };
    const std::vector<Frame> frames = Draw(BallSamples(), kGreyBall, {});
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Volume unshaded");
    EXPECT_NE(boxes_[0].type & shell::MB_ICONINFORMATION, 0u);
    EXPECT_NEAR(frames[0].At(kWindow / 2, kWindow / 2)[0], 127.5, 1.0) << "the flat grey";
}

TEST_F(ShadingTest, MaximumAndMinimumIntensityShowTheFunctionAtEachPixelsExtreme) {
    // 4 x 4 blocks of 8 x 8 columns, each block one random profile along z
    // whose largest and smallest values span three samples, so that the
    // filtered samples between slices reach them exactly.
    constexpr int kBlocks = 4, kBlock = kSide / kBlocks;
    std::mt19937 random(22);
    std::vector<uint16_t> samples(kSide * kSide * kSide), highest, lowest;
    for (int b = 0; b < kBlocks * kBlocks; ++b) {
        std::vector<uint16_t> profile(kSide);
        for (uint16_t& v : profile)
            v = static_cast<uint16_t>(std::uniform_int_distribution<int>(800, 3200)(random));
        const int top = std::uniform_int_distribution<int>(1, 13)(random), bottom = top + 15;
        highest.push_back(static_cast<uint16_t>(std::uniform_int_distribution<int>(3300, 4095)(random)));
        lowest.push_back(static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 700)(random)));
        std::fill_n(profile.begin() + top - 1, 3, highest.back());
        std::fill_n(profile.begin() + bottom - 1, 3, lowest.back());
        for (int z = 0; z < kSide; ++z)
            for (int y = 0; y < kBlock; ++y)
                for (int x = 0; x < kBlock; ++x)
                    samples[(z * kSide + (b / kBlocks) * kBlock + y) * kSide + (b % kBlocks) * kBlock + x] =
                        profile[z];
    }
    // Opaque, so that the colour is the ramp's own.
    const std::vector<Frame> frames =
        Draw(samples, {{0, 0, 0, 0, 1}, {1, 1, 1, 1, 1}}, {kCmdViewMaximum, kCmdViewMinimum}, [] {
            // The View menu's marks follow: set each as it should be, and
            // the previous state must be the same.
            const shell::HMENU menu = shell::GetMenu(MainWindow);
            for (auto [id, on] : {std::pair{kCmdViewShading, true},
                                  {kCmdViewComposite, false},
                                  {kCmdViewMaximum, false},
                                  {kCmdViewMinimum, true}}) {
                const shell::UINT mark = on ? shell::MF_CHECKED : shell::MF_UNCHECKED;
                EXPECT_EQ(shell::CheckMenuItem(menu, id, mark), static_cast<int>(mark)) << id;
            }
        });
    ASSERT_EQ(frames.size(), 3u);
    d3dx::Matrix projection;
    d3dx::MatrixTranspose(&projection, &Renderer.projection);
    for (int b = 0; b < kBlocks * kBlocks; ++b) {
        // The block's centre on the box's middle plane, on screen (object x
        // right, y up).
        const double ox = ((b % kBlocks) + 0.5) / kBlocks - 0.5, oy = ((b / kBlocks) + 0.5) / kBlocks - 0.5;
        const int px = static_cast<int>((ox * projection.m[0][0] / OrbitCamera.distance + 1) * kWindow / 2);
        const int py = static_cast<int>((1 - oy * projection.m[1][1] / OrbitCamera.distance) * kWindow / 2);
        SCOPED_TRACE(b);
        EXPECT_NEAR(frames[1].At(px, py)[0], 255 * Ramp(highest[b]), 1.5) << "maximum";
        EXPECT_NEAR(frames[2].At(px, py)[0], 255 * Ramp(lowest[b]), 1.5) << "minimum";
    }
    for (int m = 1; m < 3; ++m) {
        const Rgba corner = frames[m].At(2, 2);
        EXPECT_TRUE(corner[0] == 0 && corner[1] == 0 && corner[2] >= 127 && corner[2] <= 128)
            << "outside the box the background stays";
    }
}

}  // namespace
}  // namespace viewer_test

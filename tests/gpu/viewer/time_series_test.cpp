// A series of time points in the running program, headless: showing a point
// draws exactly what that point's grid alone draws (its texture, gradient
// and clear space all switched), on the slices and on the CPU; the histogram
// counts every point; Space plays and pauses, the arrows and ',' '.' step,
// and a volume of one point leaves those keys as they were.
#include <SDL2/SDL.h>

#include <numeric>

#include "app/app_state.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "volume/histogram.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 160, kHeight = 128;
constexpr uint32_t kSide = 24, kPoints = 4;

// A ball that moves along x with the time point, brighter as it goes, so
// that every point has its own picture and its own values.
std::vector<uint16_t> BallAt(uint32_t t) {
    std::vector<uint16_t> grid(size_t{kSide} * kSide * kSide, 0);
    const int cx = 6 + 4 * static_cast<int>(t);
    for (size_t i = 0; i < grid.size(); ++i) {
        const int x = int(i % kSide), y = int(i / kSide % kSide), z = int(i / kSide / kSide);
        if ((x - cx) * (x - cx) + (y - 12) * (y - 12) + (z - 11) * (z - 11) < 20)
            grid[i] = static_cast<uint16_t>(2200 + 400 * t + 50 * (y % 3));
    }
    return grid;
}

// The series (first == last: one point alone, as a 1-point volume).
void InstallPoints(uint32_t first, uint32_t last) {
    VolumeData volume;
    volume.dimX = volume.dimY = volume.dimZ = kSide;
    volume.timePoints = last - first + 1;
    volume.timeStep = 0.5;
    volume.timeUnit = "s";
    volume.samples.reset(new uint16_t[volume.SampleCount()]);
    for (uint32_t t = first; t <= last; ++t) {
        const std::vector<uint16_t> grid = BallAt(t);
        std::copy(grid.begin(), grid.end(), volume.Grid(0, t - first));
    }
    VolumeProblem problem;
    std::vector<VolumeNotice> notices;
    ASSERT_TRUE(Volume.Install(std::move(volume), "series", &problem, &notices)) << problem.text;
    ASSERT_TRUE(ShowLoadedVolume());
}

class TimeSeriesTest : public ViewerTest {
  protected:
    std::function<void()> UntilWhole() {
        return WaitFor(
            [] { return Renderer.layerQuality.Full() && !Renderer.refining && !Renderer.volumeLayerStale; },
            2000);
    }
    void ExpectPointsDrawAsAlone(VolumePassChoice pass) {
        SCOPED_TRACE(pass == VolumePassChoice::Cpu ? "the CPU's pass" : "the slices");
        Renderer.volumePassChoice = pass;
        Frame first, switched, alone, back;
        const auto view = [] {
            OrbitCamera = {0.5f, 0.4f, 2.2f};
            UpdateCamera();
        };
        Run({[] { Size(kWidth, kHeight); }, [] {}, [&] { InstallPoints(0, kPoints - 1); }, view, UntilWhole(),
             [&] {
                 first = ReadFrame();
                 EXPECT_TRUE(Volume.ShowTimePoint(3));
             },
             UntilWhole(), [&] { switched = ReadFrame(); },
             [&] {
                 InstallPoints(3, 3);
                 view();
             },
             UntilWhole(), [&] { alone = ReadFrame(); },
             // And back again: the first point's picture returns exactly.
             [&] {
                 InstallPoints(0, kPoints - 1);
                 view();
                 EXPECT_TRUE(Volume.ShowTimePoint(2));
                 EXPECT_TRUE(Volume.ShowTimePoint(0));
             },
             UntilWhole(), [&] { back = ReadFrame(); }});
        ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
        ASSERT_EQ(switched.rgba.size(), alone.rgba.size());
        EXPECT_NE(first.rgba, switched.rgba) << "the ball moved";
        EXPECT_TRUE(switched.rgba == alone.rgba) << "point 3 of the series is point 3 alone";
        EXPECT_TRUE(back.rgba == first.rgba) << "point 0 shown again is point 0";
    }
    void TearDown() override {
        Renderer.volumePassChoice = VolumePassChoice::Automatic;
        ViewerTest::TearDown();
    }
};

TEST_F(TimeSeriesTest, ShowingAPointDrawsWhatItsGridAloneDrawsOnTheSlices) {
    ExpectPointsDrawAsAlone(VolumePassChoice::Slices);
}

TEST_F(TimeSeriesTest, ShowingAPointDrawsWhatItsGridAloneDrawsOnTheCpu) {
    ExpectPointsDrawAsAlone(VolumePassChoice::Cpu);
}

TEST_F(TimeSeriesTest, TheHistogramCountsEveryPointAndAPointPastTheEndIsRefused) {
    Run({[] { Size(kWidth, kHeight); }, [] {},
         [&] {
             InstallPoints(0, kPoints - 1);
             std::vector<uint16_t> all;
             for (uint32_t t = 0; t < kPoints; ++t) {
                 const std::vector<uint16_t> grid = BallAt(t);
                 for (uint16_t s : grid)
                     all.push_back(static_cast<uint16_t>(s << 4));
             }
             const uint32_t bins = static_cast<uint32_t>(kWidth / 2);
             const HistogramCounts expected =
                 CountHistogram(all.data(), static_cast<uint32_t>(all.size()), bins);
             const auto check = [&](const char* when) {
                 SCOPED_TRACE(when);
                 ASSERT_EQ(Volume.binCount, bins);
                 EXPECT_EQ(
                     std::vector<uint32_t>(Volume.histogramBins.get(), Volume.histogramBins.get() + bins),
                     expected.bins);
                 EXPECT_EQ(Volume.maxSample, expected.maxSample) << "the brightest point's largest value";
             };
             check("after the load");
             ASSERT_TRUE(Volume.ShowTimePoint(2));
             GenerateHistogram(bins);
             check("at another point: the panel does not jump");
             EXPECT_FALSE(Volume.ShowTimePoint(kPoints)) << "past the last point";
             EXPECT_EQ(Volume.shownTimePoint, 2u) << "the point shown stays";
         }});
}

TEST_F(TimeSeriesTest, SpacePlaysAndPausesAndTheKeysStepOnlyThroughASeries) {
    const auto key = [](int vk) { Post(shell::WM_KEYDOWN, static_cast<shell::WPARAM>(vk), 0); };
    std::vector<uint32_t> stepped;
    uint32_t paused = 0;
    bool playedCoarse = false, pausedWhole = true;
    Run({[] { Size(kWidth, kHeight); }, [] {}, [&] { InstallPoints(0, kPoints - 1); },
         [&] {
             TimePlay().framesPerSecond = 40;
             key(shell::VK_SPACE);
         },
         WaitFor([] { return Volume.shownTimePoint >= 2; }),
         [&] {
             playedCoarse = TimePlaying() && ChangingContinuously();
             key(shell::VK_SPACE);
         },
         [&] {
             paused = Volume.shownTimePoint;
             pausedWhole = !TimePlaying() && !ChangingContinuously();
             SDL_Delay(200);  // eight points' worth at the rate played
         },
         [&] {
             EXPECT_EQ(Volume.shownTimePoint, paused) << "paused, the point stays";
             Volume.ShowTimePoint(0);
             key(shell::VK_RIGHT);
         },
         [&] {
             stepped.push_back(Volume.shownTimePoint);
             key(shell::VK_OEM_PERIOD);
         },
         [&] {
             stepped.push_back(Volume.shownTimePoint);
             key(shell::VK_LEFT);
         },
         [&] {
             stepped.push_back(Volume.shownTimePoint);
             key(shell::VK_OEM_COMMA);
         },
         [&] {
             stepped.push_back(Volume.shownTimePoint);
             key(shell::VK_OEM_COMMA);
         },
         [&] {
             stepped.push_back(Volume.shownTimePoint);
             // One point: nothing plays, nothing steps.
             InstallPoints(1, 1);
             key(shell::VK_SPACE);
             key(shell::VK_RIGHT);
         },
         [&] {
             EXPECT_FALSE(TimePlaying());
             EXPECT_EQ(Volume.shownTimePoint, 0u);
             EXPECT_FALSE(HandleTimeKey(shell::VK_SPACE)) << "Space is free for a single volume";
             EXPECT_FALSE(HandleTimeKey(shell::VK_LEFT));
         }});
    EXPECT_TRUE(playedCoarse) << "playing is drawn as a drag is";
    EXPECT_TRUE(pausedWhole) << "paused, the picture is refined";
    EXPECT_EQ(stepped, (std::vector<uint32_t>{1, 2, 1, 0, kPoints - 1})) << "round the start with Loop";
}

}  // namespace
}  // namespace viewer_test

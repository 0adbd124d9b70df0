// A series in the running program, headless: a point shown draws exactly what
// its grid alone draws (texture, gradient and clear space all switched), on
// the slices and on the CPU, and the histogram counts every point; Space
// plays and pauses, the arrows and ',' '.' step, one point leaves them free.
#include <SDL2/SDL.h>

#include "app/app_state.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/histogram.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr uint32_t kSide = 24, kPoints = 4;

// A ball moving along x with the point, brighter as it goes.
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

// Points first..last as one volume, shown as after File > Open; a second
// channel's ball moves the other way.
void InstallPoints(uint32_t first, uint32_t last, uint32_t channels = 1) {
    VolumeData volume;
    volume.dimX = volume.dimY = volume.dimZ = kSide;
    volume.timePoints = last - first + 1;
    volume.channels.assign(channels, VolumeChannel{});
    volume.samples.reset(new uint16_t[volume.SampleCount()]);
    for (uint32_t t = first; t <= last; ++t)
        for (uint32_t c = 0; c < channels; ++c) {
            const std::vector<uint16_t> grid = BallAt(c == 0 ? t : kPoints - 1 - t);
            std::copy(grid.begin(), grid.end(), volume.Grid(c, t - first));
        }
    VolumeProblem problem;
    std::vector<VolumeNotice> notices;
    ASSERT_TRUE(Volume.Install(std::move(volume), "series", &problem, &notices)) << problem.text;
    ASSERT_TRUE(ShowLoadedVolume());
    // Several channels: each clear below half of the range, so that a
    // brick's range taken on the wrong scale would leave its ball out.
    for (uint32_t c = 0; c < channels && channels > 1; ++c) {
        const float red = c == 0 ? 1.0f : 0.2f, blue = 1.2f - red;
        EditorTab.SetChannelPoints(c, {{0.0f, red, 0.5f, blue, 0.0f},
                                       {0.5f, red, 0.5f, blue, 0.0f},
                                       {0.52f, red, 0.5f, blue, 1.0f},
                                       {1.0f, red, 0.5f, blue, 1.0f}});
    }
    OrbitCamera = {0.5f, 0.4f, 2.2f};
    UpdateCamera();
}

class TimeSeriesTest : public ViewerTest {
  protected:
    std::function<void()> UntilWhole() {
        return WaitFor(
            [] { return Renderer.layerQuality.Full() && !Renderer.refining && !Renderer.volumeLayerStale; },
            2000);
    }
    // `revisit`: point 3 is shown, left and shown again, from what it kept;
    // `ahead`: shown once every point was worked out ahead of the play.
    void ExpectAPointDrawsAsItsGridAlone(VolumePassChoice pass, uint32_t channels = 1, bool revisit = false,
                                         bool ahead = false) {
        Renderer.volumePassChoice = pass;
        Frame first, switched, alone;
        Run({[] { Size(160, 128); }, [] {}, [&] { InstallPoints(0, kPoints - 1, channels); }, UntilWhole(),
             [&] {
                 first = ReadFrame();
                 if (ahead) {
                     Volume.WaitForPreparedTimePoints();
                     ASSERT_EQ(Volume.timePointsKept.size(), kPoints);
                     EXPECT_TRUE(
                         Volume.timePointsKept[3].bricks && !Volume.timePointsKept[3].gradient.empty() &&
                         (channels == 1 || (Volume.timePointsKept[3].texels &&
                                            Volume.timePointsKept[3].moreBricks.size() == channels - 1)))
                         << "point 3 worked out ahead";
                 }
                 EXPECT_FALSE(Volume.ShowTimePoint(kPoints)) << "past the last point";
                 EXPECT_TRUE(Volume.ShowTimePoint(3));
                 if (revisit) {
                     EXPECT_TRUE(Volume.ShowTimePoint(0));
                     EXPECT_TRUE(Volume.ShowTimePoint(3));
                 }
                 // The histogram (the first channel's), at any point, counts
                 // every point's samples.
                 std::vector<uint16_t> all;
                 for (uint32_t t = 0; t < kPoints; ++t)
                     for (uint16_t s : BallAt(t))
                         all.push_back(static_cast<uint16_t>(s << 4));
                 GenerateHistogram(80);
                 EXPECT_EQ(std::vector<uint32_t>(Volume.histogramBins.get(), Volume.histogramBins.get() + 80),
                           CountHistogram(all.data(), static_cast<uint32_t>(all.size()), 80).bins);
             },
             UntilWhole(), [&] { switched = ReadFrame(); }, [&] { InstallPoints(3, 3, channels); },
             UntilWhole(), [&] { alone = ReadFrame(); }});
        Renderer.volumePassChoice = VolumePassChoice::Automatic;
        ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
        EXPECT_NE(first.rgba, switched.rgba) << "the ball moved";
        EXPECT_TRUE(switched.rgba == alone.rgba) << "point 3 of the series is point 3 alone";
    }
};

TEST_F(TimeSeriesTest, APointDrawsAsItsGridAloneOnTheSlices) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Slices);
}

TEST_F(TimeSeriesTest, APointDrawsAsItsGridAloneOnTheCpu) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Cpu);
}

TEST_F(TimeSeriesTest, APointShownAgainDrawsFromWhatItKept) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Cpu, 1, true);
}

TEST_F(TimeSeriesTest, APointWorkedOutAheadDrawsAsItsGridAloneOnTheSlices) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Slices, 1, false, true);
}

TEST_F(TimeSeriesTest, APointWorkedOutAheadDrawsAsItsGridAloneOnTheCpu) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Cpu, 1, false, true);
}

// Two channels: each point's texels are made from the samples as it is
// shown, or ahead of it.
TEST_F(TimeSeriesTest, APointOfSeveralChannelsDrawsAsItsGridsAloneOnTheSlices) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Slices, 2);
}

TEST_F(TimeSeriesTest, APointOfSeveralChannelsDrawsAsItsGridsAloneOnTheCpu) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Cpu, 2);
}

TEST_F(TimeSeriesTest, APointOfSeveralChannelsWorkedOutAheadDrawsAsItsGridsAloneOnTheSlices) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Slices, 2, false, true);
}

TEST_F(TimeSeriesTest, APointOfSeveralChannelsShownAgainDrawsFromWhatItKeptOnTheCpu) {
    ExpectAPointDrawsAsItsGridAlone(VolumePassChoice::Cpu, 2, true, true);
}

TEST_F(TimeSeriesTest, SpacePlaysAndPausesAndTheKeysStepOnlyThroughASeries) {
    const auto key = [](int vk) { Post(shell::WM_KEYDOWN, static_cast<shell::WPARAM>(vk), 0); };
    std::vector<uint32_t> seen;
    bool playedAsADrag = false, pausedWhole = false;
    std::vector<std::function<void()>> steps = {[] { Size(160, 128); },
                                                [] {},
                                                [&] {
                                                    InstallPoints(0, kPoints - 1);
                                                    TimePlay().framesPerSecond = 40;
                                                    key(shell::VK_SPACE);
                                                },
                                                WaitFor([] { return Volume.shownTimePoint >= 2; }),
                                                [&] {
                                                    playedAsADrag = TimePlaying() && ChangingContinuously();
                                                    key(shell::VK_SPACE);
                                                },
                                                [&] {
                                                    seen.push_back(Volume.shownTimePoint);
                                                    pausedWhole = !TimePlaying() && !ChangingContinuously();
                                                    SDL_Delay(200);  // eight points' worth
                                                },
                                                [&] {
                                                    seen.push_back(Volume.shownTimePoint);
                                                    Volume.ShowTimePoint(0);
                                                    key(shell::VK_RIGHT);
                                                }};
    for (int vk : {shell::VK_OEM_PERIOD, shell::VK_LEFT, shell::VK_OEM_COMMA, shell::VK_OEM_COMMA})
        steps.push_back([&, vk] {
            seen.push_back(Volume.shownTimePoint);
            key(vk);
        });
    steps.push_back([&] {
        seen.push_back(Volume.shownTimePoint);
        InstallPoints(1, 1);
        EXPECT_FALSE(HandleTimeKey(shell::VK_SPACE) || HandleTimeKey(shell::VK_RIGHT))
            << "one point leaves the keys as they were";
    });
    Run(steps);
    EXPECT_TRUE(playedAsADrag) << "playing is drawn as a drag is";
    EXPECT_TRUE(pausedWhole) << "paused, the picture is refined";
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[1], seen[0]) << "paused, no point follows";
    EXPECT_EQ(std::vector<uint32_t>(seen.begin() + 2, seen.end()),
              (std::vector<uint32_t>{1, 2, 1, 0, kPoints - 1}))
        << "steps on and back, round the start with Loop";
}

}  // namespace
}  // namespace viewer_test

// Volumes opened through File > Open and drawn headless: where things land on
// screen, which side covers which, what the transfer function does, and what
// bad files leave behind.
#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/app_state.h"
#include "platform/d3dx/d3dx.h"
#include "render/drag_quality.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "tools/volume/phantom.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 256, kHeight = 200;

class VolumeRenderTest : public ViewerTest {
  protected:
    // Opens `path` through the file dialog at a small client size, draws one
    // frame and returns it; `beforeOpen` runs first (e.g. to set the camera).
    Frame OpenAndDraw(
        const std::string& path, std::function<void()> beforeOpen = [] {}) {
        Frame frame;
        shell::testing::SetFileDialogScript({path});
        Run({[&] {
                 Size(kWidth, kHeight);
                 beforeOpen();
                 Command(kCmdFileOpen);
             },
             [] {}, [&] { frame = ReadFrame(); }});
        return frame;
    }

    std::string MakeVolume(const std::string& name, int n,
                           const std::function<uint16_t(int, int, int)>& sample) {
        std::vector<uint16_t> samples(static_cast<size_t>(n) * n * n);
        for (int z = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x)
                    samples[(static_cast<size_t>(z) * n + y) * n + x] = sample(x, y, z);
        const std::string path = ScratchDir() + "/" + name;
        WriteVolume(path, n, n, n, samples);
        return path;
    }

    static void LookStraightDownZ() {
        OrbitCamera.pitch = 0.0f;
        OrbitCamera.yaw = 0.0f;
        OrbitCamera.distance = 2.0f;
    }

    static bool IsBackground(const Rgba& p) { return p[0] < 8 && p[1] < 8 && p[2] > 120 && p[2] < 136; }
};

// An opaque white cube in the (+x, +y, -z) octant, seen straight down +z:
// object x is screen right and object y is screen up, so it must fill the
// upper-right quadrant and nothing else.
TEST_F(VolumeRenderTest, AnOctantMarkerLandsInTheRightQuadrant) {
    const std::string path = MakeVolume(
        "marker.vol", 32, [](int x, int y, int z) { return (x >= 16 && y >= 16 && z < 16) ? 4095 : 0; });
    // Unshaded: the cube's edges would otherwise be lit darker than its faces.
    const Frame frame = OpenAndDraw(path, [] {
        LookStraightDownZ();
        Command(kCmdViewShading);
    });
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    ASSERT_EQ(frame.width, static_cast<uint32_t>(kWidth));
    frame.SavePng(ScratchDir() + "/../tamlo-marker.png");
    const Rgba upperRight = frame.At(kWidth / 2 + 20, kHeight / 2 - 20);
    EXPECT_GT(upperRight[0], 200) << "the marker is white in the upper right";
    for (const auto& [x, y] : {std::pair{kWidth / 2 - 20, kHeight / 2 - 20},
                               {kWidth / 2 - 20, kHeight / 2 + 20},
                               {kWidth / 2 + 20, kHeight / 2 + 20}}) {
        EXPECT_TRUE(IsBackground(frame.At(x, y))) << "quadrant at " << x << "," << y << " stays clear";
    }
    // Perspective: the near face (z = -0.5 at distance 1.5) spans
    // 0.5 * ys / 1.5 of the half height above the centre.
    const float ys = 1.0f / std::tan(0.7855f / 2.0f);
    const int topRow = static_cast<int>(kHeight / 2 - 0.5f * ys / 1.5f * kHeight / 2);
    EXPECT_GT(frame.At(kWidth / 2 + 5, topRow + 3)[0], 200) << "just inside the near face's top edge";
    EXPECT_TRUE(IsBackground(frame.At(kWidth / 2 + 5, topRow - 4))) << "just outside it";
}

// Near half bright (opaque white), far half dim: drawn back to front the near
// half covers the picture.
TEST_F(VolumeRenderTest, TheNearHalfCoversTheFarHalf) {
    const std::string path =
        MakeVolume("halves.vol", 32, [](int, int, int z) { return z < 16 ? 4095 : 600; });
    const Frame frame = OpenAndDraw(path, LookStraightDownZ);
    ASSERT_TRUE(boxes_.empty());
    const Rgba centre = frame.At(kWidth / 2, kHeight / 2);
    EXPECT_GT(centre[0], 235) << "the near, opaque white half fills the centre";
    EXPECT_GT(centre[1], 235);
}

// The default function: low values dark and transparent, high ones white and opaque.
TEST_F(VolumeRenderTest, DefaultTransferFunctionHidesLowValuesAndShowsHighOnes) {
    const std::string low = MakeVolume("low.vol", 16, [](int, int, int) { return 60; });
    Frame frame = OpenAndDraw(low, LookStraightDownZ);
    const Rgba dim = frame.At(kWidth / 2, kHeight / 2);
    EXPECT_LT(dim[0], 10) << "a low value is dark";
    // Opacity 60 / 4095 per eighth of the box, eight eighths deep: 11% over the
    // dark blue (128), the rest the value's own grey (4 of 255).
    const double opacity = 1.0 - std::pow(1.0 - 60.0 * 16.0 / 65535.0, 8.0);
    EXPECT_NEAR(dim[2], 128.0 * (1.0 - opacity) + 3.7 * opacity, 2.0)
        << "and nearly transparent: the background shows through";
    TearDown();
    SetUp();
    const std::string high = MakeVolume("high.vol", 16, [](int, int, int) { return 4000; });
    frame = OpenAndDraw(high, LookStraightDownZ);
    const Rgba bright = frame.At(kWidth / 2, kHeight / 2);
    EXPECT_GT(bright[0], 230);
    EXPECT_GT(bright[1], 230);
    EXPECT_GT(bright[2], 230);
}

// The phantom at the start orientation, for a person to look at; it must show
// a bright head in the middle on the dark blue background.
TEST_F(VolumeRenderTest, ThePhantomAtTheStartOrientation) {
    const std::string path = ScratchDir() + "/head64.vol";
    WriteVolume(path, 64, 64, 64, phantom::MakeHeadPhantom(64, 64, 64));
    const Frame frame = OpenAndDraw(path);
    ASSERT_TRUE(boxes_.empty());
    EXPECT_TRUE(frame.SavePng("/tmp/tamlo-phantom.png"));
    EXPECT_TRUE(IsBackground(frame.At(3, 3))) << "corners show the background";
    EXPECT_FALSE(IsBackground(frame.At(kWidth / 2, kHeight / 2))) << "the head covers the centre";
    EXPECT_EQ(Volume.dimX, 64);
    EXPECT_EQ(Volume.histogramView != nullptr, true) << "File > Open built the histogram";
    EXPECT_EQ(Volume.binCount, static_cast<uint32_t>(kWidth / 2));
}

// Bad files: one message, nothing lost, the mode unchanged.
TEST_F(VolumeRenderTest, BadVolumeFilesLeaveTheCurrentVolumeAndMode) {
    const std::string good = MakeVolume("good.vol", 8, [](int, int, int) { return 4000; });
    const std::string dir = ScratchDir();
    std::ofstream(dir + "/short.vol", std::ios::binary) << std::string("\x08\x00\x08\x00\x08\x00\x01\x02", 8);
    std::ofstream(dir + "/header.vol", std::ios::binary) << std::string("\x08\x00", 2);
    std::ofstream(dir + "/huge.vol", std::ios::binary) << std::string("\xff\xff\xff\xff\xff\xff", 6);
    std::filesystem::create_directory(dir + "/folder.vol");
    shell::testing::SetFileDialogScript(
        {good, dir + "/short.vol", dir + "/header.vol", dir + "/huge.vol", dir + "/folder.vol"});
    std::vector<size_t> boxCounts;
    uint16_t* samplesAfterGood = nullptr;
    std::vector<bool> stillVolumeMode, sameSamples;
    std::vector<std::function<void()>> steps = {[&] {
        Size(64, 64);
        Command(kCmdFileOpen);
    }};
    steps.push_back([&] { samplesAfterGood = Volume.voxels.get(); });
    for (int bad = 0; bad < 4; ++bad) {
        steps.push_back([] { Command(kCmdFileOpen); });
        steps.push_back([&] {
            boxCounts.push_back(shell::testing::TakeMessageBoxes().size());
            stillVolumeMode.push_back(InputHandlerTable.Frame == &RenderVolumeFrame);
            sameSamples.push_back(Volume.voxels.get() == samplesAfterGood && Volume.volumeView != nullptr);
        });
    }
    Run(steps);
    ASSERT_EQ(boxCounts.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(boxCounts[i], 1u) << "bad file " << i << ": one message";
        EXPECT_TRUE(stillVolumeMode[i]) << "bad file " << i << ": mode unchanged";
        EXPECT_TRUE(sameSamples[i]) << "bad file " << i << ": the loaded volume is kept";
    }
}

TEST_F(VolumeRenderTest, AZeroDimensionEndsInCreateTextureFailedNamingTheFile) {
    const std::string path = ScratchDir() + "/zero.vol";
    WriteVolume(path, 0, 4, 4, {});
    shell::testing::SetFileDialogScript({path});
    Run({[] { Command(kCmdFileOpen); }, [] {}});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "CreateTexture failed (" + path + ": 0 x 4 x 4 samples, a zero dimension)");
    EXPECT_EQ(boxes_[0].caption, "error: Volume");
    EXPECT_EQ(Volume.voxels.get(), nullptr);
}

// What was looked for and not found: a folder with no series, and a file
// whose name promises a scan, are not measured as volume files.
TEST_F(VolumeRenderTest, AFolderWithoutASeriesAndANamedScanNoReaderTakesSaySo) {
    const std::string dir = ScratchDir();
    std::filesystem::create_directory(dir + "/empty");
    std::ofstream(dir + "/notes.dcm") << "a text file named as a DICOM slice, long enough to be read";
    shell::testing::SetFileDialogScript({dir + "/empty", dir + "/notes.dcm"});
    Run({[] { Command(kCmdFileOpen); }, [] { Command(kCmdFileOpen); }, [] {}});
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_NE(boxes_[0].text.find("the folder holds no DICOM series"), std::string::npos) << boxes_[0].text;
    EXPECT_NE(boxes_[1].text.find("no reader recognises its content"), std::string::npos) << boxes_[1].text;
}

// The wheel rebuilds the view: the next frame is the one drawn at the new
// distance, without waiting for a drag.
TEST_F(VolumeRenderTest, WheelZoomShowsInTheNextFrame) {
    const std::string path = MakeVolume("zoom.vol", 16, [](int x, int y, int z) {
        return static_cast<uint16_t>((x + y + z) % 7 == 0 ? 4000 : 1500);
    });
    Frame before, after, reopened;
    float distance = 0;
    shell::testing::SetFileDialogScript({path, path});
    Run({[&] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {}, [&] { before = ReadFrame(); },
         [] { Post(shell::WM_MOUSEWHEEL, shell::MAKEWPARAM(0, static_cast<uint16_t>(120)), 0); }, [] {},
         [&] {
             after = ReadFrame();
             distance = OrbitCamera.distance;
             Command(kCmdFileOpen);  // File > Open builds the view at the new distance
         },
         [] {}, [&] { reopened = ReadFrame(); }});
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    EXPECT_FLOAT_EQ(distance, 3.0f);
    EXPECT_NE(before.rgba, after.rgba) << "the zoom shows";
    EXPECT_EQ(after.rgba, reopened.rgba) << "as the volume opened at distance 3 shows";
}

// A load that fails at the device (a zero dimension; the device refusing the
// texture or its view) leaves the shown volume shown and usable: no second
// box on the frames and drags that follow.
TEST_F(VolumeRenderTest, AFailedLoadKeepsTheShownVolume) {
    const std::string good = MakeVolume("good.vol", 8, [](int x, int, int) { return x < 4 ? 4000 : 0; });
    const std::string zero = ScratchDir() + "/zero.vol";
    WriteVolume(zero, 0, 4, 4, {});
    shell::testing::SetFileDialogScript({good, zero, good, good});
    Frame shown, afterFailures;
    uint16_t* samples = nullptr;
    std::vector<std::vector<shell::testing::RecordedMessageBox>> answers;
    std::vector<bool> kept;
    auto check = [&] {
        answers.push_back(shell::testing::TakeMessageBoxes());
        kept.push_back(Volume.voxels.get() == samples && Volume.volumeView != nullptr && Volume.dimX == 8 &&
                       InputHandlerTable.Frame == &RenderVolumeFrame);
    };
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {},
         [&] {
             shown = ReadFrame();
             samples = Volume.voxels.get();
             Command(kCmdFileOpen);  // zero.vol
         },
         [&] {
             check();
             gpu::testing::FailNthCreation(gpu::testing::CreationKind::Texture3D, 1);
             Command(kCmdFileOpen);
         },
         [&] {
             check();
             gpu::testing::ClearCreationFailures();
             gpu::testing::FailNthCreation(gpu::testing::CreationKind::ShaderResourceView, 1);
             Command(kCmdFileOpen);
         },
         [&] {
             check();
             gpu::testing::ClearCreationFailures();
             Mouse(shell::WM_MOUSEMOVE, 40, 40);  // on the anchor: a drag that turns nothing
             Mouse(shell::WM_RBUTTONDOWN, 40, 40);
         },
         [] { Mouse(shell::WM_RBUTTONUP, 40, 40); }, [] {}, [&] { afterFailures = ReadFrame(); }});
    ASSERT_EQ(answers.size(), 3u);
    const char* texts[3] = {"CreateTexture failed (", "CreateTexture failed",
                            "CreateShaderResourceView failed"};
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(answers[i].size(), 1u) << "failure " << i;
        EXPECT_EQ(answers[i][0].text.rfind(texts[i], 0), 0u) << answers[i][0].text;
        EXPECT_TRUE(kept[i]) << "failure " << i << ": the shown volume, its samples and the mode stay";
    }
    EXPECT_TRUE(shell::testing::TakeMessageBoxes().empty()) << "no box on the frames and the drag after";
    EXPECT_EQ(afterFailures.rgba, shown.rgba) << "the same volume still draws (a click, no turn)";
}

// During a rotation drag the indicator is the atlas's 32 x 32 icon (its
// top-right corner), blended over the frame through the interface's texture
// shader; the panel is drawn after it with its own shaders.
TEST_F(VolumeRenderTest, TheRotationIndicatorIsTheAtlasIconBlendedOverTheFrame) {
    std::ifstream atlasFile(DataDir() + "/tam_ui.dds", std::ios::binary);
    const std::vector<uint8_t> atlasBytes((std::istreambuf_iterator<char>(atlasFile)), {});
    d3dx::DdsImage atlas;
    std::string error;
    ASSERT_TRUE(d3dx::ParseDds(atlasBytes.data(), atlasBytes.size(), &atlas, &error)) << error;
    const bool bgra = atlas.format == gpu::Format::B8G8R8A8_UNORM;
    auto texel = [&](uint32_t x, uint32_t y) {
        const uint8_t* t = &atlas.pixels[(size_t{y} * atlas.width + x) * 4];
        return Rgba{bgra ? t[2] : t[0], t[1], bgra ? t[0] : t[2], t[3]};
    };
    const uint32_t iconLeft = atlas.width - atlas.width / 16;

    const std::string path = MakeVolume("empty.vol", 4, [](int, int, int) { return uint16_t{0}; });
    shell::testing::SetFileDialogScript({path});
    constexpr int kAnchorX = 60, kAnchorY = 60;
    Frame still, dragging;
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {},
         [&] {
             still = ReadFrame();
             Mouse(shell::WM_RBUTTONDOWN, kAnchorX, kAnchorY);
         },
         [] {}, [&] { dragging = ReadFrame(); }, [] { Mouse(shell::WM_RBUTTONUP, kAnchorX, kAnchorY); }});
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(dragging.width, static_cast<uint32_t>(kWidth));

    // The icon's placement is searched within two pixels of the anchor; at the
    // right one every pixel is the texel blended over the still frame.
    int fewestWrong = 32 * 32;
    for (int oy = -2; oy <= 2; ++oy)
        for (int ox = -2; ox <= 2; ++ox) {
            int wrong = 0;
            for (int j = 0; j < 32; ++j)
                for (int i = 0; i < 32; ++i) {
                    const int x = kAnchorX - 16 + ox + i, y = kAnchorY - 16 + oy + j;
                    const Rgba t = texel(iconLeft + static_cast<uint32_t>(i), static_cast<uint32_t>(j));
                    const Rgba under = still.At(x, y), shown = dragging.At(x, y);
                    for (int c = 0; c < 3; ++c) {
                        const double expected = (t[c] * t[3] + under[c] * (255 - t[3])) / 255.0;
                        if (std::fabs(shown[c] - expected) > 2.0) {
                            ++wrong;
                            break;
                        }
                    }
                }
            fewestWrong = std::min(fewestWrong, wrong);
        }
    EXPECT_EQ(fewestWrong, 0);
    int changed = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            changed += still.At(x, y) != dragging.At(x, y) ? 1 : 0;
    EXPECT_GT(changed, 50) << "the icon shows";
    EXPECT_LE(changed, 32 * 32) << "and nothing else changes";
}

// The slices are drawn into the volume layer only when something they show
// changed; other frames copy the layer, pixel for pixel what a full redraw
// gives. A changed view that nobody announced stays unseen (the layer was
// reused), and shows once the layer is invalidated.
TEST_F(VolumeRenderTest, FramesReuseTheVolumeLayerUntilAnInputChanges) {
    const std::string path = MakeVolume("ball.vol", 24, [](int x, int y, int z) {
        const int dx = x - 9, dy = y - 12, dz = z - 14;
        return static_cast<uint16_t>(dx * dx + dy * dy + dz * dz < 64 ? 3500 : 300 + 40 * x);
    });
    shell::testing::SetFileDialogScript({path});
    Frame full, reused, unannounced, announced, redrawn, sliding;
    bool staleDuringSlide = true;
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {}, [&] { full = ReadFrame(); }, [&] { reused = ReadFrame(); },
         [] {
             OrbitCamera.yaw += 0.6f;
             UpdateCamera();
             Renderer.volumeLayerStale = false;  // as if the change had not been announced
         },
         [&] {
             unannounced = ReadFrame();
             InvalidateVolumeLayer();
         },
         [&] {
             announced = ReadFrame();
             OrbitCamera.yaw -= 0.6f;
             UpdateCamera();
         },
         [&] {
             redrawn = ReadFrame();
             Mouse(shell::WM_LBUTTONDOWN, 50, kHeight - 10);  // the handle: the panel slides
             Mouse(shell::WM_LBUTTONUP, 50, kHeight - 10);
         },
         [&] { staleDuringSlide = Renderer.volumeLayerStale; }, [&] { sliding = ReadFrame(); }});
    EXPECT_TRUE(boxes_.empty());
    ASSERT_EQ(full.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(reused.rgba, full.rgba) << "nothing changed: the same pixels";
    EXPECT_EQ(unannounced.rgba, full.rgba) << "the layer was reused, not redrawn";
    EXPECT_NE(announced.rgba, full.rgba) << "an invalidated layer shows the new view";
    EXPECT_EQ(redrawn.rgba, full.rgba) << "a full redraw gives the reused pixels exactly";
    EXPECT_FALSE(staleDuringSlide) << "the panel's slide draws no slices";
    EXPECT_NE(sliding.rgba, full.rgba) << "the panel rises over the reused layer";
}

// A drag on a device whose last layer took far over the frame budget draws
// the layer at a quarter of the resolution and a quarter of the slices, their
// opacity standing for the slices left out: the same picture, coarser. After
// the drag the picture is whole again.
TEST_F(VolumeRenderTest, ASlowDevicesDragFramesAreCoarserAndTheNextStillFrameIsWhole) {
    const std::string path = MakeVolume("ball.vol", 24, [](int x, int y, int z) {
        const int dx = x - 12, dy = y - 12, dz = z - 12;
        return static_cast<uint16_t>(dx * dx + dy * dy + dz * dz < 100 ? 2500 : 200);
    });
    shell::testing::SetFileDialogScript({path});
    Frame still, dragging, after;
    DragQuality dragQuality, afterQuality;
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {},
         [&] {
             still = ReadFrame();
             Renderer.layerSeconds = 10.0;        // as a very slow device would have measured
             Mouse(shell::WM_MOUSEMOVE, 8, 8);    // the cursor on the anchor: the view holds still
             Mouse(shell::WM_RBUTTONDOWN, 8, 8);  // the indicator lands in the corner
         },
         [] {},  // the first drag frame shows the layer as it is and turns the view
         [] { Renderer.layerSeconds = 10.0; },
         [&] {
             dragging = ReadFrame();
             dragQuality = Renderer.layerQuality;
             Mouse(shell::WM_RBUTTONUP, 8, 8);
         },
         // Whole again: at once, or refined between inputs.
         WaitFor([] { return Renderer.layerQuality.Full() && !Renderer.volumeLayerStale; }, 2000), [] {},
         [&] {
             after = ReadFrame();
             afterQuality = Renderer.layerQuality;
         }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(dragQuality.resolutionDivisor, 4u);
    EXPECT_EQ(dragQuality.sliceStep, 4u);
    EXPECT_TRUE(afterQuality.Full());
    EXPECT_EQ(after.rgba, still.rgba) << "after the drag the picture is whole";
    // Away from the indicator the coarse picture is close to the whole one.
    double difference = 0;
    int compared = 0, changed = 0;
    for (int y = 40; y < kHeight - 40; ++y)
        for (int x = 40; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(dragging.At(x, y)[c] - still.At(x, y)[c]);
                difference += d;
                changed += d > 0 ? 1 : 0;
                ++compared;
            }
    EXPECT_GT(changed, 0) << "the drag frame was drawn with less work";
    EXPECT_LT(difference / compared, 4.0) << "and looks the same, coarser";
}

// After a continuous change on a slow device the whole picture is drawn a
// band of slices at a time between inputs and shown once complete: it is
// the whole frame pixel for pixel. A change while it is drawn starts it over
// from the farthest slice.
TEST_F(VolumeRenderTest, TheRefinedPictureIsTheWholeFrameAndAChangeStartsItOver) {
    const std::string path = MakeVolume("ball.vol", 24, [](int x, int y, int z) {
        const int dx = x - 12, dy = y - 12, dz = z - 14;
        return static_cast<uint16_t>(dx * dx + dy * dy + dz * dz < 90 ? 2600 + 30 * (x % 7) : 300);
    });
    shell::testing::SetFileDialogScript({path});
    Frame coarse, refined, whole;
    bool coarseShown = false, refiningSeen = false, restarted = false;
    size_t bandsBeforeChange = 0;
    const auto notches = [] {
        Renderer.layerSeconds = 10.0;  // as a very slow device would have measured
        for (int16_t delta : {120, -120, 120})
            Post(shell::WM_MOUSEWHEEL, shell::MAKEWPARAM(0, static_cast<uint16_t>(delta)), 0);
    };
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {}, notches, [] {},
         [&] {
             coarse = ReadFrame();
             coarseShown = !Renderer.layerQuality.Full();
         },
         // Bands are drawn between the steps once the notches are past.
         WaitFor([&] { return Renderer.refining && Renderer.refineNextSlice > 0; }),
         [&] {
             refiningSeen = true;
             bandsBeforeChange = Renderer.refineNextSlice;
             notches();
         },
         [] {}, [&] { restarted = !Renderer.refining || Renderer.refineNextSlice < bandsBeforeChange; },
         WaitFor([] { return Renderer.layerQuality.Full(); }, 2000), [] {},
         [&] {
             refined = ReadFrame();
             Renderer.layerSeconds = kFastLayerSeconds;  // a fast device draws it whole at once
             InvalidateVolumeLayer();
         },
         [] {}, [&] { whole = ReadFrame(); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(coarseShown) << "notches that keep coming draw coarse frames on a slow device";
    EXPECT_TRUE(refiningSeen);
    EXPECT_TRUE(restarted) << "a change during the refinement starts it over";
    EXPECT_NE(coarse.rgba, whole.rgba);
    EXPECT_EQ(refined.rgba, whole.rgba) << "the refined picture is the whole frame";
}

// On a slow device a single change shows in the very next frame, drawn with
// less work, and the whole picture follows between inputs, the same pixels
// as a frame drawn whole: one wheel notch, a standard view, a menu's item;
// without the second layer to refine into, the whole picture comes in one go.
TEST_F(VolumeRenderTest, ASingleChangeShowsCoarseInTheNextFrameAndThenWhole) {
    const std::string path = MakeVolume("ball.vol", 24, [](int x, int y, int z) {
        const int dx = x - 12, dy = y - 10, dz = z - 14;
        return static_cast<uint16_t>(dx * dx + dy * dy + dz * dz < 90 ? 2600 + 30 * (x % 7) : 300);
    });
    shell::testing::SetFileDialogScript({path});
    const auto notch = [](int16_t delta) {
        Post(shell::WM_MOUSEWHEEL, shell::MAKEWPARAM(0, static_cast<uint16_t>(delta)), 0);
    };
    struct Change {
        const char* name;
        std::function<void()> make;
        Frame before{}, first{}, refined{}, whole{};
        bool firstCoarse = false;
    };
    std::vector<Change> changes = {{.name = "one wheel notch", .make = [&] { notch(120); }},
                                   {.name = "View > Left", .make = [] { Command(kCmdViewFront + 2); }},
                                   {.name = "View > Shading", .make = [] { Command(kCmdViewShading); }},
                                   {.name = "a notch where the device gave no second layer", .make = [&] {
                                        ReleaseAndNull(Renderer.refineLayerView);
                                        ReleaseAndNull(Renderer.refineLayerTarget);
                                        ReleaseAndNull(Renderer.refineLayer);
                                        notch(-120);
                                    }}};
    std::vector<std::function<void()>> steps = {[] {
                                                    Size(kWidth, kHeight);
                                                    Command(kCmdFileOpen);
                                                },
                                                [] {}};
    for (Change& c : changes)
        steps.insert(steps.end(), {[&c] {
                                       c.before = ReadFrame();
                                       Renderer.layerSeconds = 10.0;  // a very slow device
                                       c.make();
                                   },
                                   [] {},
                                   [&c] {
                                       c.first = ReadFrame();
                                       c.firstCoarse = !Renderer.layerQuality.Full();
                                   },
                                   WaitFor([] { return Renderer.layerQuality.Full(); }, 2000), [] {},
                                   [&c] {
                                       c.refined = ReadFrame();
                                       Renderer.layerSeconds = kFastLayerSeconds;
                                       InvalidateVolumeLayer();
                                   },
                                   [] {}, [&c] { c.whole = ReadFrame(); }});
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    for (const Change& c : changes) {
        EXPECT_TRUE(c.firstCoarse) << c.name << ": the next frame is drawn with less work";
        EXPECT_NE(c.first.rgba, c.before.rgba) << c.name << ": and shows the change";
        EXPECT_NE(c.first.rgba, c.whole.rgba) << c.name << ": coarse, not yet whole";
        EXPECT_EQ(c.refined.rgba, c.whole.rgba) << c.name << ": then whole, pixel for pixel";
    }
}

// The slice pass leaves out the slices and pixels the transfer function
// makes clear: the pictures are exactly those of drawing every slice whole,
// from the side, close up (the box past the window) and from behind.
TEST_F(VolumeRenderTest, SkippingTheClearSpaceChangesNoPixel) {
    const std::string path = MakeVolume("corner.vol", 40, [](int x, int y, int z) {
        const int dx = x - 12, dy = y - 27, dz = z - 14;
        return static_cast<uint16_t>(dx * dx + dy * dy + dz * dz < 36 ? 3500 - 40 * (x % 5) : 0);
    });
    shell::testing::SetFileDialogScript({path});
    struct View {
        float pitch, yaw, distance;
    };
    const View views[] = {{0.0f, 0.0f, 2.0f}, {0.5f, -0.9f, 1.6f}, {-0.3f, 3.0f, 1.1f}, {1.2f, 2.0f, 4.0f}};
    std::vector<Frame> skipped(4), whole(4);
    TextureBox visible;
    std::vector<std::function<void()>> steps = {[] {
                                                    Size(kWidth, kHeight);
                                                    Command(kCmdFileOpen);
                                                },
                                                [] {}};
    for (size_t i = 0; i < 4; ++i) {
        steps.push_back([&, i] {
            OrbitCamera.pitch = views[i].pitch;
            OrbitCamera.yaw = views[i].yaw;
            OrbitCamera.distance = views[i].distance;
            UpdateCamera();
            Renderer.skipClearSpace = true;
        });
        steps.push_back([&, i] {
            skipped[i] = ReadFrame();
            Renderer.skipClearSpace = false;
            InvalidateVolumeLayer();
        });
        steps.push_back([&, i] {
            whole[i] = ReadFrame();
            visible = VisibleTextureBox(Renderer.volumeBricks, Renderer.lookupOpacity);
        });
    }
    steps.push_back([] { Renderer.skipClearSpace = true; });
    Run(steps);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_LT(visible.high[0], 0.9f) << "the ball's side of the box is all that can be seen";
    EXPECT_GT(visible.low[1], 0.3f);
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(skipped[i].width, static_cast<uint32_t>(kWidth));
        EXPECT_EQ(skipped[i].rgba, whole[i].rgba) << "view " << i;
    }
    int shown = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            shown += skipped[0].At(x, y)[0] > 60;
    EXPECT_GT(shown, 50) << "the ball is in the picture";
}

TEST_F(VolumeRenderTest, CloseReturnsToDarkBlue) {
    const std::string path = MakeVolume("close.vol", 8, [](int, int, int) { return 4000; });
    shell::testing::SetFileDialogScript({path});
    Frame afterClose;
    Run({[] {
             Size(64, 48);
             Command(kCmdFileOpen);
         },
         [] { Command(kCmdFileClose); }, [] { Command(kCmdFileClose); }, [&] { afterClose = ReadFrame(); }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(afterClose.At(32, 24), (Rgba{0, 0, 128, 255}));
    EXPECT_EQ(Volume.volumeTexture, nullptr);
}

}  // namespace
}  // namespace viewer_test

namespace viewer_test {
namespace {

class VolumeLoadTest : public ViewerTest {};

// The load's arithmetic on real files: counts, extents, the 4-bit shift, extra
// bytes, and a second file replacing the first.
TEST_F(VolumeLoadTest, ExtentsShiftAndReplacement) {
    const std::string dir = ScratchDir();
    std::vector<uint16_t> samples(256u * 256u * 128u, 7);
    samples[0] = 0x0FFF;
    samples[1] = 1;
    samples[2] = 0x0234;
    WriteVolume(dir + "/flat.vol", 256, 256, 128, samples);
    std::ofstream(dir + "/flat.vol", std::ios::binary | std::ios::app) << "trailing bytes are not samples";
    WriteVolume(dir + "/one.vol", 1, 1, 1, {4095});
    shell::testing::SetFileDialogScript({dir + "/flat.vol", dir + "/one.vol"});
    uint32_t count = 0;
    float extents[6] = {};
    uint16_t shifted[3] = {};
    int liveAfterFirst = 0, liveAfterSecond = 0;
    Run({[] {
             Size(64, 48);
             Command(kCmdFileOpen);
         },
         [] {},
         [&] {
             liveAfterFirst = gpu::testing::LiveObjectCount();
             count = Volume.voxelCount;
             const float e[6] = {Volume.extentX,     Volume.extentY,     Volume.extentZ,
                                 Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ};
             std::copy(e, e + 6, extents);
             std::copy(Volume.voxels.get(), Volume.voxels.get() + 3, shifted);
             Command(kCmdFileOpen);
         },
         [] {},  // a frame binds the new objects, letting the old ones go
         [&] { liveAfterSecond = gpu::testing::LiveObjectCount(); }});
    EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
    EXPECT_EQ(count, 8388608u);
    const float expected[6] = {1, 1, 0.5f, 0.5f, 0.5f, 0.25f};
    for (int i = 0; i < 6; ++i)
        EXPECT_FLOAT_EQ(extents[i], expected[i]) << i;
    EXPECT_EQ(shifted[0], 0xFFF0);
    EXPECT_EQ(shifted[1], 16);
    EXPECT_EQ(shifted[2], 0x2340);
    EXPECT_EQ(Volume.minValue, 4095) << "the one-sample file's value";
    EXPECT_EQ(Volume.voxelCount, 1u);
    EXPECT_FLOAT_EQ(Volume.halfExtentZ, 0.5f) << "a 1 x 1 x 1 volume is a unit cube";
    EXPECT_EQ(liveAfterSecond, liveAfterFirst) << "the second file's objects replace the first's";
}

// A file whose samples use more than 12 bits is mapped from its own range,
// not cut to its low 12 bits, and the user is told once.
TEST_F(VolumeLoadTest, SamplesPastTwelveBitsAreMappedAndTheUserTold) {
    const std::string path = ScratchDir() + "/wide.vol";
    WriteVolume(path, 3, 1, 1, {0x1000, 0x1400, 0x1800});
    shell::testing::SetFileDialogScript({path});
    uint16_t shifted[3] = {};
    Run({[] {
             Size(64, 48);
             Command(kCmdFileOpen);
         },
         [&] { std::copy(Volume.voxels.get(), Volume.voxels.get() + 3, shifted); }});
    EXPECT_EQ(shifted[0], 0) << "0x1000 would have wrapped to 0 and 0x1800 to 0x8000";
    EXPECT_EQ(shifted[1], 2048 << 4);
    EXPECT_EQ(shifted[2], 0xFFF0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Volume rescaled");
    EXPECT_NE(boxes_[0].text.find("values 4096 to 6144"), std::string::npos) << boxes_[0].text;
    EXPECT_NE(boxes_[0].type & shell::MB_ICONINFORMATION, 0u);
}

}  // namespace
}  // namespace viewer_test

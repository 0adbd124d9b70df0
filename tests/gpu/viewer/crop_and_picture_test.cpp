// The crop, the saved picture and the transfer function's history in the
// running program, headless: a crop to the whole box changes no pixel and a
// crop of half the box draws what a volume without that half draws; the
// saved picture is the frame without the panel; a load is one step to undo,
// and opening a volume keeps the history.
#include <stb/stb_image.h>

#include <filesystem>

#include "app/app_state.h"
#include "slicing/camera.h"
#include "slicing/slice_geometry.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "ui/tf_file_io.h"

namespace viewer_test {
namespace {

constexpr int kWidth = 200, kHeight = 160, kSide = 32;

class CropAndPictureTest : public ViewerTest {
  protected:
    // A ball in each half of the box along x, neither near the middle: the
    // volume with only the left ball is the left half alone.
    std::string MakeBalls(const std::string& name, bool rightBall) {
        std::vector<uint16_t> samples(static_cast<size_t>(kSide) * kSide * kSide);
        for (int z = 0; z < kSide; ++z)
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x) {
                    auto in = [&](int cx) {
                        const int dx = x - cx, dy = y - 16, dz = z - 15;
                        return dx * dx + dy * dy + dz * dz < 30;
                    };
                    const bool shown = in(8) || (rightBall && in(24));
                    samples[(static_cast<size_t>(z) * kSide + y) * kSide + x] =
                        shown ? static_cast<uint16_t>(2500 + 300 * (y % 4)) : 0;
                }
        const std::string path = ScratchDir() + "/" + name;
        WriteVolume(path, kSide, kSide, kSide, samples);
        return path;
    }
    static void Turn(float pitch, float yaw) {
        OrbitCamera.pitch = pitch;
        OrbitCamera.yaw = yaw;
        OrbitCamera.distance = 2.2f;
        UpdateCamera();
    }
};

int LargestDifference(const Frame& a, const Frame& b) {
    int largest = a.rgba.size() == b.rgba.size() ? 0 : 255;
    for (size_t i = 0; i < a.rgba.size() && i < b.rgba.size(); ++i)
        largest = std::max(largest, std::abs(int(a.rgba[i]) - int(b.rgba[i])));
    return largest;
}

TEST_F(CropAndPictureTest, CroppingToTheWholeBoxOrHalfOfItDrawsWhatTheVolumeWouldWithoutThePartCutAway) {
    const std::string both = MakeBalls("both.vol", true), left = MakeBalls("left.vol", false);
    shell::testing::SetFileDialogScript({both, left});
    const float views[][2] = {{0.4f, 0.6f}, {-0.2f, 2.8f}};
    Frame uncropped[2], wholeCrop[2], halfCrop[2], leftOnly[2];
    CropBox leftHalf;
    leftHalf.high[0] = 0.5f;
    std::vector<std::function<void()>> steps = {[] {
                                                    Size(kWidth, kHeight);
                                                    Command(kCmdFileOpen);
                                                },
                                                [] {}};
    for (int v = 0; v < 2; ++v) {
        steps.push_back([&, v] { Turn(views[v][0], views[v][1]); });
        steps.push_back([&, v] {
            uncropped[v] = ReadFrame();
            SetVolumeCrop(leftHalf);
        });
        steps.push_back([&, v] {
            halfCrop[v] = ReadFrame();
            SetVolumeCrop(CropBox{});
        });
        steps.push_back([&, v] { wholeCrop[v] = ReadFrame(); });
    }
    steps.push_back([] { Command(kCmdFileOpen); });
    steps.push_back([] {});
    for (int v = 0; v < 2; ++v) {
        steps.push_back([&, v] { Turn(views[v][0], views[v][1]); });
        steps.push_back([&, v] { leftOnly[v] = ReadFrame(); });
    }
    Run(steps);
    ASSERT_TRUE(boxes_.empty()) << boxes_[0].text;
    for (int v = 0; v < 2; ++v) {
        ASSERT_EQ(uncropped[v].width, static_cast<uint32_t>(kWidth));
        EXPECT_EQ(wholeCrop[v].rgba, uncropped[v].rgba) << "view " << v << ": the whole box is no crop";
        EXPECT_NE(halfCrop[v].rgba, uncropped[v].rgba) << "view " << v << ": the right ball is cut away";
        // The same planes through the same samples; only the rounding of the
        // clipped slices' texture coordinates may differ.
        EXPECT_LE(LargestDifference(halfCrop[v], leftOnly[v]), 2) << "view " << v;
    }
}

TEST_F(CropAndPictureTest, TheSavedPictureIsTheFrameWithoutThePanel) {
    const std::string volume = MakeBalls("saved.vol", true);
    const std::string saved = ScratchDir() + "/saved";  // the .png is added
    const std::string unwritable = ScratchDir() + "/no such folder/picture.png";
    shell::testing::SetFileDialogScript({volume, saved, unwritable});
    Frame frame;
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] {}, [&] { frame = ReadFrame(); }, [] { Command(kCmdFileSavePicture); },
         [] { Command(kCmdFileSavePicture); }, [] {}});
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load((saved + ".png").c_str(), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr) << "the picture was written, named .png";
    const std::vector<uint8_t> picture(pixels, pixels + size_t(width) * height * 4);
    stbi_image_free(pixels);
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);
    // The closed panel's handle lies in the bottom rows; above them the
    // picture is the frame, opaque.
    const int strip = 40;
    int differentBelow = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * kWidth + x) * 4 + c;
                if (y < kHeight - strip)
                    ASSERT_EQ(picture[i], frame.rgba[i]) << "pixel " << x << "," << y;
                else
                    differentBelow += picture[i] != frame.rgba[i];
            }
    EXPECT_GT(differentBelow, 100) << "the panel's handle is left out";
    ASSERT_EQ(boxes_.size(), 1u) << "the unwritable folder is one message";
    EXPECT_NE(boxes_[0].text.find("no such folder"), std::string::npos) << boxes_[0].text;
}

TEST_F(CropAndPictureTest, ALoadIsOneStepToUndoAndOpeningAVolumeKeepsTheHistory) {
    const std::string volume = MakeBalls("history.vol", false);
    const std::string tf = ScratchDir() + "/three.tf";
    const std::vector<ControlPoint> three = {{0, 0, 0, 0, 0}, {0.5f, 1, 0, 0, 0.5f}, {1, 1, 1, 1, 1}};
    std::string why;
    ASSERT_TRUE(ReplaceFileAtomically(tf, SerializeTransferFunction(three.data(), 3), &why)) << why;
    shell::testing::SetFileDialogScript({volume, tf, volume});
    uint32_t loaded = 0, afterReopen = 0, undone = 0, redone = 0;
    Run({[] {
             Size(kWidth, kHeight);
             Command(kCmdFileOpen);
         },
         [] { Command(kCmdTransferOpen); }, [&] { loaded = EditorTab.pointCount; },
         [] { Command(kCmdFileOpen); }, [&] { afterReopen = EditorTab.pointCount; },
         [] { Command(kCmdEditUndo); }, [&] { undone = EditorTab.pointCount; },
         [] {
             Command(kCmdEditUndo);  // nothing left: nothing happens
         },
         [] { Command(kCmdEditRedo); }, [&] { redone = EditorTab.pointCount; }});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(loaded, 3u);
    EXPECT_EQ(afterReopen, 3u);
    EXPECT_EQ(undone, 2u) << "the load undone in one step, after a volume was opened";
    EXPECT_EQ(redone, 3u);
}

}  // namespace
}  // namespace viewer_test

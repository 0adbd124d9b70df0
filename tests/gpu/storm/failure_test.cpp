// Run-time creation failures (each injected through the device's test seam)
// and volumes at the size limits: one message box with the exact text and
// caption, and the program keeps drawing frames without harm.
#include "app/app_state.h"
#include "platform/gpu/gpu.h"
#include "render/renderer.h"
#include "tests/gpu/storm/hostile_files.h"
#include "tests/gpu/viewer/viewer_harness.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace viewer_test {
namespace {

using gpu::testing::CreationKind;

enum class Trigger { OpenVolume, Resize };

struct Injected {
    Trigger trigger;
    CreationKind kind;
    int nth;  // counted from the command that triggers it
    const char* text;
    const char* caption;
    bool volumeShown;  // volume mode after a File > Open from idle
};

const Injected kInjected[] = {
    {Trigger::OpenVolume, CreationKind::Texture3D, 1, "CreateTexture failed", "error: Volume", false},
    {Trigger::OpenVolume, CreationKind::ShaderResourceView, 1, "CreateShaderResourceView failed",
     "error: CVolume", false},
    // The first 2D texture is the gradient's (a notice, in the shading tests).
    {Trigger::OpenVolume, CreationKind::Texture2D, 2, "CreateTexture2D failed", "CVolume::GenerateHistogram",
     true},
    // The second view is the gradient's (a notice, in the shading tests).
    {Trigger::OpenVolume, CreationKind::ShaderResourceView, 3, "CreateShaderResourceView failed",
     "CVolume::GenerateHistogram", true},
    // File > Open cuts the slices twice (the camera update, then the open
    // itself); only the second failure keeps the program in idle mode.
    {Trigger::OpenVolume, CreationKind::Buffer, 1, "CreateBuffer failed (proxy vertex buffer)", "error",
     true},
    {Trigger::OpenVolume, CreationKind::Buffer, 2, "CreateBuffer failed (proxy index buffer)", "CTab", true},
    {Trigger::OpenVolume, CreationKind::Buffer, 3, "CreateBuffer failed (proxy vertex buffer)", "error",
     false},
    {Trigger::OpenVolume, CreationKind::Buffer, 4, "CreateBuffer failed (proxy index buffer)", "CTab", false},
    {Trigger::OpenVolume, CreationKind::Buffer, 5, "CreateBuffer failed (vertex buffer)", "error", true},
    {Trigger::OpenVolume, CreationKind::Buffer, 6, "CreateBuffer failed (index buffer)", "error", true},
    {Trigger::Resize, CreationKind::Buffer, 1, "CreateBuffer failed (vertex buffer)", "CTab", true},
    {Trigger::Resize, CreationKind::Buffer, 2, "CreateBuffer failed (index buffer)", "CTab", true},
    {Trigger::Resize, CreationKind::Buffer, 3, "CreateBuffer failed (vertex clr buffer)", "CTab", true},
    {Trigger::Resize, CreationKind::Buffer, 4, "CreateBuffer failed (index clr buffer)", "CTab", true},
    {Trigger::Resize, CreationKind::Texture1D, 1, "CreateTexture1D failed", "CTab::GenerateTransfer", true},
    {Trigger::Resize, CreationKind::ShaderResourceView, 1, "CreateShaderResourceView failed",
     "CTab::GenerateTransfer", true},
};

const char* KindName(CreationKind k) {
    switch (k) {
        case CreationKind::Buffer:
            return "Buffer";
        case CreationKind::Texture1D:
            return "Texture1D";
        case CreationKind::Texture2D:
            return "Texture2D";
        case CreationKind::Texture3D:
            return "Texture3D";
        case CreationKind::ShaderResourceView:
            return "ShaderResourceView";
        default:
            return "other";
    }
}

class RunTimeFailureTest : public ViewerTest {
  protected:
    // Clicks through the panel so that a failed piece is also used, not only drawn.
    static void PokeThePanel() {
        const int h = ClientArea.height, w = ClientArea.width;
        for (int y : {h - 10, h - 300, h - 500, h - 650})
            for (int x : {20, 60, w / 4, 230}) {
                Mouse(shell::WM_LBUTTONDOWN, x, y);
                Mouse(shell::WM_LBUTTONUP, x, y);
                Mouse(shell::WM_RBUTTONDOWN, x, y);
                Mouse(shell::WM_RBUTTONUP, x, y);
            }
    }
};

// Each failure both from idle and with a volume already shown (the second
// File > Open replaces it, so a failure part way leaves it half built).
TEST_F(RunTimeFailureTest, EachInjectedFailureShowsItsMessageAndFramesGoOn) {
    for (const bool fromVolume : {false, true}) {
        for (const Injected& f : kInjected) {
            SCOPED_TRACE(std::string(KindName(f.kind)) + " #" + std::to_string(f.nth) + ": " + f.text +
                         (fromVolume ? " (volume shown)" : " (from idle)"));
            TearDown();
            SetUp();
            const std::string path = ScratchDir() + "/v.vol";
            storm_test::WriteSmallVolume(path, 7, 6, 5);
            shell::testing::SetFileDialogScript({path, path});
            int presentsAfterFailure = 0;
            bool frameWasVolume = false;
            std::vector<shell::testing::RecordedMessageBox> before;
            EXPECT_EQ(
                Run({[] { Size(120, 690); },
                     [&] {
                         // A resize failure is met with a volume shown.
                         if (fromVolume || f.trigger == Trigger::Resize)
                             Command(kCmdFileOpen);
                     },
                     [&] {
                         before = shell::testing::TakeMessageBoxes();
                         gpu::testing::FailNthCreation(f.kind, f.nth);
                         if (f.trigger == Trigger::OpenVolume)
                             Command(kCmdFileOpen);
                         else
                             Size(130, 700);
                     },
                     [&] {
                         gpu::testing::ClearCreationFailures();
                         presentsAfterFailure = gpu::testing::PresentCount();
                         frameWasVolume = InputHandlerTable.Frame == &RenderVolumeFrame;
                         PokeThePanel();
                     },
                     [] { Mouse(shell::WM_RBUTTONDOWN, 60, 40); }, [] { Mouse(shell::WM_MOUSEMOVE, 70, 45); },
                     [] { Mouse(shell::WM_RBUTTONUP, 70, 45); }, [] {}}),
                0);
            EXPECT_TRUE(before.empty()) << "the set-up itself showed " << before.size() << " box(es)";
            ASSERT_EQ(boxes_.size(), 1u) << "exactly one message box";
            EXPECT_EQ(boxes_[0].text, f.text);
            EXPECT_EQ(boxes_[0].caption, f.caption);
            EXPECT_GE(gpu::testing::PresentCount() - presentsAfterFailure, 4)
                << "frames go on after the failure";
            if (!fromVolume && f.trigger == Trigger::OpenVolume) {
                EXPECT_EQ(frameWasVolume, f.volumeShown) << "input mode after the failed File > Open";
            }
        }
    }
}

class VolumeLimitTest : public ViewerTest {};

// The largest edge the device takes loads as it is; one past it loads
// averaged over the smallest whole factor that fits, the box keeps its
// shape, and the user is told once what was done.
TEST_F(VolumeLimitTest, EdgeAtTheTextureLimitLoadsAndOnePastIsReduced) {
    uint32_t limit = 0;
    const std::string atLimit = ScratchDir() + "/at.vol", past = ScratchDir() + "/past.vol";
    const std::string shown = ScratchDir() + "/shown.vol";
    storm_test::WriteSmallVolume(shown, 4, 4, 4);
    EXPECT_EQ(Run({[] { Size(64, 48); },
                   [&] {
                       limit = Renderer.device->MaxTexture3DSize();
                       ASSERT_GT(limit, 0u);
                       ASSERT_LT(limit, 65535u);
                       storm_test::WriteSmallVolume(atLimit, static_cast<int>(limit), 1, 2);
                       storm_test::WriteSmallVolume(past, static_cast<int>(limit) + 1, 1, 2);
                       shell::testing::SetFileDialogScript({atLimit, shown, past});
                       Command(kCmdFileOpen);
                   },
                   [&] {
                       EXPECT_EQ(Volume.dimX, static_cast<int32_t>(limit));
                       EXPECT_NE(Volume.volumeView, nullptr) << "a volume at the limit loads";
                       EXPECT_TRUE(boxes_.empty()) << "and says nothing";
                       Command(kCmdFileOpen);
                   },
                   [] { Command(kCmdFileOpen); }, [] {}}),
              0);
    EXPECT_EQ(Volume.dimX, static_cast<int32_t>((limit + 1 + 1) / 2)) << "two samples to a box along x";
    EXPECT_EQ(Volume.dimY, 1);
    EXPECT_EQ(Volume.dimZ, 2);
    EXPECT_NE(Volume.volumeView, nullptr);
    EXPECT_EQ(Volume.spacingX, 2.0f);
    EXPECT_NEAR(Volume.extentZ, 2.0f / static_cast<float>(limit + 2), 1e-7f) << "the box keeps its shape";
    ASSERT_EQ(boxes_.size(), 1u) << "told once";
    EXPECT_EQ(boxes_[0].caption, "Volume reduced");
    EXPECT_EQ(boxes_[0].type & shell::MB_ICONINFORMATION, shell::MB_ICONINFORMATION);
    EXPECT_NE(boxes_[0].text.find(std::to_string(limit + 1) + " x 1 x 2"), std::string::npos)
        << "the message names the size: " << boxes_[0].text;
    EXPECT_NE(boxes_[0].text.find("(" + std::to_string(limit) + ")"), std::string::npos)
        << "the message names the limit: " << boxes_[0].text;
    EXPECT_NE(boxes_[0].text.find("2 x 1 x 1"), std::string::npos) << "and the boxes: " << boxes_[0].text;
}

// Over 2^32 samples: refused from the header alone, nothing allocated and the
// shown volume kept, whatever the file's real length.
TEST_F(VolumeLimitTest, SampleCountPast32BitsIsRefusedBeforeAnyAllocation) {
    const std::string shown = ScratchDir() + "/shown.vol", huge = ScratchDir() + "/huge.vol";
    storm_test::WriteSmallVolume(shown, 5, 4, 3);
    storm_test::WriteBytes(huge, {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00});  // 65535 x 65535 x 2
    shell::testing::SetFileDialogScript({shown, huge});
    uint16_t* voxelsBefore = nullptr;
    int liveBefore = 0;
    EXPECT_EQ(Run({[] { Size(64, 48); }, [] { Command(kCmdFileOpen); },
                   [&] {
                       voxelsBefore = Volume.voxels.get();
                       liveBefore = gpu::testing::LiveObjectCount();
                       Command(kCmdFileOpen);
                   },
                   [&] {
                       EXPECT_EQ(Volume.voxels.get(), voxelsBefore) << "the shown volume's samples stay";
                       EXPECT_EQ(Volume.dimX, 5);
                       EXPECT_EQ(gpu::testing::LiveObjectCount(), liveBefore) << "no GPU object was made";
                   }}),
              0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "error: Volume");
    EXPECT_NE(boxes_[0].text.find("too large"), std::string::npos) << boxes_[0].text;
}

}  // namespace
}  // namespace viewer_test

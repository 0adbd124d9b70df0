// The running program without a volume: idle frames, resizes, and the two
// ways out.
#include <cmath>

#include "app/app_state.h"
#include "platform/d3dx/d3dx_math.h"
#include "render/renderer.h"
#include "tests/gpu/viewer/viewer_harness.h"

namespace viewer_test {
namespace {

class FramesTest : public ViewerTest {};

int CountLines(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines)
        n += l == text;
    return n;
}

TEST_F(FramesTest, IdleFramesAreDarkBlueAndFollowTheClientSize) {
    Frame idle;
    std::vector<std::string> startupLines, resizeLines;
    gpu::SwapChainDesc resized{};
    d3dx::Matrix projection{}, ortho{};
    const int result = Run({
        [&] {
            startupLines = shell::testing::TakeDebugOutput();
            Size(800, 600);
        },
        [&] {
            resizeLines = shell::testing::TakeDebugOutput();
            Renderer.swapChain->GetDesc(&resized);
            d3dx::MatrixTranspose(&projection, &Renderer.projection);
            d3dx::MatrixTranspose(&ortho, &Renderer.ortho);
        },
        [&] { idle = ReadFrame(); },
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(CountLines(startupLines, "D3DResize()\n"), 1) << "the size before the device writes nothing";
    EXPECT_EQ(CountLines(resizeLines, "D3DResize()\n"), 1) << "one line per resize that reaches the device";

    EXPECT_EQ(resized.BufferDesc.Width, 800u);
    EXPECT_EQ(resized.BufferDesc.Height, 600u);
    EXPECT_EQ(resized.BufferDesc.Format, gpu::Format::R8G8B8A8_UNORM);
    const float ys = 1.0f / std::tan(0.7855f / 2.0f);
    EXPECT_FLOAT_EQ(projection.m[1][1], ys) << "field of view 0.7855, not pi/4";
    EXPECT_FLOAT_EQ(projection.m[0][0], ys / (800.0f / 600.0f)) << "aspect 800/600";
    // The interface point (400, 300) lands on the client's top-right corner.
    const d3dx::Vector3 corner{400, 300, 1};
    d3dx::Vector4 clip;
    d3dx::Vec3Transform(&clip, &corner, &ortho);
    EXPECT_FLOAT_EQ(clip.x, 1.0f);
    EXPECT_FLOAT_EQ(clip.y, 1.0f);

    ASSERT_EQ(idle.width, 800u);
    ASSERT_EQ(idle.height, 600u);
    for (uint32_t y = 0; y < idle.height; y += 7)
        for (uint32_t x = 0; x < idle.width; x += 7)
            ASSERT_EQ(idle.At(x, y), (Rgba{0, 0, 128, 255})) << x << "," << y;
}

TEST_F(FramesTest, MinimisingKeepsRunningAndRestoringRestoresEverything) {
    Frame restored;
    const int result = Run({
        [&] { Size(0, 0); },
        [&] { Size(1, 1); },
        [&] { Size(320, 200); },
        [] {},  // the first frame at the restored size
        [&] { restored = ReadFrame(); },
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
    ASSERT_EQ(restored.width, 320u);
    EXPECT_EQ(restored.At(160, 100), (Rgba{0, 0, 128, 255}));
}

TEST_F(FramesTest, ExitReleasesEverythingAndTheSecondReleaseFindsNothing) {
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(Renderer.device, nullptr);
    EXPECT_EQ(Renderer.swapChain, nullptr);
    EXPECT_EQ(Renderer.renderTargetView, nullptr);
    EXPECT_EQ(Renderer.uiAtlasView, nullptr);
    const int presents = gpu::testing::PresentCount();
    ReleaseDevice();
    EXPECT_EQ(gpu::testing::PresentCount(), presents) << "no frame after teardown";
}

TEST_F(FramesTest, TheCloseBoxEndsTheLoopLikeFileExit) {
    const int result = Run({[] { Post(shell::WM_CLOSE, 0, 0); },
                            [] { ADD_FAILURE() << "a frame ran after the window was closed"; }});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Renderer.device, nullptr);
}

}  // namespace
}  // namespace viewer_test

// The window procedure without a device: the messages reach the client
// size, the input modes' handlers and the menu as they should. (What the
// handlers compute is tested on its own in tests/unit/app.)
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>

#include "app/app_state.h"
#include "app/input_state.h"
#include "render/renderer.h"
#include "volume/volume.h"

namespace {

using namespace shell;

class WindowProcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shell::testing::Reset();
        ResetApplicationState();
        shell::testing::TakeDebugOutput();
    }
    void TearDown() override { ResetApplicationState(); }

    static void Size(int width, int height) {
        WndProc(nullptr, WM_SIZE, 0, MAKELPARAM(static_cast<uint16_t>(width), static_cast<uint16_t>(height)));
    }
    static void Mouse(UINT message, int x, int y) {
        WndProc(nullptr, message, 0, MAKELPARAM(static_cast<uint16_t>(x), static_cast<uint16_t>(y)));
    }
    static void Wheel(int16_t delta) {
        WndProc(nullptr, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<uint16_t>(delta)), 0);
    }
};

TEST_F(WindowProcTest, SizeSetsTheClientAreaAndWritesNoDebugLineWithoutDevice) {
    Size(800, 600);
    EXPECT_EQ(ClientArea.width, 800);
    EXPECT_FLOAT_EQ(ClientArea.halfHeight, 300.0f);
    EXPECT_TRUE(shell::testing::TakeDebugOutput().empty()) << "no device yet: D3DResize must do nothing";
    Size(65535, 1);
    EXPECT_EQ(ClientArea.width, 65535) << "the size words are unsigned";
}

TEST_F(WindowProcTest, SetInputModeInstallsFillingsAndIgnoresOtherValues) {
    SetInputMode(1);
    EXPECT_EQ(InputHandlerTable.Frame, &RenderVolumeFrame);
    SetInputMode(7);
    EXPECT_EQ(InputHandlerTable.Frame, &RenderVolumeFrame) << "an unknown mode changes nothing";
    SetInputMode(0);
    EXPECT_EQ(InputHandlerTable.Frame, &RenderIdleFrame);
}

TEST_F(WindowProcTest, IdleModeIgnoresEveryMouseInput) {
    Size(1000, 800);
    SetInputMode(0);
    Mouse(WM_RBUTTONDOWN, 100, 100);
    Mouse(WM_MOUSEMOVE, 300, 200);
    Wheel(120);
    EXPECT_FALSE(RotationDrag.active);
    EXPECT_EQ(RotationDrag.cursorX, 0);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 4.0f);
}

// While the button is held the shell sends moves from outside the client
// area with negative coordinates; they must not read as 65531.
TEST_F(WindowProcTest, ADragLeavingTheWindowTurnsNoFasterThanAtItsEdge) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_RBUTTONDOWN, 500, 400);
    FrameClock = 1.0f;
    Mouse(WM_MOUSEMOVE, 500, 0);
    IntegrateRotation();
    const float atTheEdge = OrbitCamera.pitch - 1.0f;
    EXPECT_NEAR(atTheEdge, 0.5f, 1e-6);
    for (const auto& [x, y] : {std::pair{500, -5}, {500, -300}, {-40, 0}, {1200, 0}, {500, 900}}) {
        Mouse(WM_MOUSEMOVE, x, y);
        EXPECT_GE(RotationDrag.cursorX, 0);
        EXPECT_LE(RotationDrag.cursorX, 999);
        EXPECT_GE(RotationDrag.cursorY, 0);
        EXPECT_LE(RotationDrag.cursorY, 799);
    }
    OrbitCamera.pitch = 1.0f;
    Mouse(WM_MOUSEMOVE, 500, -5);
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.pitch - 1.0f, atTheEdge, 1e-6) << "above the window: as fast as at its top edge";
}

TEST_F(WindowProcTest, VolumeModeRoutesTheRightButtonAndTheWheelToTheCamera) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_RBUTTONDOWN, 600, 400);
    EXPECT_TRUE(RotationDrag.active);
    EXPECT_EQ(RotationDrag.anchorX, 600);
    EXPECT_EQ(RotationDrag.anchorY, 400);
    Mouse(WM_MOUSEMOVE, 700, 200);
    EXPECT_EQ(RotationDrag.cursorX, 700);
    EXPECT_EQ(RotationDrag.cursorY, 200);
    Mouse(WM_RBUTTONUP, 700, 200);
    EXPECT_FALSE(RotationDrag.active);
    Wheel(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.0f) << "without a device the distance still changes";
}

TEST_F(WindowProcTest, DoubleClicksReachNoHandler) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_RBUTTONDBLCLK, 10, 10);
    EXPECT_FALSE(RotationDrag.active) << "the second press of a double click starts nothing";
    Mouse(WM_RBUTTONDOWN, 20, 20);
    Mouse(WM_RBUTTONDBLCLK, 30, 30);
    Mouse(WM_RBUTTONUP, 30, 30);
    EXPECT_FALSE(RotationDrag.active) << "while the release still reaches its handler";
}

TEST_F(WindowProcTest, TheSlicesMenuTogglesPlanesAndClearsThemAndNothingElse) {
    Size(1000, 800);
    SetInputMode(1);
    for (uint16_t id : {kCmdSlicesXAxis, kCmdSlicesZAxis, kCmdSlicesShowBoundaries})
        EXPECT_EQ(WndProc(nullptr, WM_COMMAND, id, 0), 0) << id;
    const SlicePlanes& planes = Renderer.planes;
    EXPECT_TRUE(planes.shown[0] && !planes.shown[1] && planes.shown[2]);
    EXPECT_EQ(planes.current, 2) << "the last one shown is the one the keys move";
    EXPECT_TRUE(planes.outlines);
    WndProc(nullptr, WM_COMMAND, kCmdSlicesZAxis, 0);
    EXPECT_FALSE(planes.shown[2]) << "a second choice hides it";
    EXPECT_EQ(planes.current, 0);
    WndProc(nullptr, WM_COMMAND, kCmdSlicesClear, 0);
    EXPECT_FALSE(AnyPlaneShown(planes));
    EXPECT_TRUE(planes.outlines) << "Clear leaves Show Boundaries as it was";
    EXPECT_EQ(InputHandlerTable.Frame, &RenderVolumeFrame);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 4.0f);
    WndProc(nullptr, WM_COMMAND, kCmdSlicesYAxis, 0);
    ResetApplicationState();
    EXPECT_FALSE(AnyPlaneShown(Renderer.planes) || Renderer.planes.outlines) << "reset: none shown";
}

// A click in the slice window: the other two planes take the voxel's layers
// (inside the grid), the shown ones and the current one stay as they were.
TEST_F(WindowProcTest, TheSliceWindowsClickMovesTheOtherPlanesOnly) {
    const uint32_t clicked[3] = {6, 99, 1};
    MovePlanesToVoxel(clicked);
    EXPECT_EQ(Renderer.planes.index[0], -1) << "no volume: nothing moves";
    Volume.voxels = std::make_unique<uint16_t[]>(8 * 6 * 4);
    Volume.dimX = 8, Volume.dimY = 6, Volume.dimZ = 4;
    WndProc(nullptr, WM_COMMAND, kCmdSlicesZAxis, 0);
    WndProc(nullptr, WM_COMMAND, kCmdSlicesXAxis, 0);  // the current plane
    MovePlanesToVoxel(clicked);
    const SlicePlanes& planes = Renderer.planes;
    EXPECT_EQ(planes.index[0], 3) << "the current plane stays on its middle layer";
    EXPECT_EQ(planes.index[1], 5) << "past the grid: its last layer";
    EXPECT_EQ(planes.index[2], 1);
    EXPECT_TRUE(planes.shown[0] && !planes.shown[1] && planes.shown[2]);
    EXPECT_EQ(planes.current, 0);
    Volume.voxels.reset();
    Volume.dimX = Volume.dimY = Volume.dimZ = 0;
}

TEST_F(WindowProcTest, TheViewMenuTogglesShadingAndPicksOneModeUntilTheStateIsReset) {
    EXPECT_TRUE(Renderer.shading) << "shaded from the start";
    WndProc(nullptr, WM_COMMAND, kCmdViewShading, 0);
    EXPECT_FALSE(Renderer.shading);
    for (auto [id, mode] : {std::pair{kCmdViewMaximum, VolumeMode::Maximum},
                            {kCmdViewMinimum, VolumeMode::Minimum},
                            {kCmdViewComposite, VolumeMode::Composite},
                            {kCmdViewMinimum, VolumeMode::Minimum}}) {
        WndProc(nullptr, WM_COMMAND, id, 0);
        EXPECT_EQ(Renderer.mode, mode) << id;
    }
    EXPECT_FALSE(Renderer.shading) << "the mode leaves shading alone";
    WndProc(nullptr, WM_COMMAND, kCmdViewBoundaries, 0);
    WndProc(nullptr, WM_COMMAND, kCmdViewBackgroundFirst + static_cast<uint16_t>(Background::Grey), 0);
    EXPECT_TRUE(Renderer.boundaries);
    EXPECT_EQ(CurrentBackground(), Background::Grey);
    ResetApplicationState();
    EXPECT_TRUE(Renderer.shading && Renderer.mode == VolumeMode::Composite);
    EXPECT_TRUE(!Renderer.boundaries && CurrentBackground() == Background::DarkBlue);
}

// The middle button, and Shift with the right, pan instead of turning.
TEST_F(WindowProcTest, TheMiddleButtonAndShiftRightPan) {
    Size(1000, 800);
    SetInputMode(1);
    for (auto [down, up, keys] : {std::tuple{WM_MBUTTONDOWN, WM_MBUTTONUP, WPARAM{0}},
                                  std::tuple{WM_RBUTTONDOWN, WM_RBUTTONUP, MK_SHIFT}}) {
        WndProc(nullptr, down, keys, MAKELPARAM(500, 400));
        EXPECT_TRUE(PanDrag.active && !RotationDrag.active) << down;
        WndProc(nullptr, up, 0, MAKELPARAM(500, 400));
        EXPECT_FALSE(PanDrag.active) << up;
    }
}

// Ctrl with the wheel or the left button acts on a plane only where one is
// drawn: with none (no volume, no device) they do what they did.
TEST_F(WindowProcTest, CtrlWithTheWheelOrTheLeftButtonOffAPlaneKeepsItsMeaning) {
    Size(1000, 800);
    SetInputMode(1);
    WndProc(nullptr, WM_COMMAND, kCmdSlicesXAxis, 0);
    WndProc(nullptr, WM_MOUSEWHEEL, MAKEWPARAM(static_cast<uint16_t>(MK_CONTROL), 120), MAKELPARAM(500, 400));
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.0f) << "no plane drawn: the wheel zooms";
    const SlicePlanes before = Renderer.planes;
    WndProc(nullptr, WM_LBUTTONDOWN, MK_CONTROL, MAKELPARAM(500, 400));
    EXPECT_FALSE(GreyDrag.active);
    WndProc(nullptr, WM_MOUSEMOVE, MK_CONTROL, MAKELPARAM(600, 500));
    WndProc(nullptr, WM_LBUTTONUP, MK_CONTROL, MAKELPARAM(600, 500));
    EXPECT_EQ(Renderer.planes.greyLow, before.greyLow);
    EXPECT_EQ(Renderer.planes.greyHigh, before.greyHigh);
}

// A reduced drag frame's part of the layer, stretched back, covers the whole
// client area: rounded up, never empty, whatever the size and divisor.
TEST_F(WindowProcTest, AReducedDragViewportCoversTheClientArea) {
    for (const auto& [width, height] : {std::pair{161, 99}, {1, 1}, {1280, 1023}})
        for (uint32_t divisor : {1u, 2u, 3u, 4u}) {
            SetClientSize(width, height);
            const DragViewport low = ReducedViewport(divisor);
            EXPECT_TRUE(low.width * divisor >= width && (low.width - 1) * divisor < width)
                << width << " / " << divisor;
            EXPECT_TRUE(low.height * divisor >= height && (low.height - 1) * divisor < height) << height;
        }
}

}  // namespace

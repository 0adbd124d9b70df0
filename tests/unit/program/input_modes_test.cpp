// The window procedure's input handling without a device: client area,
// input modes, the rotation drag and the wheel.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "app/app_state.h"
#include "render/renderer.h"

namespace {

using namespace shell;

class InputModesTest : public ::testing::Test {
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

TEST_F(InputModesTest, SizeFillsAllSixClientFieldsAndWritesNoDebugLineWithoutDevice) {
    Size(800, 600);
    EXPECT_EQ(ClientArea.width, 800);
    EXPECT_EQ(ClientArea.height, 600);
    EXPECT_FLOAT_EQ(ClientArea.widthF, 800.0f);
    EXPECT_FLOAT_EQ(ClientArea.halfWidth, 400.0f);
    EXPECT_FLOAT_EQ(ClientArea.heightF, 600.0f);
    EXPECT_FLOAT_EQ(ClientArea.halfHeight, 300.0f);
    EXPECT_TRUE(shell::testing::TakeDebugOutput().empty()) << "no device yet: D3DResize must do nothing";
    Size(65535, 1);
    EXPECT_EQ(ClientArea.width, 65535) << "the size words are unsigned";
}

TEST_F(InputModesTest, SetInputModeInstallsFillingsAndIgnoresOtherValues) {
    SetInputMode(1);
    EXPECT_EQ(InputHandlerTable.Frame, &RenderVolumeFrame);
    SetInputMode(7);
    EXPECT_EQ(InputHandlerTable.Frame, &RenderVolumeFrame) << "an unknown mode changes nothing";
    SetInputMode(0);
    EXPECT_EQ(InputHandlerTable.Frame, &RenderIdleFrame);
}

TEST_F(InputModesTest, IdleModeIgnoresEveryMouseInput) {
    Size(1000, 800);
    SetInputMode(0);
    Mouse(WM_RBUTTONDOWN, 100, 100);
    Mouse(WM_MOUSEMOVE, 300, 200);
    Wheel(120);
    EXPECT_FALSE(RotationDrag.active);
    EXPECT_EQ(RotationDrag.cursorX, 0);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 4.0f);
}

TEST_F(InputModesTest, RightDragTurnsAtARateSetByTheCursorOffset) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_RBUTTONDOWN, 600, 400);
    EXPECT_TRUE(RotationDrag.active);
    EXPECT_EQ(RotationDrag.anchorX, 600);
    EXPECT_EQ(RotationDrag.anchorY, 400);
    EXPECT_EQ(RotationDrag.cursorX, 0) << "the press does not move the cursor record";

    // One full client width to the left of the anchor: +1 radian per second.
    RotationDrag.cursorX = 600 - 1000;
    RotationDrag.cursorY = 400;
    FrameClock = 0.25f;
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.yaw, 0.25f, 1e-6);
    EXPECT_NEAR(OrbitCamera.pitch, 1.0f, 1e-6);

    // Above the anchor (smaller y) raises the pitch; right of it turns back.
    Mouse(WM_MOUSEMOVE, 700, 200);
    FrameClock = 1.0f;
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.yaw, 0.25f - 0.1f, 1e-6);
    EXPECT_NEAR(OrbitCamera.pitch, 1.0f + 0.25f, 1e-6);

    Mouse(WM_RBUTTONUP, 700, 200);
    EXPECT_FALSE(RotationDrag.active);
    const float yaw = OrbitCamera.yaw;
    IntegrateRotation();
    EXPECT_EQ(OrbitCamera.yaw, yaw) << "released: the angles hold";
}

// While the button is held the shell sends moves from outside the client
// area with negative coordinates; they must not read as 65531.
TEST_F(InputModesTest, ADragLeavingTheWindowTurnsNoFasterThanAtItsEdge) {
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

// The wheel keeps its factors but stops at the ends of the defined range.
TEST_F(InputModesTest, WheelZoomStaysWithinItsRange) {
    SetInputMode(1);
    for (int i = 0; i < 400; ++i)
        Wheel(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMinDistance);
    Wheel(-120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMinDistance * 1.25f) << "and comes back out by the same factor";
    for (int i = 0; i < 400; ++i)
        Wheel(-120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMaxDistance);
    Wheel(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMaxDistance * 0.75f);
}

TEST_F(InputModesTest, CursorOnTheAnchorTurnsNothing) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_MOUSEMOVE, 300, 300);
    Mouse(WM_RBUTTONDOWN, 300, 300);
    FrameClock = 2.0f;
    IntegrateRotation();
    EXPECT_FLOAT_EQ(OrbitCamera.yaw, 0.0f);
    EXPECT_FLOAT_EQ(OrbitCamera.pitch, 1.0f);
}

TEST_F(InputModesTest, MinimisedWindowNeitherTurnsNorProducesNaN) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_RBUTTONDOWN, 500, 400);
    Mouse(WM_MOUSEMOVE, 100, 100);
    Size(0, 0);
    FrameClock = 1.0f;
    IntegrateRotation();
    EXPECT_TRUE(std::isfinite(OrbitCamera.yaw));
    EXPECT_TRUE(std::isfinite(OrbitCamera.pitch));
    Size(1000, 800);
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.yaw, 0.4f, 1e-6) << "the drag resumes with the size restored";
}

TEST_F(InputModesTest, WheelZoomsForwardInAndBackOrZeroOut) {
    SetInputMode(1);
    Wheel(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.0f);
    Wheel(-120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.75f);
    Wheel(0);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.75f * 1.25f) << "a zero delta counts as backward";
}

TEST_F(InputModesTest, DoubleClicksReachNoHandler) {
    Size(1000, 800);
    SetInputMode(1);
    Mouse(WM_RBUTTONDBLCLK, 10, 10);
    EXPECT_FALSE(RotationDrag.active) << "the second press of a double click starts nothing";
    Mouse(WM_RBUTTONDOWN, 20, 20);
    Mouse(WM_RBUTTONDBLCLK, 30, 30);
    Mouse(WM_RBUTTONUP, 30, 30);
    EXPECT_FALSE(RotationDrag.active) << "while the release still reaches its handler";
}

TEST_F(InputModesTest, UnhandledMenuItemsChangeNothing) {
    Size(1000, 800);
    SetInputMode(1);
    for (uint16_t id : {kCmdViewBoundaries, kCmdSlicesClear, kCmdSlicesXAxis, kCmdSlicesYAxis,
                        kCmdSlicesZAxis, kCmdSlicesShowBoundaries}) {
        EXPECT_EQ(WndProc(nullptr, WM_COMMAND, id, 0), 0) << id;
    }
    EXPECT_EQ(InputHandlerTable.Frame, &RenderVolumeFrame);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 4.0f);
}

}  // namespace

// The input that needs no device: the client size, the mouse's coordinates,
// the rotation drag's rate and limits, and the wheel's zoom.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <cmath>
#include <utility>

#include "app/input_state.h"
#include "render/client_area.h"
#include "slicing/orbit_view.h"

namespace {

class InputStateTest : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        ClientArea = {};
        FrameClock = 0.0f;
        RotationDrag = {};
        PanDrag = {};
        OrbitCamera = {};
    }
};

TEST_F(InputStateTest, ClientSizeFillsAllSixFields) {
    SetClientSize(801, 600);
    EXPECT_EQ(ClientArea.width, 801);
    EXPECT_EQ(ClientArea.height, 600);
    EXPECT_FLOAT_EQ(ClientArea.widthF, 801.0f);
    EXPECT_FLOAT_EQ(ClientArea.halfWidth, 400.5f);
    EXPECT_FLOAT_EQ(ClientArea.heightF, 600.0f);
    EXPECT_FLOAT_EQ(ClientArea.halfHeight, 300.0f);
}

// Left of or above the client area the words are negative, not 65531.
TEST_F(InputStateTest, MouseCoordinatesAreSignedWords) {
    EXPECT_EQ(MouseX(shell::MAKELPARAM(640, 480)), 640);
    EXPECT_EQ(MouseY(shell::MAKELPARAM(640, 480)), 480);
    EXPECT_EQ(MouseX(shell::MAKELPARAM(static_cast<uint16_t>(-5), 7)), -5);
    EXPECT_EQ(MouseY(shell::MAKELPARAM(7, static_cast<uint16_t>(-300))), -300);
}

TEST_F(InputStateTest, ADragTurnsAtARateSetByTheCursorOffset) {
    SetClientSize(1000, 800);
    StartRotationDrag(600, 400);
    EXPECT_TRUE(RotationDrag.active);
    EXPECT_EQ(RotationDrag.cursorX, 0) << "the press does not move the cursor record";

    // One full client width to the left of the anchor: +1 radian per second.
    RotationDrag.cursorX = 600 - 1000;
    RotationDrag.cursorY = 400;
    FrameClock = 0.25f;
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.yaw, 0.25f, 1e-6);
    EXPECT_NEAR(OrbitCamera.pitch, 1.0f, 1e-6);

    // Above the anchor (smaller y) raises the pitch; right of it turns back.
    TrackRotationCursor(700, 200);
    FrameClock = 1.0f;
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.yaw, 0.25f - 0.1f, 1e-6);
    EXPECT_NEAR(OrbitCamera.pitch, 1.0f + 0.25f, 1e-6);

    EndRotationDrag();
    const float yaw = OrbitCamera.yaw;
    IntegrateRotation();
    EXPECT_EQ(OrbitCamera.yaw, yaw) << "released: the angles hold";
}

TEST_F(InputStateTest, LeavingTheWindowTurnsNoFasterThanItsEdge) {
    SetClientSize(1000, 800);
    StartRotationDrag(500, 400);
    FrameClock = 1.0f;
    TrackRotationCursor(500, 0);
    IntegrateRotation();
    const float atTheEdge = OrbitCamera.pitch - 1.0f;
    EXPECT_NEAR(atTheEdge, 0.5f, 1e-6);
    for (const auto& [x, y] : {std::pair{500, -5}, {500, -300}, {-40, 0}, {1200, 0}, {500, 900}}) {
        TrackRotationCursor(x, y);
        EXPECT_GE(RotationDrag.cursorX, 0);
        EXPECT_LE(RotationDrag.cursorX, 999);
        EXPECT_GE(RotationDrag.cursorY, 0);
        EXPECT_LE(RotationDrag.cursorY, 799);
    }
    OrbitCamera.pitch = 1.0f;
    TrackRotationCursor(500, -5);
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.pitch - 1.0f, atTheEdge, 1e-6);

    SetClientSize(0, 0);
    TrackRotationCursor(-3, 12);
    EXPECT_EQ(RotationDrag.cursorX, 0) << "an empty client area still gives a cursor inside it";
    EXPECT_EQ(RotationDrag.cursorY, 0);
}

TEST_F(InputStateTest, TheAnchorItselfAndAMinimisedWindowTurnNothing) {
    SetClientSize(1000, 800);
    TrackRotationCursor(300, 300);
    StartRotationDrag(300, 300);
    FrameClock = 2.0f;
    IntegrateRotation();
    EXPECT_FLOAT_EQ(OrbitCamera.yaw, 0.0f);
    EXPECT_FLOAT_EQ(OrbitCamera.pitch, 1.0f);

    TrackRotationCursor(100, 300);
    SetClientSize(0, 0);
    FrameClock = 1.0f;
    IntegrateRotation();
    EXPECT_TRUE(std::isfinite(OrbitCamera.yaw));
    EXPECT_FLOAT_EQ(OrbitCamera.yaw, 0.0f);
    SetClientSize(1000, 0);  // no height alone is no size either
    IntegrateRotation();
    EXPECT_FLOAT_EQ(OrbitCamera.yaw, 0.0f);
    EXPECT_FLOAT_EQ(OrbitCamera.pitch, 1.0f);
    SetClientSize(1000, 800);
    IntegrateRotation();
    EXPECT_NEAR(OrbitCamera.yaw, 0.2f, 1e-6) << "the drag resumes with the size restored";
}

// Three notes each within a quarter second of the last make a stream; fewer,
// or three of which the first is older, are events of their own.
TEST_F(InputStateTest, ThreeQuickNotesMakeAStreamAndFewerDoNot) {
    EndContinuousInput();
    NoteContinuousInput();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    NoteContinuousInput();
    NoteContinuousInput();
    EXPECT_FALSE(ContinuousInputRecent()) << "the first note came too long before";
    NoteContinuousInput();
    EXPECT_TRUE(ContinuousInputRecent());
    EndContinuousInput();
    EXPECT_FALSE(ContinuousInputRecent()) << "a change with a known end waits for no more";
}

TEST_F(InputStateTest, WheelZoomsByItsFactorsWithinTheRange) {
    ZoomOrbitCamera(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.0f);
    ZoomOrbitCamera(-120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.75f);
    ZoomOrbitCamera(0);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, 3.75f * 1.25f) << "a zero delta counts as backward";

    for (int i = 0; i < 400; ++i)
        ZoomOrbitCamera(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMinDistance);
    ZoomOrbitCamera(-120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMinDistance * 1.25f) << "and comes back out by the same factor";
    for (int i = 0; i < 400; ++i)
        ZoomOrbitCamera(-120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMaxDistance);
    ZoomOrbitCamera(120);
    EXPECT_FLOAT_EQ(OrbitCamera.distance, kMaxDistance * 0.75f);
}

}  // namespace

// The wheel over a client pixel keeps its point there (the rule itself is
// the slicing's); off the client area the pan stays. A pan moves by steps.
TEST_F(InputStateTest, TheWheelZoomsTowardsTheCursorAndThePanFollowsTheDrag) {
    SetClientSize(400, 300);
    const ProjectionScale scale{1.8f, 2.4f};
    ZoomOrbitCameraAt(120, 100, 50, scale);
    const float ndcX = (100.5f / 400.0f) * 2 - 1;
    EXPECT_NEAR(OrbitCamera.panX, ndcX * (3.0f - 4.0f) / scale.x, 1e-6) << "a notch in towards the left";
    const OrbitCameraRecord zoomed = OrbitCamera;
    ZoomOrbitCameraAt(-120, -5, 50, scale);
    EXPECT_TRUE(OrbitCamera.distance == 3.75f && OrbitCamera.panX == zoomed.panX) << "off the window";
    StartPanDrag(10, 10);
    EXPECT_FALSE(DragPanTo(10, 10, scale)) << "no step, no pan";
    EXPECT_TRUE(DragPanTo(40, 10, scale));
    EXPECT_NEAR(OrbitCamera.panX - zoomed.panX, 30.0f * 2 * 3.75f / (scale.y * 300.0f), 1e-5);
    EndPanDrag();
    EXPECT_FALSE(DragPanTo(90, 10, scale)) << "a released button pans nothing";
}

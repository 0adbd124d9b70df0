// The input that needs no device: the client size as WM_SIZE gives it, the
// mouse's client coordinates, the rotation drag and its integration into the
// orbit camera, and the wheel's zoom. The window procedure's volume mode
// calls these; drawing what they change is the caller's.
#pragma once

#include <cstdint>

#include "platform/shell/shell.h"
#include "slicing/orbit_view.h"

struct RotationDragRecord {
    bool active = false;
    int32_t anchorX = 0, anchorY = 0;
    int32_t cursorX = 0, cursorY = 0;
};

extern RotationDragRecord RotationDrag;

// The client size as WM_SIZE records it: all six fields of ClientArea.
void SetClientSize(int32_t width, int32_t height);

// Client coordinates from a mouse message: each a signed 16-bit word (a
// position left of or above the client area is negative).
int32_t MouseX(shell::LPARAM lParam);
int32_t MouseY(shell::LPARAM lParam);

// A right press the editor did not take anchors a rotation there; the
// release ends it. The cursor record is not touched by either.
void StartRotationDrag(int32_t x, int32_t y);
void EndRotationDrag();
// The cursor the drag measures from: the nearest point inside the client
// area, so that leaving the window turns no faster than its edge.
void TrackRotationCursor(int32_t x, int32_t y);
// While a drag is active: turns OrbitCamera by the cursor's offset from the
// anchor, in client sizes, times FrameClock (radians per second). A minimised
// window holds the angles still.
void IntegrateRotation();

// A middle-button drag (or Shift and the right button) pans: the view
// follows the cursor in the screen's plane, each move by its step from the
// last one. The record outlives a volume, as the rotation's does.
struct PanDragRecord {
    bool active = false;
    int32_t lastX = 0, lastY = 0;
};
extern PanDragRecord PanDrag;
void StartPanDrag(int32_t x, int32_t y);
void EndPanDrag();
// The camera panned by the cursor's step; false when it did not move.
bool DragPanTo(int32_t x, int32_t y, ProjectionScale scale);

// Ctrl and a left drag on a plane set the planes' grey window: the drag
// measures from the press, and the window it started from.
struct GreyDragRecord {
    bool active = false;
    int32_t anchorX = 0, anchorY = 0;
    float low = 0.0f, high = 0.0f;
};
extern GreyDragRecord GreyDrag;
void StartGreyDrag(int32_t x, int32_t y, float low, float high);
void EndGreyDrag();
// The window for the cursor at (x, y); false when no drag is active.
bool GreyDragWindow(int32_t x, int32_t y, float* low, float* high);

// Where the wheel turned, in client pixels: the point under it stays there
// as the camera zooms. Outside the client area (or unknown) the zoom keeps
// the window's centre.
void ZoomOrbitCameraAt(int16_t delta, int32_t x, int32_t y, ProjectionScale scale);

// One wheel notch: forward (a positive delta) moves in by 3/4, anything else
// out by 5/4, within kMinDistance..kMaxDistance.
void ZoomOrbitCamera(int16_t delta);

// Continuous changes that are not drags (wheel notches that keep coming, a
// window being resized, a point dragged on the panel) note themselves; for
// kContinuousSeconds after the last one (when the last three came within
// that time of each other) the frames are drawn as during a drag, coarser on a slow
// device, and the whole picture is refined after.
inline constexpr double kContinuousSeconds = 0.25;
void NoteContinuousInput();
bool ContinuousInputRecent();
// A change with a known end (a dragged point let go): no wait for more.
void EndContinuousInput();

#include "app/input_state.h"

#include <algorithm>
#include <chrono>

#include "render/client_area.h"
#include "render/slice_planes.h"
#include "slicing/orbit_view.h"

RotationDragRecord RotationDrag;
PanDragRecord PanDrag;
GreyDragRecord GreyDrag;

namespace {

// The last three notes: one or two (a wheel notch, a window sized once after
// it opened) are events of their own, refined as soon as they are shown; a
// stream is continuous, and its refinement waits for its end.
std::chrono::steady_clock::time_point ContinuousNotes[3];

bool Within(std::chrono::steady_clock::duration elapsed) {
    return elapsed < std::chrono::duration<double>(kContinuousSeconds);
}

}  // namespace

void NoteContinuousInput() {
    ContinuousNotes[0] = ContinuousNotes[1];
    ContinuousNotes[1] = ContinuousNotes[2];
    ContinuousNotes[2] = std::chrono::steady_clock::now();
}

void EndContinuousInput() {
    for (auto& note : ContinuousNotes)
        note = {};
}

bool ContinuousInputRecent() {
    return Within(std::chrono::steady_clock::now() - ContinuousNotes[2]) &&
           Within(ContinuousNotes[2] - ContinuousNotes[1]) && Within(ContinuousNotes[1] - ContinuousNotes[0]);
}

void SetClientSize(int32_t width, int32_t height) {
    ClientArea.width = width;
    ClientArea.height = height;
    ClientArea.widthF = static_cast<float>(ClientArea.width);
    ClientArea.halfWidth = ClientArea.widthF * 0.5f;
    ClientArea.heightF = static_cast<float>(ClientArea.height);
    ClientArea.halfHeight = ClientArea.heightF * 0.5f;
}

int32_t MouseX(shell::LPARAM lParam) {
    return static_cast<int16_t>(shell::LOWORD(static_cast<uint64_t>(lParam)));
}

int32_t MouseY(shell::LPARAM lParam) {
    return static_cast<int16_t>(shell::HIWORD(static_cast<uint64_t>(lParam)));
}

void StartRotationDrag(int32_t x, int32_t y) {
    RotationDrag.anchorX = x;
    RotationDrag.anchorY = y;
    RotationDrag.active = true;
}

void EndRotationDrag() {
    RotationDrag.active = false;
}

// While a button is held, moves arrive from outside the client area too
// (over the menu bar, past an edge).
void TrackRotationCursor(int32_t x, int32_t y) {
    RotationDrag.cursorX = std::clamp(x, 0, std::max(ClientArea.width - 1, 0));
    RotationDrag.cursorY = std::clamp(y, 0, std::max(ClientArea.height - 1, 0));
}

void IntegrateRotation() {
    if (!RotationDrag.active)
        return;
    // A minimised window has no size to measure the drag against.
    if (ClientArea.width <= 0 || ClientArea.height <= 0)
        return;
    OrbitCamera.yaw += (static_cast<float>(RotationDrag.anchorX - RotationDrag.cursorX) /
                        static_cast<float>(ClientArea.width)) *
                       FrameClock;
    OrbitCamera.pitch += (static_cast<float>(RotationDrag.anchorY - RotationDrag.cursorY) /
                          static_cast<float>(ClientArea.height)) *
                         FrameClock;
}

// The wheel keeps its factors within a range where the view is defined.
void ZoomOrbitCamera(int16_t delta) {
    const float scaled = delta > 0 ? OrbitCamera.distance * 0.75f : OrbitCamera.distance * 1.25f;
    OrbitCamera.distance = std::clamp(scaled, kMinDistance, kMaxDistance);
}

void ZoomOrbitCameraAt(int16_t delta, int32_t x, int32_t y, ProjectionScale scale) {
    const float before = OrbitCamera.distance;
    ZoomOrbitCamera(delta);
    const float after = OrbitCamera.distance;
    const bool inside = x >= 0 && y >= 0 && x < ClientArea.width && y < ClientArea.height;
    if (!inside || scale.x == 0.0f || scale.y == 0.0f)
        return;
    OrbitCamera.distance = before;
    // Pixel centres: the window's -1..1, y up.
    const float ndcX = (static_cast<float>(x) + 0.5f) / ClientArea.widthF * 2.0f - 1.0f;
    const float ndcY = 1.0f - (static_cast<float>(y) + 0.5f) / ClientArea.heightF * 2.0f;
    ZoomTowards(&OrbitCamera, after, ndcX, ndcY, scale);
}

void StartPanDrag(int32_t x, int32_t y) {
    PanDrag.active = true;
    PanDrag.lastX = x;
    PanDrag.lastY = y;
}

void EndPanDrag() {
    PanDrag.active = false;
}

bool DragPanTo(int32_t x, int32_t y, ProjectionScale scale) {
    if (!PanDrag.active || (x == PanDrag.lastX && y == PanDrag.lastY))
        return false;
    PanByPixels(&OrbitCamera, static_cast<float>(x - PanDrag.lastX), static_cast<float>(y - PanDrag.lastY),
                ClientArea.heightF, scale);
    PanDrag.lastX = x;
    PanDrag.lastY = y;
    return true;
}

void StartGreyDrag(int32_t x, int32_t y, float low, float high) {
    GreyDrag = GreyDragRecord{true, x, y, low, high};
}

void EndGreyDrag() {
    GreyDrag.active = false;
}

bool GreyDragWindow(int32_t x, int32_t y, float* low, float* high) {
    if (!GreyDrag.active)
        return false;
    DragGreyWindow(GreyDrag.low, GreyDrag.high, x - GreyDrag.anchorX, y - GreyDrag.anchorY, low, high);
    return true;
}

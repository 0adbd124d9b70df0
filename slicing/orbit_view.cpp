#include "slicing/orbit_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>

OrbitCameraRecord OrbitCamera;

void ComputeOrbitView(float pitch, float yaw, float distance, d3dx::Matrix* view,
                      d3dx::Vector4* lightDirection) {
    d3dx::Matrix rotationX, rotationY, orbit;
    d3dx::MatrixRotationX(&rotationX, pitch);
    d3dx::MatrixRotationY(&rotationY, yaw);
    d3dx::MatrixMultiply(&orbit, &rotationX, &rotationY);  // pitch first, then yaw

    const d3dx::Vector3 eyeAtRest{0.0f, 0.0f, -distance};
    const d3dx::Vector3 upAtRest{0.0f, 1.0f, 0.0f};
    d3dx::Vector4 eye4, up4;
    d3dx::Vec3Transform(&eye4, &eyeAtRest, &orbit);
    d3dx::Vec3Transform(&up4, &upAtRest, &orbit);
    const d3dx::Vector3 eye{eye4.x, eye4.y, eye4.z};
    const d3dx::Vector3 up{up4.x, up4.y, up4.z};
    const d3dx::Vector3 target{0.0f, 0.0f, 0.0f};
    d3dx::MatrixLookAtLH(view, &eye, &target, &up);

    // The eye's direction before rotation, reversed: the light comes from the eye.
    const d3dx::Vector4 towardsTarget{0.0f, 0.0f, distance, 0.0f};
    d3dx::Vec4Normalize(lightDirection, &towardsTarget);
}

void ComputeOrbitView(const OrbitCameraRecord& camera, d3dx::Matrix* view, d3dx::Vector4* lightDirection) {
    ComputeOrbitView(camera.pitch, camera.yaw, camera.distance, view, lightDirection);
    // A translation in view space after the look-at: the slices stay
    // perpendicular to the view direction and the box turns about its centre.
    view->m[3][0] += camera.panX;
    view->m[3][1] += camera.panY;
}

void PanByPixels(OrbitCameraRecord* camera, float dx, float dy, float height, ProjectionScale scale) {
    if (height <= 0.0f || scale.y == 0.0f)
        return;
    // One pixel at the centre's depth: the window's height spans 2 d / yScale.
    const float perPixel = 2.0f * camera->distance / (scale.y * height);
    camera->panX += dx * perPixel;
    camera->panY -= dy * perPixel;
}

void ZoomTowards(OrbitCameraRecord* camera, float distance, float ndcX, float ndcY, ProjectionScale scale) {
    if (scale.x == 0.0f || scale.y == 0.0f) {
        camera->distance = distance;
        return;
    }
    // A point (x, y) of the centre's plane shows at x xScale / d: it stays
    // put when the pan grows by the cursor's position times the change of d.
    const float change = distance - camera->distance;
    camera->panX += ndcX * change / scale.x;
    camera->panY += ndcY * change / scale.y;
    camera->distance = distance;
}

void FitBoxInView(OrbitCameraRecord* camera, const float half[3], const float low[3], const float high[3],
                  ProjectionScale scale) {
    constexpr float kMargin = 0.9f;  // of the window's half sizes
    d3dx::Matrix view;
    d3dx::Vector4 light;
    ComputeOrbitView(camera->pitch, camera->yaw, 1.0f, &view, &light);  // its rotation is all that is used
    float corner[8][3], centre[3] = {0, 0, 0};
    for (int c = 0; c < 8; ++c) {
        float at[3];
        for (int axis = 0; axis < 3; ++axis) {
            const float f = (c >> axis) & 1 ? high[axis] : low[axis];
            at[axis] = -half[axis] + std::clamp(f, 0.0f, 1.0f) * 2.0f * half[axis];
        }
        for (int j = 0; j < 3; ++j) {
            corner[c][j] = at[0] * view.m[0][j] + at[1] * view.m[1][j] + at[2] * view.m[2][j];
            centre[j] += corner[c][j] / 8.0f;
        }
    }
    camera->panX = -centre[0];
    camera->panY = -centre[1];
    // Each corner inside the margin: |x| xScale / (z + d) <= margin.
    float distance = kMinDistance;
    for (const auto& p : corner) {
        const float x = std::fabs(p[0] - centre[0]), y = std::fabs(p[1] - centre[1]);
        distance = std::max({distance, x * scale.x / kMargin - p[2], y * scale.y / kMargin - p[2]});
    }
    camera->distance = std::clamp(distance, kMinDistance, kMaxDistance);
}

OrbitAngles StandardViewAngles(StandardView view) {
    constexpr float kQuarter = 1.57079632679489662f;
    constexpr float kHalf = 3.14159265358979324f;
    // The eye starts on -z (in front of the face) and is pitched about x,
    // then turned about y. Top turns half round as well, so that the face
    // ends at the top of the screen rather than the bottom; bottom, seen
    // from the feet, has it there already.
    switch (view) {
        case StandardView::Front:
            return {0.0f, 0.0f};
        case StandardView::Back:
            return {0.0f, kHalf};
        case StandardView::Left:
            return {0.0f, -kQuarter};
        case StandardView::Right:
            return {0.0f, kQuarter};
        case StandardView::Top:
            return {kQuarter, kHalf};
        case StandardView::Bottom:
            return {-kQuarter, 0.0f};
    }
    return {0.0f, 0.0f};
}

bool StandardViewNamed(const char* name, StandardView* view) {
    static constexpr struct {
        const char* name;
        StandardView view;
    } kNames[] = {{"front", StandardView::Front}, {"back", StandardView::Back},
                  {"left", StandardView::Left},   {"right", StandardView::Right},
                  {"top", StandardView::Top},     {"bottom", StandardView::Bottom}};
    for (const auto& entry : kNames) {
        if (std::strcmp(name, entry.name) == 0) {
            *view = entry.view;
            return true;
        }
    }
    return false;
}

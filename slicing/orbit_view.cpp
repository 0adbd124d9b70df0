#include "slicing/orbit_view.h"

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

#include "slicing/orbit_view.h"

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

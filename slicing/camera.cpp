#include "slicing/camera.h"

#include "app/app_state.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "volume/volume.h"

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

void UpdateCamera() {
    InvalidateVolumeLayer();
    ComputeOrbitView(OrbitCamera.pitch, OrbitCamera.yaw, OrbitCamera.distance, &Renderer.view,
                     &Renderer.lightDirection);
    d3dx::MatrixTranspose(&Renderer.viewTransposed, &Renderer.view);
    BuildSliceGeometry();
    Renderer.context->UpdateSubresource(Renderer.cbChangeFrameVolume, 0, nullptr, &Renderer.viewTransposed, 0,
                                        0);
}

void UploadVolumeConstants() {
    InvalidateVolumeLayer();
    Renderer.volumeConstants = {Volume.halfExtentX / 500.0f, Volume.halfExtentY / 500.0f,
                                Volume.halfExtentZ / 500.0f, 0.0f};
    Renderer.context->UpdateSubresource(Renderer.cbChangeOnVolume, 0, nullptr, &Renderer.volumeConstants, 0,
                                        0);
}

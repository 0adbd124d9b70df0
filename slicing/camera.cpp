#include "slicing/camera.h"

#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "volume/volume.h"

OrbitCameraRecord OrbitCamera;

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

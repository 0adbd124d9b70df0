#include "slicing/camera.h"

#include "render/resources.h"
#include "slicing/slice_geometry.h"
#include "volume/volume.h"

void UpdateCamera() {
    d3dx::Matrix view;
    d3dx::Vector4 lightDirection;
    ComputeOrbitView(OrbitCamera, &view, &lightDirection);
    SetVolumeView(view, lightDirection);
    BuildSliceGeometry();
}

void UploadVolumeConstants() {
    SetVolumeConstants(
        {Volume.halfExtentX / 500.0f, Volume.halfExtentY / 500.0f, Volume.halfExtentZ / 500.0f, 0.0f});
}

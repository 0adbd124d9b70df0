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
    const DrawnBox drawn = VolumeDrawnBox();
    SetVolumeConstants({drawn.half[0] / 500.0f, drawn.half[1] / 500.0f, drawn.half[2] / 500.0f, 0.0f});
}

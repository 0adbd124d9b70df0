#include "slicing/slice_geometry.h"

#include <memory>
#include <new>
#include <utility>

#include "render/resources.h"
#include "volume/volume.h"

CropBox VolumeCrop;

namespace {

CropBox CropOfDrawnBox(const DrawnBox& drawn) {
    CropBox crop;
    for (int axis = 0; axis < 3; ++axis) {
        crop.low[axis] = drawn.crop.empty ? 1.0f : drawn.crop.low[axis];
        crop.high[axis] = drawn.crop.empty ? 0.0f : drawn.crop.high[axis];
    }
    return crop;
}

}  // namespace

void SetVolumeCrop(const CropBox& crop) {
    VolumeCrop = crop;
    SetClearSpaceCrop(crop.low, crop.high);
    if (Volume.volumeView == nullptr)
        return;
    BuildSliceGeometry();
    BuildCentreQuad();
}

bool BuildSliceGeometry() {
    SetSliceProxy({});

    std::unique_ptr<VolumeVertex[]> vertices(new (std::nothrow) VolumeVertex[kSliceVertexCapacity]);
    std::unique_ptr<uint32_t[]> indices(new (std::nothrow) uint32_t[kSliceIndexCapacity]);
    SliceCut cut;
    if (vertices && indices) {
        // Cut in the box the samples are drawn in (a store's part, or the whole).
        const DrawnBox drawn = VolumeDrawnBox();
        cut = CutSlices(drawn.view, drawn.half[0], drawn.half[1], drawn.half[2], CropOfDrawnBox(drawn),
                        vertices.get(), indices.get());
        // A crop that keeps nothing (or a view that leaves no polygon) is a
        // picture of the background: no slices, and no buffers, since the
        // device refuses one of no size.
        if (cut.indexCount == 0)
            return true;
    }

    SliceProxy proxy;
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(VolumeVertex) * cut.vertexCount, gpu::BIND_VERTEX_BUFFER,
                                        vertices.get(), &proxy.vertexBuffer))) {
        ShowRendererError("CreateBuffer failed (proxy vertex buffer)", "error");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(uint32_t) * cut.indexCount, gpu::BIND_INDEX_BUFFER,
                                        indices.get(), &proxy.indexBuffer))) {
        ShowRendererError("CreateBuffer failed (proxy index buffer)", "CTab");
        ReleaseAndNull(proxy.vertexBuffer);
        return false;
    }
    proxy.indexCount = cut.indexCount;
    // Each slice is one fan: a new slice begins where the fan's centre changes.
    for (uint32_t i = 0; i < cut.indexCount; i += 3) {
        if (i == 0 || indices[i] != indices[i - 3]) {
            proxy.sliceFirstIndex.push_back(i);
            proxy.sliceDepth.push_back(vertices[indices[i]].z);
        }
    }
    SetSliceProxy(std::move(proxy));
    return true;
}

bool BuildCentreQuad() {
    SetCentreQuad(nullptr, nullptr);
    const DrawnBox drawn = VolumeDrawnBox();
    const float hx = drawn.half[0], hy = drawn.half[1];
    // Cut to the crop's x and y; a crop that leaves out the central plane
    // leaves a quad of no area, which draws nothing.
    const CropBox c = CropOfDrawnBox(drawn);
    const bool keepsCentre = !c.Empty() && c.low[2] <= 0.5f && 0.5f <= c.high[2];
    const float u0 = keepsCentre ? c.low[0] : 0.5f, u1 = keepsCentre ? c.high[0] : 0.5f;
    const float v0 = keepsCentre ? c.low[1] : 0.5f, v1 = keepsCentre ? c.high[1] : 0.5f;
    const float x0 = -hx + u0 * (2.0f * hx), x1 = -hx + u1 * (2.0f * hx);
    const float y0 = -hy + v0 * (2.0f * hy), y1 = -hy + v1 * (2.0f * hy);
    const VolumeVertex quad[4] = {
        {x0, y1, 0.0f, u0, v1, 0.5f},
        {x1, y1, 0.0f, u1, v1, 0.5f},
        {x1, y0, 0.0f, u1, v0, 0.5f},
        {x0, y0, 0.0f, u0, v0, 0.5f},
    };
    const uint32_t quadIndices[6] = {0, 1, 2, 2, 3, 0};
    gpu::Buffer* vertexBuffer = nullptr;
    gpu::Buffer* indexBuffer = nullptr;
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(quad), gpu::BIND_VERTEX_BUFFER, quad, &vertexBuffer))) {
        ShowRendererError("CreateBuffer failed (vertex buffer)", "error");
        return false;
    }
    if (gpu::FAILED(
            CreateDefaultBuffer(sizeof(quadIndices), gpu::BIND_INDEX_BUFFER, quadIndices, &indexBuffer))) {
        ShowRendererError("CreateBuffer failed (index buffer)", "error");
        ReleaseAndNull(vertexBuffer);
        return false;
    }
    SetCentreQuad(vertexBuffer, indexBuffer);
    return true;
}

#include "slicing/slice_geometry.h"

#include <memory>
#include <new>

#include "render/renderer.h"
#include "volume/volume.h"

bool BuildSliceGeometry() {
    InvalidateVolumeLayer();
    ReleaseAndNull(Renderer.proxyVertexBuffer);
    ReleaseAndNull(Renderer.proxyIndexBuffer);

    std::unique_ptr<VolumeVertex[]> vertices(new (std::nothrow) VolumeVertex[kSliceVertexCapacity]);
    std::unique_ptr<uint32_t[]> indices(new (std::nothrow) uint32_t[kSliceIndexCapacity]);
    SliceCut cut;
    if (vertices && indices) {
        cut = CutSlices(Renderer.view, Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ,
                        vertices.get(), indices.get());
    }

    if (gpu::FAILED(CreateDefaultBuffer(sizeof(VolumeVertex) * cut.vertexCount, gpu::BIND_VERTEX_BUFFER,
                                        vertices.get(), &Renderer.proxyVertexBuffer))) {
        ShowRendererError("CreateBuffer failed (proxy vertex buffer)", "error");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(uint32_t) * cut.indexCount, gpu::BIND_INDEX_BUFFER,
                                        indices.get(), &Renderer.proxyIndexBuffer))) {
        ShowRendererError("CreateBuffer failed (proxy index buffer)", "CTab");
        ReleaseAndNull(Renderer.proxyVertexBuffer);
        return false;
    }
    Renderer.proxyIndexCount = cut.indexCount;
    // Each slice is one fan: a new slice begins where the fan's centre changes.
    Renderer.sliceFirstIndex.clear();
    Renderer.sliceDepth.clear();
    for (uint32_t i = 0; i < cut.indexCount; i += 3) {
        if (i == 0 || indices[i] != indices[i - 3]) {
            Renderer.sliceFirstIndex.push_back(i);
            Renderer.sliceDepth.push_back(vertices[indices[i]].z);
        }
    }
    return true;
}

bool BuildCentreQuad() {
    InvalidateVolumeLayer();
    ReleaseAndNull(Renderer.centreQuadVertexBuffer);
    ReleaseAndNull(Renderer.centreQuadIndexBuffer);
    const float hx = Volume.halfExtentX, hy = Volume.halfExtentY;
    const VolumeVertex quad[4] = {
        {-hx, hy, 0.0f, 0.0f, 1.0f, 0.5f},
        {hx, hy, 0.0f, 1.0f, 1.0f, 0.5f},
        {hx, -hy, 0.0f, 1.0f, 0.0f, 0.5f},
        {-hx, -hy, 0.0f, 0.0f, 0.0f, 0.5f},
    };
    const uint32_t quadIndices[6] = {0, 1, 2, 2, 3, 0};
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(quad), gpu::BIND_VERTEX_BUFFER, quad,
                                        &Renderer.centreQuadVertexBuffer))) {
        ShowRendererError("CreateBuffer failed (vertex buffer)", "error");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(quadIndices), gpu::BIND_INDEX_BUFFER, quadIndices,
                                        &Renderer.centreQuadIndexBuffer))) {
        ShowRendererError("CreateBuffer failed (index buffer)", "error");
        return false;
    }
    return true;
}

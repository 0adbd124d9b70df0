#include "slicing/slice_geometry.h"

#include <memory>
#include <new>
#include <utility>

#include "render/resources.h"
#include "volume/volume.h"

bool BuildSliceGeometry() {
    SetSliceProxy({});

    std::unique_ptr<VolumeVertex[]> vertices(new (std::nothrow) VolumeVertex[kSliceVertexCapacity]);
    std::unique_ptr<uint32_t[]> indices(new (std::nothrow) uint32_t[kSliceIndexCapacity]);
    SliceCut cut;
    if (vertices && indices) {
        cut = CutSlices(VolumeView(), Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ,
                        vertices.get(), indices.get());
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
    const float hx = Volume.halfExtentX, hy = Volume.halfExtentY;
    const VolumeVertex quad[4] = {
        {-hx, hy, 0.0f, 0.0f, 1.0f, 0.5f},
        {hx, hy, 0.0f, 1.0f, 1.0f, 0.5f},
        {hx, -hy, 0.0f, 1.0f, 0.0f, 0.5f},
        {-hx, -hy, 0.0f, 0.0f, 0.0f, 0.5f},
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

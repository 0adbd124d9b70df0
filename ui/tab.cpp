// The editor object: construction with the default function, release, the
// control-point list, the lookup texture, geometry building and drawing.
#include "ui/tab.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "platform/shell/shell.h"
#include "render/client_area.h"
#include "render/resources.h"
#include "ui/tab_layout.h"
#include "volume/volume.h"

namespace UI {
namespace {

void ShowTabError(const char* text, const char* caption = "CTab") {
    shell::MessageBox(nullptr, text, caption, shell::MB_OK);
}

}  // namespace

CTab::CTab() {
    state = kTabClosed;
    slideOffset = 0.0f;
    dragMode = kDragNone;
    selectedPoint = 0;
    points.reset(new ControlPoint[2]{{0.0f, 0.0f, 0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f, 1.0f, 1.0f}});
    pointCount = 2;
    selectedHsl = HslColor{0.0f, 0.0f, 0.0f};
}

CTab::~CTab() {
    Release();
}

void CTab::Release() {
    ReleaseAndNull(texVertexBuffer);
    ReleaseAndNull(texIndexBuffer);
    ReleaseAndNull(colorVertexBuffer);
    ReleaseAndNull(colorIndexBuffer);
    ReleaseAndNull(transferTexture);
    ReleaseAndNull(transferView);
}

bool CTab::Create(float x, float width, float u0, float u1) {
    Release();
    handleX = x;
    handleWidth = width;
    TexVertex vertices[kTexVertexCount];
    uint32_t indices[kTexIndexCount];
    BuildTexturedGeometry(ClientArea.halfWidth, ClientArea.halfHeight, x, width, u0, u1, vertices, indices);
    if (gpu::FAILED(
            CreateDefaultBuffer(sizeof(vertices), gpu::BIND_VERTEX_BUFFER, vertices, &texVertexBuffer))) {
        ShowTabError("CreateBuffer failed (vertex buffer)");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(indices), gpu::BIND_INDEX_BUFFER, indices, &texIndexBuffer))) {
        ShowTabError("CreateBuffer failed (index buffer)");
        ReleaseAndNull(texVertexBuffer);
        return false;
    }
    if (!GenerateColorGeometry())
        return false;
    return GenerateTransfer();
}

bool CTab::GenerateColorGeometry() {
    ReleaseAndNull(colorVertexBuffer);
    ReleaseAndNull(colorIndexBuffer);
    const GraphMapping map = ComputeGraphMapping(ClientArea.halfWidth, ClientArea.halfHeight);
    graphOriginX = map.originX;
    graphScaleX = map.scaleX;
    graphOriginY = map.originY;
    graphScaleY = map.scaleY;
    const ColorGeometry geometry = BuildColorGeometry(ClientArea.halfWidth, ClientArea.halfHeight,
                                                      points.get(), pointCount, selectedPoint, selectedHsl);
    if (gpu::FAILED(CreateDefaultBuffer(static_cast<uint32_t>(geometry.vertices.size() * sizeof(ColorVertex)),
                                        gpu::BIND_VERTEX_BUFFER, geometry.vertices.data(),
                                        &colorVertexBuffer))) {
        ShowTabError("CreateBuffer failed (vertex clr buffer)");
        return false;
    }
    lineIndexCount = geometry.lineIndexCount;
    triangleIndexCount = geometry.triangleIndexCount;
    if (gpu::FAILED(CreateDefaultBuffer(static_cast<uint32_t>(geometry.indices.size() * sizeof(uint32_t)),
                                        gpu::BIND_INDEX_BUFFER, geometry.indices.data(),
                                        &colorIndexBuffer))) {
        ShowTabError("CreateBuffer failed (index clr buffer)");
        ReleaseAndNull(colorVertexBuffer);
        return false;
    }
    return true;
}

bool CTab::GenerateTransfer() {
    InvalidateVolumeLayer();
    ReleaseAndNull(transferTexture);
    ReleaseAndNull(transferView);
    float texels[kTransferTexels * 4];
    WalkTransferFunction(points.get(), pointCount, texels);
    SetClearSpaceLookup(MeasureLookup(texels, kTransferTexels));
    SetLookupTexels(texels, kTransferTexels);

    gpu::Texture1DDesc desc;
    desc.Width = kTransferTexels;
    desc.Format = gpu::Format::R32G32B32A32_FLOAT;
    gpu::SubresourceData init;
    init.pSysMem = texels;
    return CreateTextureWithView(desc, init,
                                 {"CreateTexture1D failed", "CTab::GenerateTransfer",
                                  "CreateShaderResourceView failed", "CTab::GenerateTransfer"},
                                 &transferTexture, &transferView);
}

void CTab::InsertPoint(uint32_t index, float position, float alpha) {
    points =
        PointsWithInserted(points.get(), pointCount, index, ControlPoint{position, 0.5f, 0.5f, 0.5f, alpha});
    ++pointCount;
    selectedPoint = index;
    selectedHsl = HslColor{0.0f, 0.0f, 0.5f};
}

void CTab::DeletePoint(uint32_t index) {
    points = PointsWithRemoved(points.get(), pointCount, index);
    --pointCount;
}

void CTab::ReplacePoints(const ControlPoint* newPoints, uint32_t newCount) {
    std::unique_ptr<ControlPoint[]> copy(new ControlPoint[newCount]);
    std::copy(newPoints, newPoints + newCount, copy.get());
    points = std::move(copy);
    pointCount = newCount;
    selectedPoint = 0;
    selectedHsl = RgbToHsl(points[0].red, points[0].green, points[0].blue);
}

void CTab::RestorePoints(const PointList& list) {
    if (dragMode != kDragNone) {
        dragMode = kDragNone;
        shell::ClipCursor(nullptr);
    }
    const uint32_t keep = selectedPoint;
    ReplacePoints(list.data(), static_cast<uint32_t>(list.size()));
    SelectPoint(keep < pointCount ? keep : pointCount - 1);
    Rebuild();
}

bool CTab::UndoEdit() {
    const std::optional<PointList> previous = history.Undo(Points());
    if (previous)
        RestorePoints(*previous);
    return previous.has_value();
}

bool CTab::RedoEdit() {
    const std::optional<PointList> next = history.Redo(Points());
    if (next)
        RestorePoints(*next);
    return next.has_value();
}

uint32_t CTab::Update() {
    return AdvanceSlide(&state, &slideTime, &slideOffset, FrameClock, OpenSlideDistance(ClientArea.heightF));
}

void CTab::Render() {
    Update();
    gpu::DeviceContext* ctx = InterfaceContext();
    const uint32_t texStride = sizeof(TexVertex), colorStride = sizeof(ColorVertex), offset = 0;
    ctx->IASetVertexBuffers(0, 1, &texVertexBuffer, &texStride, &offset);
    ctx->IASetIndexBuffer(texIndexBuffer, gpu::Format::R32_UINT, 0);
    SetInterfaceTranslation(0.0f, slideOffset);
    ctx->DrawIndexed(42, 0, 0);
    ctx->PSSetShaderResources(0, 1, &Volume.histogramView);
    ctx->DrawIndexed(6, 42, 0);
    UseColourPipeline();
    ctx->IASetVertexBuffers(0, 1, &colorVertexBuffer, &colorStride, &offset);
    ctx->IASetIndexBuffer(colorIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::LINELIST);
    ctx->DrawIndexed(lineIndexCount, 0, 0);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
    ctx->DrawIndexed(triangleIndexCount, lineIndexCount, 0);
}

}  // namespace UI

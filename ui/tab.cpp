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
#include "volume/histogram.h"
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
    ReleaseAndNull(channelTransferTexture);
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
    ReleaseAndNull(channelTransferTexture);
    ReleaseAndNull(transferView);
    if (channelCount > 1)
        return GenerateChannelTransfer();
    SetLookupChannels(1);
    SetPlaneChannelColours(nullptr, 0);
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

bool CTab::GenerateChannelTransfer() {
    const size_t row = size_t{kTransferTexels} * 4;
    std::vector<float> texels(row * channelCount, 0.0f);
    std::vector<LookupOpacity> lookups;
    for (uint32_t c = 0; c < channelCount; ++c) {
        const PointList list = ChannelPoints(c);
        // Hidden: the row stays clear, so the channel adds nothing anywhere.
        if (c < channelVisible.size() && channelVisible[c] && list.size() >= 2)
            WalkTransferFunction(list.data(), static_cast<uint32_t>(list.size()), texels.data() + c * row);
        lookups.push_back(MeasureLookup(texels.data() + c * row, kTransferTexels));
    }
    SetClearSpaceLookups(std::move(lookups));
    SetLookupTexels(texels.data(), kTransferTexels * channelCount);
    SetLookupChannels(channelCount);
    // A plane shows each visible channel's grey in that channel's colour.
    float planeColours[4][3] = {};
    for (uint32_t c = 0; c < channelCount && c < 4; ++c) {
        const bool visible = c < channelVisible.size() && channelVisible[c];
        const uint32_t rgb = c < channelColours.size() ? channelColours[c] : 0xffffffu;
        for (int k = 0; k < 3 && visible; ++k)
            planeColours[c][k] = static_cast<float>(rgb >> (16 - 8 * k) & 0xffu) / 255.0f;
    }
    SetPlaneChannelColours(planeColours, std::min<uint32_t>(channelCount, 4));

    gpu::Texture2DDesc desc;
    desc.Width = kTransferTexels;
    desc.Height = channelCount;
    desc.Format = gpu::Format::R32G32B32A32_FLOAT;
    gpu::SubresourceData init;
    init.pSysMem = texels.data();
    init.SysMemPitch = static_cast<uint32_t>(row * sizeof(float));
    return CreateTextureWithView(desc, init,
                                 {"CreateTexture2D failed", "CTab::GenerateTransfer",
                                  "CreateShaderResourceView failed", "CTab::GenerateTransfer"},
                                 &channelTransferTexture, &transferView);
}

PointList CTab::ChannelPoints(uint32_t channel) const {
    if (channelCount <= 1 || channel == editedChannel || channel >= channelPoints.size())
        return Points();
    return channelPoints[channel];
}

void CTab::SetChannels(const std::vector<uint32_t>& colours) {
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(colours.size(), 4));
    if (count <= 1 && channelCount <= 1)
        return;
    if (dragMode != kDragNone) {
        dragMode = kDragNone;
        shell::ClipCursor(nullptr);
    }
    if (channelCount <= 1) {
        singlePoints_ = Points();
        singleHistory_ = std::move(history);
    }
    if (count <= 1) {
        channelCount = 1;
        editedChannel = 0;
        channelPoints.clear();
        channelHistories.clear();
        channelVisible.clear();
        channelColours.clear();
        history = std::move(singleHistory_);
        singleHistory_ = TransferHistory{};
        ReplacePoints(singlePoints_.data(), static_cast<uint32_t>(singlePoints_.size()));
        Rebuild();
        return;
    }
    channelCount = count;
    editedChannel = 0;
    channelColours.assign(colours.begin(), colours.begin() + count);
    channelPoints.clear();
    for (uint32_t c = 0; c < count; ++c)
        channelPoints.push_back(ChannelRamp(channelColours[c]));
    channelHistories.assign(count, TransferHistory{});
    channelVisible.assign(count, true);
    history = TransferHistory{};
    ReplacePoints(channelPoints[0].data(), static_cast<uint32_t>(channelPoints[0].size()));
    Rebuild();
}

void CTab::ForgetChannels() {
    channelCount = 1;
    editedChannel = 0;
    channelPoints.clear();
    channelHistories.clear();
    channelVisible.clear();
    channelColours.clear();
    singlePoints_.clear();
    singleHistory_ = TransferHistory{};
    ReleaseAndNull(channelTransferTexture);
    SetLookupChannels(1);
}

bool CTab::SelectChannel(uint32_t channel) {
    if (channelCount <= 1 || channel >= channelCount || channel == editedChannel)
        return false;
    if (dragMode != kDragNone) {
        dragMode = kDragNone;
        shell::ClipCursor(nullptr);
    }
    channelPoints[editedChannel] = Points();
    channelHistories[editedChannel] = std::move(history);
    history = std::move(channelHistories[channel]);
    channelHistories[channel] = TransferHistory{};
    editedChannel = channel;
    ReplacePoints(channelPoints[channel].data(), static_cast<uint32_t>(channelPoints[channel].size()));
    // The panel's histogram is the edited channel's.
    Volume.ShowChannelValues(channel);
    if (Volume.voxels != nullptr) {
        ReleaseAndNull(Volume.histogramView);
        ReleaseAndNull(Volume.histogramTexture);
        GenerateHistogram(Volume.binCount);
    }
    Rebuild();
    return true;
}

void CTab::SetChannelVisible(uint32_t channel, bool visible) {
    if (channelCount <= 1 || channel >= channelVisible.size() || channelVisible[channel] == visible)
        return;
    channelVisible[channel] = visible;
    GenerateTransfer();
}

void CTab::SetChannelPoints(uint32_t channel, const PointList& list) {
    if (list.size() < 2 || channel >= std::max(channelCount, 1u))
        return;
    if (channel == editedChannel || channelCount <= 1) {
        history.Record(Points(), list);
        ReplacePoints(list.data(), static_cast<uint32_t>(list.size()));
        GenerateColorGeometry();
    } else {
        channelHistories[channel].Record(channelPoints[channel], list);
        channelPoints[channel] = list;
    }
    GenerateTransfer();
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

// The idle frame (clear only) and the passes of the volume frame: the slices
// and centre quad (into the volume layer), the interface pass's pipeline and
// the rotation indicator, and the present. The application puts them together
// with the editor panel.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <vector>

#include "render/renderer.h"

namespace {

// The extremes' layer starts below every density for the maximum, above
// every density for the minimum; alpha 0: no slice covered the pixel yet.
constexpr float kMaximumClearColour[4] = {0.0f, 0.0f, 0.0f, 0.0f};
constexpr float kMinimumClearColour[4] = {1.0f, 1.0f, 1.0f, 0.0f};
// With channels every component holds one channel's extreme: the minimum
// starts above every density in alpha too.
constexpr float kChannelsMinimumClearColour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr float kBlendFactor[4] = {0.0f, 0.0f, 0.0f, 0.0f};
constexpr uint32_t kSampleMask = 0xFFFFFFFF;
constexpr uint32_t kVolumeStride = sizeof(VolumeVertex);
constexpr uint32_t kTexStride = sizeof(TexVertex);
constexpr uint32_t kZeroOffset = 0;

// What the slice pass's target starts from: the background (alpha 0: nothing
// covers it yet) for the composite, below or above every density for the
// extremes.
const float* SliceClearColour() {
    static float volumeClear[4];
    const d3dx::Vector4& b = Renderer.background;
    volumeClear[0] = b.x;
    volumeClear[1] = b.y;
    volumeClear[2] = b.z;
    volumeClear[3] = 0.0f;
    const VolumeMode mode = DrawnVolumeMode();
    return mode == VolumeMode::Maximum ? kMaximumClearColour
           : mode == VolumeMode::Minimum
               ? (Renderer.lookupChannels > 1 ? kChannelsMinimumClearColour : kMinimumClearColour)
               : volumeClear;
}

// The part of the box where any channel's sample can be seen.
TextureBox VisibleBox() {
    TextureBox visible = VisibleTextureBox(Renderer.volumeBricks, Renderer.lookupOpacity);
    for (uint32_t c = 1; c < Renderer.lookupChannels; ++c) {
        // Unmeasured: anywhere.
        if (c > Renderer.moreChannelBricks.size() || c > Renderer.moreChannelLookups.size())
            return TextureBox{};
        visible = UnionOfBoxes(visible, VisibleTextureBox(Renderer.moreChannelBricks[c - 1],
                                                          Renderer.moreChannelLookups[c - 1]));
    }
    return visible;
}

// Where the slices can show anything in a viewport of `width` x `height`
// (everything when the renderer may not skip or cannot scissor).
VisibleWindow SliceWindow(float width, float height) {
    // The extremes take every sample: the clear space's are candidates too.
    if (!Renderer.skipClearSpace || Renderer.rasterizerStateScissor == nullptr ||
        DrawnVolumeMode() != VolumeMode::Composite)
        return VisibleWindow{false, -INFINITY, INFINITY};
    const DrawnBox drawn = VolumeDrawnBox();
    d3dx::Matrix projection;  // kept transposed for the shaders
    d3dx::MatrixTranspose(&projection, &Renderer.projection);
    const TextureBox visible = CroppedTextureBox(VisibleBox(), drawn.crop.low, drawn.crop.high);
    return WindowOfBox(visible, drawn.half, drawn.view, projection, width, height);
}

// The planes the frame shows, each inside its grid.
bool PlaneDrawn(int axis) {
    const uint32_t dim = Renderer.planeGrid[axis];
    const int32_t index = Renderer.planes.index[axis];
    return Renderer.planes.shown[axis] && index >= 0 && static_cast<uint32_t>(index) < dim;
}

// The extremes' layer has room for a plane with one channel only; with
// several the lookup that composes the layer finds the plane under each
// pixel itself (fx.fx's PlaneUnderPixel).
bool PlanesInTheLayer() {
    return DrawnVolumeMode() == VolumeMode::Composite || Renderer.lookupChannels == 1;
}

float PlanePosition(int axis) {
    const uint32_t dim = Renderer.planeGrid[axis];
    return dim > 0 ? PlaneTexturePosition(Renderer.planes.index[axis], dim) : 0.5f;
}

// The planes' block, the plane `own` being drawn (3: the slices); false
// when there is no block.
}  // namespace

bool UploadPlaneConstants(int own) {
    if (Renderer.cbChangeFrameVolume == nullptr)
        return false;
    float* block = Renderer.planeBlock;
    std::fill_n(block, std::size(Renderer.planeBlock), 0.0f);
    const TextureBox crop = VolumeDrawnBox().crop;
    for (int axis = 0; axis < 3; ++axis) {
        block[axis] = PlanePosition(axis);
        block[4 + axis] = PlaneDrawn(axis) ? 1.0f : 0.0f;
        block[8 + axis] = crop.low[axis];
        block[12 + axis] = crop.high[axis];
    }
    block[7] = static_cast<float>(own);
    block[16] = Renderer.planes.greyLow;
    block[17] = Renderer.planes.greyHigh;
    const VolumeMode mode = DrawnVolumeMode();
    block[18] = mode == VolumeMode::Minimum ? 1.0f : 0.0f;
    block[19] = mode == VolumeMode::Composite ? 0.0f : 1.0f;
    for (int c = 0; c < 4; ++c)
        std::copy_n(Renderer.planeChannelColours[c], 3, block + 20 + 4 * c);
    block[23] = Renderer.lookupChannels > 1 ? 1.0f : 0.0f;
    Renderer.context->UpdateSubresource(Renderer.cbChangeFrameVolume, 0, nullptr, &Renderer.viewTransposed, 0,
                                        0);
    Renderer.context->PSSetConstantBuffers(2, 1, &Renderer.cbChangeFrameVolume);
    return true;
}

namespace {

// The shown planes into the layer just cleared, before the slices: each
// one's part of the crop as a quad of view-space corners, opaque, hiding
// what of the others lies behind it (fx.fx's PS_Plane).
void DrawPlanes(gpu::ShaderResourceView* volumeView) {
    gpu::DeviceContext* ctx = Renderer.context;
    const DrawnBox drawn = VolumeDrawnBox();
    const float* half = drawn.half;
    if (Renderer.psPlane == nullptr || half[0] <= 0 || half[1] <= 0 || half[2] <= 0)
        return;
    if ((!PlaneDrawn(0) && !PlaneDrawn(1) && !PlaneDrawn(2)) || !PlanesInTheLayer())
        return;
    if (Renderer.planeVertexBuffer == nullptr || Renderer.planeIndexBuffer == nullptr) {
        const uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
        if (gpu::FAILED(CreateDefaultBuffer(4 * kVolumeStride, gpu::BIND_VERTEX_BUFFER, nullptr,
                                            &Renderer.planeVertexBuffer)) ||
            gpu::FAILED(CreateDefaultBuffer(sizeof(indices), gpu::BIND_INDEX_BUFFER, indices,
                                            &Renderer.planeIndexBuffer))) {
            ReleaseAndNull(Renderer.planeVertexBuffer);
            ReleaseAndNull(Renderer.planeIndexBuffer);
            return;
        }
    }
    const VolumeMode mode = DrawnVolumeMode();
    ctx->OMSetBlendState(mode == VolumeMode::Maximum   ? Renderer.blendStateMaximum
                         : mode == VolumeMode::Minimum ? Renderer.blendStateMinimum
                                                       : Renderer.blendStateVolume,
                         kBlendFactor, kSampleMask);
    ctx->IASetInputLayout(Renderer.layoutVolume);
    ctx->VSSetShader(Renderer.vsVolume, nullptr, 0);
    ctx->VSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
    ctx->VSSetConstantBuffers(2, 1, &Renderer.cbChangeFrameVolume);
    ctx->PSSetShader(Renderer.psPlane, nullptr, 0);
    ctx->PSSetConstantBuffers(4, 1, &Renderer.cbChangeOnVolume);
    ctx->PSSetShaderResources(1, 1, &volumeView);
    ctx->PSSetSamplers(1, 1, &Renderer.volumeSampler);
    ctx->IASetVertexBuffers(0, 1, &Renderer.planeVertexBuffer, &kVolumeStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.planeIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
    ctx->RSSetState(Renderer.rasterizerState);
    const TextureBox& crop = drawn.crop;
    for (int axis = 0; axis < 3; ++axis) {
        const float at = PlanePosition(axis);
        if (!PlaneDrawn(axis) || at < crop.low[axis] || at > crop.high[axis] || !UploadPlaneConstants(axis))
            continue;
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        VolumeVertex quad[4];
        for (int c = 0; c < 4; ++c) {
            float u[3];
            u[axis] = at;
            u[a] = (c == 1 || c == 2) ? crop.high[a] : crop.low[a];
            u[b] = c >= 2 ? crop.high[b] : crop.low[b];
            const d3dx::Vector3 object{(2 * u[0] - 1) * half[0], (2 * u[1] - 1) * half[1],
                                       (2 * u[2] - 1) * half[2]};
            d3dx::Vector4 view;
            d3dx::Vec3Transform(&view, &object, &drawn.view);
            quad[c] = VolumeVertex{view.x, view.y, view.z, u[0], u[1], u[2]};
        }
        ctx->UpdateSubresource(Renderer.planeVertexBuffer, 0, nullptr, quad, 0, 0);
        ctx->DrawIndexed(6, 0, 0);
    }
}

// Binds the slice pipeline; false when the visible window is empty (nothing
// to draw). `window` is where the slices can show anything.
bool BeginSlices(gpu::ShaderResourceView* volumeView, gpu::ShaderResourceView* transferView, float width,
                 float height, VisibleWindow* window) {
    gpu::DeviceContext* ctx = Renderer.context;
    const VolumeMode mode = DrawnVolumeMode();
    // Fragments outside the visible window would all be discarded: leaving
    // them out changes no pixel.
    *window = SliceWindow(width, height);
    UploadPlaneConstants(3);
    if (window->empty)
        return false;
    const bool channels = Renderer.lookupChannels > 1;
    gpu::BlendState* blend = mode == VolumeMode::Maximum   ? Renderer.blendStateMaximum
                             : mode == VolumeMode::Minimum ? (channels ? Renderer.blendStateChannelsMinimum
                                                                       : Renderer.blendStateMinimum)
                                                           : Renderer.blendStateVolume;
    const bool shaded = Renderer.shading && Renderer.gradientView != nullptr;
    gpu::PixelShader* shader = nullptr;
    if (channels)
        shader = mode == VolumeMode::Maximum   ? Renderer.psChannelsMaximum
                 : mode == VolumeMode::Minimum ? Renderer.psChannelsMinimum
                 : shaded                      ? Renderer.psChannels
                                               : Renderer.psChannelsFlat;
    else
        shader = mode != VolumeMode::Composite ? Renderer.psVolumeExtreme
                 : shaded                      ? Renderer.psVolume
                                               : Renderer.psVolumeFlat;
    ctx->OMSetBlendState(blend, kBlendFactor, kSampleMask);
    ctx->IASetInputLayout(Renderer.layoutVolume);
    ctx->VSSetShader(Renderer.vsVolume, nullptr, 0);
    ctx->VSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
    ctx->VSSetConstantBuffers(2, 1, &Renderer.cbChangeFrameVolume);
    ctx->VSSetConstantBuffers(3, 1, &Renderer.cbChangeFrameUI);
    ctx->PSSetShader(shader, nullptr, 0);
    ctx->PSSetConstantBuffers(4, 1, &Renderer.cbChangeOnVolume);
    ctx->PSSetShaderResources(0, 1, &Renderer.uiAtlasView);
    ctx->PSSetShaderResources(1, 1, &volumeView);
    // The one-channel lookup is a 1D texture, the channels' a 2D one.
    gpu::ShaderResourceView* none = nullptr;
    ctx->PSSetShaderResources(2, 1, channels ? &none : &transferView);
    ctx->PSSetShaderResources(4, 1, channels ? &transferView : &none);
    ctx->PSSetShaderResources(3, 1, &Renderer.gradientView);
    ctx->PSSetSamplers(0, 1, &Renderer.simpleTexSampler);
    ctx->PSSetSamplers(1, 1, &Renderer.volumeSampler);
    ctx->PSSetSamplers(2, 1, &Renderer.transferSampler);
    ctx->IASetVertexBuffers(0, 1, &Renderer.proxyVertexBuffer, &kVolumeStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.proxyIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
    if (window->scissor) {
        const gpu::Rect rect{window->left, window->top, window->right, window->bottom};
        ctx->RSSetScissorRects(1, &rect);
        ctx->RSSetState(Renderer.rasterizerStateScissor);
    } else {
        ctx->RSSetState(Renderer.rasterizerState);
    }
    return true;
}

// Every sliceStep-th slice of [begin, end), farthest first, as the order of
// blending needs; runs of neighbours in the window in one draw. Slices drawn
// in bands one after another blend exactly as in one pass.
void DrawSliceRange(const VisibleWindow& window, uint32_t sliceStep, size_t begin, size_t end) {
    gpu::DeviceContext* ctx = Renderer.context;
    const std::vector<uint32_t>& first = Renderer.sliceFirstIndex;
    const std::vector<float>& depth = Renderer.sliceDepth;
    const auto inWindow = [&](size_t s) {
        return s >= depth.size() || (depth[s] >= window.nearDepth && depth[s] <= window.farDepth);
    };
    const auto endOf = [&](size_t s) {
        return s + 1 < first.size() ? first[s + 1] : Renderer.proxyIndexCount;
    };
    const size_t step = std::max<uint32_t>(sliceStep, 1);
    end = std::min(end, first.size());
    for (size_t s = begin; s < end; s += step) {
        if (!inWindow(s))
            continue;
        size_t last = s;
        while (step == 1 && last + 1 < end && inWindow(last + 1))
            ++last;
        ctx->DrawIndexed(endOf(last) - first[s], first[s], 0);
        s = last;
    }
}

void DrawCentreQuad() {
    gpu::DeviceContext* ctx = Renderer.context;
    ctx->RSSetState(Renderer.rasterizerState);
    ctx->IASetVertexBuffers(0, 1, &Renderer.centreQuadVertexBuffer, &kVolumeStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.centreQuadIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->DrawIndexed(6, 0, 0);
}

void DrawSlices(gpu::RenderTargetView* target, gpu::ShaderResourceView* volumeView,
                gpu::ShaderResourceView* transferView, uint32_t sliceStep, float width, float height) {
    Renderer.context->ClearRenderTargetView(target, SliceClearColour());
    DrawPlanes(volumeView);
    VisibleWindow window;
    if (!BeginSlices(volumeView, transferView, width, height, &window))
        return;
    DrawSliceRange(window, sliceStep, 0, Renderer.sliceFirstIndex.size());
    DrawCentreQuad();
}

// The slice pass at a drag's quality: a viewport of a fraction of the layer
// and the slice step in the volume constants, both put back afterwards.
void DrawReducedOrWhole(gpu::RenderTargetView* target, gpu::ShaderResourceView* volumeView,
                        gpu::ShaderResourceView* transferView, const DragQuality& quality) {
    gpu::DeviceContext* ctx = Renderer.context;
    gpu::Viewport viewport;
    viewport.Width = ClientArea.widthF;
    viewport.Height = ClientArea.heightF;
    viewport.MaxDepth = 1.0f;
    if (quality.resolutionDivisor > 1) {
        const DragViewport low = ReducedViewport(quality.resolutionDivisor);
        gpu::Viewport reduced = viewport;
        reduced.Width = low.width;
        reduced.Height = low.height;
        ctx->RSSetViewports(1, &reduced);
    }
    if (quality.sliceStep > 1) {
        Renderer.volumeConstants.w = static_cast<float>(quality.sliceStep);
        ctx->UpdateSubresource(Renderer.cbChangeOnVolume, 0, nullptr, &Renderer.volumeConstants, 0, 0);
    }
    const bool reduced = quality.resolutionDivisor > 1;
    const DragViewport low = reduced ? ReducedViewport(quality.resolutionDivisor) : DragViewport{};
    DrawSlices(target, volumeView, transferView, quality.sliceStep, reduced ? low.width : viewport.Width,
               reduced ? low.height : viewport.Height);
    if (quality.sliceStep > 1) {
        Renderer.volumeConstants.w = 0.0f;
        ctx->UpdateSubresource(Renderer.cbChangeOnVolume, 0, nullptr, &Renderer.volumeConstants, 0, 0);
    }
    if (quality.resolutionDivisor > 1)
        ctx->RSSetViewports(1, &viewport);
}

// The layer drawn by the CPU at a drag's quality (a viewport of a fraction
// of it, every sliceStep-th plane), then handed to the device whole: the
// part outside a reduced viewport is never shown.
void DrawSoftwareLayer(const DragQuality& quality) {
    const uint32_t width = static_cast<uint32_t>(ClientArea.width);
    const uint32_t height = static_cast<uint32_t>(ClientArea.height);
    Renderer.softwareImage.resize(size_t{width} * height * 4);
    SoftwareFrame frame;
    const DrawnBox drawn = VolumeDrawnBox();
    frame.view = drawn.view;
    d3dx::MatrixTranspose(&frame.projection, &Renderer.projection);
    frame.width = width;
    frame.height = height;
    if (quality.resolutionDivisor > 1) {
        const DragViewport low = ReducedViewport(quality.resolutionDivisor);
        frame.width = static_cast<uint32_t>(low.width);
        frame.height = static_cast<uint32_t>(low.height);
    }
    frame.sliceDepth = Renderer.sliceDepth.data();
    frame.sliceCount = std::min(Renderer.sliceDepth.size(), Renderer.sliceFirstIndex.size());
    frame.sliceStep = std::max<uint32_t>(quality.sliceStep, 1);
    for (int axis = 0; axis < 3; ++axis) {
        frame.cropLow[axis] = drawn.crop.low[axis];
        frame.cropHigh[axis] = drawn.crop.high[axis];
    }
    frame.mode = DrawnVolumeMode();
    frame.shading = Renderer.shading && Renderer.gradientView != nullptr;
    frame.lookup = Renderer.lookupTexels.data();
    frame.lookupRows = Renderer.lookupChannels;
    frame.lookupTexels = static_cast<uint32_t>(Renderer.lookupTexels.size() / 4 / frame.lookupRows);
    frame.skipClearSpace = Renderer.skipClearSpace;
    frame.background[0] = Renderer.background.x;
    frame.background[1] = Renderer.background.y;
    frame.background[2] = Renderer.background.z;
    for (int axis = 0; axis < 3; ++axis) {
        const uint32_t dim = Renderer.planeGrid[axis];
        const int32_t index = Renderer.planes.index[axis];
        frame.planeShown[axis] =
            Renderer.planes.shown[axis] && index >= 0 && static_cast<uint32_t>(index) < dim;
        frame.planeAt[axis] = dim > 0 ? PlaneTexturePosition(index, dim) : 0.5f;
    }
    frame.greyLow = Renderer.planes.greyLow;
    frame.greyHigh = Renderer.planes.greyHigh;
    for (int c = 0; c < 4; ++c)
        std::copy_n(Renderer.planeChannelColours[c], 3, frame.planeChannelColour[c]);
    SoftwareVolume volume = Renderer.softwareVolume;
    volume.bricks = &Renderer.volumeBricks;
    volume.moreBricks = &Renderer.moreChannelBricks;
    for (int axis = 0; axis < 3; ++axis)
        volume.halfExtents[axis] = drawn.half[axis];
    DrawSoftwareVolume(volume, frame, Renderer.softwareImage.data(), width);
    Renderer.context->UpdateSubresource(Renderer.volumeLayer, 0, nullptr, Renderer.softwareImage.data(),
                                        width * 8, 0);
}

// Whether this frame's layer is the CPU's: on its device, with the volume's
// samples at hand (and its gradient where the picture is shaded).
bool CpuDrawsThisLayer() {
    // The volume's channels and the lookup's rows must agree (they may not
    // for the moment between a volume's install and its lookup's).
    if (!Renderer.volumePassOnCpu || Renderer.softwareVolume.texels == nullptr ||
        Renderer.softwareVolume.channels != Renderer.lookupChannels)
        return false;
    const bool shaded =
        Renderer.shading && Renderer.gradientView != nullptr && DrawnVolumeMode() == VolumeMode::Composite;
    return !shaded || Renderer.softwareVolume.gradient != nullptr;
}

}  // namespace

void SetSoftwareVolume(const uint16_t* texels, const uint32_t dims[3], uint32_t channels,
                       uint32_t components) {
    InvalidateVolumeLayer();
    Renderer.softwareVolume.texels = texels;
    Renderer.softwareVolume.channels = channels;
    Renderer.softwareVolume.components = components;
    for (int axis = 0; axis < 3; ++axis)
        Renderer.softwareVolume.dims[axis] = texels != nullptr ? dims[axis] : 0;
}

void SetSoftwareGradient(const uint8_t* texels, const uint32_t dims[3]) {
    InvalidateVolumeLayer();
    Renderer.softwareVolume.gradient = texels;
    for (int axis = 0; axis < 3; ++axis)
        Renderer.softwareVolume.gradientDims[axis] = texels != nullptr ? dims[axis] : 0;
}

bool VolumePassOnCpu() {
    return Renderer.volumePassOnCpu;
}

void SetLookupTexels(const float* rgbaTexels, uint32_t count) {
    InvalidateVolumeLayer();
    Renderer.lookupTexels.assign(rgbaTexels, rgbaTexels + size_t{count} * 4);
}

void SetClearSpaceVolume(VolumeBricks bricks, const float* halfExtents) {
    InvalidateVolumeLayer();
    Renderer.volumeBricks = std::move(bricks);
    for (int axis = 0; axis < 3; ++axis)
        Renderer.volumeHalfExtents[axis] = halfExtents != nullptr ? halfExtents[axis] : 0.0f;
}

void SetClearSpaceLookup(LookupOpacity lookup) {
    InvalidateVolumeLayer();
    Renderer.lookupOpacity = std::move(lookup);
    Renderer.moreChannelLookups.clear();
}

void SetClearSpaceMoreChannels(std::vector<VolumeBricks> bricks) {
    InvalidateVolumeLayer();
    Renderer.moreChannelBricks = std::move(bricks);
}

void SetClearSpaceLookups(std::vector<LookupOpacity> lookups) {
    InvalidateVolumeLayer();
    if (lookups.empty()) {
        Renderer.lookupOpacity = LookupOpacity{};
        Renderer.moreChannelLookups.clear();
        return;
    }
    Renderer.lookupOpacity = std::move(lookups.front());
    Renderer.moreChannelLookups.assign(std::make_move_iterator(lookups.begin() + 1),
                                       std::make_move_iterator(lookups.end()));
}

void SetLookupChannels(uint32_t channels) {
    InvalidateVolumeLayer();
    Renderer.lookupChannels = std::clamp<uint32_t>(channels, 1, 4);
}

void SetVolumeGradient(gpu::ShaderResourceView* gradientView) {
    InvalidateVolumeLayer();
    Renderer.gradientView = gradientView;
}

void SetVolumeShading(bool on) {
    InvalidateVolumeLayer();
    Renderer.shading = on;
}

void SetVolumeMode(VolumeMode mode) {
    InvalidateVolumeLayer();
    Renderer.mode = mode;
}

VolumeMode DrawnVolumeMode() {
    return HaveVolumeLayer() ? Renderer.mode : VolumeMode::Composite;
}

void SetClearSpaceCrop(const float low[3], const float high[3]) {
    InvalidateVolumeLayer();
    for (int axis = 0; axis < 3; ++axis) {
        Renderer.cropBox.low[axis] = low[axis];
        Renderer.cropBox.high[axis] = high[axis];
    }
}

void SetBackground(Background background) {
    InvalidateVolumeLayer();
    Renderer.backgroundChoice = background;
    const BackgroundColour c = ColourOfBackground(background);
    Renderer.background = {c.r, c.g, c.b, 1.0f};
    // The extremes' lookup reads it from the interface block.
    if (Renderer.context != nullptr && Renderer.cbChangeFrameUI != nullptr)
        Renderer.context->UpdateSubresource(Renderer.cbChangeFrameUI, 0, nullptr, &Renderer.uiTranslation, 0,
                                            0);
}

void SetSlicePlanes(const SlicePlanes& planes, const uint32_t grid[3]) {
    InvalidateVolumeLayer();
    Renderer.planes = planes;
    for (int axis = 0; grid != nullptr && axis < 3; ++axis)
        Renderer.planeGrid[axis] = grid[axis];
}

void SetPlaneChannelColours(const float (*rgb)[3], uint32_t count) {
    InvalidateVolumeLayer();
    for (uint32_t c = 0; c < 4; ++c)
        for (int k = 0; k < 3; ++k)
            Renderer.planeChannelColours[c][k] = c < count ? std::clamp(rgb[c][k], 0.0f, 1.0f) : 0.0f;
}

Background CurrentBackground() {
    return Renderer.backgroundChoice;
}

void RenderIdleFrame() {
    // After a failed resize there is no target until a later resize succeeds.
    if (Renderer.renderTargetView == nullptr)
        return;
    const float idle[4] = {Renderer.background.x, Renderer.background.y, Renderer.background.z, 1.0f};
    Renderer.context->ClearRenderTargetView(Renderer.renderTargetView, idle);
    Renderer.swapChain->Present(0, 0);
}

VolumePass DrawVolumePass(gpu::ShaderResourceView* volumeView, gpu::ShaderResourceView* transferView,
                          bool mayBeCoarse) {
    gpu::DeviceContext* ctx = Renderer.context;
    // Slice pass, into the volume layer when it is stale (otherwise the layer
    // already holds this picture), or straight into the back buffer when the
    // device gave no layer.
    const bool layered = HaveVolumeLayer();
    // On a slow device a change is shown first with less work; the whole
    // picture follows between inputs (RefineVolumeLayer). Before anything
    // is measured the device counts as slow: the coarsest frame costs little
    // on a fast one, and its time tells which it is.
    const DragQuality quality = !layered || !mayBeCoarse ? DragQuality{}
                                : Renderer.layerSeconds > 0
                                    ? ChooseDragQuality(Renderer.layerSeconds, Renderer.layerQuality)
                                    : kCoarsestQuality;
    if (!mayBeCoarse && !Renderer.layerQuality.Full() && Renderer.refineLayerTarget == nullptr)
        Renderer.volumeLayerStale = true;
    VolumePass pass;
    pass.start = std::chrono::steady_clock::now();
    pass.drewLayer = !layered || Renderer.volumeLayerStale;
    if (pass.drewLayer) {
        gpu::RenderTargetView* target = layered ? Renderer.volumeLayerTarget : Renderer.renderTargetView;
        if (layered && CpuDrawsThisLayer()) {
            DrawSoftwareLayer(quality);
        } else {
            ctx->OMSetRenderTargets(1, &target, nullptr);
            DrawReducedOrWhole(target, volumeView, transferView, quality);
        }
        Renderer.layerQuality = quality;
        Renderer.volumeLayerStale = false;
    }
    if (layered)
        ComposeVolumeLayer(Renderer.layerQuality.resolutionDivisor, transferView, volumeView);
    return pass;
}

bool RefinementPending() {
    return HaveVolumeLayer() && !Renderer.volumeLayerStale && !Renderer.layerQuality.Full();
}

bool RefineVolumeLayer(gpu::ShaderResourceView* volumeView, gpu::ShaderResourceView* transferView) {
    if (!RefinementPending())
        return false;
    gpu::DeviceContext* ctx = Renderer.context;
    const auto start = std::chrono::steady_clock::now();
    if (CpuDrawsThisLayer()) {
        // The CPU draws the whole picture in about the time of a band.
        DrawSoftwareLayer(DragQuality{});
        Renderer.layerQuality = DragQuality{};
        if (Renderer.timeLayers)
            Renderer.layerSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return true;
    }
    if (Renderer.refineLayerTarget == nullptr) {
        // No second layer to build it in: the whole picture in one go, over
        // the coarse one (the input waits for it, as it did for every frame).
        ctx->OMSetRenderTargets(1, &Renderer.volumeLayerTarget, nullptr);
        DrawReducedOrWhole(Renderer.volumeLayerTarget, volumeView, transferView, DragQuality{});
        ctx->Flush();
        Renderer.layerQuality = DragQuality{};
        if (Renderer.timeLayers)
            Renderer.layerSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return true;
    }
    const size_t slices = Renderer.sliceFirstIndex.size();
    if (!Renderer.refining) {
        Renderer.refining = true;
        Renderer.refineNextSlice = 0;
        Renderer.refineSeconds = 0;
        Renderer.refineLongestBand = 0;
    }
    // The band's size from the whole layer's cost, estimated from the coarse
    // one's: the work scales with the pixels and the slices drawn.
    const DragQuality& coarse = Renderer.layerQuality;
    const double wholeSeconds = std::max(Renderer.layerSeconds, 1e-3) * coarse.resolutionDivisor *
                                coarse.resolutionDivisor * coarse.sliceStep;
    const size_t band = std::clamp<size_t>(
        static_cast<size_t>(static_cast<double>(slices) * kRefineBandSeconds / wholeSeconds), 8,
        std::max<size_t>(slices, 8));
    const size_t begin = Renderer.refineNextSlice, end = std::min(slices, begin + band);
    gpu::RenderTargetView* target = Renderer.refineLayerTarget;
    ctx->OMSetRenderTargets(1, &target, nullptr);
    if (begin == 0) {
        ctx->ClearRenderTargetView(target, SliceClearColour());
        DrawPlanes(volumeView);
    }
    VisibleWindow window;
    const bool visible =
        BeginSlices(volumeView, transferView, ClientArea.widthF, ClientArea.heightF, &window);
    if (visible) {
        DrawSliceRange(window, 1, begin, end);
        if (end == slices)
            DrawCentreQuad();
        ctx->RSSetState(Renderer.rasterizerState);
    }
    ctx->Flush();
    const double bandSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Renderer.refineSeconds += bandSeconds;
    Renderer.refineLongestBand = std::max(Renderer.refineLongestBand, bandSeconds);
    Renderer.refineNextSlice = end;
    if (visible && end < slices)
        return false;
    // Complete: it becomes the layer, drawn whole.
    std::swap(Renderer.volumeLayer, Renderer.refineLayer);
    std::swap(Renderer.volumeLayerTarget, Renderer.refineLayerTarget);
    std::swap(Renderer.volumeLayerView, Renderer.refineLayerView);
    Renderer.layerQuality = DragQuality{};
    if (Renderer.timeLayers)
        Renderer.layerSeconds = Renderer.refineSeconds;
    Renderer.refining = false;
    return true;
}

void BeginInterfacePass(gpu::ShaderResourceView* volumeView) {
    gpu::DeviceContext* ctx = Renderer.context;
    ctx->IASetInputLayout(Renderer.layoutTex);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
    ctx->VSSetShader(Renderer.vsTex, nullptr, 0);
    ctx->VSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
    ctx->VSSetConstantBuffers(2, 1, &Renderer.cbChangeFrameVolume);
    ctx->VSSetConstantBuffers(3, 1, &Renderer.cbChangeFrameUI);
    ctx->PSSetShader(Renderer.psTex, nullptr, 0);
    ctx->PSSetShaderResources(0, 1, &Renderer.uiAtlasView);
    ctx->PSSetShaderResources(1, 1, &volumeView);
    ctx->PSSetSamplers(0, 1, &Renderer.simpleTexSampler);
    ctx->PSSetSamplers(1, 1, &Renderer.volumeSampler);
    ctx->OMSetBlendState(Renderer.blendStateUI, kBlendFactor, kSampleMask);
}

void DrawRotationIndicator(int32_t anchorX, int32_t anchorY) {
    gpu::DeviceContext* ctx = Renderer.context;
    ctx->IASetVertexBuffers(0, 1, &Renderer.rotVertexBuffer, &kTexStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.rotIndexBuffer, gpu::Format::R32_UINT, 0);
    // Centred on the anchor, half a pixel left of and below it (integer
    // halving of the client size, integer differences).
    const int32_t halfWidth = ClientArea.width / 2;
    const int32_t halfHeight = ClientArea.height / 2;
    SetInterfaceTranslation(static_cast<float>(anchorX - halfWidth) - 0.5f,
                            static_cast<float>(halfHeight - anchorY) - 0.5f);
    ctx->DrawIndexed(6, 0, 0);
}

void PresentVolumeFrame(const VolumePass& pass) {
    Renderer.swapChain->Present(0, 0);
    if (pass.drewLayer && Renderer.timeLayers) {
        // Present waits for the picture on a device that draws on the CPU;
        // on a GPU this is the time to queue the frame, and stays small.
        Renderer.layerSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - pass.start).count();
    }
}

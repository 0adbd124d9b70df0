// The volume layer: the slices and the centre quad drawn offscreen, in 16 bits
// per channel so that 500 blends do not round to 8 bits each time, and
// composed into the back buffer every frame. It is redrawn only when something
// it shows has changed (the view, the lookup texture, the volume, the client
// size); any other frame (a menu, the panel's slide, a click) costs one copy.
#include "render/renderer.h"

namespace {

constexpr uint32_t kTexStride = sizeof(TexVertex);
constexpr uint32_t kZeroOffset = 0;

}  // namespace

void ReleaseVolumeLayer() {
    ReleaseAndNull(Renderer.volumeLayerView);
    ReleaseAndNull(Renderer.volumeLayerTarget);
    ReleaseAndNull(Renderer.volumeLayer);
    ReleaseAndNull(Renderer.layerQuadVertexBuffer);
    ReleaseAndNull(Renderer.refineLayerView);
    ReleaseAndNull(Renderer.refineLayerTarget);
    ReleaseAndNull(Renderer.refineLayer);
    Renderer.volumeLayerStale = true;
    Renderer.refining = false;
}

// Made when a volume is opened and at each resize while one is shown. Without
// a layer (the device refused one; it is asked again at the next resize) the
// frames draw the slices straight into the back buffer, as every frame did
// before.
// 16-bit unsigned normalised channels: half floats are not enough (llvmpipe
// rounds them towards zero, and 500 faint slices then darken the picture
// visibly), and 32-bit floats give the same picture for twice the memory
// and a slower blend.
void CreateVolumeLayer() {
    ReleaseVolumeLayer();
    if (Renderer.device == nullptr || Renderer.renderTargetView == nullptr || ClientArea.width <= 0 ||
        ClientArea.height <= 0)
        return;
    gpu::Texture2DDesc desc;
    desc.Width = static_cast<uint32_t>(ClientArea.width);
    desc.Height = static_cast<uint32_t>(ClientArea.height);
    desc.Format = gpu::Format::R16G16B16A16_UNORM;
    desc.BindFlags = gpu::BIND_SHADER_RESOURCE | gpu::BIND_RENDER_TARGET;
    if (gpu::FAILED(Renderer.device->CreateTexture2D(&desc, nullptr, &Renderer.volumeLayer)) ||
        gpu::FAILED(Renderer.device->CreateRenderTargetView(Renderer.volumeLayer, nullptr,
                                                            &Renderer.volumeLayerTarget)) ||
        gpu::FAILED(Renderer.device->CreateShaderResourceView(Renderer.volumeLayer, nullptr,
                                                              &Renderer.volumeLayerView))) {
        ReleaseVolumeLayer();
        return;
    }
    // The whole client area, texel centres on pixel centres: the copy is exact.
    const float hw = ClientArea.widthF / 2.0f, hh = ClientArea.heightF / 2.0f;
    const TexVertex quad[4] = {
        {-hw, hh, 1.0f, 0.0f, 0.0f},
        {hw, hh, 1.0f, 1.0f, 0.0f},
        {hw, -hh, 1.0f, 1.0f, 1.0f},
        {-hw, -hh, 1.0f, 0.0f, 1.0f},
    };
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(quad), gpu::BIND_VERTEX_BUFFER, quad,
                                        &Renderer.layerQuadVertexBuffer))) {
        ReleaseVolumeLayer();
        return;
    }
    // The refinement's layer is optional: without it a coarse picture is
    // redrawn whole once the change is over, as before.
    if (gpu::FAILED(Renderer.device->CreateTexture2D(&desc, nullptr, &Renderer.refineLayer)) ||
        gpu::FAILED(Renderer.device->CreateRenderTargetView(Renderer.refineLayer, nullptr,
                                                            &Renderer.refineLayerTarget)) ||
        gpu::FAILED(Renderer.device->CreateShaderResourceView(Renderer.refineLayer, nullptr,
                                                              &Renderer.refineLayerView))) {
        ReleaseAndNull(Renderer.refineLayerView);
        ReleaseAndNull(Renderer.refineLayerTarget);
        ReleaseAndNull(Renderer.refineLayer);
    }
}

DragViewport ReducedViewport(uint32_t resolutionDivisor) {
    const uint32_t w = static_cast<uint32_t>(ClientArea.width), h = static_cast<uint32_t>(ClientArea.height);
    return {static_cast<float>((w + resolutionDivisor - 1) / resolutionDivisor),
            static_cast<float>((h + resolutionDivisor - 1) / resolutionDivisor)};
}

void InvalidateVolumeLayer() {
    Renderer.volumeLayerStale = true;
    Renderer.refining = false;  // it would show the picture before the change
}

bool HaveVolumeLayer() {
    return Renderer.volumeLayerTarget != nullptr && Renderer.layerQuadVertexBuffer != nullptr;
}

void ComposeVolumeLayer(uint32_t resolutionDivisor, gpu::ShaderResourceView* transferView,
                        gpu::ShaderResourceView* volumeView) {
    gpu::DeviceContext* ctx = Renderer.context;
    ctx->OMSetRenderTargets(1, &Renderer.renderTargetView, nullptr);
    ctx->OMSetBlendState(nullptr, nullptr, 0xFFFFFFFF);  // a plain copy, alpha included
    ctx->IASetInputLayout(Renderer.layoutTex);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
    ctx->IASetVertexBuffers(0, 1, &Renderer.layerQuadVertexBuffer, &kTexStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.rotIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->VSSetShader(Renderer.vsTex, nullptr, 0);
    ctx->VSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
    ctx->VSSetConstantBuffers(3, 1, &Renderer.cbChangeFrameUI);
    ctx->PSSetConstantBuffers(3, 1, &Renderer.cbChangeFrameUI);  // the background, for the extremes
    if (Renderer.mode != VolumeMode::Composite && transferView != nullptr && Renderer.lookupChannels > 1) {
        ctx->PSSetShader(Renderer.mode == VolumeMode::Maximum ? Renderer.psChannelsMaximumLookup
                                                              : Renderer.psChannelsMinimumLookup,
                         nullptr, 0);
        ctx->PSSetShaderResources(4, 1, &transferView);
        ctx->PSSetSamplers(2, 1, &Renderer.transferSampler);
        // The planes behind the extremes, found under each pixel.
        UploadPlaneConstants(3);
        ctx->PSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
        ctx->PSSetConstantBuffers(4, 1, &Renderer.cbChangeOnVolume);
        ctx->PSSetShaderResources(1, 1, &volumeView);
        ctx->PSSetSamplers(1, 1, &Renderer.volumeSampler);
    } else if (Renderer.mode != VolumeMode::Composite && transferView != nullptr) {
        ctx->PSSetShader(Renderer.psExtremeLookup, nullptr, 0);
        UploadPlaneConstants(3);  // where a plane lies behind the extremes
        ctx->PSSetShaderResources(2, 1, &transferView);
        ctx->PSSetSamplers(2, 1, &Renderer.transferSampler);
    } else {
        ctx->PSSetShader(Renderer.psTex, nullptr, 0);
    }
    ctx->PSSetShaderResources(0, 1, &Renderer.volumeLayerView);
    if (resolutionDivisor <= 1) {
        ctx->PSSetSamplers(0, 1, &Renderer.simpleTexSampler);
        d3dx::MatrixIdentity(&Renderer.uiTranslation);
    } else {
        // The picture fills the top-left ceil(size / divisor) texels: the quad
        // grows about the client's top-left corner until they cover the
        // client, filtered linearly.
        ctx->PSSetSamplers(0, 1, &Renderer.volumeSampler);
        const DragViewport low = ReducedViewport(resolutionDivisor);
        const float sx = ClientArea.widthF / low.width, sy = ClientArea.heightF / low.height;
        const float hw = ClientArea.widthF / 2.0f, hh = ClientArea.heightF / 2.0f;
        // Row vectors: scale, then move the top-left corner back in place.
        d3dx::Matrix stretch;
        d3dx::MatrixIdentity(&stretch);
        stretch.m[0][0] = sx;
        stretch.m[1][1] = sy;
        stretch.m[3][0] = (sx - 1.0f) * hw;
        stretch.m[3][1] = -(sy - 1.0f) * hh;
        d3dx::MatrixTranspose(&Renderer.uiTranslation, &stretch);
    }
    ctx->UpdateSubresource(Renderer.cbChangeFrameUI, 0, nullptr, &Renderer.uiTranslation, 0, 0);
    ctx->DrawIndexed(6, 0, 0);
    // The layer is drawn into again later; it must not stay bound for reading.
    gpu::ShaderResourceView* none = nullptr;
    ctx->PSSetShaderResources(0, 1, &none);
}

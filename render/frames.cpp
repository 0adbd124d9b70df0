// The two frame handlers: idle (clear only) and volume (slices, centre quad,
// rotation indicator, editor panel).
#include "app/app_state.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace {

constexpr float kIdleClearColour[4] = {0.0f, 0.0f, 0.5f, 1.0f};
constexpr float kVolumeClearColour[4] = {0.0f, 0.0f, 0.5f, 0.0f};
constexpr float kBlendFactor[4] = {0.0f, 0.0f, 0.0f, 0.0f};
constexpr uint32_t kSampleMask = 0xFFFFFFFF;
constexpr uint32_t kVolumeStride = sizeof(VolumeVertex);
constexpr uint32_t kTexStride = sizeof(TexVertex);
constexpr uint32_t kZeroOffset = 0;

void DrawSlices(gpu::RenderTargetView* target, gpu::ShaderResourceView* volumeView,
                gpu::ShaderResourceView* transferView) {
    gpu::DeviceContext* ctx = Renderer.context;
    ctx->ClearRenderTargetView(target, kVolumeClearColour);
    ctx->OMSetBlendState(Renderer.blendStateVolume, kBlendFactor, kSampleMask);
    ctx->IASetInputLayout(Renderer.layoutVolume);
    ctx->VSSetShader(Renderer.vsVolume, nullptr, 0);
    ctx->VSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
    ctx->VSSetConstantBuffers(2, 1, &Renderer.cbChangeFrameVolume);
    ctx->VSSetConstantBuffers(3, 1, &Renderer.cbChangeFrameUI);
    ctx->PSSetShader(Renderer.psVolume, nullptr, 0);
    ctx->PSSetConstantBuffers(4, 1, &Renderer.cbChangeOnVolume);
    ctx->PSSetShaderResources(0, 1, &Renderer.uiAtlasView);
    ctx->PSSetShaderResources(1, 1, &volumeView);
    ctx->PSSetShaderResources(2, 1, &transferView);
    ctx->PSSetSamplers(0, 1, &Renderer.simpleTexSampler);
    ctx->PSSetSamplers(1, 1, &Renderer.volumeSampler);
    ctx->PSSetSamplers(2, 1, &Renderer.transferSampler);
    ctx->IASetVertexBuffers(0, 1, &Renderer.proxyVertexBuffer, &kVolumeStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.proxyIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
    ctx->RSSetState(Renderer.rasterizerState);
    ctx->DrawIndexed(Renderer.proxyIndexCount, 0, 0);
    ctx->IASetVertexBuffers(0, 1, &Renderer.centreQuadVertexBuffer, &kVolumeStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.centreQuadIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->DrawIndexed(6, 0, 0);
}

}  // namespace

void RenderIdleFrame() {
    // After a failed resize there is no target until a later resize succeeds.
    if (Renderer.renderTargetView == nullptr)
        return;
    Renderer.context->ClearRenderTargetView(Renderer.renderTargetView, kIdleClearColour);
    Renderer.swapChain->Present(0, 0);
}

void RenderVolumeFrame() {
    if (Renderer.renderTargetView == nullptr)
        return;
    gpu::DeviceContext* ctx = Renderer.context;
    gpu::ShaderResourceView* volumeView = Volume.volumeView;
    gpu::ShaderResourceView* transferView = EditorTab.transferView;

    // Slice pass, into the volume layer when it is stale (otherwise the layer
    // already holds this picture), or straight into the back buffer when the
    // device gave no layer.
    const bool layered = HaveVolumeLayer();
    if (!layered || Renderer.volumeLayerStale) {
        gpu::RenderTargetView* target = layered ? Renderer.volumeLayerTarget : Renderer.renderTargetView;
        ctx->OMSetRenderTargets(1, &target, nullptr);
        DrawSlices(target, volumeView, transferView);
        Renderer.volumeLayerStale = false;
    }
    if (layered)
        ComposeVolumeLayer();

    // Interface pass.
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
    if (RotationDrag.active) {
        UpdateCamera();  // shows from the next frame on
        ctx->IASetVertexBuffers(0, 1, &Renderer.rotVertexBuffer, &kTexStride, &kZeroOffset);
        ctx->IASetIndexBuffer(Renderer.rotIndexBuffer, gpu::Format::R32_UINT, 0);
        // Centred on the anchor, half a pixel left of and below it (integer
        // halving of the client size, integer differences).
        const int32_t halfWidth = ClientArea.width / 2;
        const int32_t halfHeight = ClientArea.height / 2;
        d3dx::MatrixTranslation(&Renderer.uiTranslation,
                                static_cast<float>(RotationDrag.anchorX - halfWidth) - 0.5f,
                                static_cast<float>(halfHeight - RotationDrag.anchorY) - 0.5f, 0.0f);
        d3dx::MatrixTranspose(&Renderer.uiTranslation, &Renderer.uiTranslation);
        ctx->UpdateSubresource(Renderer.cbChangeFrameUI, 0, nullptr, &Renderer.uiTranslation, 0, 0);
        ctx->DrawIndexed(6, 0, 0);
    }
    EditorTab.Render();
    Renderer.swapChain->Present(0, 0);
}

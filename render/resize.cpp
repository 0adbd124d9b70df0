// Resize: back buffer, render target view, viewport and both projections.
#include "platform/shell/shell.h"
#include "render/renderer.h"

namespace {

// The f32 0x3F491687, a little more than pi / 4.
constexpr float kFieldOfView = 0.7855f;
constexpr float kNearPlane = 0.01f;
constexpr float kFarPlane = 1000.0f;

}  // namespace

bool CreateBackBufferView() {
    gpu::Texture2D* backBuffer = nullptr;
    if (gpu::FAILED(Renderer.swapChain->GetBuffer(0, &backBuffer))) {
        ShowRendererError("unable to get back buffer");
        return false;
    }
    const gpu::HRESULT viewResult =
        Renderer.device->CreateRenderTargetView(backBuffer, nullptr, &Renderer.renderTargetView);
    backBuffer->Release();
    if (gpu::FAILED(viewResult)) {
        ShowRendererError("unable to create render target view");
        return false;
    }
    Renderer.context->OMSetRenderTargets(1, &Renderer.renderTargetView, nullptr);

    gpu::Viewport viewport;
    viewport.TopLeftX = 0;
    viewport.TopLeftY = 0;
    viewport.Width = ClientArea.widthF;
    viewport.Height = ClientArea.heightF;
    viewport.MinDepth = 0.0f;
    viewport.MaxDepth = 1.0f;
    Renderer.context->RSSetViewports(1, &viewport);
    return true;
}

bool D3DResize() {
    if (Renderer.device == nullptr)
        return false;
    // A minimised window reports a 0 x 0 client area: nothing can be sized to
    // it (the aspect ratio and the orthographic scale would divide by zero), so
    // everything keeps the last real size until the window comes back.
    if (ClientArea.width <= 0 || ClientArea.height <= 0)
        return false;

    shell::OutputDebugString("D3DResize()\n");

    if (Renderer.renderTargetView) {
        Renderer.renderTargetView->Release();
        Renderer.renderTargetView = nullptr;
    }
    Renderer.swapChain->ResizeBuffers(1, static_cast<uint32_t>(ClientArea.width),
                                      static_cast<uint32_t>(ClientArea.height), gpu::Format::R8G8B8A8_UNORM,
                                      0);
    CreateBackBufferView();
    ReleaseVolumeLayer();  // the caller makes one of the new size if a volume is shown

    d3dx::MatrixPerspectiveFovLH(&Renderer.projection, kFieldOfView, ClientArea.widthF / ClientArea.heightF,
                                 kNearPlane, kFarPlane);
    d3dx::MatrixTranspose(&Renderer.projection, &Renderer.projection);
    d3dx::MatrixOrthoLH(&Renderer.ortho, ClientArea.widthF, ClientArea.heightF, kNearPlane, kFarPlane);
    d3dx::MatrixTranspose(&Renderer.ortho, &Renderer.ortho);
    Renderer.context->UpdateSubresource(Renderer.cbChangeOnResize, 0, nullptr, &Renderer.projection, 0, 0);
    return true;
}

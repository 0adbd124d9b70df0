// Buffers and textures for the subsystems, made on the renderer's device.
#include "render/resources.h"

#include <type_traits>
#include <utility>

#include "platform/shell/shell.h"
#include "render/renderer.h"

gpu::HRESULT CreateDefaultBuffer(uint32_t byteWidth, uint32_t bindFlags, const void* initialData,
                                 gpu::Buffer** buffer) {
    if (Renderer.device == nullptr)
        return gpu::E_FAIL;
    gpu::BufferDesc bd;
    bd.ByteWidth = byteWidth;
    bd.Usage = gpu::Usage::DEFAULT;
    bd.BindFlags = bindFlags;
    bd.CPUAccessFlags = 0;
    bd.MiscFlags = 0;
    bd.StructureByteStride = 0;
    gpu::SubresourceData init;
    init.pSysMem = initialData;
    init.SysMemPitch = 0;
    init.SysMemSlicePitch = 0;
    return Renderer.device->CreateBuffer(&bd, initialData ? &init : nullptr, buffer);
}

void ShowRendererError(const char* text, const char* caption) {
    shell::MessageBox(nullptr, text, caption, shell::MB_OK);
}

namespace {

gpu::HRESULT CreateTexture(const gpu::Texture1DDesc& desc, const gpu::SubresourceData& init,
                           gpu::Texture1D** texture) {
    return Renderer.device->CreateTexture1D(&desc, init.pSysMem != nullptr ? &init : nullptr, texture);
}
gpu::HRESULT CreateTexture(const gpu::Texture2DDesc& desc, const gpu::SubresourceData& init,
                           gpu::Texture2D** texture) {
    return Renderer.device->CreateTexture2D(&desc, init.pSysMem != nullptr ? &init : nullptr, texture);
}
gpu::HRESULT CreateTexture(const gpu::Texture3DDesc& desc, const gpu::SubresourceData& init,
                           gpu::Texture3D** texture) {
    return Renderer.device->CreateTexture3D(&desc, init.pSysMem != nullptr ? &init : nullptr, texture);
}

gpu::SrvDimension ViewDimensionOf(const gpu::Texture1DDesc&) {
    return gpu::SrvDimension::TEXTURE1D;
}
gpu::SrvDimension ViewDimensionOf(const gpu::Texture2DDesc& desc) {
    return desc.ArraySize > 1 ? gpu::SrvDimension::TEXTURE2DARRAY : gpu::SrvDimension::TEXTURE2D;
}
gpu::SrvDimension ViewDimensionOf(const gpu::Texture3DDesc&) {
    return gpu::SrvDimension::TEXTURE3D;
}

// The one recipe for every kind: the texture, then a view of its single mip
// level in its own format; a failure leaves nothing behind.
template <typename Desc, typename Texture>
bool MakeTextureWithView(const Desc& size, const gpu::SubresourceData& init, const TextureErrorText& errors,
                         Texture** texture, gpu::ShaderResourceView** view,
                         TextureFailure* failure = nullptr) {
    // Shown here, or handed to the caller that asked for it.
    const auto report = [failure](const char* text, const char* caption) {
        if (failure != nullptr)
            *failure = TextureFailure{text, caption};
        else if (text != nullptr)
            ShowRendererError(text, caption);
    };
    *texture = nullptr;
    *view = nullptr;
    Desc desc = size;
    desc.MipLevels = 1;
    desc.Usage = gpu::Usage::DEFAULT;
    desc.BindFlags = gpu::BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = 0;
    desc.MiscFlags = 0;
    if (Renderer.device == nullptr || gpu::FAILED(CreateTexture(desc, init, texture))) {
        *texture = nullptr;
        report(errors.texture, errors.textureCaption);
        return false;
    }
    gpu::ShaderResourceViewDesc viewDesc;
    viewDesc.Format = desc.Format;
    viewDesc.ViewDimension = ViewDimensionOf(desc);
    viewDesc.Texture1D = viewDesc.Texture2D = viewDesc.Texture3D = gpu::TextureMipRange{0, 1};
    if constexpr (std::is_same_v<Desc, gpu::Texture2DDesc>)
        viewDesc.Texture2DArray = {0, 1, 0, desc.ArraySize};
    if (gpu::FAILED(Renderer.device->CreateShaderResourceView(*texture, &viewDesc, view))) {
        *view = nullptr;
        ReleaseAndNull(*texture);
        report(errors.view, errors.viewCaption);
        return false;
    }
    return true;
}

}  // namespace

bool CreateTextureWithView(const gpu::Texture1DDesc& desc, const gpu::SubresourceData& init,
                           const TextureErrorText& errors, gpu::Texture1D** texture,
                           gpu::ShaderResourceView** view) {
    return MakeTextureWithView(desc, init, errors, texture, view);
}
bool CreateTextureWithView(const gpu::Texture2DDesc& desc, const gpu::SubresourceData& init,
                           const TextureErrorText& errors, gpu::Texture2D** texture,
                           gpu::ShaderResourceView** view) {
    return MakeTextureWithView(desc, init, errors, texture, view);
}
bool CreateTextureWithView(const gpu::Texture3DDesc& desc, const gpu::SubresourceData& init,
                           const TextureErrorText& errors, gpu::Texture3D** texture,
                           gpu::ShaderResourceView** view, TextureFailure* failure) {
    return MakeTextureWithView(desc, init, errors, texture, view, failure);
}

void FillTexture(gpu::Resource* texture, uint32_t slice, const void* data, uint32_t rowPitch,
                 uint32_t slicePitch) {
    if (Renderer.context != nullptr && texture != nullptr)
        Renderer.context->UpdateSubresource(texture, slice, nullptr, data, rowPitch, slicePitch);
}

uint32_t MaxVolumeTextureEdge() {
    return Renderer.device != nullptr ? Renderer.device->MaxTexture3DSize() : 0;
}

namespace {

// The shaders see the view of the box the samples are drawn in.
void UploadDrawnView() {
    const DrawnBox drawn = VolumeDrawnBox();
    d3dx::MatrixTranspose(&Renderer.viewTransposed, &drawn.view);
    if (Renderer.context != nullptr && Renderer.cbChangeFrameVolume != nullptr)
        Renderer.context->UpdateSubresource(Renderer.cbChangeFrameVolume, 0, nullptr,
                                            &Renderer.viewTransposed, 0, 0);
}

}  // namespace

void SetVolumeView(const d3dx::Matrix& view, const d3dx::Vector4& lightDirection) {
    InvalidateVolumeLayer();
    Renderer.view = view;
    Renderer.lightDirection = lightDirection;
    UploadDrawnView();
}

const d3dx::Matrix& VolumeView() {
    return Renderer.view;
}

void SetVolumePart(const float low[3], const float high[3]) {
    InvalidateVolumeLayer();
    for (int axis = 0; axis < 3; ++axis) {
        Renderer.partLow[axis] = low[axis];
        Renderer.partHigh[axis] = high[axis];
    }
    UploadDrawnView();
}

DrawnBox VolumeDrawnBox() {
    return PartOfBox(Renderer.view, Renderer.volumeHalfExtents, Renderer.cropBox, Renderer.partLow,
                     Renderer.partHigh);
}

void SetVolumeConstants(const d3dx::Vector4& constants) {
    InvalidateVolumeLayer();
    Renderer.volumeConstants = constants;
    if (Renderer.context != nullptr && Renderer.cbChangeOnVolume != nullptr)
        Renderer.context->UpdateSubresource(Renderer.cbChangeOnVolume, 0, nullptr, &Renderer.volumeConstants,
                                            0, 0);
}

void SetSliceProxy(SliceProxy proxy) {
    InvalidateVolumeLayer();
    ReleaseAndNull(Renderer.proxyVertexBuffer);
    ReleaseAndNull(Renderer.proxyIndexBuffer);
    Renderer.proxyVertexBuffer = proxy.vertexBuffer;
    Renderer.proxyIndexBuffer = proxy.indexBuffer;
    Renderer.proxyIndexCount = proxy.indexCount;
    Renderer.sliceFirstIndex = std::move(proxy.sliceFirstIndex);
    Renderer.sliceDepth = std::move(proxy.sliceDepth);
}

void SetCentreQuad(gpu::Buffer* vertexBuffer, gpu::Buffer* indexBuffer) {
    InvalidateVolumeLayer();
    ReleaseAndNull(Renderer.centreQuadVertexBuffer);
    ReleaseAndNull(Renderer.centreQuadIndexBuffer);
    Renderer.centreQuadVertexBuffer = vertexBuffer;
    Renderer.centreQuadIndexBuffer = indexBuffer;
}

gpu::DeviceContext* InterfaceContext() {
    return Renderer.context;
}

void SetInterfaceTranslation(float x, float y) {
    d3dx::MatrixTranslation(&Renderer.uiTranslation, x, y, 0.0f);
    d3dx::MatrixTranspose(&Renderer.uiTranslation, &Renderer.uiTranslation);
    Renderer.context->UpdateSubresource(Renderer.cbChangeFrameUI, 0, nullptr, &Renderer.uiTranslation, 0, 0);
}

void UseColourPipeline() {
    Renderer.context->VSSetShader(Renderer.vsColor, nullptr, 0);
    Renderer.context->PSSetShader(Renderer.psColor, nullptr, 0);
    Renderer.context->IASetInputLayout(Renderer.layoutColor);
}

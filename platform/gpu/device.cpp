// The device: validates every description, then makes the GL object. Here
// the resources (buffers, textures) and their views; the pipeline objects
// (states, input layouts, shaders) are made in device_pipeline.cpp.
//
// Sections: formats and pixel upload · object destructors · the device.
#include <cstring>

#include "platform/gpu/gpu_internal.h"

namespace gpu::detail {

// ---------------------------------------------------------------------------
// Formats and pixel upload

bool TextureFormatInfo(Format format, FormatInfo* info) {
    switch (format) {
        case Format::R16_UNORM:
            *info = {GL_R16, GL_RED, GL_UNSIGNED_SHORT, 2};
            return true;
        case Format::R16G16_UNORM:
            *info = {GL_RG16, GL_RG, GL_UNSIGNED_SHORT, 4};
            return true;
        case Format::R8G8B8A8_UNORM:
            *info = {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4};
            return true;
        // Stored as RGBA; GL swizzles on upload so that shaders see the same channels.
        case Format::B8G8R8A8_UNORM:
            *info = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4};
            return true;
        case Format::R32G32B32A32_FLOAT:
            *info = {GL_RGBA32F, GL_RGBA, GL_FLOAT, 16};
            return true;
        case Format::R16G16B16A16_FLOAT:
            *info = {GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, 8};
            return true;
        case Format::R16G16B16A16_UNORM:
            *info = {GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, 8};
            return true;
        default:
            return false;
    }
}

namespace {

// Pitches as Direct3D takes them (0 = tightly packed), checked against the
// texture's size. Returns false for pitches that cannot hold a row or a slice.
bool ResolvePitches(const TextureData& t, uint32_t rowPitch, uint32_t slicePitch, size_t* row,
                    size_t* slice) {
    FormatInfo f;
    TextureFormatInfo(t.format, &f);
    size_t tightRow = size_t(t.width) * f.bytesPerPixel;
    *row = rowPitch == 0 || t.dimension == ResourceDimension::TEXTURE1D ? tightRow : rowPitch;
    if (*row < tightRow)
        return false;
    size_t tightSlice = *row * t.height;
    *slice = slicePitch == 0 || t.dimension != ResourceDimension::TEXTURE3D ? tightSlice : slicePitch;
    return *slice >= tightSlice;
}

}  // namespace

// Uploads a whole texture from memory laid out with the given pitches.
// Rows are repacked only when the pitches are not tight, so that GL's unpack
// state (which other code may change) is always reset to plain values here.
bool UploadTexture(const TextureData& t, const void* data, uint32_t rowPitch, uint32_t slicePitch,
                   uint32_t layer) {
    size_t row, slice;
    if (!ResolvePitches(t, rowPitch, slicePitch, &row, &slice))
        return false;
    FormatInfo f;
    TextureFormatInfo(t.format, &f);
    size_t tightRow = size_t(t.width) * f.bytesPerPixel;
    std::vector<uint8_t> packed;
    const void* pixels = data;
    if (row != tightRow || slice != tightRow * t.height) {
        packed.resize(tightRow * t.height * t.depth);
        const auto* src = static_cast<const uint8_t*>(data);
        for (uint32_t z = 0; z < t.depth; ++z)
            for (uint32_t y = 0; y < t.height; ++y)
                std::memcpy(&packed[(size_t(z) * t.height + y) * tightRow], src + z * slice + y * row,
                            tightRow);
        pixels = packed.data();
    }
    GL_CHECK(glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0));
    GL_CHECK(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
    GL_CHECK(glPixelStorei(GL_UNPACK_ROW_LENGTH, 0));
    GL_CHECK(glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0));
    GL_CHECK(glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0));
    GL_CHECK(glPixelStorei(GL_UNPACK_SKIP_ROWS, 0));
    GL_CHECK(glPixelStorei(GL_UNPACK_SKIP_IMAGES, 0));
    GL_CHECK(glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE));
    switch (t.dimension) {
        case ResourceDimension::TEXTURE1D:
            GL_CHECK(glTextureSubImage1D(t.name, 0, 0, t.width, f.uploadFormat, f.uploadType, pixels));
            break;
        case ResourceDimension::TEXTURE2D:
            if (t.layers > 1)
                GL_CHECK(glTextureSubImage3D(t.name, 0, 0, 0, static_cast<GLint>(layer), t.width, t.height, 1,
                                             f.uploadFormat, f.uploadType, pixels));
            else
                GL_CHECK(glTextureSubImage2D(t.name, 0, 0, 0, t.width, t.height, f.uploadFormat, f.uploadType,
                                             pixels));
            break;
        case ResourceDimension::TEXTURE3D:
            GL_CHECK(glTextureSubImage3D(t.name, 0, 0, 0, 0, t.width, t.height, t.depth, f.uploadFormat,
                                         f.uploadType, pixels));
            break;
        default:
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Object destructors: GL names go only while the context can be made current
// (a window's context takes its objects with it).

BufferImpl::~BufferImpl() {
    if (core_->MakeCurrent())
        GL_CHECK(glDeleteBuffers(1, &name_));
}

void DeleteTextureNames(Core* core, const TextureData& data) {
    if (!core->MakeCurrent())
        return;
    if (data.framebuffer)
        GL_CHECK(glDeleteFramebuffers(1, &data.framebuffer));
    GL_CHECK(glDeleteTextures(1, &data.name));
}

TextureData* GetTextureData(Resource* resource) {
    if (resource == nullptr)
        return nullptr;
    switch (resource->GetType()) {
        case ResourceDimension::TEXTURE1D:
            return &static_cast<Texture1DImpl*>(resource)->data();
        case ResourceDimension::TEXTURE2D:
            return &static_cast<Texture2DImpl*>(resource)->data();
        case ResourceDimension::TEXTURE3D:
            return &static_cast<Texture3DImpl*>(resource)->data();
        default:
            return nullptr;
    }
}

Core* ResourceCore(Resource* resource) {
    switch (resource->GetType()) {
        case ResourceDimension::BUFFER:
            return static_cast<BufferImpl*>(resource)->core();
        case ResourceDimension::TEXTURE1D:
            return static_cast<Texture1DImpl*>(resource)->core();
        case ResourceDimension::TEXTURE2D:
            return static_cast<Texture2DImpl*>(resource)->core();
        case ResourceDimension::TEXTURE3D:
            return static_cast<Texture3DImpl*>(resource)->core();
        default:
            return nullptr;
    }
}

HRESULT CreateSwapChainBuffer(Core* core, uint32_t width, uint32_t height, Format format,
                              Texture2DImpl** buffer) {
    *buffer = nullptr;
    if (!core->MakeCurrent())
        return E_FAIL;
    TextureData t;
    t.dimension = ResourceDimension::TEXTURE2D;
    t.width = width;
    t.height = height;
    t.format = format;
    t.bindFlags = BIND_RENDER_TARGET;
    GL_CHECK(glCreateTextures(GL_TEXTURE_2D, 1, &t.name));
    GL_CHECK(glTextureStorage2D(t.name, 1, GL_RGBA8, width, height));
    GL_CHECK(glCreateFramebuffers(1, &t.framebuffer));
    GL_CHECK(glNamedFramebufferTexture(t.framebuffer, GL_COLOR_ATTACHMENT0, t.name, 0));
    GL_CHECK(glNamedFramebufferDrawBuffer(t.framebuffer, GL_COLOR_ATTACHMENT0));
    if (t.name == 0 || t.framebuffer == 0 ||
        glCheckNamedFramebufferStatus(t.framebuffer, GL_DRAW_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        DeleteTextureNames(core, t);
        return E_FAIL;
    }
    Texture2DDesc desc;
    desc.Width = width;
    desc.Height = height;
    desc.Format = format;
    desc.BindFlags = BIND_RENDER_TARGET;
    *buffer = new Texture2DImpl(core, desc, t);
    return S_OK;
}

// ---------------------------------------------------------------------------
// The device

namespace {

using testing::CreationKind;

class DeviceImpl final : public RefCounted<Device> {
  public:
    explicit DeviceImpl(Core* core) : core_(core) {
        core_->AddRef();
        core_->device = this;
    }

    HRESULT CreateBuffer(const BufferDesc* desc, const SubresourceData* init, Buffer** buffer) override {
        if (buffer)
            *buffer = nullptr;
        if (desc == nullptr || buffer == nullptr)
            return E_INVALIDARG;
        const uint32_t known = BIND_VERTEX_BUFFER | BIND_INDEX_BUFFER | BIND_CONSTANT_BUFFER;
        if (desc->ByteWidth == 0 || desc->Usage != Usage::DEFAULT || desc->CPUAccessFlags != 0 ||
            desc->MiscFlags != 0 || desc->BindFlags == 0 || (desc->BindFlags & ~known) != 0)
            return E_INVALIDARG;
        // Direct3D keeps constant buffers apart and sized in whole registers.
        if ((desc->BindFlags & BIND_CONSTANT_BUFFER) &&
            (desc->BindFlags != BIND_CONSTANT_BUFFER || desc->ByteWidth % 16 != 0 || desc->ByteWidth > 65536))
            return E_INVALIDARG;
        if (init != nullptr && init->pSysMem == nullptr)
            return E_INVALIDARG;
        if (InjectedFailure(CreationKind::Buffer) || !core_->MakeCurrent())
            return E_FAIL;
        GLuint name = 0;
        GL_CHECK(glCreateBuffers(1, &name));
        if (name == 0)
            return E_FAIL;
        GL_CHECK(glNamedBufferStorage(name, desc->ByteWidth, init ? init->pSysMem : nullptr,
                                      GL_DYNAMIC_STORAGE_BIT));
        *buffer = new BufferImpl(core_, *desc, name);
        return S_OK;
    }

    HRESULT CreateTexture1D(const Texture1DDesc* desc, const SubresourceData* init,
                            Texture1D** texture) override {
        if (texture)
            *texture = nullptr;
        if (desc == nullptr || texture == nullptr || desc->ArraySize != 1)
            return E_INVALIDARG;
        TextureData t;
        t.dimension = ResourceDimension::TEXTURE1D;
        t.width = desc->Width;
        HRESULT hr = MakeTexture(desc->Format, desc->MipLevels, desc->Usage, desc->BindFlags,
                                 desc->CPUAccessFlags, desc->MiscFlags, init, CreationKind::Texture1D, &t);
        if (SUCCEEDED(hr))
            *texture = new Texture1DImpl(core_, *desc, t);
        return hr;
    }

    HRESULT CreateTexture2D(const Texture2DDesc* desc, const SubresourceData* init,
                            Texture2D** texture) override {
        if (texture)
            *texture = nullptr;
        if (desc == nullptr || texture == nullptr || desc->ArraySize < 1 ||
            desc->ArraySize > core_->maxArrayLayers || desc->SampleDesc.Count != 1 ||
            desc->SampleDesc.Quality != 0)
            return E_INVALIDARG;
        TextureData t;
        t.dimension = ResourceDimension::TEXTURE2D;
        t.width = desc->Width;
        t.height = desc->Height;
        t.layers = desc->ArraySize;
        HRESULT hr = MakeTexture(desc->Format, desc->MipLevels, desc->Usage, desc->BindFlags,
                                 desc->CPUAccessFlags, desc->MiscFlags, init, CreationKind::Texture2D, &t);
        if (SUCCEEDED(hr))
            *texture = new Texture2DImpl(core_, *desc, t);
        return hr;
    }

    HRESULT CreateTexture3D(const Texture3DDesc* desc, const SubresourceData* init,
                            Texture3D** texture) override {
        if (texture)
            *texture = nullptr;
        if (desc == nullptr || texture == nullptr)
            return E_INVALIDARG;
        TextureData t;
        t.dimension = ResourceDimension::TEXTURE3D;
        t.width = desc->Width;
        t.height = desc->Height;
        t.depth = desc->Depth;
        HRESULT hr = MakeTexture(desc->Format, desc->MipLevels, desc->Usage, desc->BindFlags,
                                 desc->CPUAccessFlags, desc->MiscFlags, init, CreationKind::Texture3D, &t);
        if (SUCCEEDED(hr))
            *texture = new Texture3DImpl(core_, *desc, t);
        return hr;
    }

    HRESULT CreateShaderResourceView(Resource* resource, const ShaderResourceViewDesc* desc,
                                     ShaderResourceView** view) override {
        if (view)
            *view = nullptr;
        if (resource == nullptr || view == nullptr)
            return E_INVALIDARG;
        TextureData* t = GetTextureData(resource);
        if (t == nullptr || (t->bindFlags & BIND_SHADER_RESOURCE) == 0)
            return E_INVALIDARG;
        if (ResourceCore(resource) != core_)
            return E_INVALIDARG;
        // A 2D texture of several slices is seen whole, as an array.
        SrvDimension dim = t->dimension == ResourceDimension::TEXTURE1D ? SrvDimension::TEXTURE1D
                           : t->dimension == ResourceDimension::TEXTURE2D
                               ? (t->layers > 1 ? SrvDimension::TEXTURE2DARRAY : SrvDimension::TEXTURE2D)
                               : SrvDimension::TEXTURE3D;
        ShaderResourceViewDesc whole;
        whole.Format = t->format;
        whole.ViewDimension = dim;
        if (desc != nullptr) {
            if (desc->Format != t->format && desc->Format != Format::UNKNOWN)
                return E_INVALIDARG;
            if (desc->ViewDimension != dim)
                return E_INVALIDARG;
            const TextureArrayRange& array = desc->Texture2DArray;
            const TextureMipRange mips = dim == SrvDimension::TEXTURE1D   ? desc->Texture1D
                                         : dim == SrvDimension::TEXTURE2D ? desc->Texture2D
                                         : dim == SrvDimension::TEXTURE3D
                                             ? desc->Texture3D
                                             : TextureMipRange{array.MostDetailedMip, array.MipLevels};
            // Our textures have one level; -1 means "all of them" as in Direct3D.
            if (mips.MostDetailedMip != 0 || (mips.MipLevels != 1 && mips.MipLevels != 0xFFFFFFFFu))
                return E_INVALIDARG;
            // An array is seen whole.
            if (dim == SrvDimension::TEXTURE2DARRAY &&
                (array.FirstArraySlice != 0 || array.ArraySize != t->layers))
                return E_INVALIDARG;
        }
        if (InjectedFailure(CreationKind::ShaderResourceView))
            return E_FAIL;
        // The ranges' defaults are the one level; an array's also all its slices.
        whole.Texture2DArray.ArraySize = t->layers;
        *view = new ShaderResourceViewImpl(core_, resource, whole);
        return S_OK;
    }

    HRESULT CreateRenderTargetView(Resource* resource, const void* desc, RenderTargetView** view) override {
        if (view)
            *view = nullptr;
        if (resource == nullptr || view == nullptr || desc != nullptr)
            return E_INVALIDARG;
        TextureData* t = GetTextureData(resource);
        // Only the swap chain's buffer and textures made as render targets
        // carry a framebuffer.
        if (t == nullptr || t->framebuffer == 0 || ResourceCore(resource) != core_)
            return E_INVALIDARG;
        if (InjectedFailure(CreationKind::RenderTargetView))
            return E_FAIL;
        *view = new RenderTargetViewImpl(core_, static_cast<Texture2D*>(resource));
        return S_OK;
    }

    HRESULT CreateSamplerState(const SamplerDesc* desc, SamplerState** state) override {
        return NewSamplerState(core_, desc, state);
    }

    HRESULT CreateBlendState(const BlendDesc* desc, BlendState** state) override {
        return NewBlendState(core_, desc, state);
    }

    HRESULT CreateRasterizerState(const RasterizerDesc* desc, RasterizerState** state) override {
        return NewRasterizerState(core_, desc, state);
    }

    HRESULT CreateInputLayout(const InputElementDesc* elements, uint32_t count, const void* bytecode,
                              size_t length, InputLayout** layout) override {
        return NewInputLayout(core_, elements, count, bytecode, length, layout);
    }

    HRESULT CreateVertexShader(const void* bytecode, size_t length, ClassLinkage*,
                               VertexShader** shader) override {
        return NewVertexShader(core_, bytecode, length, shader);
    }

    HRESULT CreatePixelShader(const void* bytecode, size_t length, ClassLinkage*,
                              PixelShader** shader) override {
        return NewPixelShader(core_, bytecode, length, shader);
    }

    uint32_t MaxTexture3DSize() const override { return core_->maxTexture3D; }
    uint32_t MaxTexture2DSize() const override { return core_->maxTexture2D; }
    const char* AdapterDescription() const override { return core_->rendererName.c_str(); }

  private:
    ~DeviceImpl() override {
        core_->device = nullptr;
        core_->Release();
    }

    // The checks and the GL work every texture kind shares; t carries the size.
    HRESULT MakeTexture(Format format, uint32_t mipLevels, Usage usage, uint32_t bindFlags,
                        uint32_t cpuAccess, uint32_t misc, const SubresourceData* init, CreationKind kind,
                        TextureData* t) {
        FormatInfo f;
        uint32_t maxSize =
            t->dimension == ResourceDimension::TEXTURE3D ? core_->maxTexture3D : core_->maxTexture2D;
        // A 2D texture may also be drawn into (an offscreen layer the frame is
        // composed from), in the formats a framebuffer takes everywhere.
        const bool renderTarget = bindFlags == (BIND_SHADER_RESOURCE | BIND_RENDER_TARGET);
        if (!TextureFormatInfo(format, &f) || mipLevels != 1 || usage != Usage::DEFAULT || cpuAccess != 0 ||
            misc != 0 || (bindFlags != BIND_SHADER_RESOURCE && !renderTarget))
            return E_INVALIDARG;
        if (renderTarget && (t->dimension != ResourceDimension::TEXTURE2D || t->layers > 1 ||
                             (format != Format::R8G8B8A8_UNORM && format != Format::R16G16B16A16_FLOAT &&
                              format != Format::R16G16B16A16_UNORM && format != Format::R32G32B32A32_FLOAT)))
            return E_INVALIDARG;
        if (t->width == 0 || t->height == 0 || t->depth == 0 || t->width > maxSize || t->height > maxSize ||
            t->depth > maxSize)
            return E_INVALIDARG;
        t->format = format;
        t->bindFlags = bindFlags;
        // An array's initial data is one entry a slice, as in Direct3D.
        size_t row, slice;
        for (uint32_t layer = 0; init != nullptr && layer < t->layers; ++layer)
            if (init[layer].pSysMem == nullptr ||
                !ResolvePitches(*t, init[layer].SysMemPitch, init[layer].SysMemSlicePitch, &row, &slice))
                return E_INVALIDARG;
        if (InjectedFailure(kind) || !core_->MakeCurrent())
            return E_FAIL;
        GLenum target = t->dimension == ResourceDimension::TEXTURE1D ? GL_TEXTURE_1D
                        : t->dimension == ResourceDimension::TEXTURE2D
                            ? (t->layers > 1 ? GL_TEXTURE_2D_ARRAY : GL_TEXTURE_2D)
                            : GL_TEXTURE_3D;
        GL_CHECK(glCreateTextures(target, 1, &t->name));
        if (t->name == 0)
            return E_FAIL;
        if (target == GL_TEXTURE_1D)
            GL_CHECK(glTextureStorage1D(t->name, 1, f.internalFormat, t->width));
        if (target == GL_TEXTURE_2D)
            GL_CHECK(glTextureStorage2D(t->name, 1, f.internalFormat, t->width, t->height));
        if (target == GL_TEXTURE_3D)
            GL_CHECK(glTextureStorage3D(t->name, 1, f.internalFormat, t->width, t->height, t->depth));
        if (target == GL_TEXTURE_2D_ARRAY)
            GL_CHECK(glTextureStorage3D(t->name, 1, f.internalFormat, t->width, t->height, t->layers));
        if (glGetError() == GL_OUT_OF_MEMORY) {
            DeleteTextureNames(core_, *t);
            return E_OUTOFMEMORY;
        }
        if (renderTarget) {
            GL_CHECK(glCreateFramebuffers(1, &t->framebuffer));
            GL_CHECK(glNamedFramebufferTexture(t->framebuffer, GL_COLOR_ATTACHMENT0, t->name, 0));
            GL_CHECK(glNamedFramebufferDrawBuffer(t->framebuffer, GL_COLOR_ATTACHMENT0));
            if (t->framebuffer == 0 || glCheckNamedFramebufferStatus(t->framebuffer, GL_DRAW_FRAMEBUFFER) !=
                                           GL_FRAMEBUFFER_COMPLETE) {
                DeleteTextureNames(core_, *t);
                return E_FAIL;
            }
        }
        for (uint32_t layer = 0; init != nullptr && layer < t->layers; ++layer)
            UploadTexture(*t, init[layer].pSysMem, init[layer].SysMemPitch, init[layer].SysMemSlicePitch,
                          layer);
        return S_OK;
    }

    Core* core_;
};

}  // namespace

Device* NewDevice(Core* core) {
    return new DeviceImpl(core);
}

}  // namespace gpu::detail

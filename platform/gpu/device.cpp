// The device: validates every description, then makes the GL object.
//
// Sections: formats and pixel upload · object destructors · buffers ·
// textures · views · state objects · input layouts and shaders.
#include <cctype>
#include <cmath>
#include <cstdio>
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
bool UploadTexture(const TextureData& t, const void* data, uint32_t rowPitch, uint32_t slicePitch) {
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

SamplerStateImpl::~SamplerStateImpl() {
    if (core_->MakeCurrent())
        GL_CHECK(glDeleteSamplers(1, &name_));
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

namespace {

using testing::CreationKind;

bool IsVertexFormat(Format f, uint32_t* bytes, GLint* components) {
    switch (f) {
        case Format::R32G32B32A32_FLOAT:
            *bytes = 16, *components = 4;
            return true;
        case Format::R32G32B32_FLOAT:
            *bytes = 12, *components = 3;
            return true;
        case Format::R32G32_FLOAT:
            *bytes = 8, *components = 2;
            return true;
        case Format::R8G8B8A8_UNORM:
            *bytes = 4, *components = 4;
            return true;
        default:
            return false;
    }
}

std::string Upper(const char* s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool IsBlendFactor(Blend b) {
    return b == Blend::ZERO || b == Blend::ONE || b == Blend::SRC_ALPHA || b == Blend::INV_SRC_ALPHA;
}

bool ValidRenderTargetBlend(const RenderTargetBlendDesc& rt) {
    if (rt.RenderTargetWriteMask > COLOR_WRITE_ENABLE_ALL)
        return false;
    if (!rt.BlendEnable)
        return true;
    return IsBlendFactor(rt.SrcBlend) && IsBlendFactor(rt.DestBlend) && IsBlendFactor(rt.SrcBlendAlpha) &&
           IsBlendFactor(rt.DestBlendAlpha) && rt.BlendOp == BlendOp::ADD && rt.BlendOpAlpha == BlendOp::ADD;
}

GLint MinFilter(Filter f) {
    switch (f) {
        case Filter::MIN_MAG_MIP_POINT:
            return GL_NEAREST_MIPMAP_NEAREST;
        case Filter::MIN_MAG_LINEAR_MIP_POINT:
            return GL_LINEAR_MIPMAP_NEAREST;
        default:
            return GL_LINEAR_MIPMAP_LINEAR;
    }
}

GLint Wrap(TextureAddressMode m) {
    return m == TextureAddressMode::WRAP ? GL_REPEAT : GL_CLAMP_TO_EDGE;
}

bool ValidAddress(TextureAddressMode m) {
    return m == TextureAddressMode::WRAP || m == TextureAddressMode::CLAMP;
}

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
        if (desc == nullptr || texture == nullptr || desc->ArraySize != 1 || desc->SampleDesc.Count != 1 ||
            desc->SampleDesc.Quality != 0)
            return E_INVALIDARG;
        TextureData t;
        t.dimension = ResourceDimension::TEXTURE2D;
        t.width = desc->Width;
        t.height = desc->Height;
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
        SrvDimension dim = t->dimension == ResourceDimension::TEXTURE1D   ? SrvDimension::TEXTURE1D
                           : t->dimension == ResourceDimension::TEXTURE2D ? SrvDimension::TEXTURE2D
                                                                          : SrvDimension::TEXTURE3D;
        ShaderResourceViewDesc whole;
        whole.Format = t->format;
        whole.ViewDimension = dim;
        if (desc != nullptr) {
            if (desc->Format != t->format && desc->Format != Format::UNKNOWN)
                return E_INVALIDARG;
            if (desc->ViewDimension != dim)
                return E_INVALIDARG;
            const TextureMipRange& mips = dim == SrvDimension::TEXTURE1D   ? desc->Texture1D
                                          : dim == SrvDimension::TEXTURE2D ? desc->Texture2D
                                                                           : desc->Texture3D;
            // Our textures have one level; -1 means "all of them" as in Direct3D.
            if (mips.MostDetailedMip != 0 || (mips.MipLevels != 1 && mips.MipLevels != 0xFFFFFFFFu))
                return E_INVALIDARG;
        }
        if (InjectedFailure(CreationKind::ShaderResourceView))
            return E_FAIL;
        TextureMipRange& mips = dim == SrvDimension::TEXTURE1D   ? whole.Texture1D
                                : dim == SrvDimension::TEXTURE2D ? whole.Texture2D
                                                                 : whole.Texture3D;
        mips = {0, 1};
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
        if (state)
            *state = nullptr;
        if (desc == nullptr || state == nullptr)
            return E_INVALIDARG;
        const SamplerDesc& d = *desc;
        if (d.Filter != Filter::MIN_MAG_MIP_POINT && d.Filter != Filter::MIN_MAG_LINEAR_MIP_POINT &&
            d.Filter != Filter::MIN_MAG_MIP_LINEAR)
            return E_INVALIDARG;
        if (!ValidAddress(d.AddressU) || !ValidAddress(d.AddressV) || !ValidAddress(d.AddressW))
            return E_INVALIDARG;
        // Comparisons that !(a <= b) also catches NaN.
        if (!(d.MinLOD <= d.MaxLOD) || !(d.MipLODBias >= -16.0f && d.MipLODBias <= 15.99f))
            return E_INVALIDARG;
        if (d.MaxAnisotropy > 16)
            return E_INVALIDARG;
        auto cmp = static_cast<uint32_t>(d.ComparisonFunc);
        if (cmp < 1 || cmp > 8)
            return E_INVALIDARG;
        if (InjectedFailure(CreationKind::SamplerState) || !core_->MakeCurrent())
            return E_FAIL;
        GLuint s = 0;
        GL_CHECK(glCreateSamplers(1, &s));
        if (s == 0)
            return E_FAIL;
        bool linearMag = d.Filter != Filter::MIN_MAG_MIP_POINT;
        GL_CHECK(glSamplerParameteri(s, GL_TEXTURE_MIN_FILTER, MinFilter(d.Filter)));
        GL_CHECK(glSamplerParameteri(s, GL_TEXTURE_MAG_FILTER, linearMag ? GL_LINEAR : GL_NEAREST));
        GL_CHECK(glSamplerParameteri(s, GL_TEXTURE_WRAP_S, Wrap(d.AddressU)));
        GL_CHECK(glSamplerParameteri(s, GL_TEXTURE_WRAP_T, Wrap(d.AddressV)));
        GL_CHECK(glSamplerParameteri(s, GL_TEXTURE_WRAP_R, Wrap(d.AddressW)));
        GL_CHECK(glSamplerParameterf(s, GL_TEXTURE_MIN_LOD, d.MinLOD));
        GL_CHECK(glSamplerParameterf(s, GL_TEXTURE_MAX_LOD, d.MaxLOD));
        GL_CHECK(glSamplerParameterf(s, GL_TEXTURE_LOD_BIAS, d.MipLODBias));
        GL_CHECK(glSamplerParameterfv(s, GL_TEXTURE_BORDER_COLOR, d.BorderColor));
        *state = new SamplerStateImpl(core_, d, s);
        return S_OK;
    }

    HRESULT CreateBlendState(const BlendDesc* desc, BlendState** state) override {
        if (state)
            *state = nullptr;
        if (desc == nullptr || state == nullptr || desc->AlphaToCoverageEnable)
            return E_INVALIDARG;
        int used = desc->IndependentBlendEnable ? 8 : 1;
        for (int i = 0; i < used; ++i)
            if (!ValidRenderTargetBlend(desc->RenderTarget[i]))
                return E_INVALIDARG;
        if (InjectedFailure(CreationKind::BlendState))
            return E_FAIL;
        *state = new BlendStateImpl(core_, *desc);
        return S_OK;
    }

    HRESULT CreateRasterizerState(const RasterizerDesc* desc, RasterizerState** state) override {
        if (state)
            *state = nullptr;
        if (desc == nullptr || state == nullptr)
            return E_INVALIDARG;
        const RasterizerDesc& d = *desc;
        if (d.FillMode != FillMode::SOLID && d.FillMode != FillMode::WIREFRAME)
            return E_INVALIDARG;
        if (d.CullMode != CullMode::NONE && d.CullMode != CullMode::FRONT && d.CullMode != CullMode::BACK)
            return E_INVALIDARG;
        if (!std::isfinite(d.DepthBiasClamp) || !std::isfinite(d.SlopeScaledDepthBias))
            return E_INVALIDARG;
        if (InjectedFailure(CreationKind::RasterizerState))
            return E_FAIL;
        *state = new RasterizerStateImpl(core_, d);
        return S_OK;
    }

    HRESULT CreateInputLayout(const InputElementDesc* elements, uint32_t count, const void* bytecode,
                              size_t length, InputLayout** layout) override {
        if (layout)
            *layout = nullptr;
        if (layout == nullptr || (elements == nullptr && count > 0) || count > 16)
            return E_INVALIDARG;
        ShaderBytecodeInfo info;
        if (!ParseShaderBytecode(bytecode, length, &info) || info.stage != ShaderStage::Vertex)
            return E_INVALIDARG;
        std::vector<LayoutElement> out;
        uint32_t nextOffset[16] = {};
        for (uint32_t i = 0; i < count; ++i) {
            const InputElementDesc& e = elements[i];
            uint32_t bytes = 0;
            GLint components = 0;
            if (e.SemanticName == nullptr || e.SemanticName[0] == '\0' || e.InputSlot >= 16 ||
                e.InputSlotClass != InputClassification::PER_VERTEX_DATA || e.InstanceDataStepRate != 0 ||
                !IsVertexFormat(e.Format, &bytes, &components))
                return E_INVALIDARG;
            LayoutElement le;
            le.semanticName = Upper(e.SemanticName);
            le.semanticIndex = e.SemanticIndex;
            le.format = e.Format;
            le.slot = e.InputSlot;
            le.offset =
                e.AlignedByteOffset == APPEND_ALIGNED_ELEMENT ? nextOffset[e.InputSlot] : e.AlignedByteOffset;
            if (le.offset % 4 != 0 || le.offset > 2047)
                return E_INVALIDARG;
            nextOffset[e.InputSlot] = le.offset + bytes;
            for (const LayoutElement& other : out)
                if (other.semanticName == le.semanticName && other.semanticIndex == le.semanticIndex)
                    return E_INVALIDARG;
            out.push_back(std::move(le));
        }
        // Every input the shader reads must be fed (Direct3D refuses the layout otherwise).
        for (const auto& in : info.inputs) {
            bool fed = false;
            for (const LayoutElement& le : out)
                fed |=
                    le.semanticName == Upper(in.semanticName.c_str()) && le.semanticIndex == in.semanticIndex;
            if (!fed)
                return E_INVALIDARG;
        }
        if (InjectedFailure(CreationKind::InputLayout))
            return E_FAIL;
        *layout = new InputLayoutImpl(core_, std::move(out));
        return S_OK;
    }

    HRESULT CreateVertexShader(const void* bytecode, size_t length, ClassLinkage*,
                               VertexShader** shader) override {
        return CreateShader(bytecode, length, ShaderStage::Vertex, CreationKind::VertexShader, shader);
    }

    HRESULT CreatePixelShader(const void* bytecode, size_t length, ClassLinkage*,
                              PixelShader** shader) override {
        return CreateShader(bytecode, length, ShaderStage::Pixel, CreationKind::PixelShader, shader);
    }

    uint32_t MaxTexture3DSize() const override { return core_->maxTexture3D; }
    uint32_t MaxTexture2DSize() const override { return core_->maxTexture2D; }

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
        if (renderTarget && (t->dimension != ResourceDimension::TEXTURE2D ||
                             (format != Format::R8G8B8A8_UNORM && format != Format::R16G16B16A16_FLOAT &&
                              format != Format::R16G16B16A16_UNORM && format != Format::R32G32B32A32_FLOAT)))
            return E_INVALIDARG;
        if (t->width == 0 || t->height == 0 || t->depth == 0 || t->width > maxSize || t->height > maxSize ||
            t->depth > maxSize)
            return E_INVALIDARG;
        t->format = format;
        t->bindFlags = bindFlags;
        size_t row, slice;
        if (init != nullptr && (init->pSysMem == nullptr ||
                                !ResolvePitches(*t, init->SysMemPitch, init->SysMemSlicePitch, &row, &slice)))
            return E_INVALIDARG;
        if (InjectedFailure(kind) || !core_->MakeCurrent())
            return E_FAIL;
        GLenum target = t->dimension == ResourceDimension::TEXTURE1D   ? GL_TEXTURE_1D
                        : t->dimension == ResourceDimension::TEXTURE2D ? GL_TEXTURE_2D
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
        if (init != nullptr)
            UploadTexture(*t, init->pSysMem, init->SysMemPitch, init->SysMemSlicePitch);
        return S_OK;
    }

    // Both shader kinds: the container for the stage, linked into a program.
    template <class Interface>
    HRESULT CreateShader(const void* bytecode, size_t length, ShaderStage stage, CreationKind kind,
                         Interface** shader) {
        if (shader)
            *shader = nullptr;
        if (shader == nullptr)
            return E_INVALIDARG;
        ShaderBytecodeInfo info;
        GLuint program = 0;
        const HRESULT hr = MakeProgram(bytecode, length, stage, kind, &info, &program);
        if (SUCCEEDED(hr))
            *shader = new ShaderImpl<Interface>(core_, std::move(info), program);
        return hr;
    }

    HRESULT MakeProgram(const void* bytecode, size_t length, ShaderStage stage, CreationKind kind,
                        ShaderBytecodeInfo* info, GLuint* program) {
        if (!ParseShaderBytecode(bytecode, length, info) || info->stage != stage)
            return E_INVALIDARG;
        for (const auto& cb : info->constantBuffers)
            if (cb.registerSlot >= 14 || cb.glBinding >= static_cast<uint32_t>(core_->maxUniformBindings))
                return E_INVALIDARG;
        for (const auto& s : info->samplers)
            if (s.textureRegister < 0 || s.textureRegister >= 16 || s.samplerRegister < -1 ||
                s.samplerRegister >= 16 || s.glBinding >= static_cast<uint32_t>(core_->maxTextureUnits))
                return E_INVALIDARG;
        if (InjectedFailure(kind) || !core_->MakeCurrent())
            return E_FAIL;
        const char* source = info->glsl.c_str();
        GLenum type = stage == ShaderStage::Vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER;
        *program = glCreateShaderProgramv(type, 1, &source);
        GLint linked = GL_FALSE;
        if (*program != 0)
            glGetProgramiv(*program, GL_LINK_STATUS, &linked);
        if (linked != GL_TRUE) {
            char log[2048] = "";
            if (*program != 0)
                glGetProgramInfoLog(*program, sizeof log, nullptr, log);
            std::fprintf(stderr, "gpu: %s shader '%s' does not build:\n%s\n",
                         stage == ShaderStage::Vertex ? "vertex" : "pixel", info->entryPoint.c_str(), log);
            if (*program != 0)
                GL_CHECK(glDeleteProgram(*program));
            *program = 0;
            return E_FAIL;
        }
        return S_OK;
    }

    Core* core_;
};

}  // namespace

Device* NewDevice(Core* core) {
    return new DeviceImpl(core);
}

}  // namespace gpu::detail

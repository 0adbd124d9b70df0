// The device's pipeline objects: sampler, blend and rasterizer states, input
// layouts and shaders, each description validated before any GL call.
//
// Sections: checks · states · input layouts · shaders.
#include <cctype>
#include <cmath>
#include <cstdio>

#include "platform/gpu/gpu_internal.h"

namespace gpu::detail {

// ---------------------------------------------------------------------------
// Checks

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

bool IsBlendOp(BlendOp op) {
    return op == BlendOp::ADD || op == BlendOp::MIN || op == BlendOp::MAX;
}

bool ValidRenderTargetBlend(const RenderTargetBlendDesc& rt) {
    if (rt.RenderTargetWriteMask > COLOR_WRITE_ENABLE_ALL)
        return false;
    if (!rt.BlendEnable)
        return true;
    return IsBlendFactor(rt.SrcBlend) && IsBlendFactor(rt.DestBlend) && IsBlendFactor(rt.SrcBlendAlpha) &&
           IsBlendFactor(rt.DestBlendAlpha) && IsBlendOp(rt.BlendOp) && IsBlendOp(rt.BlendOpAlpha);
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

}  // namespace

// ---------------------------------------------------------------------------
// States

SamplerStateImpl::~SamplerStateImpl() {
    if (core_->MakeCurrent())
        GL_CHECK(glDeleteSamplers(1, &name_));
}

HRESULT NewSamplerState(Core* core, const SamplerDesc* desc, SamplerState** state) {
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
    if (InjectedFailure(CreationKind::SamplerState) || !core->MakeCurrent())
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
    *state = new SamplerStateImpl(core, d, s);
    return S_OK;
}

HRESULT NewBlendState(Core* core, const BlendDesc* desc, BlendState** state) {
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
    *state = new BlendStateImpl(core, *desc);
    return S_OK;
}

HRESULT NewRasterizerState(Core* core, const RasterizerDesc* desc, RasterizerState** state) {
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
    *state = new RasterizerStateImpl(core, d);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Input layouts

HRESULT NewInputLayout(Core* core, const InputElementDesc* elements, uint32_t count, const void* bytecode,
                       size_t length, InputLayout** layout) {
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
            fed |= le.semanticName == Upper(in.semanticName.c_str()) && le.semanticIndex == in.semanticIndex;
        if (!fed)
            return E_INVALIDARG;
    }
    if (InjectedFailure(CreationKind::InputLayout))
        return E_FAIL;
    *layout = new InputLayoutImpl(core, std::move(out));
    return S_OK;
}

// ---------------------------------------------------------------------------
// Shaders

namespace {

HRESULT MakeProgram(Core* core, const void* bytecode, size_t length, ShaderStage stage, CreationKind kind,
                    ShaderBytecodeInfo* info, GLuint* program) {
    if (!ParseShaderBytecode(bytecode, length, info) || info->stage != stage)
        return E_INVALIDARG;
    for (const auto& cb : info->constantBuffers)
        if (cb.registerSlot >= 14 || cb.glBinding >= static_cast<uint32_t>(core->maxUniformBindings))
            return E_INVALIDARG;
    for (const auto& s : info->samplers)
        if (s.textureRegister < 0 || s.textureRegister >= 16 || s.samplerRegister < -1 ||
            s.samplerRegister >= 16 || s.glBinding >= static_cast<uint32_t>(core->maxTextureUnits))
            return E_INVALIDARG;
    if (InjectedFailure(kind) || !core->MakeCurrent())
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

// Both shader kinds: the container for the stage, linked into a program.
template <class Interface>
HRESULT CreateShader(Core* core, const void* bytecode, size_t length, ShaderStage stage, CreationKind kind,
                     Interface** shader) {
    if (shader)
        *shader = nullptr;
    if (shader == nullptr)
        return E_INVALIDARG;
    ShaderBytecodeInfo info;
    GLuint program = 0;
    const HRESULT hr = MakeProgram(core, bytecode, length, stage, kind, &info, &program);
    if (SUCCEEDED(hr))
        *shader = new ShaderImpl<Interface>(core, std::move(info), program);
    return hr;
}

}  // namespace

HRESULT NewVertexShader(Core* core, const void* bytecode, size_t length, VertexShader** shader) {
    return CreateShader(core, bytecode, length, ShaderStage::Vertex, CreationKind::VertexShader, shader);
}

HRESULT NewPixelShader(Core* core, const void* bytecode, size_t length, PixelShader** shader) {
    return CreateShader(core, bytecode, length, ShaderStage::Pixel, CreationKind::PixelShader, shader);
}

}  // namespace gpu::detail

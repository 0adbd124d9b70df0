// Object creation: descriptions refused before any GL call, failure
// injection, reference counting and lifetimes, the swap chain's resize, and
// the windowed path through a stand-in window.
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <cmath>
#include <functional>
#include <memory>

#include "platform/gpu/output_window.h"
#include "tests/gpu/gpu_test_support.h"

namespace gpu::test {
namespace {

using Objects = GpuTest;

const char* kTrivialVs = R"(#version 450
layout(location = 0) in vec2 position;
layout(location = 1) in vec4 colour;
layout(location = 0) out vec4 v_colour;
out gl_PerVertex { vec4 gl_Position; };
void main() { gl_Position = vec4(position, 0.0, 1.0); v_colour = colour; }
)";
const char* kTrivialPs = R"(#version 450
layout(location = 0) in vec4 v_colour;
layout(location = 0) out vec4 target;
void main() { target = v_colour; }
)";

std::vector<uint8_t> TrivialVs() {
    return VertexBytecode(kTrivialVs, {{"POSITION", 0, 0, 2}, {"COLOR", 0, 1, 4}});
}

// Takes the out pointer's address: the call that fills it must run first.
template <class T>
HRESULT Release(HRESULT hr, T** object) {
    if (*object)
        (*object)->Release();
    *object = nullptr;
    return hr;
}

TEST_F(Objects, BuffersFollowDirect3DRules) {
    auto create = [&](uint32_t bytes, uint32_t bind, const SubresourceData* init = nullptr) {
        BufferDesc d;
        d.ByteWidth = bytes;
        d.BindFlags = bind;
        Buffer* b = nullptr;
        HRESULT hr = device_->CreateBuffer(&d, init, &b);
        EXPECT_EQ(FAILED(hr), b == nullptr) << "the out pointer must match the result";
        return Release(hr, &b);
    };
    EXPECT_EQ(create(64, BIND_CONSTANT_BUFFER), S_OK);
    EXPECT_EQ(create(20, BIND_CONSTANT_BUFFER), E_INVALIDARG) << "constant buffers come in 16-byte registers";
    EXPECT_EQ(create(64, BIND_CONSTANT_BUFFER | BIND_VERTEX_BUFFER), E_INVALIDARG);
    EXPECT_EQ(create(12, BIND_VERTEX_BUFFER | BIND_INDEX_BUFFER), S_OK);
    EXPECT_EQ(create(0, BIND_VERTEX_BUFFER), E_INVALIDARG);
    EXPECT_EQ(create(16, 0), E_INVALIDARG);
    EXPECT_EQ(create(16, BIND_RENDER_TARGET), E_INVALIDARG);
    SubresourceData empty;
    EXPECT_EQ(create(16, BIND_VERTEX_BUFFER, &empty), E_INVALIDARG) << "initial data without memory";
    BufferDesc cpu;
    cpu.ByteWidth = 16;
    cpu.BindFlags = BIND_VERTEX_BUFFER;
    cpu.CPUAccessFlags = 0x10000;
    Buffer* b = nullptr;
    EXPECT_EQ(device_->CreateBuffer(&cpu, nullptr, &b), E_INVALIDARG);
    EXPECT_EQ(device_->CreateBuffer(nullptr, nullptr, &b), E_INVALIDARG);

    Buffer* good = MakeBuffer(BIND_INDEX_BUFFER, nullptr, 24);
    BufferDesc back;
    good->GetDesc(&back);
    EXPECT_EQ(back.ByteWidth, 24u);
    EXPECT_EQ(back.BindFlags, uint32_t(BIND_INDEX_BUFFER));
    EXPECT_EQ(good->GetType(), ResourceDimension::BUFFER);
}

TEST_F(Objects, TexturesCheckFormatSizeAndPitches) {
    std::vector<uint8_t> pixels(4 * 4 * 4 * 16);
    auto make2D = [&](Format f, uint32_t w, uint32_t h, uint32_t pitch, uint32_t mips = 1,
                      uint32_t bind = 0) {
        Texture2DDesc d;
        d.Width = w;
        d.Height = h;
        d.MipLevels = mips;
        d.Format = f;
        d.BindFlags = bind ? bind : BIND_SHADER_RESOURCE;
        SubresourceData init{pixels.data(), pitch, 0};
        Texture2D* t = nullptr;
        return Release(device_->CreateTexture2D(&d, &init, &t), &t);
    };
    for (Format f :
         {Format::R16_UNORM, Format::R8G8B8A8_UNORM, Format::B8G8R8A8_UNORM, Format::R32G32B32A32_FLOAT})
        EXPECT_EQ(make2D(f, 4, 4, 0), S_OK) << "format " << uint32_t(f);
    EXPECT_EQ(make2D(Format::R32_UINT, 4, 4, 0), E_INVALIDARG);
    EXPECT_EQ(make2D(Format::R8G8B8A8_UNORM, 0, 4, 0), E_INVALIDARG);
    EXPECT_EQ(make2D(Format::R8G8B8A8_UNORM, 4, 4, 15), E_INVALIDARG) << "pitch smaller than a row";
    EXPECT_EQ(make2D(Format::R8G8B8A8_UNORM, 4, 4, 16), S_OK) << "pitch of exactly a row";
    EXPECT_EQ(make2D(Format::R8G8B8A8_UNORM, 4, 4, 0, 2), E_INVALIDARG) << "only single-level textures";
    EXPECT_EQ(make2D(Format::R8G8B8A8_UNORM, 4, 4, 0, 1, BIND_RENDER_TARGET), E_INVALIDARG);
    EXPECT_EQ(make2D(Format::R8G8B8A8_UNORM, device_->MaxTexture2DSize() + 1, 1, 0), E_INVALIDARG);

    Texture3DDesc d3;
    d3.Width = d3.Height = d3.Depth = 4;
    d3.Format = Format::R16_UNORM;
    d3.BindFlags = BIND_SHADER_RESOURCE;
    Texture3D* t3 = nullptr;
    SubresourceData slices{pixels.data(), 8, 31};
    EXPECT_EQ(Release(device_->CreateTexture3D(&d3, &slices, &t3), &t3), E_INVALIDARG)
        << "slice pitch under 4 rows";
    slices.SysMemSlicePitch = 32;
    EXPECT_EQ(Release(device_->CreateTexture3D(&d3, &slices, &t3), &t3), S_OK);
    EXPECT_EQ(Release(device_->CreateTexture3D(&d3, nullptr, &t3), &t3), S_OK) << "no initial data";
    d3.Depth = device_->MaxTexture3DSize() + 1;
    EXPECT_EQ(Release(device_->CreateTexture3D(&d3, nullptr, &t3), &t3), E_INVALIDARG);

    Texture1DDesc d1;
    d1.Width = 4;
    d1.Format = Format::R32G32B32A32_FLOAT;
    d1.BindFlags = BIND_SHADER_RESOURCE;
    d1.ArraySize = 2;
    Texture1D* t1 = nullptr;
    EXPECT_EQ(Release(device_->CreateTexture1D(&d1, nullptr, &t1), &t1), E_INVALIDARG) << "arrays";
    d1.ArraySize = 1;
    ASSERT_EQ(device_->CreateTexture1D(&d1, nullptr, &t1), S_OK);
    Keep(t1);
    Texture1DDesc back;
    t1->GetDesc(&back);
    EXPECT_EQ(back.Width, 4u);
    EXPECT_EQ(t1->GetType(), ResourceDimension::TEXTURE1D);
}

TEST_F(Objects, ViewsAreCheckedAgainstTheirResource) {
    Texture2DDesc d;
    d.Width = d.Height = 2;
    d.Format = Format::B8G8R8A8_UNORM;
    d.BindFlags = BIND_SHADER_RESOURCE;
    Texture2D* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture2D(&d, nullptr, &tex), S_OK);
    Keep(tex);
    ShaderResourceView* view = nullptr;
    ASSERT_EQ(device_->CreateShaderResourceView(tex, nullptr, &view), S_OK);
    Keep(view);
    ShaderResourceViewDesc whole;
    view->GetDesc(&whole);
    EXPECT_EQ(whole.Format, Format::B8G8R8A8_UNORM);
    EXPECT_EQ(whole.ViewDimension, SrvDimension::TEXTURE2D);
    Resource* res = nullptr;
    view->GetResource(&res);
    EXPECT_EQ(res, tex);
    res->Release();

    ShaderResourceViewDesc v;
    v.Format = Format::B8G8R8A8_UNORM;
    v.ViewDimension = SrvDimension::TEXTURE2D;
    EXPECT_EQ(Release(device_->CreateShaderResourceView(tex, &v, &view), &view), S_OK);
    v.ViewDimension = SrvDimension::TEXTURE3D;
    EXPECT_EQ(Release(device_->CreateShaderResourceView(tex, &v, &view), &view), E_INVALIDARG) << "dimension";
    v.ViewDimension = SrvDimension::TEXTURE2D;
    v.Format = Format::R16_UNORM;
    EXPECT_EQ(Release(device_->CreateShaderResourceView(tex, &v, &view), &view), E_INVALIDARG) << "format";
    v.Format = Format::B8G8R8A8_UNORM;
    v.Texture2D.MostDetailedMip = 1;
    EXPECT_EQ(Release(device_->CreateShaderResourceView(tex, &v, &view), &view), E_INVALIDARG) << "mip range";

    Buffer* buffer = MakeBuffer(BIND_VERTEX_BUFFER, nullptr, 16);
    EXPECT_EQ(Release(device_->CreateShaderResourceView(buffer, nullptr, &view), &view), E_INVALIDARG);
    RenderTargetView* rtv = nullptr;
    EXPECT_EQ(Release(device_->CreateRenderTargetView(tex, nullptr, &rtv), &rtv), E_INVALIDARG)
        << "a texture made only to be sampled is not drawn into";

    // Offscreen layers: 2D textures made to be both drawn into and sampled,
    // in 8-bit, 16-bit or float formats; no other kind, format or binding.
    Texture2DDesc layer;
    layer.Width = 8;
    layer.Height = 4;
    layer.BindFlags = BIND_SHADER_RESOURCE | BIND_RENDER_TARGET;
    for (Format format : {Format::R8G8B8A8_UNORM, Format::R16G16B16A16_UNORM, Format::R16G16B16A16_FLOAT,
                          Format::R32G32B32A32_FLOAT}) {
        layer.Format = format;
        Texture2D* target = nullptr;
        ASSERT_EQ(device_->CreateTexture2D(&layer, nullptr, &target), S_OK) << static_cast<int>(format);
        Keep(target);
        EXPECT_EQ(Release(device_->CreateRenderTargetView(target, nullptr, &rtv), &rtv), S_OK);
        EXPECT_EQ(Release(device_->CreateShaderResourceView(target, nullptr, &view), &view), S_OK);
    }
    Texture2D* refused = nullptr;
    layer.Format = Format::R16_UNORM;
    EXPECT_EQ(Release(device_->CreateTexture2D(&layer, nullptr, &refused), &refused), E_INVALIDARG)
        << "a one-channel layer";
    layer.Format = Format::R8G8B8A8_UNORM;
    layer.BindFlags = BIND_RENDER_TARGET;
    EXPECT_EQ(Release(device_->CreateTexture2D(&layer, nullptr, &refused), &refused), E_INVALIDARG)
        << "a target that cannot be sampled";
    Texture3DDesc volumeTarget;
    volumeTarget.Width = volumeTarget.Height = volumeTarget.Depth = 2;
    volumeTarget.Format = Format::R8G8B8A8_UNORM;
    volumeTarget.BindFlags = BIND_SHADER_RESOURCE | BIND_RENDER_TARGET;
    Texture3D* volumeRefused = nullptr;
    EXPECT_EQ(Release(device_->CreateTexture3D(&volumeTarget, nullptr, &volumeRefused), &volumeRefused),
              E_INVALIDARG)
        << "3D render targets";
    Texture2D* backBuffer = nullptr;
    ASSERT_EQ(chain_->GetBuffer(0, &backBuffer), S_OK);
    EXPECT_EQ(Release(device_->CreateShaderResourceView(backBuffer, nullptr, &view), &view), E_INVALIDARG)
        << "the swap chain's buffer is not a shader resource";
    int junk = 0;
    EXPECT_EQ(Release(device_->CreateRenderTargetView(backBuffer, &junk, &rtv), &rtv), E_INVALIDARG);
    backBuffer->Release();
    EXPECT_EQ(chain_->GetBuffer(1, &backBuffer), E_INVALIDARG) << "one buffer only";
}

TEST_F(Objects, StateDescriptionsAreValidated) {
    SamplerDesc s;
    SamplerState* sampler = nullptr;
    EXPECT_EQ(Release(device_->CreateSamplerState(&s, &sampler), &sampler), S_OK);
    SamplerDesc back;
    s.Filter = Filter::MIN_MAG_LINEAR_MIP_POINT;
    s.MaxLOD = 3.0f;
    ASSERT_EQ(device_->CreateSamplerState(&s, &sampler), S_OK);
    sampler->GetDesc(&back);
    EXPECT_EQ(back.Filter, Filter::MIN_MAG_LINEAR_MIP_POINT);
    EXPECT_EQ(back.MaxLOD, 3.0f);
    sampler->Release();
    auto badSampler = [&](std::function<void(SamplerDesc&)> change) {
        SamplerDesc d;
        change(d);
        return Release(device_->CreateSamplerState(&d, &sampler), &sampler);
    };
    EXPECT_EQ(badSampler([](SamplerDesc& d) { d.Filter = Filter(0x55); }), E_INVALIDARG) << "anisotropic";
    EXPECT_EQ(badSampler([](SamplerDesc& d) { d.AddressV = TextureAddressMode(2); }), E_INVALIDARG)
        << "mirror";
    EXPECT_EQ(badSampler([](SamplerDesc& d) { d.MinLOD = 2, d.MaxLOD = 1; }), E_INVALIDARG);
    EXPECT_EQ(badSampler([](SamplerDesc& d) { d.MaxLOD = NAN; }), E_INVALIDARG);
    EXPECT_EQ(badSampler([](SamplerDesc& d) { d.ComparisonFunc = ComparisonFunc(0); }), E_INVALIDARG);

    BlendDesc b;
    BlendState* blend = nullptr;
    b.RenderTarget[0].RenderTargetWriteMask = COLOR_WRITE_ENABLE_ALL;
    EXPECT_EQ(Release(device_->CreateBlendState(&b, &blend), &blend), S_OK)
        << "blending off needs no factors";
    b.RenderTarget[0].BlendEnable = true;
    EXPECT_EQ(Release(device_->CreateBlendState(&b, &blend), &blend), E_INVALIDARG)
        << "blending with zero factors";
    b.RenderTarget[0] = {true,       Blend::SRC_ALPHA, Blend::INV_SRC_ALPHA, BlendOp::ADD,
                         Blend::ONE, Blend::ZERO,      BlendOp::ADD,         0x0F};
    EXPECT_EQ(Release(device_->CreateBlendState(&b, &blend), &blend), S_OK);
    b.RenderTarget[0].RenderTargetWriteMask = 0x1F;
    EXPECT_EQ(Release(device_->CreateBlendState(&b, &blend), &blend), E_INVALIDARG) << "write mask";
    b.RenderTarget[0].RenderTargetWriteMask = 0x0F;
    b.AlphaToCoverageEnable = true;
    EXPECT_EQ(Release(device_->CreateBlendState(&b, &blend), &blend), E_INVALIDARG);

    RasterizerDesc r;
    RasterizerState* raster = nullptr;
    r.CullMode = CullMode::NONE;
    r.DepthClipEnable = false;
    ASSERT_EQ(device_->CreateRasterizerState(&r, &raster), S_OK);
    RasterizerDesc rBack;
    raster->GetDesc(&rBack);
    EXPECT_FALSE(rBack.DepthClipEnable);
    raster->Release();
    r.CullMode = CullMode(0);
    EXPECT_EQ(Release(device_->CreateRasterizerState(&r, &raster), &raster), E_INVALIDARG);
    r.CullMode = CullMode::BACK;
    r.ScissorEnable = true;
    EXPECT_EQ(Release(device_->CreateRasterizerState(&r, &raster), &raster), S_OK);
}

TEST_F(Objects, ShadersAndInputLayoutsReadTheirBytecode) {
    std::vector<uint8_t> vs = TrivialVs();
    std::vector<uint8_t> ps = PixelBytecode(kTrivialPs, {});
    VertexShader* v = nullptr;
    PixelShader* p = nullptr;
    EXPECT_EQ(Release(device_->CreateVertexShader(vs.data(), vs.size(), nullptr, &v), &v), S_OK);
    EXPECT_EQ(Release(device_->CreatePixelShader(ps.data(), ps.size(), nullptr, &p), &p), S_OK);
    EXPECT_EQ(Release(device_->CreateVertexShader(ps.data(), ps.size(), nullptr, &v), &v), E_INVALIDARG)
        << "a pixel shader's container as a vertex shader";
    EXPECT_EQ(Release(device_->CreateVertexShader(vs.data(), vs.size() - 1, nullptr, &v), &v), E_INVALIDARG)
        << "truncated container";
    std::vector<uint8_t> broken = PixelBytecode("#version 450\nvoid main() { undeclared = 1; }\n", {});
    EXPECT_EQ(Release(device_->CreatePixelShader(broken.data(), broken.size(), nullptr, &p), &p), E_FAIL)
        << "GLSL that does not build";
    std::vector<uint8_t> wildSlot = PixelBytecode(kTrivialPs, {}, {{"B", 14, 30, 16}});
    EXPECT_EQ(Release(device_->CreatePixelShader(wildSlot.data(), wildSlot.size(), nullptr, &p), &p),
              E_INVALIDARG)
        << "cbuffer register b14";

    using E = InputElementDesc;
    const auto pv = InputClassification::PER_VERTEX_DATA;
    E good[2] = {{"POSITION", 0, Format::R32G32_FLOAT, 0, 0, pv, 0},
                 {"COLOR", 0, Format::R8G8B8A8_UNORM, 0, APPEND_ALIGNED_ELEMENT, pv, 0}};
    InputLayout* layout = nullptr;
    EXPECT_EQ(Release(device_->CreateInputLayout(good, 2, vs.data(), vs.size(), &layout), &layout), S_OK);
    EXPECT_EQ(Release(device_->CreateInputLayout(good, 1, vs.data(), vs.size(), &layout), &layout),
              E_INVALIDARG)
        << "COLOR has no element";
    E wrongIndex[2] = {good[0], {"COLOR", 1, Format::R8G8B8A8_UNORM, 0, 8, pv, 0}};
    EXPECT_EQ(Release(device_->CreateInputLayout(wrongIndex, 2, vs.data(), vs.size(), &layout), &layout),
              E_INVALIDARG)
        << "COLOR1 does not feed COLOR0";
    E extra[3] = {good[0], good[1], {"NORMAL", 0, Format::R32G32B32_FLOAT, 1, 0, pv, 0}};
    EXPECT_EQ(Release(device_->CreateInputLayout(extra, 3, vs.data(), vs.size(), &layout), &layout), S_OK)
        << "elements the shader does not read are allowed";
    E twice[3] = {good[0], good[1], good[1]};
    EXPECT_EQ(Release(device_->CreateInputLayout(twice, 3, vs.data(), vs.size(), &layout), &layout),
              E_INVALIDARG);
    E badFormat[2] = {{"POSITION", 0, Format::R16_UNORM, 0, 0, pv, 0}, good[1]};
    EXPECT_EQ(Release(device_->CreateInputLayout(badFormat, 2, vs.data(), vs.size(), &layout), &layout),
              E_INVALIDARG);
    EXPECT_EQ(Release(device_->CreateInputLayout(good, 2, ps.data(), ps.size(), &layout), &layout),
              E_INVALIDARG)
        << "a pixel shader's signature";
}

// An APPEND_ALIGNED_ELEMENT after a float2 lands at byte 8: the colour drawn
// must be the colour stored there.
TEST_F(Objects, AppendAlignedElementsAndByteColours) {
    std::vector<uint8_t> vs = TrivialVs();
    const auto pv = InputClassification::PER_VERTEX_DATA;
    InputElementDesc e[2] = {{"POSITION", 0, Format::R32G32_FLOAT, 0, 0, pv, 0},
                             {"COLOR", 0, Format::R8G8B8A8_UNORM, 0, APPEND_ALIGNED_ELEMENT, pv, 0}};
    InputLayout* layout = nullptr;
    ASSERT_EQ(device_->CreateInputLayout(e, 2, vs.data(), vs.size(), &layout), S_OK);
    Keep(layout);
    struct Vertex {
        float x, y;
        uint8_t rgba[4];
    };
    Vertex v[3] = {{-1, 1, {10, 200, 30, 255}}, {3, 1, {10, 200, 30, 255}}, {-1, -3, {10, 200, 30, 255}}};
    uint32_t idx[3] = {0, 1, 2};
    Buffer* vb = MakeBuffer(BIND_VERTEX_BUFFER, v, sizeof v);
    Buffer* ib = MakeBuffer(BIND_INDEX_BUFFER, idx, sizeof idx);
    uint32_t stride = sizeof(Vertex), offset = 0;
    context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
    context_->IASetIndexBuffer(ib, Format::R32_UINT, 0);
    context_->IASetInputLayout(layout);
    context_->IASetPrimitiveTopology(PrimitiveTopology::TRIANGLELIST);
    context_->VSSetShader(MakeVs(vs), nullptr, 0);
    context_->PSSetShader(MakePs(PixelBytecode(kTrivialPs, {})), nullptr, 0);
    Clear(0, 0, 0, 0);
    context_->DrawIndexed(3, 0, 0);
    ReadBack();
    EXPECT_EQ(Count({10, 200, 30, 255}), int(kSize * kSize)) << "the whole target in the vertex colour";
}

TEST_F(Objects, NthCreationFailsThenCreationWorksAgain) {
    using K = testing::CreationKind;
    std::vector<uint8_t> vs = TrivialVs();
    std::vector<uint8_t> ps = PixelBytecode(kTrivialPs, {});
    Texture2D* tex2 = nullptr;
    {
        Texture2DDesc d;
        d.Width = d.Height = 2;
        d.Format = Format::R8G8B8A8_UNORM;
        d.BindFlags = BIND_SHADER_RESOURCE;
        ASSERT_EQ(device_->CreateTexture2D(&d, nullptr, &tex2), S_OK);
        Keep(tex2);
    }
    Texture2D* backBuffer = nullptr;
    ASSERT_EQ(chain_->GetBuffer(0, &backBuffer), S_OK);
    Keep(backBuffer);

    // Each creation, returning its result and releasing what it made.
    std::vector<std::pair<K, std::function<HRESULT()>>> makers = {
        {K::Buffer,
         [&] {
             BufferDesc d;
             d.ByteWidth = 16;
             d.BindFlags = BIND_CONSTANT_BUFFER;
             Buffer* o = nullptr;
             return Release(device_->CreateBuffer(&d, nullptr, &o), &o);
         }},
        {K::Texture1D,
         [&] {
             Texture1DDesc d;
             d.Width = 2;
             d.Format = Format::R32G32B32A32_FLOAT;
             d.BindFlags = BIND_SHADER_RESOURCE;
             Texture1D* o = nullptr;
             return Release(device_->CreateTexture1D(&d, nullptr, &o), &o);
         }},
        {K::Texture2D,
         [&] {
             Texture2DDesc d;
             d.Width = d.Height = 2;
             d.Format = Format::R8G8B8A8_UNORM;
             d.BindFlags = BIND_SHADER_RESOURCE;
             Texture2D* o = nullptr;
             return Release(device_->CreateTexture2D(&d, nullptr, &o), &o);
         }},
        {K::Texture3D,
         [&] {
             Texture3DDesc d;
             d.Width = d.Height = d.Depth = 2;
             d.Format = Format::R16_UNORM;
             d.BindFlags = BIND_SHADER_RESOURCE;
             Texture3D* o = nullptr;
             return Release(device_->CreateTexture3D(&d, nullptr, &o), &o);
         }},
        {K::ShaderResourceView,
         [&] {
             ShaderResourceView* o = nullptr;
             return Release(device_->CreateShaderResourceView(tex2, nullptr, &o), &o);
         }},
        {K::RenderTargetView,
         [&] {
             RenderTargetView* o = nullptr;
             return Release(device_->CreateRenderTargetView(backBuffer, nullptr, &o), &o);
         }},
        {K::SamplerState,
         [&] {
             SamplerDesc d;
             SamplerState* o = nullptr;
             return Release(device_->CreateSamplerState(&d, &o), &o);
         }},
        {K::BlendState,
         [&] {
             BlendDesc d;
             BlendState* o = nullptr;
             return Release(device_->CreateBlendState(&d, &o), &o);
         }},
        {K::RasterizerState,
         [&] {
             RasterizerDesc d;
             RasterizerState* o = nullptr;
             return Release(device_->CreateRasterizerState(&d, &o), &o);
         }},
        {K::InputLayout,
         [&] {
             InputElementDesc e[2] = {
                 {"POSITION", 0, Format::R32G32_FLOAT, 0, 0, InputClassification::PER_VERTEX_DATA, 0},
                 {"COLOR", 0, Format::R8G8B8A8_UNORM, 0, 8, InputClassification::PER_VERTEX_DATA, 0}};
             InputLayout* o = nullptr;
             return Release(device_->CreateInputLayout(e, 2, vs.data(), vs.size(), &o), &o);
         }},
        {K::VertexShader,
         [&] {
             VertexShader* o = nullptr;
             return Release(device_->CreateVertexShader(vs.data(), vs.size(), nullptr, &o), &o);
         }},
        {K::PixelShader,
         [&] {
             PixelShader* o = nullptr;
             return Release(device_->CreatePixelShader(ps.data(), ps.size(), nullptr, &o), &o);
         }},
        {K::SwapChainGetBuffer,
         [&] {
             Texture2D* o = nullptr;
             return Release(chain_->GetBuffer(0, &o), &o);
         }},
        {K::DeviceAndSwapChain,
         [&] {
             SwapChainDesc d;
             d.BufferDesc.Width = d.BufferDesc.Height = 8;
             d.BufferDesc.Format = Format::R8G8B8A8_UNORM;
             SwapChain* c = nullptr;
             Device* dev = nullptr;
             DeviceContext* ctx = nullptr;
             HRESULT hr = CreateDeviceAndSwapChain(&d, &c, &dev, &ctx);
             for (Unknown* o : std::initializer_list<Unknown*>{c, dev, ctx})
                 if (o)
                     o->Release();
             return hr;
         }},
    };
    for (auto& [kind, make] : makers) {
        int k = int(kind);
        testing::FailNthCreation(kind, 2);
        EXPECT_EQ(make(), S_OK) << "kind " << k << ": the first creation is not the armed one";
        EXPECT_EQ(make(), E_FAIL) << "kind " << k << ": the second creation fails";
        EXPECT_EQ(make(), S_OK) << "kind " << k << ": creation works again after the failure";
    }
    testing::FailNthCreation(K::Buffer, 1);
    testing::ClearCreationFailures();
    EXPECT_EQ(makers[0].second(), S_OK) << "cleared failures stay cleared";
}

TEST_F(Objects, BindingsHoldReferencesAndObjectsOutliveTheirDevice) {
    int before = testing::LiveObjectCount();
    Buffer* cb = nullptr;
    BufferDesc d;
    d.ByteWidth = 16;
    d.BindFlags = BIND_CONSTANT_BUFFER;
    ASSERT_EQ(device_->CreateBuffer(&d, nullptr, &cb), S_OK);
    context_->PSSetConstantBuffers(3, 1, &cb);
    EXPECT_EQ(cb->Release(), 1u) << "the binding holds a reference";
    EXPECT_EQ(testing::LiveObjectCount(), before + 1);
    context_->PSSetConstantBuffers(3, 1, nullptr);
    EXPECT_EQ(testing::LiveObjectCount(), before) << "unbinding let the buffer go";

    // A texture and its view released after the device, context and swap
    // chain: no crash, and every object accounted for.
    Texture3DDesc t;
    t.Width = t.Height = t.Depth = 2;
    t.Format = Format::R16_UNORM;
    t.BindFlags = BIND_SHADER_RESOURCE;
    Texture3D* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture3D(&t, nullptr, &tex), S_OK);
    ShaderResourceView* view = nullptr;
    ASSERT_EQ(device_->CreateShaderResourceView(tex, nullptr, &view), S_OK);
    context_->PSSetShaderResources(0, 1, &view);
    Device* got = nullptr;
    view->GetDevice(&got);
    EXPECT_EQ(got, device_);
    got->Release();
    for (Unknown** o : std::initializer_list<Unknown**>{
             reinterpret_cast<Unknown**>(&rtv_), reinterpret_cast<Unknown**>(&context_),
             reinterpret_cast<Unknown**>(&device_), reinterpret_cast<Unknown**>(&chain_)}) {
        (*o)->Release();
        *o = nullptr;
    }
    view->GetDevice(&got);
    EXPECT_EQ(got, nullptr) << "the device is gone";
    EXPECT_EQ(testing::LiveObjectCount(), liveAtStart_ + 2);
    EXPECT_EQ(tex->Release(), 1u) << "the view still holds the texture";
    EXPECT_EQ(view->Release(), 0u);
    EXPECT_EQ(testing::LiveObjectCount(), liveAtStart_);
}

TEST_F(Objects, ResizeBuffersWaitsForTheOldBuffersViews) {
    SwapChainDesc desc;
    ASSERT_EQ(chain_->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.BufferDesc.Width, kSize);
    // The fixture's view is bound and held.
    EXPECT_EQ(chain_->ResizeBuffers(1, 32, 16, Format::B8G8R8A8_UNORM, 0), E_FAIL)
        << "resized under a live view";
    context_->OMSetRenderTargets(0, nullptr, nullptr);
    EXPECT_EQ(chain_->ResizeBuffers(1, 32, 16, Format::B8G8R8A8_UNORM, 0), E_FAIL)
        << "the view is still alive";
    rtv_->Release();
    rtv_ = nullptr;
    EXPECT_EQ(chain_->ResizeBuffers(1, 0, 16, Format::B8G8R8A8_UNORM, 0), E_INVALIDARG);
    EXPECT_EQ(chain_->ResizeBuffers(1, 32, 16, Format::R16_UNORM, 0), E_INVALIDARG);
    ASSERT_EQ(chain_->ResizeBuffers(1, 32, 16, Format::B8G8R8A8_UNORM, 0), S_OK);
    ASSERT_EQ(chain_->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.BufferDesc.Width, 32u);
    EXPECT_EQ(desc.BufferDesc.Height, 16u);
    EXPECT_EQ(desc.BufferDesc.Format, Format::B8G8R8A8_UNORM);

    Texture2D* buffer = nullptr;
    ASSERT_EQ(chain_->GetBuffer(0, &buffer), S_OK);
    Texture2DDesc bd;
    buffer->GetDesc(&bd);
    EXPECT_EQ(bd.Width, 32u);
    EXPECT_EQ(bd.Format, Format::B8G8R8A8_UNORM) << "the buffer reports the format asked for";
    ASSERT_EQ(device_->CreateRenderTargetView(buffer, nullptr, &rtv_), S_OK);
    EXPECT_EQ(chain_->ResizeBuffers(1, 8, 8, Format::UNKNOWN, 0), E_FAIL) << "GetBuffer's reference is alive";
    buffer->Release();
    // Clear colours are logical RGBA whatever the buffer's byte order.
    Clear(1.0f, 0.5f, 0.0f, 1.0f);
    ASSERT_EQ(chain_->Present(0, 0), S_OK);
    ReadBack();
    EXPECT_EQ(width_, 32u);
    EXPECT_EQ(height_, 16u);
    EXPECT_EQ(Count({255, 128, 0, 255}), 32 * 16);
}

// The program releases its view and resizes while the view is still bound,
// as Direct3D allows: the binding alone must not hold the old buffer.
TEST_F(Objects, ResizeBuffersLetsGoOfAViewOnlyTheBindingHolds) {
    context_->OMSetRenderTargets(1, &rtv_, nullptr);
    rtv_->Release();
    rtv_ = nullptr;
    ASSERT_EQ(chain_->ResizeBuffers(1, 24, 12, Format::R8G8B8A8_UNORM, 0), S_OK);
    Texture2D* buffer = nullptr;
    ASSERT_EQ(chain_->GetBuffer(0, &buffer), S_OK);
    ASSERT_EQ(device_->CreateRenderTargetView(buffer, nullptr, &rtv_), S_OK);
    buffer->Release();
    context_->OMSetRenderTargets(1, &rtv_, nullptr);
    Clear(0.0f, 1.0f, 0.0f, 1.0f);
    ASSERT_EQ(chain_->Present(0, 0), S_OK);
    ReadBack();
    EXPECT_EQ(width_, 24u);
    EXPECT_EQ(Count({0, 255, 0, 255}), 24 * 12);
}

TEST(SwapChainCreation, DescriptionsAreChecked) {
    SwapChainDesc d;
    d.BufferDesc.Width = 16;
    d.BufferDesc.Height = 16;
    SwapChain* c = nullptr;
    Device* dev = nullptr;
    DeviceContext* ctx = nullptr;
    EXPECT_EQ(CreateDeviceAndSwapChain(&d, &c, &dev, &ctx), E_INVALIDARG) << "format unknown";
    EXPECT_TRUE(c == nullptr && dev == nullptr && ctx == nullptr);
    d.BufferDesc.Format = Format::R32G32B32A32_FLOAT;
    EXPECT_EQ(CreateDeviceAndSwapChain(&d, &c, &dev, &ctx), E_INVALIDARG) << "not a display format";
    d.BufferDesc.Format = Format::B8G8R8A8_UNORM;
    d.SampleDesc.Count = 4;
    EXPECT_EQ(CreateDeviceAndSwapChain(&d, &c, &dev, &ctx), E_INVALIDARG) << "multisampling";
    d.SampleDesc.Count = 1;
    d.BufferDesc.Height = 0;
    EXPECT_EQ(CreateDeviceAndSwapChain(&d, &c, &dev, &ctx), E_INVALIDARG) << "no size";
    EXPECT_EQ(testing::LiveObjectCount(), 0);
}

// ---------------------------------------------------------------------------
// Windowed: a stand-in window owning an EGL context, as the shell's does.

class FakeWindow : public OutputWindow {
  public:
    explicit FakeWindow(int major, int minor, EGLint profile = EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT) {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYPROC>(eglGetProcAddress("eglGetPlatformDisplay"));
        display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        eglInitialize(display_, nullptr, nullptr);
        eglBindAPI(EGL_OPENGL_API);
        const EGLint core[] = {EGL_CONTEXT_MAJOR_VERSION,
                               major,
                               EGL_CONTEXT_MINOR_VERSION,
                               minor,
                               EGL_CONTEXT_OPENGL_PROFILE_MASK,
                               profile,
                               EGL_NONE};
        context_ = eglCreateContext(display_, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, core);
    }
    ~FakeWindow() override { Close(); }
    void Close() {
        if (context_ == EGL_NO_CONTEXT)
            return;
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
        context_ = EGL_NO_CONTEXT;
    }
    bool MakeContextCurrent() override {
        return context_ != EGL_NO_CONTEXT &&
               eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_);
    }
    void PresentImage(uint32_t texture, uint32_t width, uint32_t height) override {
        ++presents;
        presentedTexture = texture;
        presentedWidth = width;
        presentedHeight = height;
    }
    int presents = 0;
    uint32_t presentedTexture = 0, presentedWidth = 0, presentedHeight = 0;

  private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

TEST(Windowed, PresentsIntoTheWindowAndOutlivesItsContext) {
    auto window = std::make_shared<FakeWindow>(4, 5);
    SwapChainDesc d;
    d.BufferDesc.Width = 24;
    d.BufferDesc.Height = 12;
    d.BufferDesc.Format = Format::B8G8R8A8_UNORM;
    d.OutputWindow = window;
    SwapChain* chain = nullptr;
    Device* device = nullptr;
    DeviceContext* context = nullptr;
    ASSERT_EQ(CreateDeviceAndSwapChain(&d, &chain, &device, &context), S_OK);
    Texture2D* buffer = nullptr;
    ASSERT_EQ(chain->GetBuffer(0, &buffer), S_OK);
    RenderTargetView* rtv = nullptr;
    ASSERT_EQ(device->CreateRenderTargetView(buffer, nullptr, &rtv), S_OK);
    float green[4] = {0, 1, 0, 1};
    context->ClearRenderTargetView(rtv, green);
    ASSERT_EQ(chain->Present(1, 0), S_OK);
    EXPECT_EQ(window->presents, 1);
    EXPECT_EQ(window->presentedWidth, 24u);
    EXPECT_EQ(window->presentedHeight, 12u);
    ASSERT_TRUE(window->MakeContextCurrent());
    ASSERT_TRUE(glIsTexture(window->presentedTexture)) << "a texture of the window's context";
    std::vector<uint8_t> pixels(24 * 12 * 4);
    glGetTextureImage(window->presentedTexture, 0, GL_RGBA, GL_UNSIGNED_BYTE, int(pixels.size()),
                      pixels.data());
    EXPECT_EQ(pixels[1], 255) << "the presented image holds the clear";
    EXPECT_EQ(pixels[0], 0);

    // The window (and its context) goes first; releases must not touch GL.
    Texture2DDesc td;
    td.Width = td.Height = 2;
    td.Format = Format::R8G8B8A8_UNORM;
    td.BindFlags = BIND_SHADER_RESOURCE;
    Texture2D* tex = nullptr;
    ASSERT_EQ(device->CreateTexture2D(&td, nullptr, &tex), S_OK);
    window->Close();
    EXPECT_EQ(chain->Present(0, 0), E_FAIL) << "no context to present with";
    context->Release();
    device->Release();
    chain->Release();
    rtv->Release();
    buffer->Release();
    tex->Release();
    EXPECT_EQ(testing::LiveObjectCount(), 0);
}

// Mesa answers a request for an older core context with 4.5, so the context
// refused here is a compatibility one, which lacks the core guarantees.
TEST(Windowed, RefusesContextsThatAreNot45Core) {
    auto window = std::make_shared<FakeWindow>(3, 0, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT);
    ASSERT_TRUE(window->MakeContextCurrent()) << "the stand-in needs a compatibility context";
    SwapChainDesc d;
    d.BufferDesc.Width = d.BufferDesc.Height = 8;
    d.BufferDesc.Format = Format::R8G8B8A8_UNORM;
    d.OutputWindow = window;
    SwapChain* chain = nullptr;
    Device* device = nullptr;
    DeviceContext* context = nullptr;
    EXPECT_EQ(CreateDeviceAndSwapChain(&d, &chain, &device, &context), E_FAIL);
    EXPECT_EQ(chain, nullptr);
    EXPECT_EQ(testing::LiveObjectCount(), 0);
}

}  // namespace
}  // namespace gpu::test

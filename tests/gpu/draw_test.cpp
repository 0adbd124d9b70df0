// Drawing through the headless device, checked pixel by pixel: row order,
// winding, viewports, blending, slots, texture sampling, and draws that lack
// an input.
#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "tests/gpu/gpu_test_support.h"

namespace gpu::test {
namespace {

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};

// The top half of clip space, clockwise on screen (Direct3D's front face).
const std::vector<float> kTopHalf = {-1, 1, 1, 1, 1, 0, -1, 0};
const std::vector<uint32_t> kQuad = {0, 1, 2, 0, 2, 3};

class Draw : public GpuTest {
  protected:
    void SetUp() override {
        GpuTest::SetUp();
        BindFlatPipeline();
        SetColour(1, 0, 0, 1);
    }
    RasterizerState* Rasterizer(CullMode cull, bool frontCcw) {
        RasterizerDesc d;
        d.CullMode = cull;
        d.FrontCounterClockwise = frontCcw;
        RasterizerState* s = nullptr;
        EXPECT_EQ(device_->CreateRasterizerState(&d, &s), S_OK);
        return Keep(s);
    }
    // Pixels of the colour after clearing to blue and drawing the bound quad.
    int DrawnPixels(const Rgba& colour = kRed) {
        Clear(0, 0, 1, 1);
        context_->DrawIndexed(6, 0, 0);
        ReadBack();
        return Count(colour);
    }
};

TEST_F(Draw, TopOfClipSpaceLandsInRowZero) {
    SetVertices(kTopHalf, kQuad);
    EXPECT_EQ(DrawnPixels(), int(kSize * kSize / 2));
    EXPECT_TRUE(Near(At(0, 0), kRed)) << "row 0 is the top row";
    EXPECT_TRUE(Near(At(63, 31), kRed));
    EXPECT_TRUE(Near(At(0, 32), kBlue)) << "the bottom half keeps the clear colour";
    EXPECT_TRUE(Near(At(63, 63), kBlue));
}

TEST_F(Draw, WindingFollowsDirect3DClockwiseFront) {
    SetVertices(kTopHalf, kQuad);
    EXPECT_EQ(DrawnPixels(), 2048) << "default state: clockwise is front, back faces culled";
    SetVertices(kTopHalf, {0, 2, 1, 0, 3, 2});
    EXPECT_EQ(DrawnPixels(), 0) << "counter-clockwise is a back face";
    context_->RSSetState(Rasterizer(CullMode::NONE, false));
    EXPECT_EQ(DrawnPixels(), 2048) << "cull none draws both";
    context_->RSSetState(Rasterizer(CullMode::FRONT, false));
    EXPECT_EQ(DrawnPixels(), 2048) << "cull front keeps the counter-clockwise quad";
    context_->RSSetState(Rasterizer(CullMode::BACK, true));
    EXPECT_EQ(DrawnPixels(), 2048) << "front counter-clockwise turns the meaning round";
    SetVertices(kTopHalf, kQuad);
    EXPECT_EQ(DrawnPixels(), 0) << "... so the clockwise quad is now the back";
}

TEST_F(Draw, ViewportTopLeftYCountsFromTheTop) {
    SetVertices({-1, 1, 1, 1, 1, -1, -1, -1}, kQuad);
    Viewport vp;
    vp.TopLeftX = 16;
    vp.TopLeftY = 40;
    vp.Width = 8;
    vp.Height = 4;
    context_->RSSetViewports(1, &vp);
    EXPECT_EQ(DrawnPixels(), 32);
    EXPECT_TRUE(Near(At(16, 40), kRed));
    EXPECT_TRUE(Near(At(23, 43), kRed));
    EXPECT_TRUE(Near(At(16, 39), kBlue));
    EXPECT_TRUE(Near(At(24, 43), kBlue));
}

// Rows from the top like the viewport's, right and bottom exclusive; off
// while the state does not ask for it; no rectangle set clips everything;
// clears ignore it.
TEST_F(Draw, ScissorRectanglesClipWhereTheStateAsksAndNowhereElse) {
    SetVertices({-1, 1, 1, 1, 1, -1, -1, -1}, kQuad);
    RasterizerDesc d;
    d.ScissorEnable = true;
    RasterizerState* scissored = nullptr;
    ASSERT_EQ(device_->CreateRasterizerState(&d, &scissored), S_OK);
    Keep(scissored);
    context_->RSSetState(scissored);
    EXPECT_EQ(DrawnPixels(), 0) << "no rectangle yet";
    const Rect rect{10, 40, 30, 43};
    context_->RSSetScissorRects(1, &rect);
    EXPECT_EQ(DrawnPixels(), 20 * 3);
    EXPECT_TRUE(Near(At(10, 40), kRed));
    EXPECT_TRUE(Near(At(29, 42), kRed));
    EXPECT_TRUE(Near(At(30, 42), kBlue));
    EXPECT_TRUE(Near(At(10, 43), kBlue));
    EXPECT_TRUE(Near(At(10, 39), kBlue));
    context_->RSSetState(Rasterizer(CullMode::BACK, false));
    EXPECT_EQ(DrawnPixels(), int(kSize * kSize)) << "a state without the scissor draws everywhere";
    context_->RSSetState(scissored);
    Clear(0, 0, 1, 1);
    ReadBack();
    EXPECT_EQ(Count(kBlue), int(kSize * kSize)) << "the clear covers the whole target";
}

TEST_F(Draw, StartIndexBaseVertexAndLines) {
    // Four vertices of junk first: base vertex 4 skips them, start index 3
    // skips a degenerate triangle.
    std::vector<float> v = {9, 9, 9, 9, 9, 9, 9, 9};
    v.insert(v.end(), kTopHalf.begin(), kTopHalf.end());
    SetVertices(v, {0, 0, 0, 0, 1, 2, 0, 2, 3});
    Clear(0, 0, 1, 1);
    context_->DrawIndexed(6, 3, 4);
    ReadBack();
    EXPECT_EQ(Count(kRed), 2048);
    EXPECT_TRUE(Near(At(10, 5), kRed));

    // A line across row 10.
    float y = 1.0f - 10.5f / 32.0f;
    SetVertices({-1, y, 1, y}, {0, 1});
    context_->IASetPrimitiveTopology(PrimitiveTopology::LINELIST);
    Clear(0, 0, 1, 1);
    context_->DrawIndexed(2, 0, 0);
    ReadBack();
    int inRow = 0;
    for (uint32_t x = 0; x < kSize; ++x)
        inRow += Near(At(x, 10), kRed);
    EXPECT_GE(inRow, 62) << "the line covers row 10";
    EXPECT_EQ(Count(kRed), inRow) << "and nothing else";
}

TEST_F(Draw, BlendsSourceAlphaOverTheTargetAndHonoursTheWriteMask) {
    BlendDesc d;
    RenderTargetBlendDesc& rt = d.RenderTarget[0];
    rt.BlendEnable = true;
    rt.SrcBlend = Blend::SRC_ALPHA;
    rt.DestBlend = Blend::INV_SRC_ALPHA;
    rt.BlendOp = BlendOp::ADD;
    rt.SrcBlendAlpha = Blend::ONE;
    rt.DestBlendAlpha = Blend::INV_SRC_ALPHA;
    rt.BlendOpAlpha = BlendOp::ADD;
    rt.RenderTargetWriteMask = COLOR_WRITE_ENABLE_ALL;
    BlendState* blend = nullptr;
    ASSERT_EQ(device_->CreateBlendState(&d, &blend), S_OK);
    Keep(blend);
    context_->OMSetBlendState(blend, nullptr, 0xFFFFFFFFu);
    SetVertices(kTopHalf, kQuad);
    const float src[4] = {1.0f, 0.8f, 0.0f, 0.25f}, dst[4] = {0.2f, 0.4f, 0.6f, 0.5f};
    SetColour(src[0], src[1], src[2], src[3]);
    Clear(dst[0], dst[1], dst[2], dst[3]);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    Rgba expected;
    for (int i = 0; i < 3; ++i)
        expected[i] = int(std::lround((src[i] * src[3] + dst[i] * (1 - src[3])) * 255));
    expected[3] = int(std::lround((src[3] + dst[3] * (1 - src[3])) * 255));
    EXPECT_TRUE(Near(At(5, 5), expected, 2)) << "blended pixel";
    EXPECT_TRUE(Near(At(5, 60), {51, 102, 153, 128})) << "outside the quad: the clear colour";

    rt.BlendEnable = false;
    rt.RenderTargetWriteMask = 0x1 | 0x8;  // red and alpha only
    BlendState* masked = nullptr;
    ASSERT_EQ(device_->CreateBlendState(&d, &masked), S_OK);
    Keep(masked);
    context_->OMSetBlendState(masked, nullptr, 0xFFFFFFFFu);
    Clear(dst[0], dst[1], dst[2], dst[3]);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    EXPECT_TRUE(Near(At(5, 5), {255, 102, 153, 64})) << "green and blue masked off";
}

TEST_F(Draw, MinAndMaxBlendsKeepTheSmallerOrLargerOfEachChannelIgnoringTheFactors) {
    BlendDesc d;
    RenderTargetBlendDesc& rt = d.RenderTarget[0];
    rt = {true, Blend::SRC_ALPHA, Blend::ZERO, BlendOp::MIN, Blend::ZERO, Blend::ZERO, BlendOp::MAX, 0x0F};
    BlendState* extremes = nullptr;
    ASSERT_EQ(device_->CreateBlendState(&d, &extremes), S_OK);
    Keep(extremes);
    context_->OMSetBlendState(extremes, nullptr, 0xFFFFFFFFu);
    SetVertices(kTopHalf, kQuad);
    SetColour(0.2f, 0.8f, 0.4f, 0.25f);
    Clear(0.6f, 0.2f, 0.4f, 0.5f);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    EXPECT_TRUE(Near(At(5, 5), {51, 51, 102, 128})) << "colour: the minimum; alpha: the maximum";
    rt.BlendOp = static_cast<BlendOp>(2);  // SUBTRACT: not one the layer knows
    BlendState* refused = nullptr;
    EXPECT_EQ(device_->CreateBlendState(&d, &refused), E_INVALIDARG);
}

TEST_F(Draw, VertexAndPixelSlotB1AreDistinctAndUpdatesReachTheNextDraw) {
    // Vertex b1 moves the quad, pixel b1 colours it; swapping which buffer is
    // bound where must swap their meaning.
    SetVertices(kTopHalf, kQuad);
    SetOffset(0.5f, 0.0f);  // 16 pixels to the right
    EXPECT_EQ(DrawnPixels(), 48 * 32);
    EXPECT_TRUE(Near(At(15, 0), kBlue)) << "moved right by vertex b1";
    EXPECT_TRUE(Near(At(16, 0), kRed));

    SetColour(0, 1, 0, 1);
    EXPECT_EQ(DrawnPixels({0, 255, 0, 255}), 48 * 32) << "UpdateSubresource reached the next draw";

    float down[4] = {0, -1, 0, 0}, both[4] = {1, -0.5f, 0, 1};
    Buffer* other = MakeBuffer(BIND_CONSTANT_BUFFER, down, 16);
    context_->VSSetConstantBuffers(1, 1, &other);
    EXPECT_EQ(DrawnPixels({0, 255, 0, 255}), 2048) << "pixel b1 unchanged by binding vertex b1";
    EXPECT_TRUE(Near(At(0, 32), {0, 255, 0, 255})) << "moved down to the bottom half";
    // One buffer in both stages: offset (1, -0.5) and colour (1, -0.5, 0, 1), red.
    context_->UpdateSubresource(other, 0, nullptr, both, 0, 0);
    context_->PSSetConstantBuffers(1, 1, &other);
    EXPECT_EQ(DrawnPixels(), 32 * 32) << "the right half, a quarter down";
    EXPECT_TRUE(Near(At(32, 16), kRed));
    EXPECT_TRUE(Near(At(31, 16), kBlue));
}

TEST_F(Draw, StatePersistsAndForeignGlStateIsOverridden) {
    SetVertices(kTopHalf, kQuad);
    ASSERT_EQ(DrawnPixels(), 2048);
    // What another user of the context (the menu's drawing) may leave behind.
    GLuint vao = 0;
    glCreateVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 1, 1);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ZERO, GL_ZERO);
    glClipControl(GL_LOWER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
    glViewport(0, 0, 1, 1);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT_AND_BACK);
    glBindBufferBase(GL_UNIFORM_BUFFER, 17, 0);
    glBindProgramPipeline(0);
    glPixelStorei(GL_PACK_ROW_LENGTH, 7);
    EXPECT_EQ(DrawnPixels(), 2048) << "the same draw after GL state was changed behind our back";
    EXPECT_TRUE(Near(At(0, 0), kRed)) << "still the top row";
    glDeleteVertexArrays(1, &vao);
}

TEST_F(Draw, MissingInputsDrawNothing) {
    SetVertices(kTopHalf, kQuad);
    Buffer* none = nullptr;
    uint32_t stride = 8, offset = 0;
    struct Case {
        const char* what;
        std::function<void()> breakIt, fixIt;
    };
    const std::vector<Case> cases = {
        {"render target", [&] { context_->OMSetRenderTargets(0, nullptr, nullptr); },
         [&] { context_->OMSetRenderTargets(1, &rtv_, nullptr); }},
        {"vertex shader", [&] { context_->VSSetShader(nullptr, nullptr, 0); },
         [&] { context_->VSSetShader(flatVs_, nullptr, 0); }},
        {"pixel shader", [&] { context_->PSSetShader(nullptr, nullptr, 0); },
         [&] { context_->PSSetShader(flatPs_, nullptr, 0); }},
        {"input layout", [&] { context_->IASetInputLayout(nullptr); },
         [&] { context_->IASetInputLayout(flatLayout_); }},
        {"vertex buffer", [&] { context_->IASetVertexBuffers(0, 1, &none, &stride, &offset); },
         [&] { context_->IASetVertexBuffers(0, 1, &vertices_, &stride, &offset); }},
        {"index buffer", [&] { context_->IASetIndexBuffer(nullptr, Format::R32_UINT, 0); },
         [&] { context_->IASetIndexBuffer(indices_, Format::R32_UINT, 0); }},
        {"32-bit index format", [&] { context_->IASetIndexBuffer(indices_, Format::UNKNOWN, 0); },
         [&] { context_->IASetIndexBuffer(indices_, Format::R32_UINT, 0); }},
        {"index offset inside the buffer", [&] { context_->IASetIndexBuffer(indices_, Format::R32_UINT, 4); },
         [&] { context_->IASetIndexBuffer(indices_, Format::R32_UINT, 0); }},
        {"vertex constant buffer", [&] { context_->VSSetConstantBuffers(1, 1, &none); },
         [&] { context_->VSSetConstantBuffers(1, 1, &offsetCb_); }},
        {"pixel constant buffer", [&] { context_->PSSetConstantBuffers(0, 2, nullptr); },
         [&] { context_->PSSetConstantBuffers(1, 1, &colourCb_); }},
        {"viewport", [&] { context_->RSSetViewports(0, nullptr); },
         [&] {
             Viewport vp;
             vp.Width = vp.Height = float(kSize);
             context_->RSSetViewports(1, &vp);
         }},
        {"topology", [&] { context_->IASetPrimitiveTopology(PrimitiveTopology::UNDEFINED); },
         [&] { context_->IASetPrimitiveTopology(PrimitiveTopology::TRIANGLELIST); }},
    };
    ASSERT_EQ(DrawnPixels(), 2048) << "the complete draw works";
    for (const Case& c : cases) {
        c.breakIt();
        EXPECT_EQ(DrawnPixels(), 0) << "drew without " << c.what;
        c.fixIt();
        EXPECT_EQ(DrawnPixels(), 2048) << "restoring " << c.what << " did not bring the draw back";
    }
    Clear(0, 0, 1, 1);
    context_->DrawIndexed(6, 1, 0);
    context_->DrawIndexed(0xFFFFFFFFu, 0xFFFFFFFFu, 0);
    ReadBack();
    EXPECT_EQ(Count(kRed), 0) << "index ranges beyond the index buffer draw nothing";
}

// ---------------------------------------------------------------------------
// Texture sampling: a quad over the whole target whose TEXCOORD runs 0..1
// across and down, with w fixed per draw.

const char* kTexturedVs = R"(#version 450
layout(location = 0) in vec2 position;
layout(location = 1) in vec3 uvw;
layout(location = 4) out vec3 v_uvw;
out gl_PerVertex { vec4 gl_Position; };
void main() { gl_Position = vec4(position, 0.5, 1.0); v_uvw = uvw; }
)";

class Sample : public GpuTest {
  protected:
    void Bind(const std::string& psGlsl, float w) {
        std::vector<uint8_t> vs = VertexBytecode(kTexturedVs, {{"POSITION", 0, 0, 2}, {"TEXCOORD", 0, 1, 3}});
        // TEXCOORD follows POSITION through APPEND_ALIGNED_ELEMENT.
        InputElementDesc e[2] = {
            {"POSITION", 0, Format::R32G32_FLOAT, 0, 0, InputClassification::PER_VERTEX_DATA, 0},
            {"TEXCOORD", 0, Format::R32G32B32_FLOAT, 0, APPEND_ALIGNED_ELEMENT,
             InputClassification::PER_VERTEX_DATA, 0}};
        InputLayout* layout = nullptr;
        ASSERT_EQ(device_->CreateInputLayout(e, 2, vs.data(), vs.size(), &layout), S_OK);
        Keep(layout);
        std::vector<float> v = {-1, 1, 0, 0, w, 1, 1, 1, 0, w, 1, -1, 1, 1, w, -1, -1, 0, 1, w};
        std::vector<uint32_t> i = kQuad;
        Buffer* vb = MakeBuffer(BIND_VERTEX_BUFFER, v.data(), uint32_t(v.size() * 4));
        Buffer* ib = MakeBuffer(BIND_INDEX_BUFFER, i.data(), 24);
        uint32_t stride = 20, offset = 0;
        context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
        context_->IASetIndexBuffer(ib, Format::R32_UINT, 0);
        context_->IASetInputLayout(layout);
        context_->IASetPrimitiveTopology(PrimitiveTopology::TRIANGLELIST);
        context_->VSSetShader(MakeVs(vs), nullptr, 0);
        context_->PSSetShader(MakePs(PixelBytecode(psGlsl, {{"tex", 0, 0, 16}})), nullptr, 0);
        SamplerDesc sd;
        sd.Filter = Filter::MIN_MAG_MIP_POINT;
        sd.AddressU = sd.AddressV = sd.AddressW = TextureAddressMode::CLAMP;
        SamplerState* sampler = nullptr;
        ASSERT_EQ(device_->CreateSamplerState(&sd, &sampler), S_OK);
        context_->PSSetSamplers(0, 1, &sampler);
        sampler->Release();  // the context's binding keeps it alive
    }
    void BindView(Resource* texture) {
        ShaderResourceView* view = nullptr;
        ASSERT_EQ(device_->CreateShaderResourceView(texture, nullptr, &view), S_OK);
        context_->PSSetShaderResources(0, 1, &view);
        view->Release();
    }
};

TEST_F(Sample, Texture3DR16WithPaddedPitches) {
    Bind(R"(#version 450
layout(binding = 16) uniform sampler3D tex;
layout(location = 4) in vec3 v_uvw;
layout(location = 0) out vec4 target;
void main() { target = vec4(texture(tex, v_uvw).r, 0.0, 0.0, 1.0); }
)",
         0.75f);
    // 2 x 2 x 2 texels, value 8000 * (x + 2y + 4z); rows padded to 8 bytes,
    // slices to 22.
    const uint32_t rowPitch = 8, slicePitch = 22;
    std::vector<uint8_t> bytes(slicePitch * 2, 0xEE);
    for (uint32_t z = 0; z < 2; ++z)
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 2; ++x) {
                uint16_t v = uint16_t(8000 * (x + 2 * y + 4 * z));
                std::memcpy(&bytes[z * slicePitch + y * rowPitch + x * 2], &v, 2);
            }
    Texture3DDesc d;
    d.Width = d.Height = d.Depth = 2;
    d.Format = Format::R16_UNORM;
    d.BindFlags = BIND_SHADER_RESOURCE;
    SubresourceData init{bytes.data(), rowPitch, slicePitch};
    Texture3D* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture3D(&d, &init, &tex), S_OK);
    Keep(tex);
    BindView(tex);
    Clear(0, 0, 0, 0);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 2; ++x) {
            int expected = int(std::lround(8000.0 * (x + 2 * y + 4) / 65535.0 * 255.0));
            EXPECT_TRUE(Near(At(x * 32 + 16, y * 32 + 16), {expected, 0, 0, 255}))
                << "texel " << x << ", " << y;
        }
}

// A 2D array takes its initial data a slice an entry (each with its own
// pitch) and is sampled by slice; a view of part of it is refused.
TEST_F(Sample, Texture2DArraySlicesKeepTheirOwnTexels) {
    Texture2DDesc d;
    d.Width = d.Height = 2;
    d.ArraySize = 3;
    d.Format = Format::R8G8B8A8_UNORM;
    d.BindFlags = BIND_SHADER_RESOURCE;
    // Slice s, texel (x, y): red 40 s + 10, green 100 x + 50 y; the middle
    // slice's rows padded to 12 bytes.
    std::vector<std::vector<uint8_t>> bytes(3);
    std::vector<SubresourceData> init(3);
    for (uint32_t s = 0; s < 3; ++s) {
        const uint32_t pitch = s == 1 ? 12 : 8;
        bytes[s].assign(pitch * 2, 0xEE);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 2; ++x) {
                const uint8_t texel[4] = {uint8_t(40 * s + 10), uint8_t(100 * x + 50 * y), 0, 255};
                std::memcpy(&bytes[s][y * pitch + x * 4], texel, 4);
            }
        init[s] = {bytes[s].data(), pitch, 0};
    }
    Texture2D* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture2D(&d, init.data(), &tex), S_OK);
    Keep(tex);
    ShaderResourceViewDesc part;
    part.ViewDimension = SrvDimension::TEXTURE2DARRAY;
    part.Texture2DArray = {0, 1, 1, 2};
    ShaderResourceView* view = nullptr;
    EXPECT_EQ(device_->CreateShaderResourceView(tex, &part, &view), E_INVALIDARG);
    for (uint32_t s = 0; s < 3; ++s) {
        Bind(R"(#version 450
layout(binding = 16) uniform sampler2DArray tex;
layout(location = 4) in vec3 v_uvw;
layout(location = 0) out vec4 target;
void main() { target = texture(tex, v_uvw); }
)",
             static_cast<float>(s));
        BindView(tex);
        Clear(0, 0, 0, 0);
        context_->DrawIndexed(6, 0, 0);
        ReadBack();
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 2; ++x)
                EXPECT_TRUE(
                    Near(At(x * 32 + 16, y * 32 + 16), {int(40 * s + 10), int(100 * x + 50 * y), 0, 255}))
                    << "slice " << s << ", texel " << x << ", " << y;
    }
}

TEST_F(Sample, Texture1DFloatAndWholeTextureUpdate) {
    Bind(R"(#version 450
layout(binding = 16) uniform sampler1D tex;
layout(location = 4) in vec3 v_uvw;
layout(location = 0) out vec4 target;
void main() { target = texture(tex, v_uvw.x); }
)",
         0.0f);
    std::vector<float> texels = {1, 0, 0, 1, 0, 1, 0, 0.5f, 0, 0, 1, 0.25f, 0.5f, 0.5f, 0.5f, 1};
    Texture1DDesc d;
    d.Width = 4;
    d.Format = Format::R32G32B32A32_FLOAT;
    d.BindFlags = BIND_SHADER_RESOURCE;
    SubresourceData init{texels.data(), 0, 0};
    Texture1D* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture1D(&d, &init, &tex), S_OK);
    Keep(tex);
    BindView(tex);
    Clear(0, 0, 0, 0);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    auto expect = [&](const float* t) {
        return Rgba{int(std::lround(t[0] * 255)), int(std::lround(t[1] * 255)), int(std::lround(t[2] * 255)),
                    int(std::lround(t[3] * 255))};
    };
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(Near(At(i * 16 + 8, 3), expect(&texels[i * 4]))) << "texel " << i;
        EXPECT_TRUE(Near(At(i * 16 + 8, 60), expect(&texels[i * 4]))) << "texel " << i << ", lower row";
    }
    for (float& t : texels)
        t = 1.0f - t;
    context_->UpdateSubresource(tex, 0, nullptr, texels.data(), 0, 0);
    Clear(0, 0, 0, 0);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_TRUE(Near(At(i * 16 + 8, 30), expect(&texels[i * 4]))) << "updated " << i;
}

TEST_F(Sample, UnboundViewDrawsNothing) {
    Bind(R"(#version 450
layout(binding = 16) uniform sampler1D tex;
layout(location = 4) in vec3 v_uvw;
layout(location = 0) out vec4 target;
void main() { target = vec4(1.0); }
)",
         0.0f);
    Clear(0, 0, 0, 0);
    context_->DrawIndexed(6, 0, 0);
    ReadBack();
    EXPECT_EQ(Count({255, 255, 255, 255}), 0) << "drew with t0 unbound";
}

}  // namespace
}  // namespace gpu::test

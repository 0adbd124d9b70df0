// A textured, alpha-blended quad from HLSL compiled by d3dx: the whole path
// from HLSL to pixels, checked pixel by pixel.
#include <cmath>
#include <cstring>
#include <string>

#include "platform/d3dx/d3dx.h"
#include "tests/gpu/gpu_test_support.h"

namespace gpu::test {
namespace {

class Hlsl : public GpuTest {
  protected:
    Blob* Compile(const char* entry, const char* profile) {
        std::string path = std::string(TAMLO_GPU_TEST_DATA) + "/textured.hlsl";
        Blob* code = nullptr;
        Blob* errors = nullptr;
        HRESULT hr = d3dx::CompileFromFile(path.c_str(), entry, profile, &code, &errors);
        std::string text = errors ? std::string(static_cast<const char*>(errors->GetBufferPointer()),
                                                errors->GetBufferSize())
                                  : "";
        if (errors)
            errors->Release();
        EXPECT_EQ(hr, S_OK) << entry << ": " << text;
        return code ? Keep(code) : nullptr;
    }
};

TEST_F(Hlsl, TexturedBlendedQuadLandsWhereTheMatrixPutsIt) {
    Blob* vsCode = Compile("VS", "vs_5_0");
    Blob* psCode = Compile("PS", "ps_5_0");
    ASSERT_TRUE(vsCode && psCode);
    VertexShader* vs = nullptr;
    PixelShader* ps = nullptr;
    ASSERT_EQ(device_->CreateVertexShader(vsCode->GetBufferPointer(), vsCode->GetBufferSize(), nullptr, &vs),
              S_OK);
    Keep(vs);
    ASSERT_EQ(device_->CreatePixelShader(psCode->GetBufferPointer(), psCode->GetBufferSize(), nullptr, &ps),
              S_OK);
    Keep(ps);
    const auto pv = InputClassification::PER_VERTEX_DATA;
    InputElementDesc elements[2] = {{"POSITION", 0, Format::R32G32B32_FLOAT, 0, 0, pv, 0},
                                    {"TEXCOORD", 0, Format::R32G32_FLOAT, 0, APPEND_ALIGNED_ELEMENT, pv, 0}};
    InputLayout* layout = nullptr;
    ASSERT_EQ(
        device_->CreateInputLayout(elements, 2, vsCode->GetBufferPointer(), vsCode->GetBufferSize(), &layout),
        S_OK);
    Keep(layout);

    // Row-vector convention, as the program builds it: scale by a half, then
    // move by (0.5, 0.5): the quad lands in the top-right quarter.
    float m[4][4] = {{0.5f, 0, 0, 0}, {0, 0.5f, 0, 0}, {0, 0, 1, 0}, {0.5f, 0.5f, 0, 1}};
    float transposed[16];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            transposed[r * 4 + c] = m[c][r];
    Buffer* cb = MakeBuffer(BIND_CONSTANT_BUFFER, transposed, sizeof transposed);

    // 2 x 2 BGRA texels with rows padded to 12 bytes: top-left red opaque,
    // top-right green half, bottom-left blue quarter, bottom-right white clear.
    const Rgba texels[4] = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 64}, {255, 255, 255, 0}};
    uint8_t bgra[24] = {};
    for (int i = 0; i < 4; ++i) {
        uint8_t* p = &bgra[(i / 2) * 12 + (i % 2) * 4];
        p[0] = uint8_t(texels[i][2]), p[1] = uint8_t(texels[i][1]), p[2] = uint8_t(texels[i][0]);
        p[3] = uint8_t(texels[i][3]);
    }
    Texture2DDesc td;
    td.Width = td.Height = 2;
    td.Format = Format::B8G8R8A8_UNORM;
    td.BindFlags = BIND_SHADER_RESOURCE;
    SubresourceData init{bgra, 12, 0};
    Texture2D* tex = nullptr;
    ASSERT_EQ(device_->CreateTexture2D(&td, &init, &tex), S_OK);
    Keep(tex);
    ShaderResourceView* view = nullptr;
    ASSERT_EQ(device_->CreateShaderResourceView(tex, nullptr, &view), S_OK);
    Keep(view);
    SamplerDesc sd;
    sd.AddressU = sd.AddressV = sd.AddressW = TextureAddressMode::CLAMP;
    SamplerState* sampler = Keep([&] {
        SamplerState* s = nullptr;
        EXPECT_EQ(device_->CreateSamplerState(&sd, &s), S_OK);
        return s;
    }());
    BlendDesc bd;
    bd.RenderTarget[0] = {true,       Blend::SRC_ALPHA,     Blend::INV_SRC_ALPHA, BlendOp::ADD,
                          Blend::ONE, Blend::INV_SRC_ALPHA, BlendOp::ADD,         COLOR_WRITE_ENABLE_ALL};
    BlendState* blend = nullptr;
    ASSERT_EQ(device_->CreateBlendState(&bd, &blend), S_OK);
    Keep(blend);

    float quad[] = {-1, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, -1, 0, 1, 1, -1, -1, 0, 0, 1};
    uint32_t indices[] = {0, 1, 2, 0, 2, 3};
    Buffer* vb = MakeBuffer(BIND_VERTEX_BUFFER, quad, sizeof quad);
    Buffer* ib = MakeBuffer(BIND_INDEX_BUFFER, indices, sizeof indices);
    uint32_t stride = 20, offset = 0;
    context_->IASetInputLayout(layout);
    context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
    context_->IASetIndexBuffer(ib, Format::R32_UINT, 0);
    context_->IASetPrimitiveTopology(PrimitiveTopology::TRIANGLELIST);
    context_->VSSetShader(vs, nullptr, 0);
    context_->VSSetConstantBuffers(0, 1, &cb);
    context_->PSSetShader(ps, nullptr, 0);
    context_->PSSetShaderResources(0, 1, &view);
    context_->PSSetSamplers(0, 1, &sampler);
    context_->OMSetBlendState(blend, nullptr, 0xFFFFFFFFu);

    const float clear[4] = {0.2f, 0.4f, 0.6f, 1.0f};
    Clear(clear[0], clear[1], clear[2], clear[3]);
    context_->DrawIndexed(6, 0, 0);
    ASSERT_EQ(chain_->Present(0, 0), S_OK);
    ReadBack();

    Rgba background;
    for (int c = 0; c < 4; ++c)
        background[c] = int(std::lround(clear[c] * 255));
    auto blended = [&](const Rgba& t) {
        float a = t[3] / 255.0f;
        Rgba out;
        for (int c = 0; c < 3; ++c)
            out[c] = int(std::lround((t[c] / 255.0f * a + clear[c] * (1 - a)) * 255));
        out[3] = int(std::lround((a + clear[3] * (1 - a)) * 255));
        return out;
    };
    // The quad covers x 32..63 and rows 0..31; each texel a 16-pixel square.
    for (int i = 0; i < 4; ++i) {
        uint32_t x0 = 32 + (i % 2) * 16, y0 = (i / 2) * 16;
        for (uint32_t y : {y0, y0 + 8, y0 + 15})
            for (uint32_t x : {x0, x0 + 8, x0 + 15})
                EXPECT_TRUE(Near(At(x, y), blended(texels[i]), 2))
                    << "texel " << i << " at " << x << ", " << y;
    }
    EXPECT_EQ(Count(background), int(kSize * kSize - 32 * 32 + 16 * 16))
        << "outside the quad, and under the clear texel, the target keeps its colour";
    EXPECT_TRUE(Near(At(31, 0), background)) << "left of the quad";
    EXPECT_TRUE(Near(At(32, 32), background)) << "below the quad";
}

}  // namespace
}  // namespace gpu::test

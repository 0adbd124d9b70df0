#include "tests/gpu/gpu_test_support.h"

#include <cstdlib>

namespace gpu::test {

std::vector<uint8_t> VertexBytecode(const std::string& glsl,
                                    const std::vector<ShaderBytecodeInfo::VertexInput>& inputs,
                                    const std::vector<ShaderBytecodeInfo::ConstantBuffer>& cbuffers) {
    ShaderBytecodeInfo info;
    info.stage = ShaderStage::Vertex;
    info.entryPoint = "VS";
    info.glsl = glsl;
    info.inputs = inputs;
    info.constantBuffers = cbuffers;
    return SerializeShaderBytecode(info);
}

std::vector<uint8_t> PixelBytecode(const std::string& glsl,
                                   const std::vector<ShaderBytecodeInfo::CombinedSampler>& samplers,
                                   const std::vector<ShaderBytecodeInfo::ConstantBuffer>& cbuffers) {
    ShaderBytecodeInfo info;
    info.stage = ShaderStage::Pixel;
    info.entryPoint = "PS";
    info.glsl = glsl;
    info.samplers = samplers;
    info.constantBuffers = cbuffers;
    return SerializeShaderBytecode(info);
}

void GpuTest::SetUp() {
    testing::ClearCreationFailures();
    liveAtStart_ = testing::LiveObjectCount();
    SwapChainDesc desc;
    desc.BufferDesc.Width = kSize;
    desc.BufferDesc.Height = kSize;
    desc.BufferDesc.Format = Format::R8G8B8A8_UNORM;
    desc.BufferUsage = USAGE_RENDER_TARGET_OUTPUT;
    ASSERT_EQ(CreateDeviceAndSwapChain(&desc, &chain_, &device_, &context_), S_OK) << "no headless device";
    Texture2D* buffer = nullptr;
    ASSERT_EQ(chain_->GetBuffer(0, &buffer), S_OK);
    ASSERT_EQ(device_->CreateRenderTargetView(buffer, nullptr, &rtv_), S_OK);
    buffer->Release();
    context_->OMSetRenderTargets(1, &rtv_, nullptr);
    Viewport vp;
    vp.Width = vp.Height = float(kSize);
    context_->RSSetViewports(1, &vp);
}

void GpuTest::TearDown() {
    testing::ClearCreationFailures();
    for (Unknown* o : kept_)
        o->Release();
    for (Unknown* o : std::initializer_list<Unknown*>{rtv_, context_, device_, chain_})
        if (o)
            o->Release();
    EXPECT_EQ(testing::LiveObjectCount(), liveAtStart_) << "objects leaked or released twice";
}

Buffer* GpuTest::MakeBuffer(uint32_t bindFlags, const void* data, uint32_t bytes) {
    BufferDesc d;
    d.ByteWidth = bytes;
    d.BindFlags = bindFlags;
    SubresourceData init{data, 0, 0};
    Buffer* b = nullptr;
    EXPECT_EQ(device_->CreateBuffer(&d, data ? &init : nullptr, &b), S_OK);
    return Keep(b);
}

VertexShader* GpuTest::MakeVs(const std::vector<uint8_t>& bytecode) {
    VertexShader* s = nullptr;
    EXPECT_EQ(device_->CreateVertexShader(bytecode.data(), bytecode.size(), nullptr, &s), S_OK);
    return Keep(s);
}

PixelShader* GpuTest::MakePs(const std::vector<uint8_t>& bytecode) {
    PixelShader* s = nullptr;
    EXPECT_EQ(device_->CreatePixelShader(bytecode.data(), bytecode.size(), nullptr, &s), S_OK);
    return Keep(s);
}

namespace {

const char* kFlatVs = R"(#version 450
layout(location = 3) in vec2 position;
layout(std140, binding = 1) uniform Move { vec4 offset; } move;
out gl_PerVertex { vec4 gl_Position; };
void main() { gl_Position = vec4(position + move.offset.xy, 0.5, 1.0); }
)";

const char* kFlatPs = R"(#version 450
layout(std140, binding = 17) uniform Paint { vec4 colour; } paint;
layout(location = 0) out vec4 target;
void main() { target = paint.colour; }
)";

}  // namespace

void GpuTest::BindFlatPipeline() {
    std::vector<uint8_t> vs = VertexBytecode(kFlatVs, {{"POSITION", 0, 3, 2}}, {{"Move", 1, 1, 16}});
    VertexShader* v = MakeVs(vs);
    PixelShader* p = MakePs(PixelBytecode(kFlatPs, {}, {{"Paint", 1, 17, 16}}));
    InputElementDesc e{"POSITION", 0, Format::R32G32_FLOAT, 0, 0, InputClassification::PER_VERTEX_DATA, 0};
    InputLayout* layout = nullptr;
    ASSERT_EQ(device_->CreateInputLayout(&e, 1, vs.data(), vs.size(), &layout), S_OK);
    Keep(layout);
    flatVs_ = v;
    flatPs_ = p;
    flatLayout_ = layout;
    float zero[4] = {0, 0, 0, 0};
    offsetCb_ = MakeBuffer(BIND_CONSTANT_BUFFER, zero, 16);
    colourCb_ = MakeBuffer(BIND_CONSTANT_BUFFER, zero, 16);
    context_->IASetInputLayout(layout);
    context_->IASetPrimitiveTopology(PrimitiveTopology::TRIANGLELIST);
    context_->VSSetShader(v, nullptr, 0);
    context_->PSSetShader(p, nullptr, 0);
    context_->VSSetConstantBuffers(1, 1, &offsetCb_);
    context_->PSSetConstantBuffers(1, 1, &colourCb_);
}

void GpuTest::SetVertices(const std::vector<float>& xy, const std::vector<uint32_t>& indices) {
    Buffer* vb = MakeBuffer(BIND_VERTEX_BUFFER, xy.data(), uint32_t(xy.size() * 4));
    Buffer* ib = MakeBuffer(BIND_INDEX_BUFFER, indices.data(), uint32_t(indices.size() * 4));
    uint32_t stride = 8, offset = 0;
    context_->IASetVertexBuffers(0, 1, &vb, &stride, &offset);
    context_->IASetIndexBuffer(ib, Format::R32_UINT, 0);
    vertices_ = vb;
    indices_ = ib;
}

void GpuTest::SetOffset(float x, float y) {
    float v[4] = {x, y, 0, 0};
    context_->UpdateSubresource(offsetCb_, 0, nullptr, v, 0, 0);
}

void GpuTest::SetColour(float r, float g, float b, float a) {
    float v[4] = {r, g, b, a};
    context_->UpdateSubresource(colourCb_, 0, nullptr, v, 0, 0);
}

void GpuTest::Clear(float r, float g, float b, float a) {
    float c[4] = {r, g, b, a};
    context_->ClearRenderTargetView(rtv_, c);
}

void GpuTest::ReadBack() {
    ASSERT_TRUE(testing::ReadBackBuffer(chain_, &image_, &width_, &height_));
    ASSERT_EQ(image_.size(), size_t(width_) * height_ * 4);
}

Rgba GpuTest::At(uint32_t x, uint32_t y) const {
    const uint8_t* p = &image_[(size_t(y) * width_ + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

int GpuTest::Count(const Rgba& c) const {
    int n = 0;
    for (uint32_t y = 0; y < height_; ++y)
        for (uint32_t x = 0; x < width_; ++x)
            n += bool(Near(At(x, y), c));
    return n;
}

::testing::AssertionResult Near(const Rgba& actual, const Rgba& expected, int tolerance) {
    for (int i = 0; i < 4; ++i)
        if (std::abs(actual[i] - expected[i]) > tolerance)
            return ::testing::AssertionFailure()
                   << "got (" << actual[0] << ", " << actual[1] << ", " << actual[2] << ", " << actual[3]
                   << "), expected (" << expected[0] << ", " << expected[1] << ", " << expected[2] << ", "
                   << expected[3] << ")";
    return ::testing::AssertionSuccess();
}

}  // namespace gpu::test

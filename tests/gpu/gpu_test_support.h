// A headless device with a 64 x 64 target for each test, hand-written GLSL
// shaders in our bytecode container, and read-back helpers.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"
#include "platform/gpu/shader_bytecode.h"

namespace gpu::test {

using Rgba = std::array<int, 4>;

// Shader bytecode from GLSL plus the reflection d3dx would write.
std::vector<uint8_t> VertexBytecode(const std::string& glsl,
                                    const std::vector<ShaderBytecodeInfo::VertexInput>& inputs,
                                    const std::vector<ShaderBytecodeInfo::ConstantBuffer>& cbuffers = {});
std::vector<uint8_t> PixelBytecode(const std::string& glsl,
                                   const std::vector<ShaderBytecodeInfo::CombinedSampler>& samplers,
                                   const std::vector<ShaderBytecodeInfo::ConstantBuffer>& cbuffers = {});

class GpuTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kSize = 64;

    void SetUp() override;
    void TearDown() override;

    // Objects released in TearDown.
    template <class T>
    T* Keep(T* object) {
        kept_.push_back(object);
        return object;
    }
    Buffer* MakeBuffer(uint32_t bindFlags, const void* data, uint32_t bytes);
    VertexShader* MakeVs(const std::vector<uint8_t>& bytecode);
    PixelShader* MakePs(const std::vector<uint8_t>& bytecode);

    // A pipeline drawing flat triangles: float2 POSITION at location 3, moved
    // by vertex cbuffer b1 (x, y) and coloured by pixel cbuffer b1.
    void BindFlatPipeline();
    void SetVertices(const std::vector<float>& xy, const std::vector<uint32_t>& indices);
    void SetOffset(float x, float y);                    // writes vertex b1
    void SetColour(float r, float g, float b, float a);  // writes pixel b1
    void Clear(float r, float g, float b, float a);

    // Reads the target back; pixels then come from that copy.
    void ReadBack();
    Rgba At(uint32_t x, uint32_t y) const;
    // Pixels equal to c (within 1 per channel).
    int Count(const Rgba& c) const;

    SwapChain* chain_ = nullptr;
    Device* device_ = nullptr;
    DeviceContext* context_ = nullptr;
    RenderTargetView* rtv_ = nullptr;
    // What BindFlatPipeline and SetVertices bound last.
    VertexShader* flatVs_ = nullptr;
    PixelShader* flatPs_ = nullptr;
    InputLayout* flatLayout_ = nullptr;
    Buffer* vertices_ = nullptr;
    Buffer* indices_ = nullptr;
    Buffer* offsetCb_ = nullptr;
    Buffer* colourCb_ = nullptr;
    std::vector<uint8_t> image_;
    uint32_t width_ = 0, height_ = 0;
    int liveAtStart_ = 0;

  private:
    std::vector<Unknown*> kept_;
};

::testing::AssertionResult Near(const Rgba& actual, const Rgba& expected, int tolerance = 1);

}  // namespace gpu::test

// What our "shader bytecode" holds: the GLSL 450 translation of one HLSL entry
// point plus the reflection the GPU layer needs to bind it the Direct3D way.
//
// The run-time compiler (platform/d3dx) writes it into a Blob; the device's
// CreateVertexShader / CreatePixelShader / CreateInputLayout read it back. Any
// byte string that does not parse is refused, never read out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gpu {

enum class ShaderStage : uint8_t { Vertex = 1, Pixel = 2 };

struct ShaderBytecodeInfo {
    ShaderStage stage = ShaderStage::Vertex;
    std::string entryPoint;
    std::string glsl;  // "#version 450" source, separate-shader-object ready

    // Vertex shader inputs, by HLSL semantic ("POSITION", index 0).
    struct VertexInput {
        std::string semanticName;  // upper case
        uint32_t semanticIndex = 0;
        uint32_t location = 0;        // GL attribute location
        uint32_t componentCount = 0;  // 1 to 4 floats
    };
    std::vector<VertexInput> inputs;

    // One GLSL sampler uniform per (texture register, sampler register) pair
    // that the shader samples with; samplerRegister is -1 for a texture read
    // without a sampler (Load), which then gets default sampling.
    struct CombinedSampler {
        std::string uniformName;
        int32_t textureRegister = 0;   // tN
        int32_t samplerRegister = -1;  // sM
        uint32_t glBinding = 0;        // the unit the GLSL declares (layout(binding = ...))
    };
    std::vector<CombinedSampler> samplers;

    // Uniform blocks that stand for cbuffers.
    struct ConstantBuffer {
        std::string blockName;
        uint32_t registerSlot = 0;  // bN
        uint32_t glBinding = 0;     // the binding the GLSL declares
        uint32_t byteSize = 0;      // as declared by the shader
    };
    std::vector<ConstantBuffer> constantBuffers;
};

std::vector<uint8_t> SerializeShaderBytecode(const ShaderBytecodeInfo& info);
// False (and *info untouched) for anything that is not a complete container.
bool ParseShaderBytecode(const void* data, size_t size, ShaderBytecodeInfo* info);

}  // namespace gpu

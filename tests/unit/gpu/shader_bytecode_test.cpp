// The shader bytecode container: what d3dx writes must come back whole, and
// anything else must be refused without reading past the end.
#include <gtest/gtest.h>

#include "platform/gpu/shader_bytecode.h"

namespace gpu {
namespace {

ShaderBytecodeInfo Sample() {
    ShaderBytecodeInfo info;
    info.stage = ShaderStage::Pixel;
    info.entryPoint = "PS";
    info.glsl = "#version 450\nvoid main() {}\n";
    info.inputs.push_back({"TEXCOORD", 1, 5, 2});
    info.samplers.push_back({"SPIRV_Cross_Combinedtexsmp", 3, 2, 17});
    info.samplers.push_back({"SPIRV_Cross_CombinedtexLoad", 4, -1, 18});
    info.constantBuffers.push_back({"Globals", 1, 17, 80});
    return info;
}

void Patch32(std::vector<uint8_t>* bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        (*bytes)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(ShaderBytecode, RoundTripKeepsEveryField) {
    ShaderBytecodeInfo in = Sample();
    std::vector<uint8_t> bytes = SerializeShaderBytecode(in);
    ShaderBytecodeInfo out;
    ASSERT_TRUE(ParseShaderBytecode(bytes.data(), bytes.size(), &out));
    EXPECT_EQ(out.stage, ShaderStage::Pixel);
    EXPECT_EQ(out.entryPoint, "PS");
    EXPECT_EQ(out.glsl, in.glsl);
    ASSERT_EQ(out.inputs.size(), 1u);
    EXPECT_EQ(out.inputs[0].semanticName, "TEXCOORD");
    EXPECT_EQ(out.inputs[0].semanticIndex, 1u);
    EXPECT_EQ(out.inputs[0].location, 5u);
    EXPECT_EQ(out.inputs[0].componentCount, 2u);
    ASSERT_EQ(out.samplers.size(), 2u);
    EXPECT_EQ(out.samplers[0].textureRegister, 3);
    EXPECT_EQ(out.samplers[0].samplerRegister, 2);
    EXPECT_EQ(out.samplers[0].glBinding, 17u);
    EXPECT_EQ(out.samplers[1].samplerRegister, -1) << "a texture read without a sampler keeps -1";
    ASSERT_EQ(out.constantBuffers.size(), 1u);
    EXPECT_EQ(out.constantBuffers[0].blockName, "Globals");
    EXPECT_EQ(out.constantBuffers[0].registerSlot, 1u);
    EXPECT_EQ(out.constantBuffers[0].glBinding, 17u);
    EXPECT_EQ(out.constantBuffers[0].byteSize, 80u);
}

TEST(ShaderBytecode, RefusesEveryTruncationAndTrailingBytes) {
    std::vector<uint8_t> bytes = SerializeShaderBytecode(Sample());
    ShaderBytecodeInfo out;
    out.entryPoint = "untouched";
    for (size_t n = 0; n < bytes.size(); ++n) {
        std::vector<uint8_t> cut(bytes.begin(),
                                 bytes.begin() + n);  // own allocation: overreads show under ASan
        EXPECT_FALSE(ParseShaderBytecode(cut.data(), cut.size(), &out)) << "accepted " << n << " bytes";
    }
    EXPECT_EQ(out.entryPoint, "untouched") << "a refused container must leave the output alone";
    bytes.push_back(0);
    EXPECT_FALSE(ParseShaderBytecode(bytes.data(), bytes.size(), &out)) << "trailing byte accepted";
    EXPECT_FALSE(ParseShaderBytecode(nullptr, 0, &out));
}

TEST(ShaderBytecode, RefusesLyingCountsAndLengths) {
    ShaderBytecodeInfo info;
    info.stage = ShaderStage::Vertex;
    info.entryPoint = "VS";
    info.glsl = "x";
    std::vector<uint8_t> bytes = SerializeShaderBytecode(info);
    // magic, version, stage, entry (4 + 2), glsl (4 + 1), then the input count.
    const size_t inputCount = 12 + 6 + 5;
    ShaderBytecodeInfo out;
    for (uint32_t lie : {1u, 1000u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bad = bytes;
        Patch32(&bad, inputCount, lie);
        EXPECT_FALSE(ParseShaderBytecode(bad.data(), bad.size(), &out)) << "input count " << lie;
    }
    std::vector<uint8_t> badLength = bytes;
    Patch32(&badLength, 12, 0xFFFFFFF0u);  // entry point length
    EXPECT_FALSE(ParseShaderBytecode(badLength.data(), badLength.size(), &out));
}

TEST(ShaderBytecode, RefusesBadHeaderStageAndComponentCount) {
    std::vector<uint8_t> bytes = SerializeShaderBytecode(Sample());
    ShaderBytecodeInfo out;
    for (uint32_t stage : {0u, 3u, 0x101u}) {
        std::vector<uint8_t> bad = bytes;
        Patch32(&bad, 8, stage);
        EXPECT_FALSE(ParseShaderBytecode(bad.data(), bad.size(), &out)) << "stage " << stage;
    }
    std::vector<uint8_t> badMagic = bytes;
    badMagic[0] ^= 0xFF;
    EXPECT_FALSE(ParseShaderBytecode(badMagic.data(), badMagic.size(), &out));
    std::vector<uint8_t> badVersion = bytes;
    Patch32(&badVersion, 4, 2);
    EXPECT_FALSE(ParseShaderBytecode(badVersion.data(), badVersion.size(), &out));

    ShaderBytecodeInfo wide = Sample();
    wide.inputs[0].componentCount = 5;
    std::vector<uint8_t> w = SerializeShaderBytecode(wide);
    EXPECT_FALSE(ParseShaderBytecode(w.data(), w.size(), &out)) << "five-component input accepted";
}

}  // namespace
}  // namespace gpu

#include <gtest/gtest.h>
#include <shaderc/shaderc.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include <unistd.h>

#include "platform/d3dx/d3dx.h"
#include "platform/gpu/shader_bytecode.h"

namespace {

using gpu::HRESULT;
using gpu::ShaderBytecodeInfo;

// Shaped like the program's shaders. The pixel stage's input struct lists its
// members in a different order from the vertex stage's output on purpose.
constexpr char kShader[] = R"(
cbuffer cbView : register(b1) { float4x4 View; };
cbuffer cbProjection : register(b2) { float4x4 Projection; };
cbuffer cbWorld : register(b3) { float4x4 World; };
cbuffer cbSlices : register(b4) { float4 Tint; float3 Step; float Opacity; };

Texture2D txAtlas : register(t0);
SamplerState samAtlas : register(s0);
Texture3D txVolume : register(t1);
SamplerState samVolume : register(s1);
Texture1D txLookup : register(t2);
SamplerState samLookup : register(s2);

struct VS_INPUT { float3 Pos : POSITION; float2 Tex : TEXCOORD0; };
struct VS_OUTPUT { float4 Pos : SV_POSITION; float2 Tex : TEXCOORD0; float3 Tex3 : TEXCOORD1; };
struct PS_INPUT { float4 Pos : SV_POSITION; float3 Tex3 : TEXCOORD1; float2 Tex : TEXCOORD0; };

VS_OUTPUT VS(VS_INPUT input) {
    VS_OUTPUT output;
    output.Pos = mul(mul(mul(float4(input.Pos, 1), World), View), Projection);
    output.Tex = input.Tex;
    output.Tex3 = input.Pos;
    return output;
}

float4 PS(PS_INPUT input) : SV_Target {
    float v = txVolume.Sample(samVolume, input.Tex3 + Step).r;
    float4 c = txLookup.Sample(samLookup, v) * Tint;
    c.a *= Opacity;
    return c * txAtlas.Sample(samAtlas, input.Tex);
}
)";

struct Compiled {
    HRESULT hr = gpu::E_FAIL;
    ShaderBytecodeInfo info;
    std::string messages;
    bool hasShader = false;
};

Compiled Compile(const std::string& source, const char* entry, const char* profile,
                 const char* name = "fx.fx") {
    Compiled c;
    gpu::Blob* shader = nullptr;
    gpu::Blob* errors = nullptr;
    c.hr = d3dx::CompileFromMemory(source.data(), source.size(), name, entry, profile, &shader, &errors);
    if (errors) {
        const char* text = static_cast<const char*>(errors->GetBufferPointer());
        EXPECT_EQ(text[errors->GetBufferSize() - 1], '\0') << "messages are NUL-terminated";
        c.messages = text;
        errors->Release();
    }
    if (shader) {
        c.hasShader = true;
        EXPECT_TRUE(gpu::ParseShaderBytecode(shader->GetBufferPointer(), shader->GetBufferSize(), &c.info))
            << "the blob is a complete container";
        shader->Release();
    }
    return c;
}

// "layout(location = N) in|out TYPE NAME;" declarations, location -> type.
std::map<int, std::string> Varyings(const std::string& glsl, const char* direction) {
    std::map<int, std::string> out;
    std::regex re(std::string(R"(layout\(location = (\d+)\) )") + direction + R"( (\w+) \w+;)");
    for (std::sregex_iterator it(glsl.begin(), glsl.end(), re), end; it != end; ++it)
        out[std::stoi((*it)[1])] = (*it)[2];
    return out;
}

// Compiles the generated GLSL for OpenGL, so a declaration that GL would
// refuse fails here rather than at draw time.
std::string GlslProblems(const std::string& glsl, bool vertex) {
    shaderc_compiler_t compiler = shaderc_compiler_initialize();
    shaderc_compile_options_t options = shaderc_compile_options_initialize();
    shaderc_compile_options_set_target_env(options, shaderc_target_env_opengl,
                                           shaderc_env_version_opengl_4_5);
    shaderc_compilation_result_t result = shaderc_compile_into_spv(
        compiler, glsl.data(), glsl.size(), vertex ? shaderc_vertex_shader : shaderc_fragment_shader,
        "generated.glsl", "main", options);
    std::string problems = shaderc_result_get_compilation_status(result) == shaderc_compilation_status_success
                               ? ""
                               : shaderc_result_get_error_message(result);
    shaderc_result_release(result);
    shaderc_compile_options_release(options);
    shaderc_compiler_release(compiler);
    return problems;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Compile, VertexShaderReflection) {
    Compiled vs = Compile(kShader, "VS", "vs_5_0");
    ASSERT_EQ(vs.hr, gpu::S_OK) << vs.messages;
    const ShaderBytecodeInfo& info = vs.info;
    EXPECT_EQ(info.stage, gpu::ShaderStage::Vertex);
    EXPECT_EQ(info.entryPoint, "VS");
    ASSERT_EQ(info.inputs.size(), 2u);
    std::map<std::string, ShaderBytecodeInfo::VertexInput> bySemantic;
    for (const auto& in : info.inputs)
        bySemantic[in.semanticName + std::to_string(in.semanticIndex)] = in;
    ASSERT_TRUE(bySemantic.count("POSITION0") && bySemantic.count("TEXCOORD0"));
    EXPECT_EQ(bySemantic["POSITION0"].componentCount, 3u);
    EXPECT_EQ(bySemantic["TEXCOORD0"].componentCount, 2u);
    EXPECT_NE(bySemantic["POSITION0"].location, bySemantic["TEXCOORD0"].location);
    for (const auto& in : info.inputs) {
        const char* type = in.componentCount == 3 ? "vec3" : "vec2";
        EXPECT_TRUE(Contains(info.glsl, "layout(location = " + std::to_string(in.location) + ") in " + type))
            << in.semanticName << "\n"
            << info.glsl;
    }

    EXPECT_TRUE(info.samplers.empty());
    ASSERT_EQ(info.constantBuffers.size(), 3u);
    std::map<uint32_t, ShaderBytecodeInfo::ConstantBuffer> byRegister;
    for (const auto& cb : info.constantBuffers)
        byRegister[cb.registerSlot] = cb;
    const std::map<uint32_t, std::string> expected = {{1, "cbView"}, {2, "cbProjection"}, {3, "cbWorld"}};
    for (const auto& [slot, name] : expected) {
        ASSERT_TRUE(byRegister.count(slot)) << "b" << slot;
        const auto& cb = byRegister[slot];
        EXPECT_EQ(cb.blockName, name);
        EXPECT_EQ(cb.byteSize, 64u) << name;
        EXPECT_EQ(cb.glBinding, slot) << "vertex-stage blocks bind at their register";
        EXPECT_TRUE(Contains(
            info.glsl, "layout(binding = " + std::to_string(cb.glBinding) + ", std140) uniform " + name))
            << info.glsl;
    }
    EXPECT_EQ(GlslProblems(info.glsl, true), "") << info.glsl;
}

TEST(Compile, PixelShaderReflection) {
    Compiled ps = Compile(kShader, "PS", "ps_5_0");
    ASSERT_EQ(ps.hr, gpu::S_OK) << ps.messages;
    const ShaderBytecodeInfo& info = ps.info;
    EXPECT_EQ(info.stage, gpu::ShaderStage::Pixel);
    EXPECT_TRUE(info.inputs.empty()) << "only vertex shaders report inputs";

    ASSERT_EQ(info.samplers.size(), 3u);
    std::map<int, ShaderBytecodeInfo::CombinedSampler> byTexture;
    std::set<uint32_t> units;
    for (const auto& s : info.samplers) {
        byTexture[s.textureRegister] = s;
        units.insert(s.glBinding);
        EXPECT_GE(s.glBinding, 16u) << "pixel-stage units lie above the vertex stage's";
        EXPECT_LT(s.glBinding, 32u);
    }
    EXPECT_EQ(units.size(), 3u) << "one unit per pair";
    const std::map<int, std::string> types = {{0, "sampler2D"}, {1, "sampler3D"}, {2, "sampler1D"}};
    for (const auto& [t, type] : types) {
        ASSERT_TRUE(byTexture.count(t)) << "t" << t;
        const auto& s = byTexture[t];
        EXPECT_EQ(s.samplerRegister, t) << "t" << t << " is sampled with s" << t;
        EXPECT_TRUE(Contains(info.glsl, "layout(binding = " + std::to_string(s.glBinding) + ") uniform " +
                                            type + " " + s.uniformName + ";"))
            << info.glsl;
    }

    ASSERT_EQ(info.constantBuffers.size(), 1u);
    const auto& cb = info.constantBuffers[0];
    EXPECT_EQ(cb.registerSlot, 4u);
    EXPECT_EQ(cb.glBinding, 20u) << "pixel-stage block at 16 + register";
    EXPECT_EQ(cb.byteSize, 32u) << "float4 + float3 + float";
    EXPECT_TRUE(Contains(info.glsl, "layout(binding = 20, std140) uniform cbSlices")) << info.glsl;
    EXPECT_TRUE(Contains(info.glsl, "layout(location = 0) out vec4")) << "SV_Target is output 0";
    EXPECT_EQ(GlslProblems(info.glsl, false), "") << info.glsl;
}

TEST(Compile, VaryingsMeetAtTheSameLocations) {
    Compiled vs = Compile(kShader, "VS", "vs_5_0");
    Compiled ps = Compile(kShader, "PS", "ps_5_0");
    ASSERT_TRUE(vs.hasShader && ps.hasShader) << vs.messages << ps.messages;
    std::map<int, std::string> out = Varyings(vs.info.glsl, "out");
    std::map<int, std::string> in = Varyings(ps.info.glsl, "in");
    EXPECT_EQ(out.size(), 2u) << vs.info.glsl;
    EXPECT_EQ(out, in) << "vertex outputs and pixel inputs pair up by location and type\n"
                       << vs.info.glsl << "\n"
                       << ps.info.glsl;
    EXPECT_TRUE(Contains(vs.info.glsl, "gl_Position")) << "SV_POSITION is GL's built-in";
}

TEST(Compile, LoadWithoutSamplerGetsItsOwnUnit) {
    const char* src = R"(
Texture2D tx : register(t3);
SamplerState ss : register(s5);
float4 PS(float4 p : SV_Position) : SV_Target { return tx.Load(int3(p.xy, 0)) + tx.Sample(ss, p.xy); })";
    Compiled ps = Compile(src, "PS", "ps_5_0");
    ASSERT_EQ(ps.hr, gpu::S_OK) << ps.messages;
    ASSERT_EQ(ps.info.samplers.size(), 2u);
    std::set<int> samplerRegisters;
    for (const auto& s : ps.info.samplers) {
        EXPECT_EQ(s.textureRegister, 3);
        samplerRegisters.insert(s.samplerRegister);
    }
    EXPECT_EQ(samplerRegisters, (std::set<int>{-1, 5})) << "Load has no sampler register";
}

TEST(Compile, ErrorsCarryTheCompilersOrOurText) {
    std::string broken = kShader;
    const size_t at = broken.find("c.a *= Opacity;");
    broken.replace(at, 15, "c.a *= Opacity $;");
    const std::string line = std::to_string(1 + std::count(broken.begin(), broken.begin() + at, '\n'));
    Compiled syntax = Compile(broken, "PS", "ps_5_0", "broken.fx");
    EXPECT_TRUE(gpu::FAILED(syntax.hr));
    EXPECT_FALSE(syntax.hasShader);
    EXPECT_TRUE(std::regex_search(syntax.messages, std::regex(R"(^broken\.fx:\d+: error)")))
        << syntax.messages;
    EXPECT_TRUE(Contains(syntax.messages, "broken.fx:" + line + ":")) << "the line of the fault\n"
                                                                      << syntax.messages;

    Compiled entry = Compile(kShader, "Missing", "ps_5_0");
    EXPECT_TRUE(gpu::FAILED(entry.hr));
    EXPECT_FALSE(entry.hasShader);
    EXPECT_TRUE(Contains(entry.messages, "entry point 'Missing' not found")) << entry.messages;

    Compiled profile = Compile(kShader, "PS", "ps_4_0");
    EXPECT_TRUE(gpu::FAILED(profile.hr));
    EXPECT_TRUE(Contains(profile.messages, "profile 'ps_4_0'")) << profile.messages;

    Compiled semantic = Compile("float4 VS(float4 p : WEIRD) : SV_Position { return p; }", "VS", "vs_5_0");
    EXPECT_TRUE(gpu::FAILED(semantic.hr));
    EXPECT_TRUE(Contains(semantic.messages, "semantic WEIRD")) << semantic.messages;

    // HLSL would put Dir at byte 4 of the first register; std140 cannot.
    Compiled packing = Compile(
        "cbuffer cbOdd : register(b0) { float A; float3 Dir; };\n"
        "float4 PS() : SV_Target { return float4(Dir, A); }",
        "PS", "ps_5_0");
    EXPECT_TRUE(gpu::FAILED(packing.hr));
    EXPECT_TRUE(Contains(packing.messages, "cbuffer cbOdd (b0): member 'Dir' at byte offset 4"))
        << packing.messages;
}

TEST(Compile, FilesAreReadOrNamedInTheError) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tamlo_d3dx_compile_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string good = (dir / "fx.fx").string(), missing = (dir / "none.fx").string();
    std::ofstream(good) << kShader;

    gpu::Blob* shader = nullptr;
    gpu::Blob* errors = nullptr;
    EXPECT_EQ(d3dx::CompileFromFile(good.c_str(), "VS", "vs_5_0", &shader, &errors), gpu::S_OK);
    ASSERT_NE(shader, nullptr);
    EXPECT_EQ(errors, nullptr) << "no warnings, no blob";
    shader->Release();

    EXPECT_EQ(d3dx::CompileFromFile(missing.c_str(), "VS", "vs_5_0", &shader, &errors), gpu::E_NOTFOUND);
    EXPECT_EQ(shader, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(errors->GetBufferPointer())),
              "cannot read '" + missing + "': No such file or directory");
    errors->Release();

    EXPECT_TRUE(gpu::FAILED(d3dx::CompileFromFile(dir.c_str(), "VS", "vs_5_0", &shader, nullptr)))
        << "a directory cannot be read";
    std::filesystem::remove_all(dir);
}

}  // namespace

// Run-time HLSL: one entry point to SPIR-V (shaderc, glslang's HLSL front
// end), then to GLSL 450 with the reflection the GPU layer binds by
// (SPIRV-Cross, through its C API).
//
// Sections: bindings and semantics · HLSL to SPIR-V · cbuffer packing ·
// SPIR-V to GLSL · entry points.
#include <shaderc/shaderc.h>
#include <spirv_cross/spirv_cross_c.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "platform/d3dx/d3dx.h"
#include "platform/d3dx/file_bytes.h"
#include "platform/gpu/shader_bytecode.h"

namespace d3dx {
namespace {

using gpu::ShaderBytecodeInfo;
using gpu::ShaderStage;

// ---------------------------------------------------------------------------
// Bindings and semantics

// SPIR-V has one binding space; these bases keep tN, sM and bN apart in it.
constexpr uint32_t kTextureBindingBase = 0;
constexpr uint32_t kSamplerBindingBase = 128;
constexpr uint32_t kBufferBindingBase = 256;
// Direct3D gives each stage its own slots and GL has one set of units and
// binding points, so the pixel stage uses its own range above the vertex one.
constexpr uint32_t kPixelStageBindingOffset = 16;
constexpr uint32_t kMaxCombinedSamplersPerStage = 16;
constexpr uint32_t kMaxConstantBufferSlots = 14;  // Direct3D 11's b0 to b13

// One table for vertex inputs and for varyings in both stages. SPIR-V numbers
// varyings in declaration order, so the vertex outputs and pixel inputs only
// meet when both sides derive their locations from the semantic alone.
struct SemanticSlots {
    const char* name;
    uint32_t firstLocation;
    uint32_t count;  // indices 0 .. count-1
};
constexpr SemanticSlots kSemanticTable[] = {
    {"POSITION", 0, 1}, {"NORMAL", 1, 1},    {"COLOR", 2, 2},        {"TEXCOORD", 4, 8},
    {"TANGENT", 12, 1}, {"BINORMAL", 13, 1}, {"BLENDWEIGHT", 14, 1}, {"BLENDINDICES", 15, 1},
};

// "TEXCOORD3" -> ("TEXCOORD", 3); glslang hands semantics over upper-cased.
void SplitSemantic(const std::string& semantic, std::string* name, uint32_t* index) {
    size_t end = semantic.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(semantic[end - 1])))
        --end;
    *name = semantic.substr(0, end);
    *index = end < semantic.size() ? static_cast<uint32_t>(std::stoul(semantic.substr(end))) : 0;
    for (char& c : *name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool LocationForSemantic(const std::string& name, uint32_t index, uint32_t* location) {
    for (const auto& s : kSemanticTable) {
        if (name == s.name && index < s.count) {
            *location = s.firstLocation + index;
            return true;
        }
    }
    return false;
}

std::string KnownSemantics() {
    std::string text;
    for (const auto& s : kSemanticTable) {
        if (!text.empty())
            text += ", ";
        text += s.name;
        if (s.count > 1)
            text += "0-" + std::to_string(s.count - 1);
    }
    return text;
}

// ---------------------------------------------------------------------------
// HLSL to SPIR-V

struct ShadercDeleter {
    void operator()(shaderc_compiler* c) const { shaderc_compiler_release(c); }
    void operator()(shaderc_compile_options* o) const { shaderc_compile_options_release(o); }
    void operator()(shaderc_compilation_result* r) const { shaderc_result_release(r); }
};

// False with the compiler's text in *messages; on success *messages holds its
// warnings, if any.
bool HlslToSpirv(const char* source, size_t length, const char* sourceName, const char* entryPoint,
                 ShaderStage stage, std::vector<uint32_t>* spirv, std::string* messages) {
    std::unique_ptr<shaderc_compiler, ShadercDeleter> compiler(shaderc_compiler_initialize());
    std::unique_ptr<shaderc_compile_options, ShadercDeleter> options(shaderc_compile_options_initialize());
    if (!compiler || !options) {
        *messages = "shaderc could not be initialised";
        return false;
    }
    shaderc_compile_options* o = options.get();
    shaderc_compile_options_set_source_language(o, shaderc_source_language_hlsl);
    shaderc_compile_options_set_target_env(o, shaderc_target_env_vulkan, shaderc_env_version_vulkan_1_0);
    shaderc_compile_options_set_hlsl_io_mapping(o, true);
    shaderc_compile_options_set_auto_bind_uniforms(o, true);
    shaderc_compile_options_set_auto_map_locations(o, true);
    // Without it the HlslSemanticGOOGLE strings that locations come from are empty.
    shaderc_compile_options_set_hlsl_functionality1(o, true);
    shaderc_compile_options_set_binding_base(o, shaderc_uniform_kind_texture, kTextureBindingBase);
    shaderc_compile_options_set_binding_base(o, shaderc_uniform_kind_sampler, kSamplerBindingBase);
    shaderc_compile_options_set_binding_base(o, shaderc_uniform_kind_buffer, kBufferBindingBase);

    const shaderc_shader_kind kind =
        stage == ShaderStage::Vertex ? shaderc_vertex_shader : shaderc_fragment_shader;
    std::unique_ptr<shaderc_compilation_result, ShadercDeleter> result(
        shaderc_compile_into_spv(compiler.get(), source, length, kind, sourceName, entryPoint, o));
    if (!result) {
        *messages = "shaderc returned no result";
        return false;
    }
    const char* text = shaderc_result_get_error_message(result.get());
    *messages = text ? text : "";
    if (shaderc_result_get_compilation_status(result.get()) != shaderc_compilation_status_success) {
        // glslang reports a missing entry point only as a link "warning".
        if (messages->find("Entry point not found") != std::string::npos)
            *messages =
                std::string(sourceName) + ": error: entry point '" + entryPoint + "' not found\n" + *messages;
        if (messages->empty())
            *messages = std::string(sourceName) + ": error: compilation failed";
        return false;
    }
    const size_t bytes = shaderc_result_get_length(result.get());
    spirv->resize(bytes / sizeof(uint32_t));
    std::memcpy(spirv->data(), shaderc_result_get_bytes(result.get()), spirv->size() * sizeof(uint32_t));
    return true;
}

// ---------------------------------------------------------------------------
// cbuffer packing
//
// HLSL packs a cbuffer in 16-byte registers and lets a vector start anywhere
// it does not cross one; a GL uniform block (std140, with explicit offsets)
// needs each member aligned to its own size class and arrays and structs to
// end on a register. The shaders keep their cbuffers within both rules;
// anything else is refused here with the member named, rather than flattened
// into a differently uploaded array.

uint32_t Std140Alignment(spvc_type type) {
    if (spvc_type_get_num_array_dimensions(type) > 0 ||
        spvc_type_get_basetype(type) == SPVC_BASETYPE_STRUCT || spvc_type_get_columns(type) > 1)
        return 16;
    const uint32_t components = spvc_type_get_vector_size(type);
    const uint32_t scalar = spvc_type_get_bit_width(type) / 8;
    return components == 1 ? scalar : components == 2 ? 2 * scalar : 4 * scalar;
}

bool CheckStd140(spvc_compiler compiler, const spvc_reflected_resource& block, uint32_t slot,
                 std::string* error) {
    spvc_type type = spvc_compiler_get_type_handle(compiler, block.base_type_id);
    const unsigned members = spvc_type_get_num_member_types(type);
    size_t nextFree = 0;
    for (unsigned i = 0; i < members; ++i) {
        spvc_type member = spvc_compiler_get_type_handle(compiler, spvc_type_get_member_type(type, i));
        unsigned offset = 0;
        size_t size = 0;
        if (spvc_compiler_type_struct_member_offset(compiler, type, i, &offset) != SPVC_SUCCESS ||
            spvc_compiler_get_declared_struct_member_size(compiler, type, i, &size) != SPVC_SUCCESS)
            continue;  // leave it to SPIRV-Cross to judge
        const uint32_t align = Std140Alignment(member);
        if (offset % align != 0 || offset < nextFree) {
            const char* memberName = spvc_compiler_get_member_name(compiler, block.base_type_id, i);
            *error = "cbuffer " + std::string(block.name) + " (b" + std::to_string(slot) + "): member '" +
                     (memberName ? memberName : "?") + "' at byte offset " + std::to_string(offset) +
                     " cannot be placed in an OpenGL std140 uniform block; keep each vector within one "
                     "16-byte register and start arrays, matrices and structs on a register boundary "
                     "(pad the cbuffer, or reorder its members)";
            return false;
        }
        nextFree = offset + (align == 16 && (spvc_type_get_num_array_dimensions(member) > 0 ||
                                             spvc_type_get_basetype(member) == SPVC_BASETYPE_STRUCT)
                                 ? (size + 15) / 16 * 16
                                 : size);
    }
    return true;
}

// ---------------------------------------------------------------------------
// SPIR-V to GLSL

struct SpvcContextDeleter {
    void operator()(spvc_context_s* c) const { spvc_context_destroy(c); }
};

class Translator {
  public:
    Translator(ShaderStage stage, std::string sourceName)
        : stage_(stage), sourceName_(std::move(sourceName)) {}

    bool Run(const std::vector<uint32_t>& spirv, ShaderBytecodeInfo* info, std::string* error) {
        spvc_context raw = nullptr;
        if (spvc_context_create(&raw) != SPVC_SUCCESS)
            return Fail(error, "SPIRV-Cross could not be initialised");
        context_.reset(raw);
        spvc_context_set_error_callback(context_.get(), &Translator::OnError, this);
        spvc_parsed_ir ir = nullptr;
        spvc_compiler_options options = nullptr;
        if (spvc_context_parse_spirv(context_.get(), spirv.data(), spirv.size(), &ir) != SPVC_SUCCESS ||
            spvc_context_create_compiler(context_.get(), SPVC_BACKEND_GLSL, ir,
                                         SPVC_CAPTURE_MODE_TAKE_OWNERSHIP, &compiler_) != SPVC_SUCCESS ||
            spvc_compiler_create_compiler_options(compiler_, &options) != SPVC_SUCCESS)
            return SpvcFail(error);
        spvc_compiler_options_set_uint(options, SPVC_COMPILER_OPTION_GLSL_VERSION, 450);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_VULKAN_SEMANTICS, SPVC_FALSE);
        spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_SEPARATE_SHADER_OBJECTS, SPVC_TRUE);
        if (spvc_compiler_install_compiler_options(compiler_, options) != SPVC_SUCCESS)
            return SpvcFail(error);

        // Textures read without a sampler (Load) still need one in GLSL.
        spvc_variable_id dummySampler = 0;
        if (spvc_compiler_build_dummy_sampler_for_combined_images(compiler_, &dummySampler) != SPVC_SUCCESS ||
            spvc_compiler_build_combined_image_samplers(compiler_) != SPVC_SUCCESS)
            return SpvcFail(error);

        info->stage = stage_;
        if (!MapSamplers(dummySampler, info, error) || !MapConstantBuffers(info, error) ||
            !MapInterface(SPVC_RESOURCE_TYPE_STAGE_INPUT, info, error) ||
            !MapInterface(SPVC_RESOURCE_TYPE_STAGE_OUTPUT, info, error))
            return false;

        const char* glsl = nullptr;
        if (spvc_compiler_compile(compiler_, &glsl) != SPVC_SUCCESS || glsl == nullptr)
            return SpvcFail(error);
        info->glsl = glsl;
        // Block names can change while the GLSL is written (name clashes).
        for (size_t i = 0; i < info->constantBuffers.size(); ++i) {
            const char* name = spvc_compiler_get_remapped_declared_block_name(compiler_, blockIds_[i]);
            if (name && *name)
                info->constantBuffers[i].blockName = name;
        }
        return true;
    }

  private:
    static void OnError(void* self, const char* text) { static_cast<Translator*>(self)->lastError_ = text; }

    bool Fail(std::string* error, const std::string& text) {
        *error = sourceName_ + ": " + text;
        return false;
    }
    bool SpvcFail(std::string* error) {
        return Fail(error, "GLSL translation failed: " + (lastError_.empty() ? "unknown error" : lastError_));
    }

    uint32_t StageOffset() const { return stage_ == ShaderStage::Pixel ? kPixelStageBindingOffset : 0; }

    bool Resources(spvc_resource_type type, const spvc_reflected_resource** list, size_t* count,
                   std::string* error) {
        // Fresh each time: the combined samplers exist only after they are built.
        spvc_resources resources = nullptr;
        if (spvc_compiler_create_shader_resources(compiler_, &resources) != SPVC_SUCCESS ||
            spvc_resources_get_resource_list_for_type(resources, type, list, count) != SPVC_SUCCESS)
            return SpvcFail(error);
        return true;
    }

    uint32_t Binding(spvc_variable_id id) {
        return spvc_compiler_get_decoration(compiler_, id, SpvDecorationBinding);
    }

    bool MapSamplers(spvc_variable_id dummySampler, ShaderBytecodeInfo* info, std::string* error) {
        const spvc_combined_image_sampler* combined = nullptr;
        size_t count = 0;
        if (spvc_compiler_get_combined_image_samplers(compiler_, &combined, &count) != SPVC_SUCCESS)
            return SpvcFail(error);
        if (count > kMaxCombinedSamplersPerStage)
            return Fail(error, std::to_string(count) + " texture and sampler pairs; at most " +
                                   std::to_string(kMaxCombinedSamplersPerStage) + " per stage are supported");
        for (size_t i = 0; i < count; ++i) {
            ShaderBytecodeInfo::CombinedSampler s;
            s.textureRegister = static_cast<int32_t>(Binding(combined[i].image_id) - kTextureBindingBase);
            s.samplerRegister =
                combined[i].sampler_id == dummySampler
                    ? -1
                    : static_cast<int32_t>(Binding(combined[i].sampler_id) - kSamplerBindingBase);
            if (s.textureRegister < 0 || s.textureRegister >= int32_t(kSamplerBindingBase) ||
                (s.samplerRegister != -1 && (s.samplerRegister < 0 || s.samplerRegister >= 16)))
                return Fail(error, "texture or sampler register out of range");
            s.glBinding = StageOffset() + static_cast<uint32_t>(i);
            // A name that says which registers the unit stands for, stable
            // across compilations, for readers of the GLSL.
            s.uniformName = "tamlo_t" + std::to_string(s.textureRegister) +
                            (s.samplerRegister >= 0 ? "_s" + std::to_string(s.samplerRegister) : "_load");
            spvc_compiler_set_name(compiler_, combined[i].combined_id, s.uniformName.c_str());
            spvc_compiler_set_decoration(compiler_, combined[i].combined_id, SpvDecorationBinding,
                                         s.glBinding);
            info->samplers.push_back(std::move(s));
        }
        return true;
    }

    bool MapConstantBuffers(ShaderBytecodeInfo* info, std::string* error) {
        const spvc_reflected_resource* list = nullptr;
        size_t count = 0;
        if (!Resources(SPVC_RESOURCE_TYPE_UNIFORM_BUFFER, &list, &count, error))
            return false;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t binding = Binding(list[i].id);
            if (binding < kBufferBindingBase || binding - kBufferBindingBase >= kMaxConstantBufferSlots)
                return Fail(error, "cbuffer " + std::string(list[i].name) + " is outside registers b0 to b" +
                                       std::to_string(kMaxConstantBufferSlots - 1));
            ShaderBytecodeInfo::ConstantBuffer cb;
            cb.registerSlot = binding - kBufferBindingBase;
            if (!CheckStd140(compiler_, list[i], cb.registerSlot, error))
                return Fail(error, *error);
            cb.glBinding = StageOffset() + cb.registerSlot;
            const char* typeName = spvc_compiler_get_name(compiler_, list[i].base_type_id);
            cb.blockName = typeName && *typeName ? typeName : list[i].name;
            size_t size = 0;
            if (spvc_compiler_get_declared_struct_size(
                    compiler_, spvc_compiler_get_type_handle(compiler_, list[i].base_type_id), &size) !=
                SPVC_SUCCESS)
                return SpvcFail(error);
            cb.byteSize = static_cast<uint32_t>(size);
            spvc_compiler_set_decoration(compiler_, list[i].id, SpvDecorationBinding, cb.glBinding);
            info->constantBuffers.push_back(std::move(cb));
            blockIds_.push_back(list[i].id);
        }
        return true;
    }

    // Vertex inputs, varyings and render-target outputs: locations from the
    // semantic; built-ins (SV_Position and friends) are left to GL.
    bool MapInterface(spvc_resource_type type, ShaderBytecodeInfo* info, std::string* error) {
        const spvc_reflected_resource* list = nullptr;
        size_t count = 0;
        if (!Resources(type, &list, &count, error))
            return false;
        const bool isTarget = stage_ == ShaderStage::Pixel && type == SPVC_RESOURCE_TYPE_STAGE_OUTPUT;
        const bool isVertexInput = stage_ == ShaderStage::Vertex && type == SPVC_RESOURCE_TYPE_STAGE_INPUT;
        for (size_t i = 0; i < count; ++i) {
            const spvc_variable_id id = list[i].id;
            if (spvc_compiler_has_decoration(compiler_, id, SpvDecorationBuiltIn))
                continue;
            const char* semantic =
                spvc_compiler_get_decoration_string(compiler_, id, SpvDecorationHlslSemanticGOOGLE);
            if (semantic == nullptr || *semantic == '\0')
                return Fail(error, std::string("'") + list[i].name + "' has no semantic");
            std::string name;
            uint32_t index = 0, location = 0;
            SplitSemantic(semantic, &name, &index);
            if (isTarget) {
                if (name != "SV_TARGET" || index > 7)
                    return Fail(
                        error, std::string("pixel shader output semantic ") + semantic + " is not supported");
                location = index;
            } else if (!LocationForSemantic(name, index, &location)) {
                return Fail(error, std::string("semantic ") + semantic +
                                       " is not supported (known: " + KnownSemantics() + ")");
            }
            spvc_compiler_set_decoration(compiler_, id, SpvDecorationLocation, location);
            if (isVertexInput) {
                spvc_type t = spvc_compiler_get_type_handle(compiler_, list[i].type_id);
                if (spvc_type_get_columns(t) != 1 || spvc_type_get_num_array_dimensions(t) != 0)
                    return Fail(error,
                                std::string("vertex input ") + semantic + " must be a scalar or vector");
                ShaderBytecodeInfo::VertexInput in;
                in.semanticName = name;
                in.semanticIndex = index;
                in.location = location;
                in.componentCount = spvc_type_get_vector_size(t);
                info->inputs.push_back(std::move(in));
            }
        }
        return true;
    }

    ShaderStage stage_;
    std::string sourceName_;
    std::unique_ptr<spvc_context_s, SpvcContextDeleter> context_;
    spvc_compiler compiler_ = nullptr;
    std::vector<spvc_variable_id> blockIds_;
    std::string lastError_;
};

// ---------------------------------------------------------------------------
// Entry points

HRESULT Finish(HRESULT hr, const std::string& text, gpu::Blob** errorMessages) {
    if (errorMessages != nullptr && !text.empty()) {
        // NUL-terminated so callers may print GetBufferPointer() as a C string.
        if (gpu::FAILED(gpu::CreateBlob(text.c_str(), text.size() + 1, errorMessages)))
            *errorMessages = nullptr;
    }
    return hr;
}

}  // namespace

HRESULT CompileFromMemory(const char* source, size_t length, const char* sourceName, const char* entryPoint,
                          const char* profile, gpu::Blob** shader, gpu::Blob** errorMessages) {
    if (shader != nullptr)
        *shader = nullptr;
    if (errorMessages != nullptr)
        *errorMessages = nullptr;
    const std::string name = sourceName && *sourceName ? sourceName : "<memory>";
    if (shader == nullptr || (source == nullptr && length != 0) || entryPoint == nullptr ||
        *entryPoint == '\0' || profile == nullptr)
        return Finish(gpu::E_INVALIDARG, name + ": missing shader, source, entry point or profile argument",
                      errorMessages);
    ShaderStage stage;
    if (std::strcmp(profile, "vs_5_0") == 0) {
        stage = ShaderStage::Vertex;
    } else if (std::strcmp(profile, "ps_5_0") == 0) {
        stage = ShaderStage::Pixel;
    } else {
        return Finish(gpu::E_INVALIDARG,
                      name + ": profile '" + profile + "' is not supported (only vs_5_0 and ps_5_0)",
                      errorMessages);
    }

    std::vector<uint32_t> spirv;
    std::string messages;
    if (!HlslToSpirv(source ? source : "", length, name.c_str(), entryPoint, stage, &spirv, &messages))
        return Finish(gpu::E_FAIL, messages, errorMessages);

    ShaderBytecodeInfo info;
    info.entryPoint = entryPoint;
    std::string error;
    if (!Translator(stage, name).Run(spirv, &info, &error))
        return Finish(gpu::E_FAIL, error, errorMessages);

    const std::vector<uint8_t> bytes = gpu::SerializeShaderBytecode(info);
    const HRESULT hr = gpu::CreateBlob(bytes.data(), bytes.size(), shader);
    if (gpu::FAILED(hr)) {
        *shader = nullptr;
        return Finish(hr, name + ": out of memory", errorMessages);
    }
    return Finish(gpu::S_OK, messages, errorMessages);
}

HRESULT CompileFromFile(const char* path, const char* entryPoint, const char* profile, gpu::Blob** shader,
                        gpu::Blob** errorMessages) {
    if (shader != nullptr)
        *shader = nullptr;
    if (errorMessages != nullptr)
        *errorMessages = nullptr;
    if (path == nullptr)
        return Finish(gpu::E_INVALIDARG, "CompileFromFile: no path", errorMessages);
    std::vector<uint8_t> bytes;
    std::string error;
    const HRESULT hr = internal::ReadFileBytes(path, &bytes, &error);
    if (gpu::FAILED(hr))
        return Finish(hr, error, errorMessages);
    return CompileFromMemory(reinterpret_cast<const char*>(bytes.data()), bytes.size(), path, entryPoint,
                             profile, shader, errorMessages);
}

}  // namespace d3dx

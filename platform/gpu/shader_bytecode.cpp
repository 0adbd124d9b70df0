#include "platform/gpu/shader_bytecode.h"

#include <cstring>

namespace gpu {
namespace {

// Container layout, little-endian: magic, version, stage, then strings as
// (u32 length, bytes) and counted lists of records.
constexpr uint32_t kMagic = 0x4C534754;  // "TGSL"
constexpr uint32_t kVersion = 1;

class Writer {
  public:
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Str(const std::string& s) {
        U32(static_cast<uint32_t>(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    std::vector<uint8_t> bytes;
};

class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
    bool U32(uint32_t* v) {
        if (left_ < 4)
            return false;
        *v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
        left_ -= 4;
        return true;
    }
    bool I32(int32_t* v) {
        uint32_t u;
        if (!U32(&u))
            return false;
        *v = static_cast<int32_t>(u);
        return true;
    }
    bool Str(std::string* s) {
        uint32_t n;
        if (!U32(&n) || n > left_)
            return false;
        s->assign(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        left_ -= n;
        return true;
    }
    // A list count that the remaining bytes could possibly hold (each record
    // takes at least minRecordBytes), so a lying count cannot make us reserve
    // gigabytes.
    bool Count(uint32_t* n, size_t minRecordBytes) { return U32(n) && *n <= left_ / minRecordBytes; }
    bool AtEnd() const { return left_ == 0; }

  private:
    const uint8_t* p_;
    size_t left_;
};

}  // namespace

std::vector<uint8_t> SerializeShaderBytecode(const ShaderBytecodeInfo& info) {
    Writer w;
    w.U32(kMagic);
    w.U32(kVersion);
    w.U32(static_cast<uint32_t>(info.stage));
    w.Str(info.entryPoint);
    w.Str(info.glsl);
    w.U32(static_cast<uint32_t>(info.inputs.size()));
    for (const auto& in : info.inputs) {
        w.Str(in.semanticName);
        w.U32(in.semanticIndex);
        w.U32(in.location);
        w.U32(in.componentCount);
    }
    w.U32(static_cast<uint32_t>(info.samplers.size()));
    for (const auto& s : info.samplers) {
        w.Str(s.uniformName);
        w.I32(s.textureRegister);
        w.I32(s.samplerRegister);
        w.U32(s.glBinding);
    }
    w.U32(static_cast<uint32_t>(info.constantBuffers.size()));
    for (const auto& cb : info.constantBuffers) {
        w.Str(cb.blockName);
        w.U32(cb.registerSlot);
        w.U32(cb.glBinding);
        w.U32(cb.byteSize);
    }
    return std::move(w.bytes);
}

bool ParseShaderBytecode(const void* data, size_t size, ShaderBytecodeInfo* info) {
    if (data == nullptr || info == nullptr)
        return false;
    Reader r(static_cast<const uint8_t*>(data), size);
    ShaderBytecodeInfo out;
    uint32_t magic, version, stage, n;
    if (!r.U32(&magic) || magic != kMagic || !r.U32(&version) || version != kVersion || !r.U32(&stage))
        return false;
    if (stage != static_cast<uint32_t>(ShaderStage::Vertex) &&
        stage != static_cast<uint32_t>(ShaderStage::Pixel))
        return false;
    out.stage = static_cast<ShaderStage>(stage);
    if (!r.Str(&out.entryPoint) || !r.Str(&out.glsl))
        return false;

    if (!r.Count(&n, 16))
        return false;
    out.inputs.resize(n);
    for (auto& in : out.inputs) {
        if (!r.Str(&in.semanticName) || !r.U32(&in.semanticIndex) || !r.U32(&in.location) ||
            !r.U32(&in.componentCount) || in.componentCount < 1 || in.componentCount > 4)
            return false;
    }
    if (!r.Count(&n, 16))
        return false;
    out.samplers.resize(n);
    for (auto& s : out.samplers) {
        if (!r.Str(&s.uniformName) || !r.I32(&s.textureRegister) || !r.I32(&s.samplerRegister) ||
            !r.U32(&s.glBinding))
            return false;
    }
    if (!r.Count(&n, 16))
        return false;
    out.constantBuffers.resize(n);
    for (auto& cb : out.constantBuffers) {
        if (!r.Str(&cb.blockName) || !r.U32(&cb.registerSlot) || !r.U32(&cb.glBinding) ||
            !r.U32(&cb.byteSize))
            return false;
    }
    if (!r.AtEnd())
        return false;
    *info = std::move(out);
    return true;
}

}  // namespace gpu

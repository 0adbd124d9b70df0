// What the pieces of the GPU layer share: the device core that owns the GL
// context, reference counting, debug GL checks and the object types that the
// device creates and the context binds.
//
// Sections: checks and seams · core · reference counting · objects · factories.
#pragma once

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"
#include "platform/gpu/output_window.h"
#include "platform/gpu/shader_bytecode.h"
#include "platform/ref_counted.h"

namespace gpu::detail {

// ---------------------------------------------------------------------------
// Checks and seams

// Debug builds report every GL error with the call that raised it; release
// builds pay nothing.
void ReportGlErrors(const char* call, const char* file, int line);
#ifdef NDEBUG
#define GL_CHECK(call) call
#else
#define GL_CHECK(call)                                            \
    do {                                                          \
        call;                                                     \
        ::gpu::detail::ReportGlErrors(#call, __FILE__, __LINE__); \
    } while (0)
#endif

// True when the armed failure for this kind is due now (counts the attempt).
bool InjectedFailure(testing::CreationKind kind);

void CountLive(int delta);
extern int g_presents;  // Present calls, for tests

// ---------------------------------------------------------------------------
// Core: the GL context and who owns it. Every object holds a reference, so
// GL names are deleted only while the context can still be made current.

class Core {
  public:
    // Windowed: the window's context. Headless: an EGL context we own.
    static Core* CreateWindowed(std::shared_ptr<OutputWindow> window);
    static Core* CreateHeadless();

    void AddRef() { ++refs_; }
    void Release();
    // False once the context is gone (the window was destroyed).
    bool MakeCurrent();

    Device* device = nullptr;                   // the public device while it lives (GetDevice)
    DeviceContext* immediateContext = nullptr;  // while it lives
    std::shared_ptr<OutputWindow> window;
    GLuint defaultSampler = 0;  // Direct3D's sampling when no sampler is bound
    GLuint maxTexture3D = 0, maxTexture2D = 0, maxArrayLayers = 0;
    GLint maxUniformBindings = 0, maxTextureUnits = 0;
    std::string rendererName;  // GL_RENDERER

  private:
    Core() = default;
    ~Core();
    bool InitGl();

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    int refs_ = 1;
};

// ---------------------------------------------------------------------------
// Reference counting, shared by every object

// Device objects count themselves too, so that tests can see every one freed.
template <class Interface>
class RefCounted : public platform::RefCounted<Interface> {
  protected:
    RefCounted() { CountLive(1); }
    ~RefCounted() override { CountLive(-1); }
};

template <class Interface>
class Child : public RefCounted<Interface> {
  public:
    explicit Child(Core* core) : core_(core) { core_->AddRef(); }
    void GetDevice(Device** device) override {
        if (device == nullptr)
            return;
        *device = core_->device;
        if (*device)
            (*device)->AddRef();
    }
    Core* core() const { return core_; }

  protected:
    ~Child() override { core_->Release(); }
    Core* core_;
};

// A reference held by a binding or a view: adds on set, drops on reset.
template <class T>
class Ref {
  public:
    Ref() = default;
    Ref(const Ref& o) : p_(o.p_) {
        if (p_)
            p_->AddRef();
    }
    Ref& operator=(const Ref& o) {
        Reset(o.p_);
        return *this;
    }
    ~Ref() { Reset(nullptr); }
    void Reset(T* p) {
        if (p)
            p->AddRef();
        if (p_)
            p_->Release();
        p_ = p;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// ---------------------------------------------------------------------------
// Objects

struct FormatInfo {
    GLenum internalFormat;
    GLenum uploadFormat;
    GLenum uploadType;
    uint32_t bytesPerPixel;
};
// False for formats textures cannot have.
bool TextureFormatInfo(Format format, FormatInfo* info);

class BufferImpl final : public Child<Buffer> {
  public:
    BufferImpl(Core* core, const BufferDesc& desc, GLuint name) : Child(core), desc_(desc), name_(name) {}
    ResourceDimension GetType() const override { return ResourceDimension::BUFFER; }
    void GetDesc(BufferDesc* desc) const override {
        if (desc)
            *desc = desc_;
    }
    const BufferDesc& desc() const { return desc_; }
    GLuint name() const { return name_; }

  private:
    ~BufferImpl() override;
    BufferDesc desc_;
    GLuint name_;
};

// What every texture kind shares; the swap chain's buffer also has an FBO.
struct TextureData {
    ResourceDimension dimension = ResourceDimension::UNKNOWN;
    uint32_t width = 1, height = 1, depth = 1;
    // A 2D texture's array slices; more than one makes it a GL array texture.
    uint32_t layers = 1;
    Format format = Format::UNKNOWN;
    uint32_t bindFlags = 0;
    GLuint name = 0;
    GLuint framebuffer = 0;
};
// The texture data behind any texture resource of ours, or null.
TextureData* GetTextureData(Resource* resource);
void DeleteTextureNames(Core* core, const TextureData& data);
// The core a resource of ours belongs to (objects of another device do not bind).
Core* ResourceCore(Resource* resource);
// Uploads a whole texture, or one slice of a 2D array; pitches as Direct3D's
// initial data (0 = tight).
bool UploadTexture(const TextureData& t, const void* data, uint32_t rowPitch, uint32_t slicePitch,
                   uint32_t layer = 0);

template <class Interface, class Desc, ResourceDimension Dim>
class TextureImpl final : public Child<Interface> {
  public:
    TextureImpl(Core* core, const Desc& desc, const TextureData& data)
        : Child<Interface>(core), desc_(desc), data_(data) {}
    ResourceDimension GetType() const override { return Dim; }
    void GetDesc(Desc* desc) const override {
        if (desc)
            *desc = desc_;
    }
    TextureData& data() { return data_; }

  private:
    ~TextureImpl() override { DeleteTextureNames(this->core_, data_); }
    Desc desc_;
    TextureData data_;
};
using Texture1DImpl = TextureImpl<Texture1D, Texture1DDesc, ResourceDimension::TEXTURE1D>;
using Texture2DImpl = TextureImpl<Texture2D, Texture2DDesc, ResourceDimension::TEXTURE2D>;
using Texture3DImpl = TextureImpl<Texture3D, Texture3DDesc, ResourceDimension::TEXTURE3D>;

class ShaderResourceViewImpl final : public Child<ShaderResourceView> {
  public:
    ShaderResourceViewImpl(Core* core, Resource* resource, const ShaderResourceViewDesc& desc)
        : Child(core), desc_(desc) {
        resource_.Reset(resource);
    }
    void GetDesc(ShaderResourceViewDesc* desc) const override {
        if (desc)
            *desc = desc_;
    }
    void GetResource(Resource** resource) override {
        if (resource == nullptr)
            return;
        *resource = resource_.get();
        resource_->AddRef();
    }
    GLuint texture() const { return GetTextureData(resource_.get())->name; }

  private:
    ShaderResourceViewDesc desc_;
    Ref<Resource> resource_;
};

class RenderTargetViewImpl final : public Child<RenderTargetView> {
  public:
    RenderTargetViewImpl(Core* core, Texture2D* texture) : Child(core) { texture_.Reset(texture); }
    void GetResource(Resource** resource) override {
        if (resource == nullptr)
            return;
        *resource = texture_.get();
        texture_->AddRef();
    }
    const TextureData& target() const { return static_cast<Texture2DImpl*>(texture_.get())->data(); }
    const Texture2D* texture() const { return texture_.get(); }

  private:
    Ref<Texture2D> texture_;
};

class SamplerStateImpl final : public Child<SamplerState> {
  public:
    SamplerStateImpl(Core* core, const SamplerDesc& desc, GLuint name)
        : Child(core), desc_(desc), name_(name) {}
    void GetDesc(SamplerDesc* desc) const override {
        if (desc)
            *desc = desc_;
    }
    GLuint name() const { return name_; }

  private:
    ~SamplerStateImpl() override;
    SamplerDesc desc_;
    GLuint name_;
};

template <class Interface, class Desc>
class StateImpl final : public Child<Interface> {
  public:
    StateImpl(Core* core, const Desc& desc) : Child<Interface>(core), desc_(desc) {}
    void GetDesc(Desc* desc) const override {
        if (desc)
            *desc = desc_;
    }
    const Desc& desc() const { return desc_; }

  private:
    Desc desc_;
};
using BlendStateImpl = StateImpl<BlendState, BlendDesc>;
using RasterizerStateImpl = StateImpl<RasterizerState, RasterizerDesc>;

struct LayoutElement {
    std::string semanticName;  // upper case, as the bytecode keeps it
    uint32_t semanticIndex = 0;
    Format format = Format::UNKNOWN;
    uint32_t slot = 0;
    uint32_t offset = 0;  // APPEND_ALIGNED_ELEMENT resolved
};

class InputLayoutImpl final : public Child<InputLayout> {
  public:
    InputLayoutImpl(Core* core, std::vector<LayoutElement> elements)
        : Child(core), elements_(std::move(elements)) {}
    const std::vector<LayoutElement>& elements() const { return elements_; }

  private:
    std::vector<LayoutElement> elements_;
};

template <class Interface>
class ShaderImpl final : public Child<Interface> {
  public:
    ShaderImpl(Core* core, ShaderBytecodeInfo info, GLuint program)
        : Child<Interface>(core), info_(std::move(info)), program_(program) {}
    const ShaderBytecodeInfo& info() const { return info_; }
    GLuint program() const { return program_; }

  private:
    ~ShaderImpl() override {
        if (this->core_->MakeCurrent())
            GL_CHECK(glDeleteProgram(program_));
    }
    ShaderBytecodeInfo info_;
    GLuint program_;
};
using VertexShaderImpl = ShaderImpl<VertexShader>;
using PixelShaderImpl = ShaderImpl<PixelShader>;

// ---------------------------------------------------------------------------
// Factories (each in its own file)

Device* NewDevice(Core* core);
// The device's pipeline objects, made for it by the device (device_pipeline.cpp).
HRESULT NewSamplerState(Core* core, const SamplerDesc* desc, SamplerState** state);
HRESULT NewBlendState(Core* core, const BlendDesc* desc, BlendState** state);
HRESULT NewRasterizerState(Core* core, const RasterizerDesc* desc, RasterizerState** state);
HRESULT NewInputLayout(Core* core, const InputElementDesc* elements, uint32_t count, const void* bytecode,
                       size_t length, InputLayout** layout);
HRESULT NewVertexShader(Core* core, const void* bytecode, size_t length, VertexShader** shader);
HRESULT NewPixelShader(Core* core, const void* bytecode, size_t length, PixelShader** shader);
// Lets go of a bound render target view of `buffer` held by nothing but the binding.
void DropOrphanedRenderTarget(DeviceContext* context, const Texture2D* buffer);
DeviceContext* NewDeviceContext(Core* core);
// Null when the buffer cannot be made; the caller reports E_FAIL.
SwapChain* NewSwapChain(Core* core, const SwapChainDesc& desc);

// The swap chain's buffer: an RGBA8 texture with an FBO, whatever DXGI format
// it reports.
HRESULT CreateSwapChainBuffer(Core* core, uint32_t width, uint32_t height, Format format,
                              Texture2DImpl** buffer);

}  // namespace gpu::detail

// A Direct3D 11 shaped device, immediate context and swap chain over OpenGL 4.5
// core (direct state access), covering exactly what Tamlo draws with.
//
// Sections: results and reference counting · enums and flags · descriptions ·
// objects · device · context · swap chain · creation · test seams.
//
// Semantics follow Direct3D 11: state set on the context stays until changed;
// each shader stage has its own constant-buffer, texture and sampler slots;
// null bindings are allowed, and a draw whose inputs are missing draws nothing.
// Every object is reference counted and keeps its device alive, so releasing a
// texture after the window and the device are gone is safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace gpu {

class OutputWindow;

// ---------------------------------------------------------------------------
// Results and reference counting

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<int32_t>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
inline constexpr HRESULT E_NOTFOUND = static_cast<int32_t>(0x80070002u);  // a file that is not there
inline bool FAILED(HRESULT hr) {
    return hr < 0;
}
inline bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}

class Unknown {
  public:
    virtual uint32_t AddRef() = 0;
    // Drops one reference; the object is destroyed when none is left.
    // Returns the references that remain.
    virtual uint32_t Release() = 0;

  protected:
    virtual ~Unknown() = default;
};

// A block of bytes: compiled shader code or compiler messages.
class Blob : public Unknown {
  public:
    virtual const void* GetBufferPointer() const = 0;
    virtual size_t GetBufferSize() const = 0;
};
HRESULT CreateBlob(const void* data, size_t size, Blob** blob);

// ---------------------------------------------------------------------------
// Enums and flags (Direct3D's values where the program relies on them)

enum class Format : uint32_t {
    UNKNOWN = 0,
    R32G32B32A32_FLOAT = 2,
    R32G32B32_FLOAT = 6,
    R16G16B16A16_FLOAT = 10,
    R16G16B16A16_UNORM = 11,
    R32G32_FLOAT = 16,
    R8G8B8A8_UNORM = 28,
    R16G16_UNORM = 35,
    R32_UINT = 42,
    R16_UNORM = 56,
    B8G8R8A8_UNORM = 87,
};

enum class Usage : uint32_t { DEFAULT = 0 };

enum BindFlag : uint32_t {
    BIND_VERTEX_BUFFER = 0x1,
    BIND_INDEX_BUFFER = 0x2,
    BIND_CONSTANT_BUFFER = 0x4,
    BIND_SHADER_RESOURCE = 0x8,
    BIND_RENDER_TARGET = 0x20,
};

enum class ResourceDimension : uint32_t {
    UNKNOWN = 0,
    BUFFER = 1,
    TEXTURE1D = 2,
    TEXTURE2D = 3,
    TEXTURE3D = 4
};

enum class SrvDimension : uint32_t {
    UNKNOWN = 0,
    TEXTURE1D = 2,
    TEXTURE2D = 4,
    TEXTURE2DARRAY = 5,
    TEXTURE3D = 8
};

enum class Filter : uint32_t {
    MIN_MAG_MIP_POINT = 0,
    MIN_MAG_LINEAR_MIP_POINT = 0x14,
    MIN_MAG_MIP_LINEAR = 0x15,
};

enum class TextureAddressMode : uint32_t { WRAP = 1, CLAMP = 3 };

enum class ComparisonFunc : uint32_t { NEVER = 1 };

enum class Blend : uint32_t { ZERO = 1, ONE = 2, SRC_ALPHA = 5, INV_SRC_ALPHA = 6 };

// MIN and MAX take no factors: each channel keeps the smaller or larger of
// source and target.
enum class BlendOp : uint32_t { ADD = 1, MIN = 4, MAX = 5 };

enum ColorWriteEnable : uint8_t { COLOR_WRITE_ENABLE_ALL = 0x0F };

enum class FillMode : uint32_t { WIREFRAME = 2, SOLID = 3 };

enum class CullMode : uint32_t { NONE = 1, FRONT = 2, BACK = 3 };

enum class InputClassification : uint32_t { PER_VERTEX_DATA = 0 };

enum class PrimitiveTopology : uint32_t { UNDEFINED = 0, LINELIST = 2, TRIANGLELIST = 4 };

inline constexpr uint32_t APPEND_ALIGNED_ELEMENT = 0xFFFFFFFFu;
inline constexpr uint32_t USAGE_RENDER_TARGET_OUTPUT = 0x20;

enum class SwapEffect : uint32_t { DISCARD = 0 };

// ---------------------------------------------------------------------------
// Descriptions

struct SampleDesc {
    uint32_t Count = 1;
    uint32_t Quality = 0;
};

struct BufferDesc {
    uint32_t ByteWidth = 0;
    gpu::Usage Usage = gpu::Usage::DEFAULT;
    uint32_t BindFlags = 0;
    uint32_t CPUAccessFlags = 0;
    uint32_t MiscFlags = 0;
    uint32_t StructureByteStride = 0;
};

struct SubresourceData {
    const void* pSysMem = nullptr;
    uint32_t SysMemPitch = 0;       // bytes from one row to the next
    uint32_t SysMemSlicePitch = 0;  // bytes from one depth slice to the next
};

struct Texture1DDesc {
    uint32_t Width = 0;
    uint32_t MipLevels = 1;
    uint32_t ArraySize = 1;
    gpu::Format Format = gpu::Format::UNKNOWN;
    gpu::Usage Usage = gpu::Usage::DEFAULT;
    uint32_t BindFlags = 0;
    uint32_t CPUAccessFlags = 0;
    uint32_t MiscFlags = 0;
};

struct Texture2DDesc {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t MipLevels = 1;
    uint32_t ArraySize = 1;
    gpu::Format Format = gpu::Format::UNKNOWN;
    gpu::SampleDesc SampleDesc;
    gpu::Usage Usage = gpu::Usage::DEFAULT;
    uint32_t BindFlags = 0;
    uint32_t CPUAccessFlags = 0;
    uint32_t MiscFlags = 0;
};

struct Texture3DDesc {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t Depth = 0;
    uint32_t MipLevels = 1;
    gpu::Format Format = gpu::Format::UNKNOWN;
    gpu::Usage Usage = gpu::Usage::DEFAULT;
    uint32_t BindFlags = 0;
    uint32_t CPUAccessFlags = 0;
    uint32_t MiscFlags = 0;
};

struct TextureMipRange {
    uint32_t MostDetailedMip = 0;
    uint32_t MipLevels = 1;
};

struct TextureArrayRange {
    uint32_t MostDetailedMip = 0;
    uint32_t MipLevels = 1;
    uint32_t FirstArraySlice = 0;
    uint32_t ArraySize = 1;
};

struct ShaderResourceViewDesc {
    gpu::Format Format = gpu::Format::UNKNOWN;
    SrvDimension ViewDimension = SrvDimension::UNKNOWN;
    TextureMipRange Texture1D;         // read when ViewDimension is TEXTURE1D
    TextureMipRange Texture2D;         // ... TEXTURE2D
    TextureArrayRange Texture2DArray;  // ... TEXTURE2DARRAY
    TextureMipRange Texture3D;         // ... TEXTURE3D
};

struct SamplerDesc {
    gpu::Filter Filter = gpu::Filter::MIN_MAG_MIP_POINT;
    TextureAddressMode AddressU = TextureAddressMode::WRAP;
    TextureAddressMode AddressV = TextureAddressMode::WRAP;
    TextureAddressMode AddressW = TextureAddressMode::WRAP;
    float MipLODBias = 0.0f;
    uint32_t MaxAnisotropy = 1;
    gpu::ComparisonFunc ComparisonFunc = gpu::ComparisonFunc::NEVER;
    float BorderColor[4] = {0, 0, 0, 0};
    float MinLOD = 0.0f;
    float MaxLOD = 0.0f;
};

// All-zero members (as for render targets 1 to 7) mean "not used".
struct RenderTargetBlendDesc {
    bool BlendEnable = false;
    Blend SrcBlend{};
    Blend DestBlend{};
    gpu::BlendOp BlendOp{};
    Blend SrcBlendAlpha{};
    Blend DestBlendAlpha{};
    gpu::BlendOp BlendOpAlpha{};
    uint8_t RenderTargetWriteMask = 0;
};

struct BlendDesc {
    bool AlphaToCoverageEnable = false;
    bool IndependentBlendEnable = false;
    RenderTargetBlendDesc RenderTarget[8];
};

struct RasterizerDesc {
    gpu::FillMode FillMode = gpu::FillMode::SOLID;
    gpu::CullMode CullMode = gpu::CullMode::BACK;
    bool FrontCounterClockwise = false;
    int32_t DepthBias = 0;
    float DepthBiasClamp = 0.0f;
    float SlopeScaledDepthBias = 0.0f;
    bool DepthClipEnable = true;  // false: depth clamp
    bool ScissorEnable = false;
    bool MultisampleEnable = false;
    bool AntialiasedLineEnable = false;
};

struct InputElementDesc {
    const char* SemanticName = nullptr;
    uint32_t SemanticIndex = 0;
    gpu::Format Format = gpu::Format::UNKNOWN;
    uint32_t InputSlot = 0;
    uint32_t AlignedByteOffset = 0;
    InputClassification InputSlotClass = InputClassification::PER_VERTEX_DATA;
    uint32_t InstanceDataStepRate = 0;
};

struct Viewport {
    float TopLeftX = 0, TopLeftY = 0, Width = 0, Height = 0, MinDepth = 0, MaxDepth = 1;
};

// A scissor rectangle in render-target pixels, right and bottom exclusive.
struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct Rational {
    uint32_t Numerator = 0;
    uint32_t Denominator = 0;
};

struct ModeDesc {
    uint32_t Width = 0;
    uint32_t Height = 0;
    Rational RefreshRate;
    gpu::Format Format = gpu::Format::UNKNOWN;
    uint32_t ScanlineOrdering = 0;  // unspecified
    uint32_t Scaling = 0;           // unspecified
};

struct SwapChainDesc {
    ModeDesc BufferDesc;
    gpu::SampleDesc SampleDesc;
    uint32_t BufferUsage = 0;
    uint32_t BufferCount = 1;
    // The window to present into; null makes a headless device (EGL, no
    // display), whose Present keeps the image for reading back.
    std::shared_ptr<gpu::OutputWindow> OutputWindow;
    bool Windowed = true;
    gpu::SwapEffect SwapEffect = gpu::SwapEffect::DISCARD;
    uint32_t Flags = 0;
};

// ---------------------------------------------------------------------------
// Objects

class Device;

class DeviceChild : public Unknown {
  public:
    // Adds a reference to the device, as Direct3D does. Children keep the
    // device's GL context alive, not the device object: once the device has
    // been released this gives null.
    virtual void GetDevice(Device** device) = 0;
};

class Resource : public DeviceChild {
  public:
    virtual ResourceDimension GetType() const = 0;
};

class Buffer : public Resource {
  public:
    virtual void GetDesc(BufferDesc* desc) const = 0;
};

class Texture1D : public Resource {
  public:
    virtual void GetDesc(Texture1DDesc* desc) const = 0;
};

class Texture2D : public Resource {
  public:
    virtual void GetDesc(Texture2DDesc* desc) const = 0;
};

class Texture3D : public Resource {
  public:
    virtual void GetDesc(Texture3DDesc* desc) const = 0;
};

class ShaderResourceView : public DeviceChild {
  public:
    virtual void GetDesc(ShaderResourceViewDesc* desc) const = 0;
    // Adds a reference to the viewed resource.
    virtual void GetResource(Resource** resource) = 0;
};

class RenderTargetView : public DeviceChild {
  public:
    virtual void GetResource(Resource** resource) = 0;
};

class SamplerState : public DeviceChild {
  public:
    virtual void GetDesc(SamplerDesc* desc) const = 0;
};

class BlendState : public DeviceChild {
  public:
    virtual void GetDesc(BlendDesc* desc) const = 0;
};

class RasterizerState : public DeviceChild {
  public:
    virtual void GetDesc(RasterizerDesc* desc) const = 0;
};

class InputLayout : public DeviceChild {};
class VertexShader : public DeviceChild {};
class PixelShader : public DeviceChild {};

// Unused parameters kept so that call sites read like Direct3D's.
class ClassLinkage;
class ClassInstance;
class DepthStencilView;
struct Box;

// ---------------------------------------------------------------------------
// Device

class Device : public Unknown {
  public:
    virtual HRESULT CreateBuffer(const BufferDesc* desc, const SubresourceData* initialData,
                                 Buffer** buffer) = 0;
    virtual HRESULT CreateTexture1D(const Texture1DDesc* desc, const SubresourceData* initialData,
                                    Texture1D** texture) = 0;
    virtual HRESULT CreateTexture2D(const Texture2DDesc* desc, const SubresourceData* initialData,
                                    Texture2D** texture) = 0;
    virtual HRESULT CreateTexture3D(const Texture3DDesc* desc, const SubresourceData* initialData,
                                    Texture3D** texture) = 0;
    // desc may be null: a view of the whole resource in its own format.
    virtual HRESULT CreateShaderResourceView(Resource* resource, const ShaderResourceViewDesc* desc,
                                             ShaderResourceView** view) = 0;
    // Only views of the swap chain's buffer are supported; desc must be null.
    virtual HRESULT CreateRenderTargetView(Resource* resource, const void* desc, RenderTargetView** view) = 0;
    virtual HRESULT CreateSamplerState(const SamplerDesc* desc, SamplerState** state) = 0;
    virtual HRESULT CreateBlendState(const BlendDesc* desc, BlendState** state) = 0;
    virtual HRESULT CreateRasterizerState(const RasterizerDesc* desc, RasterizerState** state) = 0;
    // Checks every element against the vertex shader's inputs (by semantic).
    virtual HRESULT CreateInputLayout(const InputElementDesc* elements, uint32_t elementCount,
                                      const void* shaderBytecode, size_t bytecodeLength,
                                      InputLayout** layout) = 0;
    virtual HRESULT CreateVertexShader(const void* shaderBytecode, size_t bytecodeLength,
                                       ClassLinkage* linkage, VertexShader** shader) = 0;
    virtual HRESULT CreatePixelShader(const void* shaderBytecode, size_t bytecodeLength,
                                      ClassLinkage* linkage, PixelShader** shader) = 0;
    // GL_MAX_3D_TEXTURE_SIZE and friends, for callers that refuse early.
    virtual uint32_t MaxTexture3DSize() const = 0;
    virtual uint32_t MaxTexture2DSize() const = 0;
    // What the adapter calls itself (GL_RENDERER here, as DXGI's adapter
    // description): callers tell a software rasteriser by it. Empty if unknown.
    virtual const char* AdapterDescription() const { return ""; }
};

// ---------------------------------------------------------------------------
// Immediate context

class DeviceContext : public DeviceChild {
  public:
    virtual void IASetInputLayout(InputLayout* layout) = 0;
    virtual void IASetVertexBuffers(uint32_t startSlot, uint32_t count, Buffer* const* buffers,
                                    const uint32_t* strides, const uint32_t* offsets) = 0;
    virtual void IASetIndexBuffer(Buffer* buffer, Format format, uint32_t offset) = 0;
    virtual void IASetPrimitiveTopology(PrimitiveTopology topology) = 0;

    virtual void VSSetShader(VertexShader* shader, ClassInstance* const* instances,
                             uint32_t instanceCount) = 0;
    virtual void VSSetConstantBuffers(uint32_t startSlot, uint32_t count, Buffer* const* buffers) = 0;

    virtual void PSSetShader(PixelShader* shader, ClassInstance* const* instances,
                             uint32_t instanceCount) = 0;
    virtual void PSSetConstantBuffers(uint32_t startSlot, uint32_t count, Buffer* const* buffers) = 0;
    virtual void PSSetShaderResources(uint32_t startSlot, uint32_t count,
                                      ShaderResourceView* const* views) = 0;
    virtual void PSSetSamplers(uint32_t startSlot, uint32_t count, SamplerState* const* samplers) = 0;

    virtual void RSSetState(RasterizerState* state) = 0;
    virtual void RSSetViewports(uint32_t count, const Viewport* viewports) = 0;
    // Used while the bound rasterizer state has ScissorEnable; with none set,
    // nothing is drawn (an empty rectangle), as on Direct3D.
    virtual void RSSetScissorRects(uint32_t count, const Rect* rects) = 0;

    virtual void OMSetRenderTargets(uint32_t count, RenderTargetView* const* views,
                                    DepthStencilView* depthStencil) = 0;
    virtual void OMSetBlendState(BlendState* state, const float blendFactor[4], uint32_t sampleMask) = 0;

    virtual void ClearRenderTargetView(RenderTargetView* view, const float color[4]) = 0;
    // Whole-resource updates only (box null): subresource 0, or for a 2D
    // array the slice of that number (its one mip level each, as Direct3D
    // numbers them); pitches as for initial data, 0 meaning tightly packed.
    virtual void UpdateSubresource(Resource* resource, uint32_t subresource, const Box* box, const void* data,
                                   uint32_t rowPitch, uint32_t depthPitch) = 0;
    virtual void DrawIndexed(uint32_t indexCount, uint32_t startIndex, int32_t baseVertex) = 0;
    // Sends the commands given so far to the device and waits until they are
    // done, so that work drawn in portions between inputs is done with each
    // portion (a device that draws on the CPU would otherwise do it all at
    // the next present).
    virtual void Flush() = 0;
};

// ---------------------------------------------------------------------------
// Swap chain (one buffer)

class SwapChain : public DeviceChild {
  public:
    virtual HRESULT GetBuffer(uint32_t index, Texture2D** buffer) = 0;
    // Keeps the buffer count; width and height 0 are refused. The old buffer
    // must no longer be viewed (Direct3D's rule), or the call fails.
    virtual HRESULT ResizeBuffers(uint32_t bufferCount, uint32_t width, uint32_t height, Format format,
                                  uint32_t flags) = 0;
    virtual HRESULT Present(uint32_t syncInterval, uint32_t flags) = 0;
    virtual HRESULT GetDesc(SwapChainDesc* desc) const = 0;
};

// ---------------------------------------------------------------------------
// Creation

// Creates the device, its immediate context and a swap chain. With an
// OutputWindow in the description the window's current GL context is used;
// without one a headless EGL context is made (Mesa's surfaceless platform).
// Fails unless the context is OpenGL 4.5 core or later.
HRESULT CreateDeviceAndSwapChain(const SwapChainDesc* desc, SwapChain** swapChain, Device** device,
                                 DeviceContext** context);

// ---------------------------------------------------------------------------
// Test seams

// Copies the swap chain's buffer as last drawn: RGBA8, rows top to bottom
// (what a headless program writes out as its picture). False without one.
bool ReadSwapChainPixels(SwapChain* swapChain, std::vector<uint8_t>* rgba, uint32_t* width, uint32_t* height);

namespace testing {

enum class CreationKind {
    DeviceAndSwapChain,
    SwapChainGetBuffer,
    Buffer,
    Texture1D,
    Texture2D,
    Texture3D,
    ShaderResourceView,
    RenderTargetView,
    SamplerState,
    BlendState,
    RasterizerState,
    InputLayout,
    VertexShader,
    PixelShader,
};

// The n-th creation of that kind from now on (1 = the next) fails with
// E_FAIL. One armed failure per kind; arming again replaces it.
void FailNthCreation(CreationKind kind, int n);
void ClearCreationFailures();

// ReadSwapChainPixels, under the name the tests have always used.
bool ReadBackBuffer(SwapChain* swapChain, std::vector<uint8_t>* rgba, uint32_t* width, uint32_t* height);

// Present calls on any swap chain since the start of the process.
int PresentCount();

// Objects alive across all devices (devices, contexts, swap chains and every
// child), for leak checks.
int LiveObjectCount();

}  // namespace testing

}  // namespace gpu

// Device, swap chain and pipeline set-up.
#include "render/renderer.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/d3dx/d3dx.h"
#include "platform/shell/shell.h"
#include "render/data_folders.h"

RendererRecord Renderer;

namespace {

constexpr const char* kShaderFile = "fx.fx";
constexpr const char* kAtlasFile = "tam_ui.dds";
// Shown when a vertex shader fails to compile and the compiler said nothing.
constexpr const char* kSilentCompilerText = "The shader compiler gave no reason for the failure (fx.fx).";
constexpr int kMostCompilerLines = 20;

// The rotation indicator: a 32 x 32 pixel quad about the origin, showing the
// top-right 32 x 32 texels of the atlas.
constexpr TexVertex kRotationVertices[4] = {
    {-16.0f, 16.0f, 1.0f, 0.9375f, 0.0f},
    {16.0f, 16.0f, 1.0f, 1.0f, 0.0f},
    {16.0f, -16.0f, 1.0f, 1.0f, 0.0625f},
    {-16.0f, -16.0f, 1.0f, 0.9375f, 0.0625f},
};
constexpr uint32_t kRotationIndices[6] = {0, 1, 2, 2, 3, 0};

constexpr gpu::InputElementDesc kLayoutTex[2] = {
    {"POSITION", 0, gpu::Format::R32G32B32_FLOAT, 0, 0, gpu::InputClassification::PER_VERTEX_DATA, 0},
    {"TEXCOORD", 0, gpu::Format::R32G32_FLOAT, 0, gpu::APPEND_ALIGNED_ELEMENT,
     gpu::InputClassification::PER_VERTEX_DATA, 0},
};
constexpr gpu::InputElementDesc kLayoutColor[2] = {
    {"POSITION", 0, gpu::Format::R32G32B32_FLOAT, 0, 0, gpu::InputClassification::PER_VERTEX_DATA, 0},
    {"COLOR", 0, gpu::Format::R32G32B32A32_FLOAT, 0, gpu::APPEND_ALIGNED_ELEMENT,
     gpu::InputClassification::PER_VERTEX_DATA, 0},
};
constexpr gpu::InputElementDesc kLayoutVolume[2] = {
    {"POSITION", 0, gpu::Format::R32G32B32_FLOAT, 0, 0, gpu::InputClassification::PER_VERTEX_DATA, 0},
    {"TEXCOORD", 0, gpu::Format::R32G32B32_FLOAT, 0, gpu::APPEND_ALIGNED_ELEMENT,
     gpu::InputClassification::PER_VERTEX_DATA, 0},
};

gpu::SwapChainDesc MakeSwapChainDesc() {
    gpu::SwapChainDesc sd;
    sd.BufferDesc.Width = 1280;
    sd.BufferDesc.Height = 1024;
    sd.BufferDesc.RefreshRate = {0, 0};
    sd.BufferDesc.Format = gpu::Format::B8G8R8A8_UNORM;
    sd.SampleDesc = {1, 0};
    sd.BufferUsage = gpu::USAGE_RENDER_TARGET_OUTPUT;
    sd.BufferCount = 1;
    sd.OutputWindow = shell::GetOutputWindow(MainWindow);
    sd.Windowed = true;
    sd.SwapEffect = gpu::SwapEffect::DISCARD;
    sd.Flags = 0;
    return sd;
}

gpu::BlendDesc MakeBlendDesc() {
    gpu::BlendDesc bd;  // render targets 1 to 7 stay all zero
    bd.AlphaToCoverageEnable = false;
    bd.IndependentBlendEnable = false;
    gpu::RenderTargetBlendDesc& rt = bd.RenderTarget[0];
    rt.BlendEnable = true;
    rt.SrcBlend = gpu::Blend::SRC_ALPHA;
    rt.DestBlend = gpu::Blend::INV_SRC_ALPHA;
    rt.BlendOp = gpu::BlendOp::ADD;
    rt.SrcBlendAlpha = gpu::Blend::SRC_ALPHA;
    rt.DestBlendAlpha = gpu::Blend::INV_SRC_ALPHA;
    rt.BlendOpAlpha = gpu::BlendOp::ADD;
    rt.RenderTargetWriteMask = gpu::COLOR_WRITE_ENABLE_ALL;
    return bd;
}

// The extremes keep the larger (or smaller) density in colour and the larger
// alpha (whether any slice covered the pixel).
gpu::BlendDesc MakeExtremeBlendDesc(gpu::BlendOp colourOp) {
    gpu::BlendDesc bd = MakeBlendDesc();
    gpu::RenderTargetBlendDesc& rt = bd.RenderTarget[0];
    rt.SrcBlend = rt.SrcBlendAlpha = gpu::Blend::ONE;
    rt.DestBlend = rt.DestBlendAlpha = gpu::Blend::ONE;
    rt.BlendOp = colourOp;
    rt.BlendOpAlpha = gpu::BlendOp::MAX;
    return bd;
}

gpu::RasterizerDesc MakeRasterizerDesc() {
    gpu::RasterizerDesc rd;
    rd.FillMode = gpu::FillMode::SOLID;
    rd.CullMode = gpu::CullMode::NONE;
    rd.FrontCounterClockwise = false;
    rd.DepthBias = 0;
    rd.DepthBiasClamp = 0.0f;
    rd.SlopeScaledDepthBias = 0.0f;
    rd.DepthClipEnable = false;
    rd.ScissorEnable = false;
    rd.MultisampleEnable = false;
    rd.AntialiasedLineEnable = false;
    return rd;
}

gpu::SamplerDesc MakeSamplerDesc(gpu::Filter filter, gpu::TextureAddressMode address) {
    gpu::SamplerDesc sd;
    sd.Filter = filter;
    sd.AddressU = sd.AddressV = sd.AddressW = address;
    sd.MipLODBias = 0.0f;
    sd.MaxAnisotropy = 1;
    sd.ComparisonFunc = gpu::ComparisonFunc::NEVER;
    sd.MinLOD = 0.0f;
    sd.MaxLOD = 0.0f;
    return sd;
}

void ReleaseBlob(gpu::Blob*& blob) {
    if (blob) {
        blob->Release();
        blob = nullptr;
    }
}

// One shader pair with its input layout: compile the vertex shader (its
// compiler text, if any, is the message), create it and its layout, compile
// and create the pixel shader.
bool BuildShaderPair(const char* shaderFile, const char* vsEntry, const char* psEntry,
                     const gpu::InputElementDesc* elements, uint32_t elementCount, gpu::VertexShader** vs,
                     gpu::InputLayout** layout, gpu::PixelShader** ps) {
    gpu::Blob* vsBlob = nullptr;
    gpu::Blob* errors = nullptr;
    if (gpu::FAILED(d3dx::CompileFromFile(shaderFile, vsEntry, "vs_5_0", &vsBlob, &errors))) {
        std::string text;
        if (errors && errors->GetBufferSize() > 0) {
            const char* bytes = static_cast<const char*>(errors->GetBufferPointer());
            text.assign(bytes, errors->GetBufferSize());
            text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
        }
        if (text.empty())
            text = kSilentCompilerText;
        // A file of rubbish gives an error per line: the first few say it.
        size_t cut = 0;
        int lines = 0;
        while (lines < kMostCompilerLines && (cut = text.find('\n', cut)) != std::string::npos) {
            ++cut;
            ++lines;
        }
        if (lines == kMostCompilerLines && cut < text.size()) {
            const auto more = std::count(text.begin() + static_cast<long>(cut), text.end(), '\n') +
                              (text.back() == '\n' ? 0 : 1);
            text = text.substr(0, cut) + "(" + std::to_string(more) + " more lines)";
        }
        shell::MessageBox(nullptr, text.c_str(), "error building vertex shader", shell::MB_OK);
        ReleaseBlob(errors);
        ReleaseBlob(vsBlob);
        return false;
    }
    ReleaseBlob(errors);  // warnings are not shown

    if (gpu::FAILED(Renderer.device->CreateVertexShader(vsBlob->GetBufferPointer(), vsBlob->GetBufferSize(),
                                                        nullptr, vs))) {
        ShowRendererError("CreateVertexShader failed");
        ReleaseBlob(vsBlob);
        return false;
    }
    if (gpu::FAILED(Renderer.device->CreateInputLayout(elements, elementCount, vsBlob->GetBufferPointer(),
                                                       vsBlob->GetBufferSize(), layout))) {
        ShowRendererError("CreateInputLayout failed");
        ReleaseBlob(vsBlob);
        return false;
    }

    gpu::Blob* psBlob = nullptr;
    if (gpu::FAILED(d3dx::CompileFromFile(shaderFile, psEntry, "ps_5_0", &psBlob, nullptr))) {
        ShowRendererError("D3DX11CompileFromFile failed on pixel shader");
        ReleaseBlob(vsBlob);
        return false;
    }
    if (gpu::FAILED(Renderer.device->CreatePixelShader(psBlob->GetBufferPointer(), psBlob->GetBufferSize(),
                                                       nullptr, ps))) {
        ShowRendererError("CreatePixelShader failed");
        ReleaseBlob(vsBlob);
        ReleaseBlob(psBlob);
        return false;
    }
    ReleaseBlob(vsBlob);
    ReleaseBlob(psBlob);
    return true;
}

// A pixel shader of its own (one that shares a pair's vertex shader).
bool BuildPixelShader(const char* shaderFile, const char* psEntry, gpu::PixelShader** ps) {
    gpu::Blob* psBlob = nullptr;
    if (gpu::FAILED(d3dx::CompileFromFile(shaderFile, psEntry, "ps_5_0", &psBlob, nullptr))) {
        ShowRendererError("D3DX11CompileFromFile failed on pixel shader");
        return false;
    }
    const bool made = gpu::SUCCEEDED(
        Renderer.device->CreatePixelShader(psBlob->GetBufferPointer(), psBlob->GetBufferSize(), nullptr, ps));
    ReleaseBlob(psBlob);
    if (!made)
        ShowRendererError("CreatePixelShader failed");
    return made;
}

}  // namespace

bool InitShaders() {
    // Not found anywhere: the message a missing file always gave, with the
    // folders it was looked for in.
    const std::string shaderFile = FindDataFile(kShaderFile, ProgramDataFolders());
    if (shaderFile.empty()) {
        const std::string text = std::string("cannot read '") + kShaderFile +
                                 "': " + WhyNoDataFile(kShaderFile, ProgramDataFolders());
        shell::MessageBox(nullptr, text.c_str(), "error building vertex shader", shell::MB_OK);
        return false;
    }
    if (!BuildShaderPair(shaderFile.c_str(), "VS_STex", "PS_STex", kLayoutTex, 2, &Renderer.vsTex,
                         &Renderer.layoutTex, &Renderer.psTex))
        return false;
    if (!BuildShaderPair(shaderFile.c_str(), "VS_SClr", "PS_SClr", kLayoutColor, 2, &Renderer.vsColor,
                         &Renderer.layoutColor, &Renderer.psColor))
        return false;
    if (!BuildShaderPair(shaderFile.c_str(), "VS_Volume", "PS_Volume", kLayoutVolume, 2, &Renderer.vsVolume,
                         &Renderer.layoutVolume, &Renderer.psVolume))
        return false;
    if (!BuildPixelShader(shaderFile.c_str(), "PS_VolumeFlat", &Renderer.psVolumeFlat) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_VolumeExtreme", &Renderer.psVolumeExtreme) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_ExtremeLookup", &Renderer.psExtremeLookup))
        return false;
    if (!BuildPixelShader(shaderFile.c_str(), "PS_Channels", &Renderer.psChannels) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_ChannelsFlat", &Renderer.psChannelsFlat) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_ChannelsMaximum", &Renderer.psChannelsMaximum) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_ChannelsMinimum", &Renderer.psChannelsMinimum) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_ChannelsMaximumLookup",
                          &Renderer.psChannelsMaximumLookup) ||
        !BuildPixelShader(shaderFile.c_str(), "PS_ChannelsMinimumLookup", &Renderer.psChannelsMinimumLookup))
        return false;
    if (!BuildPixelShader(shaderFile.c_str(), "PS_Plane", &Renderer.psPlane))
        return false;

    gpu::SamplerDesc simple = MakeSamplerDesc(gpu::Filter::MIN_MAG_MIP_POINT, gpu::TextureAddressMode::WRAP);
    if (gpu::FAILED(Renderer.device->CreateSamplerState(&simple, &Renderer.simpleTexSampler))) {
        ShowRendererError("CreateSamplerState failed (simple tex sampler)");
        return false;
    }
    gpu::SamplerDesc volume =
        MakeSamplerDesc(gpu::Filter::MIN_MAG_LINEAR_MIP_POINT, gpu::TextureAddressMode::CLAMP);
    if (gpu::FAILED(Renderer.device->CreateSamplerState(&volume, &Renderer.volumeSampler))) {
        ShowRendererError("CreateSamplerState failed (volume sampler)");
        return false;
    }
    gpu::SamplerDesc transfer =
        MakeSamplerDesc(gpu::Filter::MIN_MAG_LINEAR_MIP_POINT, gpu::TextureAddressMode::CLAMP);
    if (gpu::FAILED(Renderer.device->CreateSamplerState(&transfer, &Renderer.transferSampler))) {
        ShowRendererError("CreateSamplerState failed (transfer sampler)");
        return false;
    }
    return true;
}

bool CreateDeviceObjects() {
    const gpu::SwapChainDesc sd = MakeSwapChainDesc();
    if (gpu::FAILED(
            gpu::CreateDeviceAndSwapChain(&sd, &Renderer.swapChain, &Renderer.device, &Renderer.context))) {
        ShowRendererError("unable to create swap chain");
        return false;
    }

    if (!CreateBackBufferView())
        return false;
    Renderer.volumePassOnCpu = CpuDrawsVolumeLayer(
        Renderer.volumePassChoice, std::getenv("TAMLO_VOLUME_PASS"), Renderer.device->AdapterDescription());

    const gpu::RasterizerDesc rd = MakeRasterizerDesc();
    if (gpu::FAILED(Renderer.device->CreateRasterizerState(&rd, &Renderer.rasterizerState))) {
        ShowRendererError("CreateRasterizerState failed");
        return false;
    }
    // The same state clipped to a scissor rectangle, for slices that skip the
    // clear space around the volume (empty_space.h). Without it every slice
    // is drawn whole: the same picture, so no message.
    gpu::RasterizerDesc scissored = rd;
    scissored.ScissorEnable = true;
    if (gpu::FAILED(Renderer.device->CreateRasterizerState(&scissored, &Renderer.rasterizerStateScissor)))
        Renderer.rasterizerStateScissor = nullptr;
    const gpu::BlendDesc bd = MakeBlendDesc();
    if (gpu::FAILED(Renderer.device->CreateBlendState(&bd, &Renderer.blendStateUI))) {
        ShowRendererError("CreateBlendState failed");
        return false;
    }
    if (gpu::FAILED(Renderer.device->CreateBlendState(&bd, &Renderer.blendStateVolume))) {
        ShowRendererError("CreateBlendState failed");
        return false;
    }
    const gpu::BlendDesc maximum = MakeExtremeBlendDesc(gpu::BlendOp::MAX);
    const gpu::BlendDesc minimum = MakeExtremeBlendDesc(gpu::BlendOp::MIN);
    gpu::BlendDesc channelsMinimum = minimum;
    channelsMinimum.RenderTarget[0].BlendOpAlpha = gpu::BlendOp::MIN;
    if (gpu::FAILED(Renderer.device->CreateBlendState(&maximum, &Renderer.blendStateMaximum)) ||
        gpu::FAILED(Renderer.device->CreateBlendState(&minimum, &Renderer.blendStateMinimum)) ||
        gpu::FAILED(
            Renderer.device->CreateBlendState(&channelsMinimum, &Renderer.blendStateChannelsMinimum))) {
        ShowRendererError("CreateBlendState failed");
        return false;
    }

    if (!InitShaders())
        return false;

    if (gpu::FAILED(CreateDefaultBuffer(sizeof(kRotationVertices), gpu::BIND_VERTEX_BUFFER, kRotationVertices,
                                        &Renderer.rotVertexBuffer))) {
        ShowRendererError("CreateBuffer failed (rot vertex buffer)");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(sizeof(kRotationIndices), gpu::BIND_INDEX_BUFFER, kRotationIndices,
                                        &Renderer.rotIndexBuffer))) {
        ShowRendererError("CreateBuffer failed (rot index buffer)");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(kChangeOnResizeBytes, gpu::BIND_CONSTANT_BUFFER, nullptr,
                                        &Renderer.cbChangeOnResize))) {
        ShowRendererError("CreateBuffer failed (cbChangeOnResize)");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(kChangeFrameUIBytes, gpu::BIND_CONSTANT_BUFFER, nullptr,
                                        &Renderer.cbChangeFrameUI))) {
        ShowRendererError("CreateBuffer failed (cbChangeFrameUI)");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(kChangeFrameVolumeBytes, gpu::BIND_CONSTANT_BUFFER, nullptr,
                                        &Renderer.cbChangeFrameVolume))) {
        ShowRendererError("CreateBuffer failed (cbChangeFrameVolume)");
        return false;
    }
    if (gpu::FAILED(CreateDefaultBuffer(kChangeOnVolumeBytes, gpu::BIND_CONSTANT_BUFFER, nullptr,
                                        &Renderer.cbChangeOnVolume))) {
        ShowRendererError("CreateBuffer failed (cbChangeOnVolume)");
        return false;
    }

    const std::string atlasFile = FindDataFile(kAtlasFile, ProgramDataFolders());
    if (atlasFile.empty()) {
        const std::string text = std::string("D3DX11CreateShaderResourceViewFromFile failed (tam_ui.dds)\n") +
                                 WhyNoDataFile(kAtlasFile, ProgramDataFolders());
        ShowRendererError(text.c_str());
        return false;
    }
    if (gpu::FAILED(d3dx::CreateShaderResourceViewFromFile(Renderer.device, atlasFile.c_str(),
                                                           &Renderer.uiAtlasView))) {
        ShowRendererError("D3DX11CreateShaderResourceViewFromFile failed (tam_ui.dds)");
        return false;
    }
    return true;
}

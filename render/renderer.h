// The rendering core: the process-wide Renderer record with every long-lived
// GPU object, the constant-buffer layouts, device and pipeline set-up,
// resize, the idle frame and the volume frame's passes. The vertex formats,
// the window it draws for and what the subsystems make their GPU objects with
// have headers of their own, included here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3dx/d3dx_math.h"
#include "platform/gpu/gpu.h"
#include "render/client_area.h"
#include "render/drag_quality.h"
#include "render/empty_space.h"
#include "render/resources.h"
#include "render/slice_planes.h"
#include "render/software_volume_pass.h"
#include "render/vertex_formats.h"
#include "render/volume_mode.h"

// Constant-buffer sizes (bytes) and the slots the frames bind them to.
inline constexpr uint32_t kChangeOnResizeBytes = 128;     // projection, ortho
inline constexpr uint32_t kChangeFrameVolumeBytes = 224;  // viewTransposed, lightDirection, planeBlock
inline constexpr uint32_t kChangeFrameUIBytes = 80;       // uiTranslation, background
inline constexpr uint32_t kChangeOnVolumeBytes = 16;      // volumeConstants

struct RendererRecord {
    gpu::SwapChain* swapChain = nullptr;
    gpu::Device* device = nullptr;
    gpu::DeviceContext* context = nullptr;
    gpu::RenderTargetView* renderTargetView = nullptr;
    gpu::RasterizerState* rasterizerState = nullptr;
    gpu::RasterizerState* rasterizerStateScissor = nullptr;  // the same, scissored
    gpu::BlendState* blendStateVolume = nullptr;
    gpu::BlendState* blendStateUI = nullptr;
    gpu::SamplerState* simpleTexSampler = nullptr;
    gpu::SamplerState* volumeSampler = nullptr;
    gpu::SamplerState* transferSampler = nullptr;
    gpu::VertexShader* vsTex = nullptr;
    gpu::PixelShader* psTex = nullptr;
    gpu::InputLayout* layoutTex = nullptr;
    gpu::VertexShader* vsColor = nullptr;
    gpu::PixelShader* psColor = nullptr;
    gpu::InputLayout* layoutColor = nullptr;
    gpu::VertexShader* vsVolume = nullptr;
    gpu::PixelShader* psVolume = nullptr;  // shaded
    gpu::InputLayout* layoutVolume = nullptr;
    // The slices unshaded, their extremes, and the layer of extremes through
    // the lookup texture (fx.fx), with the extremes' max and min blends.
    gpu::PixelShader* psVolumeFlat = nullptr;
    gpu::PixelShader* psVolumeExtreme = nullptr;
    gpu::PixelShader* psExtremeLookup = nullptr;
    gpu::BlendState* blendStateMaximum = nullptr;
    gpu::BlendState* blendStateMinimum = nullptr;
    // The same for 2 to 4 channels drawn together (fx.fx): the mix at each
    // sample, shaded and unshaded, each channel's extremes and their lookup.
    // The minimum keeps every component's minimum, alpha's too.
    gpu::PixelShader* psChannels = nullptr;
    gpu::PixelShader* psChannelsFlat = nullptr;
    gpu::PixelShader* psChannelsMaximum = nullptr;
    gpu::PixelShader* psChannelsMinimum = nullptr;
    gpu::PixelShader* psChannelsMaximumLookup = nullptr;
    gpu::PixelShader* psChannelsMinimumLookup = nullptr;
    gpu::BlendState* blendStateChannelsMinimum = nullptr;
    // How many channels the lookup texture has rows for (SetLookupChannels):
    // 1 draws with the one-channel shaders and a 1D lookup, more with the
    // channels' shaders and a 2D lookup of one row a channel.
    uint32_t lookupChannels = 1;
    // The shown volume's gradient (volume/gradient.h), lent by the volume;
    // null: nothing to shade with.
    gpu::ShaderResourceView* gradientView = nullptr;
    // View > Shading and the way samples along a pixel combine (View >
    // Composite / Maximum / Minimum Intensity); they outlive the device.
    bool shading = true;
    VolumeMode mode = VolumeMode::Composite;
    // View > Boundaries: the box's outline and the patient's directions at
    // its faces, over the volume; it outlives the device too.
    bool boundaries = false;
    Background backgroundChoice = Background::DarkBlue;
    // The Slices menu's planes; they outlive the device and the volume.
    SlicePlanes planes;
    // Their shader (fx.fx), the block it and the composite slices read
    // (made with the first planes drawn), and their quads.
    gpu::PixelShader* psPlane = nullptr;
    gpu::Buffer* planeVertexBuffer = nullptr;
    gpu::Buffer* planeIndexBuffer = nullptr;
    // The shown volume's grid, for the planes' places (SetSlicePlanes).
    uint32_t planeGrid[3] = {0, 0, 0};
    gpu::Buffer* boundaryVertexBuffer = nullptr;
    gpu::Buffer* boundaryIndexBuffer = nullptr;
    gpu::Buffer* cbChangeOnResize = nullptr;
    gpu::Buffer* cbChangeFrameUI = nullptr;
    gpu::Buffer* cbChangeFrameVolume = nullptr;
    gpu::Buffer* cbChangeOnVolume = nullptr;
    gpu::Buffer* rotVertexBuffer = nullptr;
    gpu::Buffer* rotIndexBuffer = nullptr;
    gpu::Buffer* proxyVertexBuffer = nullptr;
    gpu::Buffer* proxyIndexBuffer = nullptr;
    uint32_t proxyIndexCount = 0;
    gpu::Buffer* centreQuadVertexBuffer = nullptr;
    gpu::Buffer* centreQuadIndexBuffer = nullptr;
    gpu::ShaderResourceView* uiAtlasView = nullptr;
    // The volume layer (volume_layer.cpp): null when the device gave none.
    gpu::Texture2D* volumeLayer = nullptr;
    gpu::RenderTargetView* volumeLayerTarget = nullptr;
    gpu::ShaderResourceView* volumeLayerView = nullptr;
    gpu::Buffer* layerQuadVertexBuffer = nullptr;
    bool volumeLayerStale = true;
    // How the layer was last drawn and how long that frame took (0: not
    // measured yet): a change on a slow device is drawn with less work from
    // it (drag_quality.h). Tests that fix the device's speed themselves turn
    // the measuring off.
    DragQuality layerQuality;
    double layerSeconds = 0;
    bool timeLayers = true;
    // After a change on a slow device the layer holds a coarse picture; the
    // whole-quality one is drawn into this second layer a band of slices at a
    // time, between inputs, and takes the layer's place once complete
    // (frames.cpp).
    gpu::Texture2D* refineLayer = nullptr;
    gpu::RenderTargetView* refineLayerTarget = nullptr;
    gpu::ShaderResourceView* refineLayerView = nullptr;
    bool refining = false;
    size_t refineNextSlice = 0;
    double refineSeconds = 0;      // spent on the bands so far
    double refineLongestBand = 0;  // the longest band so far: the most an input waits meanwhile
    // Where each slice's fan starts in the proxy index buffer, farthest first,
    // and the view depth of its plane.
    std::vector<uint32_t> sliceFirstIndex;
    std::vector<float> sliceDepth;
    // The clear space the slice pass may leave out (empty_space.h): the
    // volume's bricks (measured by the load) and the lookup texture's
    // opacities (by GenerateTransfer). Off, every slice is drawn whole.
    VolumeBricks volumeBricks;
    float volumeHalfExtents[3] = {0, 0, 0};
    LookupOpacity lookupOpacity;
    // With several channels, those of channels 1.. (channel 0's are the
    // above): a brick is clear only where every channel is clear.
    std::vector<VolumeBricks> moreChannelBricks;
    std::vector<LookupOpacity> moreChannelLookups;
    // The crop the slices were cut to, as fractions of the box (the whole box at start).
    TextureBox cropBox;
    // The part of the box the volume's textures cover (volume_part.h): the
    // volume is drawn in that part's box. The whole box but for a store read
    // in part.
    float partLow[3] = {0, 0, 0}, partHigh[3] = {1, 1, 1};
    bool skipClearSpace = true;
    // The layer drawn by the CPU instead of the slices (software_volume_pass.h):
    // the choice by hand outlives the device; what it comes to is decided
    // with each device. The CPU pass reads the volume's samples and gradient
    // (lent by the volume) and the lookup texture's texels (a copy).
    VolumePassChoice volumePassChoice = VolumePassChoice::Automatic;
    bool volumePassOnCpu = false;
    SoftwareVolume softwareVolume;
    std::vector<float> lookupTexels;
    std::vector<uint16_t> softwareImage;

    // projection and ortho lie back to back: the 128-byte cbChangeOnResize block.
    d3dx::Matrix projection{};
    d3dx::Matrix ortho{};
    d3dx::Matrix view{};
    // viewTransposed (of the drawn box's view, VolumeDrawnBox), lightDirection
    // and the planes' block lie back to back:
    // the 224-byte cbChangeFrameVolume block.
    d3dx::Matrix viewTransposed{};
    d3dx::Vector4 lightDirection{};
    float planeBlock[36]{};
    // With several channels a plane shows each visible one's grey in its
    // colour, added (hidden ones are black here).
    float planeChannelColours[4][3]{};
    d3dx::Vector4 volumeConstants{};
    d3dx::Matrix uiTranslation{};
    // View > Background, opaque (alpha 1); uiTranslation and it lie back to
    // back: the 80-byte cbChangeFrameUI block (the extremes' lookup reads it).
    d3dx::Vector4 background{0.0f, 0.0f, 0.5f, 1.0f};
};
static_assert(offsetof(RendererRecord, background) == offsetof(RendererRecord, uiTranslation) + 64);
static_assert(offsetof(RendererRecord, ortho) == offsetof(RendererRecord, projection) + 64);
static_assert(offsetof(RendererRecord, lightDirection) == offsetof(RendererRecord, viewTransposed) + 64);
static_assert(offsetof(RendererRecord, planeBlock) == offsetof(RendererRecord, lightDirection) + 16);

extern RendererRecord Renderer;

// Creates the device and swap chain for MainWindow, every pipeline object and
// the atlas view. False after one message box. (InitDevice, app_state.h, adds
// the editor, idle mode and the first sizing.)
bool CreateDeviceObjects();
// The three shader pairs with their input layouts, and the three samplers.
bool InitShaders();

// Brings the back buffer, viewport and projections into line with ClientArea
// and drops the volume layer (the caller makes one of the new size if a volume
// is shown). False, with nothing changed, without a device or for an empty
// client area (a minimised window), where what else hangs on the size keeps
// its last one too.
bool D3DResize();
// The back buffer's view, bound with a viewport of the client area; false
// after one message box.
bool CreateBackBufferView();

void RenderIdleFrame();

// View > Shading and the View menu's modes; each makes the volume layer be
// drawn again. Shading shows only where the volume has a gradient.
void SetVolumeShading(bool on);
void SetVolumeMode(VolumeMode mode);
// What the slice pass draws now: the extremes need the volume layer for the
// lookup, and without one the frames show the composite.
VolumeMode DrawnVolumeMode();
// View > Background: the layer is drawn again over it.
void SetBackground(Background background);
Background CurrentBackground();
// View > Boundaries; the layer stays, the outline is drawn over it.
void SetBoundaries(bool on);
// The box's outline and the letters of the patient's directions at the
// centres of its faces (x towards the left, y the head, z the back: R/L,
// I/S, A/P), projected as the slices are, into the back buffer over the
// composed layer. Leaves the colour pipeline bound.
void DrawBoundaries();
// The Slices menu's planes, drawn into the layer (behind the extremes'
// colour in those modes), on the volume's grid `grid` (null: the one
// before); with their outlines on, DrawPlaneOutlines draws each shown
// plane's edges in its colour over the composed layer.
void SetSlicePlanes(const SlicePlanes& planes, const uint32_t grid[3] = nullptr);
// The planes' part of cbChangeFrameVolume (fx.fx) for the pixel stage,
// `own` the plane being drawn (3: the slices, and the extremes' lookup);
// false without the block.
bool UploadPlaneConstants(int own);
void DrawPlaneOutlines();

// The volume frame's passes, in this order (RenderVolumeFrame, app_state.h,
// puts the editor panel between the last two). The slice pass draws the
// layer when it is stale (with less work on a slow device when the picture
// `mayBeCoarse` for now, whole otherwise) and composes it into the back
// buffer.
struct VolumePass {
    bool drewLayer = false;
    std::chrono::steady_clock::time_point start;
};
VolumePass DrawVolumePass(gpu::ShaderResourceView* volumeView, gpu::ShaderResourceView* transferView,
                          bool mayBeCoarse);
// Refinement of a coarse layer once the change is over: true while there is
// a band left to draw (or one to start). Each call of RefineVolumeLayer
// draws one band of about kRefineBandSeconds, farthest first; the call that
// completes it swaps the layers and returns true (the caller then presents a
// frame). Without the second layer one call draws the whole layer. Any
// change to the picture abandons it.
inline constexpr double kRefineBandSeconds = 0.05;
bool RefinementPending();
bool RefineVolumeLayer(gpu::ShaderResourceView* volumeView, gpu::ShaderResourceView* transferView);
// The textured interface pipeline: atlas, volume view, samplers, UI blending.
void BeginInterfacePass(gpu::ShaderResourceView* volumeView);
// The 32 x 32 indicator centred on the rotation drag's anchor.
void DrawRotationIndicator(int32_t anchorX, int32_t anchorY);
// Presents, and records how long the frame took when it drew the layer.
void PresentVolumeFrame(const VolumePass& pass);

// The volume layer, sized with the client area (invalidated through
// resources.h).
void CreateVolumeLayer();
void ReleaseVolumeLayer();
bool HaveVolumeLayer();
// Copies the layer into the back buffer (stretched from the top-left
// 1/divisor of it when it was drawn at a reduced resolution) and leaves the
// back buffer bound.
// In the extreme modes the layer holds densities, shown through the lookup
// texture `transferView`; with several channels the planes behind them are
// read from the volume's `volumeView`.
void ComposeVolumeLayer(uint32_t resolutionDivisor, gpu::ShaderResourceView* transferView = nullptr,
                        gpu::ShaderResourceView* volumeView = nullptr);
// The part of the layer a reduced drag frame draws into, from its top-left.
struct DragViewport {
    float width, height;
};
DragViewport ReducedViewport(uint32_t resolutionDivisor);

// What the subsystems need of the renderer to make and drop their own GPU
// objects: buffers, textures with their shader-resource views, the volume
// layer's staleness and the renderer's message boxes. Through this header,
// not the whole Renderer record.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3dx/d3dx_math.h"
#include "platform/gpu/gpu.h"
#include "render/empty_space.h"
#include "render/volume_part.h"

// A buffer of default usage with no CPU access, filled from initialData
// (null: created empty), as every buffer of the program is made.
gpu::HRESULT CreateDefaultBuffer(uint32_t byteWidth, uint32_t bindFlags, const void* initialData,
                                 gpu::Buffer** buffer);

// The messages a texture recipe shows when a step fails: the text and the
// caption of the box for the texture, and for its view.
struct TextureErrorText {
    const char* texture;
    const char* textureCaption;
    const char* view;
    const char* viewCaption;
};

// A texture the shaders only read, made from `init` with desc's size and
// format (one mip level, default usage, no CPU access, whatever else desc
// says), with a shader-resource view of the whole of it in its format.
// Without a device, or when either step fails, one message box says which
// (errors; none where its text is null), nothing is kept and both outputs
// are null.
bool CreateTextureWithView(const gpu::Texture1DDesc& desc, const gpu::SubresourceData& init,
                           const TextureErrorText& errors, gpu::Texture1D** texture,
                           gpu::ShaderResourceView** view);
// A 2D array (ArraySize above 1) takes one `init` a slice, from this one on,
// as Direct3D does, and is seen whole as an array. An `init` without data
// (pSysMem null) makes the texture empty, to be filled by FillTexture.
bool CreateTextureWithView(const gpu::Texture2DDesc& desc, const gpu::SubresourceData& init,
                           const TextureErrorText& errors, gpu::Texture2D** texture,
                           gpu::ShaderResourceView** view);
// With `failure`, a failed step's text and caption go there instead of a box.
struct TextureFailure {
    const char* text = nullptr;
    const char* caption = nullptr;
};
bool CreateTextureWithView(const gpu::Texture3DDesc& desc, const gpu::SubresourceData& init,
                           const TextureErrorText& errors, gpu::Texture3D** texture,
                           gpu::ShaderResourceView** view, TextureFailure* failure = nullptr);

// Fills a texture made without data: one slice of a 2D array, or the whole
// of any other (slice 0), from rows `rowPitch` and a 3D texture's slices
// `slicePitch` bytes apart.
void FillTexture(gpu::Resource* texture, uint32_t slice, const void* data, uint32_t rowPitch,
                 uint32_t slicePitch = 0);

// The device's largest 3D texture edge; 0 (no limit known) without a device.
uint32_t MaxVolumeTextureEdge();

// Anything that changes what the slices show (the view, the lookup texture,
// the volume) makes the volume layer be drawn again at the next frame.
void InvalidateVolumeLayer();

// What the slice pass may leave out (empty_space.h): the shown volume's
// bricks with its half extents (x, y, z; null: none), and the lookup
// texture's opacities. Both make the volume layer be drawn again. A closed
// volume leaves its bricks behind (no slices are drawn without one), so that
// nothing here runs from the volume's destructor at exit.
void SetClearSpaceVolume(VolumeBricks bricks, const float* halfExtents);
void SetClearSpaceLookup(LookupOpacity lookup);
// With several channels: the bricks of channels 1.. (channel 0's come with
// SetClearSpaceVolume), and every channel's lookup opacities, channel 0's
// first. A clear brick is one every channel leaves clear.
void SetClearSpaceMoreChannels(std::vector<VolumeBricks> bricks);
void SetClearSpaceLookups(std::vector<LookupOpacity> lookups);
// How many channels the lookup texture the frames are given has rows for:
// 1 for the one-channel 1D lookup, 2 to 4 for a 2D lookup of a row each,
// drawn with the channels' shaders (and by the slices, not the CPU's pass).
void SetLookupChannels(uint32_t channels);
// With several channels, the colour each one's grey takes on a slice plane
// (0 to 1; black for a hidden channel), `count` of them; the rest black.
void SetPlaneChannelColours(const float (*rgb)[3], uint32_t count);
// The crop the slices are cut to (per axis the fractions of the box kept):
// the clear space grows by what lies outside it. Draws the layer again.
void SetClearSpaceCrop(const float low[3], const float high[3]);

// What the CPU's volume pass reads (software_volume_pass.h), lent by the
// volume until it sets null: the 3D texture's texels and the gradient
// texture's; and whether that pass draws the layer on this device (the
// volume keeps a copy of its gradient only then).
// Several channels: `channels` of them in `components` per texel, and as
// many gradient grids one after another.
void SetSoftwareVolume(const uint16_t* texels, const uint32_t dims[3], uint32_t channels = 1,
                       uint32_t components = 1);
void SetSoftwareGradient(const uint8_t* texels, const uint32_t dims[3]);
bool VolumePassOnCpu();
// The lookup texture's RGBA texels, copied for the CPU's pass.
void SetLookupTexels(const float* rgbaTexels, uint32_t count);

// The shown volume's gradient texture for shading (null: none, the slices are
// drawn unshaded). Lent: the volume sets null before it releases the view.
void SetVolumeGradient(gpu::ShaderResourceView* gradientView);

// The camera's view for the slice pass: the view matrix and the light
// direction, and the volume's constants ((half extents / 500, 0)). Each makes
// the volume layer be drawn again. Without a device only the values are kept;
// the constant buffers start empty and are filled at the next call after it.
void SetVolumeView(const d3dx::Matrix& view, const d3dx::Vector4& lightDirection);
const d3dx::Matrix& VolumeView();
// The part of the box the volume's textures cover (fractions per axis; the
// whole box for every volume but a store read in part), and the box the
// samples are drawn in: that part's, seen through the view, with the crop
// in its fractions (volume_part.h). The slices, planes, rays and picking
// work in it; the camera, the crop and the boundaries in the whole box.
void SetVolumePart(const float low[3], const float high[3]);
DrawnBox VolumeDrawnBox();
void SetVolumeConstants(const d3dx::Vector4& constants);

// The slices' geometry, farthest plane first. The renderer takes the buffers
// over and releases those it held; an empty proxy leaves nothing to draw.
struct SliceProxy {
    gpu::Buffer* vertexBuffer = nullptr;
    gpu::Buffer* indexBuffer = nullptr;
    uint32_t indexCount = 0;
    // Where each slice's fan starts in the index buffer, and the view depth
    // of its plane.
    std::vector<uint32_t> sliceFirstIndex;
    std::vector<float> sliceDepth;
};
void SetSliceProxy(SliceProxy proxy);
// The quad over the box's central z plane, taken over likewise.
void SetCentreQuad(gpu::Buffer* vertexBuffer, gpu::Buffer* indexBuffer);

// The editor panel draws its own buffers inside the interface pass: on this
// context, moved by the interface translation (x right, y up, in pixels; its
// slide), its lines and points with the colour pipeline.
gpu::DeviceContext* InterfaceContext();
void SetInterfaceTranslation(float x, float y);
void UseColourPipeline();

// Releases a GPU object if one is held and forgets it; safe to repeat.
template <typename T>
void ReleaseAndNull(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// Message boxes of the rendering core: no owner, one OK button.
void ShowRendererError(const char* text, const char* caption = "error");

// Tamlo's shaders: the interface (textured and coloured, in pixel units) and
// the volume slices. Matrices arrive transposed from their row-vector form, so
// mul(v, M) applies them as the program builds them.

cbuffer cbChangeOnResize : register(b1)
{
    float4x4 Projection;
    float4x4 Ortho;
};

cbuffer cbChangeFrameVolume : register(b2)
{
    float4x4 View;
    float4 LightDirection;
    // The slice planes (Slices > X-Axis ...), for the pixel stage.
    float4 PlaneAt;
    float4 PlaneShown;
    float4 PlaneCropLow;
    float4 PlaneCropHigh;
    // low, high (12-bit values); for the extremes the layer's starting
    // density and 1 (0 for the composite).
    float4 GreyWindow;
    // With several channels (PlaneChannelColour[0].w 1) each channel's grey
    // on a plane takes its colour, black where the channel is hidden.
    float4 PlaneChannelColour[4];
};

cbuffer cbChangeFrameUI : register(b3)
{
    float4x4 UITranslation;
    float4 Background;  // View > Background, what the extremes lie over
};

cbuffer cbChangeOnVolume : register(b4)
{
    float4 VolumeConstants;  // half extents / 500, then the slice step (0 or 1: every slice drawn)
};

// The Slices menu's planes: where each lies (texture position of its voxel
// layer's centre) and whether it is shown, the crop they are cut to, and
// the grey window over the 12-bit values. PlaneShown.w: the plane being
// drawn (3 for the slices).

Texture2D InterfaceTexture : register(t0);
SamplerState InterfaceSampler : register(s0);
Texture3D VolumeTexture : register(t1);
SamplerState VolumeSampler : register(s1);
Texture1D TransferTexture : register(t2);
SamplerState TransferSampler : register(s2);
// The volume's gradient, worked out at load (volume/gradient.h): in xyz the
// unit normal times how much the sample is shaded (0 where the gradient is
// too weak to mean a surface), stored as 128 + 127 x in 8 bits; the
// magnitude in w. A slice per z (a 2D array), read with the volume's sampler:
// filtered within the slice, from the slice nearest the sample.
Texture2DArray GradientTexture : register(t3);

// ---------------------------------------------------------------------------
// Interface: positions in pixels about the client centre, y up.

struct TexVertexIn
{
    float3 position : POSITION;
    float2 texcoord : TEXCOORD0;
};

struct TexVertexOut
{
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
};

TexVertexOut VS_STex(TexVertexIn input)
{
    TexVertexOut output;
    output.position = mul(mul(float4(input.position, 1.0f), UITranslation), Ortho);
    output.texcoord = input.texcoord;
    return output;
}

float4 PS_STex(TexVertexOut input) : SV_TARGET
{
    return InterfaceTexture.Sample(InterfaceSampler, input.texcoord);
}

struct ColorVertexIn
{
    float3 position : POSITION;
    float4 color : COLOR0;
};

struct ColorVertexOut
{
    float4 position : SV_POSITION;
    float4 color : COLOR0;
};

ColorVertexOut VS_SClr(ColorVertexIn input)
{
    ColorVertexOut output;
    output.position = mul(mul(float4(input.position, 1.0f), UITranslation), Ortho);
    output.color = input.color;
    return output;
}

float4 PS_SClr(ColorVertexOut input) : SV_TARGET
{
    return input.color;
}

// ---------------------------------------------------------------------------
// Volume slices: positions already in view space.

struct VolumeVertexIn
{
    float3 position : POSITION;
    float3 texcoord : TEXCOORD0;
};

struct VolumeVertexOut
{
    float4 position : SV_POSITION;
    float3 texcoord : TEXCOORD0;
    // The viewing axis in object space (the third column of the view's
    // rotation): with the half extents it gives the spacing of the slices.
    nointerpolation float3 viewAxis : TEXCOORD1;
    // Towards the eye, in object space, unnormalised: the headlight sits at
    // the eye, so each sample is lit along its own ray (near a surface's
    // silhouette the light grazes it, as it does for a lamp on the viewer's
    // head). Linear in the slice's position, so interpolation keeps it exact.
    float3 towardsEye : TEXCOORD2;
};

VolumeVertexOut VS_Volume(VolumeVertexIn input)
{
    VolumeVertexOut output;
    output.position = mul(float4(input.position, 1.0f), Projection);
    output.texcoord = input.texcoord;
    output.viewAxis = float3(View[0][2], View[1][2], View[2][2]);
    // The eye is the view space's origin; View's rotation takes a view-space
    // direction back to object space (only the vertex stage has b2 bound).
    output.towardsEye = -mul((float3x3)View, input.position);
    return output;
}

// Whether the ray from the eye to texture position u meets a shown plane
// (other than plane `own`) inside the crop before it: such a point is hidden
// by the opaque plane, as a depth test against it would hide it.
bool BehindPlane(float3 u, float3 towardsEye, int own)
{
    float3 eye = u + towardsEye / (2.0f * VolumeConstants.xyz * 500.0f);
    bool hidden = false;
    [unroll] for (int j = 0; j < 3; ++j) {
        float before = eye[j] - PlaneAt[j], after = u[j] - PlaneAt[j];
        if (PlaneShown[j] > 0.5f && j != own && before * after < 0.0f) {
            float3 at = eye + before / (before - after) * (u - eye);
            at[j] = PlaneAt[j];
            hidden = hidden || all(at >= PlaneCropLow.xyz && at <= PlaneCropHigh.xyz);
        }
    }
    return hidden;
}

// Without a plane shown (the usual case) nothing is tested: one uniform
// branch per fragment.
void ClipBehindPlanes(VolumeVertexOut input)
{
    [branch] if (any(PlaneShown.xyz > 0.5f)) {
        if (BehindPlane(input.texcoord, input.towardsEye, 3))
            discard;
    }
}

// A plane: its voxel layer's samples (the filter's weight across the layer
// is 0 at its centre), grey through the window, opaque.
float4 PS_Plane(VolumeVertexOut input) : SV_TARGET
{
    if (BehindPlane(input.texcoord, input.towardsEye, (int)PlaneShown.w))
        discard;
    float4 values = VolumeTexture.Sample(VolumeSampler, input.texcoord) * (65535.0f / 16.0f);
    float4 greys = saturate((values - GreyWindow.x) / max(GreyWindow.y - GreyWindow.x, 1e-6f));
    float grey = greys.r;
    if (PlaneChannelColour[0].w > 0.5f) {
        // Several channels: composite only (the extremes' layer has no room).
        float3 mixed = greys.r * PlaneChannelColour[0].rgb + greys.g * PlaneChannelColour[1].rgb +
                       greys.b * PlaneChannelColour[2].rgb + greys.a * PlaneChannelColour[3].rgb;
        return float4(saturate(mixed), 1.0f);
    }
    // The extremes' layer keeps the density in red and coverage in alpha,
    // which the plane leaves at their starting values; its grey goes in
    // green and the mark of a plane in blue, where the slices write the
    // starting value (PS_VolumeExtreme), which the blend keeps from them.
    if (GreyWindow.w > 0.5f)
        return float4(GreyWindow.z, grey, 1.0f - GreyWindow.z, 0.0f);
    return float4(grey, grey, grey, 1.0f);
}

// The transfer function's colour of this slice's sample, with the opacity of
// the layer the slice stands for.
float4 SliceColour(VolumeVertexOut input)
{
    ClipBehindPlanes(input);
    float density = VolumeTexture.Sample(VolumeSampler, input.texcoord).r;
    float4 colour = TransferTexture.Sample(TransferSampler, density);

    // The transfer function's opacity is that of a layer an eighth of the
    // box's longest side thick (the side is 1 in object units). The 500 slices
    // share the box's depth along the view, so their spacing changes as the
    // box turns; each slice takes the share of that opacity its spacing stands
    // for, and the picture keeps its character at every orientation. (Much
    // thinner reference layers would make each slice's share so small that the
    // 8-bit target could no longer accumulate it.)
    float3 halfExtents = VolumeConstants.xyz * 500.0f;
    float depth = 2.0f * dot(halfExtents, abs(input.viewAxis));
    // A drag on a slow device may draw only every k-th slice (VolumeConstants.w
    // = k); each then stands for the k slices it replaces.
    float layers = 8.0f * depth / 501.0f * max(1.0f, VolumeConstants.w);
    float alpha = saturate(colour.a);
    // A sample the transfer function makes clear adds nothing to the blend
    // (the target times one, plus zero); skipping it changes no pixel.
    if (alpha <= 0.0f)
        discard;
    colour.a = 1.0f - pow(1.0f - alpha, layers);
    return colour;
}

// Unshaded (View > Shading off): the transfer function's colour as it is.
float4 PS_VolumeFlat(VolumeVertexOut input) : SV_TARGET
{
    return SliceColour(input);
}

// Shaded: Blinn-Phong with the headlight, two-sided so that both faces of a
// thin layer are lit. With the light at the eye the half vector is the
// direction to the eye, so one direction serves both terms. Ambient 0.3,
// diffuse 0.7 on the transfer function's colour, white specular 0.3 with
// power 20.
float4 PS_Volume(VolumeVertexOut input) : SV_TARGET
{
    float4 colour = SliceColour(input);
    uint width, height, slices;
    GradientTexture.GetDimensions(width, height, slices);
    float4 texel = GradientTexture.Sample(VolumeSampler, float3(input.texcoord.xy, input.texcoord.z * slices - 0.5f));
    // The normal times the fade: the fade is its length, and the cosine to
    // the light times the fade is one dot product.
    float3 normal = texel.xyz * (255.0f / 127.0f) - (128.0f / 127.0f);
    float fade = sqrt(dot(normal, normal));
    float facing = abs(dot(normal, normalize(input.towardsEye)));
    // facing^20 by squaring: a CPU rasteriser pays for pow's exp and log.
    float facing4 = facing * facing;
    facing4 *= facing4;
    float facing16 = facing4 * facing4;
    facing16 *= facing16;
    // Unshaded where the fade is 0, ambient 0.3 + diffuse 0.7 where it is 1
    // (the specular term, a power of the faded cosine, fades faster).
    colour.rgb = saturate(colour.rgb * (1.0f - 0.7f * fade + 0.7f * facing) + 0.3f * (facing16 * facing4));
    return colour;
}

// Maximum and minimum intensity (View > Maximum / Minimum Intensity): the
// sample's density, kept by a max or min blend in the 16-bit layer (red), and
// whether any slice covered the pixel (alpha, kept by a max blend).
// ExtremeLookup then shows the transfer function at that density.
float4 PS_VolumeExtreme(VolumeVertexOut input) : SV_TARGET
{
    float density = VolumeTexture.Sample(VolumeSampler, input.texcoord).r;
    // Green and blue stay the layer's starting value: a plane's (PS_Plane).
    return float4(density, GreyWindow.z, GreyWindow.z, 1.0f);
}

// The layer of extremes into the back buffer: the transfer function's colour
// at the pixel's extreme density, with its opacity over the background.
float4 PS_ExtremeLookup(TexVertexOut input) : SV_TARGET
{
    float4 extreme = InterfaceTexture.Sample(InterfaceSampler, input.texcoord);
    float4 colour = TransferTexture.Sample(TransferSampler, extreme.r);
    float alpha = saturate(colour.a) * extreme.a;
    // A plane lies behind the extreme as the background would (PS_Plane).
    if (GreyWindow.w > 0.5f && abs(extreme.b - GreyWindow.z) > 0.5f)
        return float4(lerp(extreme.ggg, colour.rgb, alpha), 1.0f);
    return float4(lerp(Background.rgb, colour.rgb, alpha), alpha);
}

// ---------------------------------------------------------------------------
// Several channels (2 to 4) drawn together: the volume texture holds one
// channel a component, the lookup one row a channel (a hidden channel's row
// is clear), and the gradient array one run of slices a channel, channel 0's
// first. The channels mix at each sample, along the ray: the opacity of the
// mix is that of the channels' layers one behind another, 1 - prod(1 - a_i),
// and its colour the channels' colours weighted by their opacities, so a
// channel in front hides one behind it as a specimen does. One channel drawn
// here gives the one-channel shaders' colour.

Texture2D ChannelTransferTexture : register(t4);

uint ChannelCount()
{
    uint width, rows;
    ChannelTransferTexture.GetDimensions(width, rows);
    return min(rows, 4u);
}

// Channel c's transfer function at `density`, read at its row's centre so
// that the rows never mix.
float4 ChannelLookup(uint c, uint count, float density)
{
    return ChannelTransferTexture.Sample(TransferSampler, float2(density, (c + 0.5f) / count));
}

// The layer a slice stands for (see SliceColour): how many reference layers.
float SliceLayers(VolumeVertexOut input)
{
    float3 halfExtents = VolumeConstants.xyz * 500.0f;
    float depth = 2.0f * dot(halfExtents, abs(input.viewAxis));
    return 8.0f * depth / 501.0f * max(1.0f, VolumeConstants.w);
}

// Channel c's lit colour: the one-channel shading (PS_Volume) with the
// gradient of channel c's own values. Each channel is a material of its own,
// lit by its own surfaces; the mix then weights the lit colours, which keeps
// two channels' opposite normals from cancelling where their surfaces meet.
float3 LitChannel(uint c, float3 rgb, VolumeVertexOut input, float3 towardsEye)
{
    uint width, height, slices;
    GradientTexture.GetDimensions(width, height, slices);
    uint count = ChannelCount();
    float perChannel = (float)(slices / count);
    float slice = clamp(floor(input.texcoord.z * perChannel), 0.0f, perChannel - 1.0f) + c * perChannel;
    float4 texel = GradientTexture.Sample(VolumeSampler, float3(input.texcoord.xy, slice));
    float3 normal = texel.xyz * (255.0f / 127.0f) - (128.0f / 127.0f);
    float fade = sqrt(dot(normal, normal));
    float facing = abs(dot(normal, towardsEye));
    float facing4 = facing * facing;
    facing4 *= facing4;
    float facing16 = facing4 * facing4;
    facing16 *= facing16;
    return saturate(rgb * (1.0f - 0.7f * fade + 0.7f * facing) + 0.3f * (facing16 * facing4));
}

// The channels' mix at this slice's sample, with the opacity of the layer
// the slice stands for; lit by each channel's gradient when `shaded`.
float4 ChannelsColour(VolumeVertexOut input, bool shaded)
{
    ClipBehindPlanes(input);
    float4 densities = VolumeTexture.Sample(VolumeSampler, input.texcoord);
    uint count = ChannelCount();
    float3 towardsEye = normalize(input.towardsEye);
    float3 weighted = float3(0.0f, 0.0f, 0.0f);
    float opacitySum = 0.0f;
    float clearance = 1.0f;
    for (uint c = 0; c < count; ++c) {
        float4 colour = ChannelLookup(c, count, densities[c]);
        float alpha = saturate(colour.a);
        if (alpha > 0.0f) {
            float3 rgb = shaded ? LitChannel(c, colour.rgb, input, towardsEye) : colour.rgb;
            weighted += alpha * rgb;
            opacitySum += alpha;
            clearance *= 1.0f - alpha;
        }
    }
    float alpha = 1.0f - clearance;
    // As for one channel: a clear sample adds nothing, and leaving it out
    // changes no pixel.
    if (alpha <= 0.0f || opacitySum <= 0.0f)
        discard;
    return float4(weighted / opacitySum, 1.0f - pow(1.0f - alpha, SliceLayers(input)));
}

float4 PS_ChannelsFlat(VolumeVertexOut input) : SV_TARGET
{
    return ChannelsColour(input, false);
}

float4 PS_Channels(VolumeVertexOut input) : SV_TARGET
{
    return ChannelsColour(input, true);
}

// Maximum and minimum intensity per channel: each channel's density in its
// own component of the 16-bit layer, kept by a max (min) blend on all four.
// No component is left for whether any slice covered the pixel, so a sample
// is written one step away from the layer's clear value: above 0 for the
// maximum, below 1 for the minimum. A pixel still at its clear value was
// covered by no slice.
static const float kStep = 1.0f / 65535.0f;

float4 PS_ChannelsMaximum(VolumeVertexOut input) : SV_TARGET
{
    float4 densities = VolumeTexture.Sample(VolumeSampler, input.texcoord);
    return kStep + densities * (1.0f - kStep);
}

float4 PS_ChannelsMinimum(VolumeVertexOut input) : SV_TARGET
{
    float4 densities = VolumeTexture.Sample(VolumeSampler, input.texcoord);
    return densities * (1.0f - kStep);
}

// The plane behind the extremes of several channels under the client
// pixel at `pixel` (window position), whose layer has no room for one: the
// ray through the pixel meets each shown plane inside the crop and in front
// of the near plane; the nearest one's samples, each visible channel's grey
// in its colour (PS_Plane). False where it meets none.
bool PlaneUnderPixel(float2 pixel, out float3 colour)
{
    colour = float3(0.0f, 0.0f, 0.0f);
    [branch] if (!any(PlaneShown.xyz > 0.5f))
        return false;
    // The pixel's direction in view space at depth 1, and in the object's
    // frame: a point at view depth t lies at t * along - from.
    float2 ndc = float2(pixel.x * Ortho[0][0] - 1.0f, 1.0f - pixel.y * Ortho[1][1]);
    float3 d = float3(ndc.x / Projection[0][0], ndc.y / Projection[1][1], 1.0f);
    float3 along, from;
    for (int j = 0; j < 3; ++j) {
        along[j] = dot(View[j].xyz, d);
        from[j] = dot(View[j].xyz, View[3].xyz);
    }
    float3 halfExtents = VolumeConstants.xyz * 500.0f;
    float nearZ = -Projection[3][2] / Projection[2][2];
    float nearest = 1e30f;
    float3 at = float3(0.0f, 0.0f, 0.0f);
    for (int k = 0; k < 3; ++k) {
        if (PlaneShown[k] < 0.5f || abs(along[k]) < 1e-12f)
            continue;
        float t = ((2.0f * PlaneAt[k] - 1.0f) * halfExtents[k] + from[k]) / along[k];
        float3 u = (along * t - from + halfExtents) / (2.0f * halfExtents);
        u[k] = PlaneAt[k];
        if (t >= nearZ && t < nearest && all(u >= PlaneCropLow.xyz && u <= PlaneCropHigh.xyz)) {
            nearest = t;
            at = u;
        }
    }
    if (nearest >= 1e30f)
        return false;
    float4 values = VolumeTexture.Sample(VolumeSampler, at) * (65535.0f / 16.0f);
    float4 greys = saturate((values - GreyWindow.x) / max(GreyWindow.y - GreyWindow.x, 1e-6f));
    colour = saturate(greys.r * PlaneChannelColour[0].rgb + greys.g * PlaneChannelColour[1].rgb +
                      greys.b * PlaneChannelColour[2].rgb + greys.a * PlaneChannelColour[3].rgb);
    return true;
}

// The extremes' layer into the back buffer: each channel's colour at its
// extreme, weighted by its opacity, added and saturated (fluorescence adds
// up), over the background (or a plane behind) as far as the channels'
// layers cover it.
float4 ChannelsExtremeColour(float4 densities, bool covered, float2 pixel)
{
    uint count = ChannelCount();
    float3 added = float3(0.0f, 0.0f, 0.0f);
    float clearance = 1.0f;
    for (uint c = 0; c < count; ++c) {
        float4 colour = ChannelLookup(c, count, densities[c]);
        float alpha = covered ? saturate(colour.a) : 0.0f;
        added += alpha * colour.rgb;
        clearance *= 1.0f - alpha;
    }
    float alpha = 1.0f - clearance;
    float3 plane;
    if (PlaneUnderPixel(pixel, plane))
        return float4(saturate(added + clearance * plane), 1.0f);
    return float4(saturate(added + clearance * Background.rgb), alpha);
}

float4 PS_ChannelsMaximumLookup(TexVertexOut input) : SV_TARGET
{
    float4 stored = InterfaceTexture.Sample(InterfaceSampler, input.texcoord);
    return ChannelsExtremeColour(saturate((stored - kStep) / (1.0f - kStep)), stored.r > 0.5f * kStep,
                                 input.position.xy);
}

float4 PS_ChannelsMinimumLookup(TexVertexOut input) : SV_TARGET
{
    float4 stored = InterfaceTexture.Sample(InterfaceSampler, input.texcoord);
    return ChannelsExtremeColour(saturate(stored / (1.0f - kStep)), stored.r < 1.0f - 0.5f * kStep,
                                 input.position.xy);
}

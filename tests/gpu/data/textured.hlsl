// A textured quad for the GPU layer's tests: the vertex shader multiplies by a
// matrix uploaded transposed, the pixel shader samples t0 with s0.
cbuffer Transform : register(b0)
{
    float4x4 worldViewProj;
};

Texture2D picture : register(t0);
SamplerState pointSampler : register(s0);

struct VSIn
{
    float3 pos : POSITION;
    float2 uv : TEXCOORD0;
};

struct PSIn
{
    float4 pos : SV_POSITION;
    float2 uv : TEXCOORD0;
};

PSIn VS(VSIn input)
{
    PSIn output;
    output.pos = mul(float4(input.pos, 1.0f), worldViewProj);
    output.uv = input.uv;
    return output;
}

float4 PS(PSIn input) : SV_TARGET
{
    return picture.Sample(pointSampler, input.uv);
}

// View > Boundaries: the volume box's twelve edges and, beyond the centre of
// each face, the letter of the patient's direction it faces, drawn as lines
// in the interface space over the composed layer. The letters are strokes of
// our own, so that the same picture comes from the window and the batch
// renderer, which has no font.
#include <algorithm>
#include <cmath>
#include <vector>

#include "render/renderer.h"

namespace {

constexpr uint32_t kBoundaryVertices = 128;
constexpr uint32_t kColorStride = sizeof(ColorVertex);
constexpr uint32_t kZeroOffset = 0;
constexpr float kBlendFactor[4] = {0.0f, 0.0f, 0.0f, 0.0f};
// Amber shows on every background the View menu offers.
constexpr float kLineColour[4] = {1.0f, 0.75f, 0.0f, 1.0f};
constexpr float kLetterHeight = 12.0f;  // pixels
// The letters sit a little beyond their faces, clear of the outline.
constexpr float kLetterOutset = 1.15f;
// How far a face's normal may point away from the eye (the cosine) and still
// be lettered: edge-on faces are, faces seen from behind are not.
constexpr float kAwayLimit = 0.25f;

struct Stroke {
    float x0, y0, x1, y1;  // in a cell 0.8 wide and 1 tall, y up
};

// The sample axes run towards the patient's left (x), head (y) and back
// (z), as every scan is turned (volume/scan_import.h) and a volume file's
// axes are taken: the faces at -x, +x, -y, +y, -z, +z.
const std::vector<Stroke>& LetterStrokes(char letter) {
    static const std::vector<Stroke> kR = {
        {0, 0, 0, 1}, {0, 1, 0.8f, 1}, {0.8f, 1, 0.8f, 0.5f}, {0.8f, 0.5f, 0, 0.5f}, {0.3f, 0.5f, 0.8f, 0}};
    static const std::vector<Stroke> kL = {{0, 1, 0, 0}, {0, 0, 0.8f, 0}};
    static const std::vector<Stroke> kI = {{0.4f, 0, 0.4f, 1}, {0.1f, 1, 0.7f, 1}, {0.1f, 0, 0.7f, 0}};
    static const std::vector<Stroke> kS = {
        {0.8f, 1, 0, 1}, {0, 1, 0, 0.5f}, {0, 0.5f, 0.8f, 0.5f}, {0.8f, 0.5f, 0.8f, 0}, {0.8f, 0, 0, 0}};
    static const std::vector<Stroke> kA = {{0, 0, 0.4f, 1}, {0.4f, 1, 0.8f, 0}, {0.2f, 0.5f, 0.6f, 0.5f}};
    static const std::vector<Stroke> kP = {
        {0, 0, 0, 1}, {0, 1, 0.8f, 1}, {0.8f, 1, 0.8f, 0.5f}, {0.8f, 0.5f, 0, 0.5f}};
    switch (letter) {
        case 'R':
            return kR;
        case 'L':
            return kL;
        case 'I':
            return kI;
        case 'S':
            return kS;
        case 'A':
            return kA;
        default:
            return kP;
    }
}
constexpr char kFaceLetters[3][2] = {{'R', 'L'}, {'I', 'S'}, {'A', 'P'}};

// Object space to interface pixels (about the client centre, y up); false
// behind the eye.
bool Project(const float at[3], const d3dx::Matrix& projection, float* x, float* y,
             const d3dx::Matrix& objectToView = Renderer.view) {
    const d3dx::Vector3 object{at[0], at[1], at[2]};
    d3dx::Vector4 view;
    d3dx::Vec3Transform(&view, &object, &objectToView);
    const d3dx::Vector3 viewPoint{view.x, view.y, view.z};
    d3dx::Vector4 clip;
    d3dx::Vec3Transform(&clip, &viewPoint, &projection);
    if (clip.w <= 1e-4f)
        return false;
    *x = clip.x / clip.w * ClientArea.halfWidth;
    *y = clip.y / clip.w * ClientArea.halfHeight;
    return true;
}

bool MakeBoundaryBuffers() {
    if (Renderer.boundaryVertexBuffer != nullptr && Renderer.boundaryIndexBuffer != nullptr)
        return true;
    std::vector<uint32_t> indices(kBoundaryVertices);
    for (uint32_t i = 0; i < kBoundaryVertices; ++i)
        indices[i] = i;
    if (gpu::FAILED(CreateDefaultBuffer(kBoundaryVertices * kColorStride, gpu::BIND_VERTEX_BUFFER, nullptr,
                                        &Renderer.boundaryVertexBuffer)) ||
        gpu::FAILED(CreateDefaultBuffer(kBoundaryVertices * sizeof(uint32_t), gpu::BIND_INDEX_BUFFER,
                                        indices.data(), &Renderer.boundaryIndexBuffer))) {
        ReleaseAndNull(Renderer.boundaryVertexBuffer);
        ReleaseAndNull(Renderer.boundaryIndexBuffer);
        return false;
    }
    return true;
}

// Line pairs in interface pixels into the back buffer, over the layer.
void DrawLines(std::vector<ColorVertex> lines) {
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(lines.size(), kBoundaryVertices));
    lines.resize(kBoundaryVertices, ColorVertex{});
    gpu::DeviceContext* ctx = Renderer.context;
    ctx->UpdateSubresource(Renderer.boundaryVertexBuffer, 0, nullptr, lines.data(), 0, 0);
    ctx->OMSetRenderTargets(1, &Renderer.renderTargetView, nullptr);
    ctx->OMSetBlendState(Renderer.blendStateUI, kBlendFactor, 0xFFFFFFFF);
    ctx->RSSetState(Renderer.rasterizerState);
    ctx->VSSetConstantBuffers(1, 1, &Renderer.cbChangeOnResize);
    ctx->VSSetConstantBuffers(3, 1, &Renderer.cbChangeFrameUI);
    UseColourPipeline();
    SetInterfaceTranslation(0.0f, 0.0f);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::LINELIST);
    ctx->IASetVertexBuffers(0, 1, &Renderer.boundaryVertexBuffer, &kColorStride, &kZeroOffset);
    ctx->IASetIndexBuffer(Renderer.boundaryIndexBuffer, gpu::Format::R32_UINT, 0);
    ctx->DrawIndexed(count, 0, 0);
    ctx->IASetPrimitiveTopology(gpu::PrimitiveTopology::TRIANGLELIST);
}

}  // namespace

void SetBoundaries(bool on) {
    Renderer.boundaries = on;
}

void DrawBoundaries() {
    const float* half = Renderer.volumeHalfExtents;
    if (!Renderer.boundaries || Renderer.context == nullptr || half[0] <= 0 || half[1] <= 0 || half[2] <= 0 ||
        ClientArea.width <= 0 || ClientArea.height <= 0 || !MakeBoundaryBuffers())
        return;
    d3dx::Matrix projection;  // kept transposed for the shaders
    d3dx::MatrixTranspose(&projection, &Renderer.projection);
    std::vector<ColorVertex> lines;
    const auto add = [&](float x, float y) {
        lines.push_back({x, y, 1.0f, kLineColour[0], kLineColour[1], kLineColour[2], kLineColour[3]});
    };
    // The edges: corner c has x, y, z at +half where bits 0, 1, 2 are set.
    float px[8], py[8];
    bool seen[8];
    for (int c = 0; c < 8; ++c) {
        const float at[3] = {c & 1 ? half[0] : -half[0], c & 2 ? half[1] : -half[1],
                             c & 4 ? half[2] : -half[2]};
        seen[c] = Project(at, projection, &px[c], &py[c]);
    }
    for (int c = 0; c < 8; ++c)
        for (int bit : {1, 2, 4})
            if (!(c & bit) && seen[c] && seen[c | bit]) {
                add(px[c], py[c]);
                add(px[c | bit], py[c | bit]);
            }
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side) {
            // A face turned away from the eye keeps its letter to itself: it
            // would lie over the letter of the face in front of it.
            const float away = (side ? 1.0f : -1.0f) * Renderer.view.m[axis][2];
            if (away > kAwayLimit)
                continue;
            float at[3] = {0, 0, 0};
            at[axis] = (side ? half[axis] : -half[axis]) * kLetterOutset;
            float x = 0, y = 0;
            if (!Project(at, projection, &x, &y))
                continue;
            // Whole pixels, so that the strokes stay crisp.
            const float left = std::round(x - 0.4f * kLetterHeight),
                        bottom = std::round(y - 0.5f * kLetterHeight);
            for (const Stroke& s : LetterStrokes(kFaceLetters[axis][side])) {
                add(left + s.x0 * kLetterHeight, bottom + s.y0 * kLetterHeight);
                add(left + s.x1 * kLetterHeight, bottom + s.y1 * kLetterHeight);
            }
        }
    DrawLines(lines);
}

void DrawPlaneOutlines() {
    // The planes lie on the samples' grid, in the box they are drawn in.
    const DrawnBox drawn = VolumeDrawnBox();
    const float* half = drawn.half;
    const SlicePlanes& planes = Renderer.planes;
    const uint32_t* dims = Renderer.planeGrid;
    if (!planes.outlines || !AnyPlaneShown(planes) || Renderer.context == nullptr || half[0] <= 0 ||
        half[1] <= 0 || half[2] <= 0 || ClientArea.width <= 0 || ClientArea.height <= 0 ||
        !MakeBoundaryBuffers())
        return;
    d3dx::Matrix projection;  // kept transposed for the shaders
    d3dx::MatrixTranspose(&projection, &Renderer.projection);
    std::vector<ColorVertex> lines;
    const TextureBox& crop = drawn.crop;
    const auto object = [&](int axis, float u) { return (2.0f * u - 1.0f) * half[axis]; };
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t index = planes.index[axis];
        if (!planes.shown[axis] || index < 0 || static_cast<uint32_t>(index) >= dims[axis])
            continue;
        const float at = PlaneTexturePosition(index, dims[axis]);
        if (at < crop.low[axis] || at > crop.high[axis])
            continue;
        // The plane's part of the crop: its four corners, in turn round it.
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        float px[4], py[4];
        bool seen = true;
        for (int c = 0; c < 4; ++c) {
            float p[3];
            p[axis] = object(axis, at);
            p[a] = object(a, (c == 1 || c == 2) ? crop.high[a] : crop.low[a]);
            p[b] = object(b, c >= 2 ? crop.high[b] : crop.low[b]);
            seen = seen && Project(p, projection, &px[c], &py[c], drawn.view);
        }
        if (!seen)
            continue;
        const float* colour = kPlaneColours[axis];
        for (int c = 0; c < 4; ++c)
            for (int end : {c, (c + 1) % 4})
                lines.push_back({px[end], py[end], 1.0f, colour[0], colour[1], colour[2], colour[3]});
    }
    DrawLines(lines);
}

#include "ui/transfer_function.h"

#include <bit>
#include <cmath>
#include <cstring>

void WalkTransferFunction(const ControlPoint* points, uint32_t pointCount, float* texels) {
    const uint32_t last = pointCount - 1;
    uint32_t i = 1;
    for (int j = 0; j < kTransferTexels; ++j) {
        const float t = static_cast<float>(j) * (1.0f / 1024.0f);
        if (t > points[i].position && i < last)
            ++i;
        const ControlPoint& from = points[i - 1];
        const ControlPoint& to = points[i];
        const float length = to.position - from.position;
        float f = (t - from.position) / length;
        // A zero-length segment is a step: it takes its end point's values. So
        // does everything beyond a last point that lies below 1.
        if (length == 0.0f || !std::isfinite(f) || (i == last && t > to.position))
            f = 1.0f;
        float* texel = texels + 4 * j;
        texel[0] = (to.red - from.red) * f + from.red;
        texel[1] = (to.green - from.green) * f + from.green;
        texel[2] = (to.blue - from.blue) * f + from.blue;
        texel[3] = (to.alpha - from.alpha) * f + from.alpha;
    }
}

std::vector<uint8_t> SerializeTransferFunction(const ControlPoint* points, uint32_t pointCount) {
    std::vector<uint8_t> bytes(4 + sizeof(ControlPoint) * pointCount);
    for (int b = 0; b < 4; ++b)
        bytes[b] = static_cast<uint8_t>(pointCount >> (8 * b));
    // The records are the in-memory layout: five IEEE floats, little-endian on
    // every machine this program runs on.
    static_assert(std::endian::native == std::endian::little);
    std::memcpy(bytes.data() + 4, points, sizeof(ControlPoint) * pointCount);
    return bytes;
}

bool ParseTransferFunction(const uint8_t* bytes, size_t size, std::vector<ControlPoint>* points,
                           std::string* error) {
    if (size < 4) {
        *error = "the file is shorter than its 4-byte point count";
        return false;
    }
    const uint32_t count = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    if (count < 2) {
        *error = "it holds " + std::to_string(count) + (count == 1 ? " point" : " points") +
                 "; a transfer function needs at least 2";
        return false;
    }
    if ((size - 4) / sizeof(ControlPoint) < count) {
        *error = "it is shorter than its " + std::to_string(count) + " points need (" +
                 std::to_string(4 + uint64_t{count} * sizeof(ControlPoint)) + " bytes, the file has " +
                 std::to_string(size) + ")";
        return false;
    }
    points->resize(count);
    std::memcpy(points->data(), bytes + 4, sizeof(ControlPoint) * count);
    return true;
}

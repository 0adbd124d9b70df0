#include "ui/transfer_function.h"

#include <bit>
#include <cmath>
#include <cstdio>
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
    if (count > kMaxControlPoints) {
        *error = "it holds " + std::to_string(count) + " points; the editor takes at most " +
                 std::to_string(kMaxControlPoints);
        return false;
    }
    std::vector<ControlPoint> read(count);
    std::memcpy(read.data(), bytes + 4, sizeof(ControlPoint) * count);
    // The editor never writes anything else: positions from 0 to 1 in order,
    // colour and opacity within 0..1, every value finite.
    auto where = [&](uint32_t i) {
        return "point " + std::to_string(i + 1) + " of " + std::to_string(count);
    };
    auto text = [](float v) {
        char buffer[32];
        std::snprintf(buffer, sizeof(buffer), "%g", static_cast<double>(v));
        return std::string(buffer);
    };
    for (uint32_t i = 0; i < count; ++i) {
        const ControlPoint& p = read[i];
        const float values[5] = {p.position, p.red, p.green, p.blue, p.alpha};
        const char* names[5] = {"position", "red", "green", "blue", "opacity"};
        for (int v = 0; v < 5; ++v) {
            if (!(values[v] >= 0.0f && values[v] <= 1.0f)) {
                *error = where(i) + ": " + names[v] + " " + text(values[v]) + " is not within 0..1";
                return false;
            }
        }
        if (i == 0 && p.position != 0.0f) {
            *error = where(i) + ": the first point lies at " + text(p.position) + ", not at 0";
            return false;
        }
        if (i == count - 1 && p.position != 1.0f) {
            *error = where(i) + ": the last point lies at " + text(p.position) + ", not at 1";
            return false;
        }
        if (i > 0 && p.position < read[i - 1].position) {
            *error = where(i) + ": position " + text(p.position) + " lies before the point ahead of it (" +
                     text(read[i - 1].position) + ")";
            return false;
        }
    }
    *points = std::move(read);
    return true;
}

uint32_t ChannelColour(int32_t fileColour, uint32_t index) {
    constexpr uint32_t kDefaults[4] = {0x00FF00, 0xFF00FF, 0x00FFFF, 0xFFFF00};
    return fileColour >= 0 ? static_cast<uint32_t>(fileColour) & 0xFFFFFFu : kDefaults[index % 4];
}

std::vector<ControlPoint> ChannelRamp(uint32_t rgb) {
    const float r = static_cast<float>((rgb >> 16) & 0xFF) / 255.0f;
    const float g = static_cast<float>((rgb >> 8) & 0xFF) / 255.0f;
    const float b = static_cast<float>(rgb & 0xFF) / 255.0f;
    return {{0.0f, r, g, b, 0.0f}, {1.0f, r, g, b, kChannelRampOpacity}};
}

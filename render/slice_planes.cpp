#include "render/slice_planes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr const char* kNames[3] = {"sagittal", "axial", "coronal"};
constexpr char kAxisLetters[3] = {'x', 'y', 'z'};
}  // namespace

const char* PlaneName(int axis) {
    return axis >= 0 && axis < 3 ? kNames[axis] : "";
}

void ClampPlanes(SlicePlanes& planes, const uint32_t dims[3]) {
    for (int axis = 0; axis < 3; ++axis) {
        const int32_t last = static_cast<int32_t>(std::min<uint32_t>(dims[axis], INT32_MAX)) - 1;
        int32_t& i = planes.index[axis];
        if (last < 0)
            i = -1;
        else if (i < 0)
            i = last / 2;
        else
            i = std::min(i, last);
    }
}

void TogglePlane(SlicePlanes& planes, int axis, const uint32_t dims[3]) {
    if (axis < 0 || axis > 2)
        return;
    ClampPlanes(planes, dims);
    planes.shown[axis] = !planes.shown[axis];
    if (planes.shown[axis]) {
        planes.current = axis;
    } else if (planes.current == axis) {
        // Page Up then moves another plane still shown, if any.
        planes.current = -1;
        for (int a = 2; a >= 0; --a)
            if (planes.shown[a] && planes.current < 0)
                planes.current = a;
    }
}

bool MovePlane(SlicePlanes& planes, int delta, const uint32_t dims[3]) {
    const int axis = planes.current;
    if (axis < 0 || axis > 2 || !planes.shown[axis])
        return false;
    ClampPlanes(planes, dims);
    const int64_t last = static_cast<int64_t>(dims[axis]) - 1;
    planes.index[axis] = static_cast<int32_t>(
        std::clamp<int64_t>(int64_t{planes.index[axis]} + delta, 0, std::max<int64_t>(last, 0)));
    return true;
}

void ClearPlanes(SlicePlanes& planes) {
    planes.shown[0] = planes.shown[1] = planes.shown[2] = false;
    planes.current = -1;
}

bool AnyPlaneShown(const SlicePlanes& planes) {
    return planes.shown[0] || planes.shown[1] || planes.shown[2];
}

std::string PlanePlaceText(const SlicePlanes& planes, const uint32_t dims[3], const float spacing[3]) {
    const int axis = planes.current;
    if (axis < 0 || axis > 2 || !planes.shown[axis] || dims[axis] == 0)
        return {};
    const int32_t i = std::clamp<int32_t>(planes.index[axis], 0, static_cast<int32_t>(dims[axis]) - 1);
    char text[96];
    std::snprintf(text, sizeof(text), "%s %d / %u, %.1f mm", kNames[axis], i + 1, dims[axis],
                  static_cast<double>(i) * spacing[axis]);
    return text;
}

float PlaneGrey(float value12, float low, float high) {
    if (!(high > low))
        return value12 >= high ? 1.0f : 0.0f;
    return std::clamp((value12 - low) / (high - low), 0.0f, 1.0f);
}

std::optional<PlaneHit> PlaneUnderCursor(const PlaneCamera& camera, const SlicePlanes& planes,
                                         const uint32_t dims[3], int32_t x, int32_t y) {
    const d3dx::Matrix& v = camera.view;
    const d3dx::Matrix& p = camera.projection;
    if (!(camera.width > 0 && camera.height > 0) || p.m[0][0] == 0.0f || p.m[1][1] == 0.0f)
        return std::nullopt;
    for (int j = 0; j < 3; ++j)
        if (!(camera.halfExtents[j] > 0.0f))
            return std::nullopt;
    // The ray as the CPU pass casts it: view space x / z and y / z at the
    // pixel's centre, then each texture coordinate linear in the view depth.
    const float dirX = ((static_cast<float>(x) + 0.5f) / camera.width * 2.0f - 1.0f) / p.m[0][0];
    const float dirY = (1.0f - (static_cast<float>(y) + 0.5f) / camera.height * 2.0f) / p.m[1][1];
    const float m22 = p.m[2][2], m32 = p.m[3][2];
    const float nearZ = m22 != 0.0f ? -m32 / m22 : 0.0f;
    const float farZ = m22 != 1.0f ? m22 * nearZ / (m22 - 1.0f) : INFINITY;
    float u0[3], du[3];
    for (int j = 0; j < 3; ++j) {
        const float origin = -(v.m[3][0] * v.m[j][0] + v.m[3][1] * v.m[j][1] + v.m[3][2] * v.m[j][2]);
        const float width = 2.0f * camera.halfExtents[j];
        u0[j] = (origin + camera.halfExtents[j]) / width;
        du[j] = (dirX * v.m[j][0] + dirY * v.m[j][1] + v.m[j][2]) / width;
    }
    PlaneHit hit;
    float nearest = INFINITY;
    for (int j = 0; j < 3; ++j) {
        const int32_t index = planes.index[j];
        if (!planes.shown[j] || index < 0 || static_cast<uint32_t>(index) >= dims[j] || du[j] == 0.0f)
            continue;
        const float at = PlaneTexturePosition(index, dims[j]);
        const float z = (at - u0[j]) / du[j];
        if (!(z >= nearZ && z <= farZ && z < nearest))
            continue;
        float u[3];
        bool inside = true;
        for (int k = 0; k < 3; ++k) {
            u[k] = k == j ? at : u0[k] + z * du[k];
            inside = inside && u[k] >= camera.cropLow[k] && u[k] <= camera.cropHigh[k];
        }
        if (!inside)
            continue;
        nearest = z;
        hit.axis = j;
        hit.depth = z;
        for (int k = 0; k < 3; ++k) {
            hit.position[k] = u[k];
            const float voxel = std::floor(u[k] * static_cast<float>(dims[k]));
            hit.voxel[k] =
                k == j ? index
                       : static_cast<int32_t>(std::clamp(voxel, 0.0f, static_cast<float>(dims[k] - 1)));
        }
    }
    if (hit.axis < 0)
        return std::nullopt;
    return hit;
}

namespace {

void SetGreyWindow(float width, float level, float* low, float* high) {
    width = std::clamp(width, kGreyMinWidth, kGreyMaxWidth);
    level = std::clamp(level, 0.0f, kGreyMaxLevel);
    *low = level - width * 0.5f;
    *high = level + width * 0.5f;
}

}  // namespace

void DragGreyWindow(float low, float high, int32_t dx, int32_t dy, float* newLow, float* newHigh) {
    FitGreyWindow(&low, &high);
    SetGreyWindow(high - low + static_cast<float>(dx) * kGreyPerPixel,
                  (low + high) * 0.5f + static_cast<float>(dy) * kGreyPerPixel, newLow, newHigh);
}

void FitGreyWindow(float* low, float* high, const uint32_t* counts, size_t values) {
    bool fits = std::isfinite(*low) && std::isfinite(*high) && *high > *low;
    if (fits)
        SetGreyWindow(*high - *low, (*low + *high) * 0.5f, low, high);
    size_t first = 0, last = values;
    while (counts != nullptr && first < values && counts[first] == 0)
        ++first;
    while (counts != nullptr && last > first && counts[last - 1] == 0)
        --last;
    if (fits && last > first)
        fits = static_cast<float>(last - 1) > *low && static_cast<float>(first) < *high;
    if (!fits) {
        *low = 0.0f;
        *high = 4095.0f;
    }
}

std::string ParsePlaneList(const std::string& text, SlicePlanes* planes) {
    SlicePlanes out = *planes;
    bool seen[3] = {false, false, false};
    size_t at = 0;
    if (text.empty())
        return "--slices takes x=N,y=N,z=N (any of them), not \"\"";
    while (at <= text.size()) {
        const size_t end = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, end - at);
        const char* letter = item.empty() ? nullptr : std::find(kAxisLetters, kAxisLetters + 3, item[0]);
        if (letter == nullptr || letter == kAxisLetters + 3 || item.size() < 3 || item[1] != '=')
            return "--slices takes x=N,y=N,z=N (any of them), not \"" + item + "\"";
        const int axis = static_cast<int>(letter - kAxisLetters);
        if (seen[axis])
            return std::string("--slices names ") + kAxisLetters[axis] + " twice";
        seen[axis] = true;
        const std::string number = item.substr(2);
        char* stop = nullptr;
        const long long n = std::strtoll(number.c_str(), &stop, 10);
        if (number.find_first_not_of("0123456789") != std::string::npos || *stop != '\0' || n > INT32_MAX)
            return std::string("--slices ") + kAxisLetters[axis] + " takes a layer from 0, not \"" + number +
                   "\"";
        out.shown[axis] = true;
        out.index[axis] = static_cast<int32_t>(n);
        out.current = axis;
        at = end + 1;
    }
    *planes = out;
    return "";
}

std::string PlanesOutsideGrid(const SlicePlanes& planes, const uint32_t dims[3]) {
    for (int axis = 0; axis < 3; ++axis)
        if (planes.shown[axis] &&
            (planes.index[axis] < 0 || static_cast<uint32_t>(planes.index[axis]) >= dims[axis]))
            return std::string("--slices ") + kAxisLetters[axis] + "=" + std::to_string(planes.index[axis]) +
                   " lies past the grid: its layers are 0.." + std::to_string(int64_t{dims[axis]} - 1);
    return "";
}

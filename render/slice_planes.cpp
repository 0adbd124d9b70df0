#include "render/slice_planes.h"

#include <algorithm>
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

#include "ui/value_readout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace UI {

double ValueAtPosition(float position, const ValueScale& scale) {
    const double twelveBit = std::clamp(static_cast<double>(position), 0.0, 1.0) * 4095.0;
    if (!scale.isScan)
        return std::round(twelveBit);
    return scale.windowLow + twelveBit / 4095.0 * (scale.windowHigh - scale.windowLow);
}

std::string ValueText(float position, const ValueScale& scale) {
    const double value = ValueAtPosition(position, scale);
    // One step of the 12 bits in the window's units sets the digits worth showing.
    const double step = scale.isScan ? std::fabs(scale.windowHigh - scale.windowLow) / 4095.0 : 1.0;
    char number[64];
    if (step >= 0.5) {
        std::snprintf(number, sizeof(number), "%.0f", value);
    } else {
        const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step))), 1, 9);
        std::snprintf(number, sizeof(number), "%.*f", decimals, value);
    }
    return scale.unit.empty() ? std::string("value ") + number : std::string(number) + " " + scale.unit;
}

std::string ValueReadoutText(float position, const ValueScale& scale, float opacity) {
    char text[32];
    std::snprintf(text, sizeof(text), ", opacity %.2f", static_cast<double>(opacity));
    return ValueText(position, scale) + text;
}

float OpacityAt(const ControlPoint* points, uint32_t count, float position) {
    if (count == 0)
        return 0.0f;
    if (position <= points[0].position)
        return points[0].alpha;
    for (uint32_t i = 1; i < count; ++i) {
        if (position <= points[i].position) {
            const float span = points[i].position - points[i - 1].position;
            if (!(span > 0.0f))
                return points[i].alpha;
            const float t = (position - points[i - 1].position) / span;
            return points[i - 1].alpha + t * (points[i].alpha - points[i - 1].alpha);
        }
    }
    return points[count - 1].alpha;
}

}  // namespace UI

#include "ui/hsl.h"

#include <cmath>

HslColor RgbToHsl(float red, float green, float blue) {
    float max = red, min = red;
    if (green > max)
        max = green;
    if (blue > max)
        max = blue;
    if (green < min)
        min = green;
    if (blue < min)
        min = blue;
    const float delta = max - min;

    float h = 0.0f;
    if (delta != 0.0f) {
        if (max == red) {
            h = (green - blue) / delta;
            if (h < 0.0f)
                h += 6.0f;
        } else if (max == green) {
            h = (blue - red) / delta + 2.0f;
        } else {
            h = (red - green) / delta + 4.0f;
        }
    }
    HslColor hsl;
    hsl.hue = h * 60.0f;
    hsl.lightness = (min + max) * 0.5f;
    if (delta == 0.0f) {
        hsl.saturation = 0.0f;
    } else if (hsl.lightness > 0.5f) {
        hsl.saturation = delta / (2.0f - 2.0f * hsl.lightness);
    } else {
        hsl.saturation = delta / (2.0f * hsl.lightness);
    }
    return hsl;
}

RgbaColor HslToRgba(const HslColor& hsl, float alpha) {
    const float chroma = hsl.lightness > 0.5f ? (2.0f - 2.0f * hsl.lightness) * hsl.saturation
                                              : (2.0f * hsl.lightness) * hsl.saturation;
    const float h = hsl.hue / 60.0f;
    const float x = (1.0f - std::fabs(std::fmod(h, 2.0f) - 1.0f)) * chroma;
    float r1, g1, b1;
    if (h < 1.0f) {
        r1 = chroma, g1 = x, b1 = 0.0f;
    } else if (h < 2.0f) {
        r1 = x, g1 = chroma, b1 = 0.0f;
    } else if (h < 3.0f) {
        r1 = 0.0f, g1 = chroma, b1 = x;
    } else if (h < 4.0f) {
        r1 = 0.0f, g1 = x, b1 = chroma;
    } else if (h < 5.0f) {
        r1 = x, g1 = 0.0f, b1 = chroma;
    } else if (h < 6.0f) {
        r1 = chroma, g1 = 0.0f, b1 = x;
    } else {
        r1 = g1 = b1 = 1.0f;
    }
    const float m = hsl.lightness - chroma * 0.5f;
    return {m + r1, m + g1, m + b1, alpha};
}

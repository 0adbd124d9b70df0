// Conversions between RGB and hue / saturation / lightness for the colour picker.
#pragma once

struct HslColor {
    float hue;  // degrees
    float saturation;
    float lightness;
};

struct RgbaColor {
    float red, green, blue, alpha;
};

// hue in [0, 360); when two components share the maximum, red wins over green
// and green over blue.
HslColor RgbToHsl(float red, float green, float blue);
// Nothing is clamped: a slightly negative hue (the picker can give -2) yields a
// slightly negative component, and a hue of 360 or more (or NaN) gives m + 1.
RgbaColor HslToRgba(const HslColor& hsl, float alpha);

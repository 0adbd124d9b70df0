// How the samples along a pixel make its colour, shared by both volume passes.
#pragma once

// Blended front to back through the transfer function, or the transfer
// function at the largest or smallest density along it.
enum class VolumeMode { Composite, Maximum, Minimum };

// The colour behind the volume (View > Background), opaque; the same in both
// passes, the idle window and the pictures saved.
enum class Background { DarkBlue, Black, Grey, White };
inline constexpr Background kBackgrounds[4] = {Background::DarkBlue, Background::Black, Background::Grey,
                                               Background::White};
// "dark-blue", "black", "grey" or "white", as tamlo-render names them.
inline const char* BackgroundName(Background background) {
    switch (background) {
        case Background::Black:
            return "black";
        case Background::Grey:
            return "grey";
        case Background::White:
            return "white";
        case Background::DarkBlue:
            break;
    }
    return "dark-blue";
}
struct BackgroundColour {
    float r, g, b;
};
inline BackgroundColour ColourOfBackground(Background background) {
    switch (background) {
        case Background::Black:
            return {0.0f, 0.0f, 0.0f};
        case Background::Grey:
            return {0.5f, 0.5f, 0.5f};
        case Background::White:
            return {1.0f, 1.0f, 1.0f};
        case Background::DarkBlue:
            break;
    }
    return {0.0f, 0.0f, 0.5f};
}

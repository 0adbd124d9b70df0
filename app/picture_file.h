// The picture on screen as a PNG file: File > Save Picture's encoding and
// write, apart from the dialog so that the batch renderer and tests can use
// the same steps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An RGBA picture, top row first.
struct ScreenPicture {
    std::vector<uint8_t> rgba;
    uint32_t width = 0, height = 0;
};

// The volume frame as the window shows it, without the panel and the rotation
// indicator, at the client size: the layer drawn whole (never at a drag's
// reduced quality) and read back. False with nothing to read (no volume shown,
// no device).
bool CaptureVolumePicture(ScreenPicture* picture);

// Writes the picture opaque (the target's alpha is the volume's coverage,
// which the window does not show), with the .tf save's rules: a complete
// file or none, never over a device, a pipe or a read-only file. False with
// the reason in *why.
// With `withAlpha` the picture's alpha is written too.
bool WritePicturePng(const std::string& path, const ScreenPicture& picture, std::string* why,
                     bool withAlpha = false);

// A turntable: picture `index` (from 0) of a turn is OUTPUT-0001.png onwards
// (OUTPUT's .png left off), at yaw start + index / count of a full turn.
std::string TurntableFrameName(const std::string& output, int index);
float TurntableFrameYaw(float startYaw, int index, int count);
// The most pictures in a turn: four digits in their names.
inline constexpr int kMaxTurntableFrames = 9999;

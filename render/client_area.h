// The window the frames are drawn for: its handle, its client area (as the
// last WM_SIZE gave it) and the length of the last frame. The renderer sizes
// everything to these; the application shell writes them.
#pragma once

#include <cstdint>

#include "platform/shell/shell.h"

struct ClientAreaRecord {
    int32_t width = 0;
    int32_t height = 0;
    float widthF = 0.0f;
    float halfWidth = 0.0f;
    float heightF = 0.0f;
    float halfHeight = 0.0f;
};

extern shell::HWND MainWindow;
extern ClientAreaRecord ClientArea;
// Seconds since the previous frame.
extern float FrameClock;

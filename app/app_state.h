// The application shell's process-wide records: the main window, the client
// area, the frame clock, the rotation drag, the orbit camera and the input
// handler table; the window procedure and the input modes.
#pragma once

#include <cstdint>

#include "platform/shell/shell.h"

// Menu command ids (menu resource 101).
inline constexpr int kMainMenuResource = 101;
inline constexpr uint16_t kCmdFileExit = 40002;
inline constexpr uint16_t kCmdFileOpen = 40003;
inline constexpr uint16_t kCmdSlicesXAxis = 40004;
inline constexpr uint16_t kCmdSlicesYAxis = 40005;
inline constexpr uint16_t kCmdSlicesZAxis = 40006;
inline constexpr uint16_t kCmdSlicesClear = 40007;
inline constexpr uint16_t kCmdSlicesShowBoundaries = 40008;
inline constexpr uint16_t kCmdViewBoundaries = 40009;
inline constexpr uint16_t kCmdTransferSave = 40010;
inline constexpr uint16_t kCmdTransferOpen = 40011;
inline constexpr uint16_t kCmdFileClose = 40012;

struct ClientAreaRecord {
    int32_t width = 0;
    int32_t height = 0;
    float widthF = 0.0f;
    float halfWidth = 0.0f;
    float heightF = 0.0f;
    float halfHeight = 0.0f;
};

struct RotationDragRecord {
    bool active = false;
    int32_t anchorX = 0, anchorY = 0;
    int32_t cursorX = 0, cursorY = 0;
};

// The wheel's range for OrbitCamera.distance: close enough to look inside
// the box, far enough for it to be a few pixels, never where the matrices or
// the slicing lose their precision.
inline constexpr float kMinDistance = 0.25f;
inline constexpr float kMaxDistance = 100.0f;

struct OrbitCameraRecord {
    float pitch = 1.0f;
    float yaw = 0.0f;
    float distance = 4.0f;
};

// Accepts any slot's arguments and does nothing (false for the slots that
// answer whether the event was taken).
template <typename Result, typename... Args>
Result IgnoreInput(Args...) {
    return Result();
}

// Before the device exists every slot ignores its input and no frame runs.
struct InputHandlerTableRecord {
    bool (*LButtonDown)(shell::WPARAM keyState, int32_t x,
                        int32_t y) = &IgnoreInput<bool, shell::WPARAM, int32_t, int32_t>;
    bool (*LButtonUp)(shell::WPARAM keyState, int32_t x,
                      int32_t y) = &IgnoreInput<bool, shell::WPARAM, int32_t, int32_t>;
    bool (*RButtonDown)(shell::WPARAM keyState, int32_t x,
                        int32_t y) = &IgnoreInput<bool, shell::WPARAM, int32_t, int32_t>;
    void (*RButtonUp)(shell::WPARAM keyState, int32_t x,
                      int32_t y) = &IgnoreInput<void, shell::WPARAM, int32_t, int32_t>;
    void (*MouseMove)(shell::WPARAM keyState, int32_t x,
                      int32_t y) = &IgnoreInput<void, shell::WPARAM, int32_t, int32_t>;
    void (*Wheel)(int16_t delta) = &IgnoreInput<void, int16_t>;
    void (*Frame)() = &IgnoreInput<void>;
};

extern shell::HWND MainWindow;
extern ClientAreaRecord ClientArea;
extern float FrameClock;
extern RotationDragRecord RotationDrag;
extern OrbitCameraRecord OrbitCamera;
extern InputHandlerTableRecord InputHandlerTable;

// 0: idle mode, 1: volume mode; anything else changes nothing.
void SetInputMode(int mode);
void IntegrateRotation();
// The client size as WM_SIZE records it (the caller resizes the device).
void SetClientSize(int32_t width, int32_t height);
// File > Open after the dialog: loads the volume, its histogram at half the
// client width, the camera and the slices, then volume mode. False after a
// message box (the viewer and the batch renderer share it).
bool OpenVolumeFile(const char* path);
// Transfer Function > Open after the dialog: reads the .tf file and installs
// it, or shows why not and changes nothing.
bool OpenTransferFunctionFile(const char* path);
shell::LRESULT WndProc(shell::HWND window, shell::UINT message, shell::WPARAM wParam, shell::LPARAM lParam);

// The menu of resource 101, registered with the shell.
void RegisterMainMenu();

// Releases and nulls every object of the Renderer record; safe to repeat.
void ReleaseDevice();

// The entry function: window, device, loop. Returns the exit code (always 0).
// A file given (the command line's) is opened once the device is up, as
// File > Open would open it.
int TamloMain(shell::HINSTANCE instance, int showCommand, const char* file = nullptr);

// Puts every record of the shell back to its start-up value (tests run the
// program more than once in one process).
void ResetApplicationState();

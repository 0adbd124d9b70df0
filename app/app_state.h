// The application shell's process-wide records: the input handler table (the
// rotation drag is input_state.h's, the main window, client area and frame
// clock render/client_area.h's, the orbit camera the slicing's); the window
// procedure, the input modes, device start-up and the volume frame.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/input_state.h"
#include "app/time_playback.h"
#include "platform/shell/shell.h"
#include "render/client_area.h"
#include "render/slice_planes.h"
#include "slicing/camera.h"
#include "slicing/orbit_view.h"
#include "slicing/slice_cut.h"
#include "volume/scan_import.h"

inline constexpr const char* kMainWindowTitle = "Tamlo Ex01";

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
inline constexpr uint16_t kCmdFileOpenLocation = 40013;
// Undo and redo, the standard views, the picture and the crop.
inline constexpr uint16_t kCmdEditUndo = 40400;
inline constexpr uint16_t kCmdEditRedo = 40401;
inline constexpr uint16_t kCmdFileSavePicture = 40402;
inline constexpr uint16_t kCmdViewCrop = 40403;
inline constexpr uint16_t kCmdViewStart = 40404;
// Sent by the tool windows themselves: apply the crop's sliders, save the
// turntable, and all of them closed.
inline constexpr uint16_t kCmdCropApply = 40405;
inline constexpr uint16_t kCmdToolWindowsClose = 40406;
inline constexpr uint16_t kCmdFileSaveTurntable = 40407;
inline constexpr uint16_t kCmdTurntableSave = 40408;
// The crop window's sliders let go (or its Reset): a store's crop is read
// at the finest level that fits it.
inline constexpr uint16_t kCmdCropRead = 40441;
// View > Time... and what the Time window sends: show the slider's point,
// play or pause, one point back or forward.
inline constexpr uint16_t kCmdViewTime = 40409;
inline constexpr uint16_t kCmdTimeApply = 40416;
inline constexpr uint16_t kCmdTimePlay = 40417;
inline constexpr uint16_t kCmdTimeBack = 40418;
inline constexpr uint16_t kCmdTimeForward = 40419;
// View > Channels...; the channels window's edits: edit channel c
// (kCmdChannelEditFirst + c, as Ctrl+1..4) and show or hide it
// (kCmdChannelToggleFirst + c).
inline constexpr uint16_t kCmdViewChannels = 40428;
inline constexpr uint16_t kCmdChannelEditFirst = 40420;
inline constexpr uint16_t kCmdChannelToggleFirst = 40424;
// Front, back, left, right, top, bottom: kCmdViewFront + StandardView.
inline constexpr uint16_t kCmdViewFront = 40410;
inline constexpr uint16_t kCmdViewBottom = 40415;
// Values: how a scan's values become the 12 bits; the histogram's scale; the
// installed presets (one item each, in the data folders' order).
inline constexpr uint16_t kCmdValuesCt = 40100;
inline constexpr uint16_t kCmdValuesAutomatic = 40101;
inline constexpr uint16_t kCmdValuesFullRange = 40102;
inline constexpr uint16_t kCmdHistogramLogarithmic = 40103;
inline constexpr uint16_t kCmdPresetFirst = 40110;
inline constexpr uint16_t kMaxPresetItems = 190;  // every id up to kCmdViewShading
// View > Shading and the three ways of combining the samples along a pixel.
inline constexpr uint16_t kCmdViewShading = 40300;
inline constexpr uint16_t kCmdViewComposite = 40301;
inline constexpr uint16_t kCmdViewMaximum = 40302;
inline constexpr uint16_t kCmdViewMinimum = 40303;
// View > Fit, the status line, and the backgrounds (kCmdViewBackgroundFirst
// + Background: dark blue, black, grey, white).
inline constexpr uint16_t kCmdViewFit = 40430;
inline constexpr uint16_t kCmdViewStatus = 40431;
inline constexpr uint16_t kCmdViewBackgroundFirst = 40432;
inline constexpr uint16_t kCmdViewBackgroundLast = 40435;
// Sent by the slice window: the other planes to the voxel clicked.
inline constexpr uint16_t kCmdSliceWindowApply = 40440;

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
    // The middle button pans (volume mode).
    void (*MButtonDown)(shell::WPARAM keyState, int32_t x,
                        int32_t y) = &IgnoreInput<void, shell::WPARAM, int32_t, int32_t>;
    void (*MButtonUp)(shell::WPARAM keyState, int32_t x,
                      int32_t y) = &IgnoreInput<void, shell::WPARAM, int32_t, int32_t>;
    void (*Wheel)(int16_t delta) = &IgnoreInput<void, int16_t>;
    void (*Frame)() = &IgnoreInput<void>;
};

extern InputHandlerTableRecord InputHandlerTable;

// 0: idle mode, 1: volume mode; anything else changes nothing.
void SetInputMode(int mode);
// The steps after a load (also after a scan is mapped again): the histogram
// at half the client width, the camera, the slices, volume mode. With
// `keepFunctions` (the same volume, finer) the channels keep the panel's
// functions as they are.
bool ShowLoadedVolume(bool keepFunctions = false);
// File > Open after the dialog: loads the volume (CVolume::Load, with its
// boxes), then ShowLoadedVolume. `values` chooses a scan's value window
// (scan_import.h). A multiscale store shows its coarsest level at once and
// reads the finer one it chose meanwhile (StartFinerLevelRead).
bool OpenVolumeFile(const char* path, const ValueChoice& values = {});

// The finer level of a store shown at its coarsest (Volume.finerLevel), read
// on a thread of its own while the coarse picture stays in use; the reader
// itself runs in its child as every read does. Nothing when there is none.
void StartFinerLevelRead(const ValueChoice& values);
// Swaps the finer level in once it is read (camera, crop, planes, time point
// and functions kept), or says why it could not be; true when the picture
// changed. Called by the frame loop.
bool FinishFinerLevelRead();
// Stops a finer level's read and waits for its thread (another volume, the
// window closing, Esc): the values the volume was opened with when one was
// under way.
std::optional<ValueChoice> EndFinerLevelRead();
// The crop let go with a store shown: read at the finest level that fits it
// (the whole volume's level for the whole box), in the background as a
// finer level is, keeping the values' windows; false when there is nothing
// to read (not a store, or the whole shown already).
bool StartCropRead(const CropBox& crop);
// "reading level 0: 40%" (or "reading the crop: 40%") while a level is
// read, else empty.
std::string FinerLevelReadText();
shell::LRESULT WndProc(shell::HWND window, shell::UINT message, shell::WPARAM wParam, shell::LPARAM lParam);

// The menu of resource 101, registered with the shell.
void RegisterMainMenu();
// Puts the View menu's check marks on the renderer's shading and mode.
void ShowViewChecks();

// Creates the device and every pipeline object (CreateDeviceObjects), the
// editor panel, then installs idle mode and sizes everything to the client
// area. False after one message box.
bool InitDevice();
// Releases and nulls every object of the Renderer record; safe to repeat.
void ReleaseDevice();
// The device (D3DResize) and the editor panel follow the client area.
void ResizeToClientArea();

// The camera turned to one of the standard views (the distance kept), or
// back to the start camera; either shows at the next frame.
void ShowStandardView(StandardView view);
void ShowStartView();
// View > Fit (F): the pan and distance that frame the volume's box, or the
// crop's, in the window at the current angles.
void FitView();
// The perspective projection's scales, for pan and zoom in pixels (zero
// without a device: the zoom then keeps the centre and the pan stays).
ProjectionScale CurrentProjectionScale();
// View > Status: the line at the view's bottom right (grid, spacing, value
// window, level, channel, time point, how far the picture is drawn), kept
// up to date by the frame loop while shown.
extern bool StatusLineShown;
std::string StatusLineText();
void UpdateStatusLine();
// The title: the program's, and the open volume's name (a store's level too).
void ShowTitle();
// Edit > Undo and Redo of the transfer function; nothing with nothing to undo.
void UndoTransferEdit();
void RedoTransferEdit();
// File > Save Picture: the volume frame without the panel, through a save
// dialog, as a PNG at the client size.
void SavePicture();
// Greys Edit > Undo and Redo when there is nothing to undo or redo (after
// every message the window procedure handles).
void UpdateEditMenu();
// The keys: Ctrl+Z undo, Ctrl+Shift+Z and Ctrl+Y redo, Ctrl+Shift+S save the
// picture, Ctrl+1 to Ctrl+4 the channel the panel edits, 1 to 6 the standard
// views (front, back, left, right, top, bottom), Home the start camera, F
// the fit, Page Up and Page Down the plane last shown a voxel on or back, S
// the slice window. False for any other key.
bool HandleViewAndEditKey(int key);
// The Slices menu: X-Axis, Y-Axis and ZAxis show or hide the sagittal,
// axial and coronal plane (at the grid's middle voxel at first), Clear hides
// them all, Show Boundaries outlines them; Page Up and Page Down move the
// last one shown by a voxel. The planes outlive the volume: a new one takes
// them inside its grid (FitSlicePlanesToVolume).
void ToggleSlicePlane(int axis);
void ClearSlicePlanes();
void ToggleSlicePlaneOutlines();
void MoveSlicePlane(int delta);
void FitSlicePlanesToVolume();
void ShowSliceChecks();
// The plane drawn under client pixel (x, y) of the shown volume, as the
// frame shows it; none without a volume, a device or a plane there.
std::optional<PlaneHit> SlicePlaneAt(int32_t x, int32_t y);
// Ctrl and the wheel over a plane: that plane becomes the one Page Up moves
// and moves `notches` voxels; false (nothing changed) when no plane is there.
bool MoveSlicePlaneAt(int32_t x, int32_t y, int notches);
// A double click on a plane: that plane becomes the current one, flat in the
// slice window; false (nothing changed) when no plane is there.
bool OpenSliceWindowAt(int32_t x, int32_t y);
// Ctrl and a left drag on a plane: the planes' grey window follows the
// cursor's offset from the press (DragGreyWindow); false when the press is
// on no plane.
bool StartGreyWindowDrag(int32_t x, int32_t y);
void DragGreyWindowTo(int32_t x, int32_t y);
// The wheel turned at client pixel (x, y) (-1: not known) with `keys` held
// (MK_CONTROL...): what WM_MOUSEWHEEL does once it knows the place.
void WheelAt(int16_t delta, shell::WPARAM keys, int32_t x, int32_t y);
// The moved plane's place for the status line; empty with none shown.
std::string ShownPlaneText();
// View > Crop...: the crop window over the client area, its sliders applied
// (kCmdCropApply).
void ShowCropWindow();
void ApplyCropWindow();
// File > Save Turntable...: the window asking how many pictures, then (its
// Save..., kCmdTurntableSave) the dialog for the pictures' name and the
// pictures, turning once around the vertical axis from the current view, as
// tamlo-render --turntable names them.
void ShowTurntableWindow();
int TurntablePictureCount();
void SaveTurntable(int pictures);
// View > Channels...: each channel's name, whether it is shown, its colour
// and which one the panel edits; nothing for a volume of one channel.
void ShowChannelsWindow();
bool ChannelsWindowOpen();
// The slice window (key S): the plane last shown, flat, at the window's
// resolution through the planes' grey window; it follows that plane and
// closes by itself when no plane is shown or no volume. A click or drag in
// it sends kCmdSliceWindowApply: the other two planes take the voxel's
// layers (MovePlanesToVoxel), shown or not. RefreshSliceWindow: the
// volume's samples changed (another volume, time point).
void ShowSliceWindow();
void RefreshSliceWindow();
const uint32_t* SliceWindowPoint();
void MovePlanesToVoxel(const uint32_t voxel[3]);
// The overlay goes once every tool window is closed.
void CloseToolWindows();

// A series of time points (app/time_commands.cpp). View > Time...: the Time
// window, shown by itself when a loaded volume has more than one point; its
// slider's point is shown at kCmdTimeApply.
void ShowTimeWindow();
void HideTimeWindow();
uint32_t TimeWindowPoint();
// Shows point t of the loaded series (CVolume::ShowTimePoint); what cannot be
// shown stops the play with one message box.
void ShowTime(uint32_t t);
// Play or pause (Space), one point back (Left, ',') or forward (Right, '.').
void ToggleTimePlay();
void StepTime(int delta);
// Those keys while a series is shown; false for any other key, and for them
// when the volume has one point.
bool HandleTimeKey(int key);
// The play's state (rate, loop); playing or not.
TimePlayback& TimePlay();
bool TimePlaying();
// The frame loop's clock: `seconds` more have passed. True when a point is
// due, shown by ShowDueTimePoint before the next frame.
bool AdvanceTimeClock(float seconds);
bool TimePointDue();
void ShowDueTimePoint();
// Stopped, at the rate and loop the window had (a new volume, a closed one).
void StopTimePlay();

// The editor panel's handle: where it lies in its strip and which part of the
// atlas it shows.
inline constexpr float kEditorHandleX = 10.0f;
inline constexpr float kEditorHandleWidth = 80.0f;
inline constexpr float kEditorHandleU0 = 0.15625f;
inline constexpr float kEditorHandleU1 = 0.3125f;

// The volume mode's frame: the slices through the volume layer, the rotation
// indicator while dragging, the editor panel.
void RenderVolumeFrame();
// A rotation drag, a control point's drag, or wheel notches and resizes that
// keep coming: the frames are drawn as during a drag, and the refinement
// waits until the change is over.
bool ChangingContinuously();
// Every change is answered at once: the next frame shows it (coarse on a slow
// device) with the panel as it is now, and the whole picture follows between
// inputs. The viewer's window sets it; the batch renderer draws each picture
// whole and sets it only to time a change as the window shows it.
extern bool CoarseFramesFirst;

// The entry function: window, device, loop. Returns the exit code (always 0).
// A file given (the command line's) is opened once the device is up, as
// File > Open would open it.
int TamloMain(shell::HINSTANCE instance, int showCommand, const char* file = nullptr);

// Puts every record of the shell back to its start-up value (tests run the
// program more than once in one process).
void ResetApplicationState();

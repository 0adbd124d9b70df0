// The window procedure, the menu, the input modes and the rotation drag.
#include "app/app_state.h"

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "render/data_folders.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "slicing/slice_geometry.h"
#include "ui/tab.h"
#include "ui/value_readout.h"
#include "volume/histogram.h"
#include "volume/volume.h"

using shell::LPARAM;
using shell::WPARAM;

InputHandlerTableRecord InputHandlerTable;

namespace {

// Volume mode: the editor panel sees the left button and the right-button
// press first; a right press it does not take starts a rotation.
void ShowValueTip(int32_t x, int32_t y);

// Ctrl and the left button on a plane, where the panel does not take the
// press, drag the planes' grey window.
bool VolumeLButtonDown(WPARAM keyState, int32_t x, int32_t y) {
    bool taken = EditorTab.OnLButtonDown(static_cast<uint32_t>(keyState), x, y);
    if (!taken && (keyState & shell::MK_CONTROL))
        taken = StartGreyWindowDrag(x, y);
    ShowValueTip(x, y);
    return taken;
}
bool VolumeLButtonUp(WPARAM keyState, int32_t x, int32_t y) {
    // The window drag's release is its own: over the panel's handle it
    // does not slide the panel.
    if (GreyDrag.active) {
        DragGreyWindowTo(x, y);
        EndGreyDrag();
        return true;
    }
    const bool pointDrag = EditorTab.DraggingPoint();
    const bool taken = EditorTab.OnLButtonUp(static_cast<uint32_t>(keyState), x, y);
    // A point let go where it was last moved to changes nothing: the end of
    // the drag is known and the refinement need not wait for more. Let go
    // elsewhere, the release is one more step of the drag.
    if (pointDrag && Renderer.volumeLayerStale)
        NoteContinuousInput();
    else if (pointDrag)
        EndContinuousInput();
    ShowValueTip(x, y);
    return taken;
}

// Shift and the right button pan, as the middle button does; the release of
// the button that started a pan ends it.
bool PanByRightButton = false;

bool VolumeRButtonDown(WPARAM keyState, int32_t x, int32_t y) {
    if (EditorTab.OnRButtonDown(static_cast<uint32_t>(keyState), x, y))
        return true;
    if (keyState & shell::MK_SHIFT) {
        StartPanDrag(x, y);
        PanByRightButton = true;
        return true;
    }
    StartRotationDrag(x, y);
    return true;
}

void VolumeRButtonUp(WPARAM, int32_t, int32_t) {
    EndRotationDrag();
    if (PanByRightButton)
        EndPanDrag();
    PanByRightButton = false;
}

void VolumeMButtonDown(WPARAM, int32_t x, int32_t y) {
    StartPanDrag(x, y);
    PanByRightButton = false;
}

void VolumeMButtonUp(WPARAM, int32_t, int32_t) {
    if (!PanByRightButton)
        EndPanDrag();
}

// The value under the cursor while it is over the open panel's graph, or a
// point is dragged: beside the cursor, in the volume's own units.
void ShowValueTip(int32_t x, int32_t y) {
    const std::optional<float> position =
        Volume.voxels != nullptr ? EditorTab.GraphPositionAt(x, y) : std::nullopt;
    if (!position) {
        shell::SetToolTip(MainWindow, nullptr, 0, 0);
        return;
    }
    const UI::ValueScale scale{Volume.isScan, Volume.windowLow, Volume.windowHigh, Volume.valueUnit};
    const float opacity = UI::OpacityAt(EditorTab.points.get(), EditorTab.pointCount, *position);
    shell::SetToolTip(MainWindow, UI::ValueReadoutText(*position, scale, opacity).c_str(), x, y);
}

void VolumeMouseMove(WPARAM, int32_t x, int32_t y) {
    TrackRotationCursor(x, y);
    // The pan shows at the next frame, drawn as a drag's are.
    if (DragPanTo(x, y, CurrentProjectionScale()) && Renderer.context != nullptr)
        UpdateCamera();
    if (EditorTab.DraggingPoint()) {
        NoteContinuousInput();
        EditorTab.DragPointTo(x, y);
    }
    DragGreyWindowTo(x, y);
    ShowValueTip(x, y);
}

// Where the last wheel message turned, in client pixels (-1: not over it),
// and the keys held with it.
int32_t WheelX = -1, WheelY = -1;
WPARAM WheelKeys = 0;

// Ctrl and the wheel over a plane move it a voxel a notch; otherwise the new
// distance shows at the next frame, the point under the cursor kept.
void VolumeWheel(int16_t delta) {
    NoteContinuousInput();
    const int notches = delta / shell::WHEEL_DELTA != 0 ? delta / shell::WHEEL_DELTA : (delta > 0 ? 1 : -1);
    if ((WheelKeys & shell::MK_CONTROL) && delta != 0 && MoveSlicePlaneAt(WheelX, WheelY, notches))
        return;
    ZoomOrbitCameraAt(delta, WheelX, WheelY, CurrentProjectionScale());
    if (Renderer.context != nullptr)
        UpdateCamera();
}

// File > Open: pick a file, then show it as OpenVolumeFile does.
void OpenVolume() {
    // Room for any path the system allows; the dialog fails (like a cancel)
    // for a longer one rather than cut it short.
    char path[4096] = {};
    shell::OPENFILENAME ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = "All Files (*.*)\0*.*\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof(path);
    ofn.Flags = shell::OFN_EXPLORER | shell::OFN_FILEMUSTEXIST;
    if (!shell::GetOpenFileName(&ofn))
        return;
    OpenVolumeFile(path);
}

// File > Open Location...: a store's address (or any path), typed.
void OpenVolumeLocation() {
    const std::optional<std::string> location = shell::AskForText(
        MainWindow, "Open Location", "The address of an OME-Zarr store (http:// or https://), or a path:");
    if (location)
        OpenVolumeFile(location->c_str());
}

bool EndsInTf(const std::string& path) {
    if (path.size() < 3)
        return false;
    std::string end = path.substr(path.size() - 3);
    for (char& c : end)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".tf";
}

// Files dropped onto the window: a .tf loads as the transfer function, any
// other file opens as a volume, each as its menu's Open would after the
// dialog. Of several, the first of each kind is taken.
void OpenDroppedFiles(shell::HDROP drop) {
    std::string volume, transfer;
    const shell::UINT count = shell::DragQueryFile(drop, 0xFFFFFFFFu, nullptr, 0);
    for (shell::UINT i = 0; i < count; ++i) {
        std::string path(shell::DragQueryFile(drop, i, nullptr, 0), '\0');
        shell::DragQueryFile(drop, i, path.data(), static_cast<shell::UINT>(path.size() + 1));
        std::string& slot = EndsInTf(path) ? transfer : volume;
        if (slot.empty())
            slot = path;
    }
    shell::DragFinish(drop);
    if (!volume.empty())
        OpenVolumeFile(volume.c_str());
    if (!transfer.empty())
        OpenTransferFunctionFile(transfer.c_str());
}

// The installed presets, one menu item each (RegisterMainMenu finds them).
std::vector<std::string> PresetPaths;

// The Values items show the window the shown scan was mapped through; none
// is checked for a volume file or no volume.
void UpdateValueMenus() {
    const shell::HMENU menu = shell::GetMenu(MainWindow);
    const bool scan = Volume.voxels != nullptr && Volume.isScan;
    const auto check = [&](uint16_t id, ValueWindow window) {
        shell::CheckMenuItem(menu, id,
                             scan && Volume.valueWindow == window ? shell::MF_CHECKED : shell::MF_UNCHECKED);
    };
    check(kCmdValuesCt, ValueWindow::Ct);
    check(kCmdValuesAutomatic, ValueWindow::Automatic);
    check(kCmdValuesFullRange, ValueWindow::FullRange);
    shell::CheckMenuItem(menu, kCmdHistogramLogarithmic,
                         HistogramIsLogarithmic ? shell::MF_CHECKED : shell::MF_UNCHECKED);
}

void CancelEditorDrag();

// Values > ...: the shown scan read again through the chosen window. With no
// scan shown nothing happens.
void ChooseValueWindow(ValueWindow window) {
    if (Volume.voxels == nullptr || !Volume.isScan)
        return;
    CancelEditorDrag();
    EndFinerLevelRead();  // the level shown is read again through the window
    // The series stays at the point it showed, now through the new window.
    const uint32_t point = Volume.shownTimePoint;
    if (Volume.Remap(ValueChoice{window}) && ShowLoadedVolume())
        ShowTime(point);
    UpdateValueMenus();
}

void ToggleLogarithmicHistogram() {
    HistogramIsLogarithmic = !HistogramIsLogarithmic;
    if (Volume.voxels != nullptr) {
        ReleaseAndNull(Volume.histogramView);
        ReleaseAndNull(Volume.histogramTexture);
        GenerateHistogram(static_cast<uint32_t>(ClientArea.width / 2));
        InvalidateVolumeLayer();
    }
    UpdateValueMenus();
}

// A panel drag whose button release will not come (focus lost, volume
// closed, window gone) is dropped, and with it the cursor's confinement.
void CancelEditorDrag() {
    if (EditorTab.dragMode != UI::kDragNone) {
        EditorTab.dragMode = UI::kDragNone;
        shell::ClipCursor(nullptr);
    }
}

VolumeMode ModeOfCommand(uint16_t command) {
    return command == kCmdViewMaximum   ? VolumeMode::Maximum
           : command == kCmdViewMinimum ? VolumeMode::Minimum
                                        : VolumeMode::Composite;
}

}  // namespace

void WheelAt(int16_t delta, WPARAM keys, int32_t x, int32_t y) {
    WheelX = x;
    WheelY = y;
    WheelKeys = keys;
    InputHandlerTable.Wheel(delta);
}

void ShowViewChecks() {
    const shell::HMENU menu = shell::GetMenu(MainWindow);
    if (menu == nullptr)
        return;
    auto check = [](bool on) { return on ? shell::MF_CHECKED : shell::MF_UNCHECKED; };
    shell::CheckMenuItem(menu, kCmdViewShading, check(Renderer.shading));
    for (uint16_t command : {kCmdViewComposite, kCmdViewMaximum, kCmdViewMinimum})
        shell::CheckMenuItem(menu, command, check(ModeOfCommand(command) == Renderer.mode));
    shell::CheckMenuItem(menu, kCmdViewBoundaries, check(Renderer.boundaries));
    shell::CheckMenuItem(menu, kCmdViewStatus, check(StatusLineShown));
    for (Background b : kBackgrounds)
        shell::CheckMenuItem(menu, kCmdViewBackgroundFirst + static_cast<uint16_t>(b),
                             check(b == CurrentBackground()));
}

bool OpenVolumeFile(const char* path, const ValueChoice& values) {
    // The read of a finer level goes on if this volume cannot be opened.
    const std::optional<ValueChoice> finer = EndFinerLevelRead();
    ValueChoice first = values;
    first.coarsestFirst = values.level < 0;
    const bool loaded = Volume.Load(path, first);
    UpdateValueMenus();
    if (!loaded) {
        if (finer)
            StartFinerLevelRead(*finer);
        return false;
    }
    if (!ShowLoadedVolume())
        return false;
    StartFinerLevelRead(values);
    return true;
}

// The title names the volume shown (a folder's or a store's name without
// the folders above it; an address's last part) and a store's level (which
// level the viewer chose, and its voxel); with none it is the program's own.
void ShowTitle() {
    if (MainWindow == nullptr)
        return;
    if (Volume.voxels == nullptr || Volume.path.empty()) {
        shell::SetWindowText(MainWindow, kMainWindowTitle);
        return;
    }
    std::string name = Volume.path;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    name = name.substr(name.find_last_of('/') + 1);
    std::string title = std::string(kMainWindowTitle) + " - " + name;
    if (!Volume.levelText.empty())
        title += " (" + Volume.levelText + ")";
    shell::SetWindowText(MainWindow, title.c_str());
}

bool ShowLoadedVolume(bool keepFunctions) {
    ShowTitle();
    // Each channel starts with its ramp; one channel keeps the panel's function.
    std::vector<uint32_t> colours;
    for (uint32_t c = 0; c < Volume.channels.size(); ++c)
        colours.push_back(ChannelColour(Volume.channels[c].colour, c));
    if (!keepFunctions || EditorTab.channelCount != std::max<size_t>(colours.size(), 1))
        EditorTab.SetChannels(colours);
    else if (EditorTab.channelCount > 1)
        Volume.ShowChannelValues(EditorTab.editedChannel);  // the panel's histogram stays its channel's
    // A new volume starts at its first point, paused; the Time window comes
    // with a series and goes with anything else.
    StopTimePlay();
    if (MainWindow != nullptr) {
        if (Volume.timePoints > 1)
            ShowTimeWindow();
        else
            HideTimeWindow();
    }
    GenerateHistogram(static_cast<uint32_t>(ClientArea.width / 2));
    FitSlicePlanesToVolume();
    UpdateCamera();
    UploadVolumeConstants();
    if (!BuildSliceGeometry())
        return false;
    BuildCentreQuad();
    SetInputMode(1);
    if (!HaveVolumeLayer())
        CreateVolumeLayer();
    return true;
}

void SetInputMode(int mode) {
    if (mode == 0) {
        InputHandlerTable.LButtonDown = &IgnoreInput<bool, WPARAM, int32_t, int32_t>;
        InputHandlerTable.LButtonUp = &IgnoreInput<bool, WPARAM, int32_t, int32_t>;
        InputHandlerTable.RButtonDown = &IgnoreInput<bool, WPARAM, int32_t, int32_t>;
        InputHandlerTable.RButtonUp = &IgnoreInput<void, WPARAM, int32_t, int32_t>;
        InputHandlerTable.MouseMove = &IgnoreInput<void, WPARAM, int32_t, int32_t>;
        InputHandlerTable.MButtonDown = &IgnoreInput<void, WPARAM, int32_t, int32_t>;
        InputHandlerTable.MButtonUp = &IgnoreInput<void, WPARAM, int32_t, int32_t>;
        InputHandlerTable.Wheel = &IgnoreInput<void, int16_t>;
        InputHandlerTable.Frame = &RenderIdleFrame;
    } else if (mode == 1) {
        InputHandlerTable.LButtonDown = &VolumeLButtonDown;
        InputHandlerTable.LButtonUp = &VolumeLButtonUp;
        InputHandlerTable.RButtonDown = &VolumeRButtonDown;
        InputHandlerTable.RButtonUp = &VolumeRButtonUp;
        InputHandlerTable.MouseMove = &VolumeMouseMove;
        InputHandlerTable.MButtonDown = &VolumeMButtonDown;
        InputHandlerTable.MButtonUp = &VolumeMButtonUp;
        InputHandlerTable.Wheel = &VolumeWheel;
        InputHandlerTable.Frame = &RenderVolumeFrame;
    }
}

void RegisterMainMenu() {
    PresetPaths = LimitPresets(FindPresets(ProgramDataFolders()), kMaxPresetItems);
    std::vector<shell::MenuItem> presets;
    for (size_t i = 0; i < PresetPaths.size(); ++i) {
        std::string name = PresetPaths[i].substr(PresetPaths[i].find_last_of('/') + 1);
        name = name.substr(0, name.size() - 3);  // without ".tf"
        // A file's '&' is its own, not a mnemonic.
        std::string text;
        for (char c : name)
            text += c == '&' ? std::string("&&") : std::string(1, c);
        presets.push_back({text, static_cast<shell::UINT>(kCmdPresetFirst + i)});
    }
    if (presets.empty())
        presets.push_back({"(none installed)", kCmdPresetFirst + kMaxPresetItems - 1});
    shell::MenuResource menu;
    menu.popups = {
        {"&File",
         {{"&Open", kCmdFileOpen},
          {"Open &Location...", kCmdFileOpenLocation},
          {"&Close", kCmdFileClose},
          {"", 0},
          {"Save &Picture...  Ctrl+Shift+S", kCmdFileSavePicture},
          {"Save T&urntable...", kCmdFileSaveTurntable},
          {"", 0},
          {"&Exit", kCmdFileExit}}},
        {"&Edit", {{"&Undo  Ctrl+Z", kCmdEditUndo}, {"&Redo  Ctrl+Shift+Z", kCmdEditRedo}}},
        {"&View",
         {{"&Boundaries", kCmdViewBoundaries},
          {"", 0},
          {"S&hading", kCmdViewShading},
          {"", 0},
          {"&Composite", kCmdViewComposite},
          {"Maximum &Intensity", kCmdViewMaximum},
          {"Mi&nimum Intensity", kCmdViewMinimum},
          {"", 0},
          {"&Front  1", kCmdViewFront},
          {"Bac&k  2", kCmdViewFront + 1},
          {"&Left  3", kCmdViewFront + 2},
          {"&Right  4", kCmdViewFront + 3},
          {"&Top  5", kCmdViewFront + 4},
          {"Botto&m  6", kCmdViewFront + 5},
          {"&Start View  Home", kCmdViewStart},
          {"Fit  F", kCmdViewFit},
          {"", 0},
          {"Back&ground",
           {{"&Dark blue", kCmdViewBackgroundFirst + static_cast<uint16_t>(Background::DarkBlue)},
            {"&Black", kCmdViewBackgroundFirst + static_cast<uint16_t>(Background::Black)},
            {"&Grey", kCmdViewBackgroundFirst + static_cast<uint16_t>(Background::Grey)},
            {"&White", kCmdViewBackgroundFirst + static_cast<uint16_t>(Background::White)}}},
          {"Stat&us", kCmdViewStatus},
          {"", 0},
          {"Cro&p...", kCmdViewCrop},
          {"T&ime...", kCmdViewTime},
          {"Ch&annels...", kCmdViewChannels}}},
        {"&Slices",
         {{"&Clear", kCmdSlicesClear},
          {"&X-Axis", kCmdSlicesXAxis},
          {"&Y-Axis", kCmdSlicesYAxis},
          {"&ZAxis", kCmdSlicesZAxis},
          {"", 0},
          {"&Show Boundaries", kCmdSlicesShowBoundaries}}},
        {"&Transfer Function",
         {{"&Open", kCmdTransferOpen},
          {"&Save", kCmdTransferSave},
          {"", 0},
          {"&Presets", presets},
          {"&Logarithmic Histogram", kCmdHistogramLogarithmic}}},
        {"V&alues",
         {{"&CT (Hounsfield units)", kCmdValuesCt},
          {"&Automatic", kCmdValuesAutomatic},
          {"&Full range", kCmdValuesFullRange}}},
    };
    if (PresetPaths.empty())
        menu.itemState[kCmdPresetFirst + kMaxPresetItems - 1] = shell::MF_GRAYED;
    shell::RegisterMenuResource(kMainMenuResource, std::move(menu));
}

// The Edit menu's greyed items follow the history whatever the message did.
static shell::LRESULT HandleMessage(shell::HWND window, shell::UINT message, WPARAM wParam, LPARAM lParam);
shell::LRESULT WndProc(shell::HWND window, shell::UINT message, WPARAM wParam, LPARAM lParam) {
    const shell::LRESULT result = HandleMessage(window, message, wParam, lParam);
    UpdateEditMenu();
    return result;
}

static shell::LRESULT HandleMessage(shell::HWND window, shell::UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case shell::WM_DESTROY:
            EndFinerLevelRead();
            CancelEditorDrag();
            ReleaseDevice();
            shell::PostQuitMessage(0);
            return 0;
        case shell::WM_SIZE:
            NoteContinuousInput();
            SetClientSize(shell::LOWORD(static_cast<uint64_t>(lParam)),
                          shell::HIWORD(static_cast<uint64_t>(lParam)));
            ResizeToClientArea();
            if (InputHandlerTable.Frame == &RenderVolumeFrame)
                CreateVolumeLayer();
            return 0;
        case shell::WM_PAINT: {
            shell::PAINTSTRUCT paint;
            shell::BeginPaint(window, &paint);
            return shell::EndPaint(window, &paint) ? 1 : 0;
        }
        case shell::WM_COMMAND:
            switch (shell::LOWORD(wParam)) {
                case kCmdFileExit:
                    shell::DestroyWindow(MainWindow);
                    return 0;
                case kCmdFileOpen:
                    OpenVolume();
                    return 0;
                case kCmdFileOpenLocation:
                    OpenVolumeLocation();
                    return 0;
                case kCmdFileClose:
                    EndFinerLevelRead();
                    CancelEditorDrag();
                    StopTimePlay();
                    HideTimeWindow();
                    Volume.Unload();
                    EndPanDrag();
                    EndGreyDrag();
                    SetInputMode(0);
                    ShowTitle();
                    ReleaseVolumeLayer();
                    shell::SetToolTip(MainWindow, nullptr, 0, 0);
                    UpdateValueMenus();
                    return 0;
                case kCmdTransferOpen:
                    LoadTransferFunction();
                    return 0;
                case kCmdTransferSave:
                    SaveTransferFunction();
                    return 0;
                case kCmdEditUndo:
                    UndoTransferEdit();
                    return 0;
                case kCmdEditRedo:
                    RedoTransferEdit();
                    return 0;
                case kCmdFileSavePicture:
                    SavePicture();
                    return 0;
                case kCmdViewStart:
                    ShowStartView();
                    return 0;
                case kCmdViewFit:
                    FitView();
                    return 0;
                case kCmdViewBoundaries:
                    SetBoundaries(!Renderer.boundaries);
                    ShowViewChecks();
                    return 0;
                case kCmdSlicesXAxis:
                case kCmdSlicesYAxis:
                case kCmdSlicesZAxis:
                    ToggleSlicePlane(shell::LOWORD(wParam) - kCmdSlicesXAxis);
                    return 0;
                case kCmdSlicesClear:
                    ClearSlicePlanes();
                    return 0;
                case kCmdSlicesShowBoundaries:
                    ToggleSlicePlaneOutlines();
                    return 0;
                case kCmdViewStatus:
                    StatusLineShown = !StatusLineShown;
                    UpdateStatusLine();
                    ShowViewChecks();
                    return 0;
                case kCmdViewCrop:
                    ShowCropWindow();
                    return 0;
                case kCmdViewTime:
                    ShowTimeWindow();
                    return 0;
                case kCmdTimeApply:
                    StopTimePlay();
                    ShowTime(TimeWindowPoint());
                    return 0;
                case kCmdTimePlay:
                    ToggleTimePlay();
                    return 0;
                case kCmdTimeBack:
                    StepTime(-1);
                    return 0;
                case kCmdTimeForward:
                    StepTime(1);
                    return 0;
                case kCmdCropApply:
                    ApplyCropWindow();
                    return 0;
                case kCmdCropRead:
                    StartCropRead(VolumeCrop);
                    return 0;
                case kCmdSliceWindowApply:
                    MovePlanesToVoxel(SliceWindowPoint());
                    return 0;
                case kCmdViewChannels:
                    ShowChannelsWindow();
                    return 0;
                case kCmdToolWindowsClose:
                    CloseToolWindows();
                    return 0;
                case kCmdFileSaveTurntable:
                    ShowTurntableWindow();
                    return 0;
                case kCmdTurntableSave:
                    SaveTurntable(TurntablePictureCount());
                    return 0;
                case kCmdValuesCt:
                    ChooseValueWindow(ValueWindow::Ct);
                    return 0;
                case kCmdValuesAutomatic:
                    ChooseValueWindow(ValueWindow::Automatic);
                    return 0;
                case kCmdValuesFullRange:
                    ChooseValueWindow(ValueWindow::FullRange);
                    return 0;
                case kCmdHistogramLogarithmic:
                    ToggleLogarithmicHistogram();
                    return 0;
                case kCmdViewShading:
                    SetVolumeShading(!Renderer.shading);
                    ShowViewChecks();
                    return 0;
                case kCmdViewComposite:
                case kCmdViewMaximum:
                case kCmdViewMinimum:
                    SetVolumeMode(ModeOfCommand(shell::LOWORD(wParam)));
                    ShowViewChecks();
                    return 0;
                default: {
                    const uint16_t id = shell::LOWORD(wParam);
                    if (id >= kCmdChannelEditFirst && id < kCmdChannelEditFirst + 4) {
                        EditorTab.SelectChannel(id - kCmdChannelEditFirst);
                        return 0;
                    }
                    if (id >= kCmdChannelToggleFirst && id < kCmdChannelToggleFirst + 4) {
                        const uint32_t c = id - kCmdChannelToggleFirst;
                        if (c < EditorTab.channelVisible.size())
                            EditorTab.SetChannelVisible(c, !EditorTab.channelVisible[c]);
                        return 0;
                    }
                    if (id >= kCmdViewBackgroundFirst && id <= kCmdViewBackgroundLast) {
                        SetBackground(static_cast<Background>(id - kCmdViewBackgroundFirst));
                        ShowViewChecks();
                        return 0;
                    }
                    if (id >= kCmdViewFront && id <= kCmdViewBottom) {
                        ShowStandardView(static_cast<StandardView>(id - kCmdViewFront));
                        return 0;
                    }
                    if (id >= kCmdPresetFirst && id < kCmdPresetFirst + PresetPaths.size()) {
                        OpenTransferFunctionFile(PresetPaths[id - kCmdPresetFirst].c_str());
                        return 0;
                    }
                    return shell::DefWindowProc(window, message, wParam, lParam);
                }
            }
        case shell::WM_KEYDOWN:
            if (HandleViewAndEditKey(static_cast<int>(wParam)) || HandleTimeKey(static_cast<int>(wParam)))
                return 0;
            return shell::DefWindowProc(window, message, wParam, lParam);
        case shell::WM_DROPFILES:
            OpenDroppedFiles(reinterpret_cast<shell::HDROP>(wParam));
            return 0;
        case shell::WM_KILLFOCUS:
            CancelEditorDrag();
            EndGreyDrag();
            return shell::DefWindowProc(window, message, wParam, lParam);
        case shell::WM_LBUTTONDOWN:
            InputHandlerTable.LButtonDown(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_LBUTTONUP:
            InputHandlerTable.LButtonUp(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_LBUTTONDBLCLK:
            // On a plane, off the panel: the plane flat in the slice window.
            if (!EditorTab.Covers(MouseX(lParam), MouseY(lParam)) &&
                OpenSliceWindowAt(MouseX(lParam), MouseY(lParam)))
                return 0;
            return shell::DefWindowProc(window, message, wParam, lParam);
        case shell::WM_RBUTTONDOWN:
            InputHandlerTable.RButtonDown(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_RBUTTONUP:
            InputHandlerTable.RButtonUp(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_MOUSEMOVE:
            InputHandlerTable.MouseMove(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_MBUTTONDOWN:
            InputHandlerTable.MButtonDown(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_MBUTTONUP:
            InputHandlerTable.MButtonUp(wParam, MouseX(lParam), MouseY(lParam));
            return 0;
        case shell::WM_MOUSEWHEEL: {
            // The wheel's position is the screen's, as on Win32.
            shell::POINT origin{0, 0};
            const bool placed = shell::ClientToScreen(window, &origin);
            WheelAt(shell::GET_WHEEL_DELTA_WPARAM(wParam), shell::LOWORD(wParam),
                    placed ? MouseX(lParam) - origin.x : -1, placed ? MouseY(lParam) - origin.y : -1);
            return 0;
        }
        default:
            return shell::DefWindowProc(window, message, wParam, lParam);
    }
}

void ResetApplicationState() {
    MainWindow = nullptr;
    ClientArea = {};
    FrameClock = 0.0f;
    RotationDrag = {};
    PanDrag = {};
    GreyDrag = {};
    WheelKeys = 0;
    PanByRightButton = false;
    WheelX = WheelY = -1;
    OrbitCamera = {};
    InputHandlerTable = {};
    CoarseFramesFirst = false;
    TimePlay() = TimePlayback{};
    StopTimePlay();
    SetVolumeShading(true);
    SetVolumeMode(VolumeMode::Composite);
    SetBackground(Background::DarkBlue);
    SetBoundaries(false);
    {
        const uint32_t none[3] = {0, 0, 0};
        SetSlicePlanes(SlicePlanes{}, none);
    }
    StatusLineShown = true;
    VolumeCrop = CropBox{};
    SetClearSpaceCrop(VolumeCrop.low, VolumeCrop.high);
}

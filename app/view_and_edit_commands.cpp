// Edit > Undo and Redo of the transfer function, the standard views, the
// start camera and the fit, the status line, and File > Save Picture.
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/picture_file.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "slicing/slice_geometry.h"
#include "ui/tab.h"
#include "volume/volume.h"

namespace {

constexpr const char* kPictureCaption = "Save Picture";
constexpr const char* kNoPicture = "There is no picture to save: open a volume first.";

// The camera jumps in one step: a rotation drag under way ends (its button
// release then does nothing).
void ShowCamera(const OrbitCameraRecord& camera) {
    EndRotationDrag();
    OrbitCamera = camera;
    if (Renderer.context != nullptr)
        UpdateCamera();
}

}  // namespace

void ShowStandardView(StandardView view) {
    const OrbitAngles angles = StandardViewAngles(view);
    OrbitCameraRecord camera = OrbitCamera;  // the distance stays as zoomed
    camera.pitch = angles.pitch;
    camera.yaw = angles.yaw;
    camera.panX = camera.panY = 0.0f;  // looking at the box's centre
    ShowCamera(camera);
}

ProjectionScale CurrentProjectionScale() {
    // Transposed for the shaders; the diagonal is the same either way.
    return {Renderer.projection.m[0][0], Renderer.projection.m[1][1]};
}

void FitView() {
    if (Volume.voxels == nullptr)
        return;
    const ProjectionScale scale = CurrentProjectionScale();
    if (scale.x == 0.0f || scale.y == 0.0f)
        return;
    OrbitCameraRecord camera = OrbitCamera;
    const float half[3] = {Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ};
    FitBoxInView(&camera, half, VolumeCrop.low, VolumeCrop.high, scale);
    ShowCamera(camera);
}

bool StatusLineShown = true;

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

}  // namespace

std::string StatusLineText() {
    // The open panel has the window's bottom to itself.
    if (Volume.voxels == nullptr || !(EditorTab.state & UI::kTabClosed))
        return {};
    // Short, so that a small window keeps the panel's handle clear of it.
    const auto join = [](std::string& line, const std::string& part) {
        if (!part.empty())
            line += (line.empty() ? "" : "   ") + part;
    };
    std::string line =
        std::to_string(Volume.dimX) + "x" + std::to_string(Volume.dimY) + "x" + std::to_string(Volume.dimZ);
    join(line, Number(Volume.spacingX) + "x" + Number(Volume.spacingY) + "x" + Number(Volume.spacingZ));
    std::string window = Number(Volume.windowLow) + ".." + Number(Volume.windowHigh);
    if (!Volume.valueUnit.empty())
        window += " " + Volume.valueUnit;
    join(line, window);
    join(line, Volume.levelText);
    join(line, FinerLevelReadText());
    if (EditorTab.channelCount > 1)
        join(line, "channel " + std::to_string(EditorTab.editedChannel + 1) + "/" +
                       std::to_string(EditorTab.channelCount));
    if (Volume.timePoints > 1)
        join(line,
             "t " + std::to_string(Volume.shownTimePoint + 1) + "/" + std::to_string(Volume.timePoints));
    join(line, ShownPlaneText());
    if (Renderer.layerQuality.Full()) {
        join(line, "whole");
    } else if (Renderer.refining && !Renderer.sliceFirstIndex.empty()) {
        // In tens: each new text redraws the window's last picture.
        const size_t percent = Renderer.refineNextSlice * 10 / Renderer.sliceFirstIndex.size() * 10;
        join(line, "refining " + std::to_string(percent) + "%");
    } else {
        join(line, "coarse");
    }
    return line;
}

void UpdateStatusLine() {
    if (MainWindow == nullptr)
        return;
    shell::SetStatusText(MainWindow, StatusLineShown ? StatusLineText().c_str() : nullptr);
}

void ShowStartView() {
    ShowCamera(OrbitCameraRecord{});
}

void UndoTransferEdit() {
    EditorTab.UndoEdit();
}

void RedoTransferEdit() {
    EditorTab.RedoEdit();
}

void UpdateEditMenu() {
    const shell::HMENU menu = shell::GetMenu(MainWindow);
    if (menu == nullptr)
        return;
    shell::EnableMenuItem(menu, kCmdEditUndo,
                          EditorTab.history.CanUndo() ? shell::MF_ENABLED : shell::MF_GRAYED);
    shell::EnableMenuItem(menu, kCmdEditRedo,
                          EditorTab.history.CanRedo() ? shell::MF_ENABLED : shell::MF_GRAYED);
}

bool HandleViewAndEditKey(int key) {
    const bool control = shell::GetKeyState(shell::VK_CONTROL) < 0;
    const bool shift = shell::GetKeyState(shell::VK_SHIFT) < 0;
    if (control) {
        if (key == 'Z' && !shift)
            UndoTransferEdit();
        else if ((key == 'Z' && shift) || (key == 'Y' && !shift))
            RedoTransferEdit();
        else if (key == 'S' && shift)
            SavePicture();
        else if (key >= '1' && key <= '4' && !shift)
            EditorTab.SelectChannel(static_cast<uint32_t>(key - '1'));
        else
            return false;
        return true;
    }
    if (shift)
        return false;
    if (key >= '1' && key <= '6') {
        ShowStandardView(static_cast<StandardView>(key - '1'));
        return true;
    }
    if (key == shell::VK_HOME) {
        ShowStartView();
        return true;
    }
    if (key == 'F') {
        FitView();
        return true;
    }
    if (key == shell::VK_PRIOR || key == shell::VK_NEXT) {
        MoveSlicePlane(key == shell::VK_PRIOR ? 1 : -1);
        return true;
    }
    if (key == 'S') {
        ShowSliceWindow();
        return true;
    }
    if (key == shell::VK_ESCAPE && !FinerLevelReadText().empty()) {
        EndFinerLevelRead();  // the coarse level stays
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The Slices menu. Its planes are kept while no volume is shown, and a new
// volume takes them, each brought inside its grid.
namespace {

void VolumeDims(uint32_t dims[3]) {
    dims[0] = static_cast<uint32_t>(std::max(Volume.dimX, 0));
    dims[1] = static_cast<uint32_t>(std::max(Volume.dimY, 0));
    dims[2] = static_cast<uint32_t>(std::max(Volume.dimZ, 0));
}

void ShowPlanes(const SlicePlanes& planes) {
    uint32_t dims[3];
    VolumeDims(dims);
    SetSlicePlanes(planes, dims);
    ShowSliceChecks();
    UpdateStatusLine();
}

}  // namespace

std::string ShownPlaneText() {
    uint32_t dims[3];
    VolumeDims(dims);
    const float spacing[3] = {Volume.spacingX, Volume.spacingY, Volume.spacingZ};
    return PlanePlaceText(Renderer.planes, dims, spacing);
}

void ToggleSlicePlane(int axis) {
    uint32_t dims[3];
    VolumeDims(dims);
    SlicePlanes planes = Renderer.planes;
    TogglePlane(planes, axis, dims);
    ShowPlanes(planes);
}

void ClearSlicePlanes() {
    SlicePlanes planes = Renderer.planes;
    ClearPlanes(planes);
    ShowPlanes(planes);
}

void ToggleSlicePlaneOutlines() {
    SlicePlanes planes = Renderer.planes;
    planes.outlines = !planes.outlines;
    ShowPlanes(planes);
}

void MoveSlicePlane(int delta) {
    uint32_t dims[3];
    VolumeDims(dims);
    SlicePlanes planes = Renderer.planes;
    if (Volume.voxels != nullptr && MovePlane(planes, delta, dims))
        ShowPlanes(planes);
}

void MovePlanesToVoxel(const uint32_t voxel[3]) {
    uint32_t dims[3];
    VolumeDims(dims);
    SlicePlanes planes = Renderer.planes;
    if (Volume.voxels == nullptr || planes.current < 0 || planes.current > 2)
        return;
    bool moved = false;
    for (int axis = 0; axis < 3; ++axis) {
        if (axis == planes.current || dims[axis] == 0)
            continue;
        const int32_t layer = static_cast<int32_t>(std::min(voxel[axis], dims[axis] - 1));
        moved = moved || planes.index[axis] != layer;
        planes.index[axis] = layer;
    }
    if (!moved)
        return;
    // A drag in the slice window keeps coming: drawn as a drag until it rests.
    NoteContinuousInput();
    ShowPlanes(planes);
}

void FitSlicePlanesToVolume() {
    uint32_t dims[3];
    VolumeDims(dims);
    SlicePlanes planes = Renderer.planes;
    ClampPlanes(planes, dims);
    // The 12 bits hold each volume's own value window: a grey window set on
    // one volume means the same part of the next one's, unless none of the
    // new one's values would tell from another there.
    FitGreyWindow(&planes.greyLow, &planes.greyHigh, Volume.valueCounts.data(), Volume.valueCounts.size());
    SetSlicePlanes(planes, dims);
    RefreshSliceWindow();
}

std::optional<PlaneHit> SlicePlaneAt(int32_t x, int32_t y) {
    if (Volume.voxels == nullptr || x < 0 || y < 0 || x >= ClientArea.width || y >= ClientArea.height)
        return std::nullopt;
    PlaneCamera camera;
    const DrawnBox drawn = VolumeDrawnBox();
    camera.view = drawn.view;
    d3dx::MatrixTranspose(&camera.projection, &Renderer.projection);
    camera.width = ClientArea.widthF;
    camera.height = ClientArea.heightF;
    for (int axis = 0; axis < 3; ++axis) {
        camera.halfExtents[axis] = drawn.half[axis];
        camera.cropLow[axis] = drawn.crop.low[axis];
        camera.cropHigh[axis] = drawn.crop.high[axis];
    }
    return PlaneUnderCursor(camera, Renderer.planes, Renderer.planeGrid, x, y);
}

bool MoveSlicePlaneAt(int32_t x, int32_t y, int notches) {
    const std::optional<PlaneHit> hit = SlicePlaneAt(x, y);
    if (!hit)
        return false;
    uint32_t dims[3];
    VolumeDims(dims);
    SlicePlanes planes = Renderer.planes;
    planes.current = hit->axis;
    MovePlane(planes, notches, dims);
    ShowPlanes(planes);
    return true;
}

bool OpenSliceWindowAt(int32_t x, int32_t y) {
    const std::optional<PlaneHit> hit = SlicePlaneAt(x, y);
    if (!hit)
        return false;
    SlicePlanes planes = Renderer.planes;
    planes.current = hit->axis;
    ShowPlanes(planes);
    ShowSliceWindow();
    return true;
}

bool StartGreyWindowDrag(int32_t x, int32_t y) {
    if (!SlicePlaneAt(x, y))
        return false;
    StartGreyDrag(x, y, Renderer.planes.greyLow, Renderer.planes.greyHigh);
    return true;
}

void DragGreyWindowTo(int32_t x, int32_t y) {
    SlicePlanes planes = Renderer.planes;
    if (!GreyDragWindow(x, y, &planes.greyLow, &planes.greyHigh))
        return;
    if (planes.greyLow != Renderer.planes.greyLow || planes.greyHigh != Renderer.planes.greyHigh)
        ShowPlanes(planes);
}

void ShowSliceChecks() {
    const shell::HMENU menu = MainWindow != nullptr ? shell::GetMenu(MainWindow) : nullptr;
    if (menu == nullptr)
        return;
    const SlicePlanes& planes = Renderer.planes;
    auto check = [](bool on) { return on ? shell::MF_CHECKED : shell::MF_UNCHECKED; };
    shell::CheckMenuItem(menu, kCmdSlicesXAxis, check(planes.shown[0]));
    shell::CheckMenuItem(menu, kCmdSlicesYAxis, check(planes.shown[1]));
    shell::CheckMenuItem(menu, kCmdSlicesZAxis, check(planes.shown[2]));
    shell::CheckMenuItem(menu, kCmdSlicesShowBoundaries, check(planes.outlines));
}

// The save dialog for PNG pictures; empty on cancel. The file is a PNG
// whatever it is called: a name without the extension gets it, as the
// dialog's filter suggests. `replacing`: the name chosen is the file written,
// so the dialog asks before it names one that exists.
std::string AskPictureName(const char* initialName, bool replacing) {
    char path[4096] = {};
    std::snprintf(path, sizeof(path), "%s", initialName);
    shell::OPENFILENAME ofn;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = "PNG Pictures (*.png)\0*.png\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof(path);
    ofn.Flags = shell::OFN_EXPLORER | (replacing ? shell::OFN_OVERWRITEPROMPT : 0);
    ofn.lpstrDefExt = "png";
    if (!shell::GetSaveFileName(&ofn))
        return {};
    return path;
}

void SavePicture() {
    // The picture is taken before the dialog, so that it is the one the user
    // chose to save whatever the dialog's window does to the frames.
    ScreenPicture picture;
    if (!CaptureVolumePicture(&picture)) {
        shell::MessageBox(MainWindow, kNoPicture, kPictureCaption, shell::MB_OK);
        return;
    }
    const std::string chosen = AskPictureName("tamlo.png", true);
    if (chosen.empty())
        return;
    std::string why;
    if (!WritePicturePng(chosen, picture, &why))
        shell::MessageBox(MainWindow, ("Unable to save the picture (" + chosen + "): " + why).c_str(),
                          kPictureCaption, shell::MB_OK);
}

void SaveTurntable(int pictures) {
    ScreenPicture picture;
    if (pictures < 1 || !CaptureVolumePicture(&picture)) {
        shell::MessageBox(MainWindow, kNoPicture, "Save Turntable", shell::MB_OK);
        return;
    }
    const std::string chosen = AskPictureName("turntable.png", false);
    if (chosen.empty())
        return;
    // Each picture drawn whole from its own view; the view the user had comes
    // back afterwards. The first picture that cannot be written ends the turn
    // with one message (those already written stay).
    EndRotationDrag();
    const OrbitCameraRecord start = OrbitCamera;
    for (int i = 0; i < pictures; ++i) {
        OrbitCamera.yaw = TurntableFrameYaw(start.yaw, i, pictures);
        UpdateCamera();
        const std::string name = TurntableFrameName(chosen, i);
        std::string why;
        if (!CaptureVolumePicture(&picture) || !WritePicturePng(name, picture, &why)) {
            shell::MessageBox(MainWindow, ("Unable to save the picture (" + name + "): " + why).c_str(),
                              "Save Turntable", shell::MB_OK);
            break;
        }
    }
    OrbitCamera = start;
    UpdateCamera();
}

// Small Dear ImGui windows over the client area: View > Crop... (a range
// slider for each axis of the box and a Reset button; the box is outlined
// while a slider moves), View > Channels... (a line a channel), File >
// Save Turntable... (how many pictures), View > Time... (a series'
// point, its play, rate and loop) and the slice window (the current plane
// laid flat, key S).
// They draw with the menu bar (the shell's overlay); what they change is
// applied by the window procedure, between frames, so nothing is rebuilt or
// drawn on the device while the bar is being drawn.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "app/app_state.h"
#include "render/plane_picture.h"
#include "render/renderer.h"
#include "slicing/slice_geometry.h"
#include "ui/tab.h"
#include "ui/value_readout.h"
#include "volume/volume.h"

namespace {

struct CropWindowRecord {
    bool open = false;
    CropBox pending;  // what the sliders set, applied at kCmdCropApply
};
CropWindowRecord CropWindow;

struct TurntableWindowRecord {
    bool open = false;
    int pictures = 36;
};
TurntableWindowRecord TurntableWindow;

struct TimeWindowRecord {
    bool open = false;
    int pending = 0;  // the slider's point, shown at kCmdTimeApply
};
TimeWindowRecord TimeWindow;
struct ChannelsWindowRecord {
    bool open = false;
};
ChannelsWindowRecord ChannelsWindow;

// The current plane flat. Its picture is made on the CPU at the size shown
// and kept as the overlay's texture; it is made again only when what it
// shows changes (the plane, its layer, the grey window, the size, the volume).
struct SliceWindowRecord {
    bool open = false;
    bool stale = true;  // another volume or time point: the samples changed
    struct Made {
        int axis = -1;
        int32_t index = -1;
        float low = 0, high = 0;
        uint32_t width = 0, height = 0;
        const uint16_t* texels = nullptr;
        uint32_t component = 0;
        // With several channels, each one's colour on the plane (black: hidden).
        float colours[4][3] = {};
        bool operator==(const Made&) const = default;
    } made;
    std::vector<uint8_t> grey, rgba;
    void* texture = nullptr;
    // The voxel clicked, whose layers the other planes take at
    // kCmdSliceWindowApply.
    uint32_t pending[3] = {0, 0, 0};
};
SliceWindowRecord SliceWindow;
constexpr int kSliceImageSlot = 1;

bool AnyToolWindowOpen() {
    return CropWindow.open || TurntableWindow.open || TimeWindow.open || ChannelsWindow.open ||
           SliceWindow.open;
}

constexpr float kWindowWidth = 320.0f, kWindowHeight = 132.0f, kMargin = 10.0f;

// The axes by the scans' orientation: x runs to the patient's left, y to the
// head, z to the back (volume/scan_import.h).
constexpr const char* kAxisNames[3] = {"right - left", "foot - head", "front - back"};

// The crop's edges projected as the slices are: object space through the
// view and projection, to window pixels below the menu bar.
void DrawOutline(const CropBox& crop, int clientTop) {
    if (Volume.volumeView == nullptr || ClientArea.width <= 0 || ClientArea.height <= 0)
        return;
    d3dx::Matrix projection;  // kept transposed for the shaders
    d3dx::MatrixTranspose(&projection, &Renderer.projection);
    const float half[3] = {Volume.halfExtentX, Volume.halfExtentY, Volume.halfExtentZ};
    ImVec2 pixel[8];
    bool visible[8];
    for (int c = 0; c < 8; ++c) {
        float at[3];
        for (int axis = 0; axis < 3; ++axis) {
            const float fraction = (c >> (2 - axis)) & 1 ? crop.high[axis] : crop.low[axis];
            at[axis] = -half[axis] + fraction * 2.0f * half[axis];
        }
        const d3dx::Vector3 object{at[0], at[1], at[2]};
        d3dx::Vector4 view;
        d3dx::Vec3Transform(&view, &object, &Renderer.view);
        const d3dx::Vector3 viewPoint{view.x, view.y, view.z};
        d3dx::Vector4 clip;
        d3dx::Vec3Transform(&clip, &viewPoint, &projection);
        visible[c] = clip.w > 1e-4f;
        pixel[c] =
            ImVec2((clip.x / clip.w + 1.0f) * 0.5f * ClientArea.widthF,
                   (1.0f - clip.y / clip.w) * 0.5f * ClientArea.heightF + static_cast<float>(clientTop));
    }
    ImDrawList* lines = ImGui::GetBackgroundDrawList();
    const ImU32 colour = IM_COL32(255, 210, 0, 255);
    for (int c = 0; c < 8; ++c)
        for (int bit : {1, 2, 4})
            if (!(c & bit) && visible[c] && visible[c | bit])
                lines->AddLine(pixel[c], pixel[c | bit], colour, 1.0f);
}

void DrawCropWindow(int clientTop) {
    ImGui::SetNextWindowPos(ImVec2(std::max(0.0f, ClientArea.widthF - kWindowWidth - kMargin),
                                   static_cast<float>(clientTop) + kMargin),
                            ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(kWindowWidth, kWindowHeight), ImGuiCond_Always);
    bool open = true;
    bool sliding = false, changed = false, letGo = false;
    CropBox box = CropWindow.pending;
    if (ImGui::Begin(
            "Crop", &open,
            ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings)) {
        for (int axis = 0; axis < 3; ++axis) {
            float range[2] = {box.low[axis], box.high[axis]};
            if (ImGui::SliderFloat2(kAxisNames[axis], range, 0.0f, 1.0f, "%.2f")) {
                // The end that moved pushes the other along rather than cross it.
                if (range[0] != box.low[axis])
                    range[1] = std::max(range[1], range[0]);
                else
                    range[0] = std::min(range[0], range[1]);
                box.low[axis] = std::clamp(range[0], 0.0f, 1.0f);
                box.high[axis] = std::clamp(range[1], 0.0f, 1.0f);
                changed = true;
            }
            sliding = sliding || ImGui::IsItemActive();
            letGo = letGo || ImGui::IsItemDeactivatedAfterEdit();
        }
        if (ImGui::Button("Reset")) {
            box = CropBox{};
            changed = letGo = true;
        }
    }
    ImGui::End();
    if (sliding)
        DrawOutline(box, clientTop);
    if (changed) {
        CropWindow.pending = box;
        shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdCropApply, 0);
    }
    // After the crop is applied: a store's part is then read at the finest
    // level that fits it.
    if (letGo)
        shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdCropRead, 0);
    CropWindow.open = open;
}

void DrawTurntableWindow(int clientTop) {
    ImGui::SetNextWindowPos(ImVec2(kMargin, static_cast<float>(clientTop) + kMargin), ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(260.0f, 84.0f), ImGuiCond_Always);
    bool open = true;
    if (ImGui::Begin(
            "Save Turntable", &open,
            ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings)) {
        ImGui::SliderInt("pictures", &TurntableWindow.pictures, 1, 360);
        TurntableWindow.pictures = std::clamp(TurntableWindow.pictures, 1, 360);
        if (ImGui::Button("Save...")) {
            open = false;
            shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdTurntableSave, 0);
        }
    }
    ImGui::End();
    TurntableWindow.open = open;
}

// The series' point, its time, and the play: everything that shows another
// point is sent to the window procedure; the rate and the loop are the
// play's own settings.
void DrawTimeWindow(int clientTop) {
    if (Volume.voxels == nullptr || Volume.timePoints < 2) {
        TimeWindow.open = false;
        return;
    }
    // Bottom right, clear of the panel's handle (bottom left) and the crop
    // window (top right).
    constexpr float kTimeHeight = 124.0f;
    ImGui::SetNextWindowPos(
        ImVec2(std::max(0.0f, ClientArea.widthF - kWindowWidth - kMargin),
               static_cast<float>(clientTop) + std::max(kMargin, ClientArea.heightF - kTimeHeight - kMargin)),
        ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(kWindowWidth, kTimeHeight), ImGuiCond_Always);
    bool open = true;
    const int last = static_cast<int>(Volume.timePoints) - 1;
    if (ImGui::Begin(
            "Time", &open,
            ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings)) {
        TimePlayback& play = TimePlay();
        const std::string text =
            TimePointText(Volume.shownTimePoint, Volume.timePoints, Volume.timeStep, Volume.timeUnit);
        ImGui::TextUnformatted(text.c_str());
        // Counted from 1, as the line above counts.
        int point = static_cast<int>(Volume.shownTimePoint) + 1;
        if (ImGui::SliderInt("point", &point, 1, last + 1, "%d")) {
            TimeWindow.pending = std::clamp(point - 1, 0, last);
            shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdTimeApply, 0);
        }
        if (ImGui::Button("<"))
            shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdTimeBack, 0);
        ImGui::SameLine();
        if (ImGui::Button(TimePlaying() ? "Pause" : "Play", ImVec2(60.0f, 0.0f)))
            shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdTimePlay, 0);
        ImGui::SameLine();
        if (ImGui::Button(">"))
            shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdTimeForward, 0);
        ImGui::SameLine();
        ImGui::Checkbox("Loop", &play.loop);
        ImGui::SliderFloat("frames/s", &play.framesPerSecond, kMinFramesPerSecond, kMaxFramesPerSecond,
                           "%.0f");
        play.framesPerSecond = std::clamp(play.framesPerSecond, kMinFramesPerSecond, kMaxFramesPerSecond);
    }
    ImGui::End();
    TimeWindow.open = open;
}

// A line a channel: whether it is shown, its colour, its name, and whether
// the panel edits it. The edits go to the window procedure as commands.
void DrawChannelsWindow(int clientTop) {
    const uint32_t count = EditorTab.channelCount;
    if (count <= 1) {  // a volume of one channel has none to choose
        ChannelsWindow.open = false;
        return;
    }
    ImGui::SetNextWindowPos(ImVec2(kMargin, static_cast<float>(clientTop) + kMargin), ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(kWindowWidth, 40.0f + 26.0f * static_cast<float>(count)),
                             ImGuiCond_Always);
    bool open = true;
    if (ImGui::Begin(
            "Channels", &open,
            ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoSavedSettings)) {
        for (uint32_t c = 0; c < count; ++c) {
            ImGui::PushID(static_cast<int>(c));
            bool visible = c < EditorTab.channelVisible.size() && EditorTab.channelVisible[c];
            if (ImGui::Checkbox("##shown", &visible))
                shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdChannelToggleFirst + c, 0);
            ImGui::SameLine();
            const uint32_t rgb = c < EditorTab.channelColours.size() ? EditorTab.channelColours[c] : 0xFFFFFF;
            const ImVec4 swatch(static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                                static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                                static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f);
            ImGui::ColorButton("##colour", swatch, ImGuiColorEditFlags_NoTooltip, ImVec2(18.0f, 18.0f));
            ImGui::SameLine();
            const std::string name = c < Volume.channels.size() ? ChannelLabel(Volume.channels[c], c)
                                                                : "Channel " + std::to_string(c + 1);
            if (ImGui::RadioButton(name.c_str(), EditorTab.editedChannel == c) &&
                EditorTab.editedChannel != c)
                shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdChannelEditFirst + c, 0);
            ImGui::PopID();
        }
    }
    ImGui::End();
    ChannelsWindow.open = open;
}

// The samples the planes show: the shown time point's, of the channel the
// panel edits where there are several (its value window is the one known).
PlaneSamples ShownPlaneSamples() {
    PlaneSamples samples;
    samples.dims[0] = static_cast<uint32_t>(std::max(Volume.dimX, 0));
    samples.dims[1] = static_cast<uint32_t>(std::max(Volume.dimY, 0));
    samples.dims[2] = static_cast<uint32_t>(std::max(Volume.dimZ, 0));
    if (Volume.voxels == nullptr)
        return samples;
    samples.components = std::max(Volume.texelComponents, 1u);
    if (samples.components > 1) {
        samples.texels = Volume.voxels.get();
        samples.component = std::min(EditorTab.editedChannel, Volume.ShownChannels() - 1);
    } else {
        samples.texels = Volume.Texels(0, std::min(Volume.shownTimePoint, Volume.timePoints - 1));
    }
    return samples;
}

void CloseSliceWindow() {
    SliceWindow.open = false;
    SliceWindow.texture = shell::SetOverlayImage(MainWindow, kSliceImageSlot, nullptr, 0, 0);
    SliceWindow.made = {};
    SliceWindow.grey = {};
    SliceWindow.rgba = {};
}

void DrawSliceWindow(int clientTop) {
    const SlicePlanes& planes = Renderer.planes;
    const int axis = planes.current;
    const PlaneSamples samples = ShownPlaneSamples();
    if (samples.texels == nullptr || axis < 0 || axis > 2 || !planes.shown[axis] || planes.index[axis] < 0 ||
        static_cast<uint32_t>(planes.index[axis]) >= samples.dims[axis]) {
        CloseSliceWindow();
        return;
    }
    ImGui::SetNextWindowPos(ImVec2(kMargin, static_cast<float>(clientTop) + kMargin), ImGuiCond_Appearing);
    ImGui::SetNextWindowSize(ImVec2(240.0f, 270.0f), ImGuiCond_Appearing);
    ImGui::SetNextWindowSizeConstraints(ImVec2(120.0f, 120.0f), ImVec2(4096.0f, 4096.0f));
    bool open = true;
    const std::string title = std::string("Slice: ") + PlaneName(axis) + " " +
                              std::to_string(planes.index[axis] + 1) + " / " +
                              std::to_string(samples.dims[axis]) + "###Slice";
    if (ImGui::Begin(title.c_str(), &open, ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoSavedSettings)) {
        const float line = ImGui::GetTextLineHeightWithSpacing();
        const ImVec2 region = ImGui::GetContentRegionAvail();
        const float spacing[3] = {Volume.spacingX, Volume.spacingY, Volume.spacingZ};
        float width = 0, height = 0;
        FitPlanePicture(axis, samples.dims, spacing, region.x, region.y - line, &width, &height);
        SliceWindowRecord::Made want{axis,
                                     planes.index[axis],
                                     planes.greyLow,
                                     planes.greyHigh,
                                     static_cast<uint32_t>(width),
                                     static_cast<uint32_t>(height),
                                     samples.texels,
                                     samples.component};
        // Several channels show as the plane in the 3-D view does: each
        // visible one's grey in its colour.
        const uint32_t channels =
            samples.components > 1 ? std::min(EditorTab.channelCount, samples.components) : 1;
        if (channels > 1)
            std::memcpy(want.colours, Renderer.planeChannelColours, sizeof(want.colours));
        if (want.width > 0 && want.height > 0 && (SliceWindow.stale || !(want == SliceWindow.made))) {
            if (channels > 1) {
                std::vector<std::vector<uint8_t>> greys(channels);
                PlaneSamples channel = samples;
                for (uint32_t c = 0; c < channels; ++c) {
                    channel.component = c;
                    FillPlanePicture(channel, axis, want.index, want.low, want.high, want.width, want.height,
                                     &greys[c]);
                }
                ChannelGreysToRgba(greys, want.colours, &SliceWindow.rgba);
            } else {
                FillPlanePicture(samples, axis, want.index, want.low, want.high, want.width, want.height,
                                 &SliceWindow.grey);
                GreyToRgba(SliceWindow.grey, &SliceWindow.rgba);
            }
            SliceWindow.texture = shell::SetOverlayImage(MainWindow, kSliceImageSlot, SliceWindow.rgba.data(),
                                                         want.width, want.height);
            SliceWindow.made = want;
            SliceWindow.stale = false;
        }
        std::string readout = SliceWindow.texture == nullptr && want.width > 0 && want == SliceWindow.made
                                  ? "The device gave no texture for the picture."
                                  : "Click moves the other planes.";
        if (SliceWindow.texture != nullptr && want == SliceWindow.made) {
            // Centred across the window, under the title.
            const ImVec2 start = ImGui::GetCursorScreenPos();
            const ImVec2 at(start.x + std::floor((region.x - width) * 0.5f), start.y);
            const ImVec2 end(at.x + width, at.y + height);
            ImGui::SetCursorScreenPos(at);
            ImGui::Image(SliceWindow.texture, ImVec2(width, height));
            ImGui::SetCursorScreenPos(at);
            ImGui::InvisibleButton("##plane", ImVec2(width, height));
            const bool held = ImGui::IsItemActive();
            const PlaneAxes picture = PlanePictureAxes(axis);
            ImDrawList* lines = ImGui::GetWindowDrawList();
            for (int other : {picture.across, picture.down}) {
                if (!planes.shown[other])
                    continue;
                const float f = PlanePictureLine(axis, other, planes.index[other], samples.dims);
                const ImU32 colour = ImGui::ColorConvertFloat4ToU32(
                    ImVec4(kPlaneColours[other][0], kPlaneColours[other][1], kPlaneColours[other][2], 1.0f));
                // On whole pixels (ImGui draws through their centres): one pixel wide, in its own colour.
                if (other == picture.across) {
                    const float x = std::floor(at.x + f * width);
                    lines->AddLine(ImVec2(x, at.y), ImVec2(x, end.y), colour, 1.0f);
                } else {
                    const float y = std::floor(at.y + f * height);
                    lines->AddLine(ImVec2(at.x, y), ImVec2(end.x, y), colour, 1.0f);
                }
            }
            if (held || ImGui::IsItemHovered()) {
                const ImVec2 mouse = ImGui::GetIO().MousePos;
                uint32_t voxel[3];
                PlanePictureVoxel(axis, planes.index[axis], samples.dims, (mouse.x - at.x) / width,
                                  (mouse.y - at.y) / height, voxel);
                const UI::ValueScale scale{Volume.isScan, Volume.windowLow, Volume.windowHigh,
                                           Volume.valueUnit};
                // A part of a store's level counts its voxels as the level does.
                readout = "x " + std::to_string(voxel[0] + Volume.partOrigin[0]) + ", y " +
                          std::to_string(voxel[1] + Volume.partOrigin[1]) + ", z " +
                          std::to_string(voxel[2] + Volume.partOrigin[2]) + ": " +
                          UI::ValueText(samples.Value(voxel[0], voxel[1], voxel[2]) / 4095.0f, scale);
                const bool moved = voxel[picture.across] != SliceWindow.pending[picture.across] ||
                                   voxel[picture.down] != SliceWindow.pending[picture.down];
                if (held && (ImGui::IsItemActivated() || moved)) {
                    std::copy(voxel, voxel + 3, SliceWindow.pending);
                    shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdSliceWindowApply, 0);
                }
            }
            ImGui::SetCursorScreenPos(ImVec2(start.x, end.y + 2.0f));
        }
        ImGui::TextUnformatted(readout.c_str());
    }
    ImGui::End();
    if (!open)
        CloseSliceWindow();
}

void DrawToolWindows(int clientTop) {
    if (CropWindow.open)
        DrawCropWindow(clientTop);
    if (TurntableWindow.open)
        DrawTurntableWindow(clientTop);
    if (TimeWindow.open)
        DrawTimeWindow(clientTop);
    if (ChannelsWindow.open)
        DrawChannelsWindow(clientTop);
    if (SliceWindow.open)
        DrawSliceWindow(clientTop);
    // Not from here: this very function would be replaced while it runs.
    if (!AnyToolWindowOpen())
        shell::PostMessage(MainWindow, shell::WM_COMMAND, kCmdToolWindowsClose, 0);
}

}  // namespace

void ShowCropWindow() {
    CropWindow.open = true;
    CropWindow.pending = VolumeCrop;
    shell::SetWindowOverlay(MainWindow, &DrawToolWindows);
}

void ApplyCropWindow() {
    // A slider moved: drawn as during a drag until it rests, then whole.
    NoteContinuousInput();
    SetVolumeCrop(CropWindow.pending);
}

void ShowTurntableWindow() {
    TurntableWindow.open = true;
    shell::SetWindowOverlay(MainWindow, &DrawToolWindows);
}

int TurntablePictureCount() {
    return TurntableWindow.pictures;
}

void ShowTimeWindow() {
    if (Volume.voxels == nullptr || Volume.timePoints < 2)
        return;
    TimeWindow.open = true;
    TimeWindow.pending = static_cast<int>(Volume.shownTimePoint);
    shell::SetWindowOverlay(MainWindow, &DrawToolWindows);
}

void HideTimeWindow() {
    TimeWindow.open = false;
    CloseToolWindows();
}

uint32_t TimeWindowPoint() {
    return static_cast<uint32_t>(std::max(TimeWindow.pending, 0));
}

void ShowChannelsWindow() {
    if (EditorTab.channelCount <= 1)
        return;
    ChannelsWindow.open = true;
    shell::SetWindowOverlay(MainWindow, &DrawToolWindows);
}

bool ChannelsWindowOpen() {
    return ChannelsWindow.open;
}

void ShowSliceWindow() {
    const int axis = Renderer.planes.current;
    if (Volume.voxels == nullptr || axis < 0 || axis > 2 || !Renderer.planes.shown[axis])
        return;
    SliceWindow.open = true;
    SliceWindow.stale = true;
    shell::SetWindowOverlay(MainWindow, &DrawToolWindows);
}

void RefreshSliceWindow() {
    SliceWindow.stale = true;
}

const uint32_t* SliceWindowPoint() {
    return SliceWindow.pending;
}

void CloseToolWindows() {
    if (!AnyToolWindowOpen())
        shell::SetWindowOverlay(MainWindow, {});
}

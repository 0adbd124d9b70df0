// The transfer-function editor: a panel that slides up from the bottom of the
// window with the histogram, the control points joined by lines, a
// hue/saturation field and a lightness bar; it owns the lookup texture the
// volume is drawn through.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"
#include "ui/control_points.h"
#include "ui/hsl.h"
#include "ui/tab_state.h"
#include "ui/tf_file_io.h"
#include "ui/tf_history.h"
#include "ui/transfer_function.h"

namespace UI {

struct PanelLayout;
struct ClipBand;

// What the left button is dragging.
inline constexpr int32_t kDragNone = 0;
inline constexpr int32_t kDragField = 1;
inline constexpr int32_t kDragLightness = 2;
inline constexpr int32_t kDragInnerPoint = 3;
inline constexpr int32_t kDragFirstPoint = 4;
inline constexpr int32_t kDragLastPoint = 5;

class CTab {
  public:
    CTab();
    virtual ~CTab();
    CTab(const CTab&) = delete;
    CTab& operator=(const CTab&) = delete;

    // Releases and nulls the four geometry buffers, the lookup texture and its view.
    virtual void Release();
    // Rebuilds the panel geometry for the client size and the lookup texture.
    virtual bool Create(float x, float width, float u0, float u1);
    // Advances the slide by FrameClock; returns the state before the call.
    virtual uint32_t Update();
    virtual void Render();
    virtual bool OnLButtonDown(uint32_t keyState, int32_t x, int32_t y);
    virtual bool OnLButtonUp(uint32_t keyState, int32_t x, int32_t y);
    virtual bool OnRButtonDown(uint32_t keyState, int32_t x, int32_t y);
    // Right-button release and mouse move are one operation: is the cursor over the tab?
    virtual bool OnRButtonUp(uint32_t keyState, int32_t x, int32_t y);
    bool OnMouseMove(uint32_t keyState, int32_t x, int32_t y) { return OnRButtonUp(keyState, x, y); }

    // While a control point is dragged it follows the cursor at once, as the
    // release will leave it, so that the picture follows the hand.
    bool DraggingPoint() const {
        return dragMode == kDragInnerPoint || dragMode == kDragFirstPoint || dragMode == kDragLastPoint;
    }
    void DragPointTo(int32_t x, int32_t y);

    // The graph's pixels at the current client size (control_points.h).
    GraphPixels Graph() const;

    // The graph position (0..1) the cursor at (x, y) stands for while it is
    // over the open panel's graph or drags a control point; nothing otherwise.
    std::optional<float> GraphPositionAt(int32_t x, int32_t y) const;
    // Whether a press at (x, y) is the panel's: its handle, closed, or
    // anywhere on it, open or sliding.
    bool Covers(int32_t x, int32_t y) const;

    bool GenerateColorGeometry();
    bool GenerateTransfer();
    uint32_t HitTestPoint(int32_t x, int32_t y);
    void InsertPoint(uint32_t index, float position, float alpha);
    void DeletePoint(uint32_t index);

    // Installs a whole new function (pointCount >= 2): selects point 0 and sets
    // the picker from it. The caller rebuilds the geometry and lookup texture.
    void ReplacePoints(const ControlPoint* newPoints, uint32_t newCount);

    // The points as a list, as the history keeps them.
    PointList Points() const { return PointList(points.get(), points.get() + pointCount); }
    // Edit > Undo and Redo: the function before the last edit (or after the
    // last one undone), rebuilt at once; a drag under way is dropped. The
    // selection keeps its number where the list still has it. False, and
    // nothing changed, with nothing to undo or redo.
    bool UndoEdit();
    bool RedoEdit();
    // Every edit of the points (the panel's, a load) is a step here.
    TransferHistory history;
    // The points when the left button went down: a drag's step starts there.
    PointList dragStartPoints;

    float handleX = 0;
    float handleWidth = 0;
    float slideTime = 0;
    float slideOffset = 0;
    uint32_t state = kTabClosed;
    gpu::Buffer* texVertexBuffer = nullptr;
    gpu::Buffer* colorVertexBuffer = nullptr;
    gpu::Buffer* texIndexBuffer = nullptr;
    gpu::Buffer* colorIndexBuffer = nullptr;
    int32_t dragMode = kDragNone;
    uint32_t selectedPoint = 0;
    uint32_t pointCount = 0;
    HslColor selectedHsl{0, 0, 0};
    std::unique_ptr<ControlPoint[]> points;
    float graphOriginX = 0;
    float graphScaleX = 0;
    float graphOriginY = 0;
    float graphScaleY = 0;
    gpu::Texture1D* transferTexture = nullptr;
    gpu::ShaderResourceView* transferView = nullptr;

    // Channels drawn together (2 to 4): a function each, one of them edited
    // in the panel (`points`, `history`); the others wait in channelPoints
    // and channelHistories. The lookup is then a 2D texture of a row a
    // channel (channelTransferTexture, seen through transferView), a hidden
    // channel's row clear. One channel: none of this, as it always was.
    uint32_t channelCount = 1;
    uint32_t editedChannel = 0;
    std::vector<PointList> channelPoints;
    std::vector<TransferHistory> channelHistories;
    std::vector<bool> channelVisible;
    std::vector<uint32_t> channelColours;  // 0xRRGGBB
    gpu::Texture2D* channelTransferTexture = nullptr;
    // The volume's channels' colours (ChannelColour), one each: more than one
    // gives each channel its ramp (ChannelRamp) and edits channel 0; one
    // puts back the function the panel had before channels came.
    void SetChannels(const std::vector<uint32_t>& colours);
    // The panel edits `channel` from now on, with its own points, history
    // and histogram. False, changing nothing, for a channel not shown or
    // the one edited.
    bool SelectChannel(uint32_t channel);
    void SetChannelVisible(uint32_t channel, bool visible);
    PointList ChannelPoints(uint32_t channel) const;
    // Replaces a channel's function as a .tf file would (a step of its own
    // history) and rebuilds the lookup.
    void SetChannelPoints(uint32_t channel, const PointList& list);
    // Back to one channel, keeping the edited function, without the device
    // (a session's end); the caller sets the points it wants.
    void ForgetChannels();
    uint32_t lineIndexCount = 0;
    uint32_t triangleIndexCount = 0;

  private:
    // The panel's layout for the current client width and handle.
    PanelLayout Layout() const;
    void ClipCursorTo(int32_t left, int32_t top, int32_t right, int32_t bottom);
    void ClipCursorTo(const ClipBand& band);
    int32_t OpenPanelBottomY() const;
    bool OnHandle(int32_t x) const;
    // The closed panel's strip rows, counted from the client's bottom edge.
    bool InClosedHandleRows(int32_t y) const;
    bool StartSlideFromHandle(int32_t x);
    std::optional<bool> PressOutsideOpenPanel(int32_t x, int32_t y);
    bool InGraph(int32_t x, int32_t d) const;
    void SelectPoint(uint32_t index);
    void Rebuild();
    void RestorePoints(const PointList& list);
    bool GenerateChannelTransfer();
    // The one-channel function and history, kept while channels are shown.
    PointList singlePoints_;
    TransferHistory singleHistory_;
};

}  // namespace UI

// The one editor, alive from before the entry function until process exit.
extern UI::CTab EditorTab;

// Transfer Function > Open and > Save.
void LoadTransferFunction();
void SaveTransferFunction();

// Transfer Function > Open after the dialog: reads the .tf file and installs
// it, or shows why not and changes nothing.
bool OpenTransferFunctionFile(const char* path);

// The two halves of Transfer Function > Open, shared with the batch renderer.
// Reading (tf_file_io.h) touches nothing; installing replaces the editor's
// points and rebuilds its geometry and lookup texture.
void InstallTransferFunction(const std::vector<ControlPoint>& points);

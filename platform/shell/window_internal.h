// The SDL window, its GL context and its menu bar (one Surface per window),
// the window record behind an HWND, and the process state the shell's files
// share (windows, the message queue), with the hooks between those files.
//
// Sections: surface · window record · process state.
#pragma once

#include <SDL2/SDL.h>
#include <sys/types.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gpu/output_window.h"
#include "platform/shell/shell_internal.h"

struct ImGuiContext;

namespace shell::detail {

// ---------------------------------------------------------------------------
// Surface

// Lives as long as anyone holds it (the window record, OutputWindows given to
// the GPU layer); Destroy() drops the SDL window and the GL context, after
// which every call is a harmless no-op.
class Surface {
  public:
    ~Surface() { Destroy(); }

    // Null when SDL cannot make the window at all; a window whose GL context
    // cannot be made is still returned (MakeCurrent then fails).
    static std::shared_ptr<Surface> Create(const char* title, int x, int y, int width, int height,
                                           const MenuResource* menu);
    void Destroy();

    bool Alive() const { return window_ != nullptr; }
    SDL_Window* Window() const { return window_; }
    uint32_t WindowId() const { return windowId_; }
    int BarHeight() const { return barHeight_; }
    MenuTracker& Tracker() { return tracker_; }

    bool MakeCurrent();
    // Keeps a copy of the image, then draws it with the bar over it.
    void Present(uint32_t texture, uint32_t width, uint32_t height);
    // Draws the last presented image again (the menu changed between frames).
    void Redraw();
    // The extra ImGui content (shell.h's SetWindowOverlay) and its input: a
    // mouse event it takes never reaches the window procedure.
    void SetOverlay(std::function<void(int)> draw) { overlay_ = std::move(draw); }
    bool HasOverlay() const { return static_cast<bool>(overlay_); }
    bool OverlayTakes(const SDL_Event& event, bool clientCapture);
    // shell.h's SetOverlayImage.
    void* SetImage(int slot, const uint8_t* rgba, uint32_t width, uint32_t height);
    // A line of text beside the client point (x, y); empty: none.
    void SetToolTip(std::string text, int x, int y) {
        toolTip_ = std::move(text);
        toolTipX_ = x;
        toolTipY_ = y;
    }
    const std::string& ToolTip() const { return toolTip_; }
    void SetStatus(std::string text) { status_ = std::move(text); }
    const std::string& Status() const { return status_; }

  private:
    void DrawFrame();
    void DrawMenu();

    SDL_Window* window_ = nullptr;
    SDL_GLContext gl_ = nullptr;
    uint32_t windowId_ = 0;
    int barHeight_ = 0;
    MenuLayout layout_;
    float layoutHeight_ = 0;  // the window height the layout was made for
    MenuTracker tracker_;
    ImGuiContext* imgui_ = nullptr;
    bool imguiGl_ = false;
    std::function<void(int)> overlay_;
    struct Image {
        uint32_t texture = 0;
        uint32_t width = 0, height = 0;
    };
    std::map<int, Image> images_;  // the overlay's pictures, by slot
    uint32_t snapshot_ = 0;        // our copy of the last presented image
    uint32_t snapshotFbo_ = 0;
    uint32_t snapshotWidth_ = 0, snapshotHeight_ = 0;
    std::string toolTip_;
    std::string status_;
    int toolTipX_ = 0, toolTipY_ = 0;
};

// The pointer's screen position from the window system itself; false where
// the video driver cannot say (offscreen).
bool QueryPointer(SDL_Window* window, int* x, int* y);
// The window's X11 id, 0 when it has none (another video driver).
unsigned long NativeWindowId(SDL_Window* window);

class WindowOutput final : public gpu::OutputWindow {
  public:
    explicit WindowOutput(std::shared_ptr<Surface> surface) : surface_(std::move(surface)) {}
    bool MakeContextCurrent() override { return surface_->MakeCurrent(); }
    void PresentImage(uint32_t glTexture, uint32_t width, uint32_t height) override {
        surface_->Present(glTexture, width, height);
    }

  private:
    std::shared_ptr<Surface> surface_;
};

}  // namespace shell::detail

namespace shell {

// ---------------------------------------------------------------------------
// Window record

struct WindowRecord {
    bool alive = false;
    bool destroying = false;
    std::string className;
    WNDPROC proc = nullptr;
    UINT classStyle = 0;
    std::shared_ptr<detail::Surface> surface;
    std::shared_ptr<gpu::OutputWindow> output;
    HMENU menu = nullptr;                   // GetMenu's answer
    uint32_t buttons = 0;                   // SDL_BUTTON_*MASK held, as our events tell it
    bool clientCapture = false;             // those buttons went down in the client area
    bool menuDirty = false;                 // the bar needs drawing before the next frame comes
    bool acceptsFiles = false;              // DragAcceptFiles
    std::vector<std::string> droppedFiles;  // the drop under way, until SDL says it is complete
};

}  // namespace shell

// ---------------------------------------------------------------------------
// Process state (one UI thread, as on Win32)

namespace shell::detail {

struct ClassEntry {
    WNDCLASSEX wc;
    std::string name;
    ATOM atom = 0;
};

// A message in the queue. Input from the user carries the modifier keys as
// they were when it happened: taking it out of the queue makes them the
// state GetKeyState reports, as Win32 does.
struct QueuedMessage : MSG {
    bool input = false;
    uint16_t keyModifiers = 0;
};

// What windows and the message queue share; each other concern (menus, the
// cursor clip, the counter, debug output, drops, dialogs, boxes) keeps its own
// state in its own file and resets it for testing::Reset.
struct ShellState {
    bool sdlStarted = false;
    std::function<void()> idleHook;
    std::map<std::string, ClassEntry> classes;
    ATOM nextAtom = 0xC000;
    // Records are never freed, so that a stale HWND stays safe to pass to
    // IsWindow and DestroyWindow, as a Win32 handle is.
    std::vector<std::unique_ptr<WindowRecord>> windows;
    std::deque<QueuedMessage> queue;
    bool quitPending = false;
    int quitCode = 0;
    // SDL's KMOD_*: as the last key event taken from SDL told them, and as
    // of the input message in hand (what GetKeyState answers). They differ
    // while a key message waits in the queue behind the releases that follow it.
    uint16_t pumpedKeyModifiers = 0;
    uint16_t keyModifiers = 0;
};

ShellState& Shell();
void NoteKeyModifiers(uint16_t sdlModifiers);
// Starts SDL's video on first use; false (with a diagnostic) when it cannot.
bool EnsureSdl();
// The record behind a handle while its window lives, else null.
WindowRecord* Live(HWND window);
WindowRecord* FindBySdlId(uint32_t id);

// Cursor clipping: whether a clip is set, and putting the pointer back inside
// it (each pump does, as Win32 never lets it out).
bool CursorClipped();
void KeepPointerConfined();

// Turns SDL's drop events into one WM_DROPFILES per drop.
void HandleDrop(const SDL_Event& event);
HDROP NewDrop(std::vector<std::string> paths);

// The progress shown by ShowProgress, for drawing: null when none is.
struct ProgressShown {
    std::string text;
    double fraction = -1;  // negative: unknown
    bool cancelled = false;
};
const ProgressShown* CurrentProgress();

// Each concern's state back to its start (parts of testing::Reset).
void ResetMenus();
void ResetCounter();
void ResetDebugOutput();
void ResetDrops();
void ResetMessageBoxes();
void ResetProgress();

// While one lives, SIGTERM and SIGINT (unless ignored) are caught: a wait on a
// child (a message box, a file dialog) can then end the child and return.
// Once it is gone the signal is raised again, so that the program ends as it
// would have without the wait; from then on QuitSignalled() stays true and
// no more boxes or dialogs are shown.
class QuitSignalScope {
  public:
    QuitSignalScope();
    ~QuitSignalScope();
    QuitSignalScope(const QuitSignalScope&) = delete;
    QuitSignalScope& operator=(const QuitSignalScope&) = delete;
    bool Signalled() const;
};
bool QuitSignalled();
// Our children now, to tell a child started later (SDL's box) from them.
std::vector<pid_t> ChildProcesses();

}  // namespace shell::detail

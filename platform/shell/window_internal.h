// The SDL window, its GL context and its menu bar (one Surface per window),
// and the window record behind an HWND. Shared by shell.cpp and window_gl.cpp.
#pragma once

#include <SDL2/SDL.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gpu/output_window.h"
#include "platform/shell/shell_internal.h"

struct ImGuiContext;

namespace shell::detail {

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

  private:
    void DrawFrame();
    void DrawMenu();

    SDL_Window* window_ = nullptr;
    SDL_GLContext gl_ = nullptr;
    uint32_t windowId_ = 0;
    int barHeight_ = 0;
    MenuLayout layout_;
    MenuTracker tracker_;
    ImGuiContext* imgui_ = nullptr;
    bool imguiGl_ = false;
    uint32_t snapshot_ = 0;  // our copy of the last presented image
    uint32_t snapshotFbo_ = 0;
    uint32_t snapshotWidth_ = 0, snapshotHeight_ = 0;
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

struct WindowRecord {
    bool alive = false;
    bool destroying = false;
    std::string className;
    WNDPROC proc = nullptr;
    UINT classStyle = 0;
    std::shared_ptr<detail::Surface> surface;
    std::shared_ptr<gpu::OutputWindow> output;
    uint32_t buttons = 0;                   // SDL_BUTTON_*MASK held, as our events tell it
    bool clientCapture = false;             // those buttons went down in the client area
    bool menuDirty = false;                 // the bar needs drawing before the next frame comes
    bool acceptsFiles = false;              // DragAcceptFiles
    std::vector<std::string> droppedFiles;  // the drop under way, until SDL says it is complete
};

}  // namespace shell

// Window classes and windows over SDL, the process state they share with the
// message queue, and the shell's reset for tests.
//
// Sections: process state · classes · windows · painting · reset.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

using detail::Live;
using detail::Shell;
using detail::ShellState;

// ---------------------------------------------------------------------------
// Process state

namespace detail {

ShellState& Shell() {
    static ShellState s;
    return s;
}

bool EnsureSdl() {
    ShellState& s = Shell();
    if (s.sdlStarted) {
        return true;
    }
    // With no display SDL 2.26 does end up on its offscreen driver (GL through
    // EGL), but only after the Wayland probe complains on stderr; naming it
    // skips the probe and makes the choice plain.
    const char* x = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    const char* chosen = std::getenv("SDL_VIDEODRIVER");
    if (!(x && *x) && !(wl && *wl) && !(chosen && *chosen)) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    }
    // A close box closes a window (WM_CLOSE); it is the program that decides
    // when to quit, not SDL on its last window.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // The desktop's few pixels: SDL's default (32) would take a quick click
    // on a neighbouring point as the second half of a double click.
    SDL_SetHint(SDL_HINT_MOUSE_DOUBLE_CLICK_RADIUS, "4");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        Diagnose((std::string("SDL_Init failed: ") + SDL_GetError()).c_str());
        return false;
    }
    s.sdlStarted = true;
    return true;
}

WindowRecord* Live(HWND window) {
    if (!window) {
        return nullptr;
    }
    for (const auto& w : Shell().windows) {
        if (w.get() == window) {
            return w->alive ? w.get() : nullptr;
        }
    }
    return nullptr;
}

WindowRecord* FindBySdlId(uint32_t id) {
    for (const auto& w : Shell().windows) {
        if (w->alive && w->surface && w->surface->WindowId() == id) {
            return w.get();
        }
    }
    return nullptr;
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Classes

// Distinct non-null tokens: the program only passes them back to us.
HICON LoadStockApplicationIcon() {
    static const char icon = 0;
    return &icon;
}
HCURSOR LoadStockArrowCursor() {
    static const char cursor = 0;
    return &cursor;
}
HBRUSH GetStockBlackBrush() {
    static const char brush = 0;
    return &brush;
}

ATOM RegisterClassEx(const WNDCLASSEX* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEX) || !wc->lpfnWndProc || !wc->lpszClassName ||
        !*wc->lpszClassName) {
        detail::Diagnose("RegisterClassEx: the class has no size, window procedure or name");
        return 0;
    }
    ShellState& s = Shell();
    if (s.classes.count(wc->lpszClassName)) {
        detail::Diagnose(
            (std::string("RegisterClassEx: class already registered: ") + wc->lpszClassName).c_str());
        return 0;
    }
    detail::ClassEntry entry{*wc, wc->lpszClassName, s.nextAtom++};
    entry.wc.lpszClassName = nullptr;  // the caller's string may not outlive the call
    const ATOM atom = entry.atom;
    s.classes.emplace(entry.name, std::move(entry));
    return atom;
}

bool UnregisterClass(const char* className, HINSTANCE) {
    if (!className) {
        return false;
    }
    ShellState& s = Shell();
    const auto it = s.classes.find(className);
    if (it == s.classes.end()) {
        return false;
    }
    for (const auto& w : s.windows) {
        if (w->alive && w->className == className) {
            return false;  // Win32 refuses while windows of the class exist
        }
    }
    s.classes.erase(it);
    return true;
}

// ---------------------------------------------------------------------------
// Windows

HWND CreateWindowEx(uint32_t, const char* className, const char* title, uint32_t, int x, int y, int width,
                    int height, HWND, HMENU menu, HINSTANCE instance, void*) {
    ShellState& s = Shell();
    const auto cls = className ? s.classes.find(className) : s.classes.end();
    if (cls == s.classes.end()) {
        detail::Diagnose("CreateWindowEx: no such window class");
        return nullptr;
    }
    if (!detail::EnsureSdl()) {
        return nullptr;
    }
    if (!menu && cls->second.wc.menuResourceId != 0) {
        menu = LoadMenu(instance, cls->second.wc.menuResourceId);
    }
    const int px = x == CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : x;
    const int py = y == CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : y;
    auto surface = detail::Surface::Create(title, px, py, std::max(1, width), std::max(1, height), menu);
    if (!surface) {
        return nullptr;
    }
    auto record = std::make_unique<WindowRecord>();
    record->alive = true;
    record->className = cls->first;
    record->proc = cls->second.wc.lpfnWndProc;
    record->classStyle = cls->second.wc.style;
    record->surface = surface;
    record->menu = menu;
    record->output = std::make_shared<detail::WindowOutput>(surface);
    HWND hwnd = record.get();
    s.windows.push_back(std::move(record));

    int w = 0, h = 0;
    SDL_GetWindowSize(surface->Window(), &w, &h);
    SendMessage(
        hwnd, WM_SIZE, detail::SIZE_RESTORED,
        MAKELPARAM(static_cast<uint16_t>(w), static_cast<uint16_t>(std::max(0, h - surface->BarHeight()))));
    return hwnd;
}

bool SetWindowText(HWND window, const char* text) {
    WindowRecord* w = Live(window);
    if (!w || !w->surface || text == nullptr)
        return false;
    SDL_SetWindowTitle(w->surface->Window(), text);
    return true;
}

bool ShowWindow(HWND window, int) {
    WindowRecord* w = Live(window);
    if (!w) {
        return false;
    }
    const bool wasVisible = (SDL_GetWindowFlags(w->surface->Window()) & SDL_WINDOW_SHOWN) != 0;
    SDL_ShowWindow(w->surface->Window());
    // Win32 activates a window it shows; without a window manager (Xvfb) no one
    // else would give it the keyboard, and SDL confines the cursor only for a
    // focused window.
    SDL_RaiseWindow(w->surface->Window());
    SDL_SetWindowInputFocus(w->surface->Window());
    w->menuDirty = true;
    return wasVisible;
}

bool DestroyWindow(HWND window) {
    WindowRecord* w = Live(window);
    if (!w || w->destroying) {
        return false;
    }
    w->destroying = true;
    SendMessage(w, WM_DESTROY, 0, 0);
    w->alive = false;
    w->surface->Destroy();
    w->surface.reset();
    w->output.reset();
    ShellState& s = Shell();
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(), [w](const MSG& m) { return m.hwnd == w; }),
                  s.queue.end());
    return true;
}

void SetWindowOverlay(HWND window, std::function<void(int)> draw) {
    if (WindowRecord* w = detail::Live(window)) {
        w->surface->SetOverlay(std::move(draw));
        w->menuDirty = true;
    }
}

void* SetOverlayImage(HWND window, int slot, const uint8_t* rgba, uint32_t width, uint32_t height) {
    WindowRecord* w = detail::Live(window);
    return w ? w->surface->SetImage(slot, rgba, width, height) : nullptr;
}

bool IsWindow(HWND window) {
    return Live(window) != nullptr;
}

std::shared_ptr<gpu::OutputWindow> GetOutputWindow(HWND window) {
    WindowRecord* w = Live(window);
    return w ? w->output : nullptr;
}

// ---------------------------------------------------------------------------
// Painting

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    WindowRecord* w = Live(window);
    if (!w || !paint) {
        return nullptr;
    }
    int width = 0, height = 0;
    SDL_GetWindowSize(w->surface->Window(), &width, &height);
    paint->rcPaint = {0, 0, width, std::max(0, height - w->surface->BarHeight())};
    paint->hdc = w;
    return paint->hdc;
}

bool EndPaint(HWND window, const PAINTSTRUCT*) {
    return Live(window) != nullptr;
}

// ---------------------------------------------------------------------------
// Reset

namespace testing {

void Reset() {
    ShellState& s = Shell();
    s.idleHook = nullptr;
    detail::ResetCounter();
    ClipCursor(nullptr);
    for (const auto& w : s.windows) {
        if (w->alive) {
            // Quietly: a reset is not the program closing its windows.
            w->alive = false;
            w->surface->Destroy();
            w->surface.reset();
            w->output.reset();
        }
    }
    s.classes.clear();
    detail::ResetMenus();
    s.queue.clear();
    s.quitPending = false;
    s.quitCode = 0;
    s.keyModifiers = 0;
    s.pumpedKeyModifiers = 0;
    detail::ResetDebugOutput();
    detail::ResetDrops();
    detail::ResetDialogs();
    detail::ResetMessageBoxes();
    detail::ResetProgress();
    if (s.sdlStarted) {
        SDL_Event e;
        SDL_PumpEvents();
        while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
            if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) {
                SDL_free(e.drop.file);
            }
        }
    }
}

}  // namespace testing

}  // namespace shell

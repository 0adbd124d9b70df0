// Window classes, windows, the message queue, cursor clipping, the counter,
// debug output and the test seams.
//
// Sections: process state · menus · classes · windows · messages · cursor ·
// time and debug output · test seams.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

struct DropRecord {
    std::vector<std::string> paths;
};

// ---------------------------------------------------------------------------
// Process state (one UI thread, as on Win32)

namespace {

struct ClassEntry {
    WNDCLASSEX wc;
    std::string name;
    ATOM atom = 0;
};

struct ShellState {
    bool sdlStarted = false;
    std::function<void()> idleHook;
    std::map<int, std::unique_ptr<MenuResource>> menus;
    std::map<std::string, ClassEntry> classes;
    ATOM nextAtom = 0xC000;
    // Records are never freed, so that a stale HWND stays safe to pass to
    // IsWindow and DestroyWindow, as a Win32 handle is.
    std::vector<std::unique_ptr<WindowRecord>> windows;
    std::deque<MSG> queue;
    bool quitPending = false;
    int quitCode = 0;
    std::optional<RECT> clip;
    // The clip as it applies: the part of it over one window, in screen pixels.
    HWND confineWindow = nullptr;
    RECT confine;
    std::vector<std::string> debugLines;
    int64_t counterStep = 0;  // a test's stepped clock: 0 reads the real one
    int64_t steppedCounter = 0;
    // Drop handles not yet finished by the program (freed by a reset too).
    std::vector<std::unique_ptr<DropRecord>> drops;
};

ShellState& S() {
    static ShellState s;
    return s;
}

bool EnsureSdl() {
    ShellState& s = S();
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
        detail::Diagnose((std::string("SDL_Init failed: ") + SDL_GetError()).c_str());
        return false;
    }
    s.sdlStarted = true;
    return true;
}

WindowRecord* Live(HWND window) {
    if (!window) {
        return nullptr;
    }
    for (const auto& w : S().windows) {
        if (w.get() == window) {
            return w->alive ? w.get() : nullptr;
        }
    }
    return nullptr;
}

WindowRecord* FindBySdlId(uint32_t id) {
    for (const auto& w : S().windows) {
        if (w->alive && w->surface && w->surface->WindowId() == id) {
            return w.get();
        }
    }
    return nullptr;
}

uint32_t EventWindowId(const SDL_Event& e) {
    switch (e.type) {
        case SDL_MOUSEMOTION:
            return e.motion.windowID;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            return e.button.windowID;
        case SDL_MOUSEWHEEL:
            return e.wheel.windowID;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            return e.key.windowID;
        case SDL_WINDOWEVENT:
            return e.window.windowID;
        case SDL_DROPBEGIN:
        case SDL_DROPFILE:
        case SDL_DROPTEXT:
        case SDL_DROPCOMPLETE:
            return e.drop.windowID;
        default:
            return 0;
    }
}

HDROP NewDrop(std::vector<std::string> paths) {
    S().drops.push_back(std::make_unique<DropRecord>(DropRecord{std::move(paths)}));
    return S().drops.back().get();
}

DropRecord* LiveDrop(HDROP drop) {
    for (const auto& d : S().drops) {
        if (d.get() == drop) {
            return d.get();
        }
    }
    return nullptr;
}

// SDL gives a drop file by file between a begin and a complete event; Win32
// gives the window one message with every file. The path SDL allocated is
// ours to free, whoever it was for.
void HandleDrop(const SDL_Event& e) {
    WindowRecord* w = FindBySdlId(e.drop.windowID);
    if (!w && e.drop.windowID == 0) {
        // Backends that cannot say which window: ours, if there is just one.
        int alive = 0;
        for (const auto& candidate : S().windows) {
            if (candidate->alive) {
                w = candidate.get();
                ++alive;
            }
        }
        if (alive != 1) {
            w = nullptr;
        }
    }
    if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) {
        if (e.type == SDL_DROPFILE && w && w->acceptsFiles && e.drop.file && *e.drop.file) {
            w->droppedFiles.emplace_back(e.drop.file);
        }
        SDL_free(e.drop.file);
        return;
    }
    if (!w) {
        return;
    }
    if (e.type == SDL_DROPBEGIN) {
        w->droppedFiles.clear();
    } else if (e.type == SDL_DROPCOMPLETE && !w->droppedFiles.empty()) {
        const HDROP drop = NewDrop(std::exchange(w->droppedFiles, {}));
        PostMessage(w, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    }
}

void HandleSdlEvent(const SDL_Event& e) {
    // A confinement never outlives the focus: another window cannot be left
    // with the cursor held inside ours.
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_FOCUS_LOST && S().clip) {
        ClipCursor(nullptr);
    }
    if (e.type == SDL_DROPBEGIN || e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT ||
        e.type == SDL_DROPCOMPLETE) {
        HandleDrop(e);
        return;
    }
    if (e.type == SDL_QUIT) {
        // From a signal or the session: every window is asked to close.
        for (size_t i = 0; i < S().windows.size(); ++i) {
            if (S().windows[i]->alive) {
                SendMessage(S().windows[i].get(), WM_CLOSE, 0, 0);
            }
        }
        return;
    }
    WindowRecord* w = FindBySdlId(EventWindowId(e));
    if (!w) {
        return;
    }
    detail::Surface& surface = *w->surface;
    detail::EventContext c;
    c.barHeight = surface.BarHeight();
    SDL_GetWindowSize(surface.Window(), &c.windowWidth, &c.windowHeight);
    SDL_GetWindowPosition(surface.Window(), &c.windowX, &c.windowY);
    c.doubleClicks = (w->classStyle & CS_DBLCLKS) != 0;
    c.menuActive = surface.Tracker().Active();
    c.clientCapture = w->clientCapture;
    c.buttonsBefore = w->buttons;
    c.modState = static_cast<uint16_t>(SDL_GetModState());
    const detail::Translation t = detail::TranslateSdlEvent(e, c);

    w->buttons = detail::ButtonsAfter(e, w->buttons);
    if (e.type == SDL_MOUSEBUTTONDOWN && t.route == detail::Translation::Route::Window) {
        w->clientCapture = true;
        // As on Win32, a click focuses the window and captures the mouse, so
        // that the release comes here wherever it happens. SDL captures only
        // for the window with the keyboard focus, and without a window
        // manager a click does not give it: ask for it, and capture once it
        // has come (below).
        if (!(SDL_GetWindowFlags(surface.Window()) & SDL_WINDOW_INPUT_FOCUS))
            SDL_SetWindowInputFocus(surface.Window());
        else
            SDL_CaptureMouse(SDL_TRUE);
    }
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED && w->clientCapture &&
        w->buttons != 0) {
        SDL_CaptureMouse(SDL_TRUE);
    }
    if (w->buttons == 0 && w->clientCapture) {
        SDL_CaptureMouse(SDL_FALSE);
    }
    if (w->buttons == 0) {
        w->clientCapture = false;
    }
    if (e.type == SDL_WINDOWEVENT &&
        (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)) {
        w->menuDirty = true;
    }

    if (t.route == detail::Translation::Route::Window) {
        if (t.send) {
            SendMessage(w, t.message, t.wParam, t.lParam);
        } else {
            S().queue.push_back({w, t.message, t.wParam, t.lParam});
        }
    } else if (t.route == detail::Translation::Route::Menu) {
        const detail::MenuOutcome o = surface.Tracker().Handle(t.menu);
        if (o.command) {
            PostMessage(w, WM_COMMAND, MAKEWPARAM(static_cast<uint16_t>(*o.command), 0), 0);
        }
        w->menuDirty = w->menuDirty || o.redraw;
    }
}

// SDL confines with XFixes pointer barriers, which stop a hand on a mouse but
// not every source of motion (XTest motion passes through them, under Xvfb at
// least); so the pointer is also put back whenever it is found outside, as
// Win32 never lets it out.
void KeepPointerConfined() {
    ShellState& s = S();
    WindowRecord* w = Live(s.confineWindow);
    if (!w || !(SDL_GetWindowFlags(w->surface->Window()) & SDL_WINDOW_INPUT_FOCUS)) {
        return;
    }
    int x = 0, y = 0;
    if (!detail::QueryPointer(w->surface->Window(), &x, &y)) {
        return;  // SDL's barrier is all there is
    }
    const int cx = std::clamp(x, s.confine.left, s.confine.right - 1);
    const int cy = std::clamp(y, s.confine.top, s.confine.bottom - 1);
    if (cx != x || cy != y) {
        SDL_WarpMouseGlobal(cx, cy);
    }
}

void Pump() {
    if (!S().sdlStarted) {
        return;
    }
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        HandleSdlEvent(e);
    }
    KeepPointerConfined();
    // The bar is redrawn over the last presented image straight away, so that
    // menus answer even while a frame takes a second to render.
    for (const auto& w : S().windows) {
        if (w->alive && w->menuDirty) {
            w->menuDirty = false;
            w->surface->Redraw();
        }
    }
}

bool Matches(const MSG& m, HWND window, UINT filterMin, UINT filterMax) {
    if (window && m.hwnd != window) {
        return false;
    }
    return (filterMin == 0 && filterMax == 0) || (m.message >= filterMin && m.message <= filterMax);
}

}  // namespace

// ---------------------------------------------------------------------------
// Menus

void RegisterMenuResource(int resourceId, MenuResource menu) {
    auto& slot = S().menus[resourceId];
    if (slot) {
        *slot = std::move(menu);  // keeps HMENUs already handed out valid
    } else {
        slot = std::make_unique<MenuResource>(std::move(menu));
    }
}

HMENU LoadMenu(HINSTANCE, int resourceId) {
    const auto it = S().menus.find(resourceId);
    return it == S().menus.end() ? nullptr : it->second.get();
}

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
    ShellState& s = S();
    if (s.classes.count(wc->lpszClassName)) {
        detail::Diagnose(
            (std::string("RegisterClassEx: class already registered: ") + wc->lpszClassName).c_str());
        return 0;
    }
    ClassEntry entry{*wc, wc->lpszClassName, s.nextAtom++};
    entry.wc.lpszClassName = nullptr;  // the caller's string may not outlive the call
    const ATOM atom = entry.atom;
    s.classes.emplace(entry.name, std::move(entry));
    return atom;
}

bool UnregisterClass(const char* className, HINSTANCE) {
    if (!className) {
        return false;
    }
    ShellState& s = S();
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
    ShellState& s = S();
    const auto cls = className ? s.classes.find(className) : s.classes.end();
    if (cls == s.classes.end()) {
        detail::Diagnose("CreateWindowEx: no such window class");
        return nullptr;
    }
    if (!EnsureSdl()) {
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
    ShellState& s = S();
    s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(), [w](const MSG& m) { return m.hwnd == w; }),
                  s.queue.end());
    return true;
}

bool IsWindow(HWND window) {
    return Live(window) != nullptr;
}

std::shared_ptr<gpu::OutputWindow> GetOutputWindow(HWND window) {
    WindowRecord* w = Live(window);
    return w ? w->output : nullptr;
}

// ---------------------------------------------------------------------------
// Messages

bool PeekMessage(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) {
        return false;
    }
    Pump();
    ShellState& s = S();
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (Matches(*it, window, filterMin, filterMax)) {
            *msg = *it;
            if (removeFlags & PM_REMOVE) {
                s.queue.erase(it);
            }
            return true;
        }
    }
    // WM_QUIT is a flag, not a queued message: it comes out only once nothing
    // else is waiting, and then until someone removes it.
    const bool quitInRange =
        (filterMin == 0 && filterMax == 0) || (WM_QUIT >= filterMin && WM_QUIT <= filterMax);
    if (s.quitPending && !window && quitInRange) {
        *msg = {nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0};
        if (removeFlags & PM_REMOVE) {
            s.quitPending = false;
        }
        return true;
    }
    if (s.idleHook) {
        // The hook may post or inject messages; they are found on the next call.
        const std::function<void()> hook = s.idleHook;
        hook();
    }
    return false;
}

bool WaitForInput(uint32_t timeoutMs) {
    ShellState& s = S();
    if (!s.queue.empty() || s.quitPending || s.idleHook)
        return true;
    if (!s.sdlStarted)
        return false;
    return SDL_WaitEventTimeout(nullptr, static_cast<int>(timeoutMs)) == 1;
}

bool TranslateMessage(const MSG*) {
    return false;
}

LRESULT DispatchMessage(const MSG* msg) {
    if (!msg) {
        return 0;
    }
    return SendMessage(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* w = Live(window);
    if (!w || !w->proc) {
        return 0;
    }
    return w->proc(window, message, wParam, lParam);
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !Live(window)) {
        return false;
    }
    S().queue.push_back({window, message, wParam, lParam});
    return true;
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    }
    return 0;
}

void PostQuitMessage(int exitCode) {
    S().quitPending = true;
    S().quitCode = exitCode;
}

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
// Cursor

bool ClientToScreen(HWND window, POINT* point) {
    WindowRecord* w = Live(window);
    if (!w || !point) {
        return false;
    }
    int x = 0, y = 0;
    SDL_GetWindowPosition(w->surface->Window(), &x, &y);
    point->x += x;
    point->y += y + w->surface->BarHeight();
    return true;
}

bool SetRect(RECT* rect, int left, int top, int right, int bottom) {
    if (!rect) {
        return false;
    }
    *rect = {left, top, right, bottom};
    return true;
}

bool ClipCursor(const RECT* rect) {
    ShellState& s = S();
    s.confineWindow = nullptr;
    if (!rect) {
        s.clip.reset();
        for (const auto& w : s.windows) {
            if (w->alive) {
                SDL_SetWindowMouseRect(w->surface->Window(), nullptr);
            }
        }
        return true;
    }
    s.clip = *rect;
    // SDL confines to a rectangle of one window: the window the rectangle
    // overlaps most (the program clips to its own client area).
    WindowRecord* best = nullptr;
    SDL_Rect bestRect{};
    long bestArea = -1;
    for (const auto& w : s.windows) {
        if (!w->alive) {
            continue;
        }
        int x = 0, y = 0, width = 0, height = 0;
        SDL_GetWindowPosition(w->surface->Window(), &x, &y);
        SDL_GetWindowSize(w->surface->Window(), &width, &height);
        const int x0 = std::clamp(rect->left - x, 0, width), x1 = std::clamp(rect->right - x, 0, width);
        const int y0 = std::clamp(rect->top - y, 0, height), y1 = std::clamp(rect->bottom - y, 0, height);
        const long area = static_cast<long>(x1 - x0) * (y1 - y0);
        if (area > bestArea) {
            best = w.get();
            bestArea = area;
            bestRect = {x0, y0, x1 - x0, y1 - y0};
        }
    }
    if (!best) {
        return true;  // nothing to confine to yet; remembered for the seam
    }
    if (bestRect.w <= 0 || bestRect.h <= 0) {
        SDL_SetWindowMouseRect(best->surface->Window(), nullptr);
        return true;
    }
    if (SDL_SetWindowMouseRect(best->surface->Window(), &bestRect) != 0) {
        detail::Diagnose((std::string("ClipCursor: ") + SDL_GetError()).c_str());
        return false;
    }
    int x = 0, y = 0;
    SDL_GetWindowPosition(best->surface->Window(), &x, &y);
    s.confineWindow = best;
    s.confine = {bestRect.x + x, bestRect.y + y, bestRect.x + bestRect.w + x, bestRect.y + bestRect.h + y};
    KeepPointerConfined();
    return true;
}

// ---------------------------------------------------------------------------
// Time and debug output

bool QueryPerformanceCounter(int64_t* count) {
    if (!count) {
        return false;
    }
    ShellState& s = S();
    if (s.counterStep != 0) {
        s.steppedCounter += s.counterStep;
        *count = s.steppedCounter;
        return true;
    }
    *count = static_cast<int64_t>(SDL_GetPerformanceCounter());
    return true;
}

bool QueryPerformanceFrequency(int64_t* frequency) {
    if (!frequency) {
        return false;
    }
    *frequency = static_cast<int64_t>(SDL_GetPerformanceFrequency());
    return true;
}

// Written exactly as given, as the platform's debug output does: the caller
// ends its own lines.
void OutputDebugString(const char* text) {
    const std::string written = text ? text : "";
    std::fputs(written.c_str(), stderr);
    S().debugLines.push_back(written);
}

// ---------------------------------------------------------------------------
// Dropped files

void DragAcceptFiles(HWND window, bool accept) {
    WindowRecord* w = Live(window);
    if (!w) {
        return;
    }
    w->acceptsFiles = accept;
    w->droppedFiles.clear();
    if (accept) {
        // The window system is told the windows take drops (X11: XdndAware).
        SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
    }
}

UINT DragQueryFile(HDROP drop, UINT index, char* file, UINT size) {
    const DropRecord* d = LiveDrop(drop);
    if (!d) {
        return 0;
    }
    if (index == 0xFFFFFFFFu) {
        return static_cast<UINT>(d->paths.size());
    }
    if (index >= d->paths.size()) {
        return 0;
    }
    const std::string& path = d->paths[index];
    if (!file) {
        return static_cast<UINT>(path.size());
    }
    if (size == 0) {
        return 0;
    }
    const size_t copied = std::min<size_t>(path.size(), size - 1);
    path.copy(file, copied);
    file[copied] = '\0';
    return static_cast<UINT>(copied);
}

void DragFinish(HDROP drop) {
    auto& drops = S().drops;
    drops.erase(std::remove_if(drops.begin(), drops.end(), [drop](const auto& d) { return d.get() == drop; }),
                drops.end());
}

// ---------------------------------------------------------------------------
// Test seams

namespace testing {

void InjectMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    S().queue.push_back({window, message, wParam, lParam});
}

HDROP MakeDrop(std::vector<std::string> paths) {
    return NewDrop(std::move(paths));
}

std::optional<RECT> CurrentCursorClip() {
    return S().clip;
}

std::vector<std::string> TakeDebugOutput() {
    return std::exchange(S().debugLines, {});
}

void SetIdleHook(std::function<void()> hook) {
    S().idleHook = std::move(hook);
}

void StepCounterOnEachRead(int64_t ticks) {
    S().counterStep = ticks;
    S().steppedCounter = 0;
}

void Reset() {
    ShellState& s = S();
    s.idleHook = nullptr;
    s.counterStep = 0;
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
    s.menus.clear();
    s.queue.clear();
    s.quitPending = false;
    s.quitCode = 0;
    s.clip.reset();
    s.debugLines.clear();
    s.drops.clear();
    detail::ResetDialogs();
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

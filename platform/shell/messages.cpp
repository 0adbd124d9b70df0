// The message queue: SDL's events turned into messages for the window
// procedures, with Win32's peek, post, send and quit semantics.
//
// Sections: event pump · messages · test seams.
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

using detail::Live;
using detail::Shell;
using detail::ShellState;

// ---------------------------------------------------------------------------
// Event pump

namespace {

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

void HandleSdlEvent(const SDL_Event& e) {
    // A confinement never outlives the focus: another window cannot be left
    // with the cursor held inside ours.
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_FOCUS_LOST &&
        detail::CursorClipped()) {
        ClipCursor(nullptr);
    }
    if (e.type == SDL_DROPBEGIN || e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT ||
        e.type == SDL_DROPCOMPLETE) {
        detail::HandleDrop(e);
        return;
    }
    ShellState& s = Shell();
    if (e.type == SDL_QUIT) {
        // From a signal or the session: every window is asked to close.
        for (size_t i = 0; i < s.windows.size(); ++i) {
            if (s.windows[i]->alive) {
                SendMessage(s.windows[i].get(), WM_CLOSE, 0, 0);
            }
        }
        return;
    }
    WindowRecord* w = detail::FindBySdlId(EventWindowId(e));
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
    if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP)
        detail::NoteKeyModifiers(e.key.keysym.mod);
    // As of this event, not as of the pump: SDL's own state has already
    // seen every key event of the batch.
    c.modState = s.pumpedKeyModifiers;
    if (surface.HasOverlay()) {
        // Its hover highlight follows the pointer.
        w->menuDirty = w->menuDirty || e.type == SDL_MOUSEMOTION;
        if (surface.OverlayTakes(e, w->clientCapture))
            return;
    }
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
            s.keyModifiers = s.pumpedKeyModifiers;
            SendMessage(w, t.message, t.wParam, t.lParam);
        } else {
            detail::QueuedMessage m;
            static_cast<MSG&>(m) = {w, t.message, t.wParam, t.lParam};
            m.input = true;
            m.keyModifiers = s.pumpedKeyModifiers;
            s.queue.push_back(m);
        }
    } else if (t.route == detail::Translation::Route::Menu) {
        const detail::MenuOutcome o = surface.Tracker().Handle(t.menu);
        if (o.command) {
            PostMessage(w, WM_COMMAND, MAKEWPARAM(static_cast<uint16_t>(*o.command), 0), 0);
        }
        w->menuDirty = w->menuDirty || o.redraw;
    }
}

void Pump() {
    if (!Shell().sdlStarted) {
        return;
    }
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        HandleSdlEvent(e);
    }
    detail::KeepPointerConfined();
    // The bar is redrawn over the last presented image straight away, so that
    // menus answer even while a frame takes a second to render.
    for (const auto& w : Shell().windows) {
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
// Messages

bool PeekMessage(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) {
        return false;
    }
    Pump();
    ShellState& s = Shell();
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (Matches(*it, window, filterMin, filterMax)) {
            *msg = *it;
            if (removeFlags & PM_REMOVE) {
                if (it->input)
                    s.keyModifiers = it->keyModifiers;
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
    ShellState& s = Shell();
    if (!s.queue.empty() || s.quitPending || s.idleHook)
        return true;
    if (!s.sdlStarted)
        return false;
    return SDL_WaitEventTimeout(nullptr, static_cast<int>(timeoutMs)) == 1;
}

bool CloseRequested() {
    ShellState& s = Shell();
    if (s.quitPending)
        return true;
    for (const MSG& m : s.queue)
        if (m.message == WM_CLOSE)
            return true;
    if (!s.sdlStarted)
        return false;
    SDL_PumpEvents();
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0)
        return true;
    SDL_Event events[64];
    const int count = SDL_PeepEvents(events, 64, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
    for (int i = 0; i < count; ++i)
        if (events[i].window.event == SDL_WINDOWEVENT_CLOSE)
            return true;
    return false;
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
    Shell().queue.push_back({{window, message, wParam, lParam}});
    return true;
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) {
        DestroyWindow(window);
    }
    return 0;
}

void PostQuitMessage(int exitCode) {
    Shell().quitPending = true;
    Shell().quitCode = exitCode;
}

int16_t GetKeyState(int virtualKey) {
    const uint16_t mods = Shell().keyModifiers;
    const bool down =
        (virtualKey == VK_CONTROL && (mods & KMOD_CTRL)) || (virtualKey == VK_SHIFT && (mods & KMOD_SHIFT));
    return down ? static_cast<int16_t>(0x8000) : 0;
}

namespace detail {

// Taken from the key events themselves rather than SDL_GetModState, so that
// an event that comes from elsewhere (a test, a replay) means the same.
void NoteKeyModifiers(uint16_t sdlModifiers) {
    Shell().pumpedKeyModifiers = sdlModifiers;
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Test seams

namespace testing {

void InjectMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Shell().queue.push_back({{window, message, wParam, lParam}});
}

void SetIdleHook(std::function<void()> hook) {
    Shell().idleHook = std::move(hook);
}

}  // namespace testing

}  // namespace shell

// Cursor clipping over SDL's per-window mouse rectangle, and client-to-screen
// coordinates.
#include <algorithm>
#include <optional>

#include "platform/shell/window_internal.h"

namespace shell {

namespace {

struct ClipState {
    std::optional<RECT> clip;
    // The clip as it applies: the part of it over one window, in screen pixels.
    HWND confineWindow = nullptr;
    RECT confine;
};

ClipState& Clip() {
    static ClipState s;
    return s;
}

}  // namespace

namespace detail {

bool CursorClipped() {
    return Clip().clip.has_value();
}

// SDL confines with XFixes pointer barriers, which stop a hand on a mouse but
// not every source of motion (XTest motion passes through them, under Xvfb at
// least); so the pointer is also put back whenever it is found outside, as
// Win32 never lets it out.
void KeepPointerConfined() {
    ClipState& s = Clip();
    WindowRecord* w = Live(s.confineWindow);
    if (!w || !(SDL_GetWindowFlags(w->surface->Window()) & SDL_WINDOW_INPUT_FOCUS)) {
        return;
    }
    int x = 0, y = 0;
    if (!QueryPointer(w->surface->Window(), &x, &y)) {
        return;  // SDL's barrier is all there is
    }
    const int cx = std::clamp(x, s.confine.left, s.confine.right - 1);
    const int cy = std::clamp(y, s.confine.top, s.confine.bottom - 1);
    if (cx != x || cy != y) {
        SDL_WarpMouseGlobal(cx, cy);
    }
}

}  // namespace detail

bool ClientToScreen(HWND window, POINT* point) {
    WindowRecord* w = detail::Live(window);
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
    ClipState& s = Clip();
    const auto& windows = detail::Shell().windows;
    s.confineWindow = nullptr;
    if (!rect) {
        s.clip.reset();
        for (const auto& w : windows) {
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
    for (const auto& w : windows) {
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
    detail::KeepPointerConfined();
    return true;
}

namespace testing {

std::optional<RECT> CurrentCursorClip() {
    return Clip().clip;
}

}  // namespace testing

}  // namespace shell

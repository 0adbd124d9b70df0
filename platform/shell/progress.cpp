// The progress of long work on the UI thread: its box drawn over the
// windows' last pictures, and the Esc or Cancel click that asks to end it,
// taken from SDL's queue while the work holds the thread.
//
// Sections: layout · showing · cancelling.
#include <algorithm>

#include "platform/shell/window_internal.h"

namespace shell {

namespace detail {

// ---------------------------------------------------------------------------
// Layout

ProgressLayout LayoutProgress(float windowWidth, float windowHeight, float barHeight) {
    constexpr float kPadding = 10, kButtonWidth = 72, kMostWidth = 420;
    const float width = std::max(0.0f, std::min(kMostWidth, windowWidth - 2 * kPadding));
    const float height = 3 * kPadding + 2 * kMenuItemHeight;
    ProgressLayout layout;
    const float x0 = (windowWidth - width) * 0.5f;
    // Centred in the client area; a window too short for it keeps it under the bar.
    const float y0 = std::max(barHeight, barHeight + (windowHeight - barHeight - height) * 0.5f);
    layout.box = {x0, y0, x0 + width, y0 + height};
    layout.text = {x0 + kPadding, y0 + kPadding, x0 + width - kPadding, y0 + kPadding + kMenuItemHeight};
    const float rowTop = layout.text.y1 + kPadding, rowBottom = rowTop + kMenuItemHeight;
    layout.cancel = {std::max(layout.text.x0, layout.text.x1 - kButtonWidth), rowTop, layout.text.x1,
                     rowBottom};
    layout.bar = {layout.text.x0, rowTop + 4, std::max(layout.text.x0, layout.cancel.x0 - kPadding),
                  rowBottom - 4};
    return layout;
}

// ---------------------------------------------------------------------------
// Showing

namespace {

struct ProgressState {
    bool shown = false;
    ProgressShown progress;
    uint64_t lastDrawMs = 0;
};

ProgressState& State() {
    static ProgressState state;
    return state;
}

void RedrawWindows() {
    for (const auto& w : Shell().windows)
        if (w->alive && w->surface)
            w->surface->Redraw();
}

}  // namespace

const ProgressShown* CurrentProgress() {
    return State().shown ? &State().progress : nullptr;
}

void ResetProgress() {
    State() = {};
}

}  // namespace detail

void ShowProgress(const char* text, double fraction) {
    detail::ProgressState& state = detail::State();
    const std::string next = text != nullptr ? text : "";
    if (next.empty()) {
        if (state.shown) {
            state = {};
            detail::RedrawWindows();
        }
        return;
    }
    const bool changed = !state.shown || next != state.progress.text;
    if (!state.shown)
        state.progress.cancelled = false;  // a cancel belongs to the work it was asked of
    state.shown = true;
    state.progress.text = next;
    state.progress.fraction = fraction;
    const uint64_t now = SDL_GetTicks64();
    if (!changed && now - state.lastDrawMs < 50)
        return;
    state.lastDrawMs = now;
    detail::RedrawWindows();
}

// ---------------------------------------------------------------------------
// Cancelling

namespace {

// SDL's event filter: takes Esc and a left click on a Cancel button (with
// their releases, which belong to them), keeps everything else.
int TakeCancelInput(void* context, SDL_Event* e) {
    bool& cancelled = *static_cast<bool*>(context);
    if (e->type == SDL_KEYDOWN && e->key.keysym.sym == SDLK_ESCAPE) {
        cancelled = true;
        return 0;
    }
    if (e->type == SDL_KEYUP && e->key.keysym.sym == SDLK_ESCAPE)
        return cancelled ? 0 : 1;
    if (e->type == SDL_MOUSEBUTTONUP && e->button.button == SDL_BUTTON_LEFT)
        return cancelled ? 0 : 1;
    if (e->type != SDL_MOUSEBUTTONDOWN || e->button.button != SDL_BUTTON_LEFT)
        return 1;
    const WindowRecord* w = detail::FindBySdlId(e->button.windowID);
    if (w == nullptr || !w->surface || w->surface->BarHeight() <= 0)
        return 1;
    int width = 0, height = 0;
    SDL_GetWindowSize(w->surface->Window(), &width, &height);
    const detail::ProgressLayout layout = detail::LayoutProgress(
        static_cast<float>(width), static_cast<float>(height), static_cast<float>(w->surface->BarHeight()));
    if (!layout.cancel.Contains(static_cast<float>(e->button.x), static_cast<float>(e->button.y)))
        return 1;
    cancelled = true;
    return 0;
}

}  // namespace

bool CancelRequested() {
    detail::ProgressState& state = detail::State();
    if (!state.shown)
        return false;
    bool& cancelled = state.progress.cancelled;
    if (cancelled)
        return true;
    // An Esc already turned into a message, pressed after the work was asked for.
    auto& queue = detail::Shell().queue;
    const auto escape = std::find_if(queue.begin(), queue.end(), [](const MSG& m) {
        return m.message == WM_KEYDOWN && m.wParam == static_cast<WPARAM>(VK_ESCAPE);
    });
    if (escape != queue.end()) {
        queue.erase(escape);
        cancelled = true;
    } else if (detail::Shell().sdlStarted) {
        SDL_PumpEvents();
        SDL_FilterEvents(&TakeCancelInput, &cancelled);
    }
    if (cancelled)
        detail::RedrawWindows();  // the button shows it was heard
    return cancelled;
}

}  // namespace shell

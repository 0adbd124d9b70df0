// Message boxes (SDL's simple box), with the handler and recording seams that
// stand in for them.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

namespace {

// Locked: a handler or a test may report from another thread.
struct BoxState {
    std::mutex mutex;
    bool record = false;
    std::vector<testing::RecordedMessageBox> boxes;
    MessageBoxHandler handler;
};

BoxState& Boxes() {
    static BoxState s;
    return s;
}

bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wl && *wl);
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    s.handler = std::move(handler);
}

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    const std::string t = text ? text : "";
    const std::string c = caption ? caption : "";
    MessageBoxHandler handler;
    {
        BoxState& s = Boxes();
        std::lock_guard lock(s.mutex);
        handler = s.handler;
        if (!handler && s.record) {
            s.boxes.push_back({t, c, type, owner != nullptr});
            return IDOK;
        }
    }
    if (handler) {
        handler(t.c_str(), c.c_str(), type);  // outside the lock: it may show another box
        return IDOK;
    }
    // SDL_ShowSimpleMessageBox runs its own event loop until OK, so it is modal
    // for our single-threaded program as a Win32 box is.
    if (!HaveDisplay() ||
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, c.c_str(), t.c_str(), nullptr) != 0) {
        std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
    }
    return IDOK;
}

namespace detail {

void ResetMessageBoxes() {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    s.record = false;
    s.boxes.clear();
    s.handler = nullptr;
}

}  // namespace detail

namespace testing {

void RecordMessageBoxes(bool on) {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    s.record = on;
}

std::vector<RecordedMessageBox> TakeMessageBoxes() {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    return std::exchange(s.boxes, {});
}

}  // namespace testing

}  // namespace shell

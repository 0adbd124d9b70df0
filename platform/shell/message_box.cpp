// Message boxes (SDL's box), with the handler and recording seams that stand
// in for them, and the wrapping that keeps a long text on the screen.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

namespace {

// Locked: a handler or a test may report from another thread.
struct BoxState {
    std::mutex mutex;
    bool record = false;
    std::vector<testing::RecordedMessageBox> boxes;
    std::vector<int> answers;
    size_t nextAnswer = 0;
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

bool IsQuestion(UINT type) {
    return (type & 0xF) == MB_YESNO;
}

// Measured on SDL's X11 box: its font is at most this wide on average, and the
// box adds a margin on each side.
constexpr int kPixelsPerColumn = 7;
constexpr int kBoxMargins = 2 * 40;

// The narrower of the screen and the owner's window: the box is centred on
// the screen, and a line longer than the window reads as running off it.
int RoomForTheBox(HWND owner) {
    int width = 0;
    SDL_Rect usable;
    if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetDisplayUsableBounds(0, &usable) == 0)
        width = usable.w;
    // Most boxes name no owner: the program's first window then stands in.
    WindowRecord* w = detail::Live(owner);
    for (size_t i = 0; !w && i < detail::Shell().windows.size(); ++i)
        w = detail::Live(detail::Shell().windows[i].get());
    if (w && w->surface && w->surface->Alive()) {
        int ww = 0, wh = 0;
        SDL_GetWindowSize(w->surface->Window(), &ww, &wh);
        if (ww > 0)
            width = width > 0 ? std::min(width, ww) : ww;
    }
    return width;
}

// SDL's X11 box runs in a child that SDL waits for, restarting its wait when
// a signal interrupts it: a watcher ends that child once a quit is signalled.
int ShowOnScreen(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    const bool question = IsQuestion(type);
    const std::string wrapped =
        detail::WrapMessageText(text, detail::MessageBoxColumns(RoomForTheBox(owner)));
    SDL_MessageBoxButtonData buttons[2];
    int buttonCount = 1;
    if (question) {
        buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"};
        buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"};
        buttonCount = 2;
    } else {
        buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK,
                      "OK"};
    }
    SDL_MessageBoxData data{};
    data.flags = ((type & 0xF0) == MB_ICONWARNING ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION) |
                 SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.title = caption.c_str();
    data.message = wrapped.c_str();
    data.numbuttons = buttonCount;
    data.buttons = buttons;

    detail::QuitSignalScope quit;
    const std::vector<pid_t> earlier = detail::ChildProcesses();
    std::mutex mutex;
    std::condition_variable wake;
    bool shown = false;
    std::thread watcher([&] {
        std::unique_lock lock(mutex);
        while (!wake.wait_for(lock, std::chrono::milliseconds(20), [&] { return shown; })) {
            if (!quit.Signalled())
                continue;
            for (pid_t child : detail::ChildProcesses())
                if (std::find(earlier.begin(), earlier.end(), child) == earlier.end())
                    kill(child, SIGKILL);
        }
    });
    int button = -1;
    const int failed = SDL_ShowMessageBox(&data, &button);
    {
        std::lock_guard lock(mutex);
        shown = true;
    }
    wake.notify_one();
    watcher.join();
    if (quit.Signalled())
        return IDCANCEL;
    if (failed != 0) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return question ? IDNO : IDOK;
    }
    if (button < 0)  // closed by the window manager
        return question ? IDNO : IDOK;
    return button;
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
    // Without anyone to answer, a question is answered no: nothing is replaced.
    const int unanswered = IsQuestion(type) ? IDNO : IDOK;
    MessageBoxHandler handler;
    {
        BoxState& s = Boxes();
        std::lock_guard lock(s.mutex);
        handler = s.handler;
        if (!handler && s.record) {
            s.boxes.push_back({t, c, type, owner != nullptr});
            return s.nextAnswer < s.answers.size() ? s.answers[s.nextAnswer++] : unanswered;
        }
    }
    if (handler) {
        handler(t.c_str(), c.c_str(), type);  // outside the lock: it may show another box
        return unanswered;
    }
    const bool quitting = detail::QuitSignalled() || (SDL_WasInit(SDL_INIT_EVENTS) && SDL_HasEvent(SDL_QUIT));
    if (!HaveDisplay() || quitting) {
        std::fprintf(stderr, "%s: %s\n", c.c_str(), t.c_str());
        return quitting ? IDCANCEL : unanswered;
    }
    return ShowOnScreen(owner, t, c, type);
}

namespace detail {

size_t MessageBoxColumns(int widthPixels) {
    constexpr int kFewest = 20;
    if (widthPixels <= 0)
        return kMessageBoxColumns;
    const int fits = (widthPixels - kBoxMargins) / kPixelsPerColumn;
    return static_cast<size_t>(std::clamp(fits, kFewest, static_cast<int>(kMessageBoxColumns)));
}

std::string WrapMessageText(std::string_view text, size_t columns) {
    columns = std::max<size_t>(columns, 1);
    auto startsCharacter = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
    std::string out;
    out.reserve(text.size() + text.size() / columns + 1);
    size_t lineStart = 0;
    while (lineStart <= text.size()) {
        const size_t newline = text.find('\n', lineStart);
        std::string_view line = text.substr(
            lineStart, newline == std::string_view::npos ? std::string_view::npos : newline - lineStart);
        for (;;) {
            // The byte after `columns` characters (the line's end when it fits),
            // and the last space and '/' before it.
            size_t count = 0, end = 0, space = 0, slash = 0;
            for (; end < line.size(); ++end) {
                if (!startsCharacter(line[end]))
                    continue;
                if (count == columns)
                    break;
                ++count;
                if (line[end] == ' ' && end > 0)
                    space = end;
                else if (line[end] == '/')
                    slash = end + 1;
            }
            if (end >= line.size()) {
                out.append(line);
                break;
            }
            if (line[end] == ' ') {
                space = end;  // the line fits exactly; its next space is the break
            }
            if (space > 0) {
                out.append(line.substr(0, space)).push_back('\n');
                line.remove_prefix(space + 1);
            } else {
                const size_t cut = slash > 0 && slash < end ? slash : end;
                out.append(line.substr(0, cut)).push_back('\n');
                line.remove_prefix(cut);
            }
        }
        if (newline == std::string_view::npos)
            break;
        out.push_back('\n');
        lineStart = newline + 1;
    }
    return out;
}

void ResetMessageBoxes() {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    s.record = false;
    s.boxes.clear();
    s.answers.clear();
    s.nextAnswer = 0;
    s.handler = nullptr;
}

}  // namespace detail

namespace testing {

void RecordMessageBoxes(bool on) {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    s.record = on;
}

void SetMessageBoxAnswers(std::vector<int> answers) {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    s.answers = std::move(answers);
    s.nextAnswer = 0;
}

std::vector<RecordedMessageBox> TakeMessageBoxes() {
    BoxState& s = Boxes();
    std::lock_guard lock(s.mutex);
    return std::exchange(s.boxes, {});
}

}  // namespace testing

}  // namespace shell

// Files dropped onto a window: SDL's drop events gathered into one
// WM_DROPFILES, and the HDROP the program reads them from.
#include <algorithm>
#include <memory>
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

struct DropRecord {
    std::vector<std::string> paths;
};

namespace {

// Drop handles not yet finished by the program (freed by a reset too).
std::vector<std::unique_ptr<DropRecord>>& Drops() {
    static std::vector<std::unique_ptr<DropRecord>> drops;
    return drops;
}

DropRecord* LiveDrop(HDROP drop) {
    for (const auto& d : Drops()) {
        if (d.get() == drop) {
            return d.get();
        }
    }
    return nullptr;
}

}  // namespace

namespace detail {

HDROP NewDrop(std::vector<std::string> paths) {
    Drops().push_back(std::make_unique<DropRecord>(DropRecord{std::move(paths)}));
    return Drops().back().get();
}

// SDL gives a drop file by file between a begin and a complete event; Win32
// gives the window one message with every file. The path SDL allocated is
// ours to free, whoever it was for.
void HandleDrop(const SDL_Event& e) {
    WindowRecord* w = FindBySdlId(e.drop.windowID);
    if (!w && e.drop.windowID == 0) {
        // Backends that cannot say which window: ours, if there is just one.
        int alive = 0;
        for (const auto& candidate : Shell().windows) {
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

void ResetDrops() {
    Drops().clear();
}

}  // namespace detail

void DragAcceptFiles(HWND window, bool accept) {
    WindowRecord* w = detail::Live(window);
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
    auto& drops = Drops();
    drops.erase(std::remove_if(drops.begin(), drops.end(), [drop](const auto& d) { return d.get() == drop; }),
                drops.end());
}

namespace testing {

HDROP MakeDrop(std::vector<std::string> paths) {
    return detail::NewDrop(std::move(paths));
}

}  // namespace testing

}  // namespace shell

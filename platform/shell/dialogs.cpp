// File dialogs (zenity as a child process), with the test seams that script
// their answers.
#include <SDL2/SDL.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/shell/shell_internal.h"
#include "platform/shell/window_internal.h"

extern char** environ;

namespace shell {

namespace {

struct DialogState {
    std::mutex mutex;
    bool scripted = false;
    std::vector<std::optional<std::string>> script;
    size_t next = 0;
    std::vector<testing::FileDialogCall> calls;
};

DialogState& State() {
    static DialogState s;
    return s;
}

// Runs zenity with argv as given and returns its stdout when it exits 0.
std::optional<std::string> RunZenity(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        detail::Diagnose("file dialog: pipe failed");
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        // Without its dialog program, File > Open would just do nothing.
        const std::string text =
            std::string("No file dialog can be shown: the program 'zenity' could not be started (") +
            std::strerror(spawned) + "). Install the zenity package.";
        detail::Diagnose(("file dialog: " + text).c_str());
        MessageBox(nullptr, text.c_str(), "File dialog", MB_OK);
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
        out.pop_back();
    }
    if (out.empty()) {
        return std::nullopt;
    }
    return out;
}

bool FileDialog(OPENFILENAME* ofn, bool save) {
    if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) {
        return false;
    }
    const std::string initial(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    std::optional<std::string> answer;
    bool scripted = false;
    {
        DialogState& s = State();
        std::lock_guard lock(s.mutex);
        std::string joined;
        for (const auto& [text, pattern] : detail::ParseFilter(ofn->lpstrFilter)) {
            joined += (joined.empty() ? "" : "|") + text + "|" + pattern;
        }
        s.calls.push_back({save, joined, initial, ofn->Flags});
        if (s.scripted) {
            scripted = true;
            answer = s.next < s.script.size() ? s.script[s.next++] : std::nullopt;
        }
    }
    if (!scripted) {
        // Like the platform's own dialogs, start in the current folder: a name
        // without a folder (or none at all) is taken relative to it.
        std::string startAt = initial;
        if (startAt.empty() || startAt[0] != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd) != nullptr)
                startAt = std::string(cwd) + "/" + startAt;
        }
        const unsigned long parent = IsWindow(ofn->hwndOwner) && ofn->hwndOwner->surface
                                         ? detail::NativeWindowId(ofn->hwndOwner->surface->Window())
                                         : 0;
        answer = RunZenity(detail::BuildZenityArgs(save, ofn->lpstrFilter, startAt, parent));
        // Clicks and keys that reached our window while the dialog was open
        // were meant for the dialog (or nothing): they are not replayed now.
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEWHEEL);
    }
    const detail::DialogFailure failure = detail::AcceptDialogAnswer(answer, ofn, save);
    if (failure == detail::DialogFailure::TooLong) {
        detail::Diagnose("file dialog: the chosen path is longer than the buffer");
    } else if (failure == detail::DialogFailure::MustExist) {
        detail::Diagnose(("file dialog: no such file: " + *answer).c_str());
    }
    return failure == detail::DialogFailure::None;
}

}  // namespace

namespace detail {

std::vector<std::pair<std::string, std::string>> ParseFilter(const char* filter) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!filter) {
        return pairs;
    }
    for (const char* p = filter; *p;) {
        std::string text = p;
        p += text.size() + 1;
        if (!*p) {  // a text without its pattern ends the list
            pairs.emplace_back(std::move(text), std::string());
            break;
        }
        std::string pattern = p;
        p += pattern.size() + 1;
        pairs.emplace_back(std::move(text), std::move(pattern));
    }
    return pairs;
}

std::vector<std::string> BuildZenityArgs(bool save, const char* filter, const std::string& initialName,
                                         unsigned long parentWindow) {
    std::vector<std::string> args = {"zenity", "--file-selection"};
    if (parentWindow != 0) {
        args.push_back("--modal");
        args.push_back("--attach=" + std::to_string(parentWindow));
    }
    if (save) {
        args.push_back("--save");
    }
    if (!initialName.empty()) {
        args.push_back("--filename=" + initialName);
    }
    for (auto [text, pattern] : ParseFilter(filter)) {
        // Win32 separates patterns with ';', zenity with spaces.
        for (char& c : pattern) {
            if (c == ';') {
                c = ' ';
            }
        }
        args.push_back("--file-filter=" + text + " | " + pattern);
    }
    return args;
}

DialogFailure AcceptDialogAnswer(const std::optional<std::string>& answer, OPENFILENAME* ofn, bool save) {
    if (!answer || answer->empty()) {
        return DialogFailure::Cancelled;
    }
    if (answer->size() + 1 > ofn->nMaxFile) {
        return DialogFailure::TooLong;
    }
    struct stat st {};
    if (!save && (ofn->Flags & OFN_FILEMUSTEXIST) && stat(answer->c_str(), &st) != 0) {
        return DialogFailure::MustExist;
    }
    std::memcpy(ofn->lpstrFile, answer->c_str(), answer->size() + 1);
    return DialogFailure::None;
}

void ResetDialogs() {
    DialogState& s = State();
    std::lock_guard lock(s.mutex);
    s.scripted = false;
    s.script.clear();
    s.next = 0;
    s.calls.clear();
}

}  // namespace detail

bool GetOpenFileName(OPENFILENAME* ofn) {
    return FileDialog(ofn, false);
}
bool GetSaveFileName(OPENFILENAME* ofn) {
    return FileDialog(ofn, true);
}

namespace testing {

void SetFileDialogScript(std::vector<std::optional<std::string>> answers) {
    DialogState& s = State();
    std::lock_guard lock(s.mutex);
    s.scripted = true;
    s.script = std::move(answers);
    s.next = 0;
}

void ClearFileDialogScript() {
    DialogState& s = State();
    std::lock_guard lock(s.mutex);
    s.scripted = false;
    s.script.clear();
    s.next = 0;
}

std::vector<FileDialogCall> TakeFileDialogCalls() {
    DialogState& s = State();
    std::lock_guard lock(s.mutex);
    return std::exchange(s.calls, {});
}

}  // namespace testing

}  // namespace shell

// File dialogs (zenity as a child process), with the test seams that script
// their answers.
#include <SDL2/SDL.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
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
    // A quit signalled while the dialog is open ends the dialog, then the
    // program (the signal is raised again once the scope ends).
    detail::QuitSignalScope quit;
    bool ended = false;
    std::string out;
    char buffer[4096];
    for (;;) {
        if (quit.Signalled() && !ended) {
            kill(pid, SIGTERM);
            ended = true;
        }
        pollfd ready{pipeFds[0], POLLIN, 0};
        const int polled = poll(&ready, 1, 100);
        if (polled == 0 || (polled < 0 && errno == EINTR))
            continue;
        const ssize_t n = polled > 0 ? read(pipeFds[0], buffer, sizeof buffer) : -1;
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
    if (ended)
        return std::nullopt;
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

// One showing of the dialog (zenity, or the test script's next answer).
std::optional<std::string> AskOnce(OPENFILENAME* ofn, bool save, const std::string& initial) {
    {
        DialogState& s = State();
        std::lock_guard lock(s.mutex);
        std::string joined;
        for (const auto& [text, pattern] : detail::ParseFilter(ofn->lpstrFilter)) {
            joined += (joined.empty() ? "" : "|") + text + "|" + pattern;
        }
        s.calls.push_back({save, joined, initial, ofn->Flags});
        if (s.scripted)
            return s.next < s.script.size() ? s.script[s.next++] : std::nullopt;
    }
    if (detail::QuitSignalled())
        return std::nullopt;
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
    std::optional<std::string> answer = RunZenity(detail::BuildZenityArgs(
        save, ofn->lpstrFilter, startAt, parent, save && (ofn->Flags & OFN_OVERWRITEPROMPT)));
    // Clicks and keys that reached our window while the dialog was open
    // were meant for the dialog (or nothing): they are not replayed now.
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEWHEEL);
    return answer;
}

bool FileDialog(OPENFILENAME* ofn, bool save) {
    if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) {
        return false;
    }
    std::string initial(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    for (;;) {
        std::optional<std::string> answer = AskOnce(ofn, save, initial);
        // The dialog confirmed replacing the name it was given, not the one
        // with the extension added: that one is asked about here, as the
        // platform's own dialog asks, and No goes back to the dialog.
        bool extended = false;
        if (save && answer && !answer->empty())
            extended = detail::AddDefaultExtension(&*answer, ofn->lpstrDefExt);
        const detail::DialogFailure failure = detail::AcceptDialogAnswer(answer, ofn, save);
        if (failure == detail::DialogFailure::TooLong) {
            detail::Diagnose("file dialog: the chosen path is longer than the buffer");
        } else if (failure == detail::DialogFailure::MustExist) {
            detail::Diagnose(("file dialog: no such file: " + *answer).c_str());
        }
        if (failure != detail::DialogFailure::None)
            return false;
        struct stat st {};
        if (!extended || !(ofn->Flags & OFN_OVERWRITEPROMPT) || lstat(answer->c_str(), &st) != 0)
            return true;
        const std::string name = answer->substr(answer->find_last_of('/') + 1);
        const int replace =
            MessageBox(ofn->hwndOwner, (name + " already exists.\nDo you want to replace it?").c_str(),
                       "Confirm Save As", MB_YESNO | MB_ICONWARNING);
        if (replace == IDYES)
            return true;
        if (replace != IDNO)
            return false;
        initial = *answer;
    }
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
                                         unsigned long parentWindow, bool confirmOverwrite) {
    std::vector<std::string> args = {"zenity", "--file-selection"};
    if (parentWindow != 0) {
        args.push_back("--modal");
        args.push_back("--attach=" + std::to_string(parentWindow));
    }
    if (save) {
        args.push_back("--save");
        if (confirmOverwrite)
            args.push_back("--confirm-overwrite");
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

bool AddDefaultExtension(std::string* name, const char* extension) {
    if (!extension || !*extension)
        return false;
    const std::string ending = std::string(".") + extension;
    auto lower = [](std::string t) {
        for (char& c : t)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return t;
    };
    if (name->size() >= ending.size() && lower(name->substr(name->size() - ending.size())) == lower(ending))
        return false;
    *name += ending;
    return true;
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

std::optional<std::string> AskForText(HWND owner, const std::string& title, const std::string& prompt) {
    {
        DialogState& s = State();
        std::lock_guard lock(s.mutex);
        s.calls.push_back({false, title, "", 0});
        if (s.scripted)
            return s.next < s.script.size() ? s.script[s.next++] : std::nullopt;
    }
    if (detail::QuitSignalled())
        return std::nullopt;
    std::vector<std::string> args = {"zenity", "--entry", "--title=" + title, "--text=" + prompt,
                                     "--width=560"};
    const unsigned long parent =
        IsWindow(owner) && owner->surface ? detail::NativeWindowId(owner->surface->Window()) : 0;
    if (parent != 0)
        args.push_back("--attach=" + std::to_string(parent));
    std::optional<std::string> answer = RunZenity(args);
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEWHEEL);
    if (answer) {
        const size_t first = answer->find_first_not_of(" \t");
        if (first == std::string::npos)
            return std::nullopt;
        *answer = answer->substr(first, answer->find_last_not_of(" \t") - first + 1);
    }
    return answer;
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

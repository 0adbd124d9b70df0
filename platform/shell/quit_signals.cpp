// SIGTERM and SIGINT while the program waits on a child of its own (a message
// box, a file dialog): SDL turns them into a quit event that nobody reads
// until the wait is over, so without this the program and the child both stay
// until someone answers the child.
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/shell/window_internal.h"

namespace shell::detail {

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT};

std::atomic<int> caughtSignal{0};  // lock-free, so safe in the handler and across threads
std::atomic<bool> quitSignalled{false};
int scopeDepth = 0;  // a box shown by a dialog's wait shares its scope
struct sigaction before[2];
bool installed[2] = {false, false};

extern "C" void OnQuitSignal(int signal) {
    caughtSignal = signal;
}

}  // namespace

QuitSignalScope::QuitSignalScope() {
    if (scopeDepth++ > 0)
        return;
    caughtSignal = 0;
    for (int i = 0; i < 2; ++i) {
        installed[i] = false;
        if (sigaction(kQuitSignals[i], nullptr, &before[i]) != 0 || before[i].sa_handler == SIG_IGN)
            continue;  // a signal the program was told to ignore stays ignored
        struct sigaction catcher {};
        catcher.sa_handler = OnQuitSignal;
        sigemptyset(&catcher.sa_mask);
        catcher.sa_flags = 0;  // no SA_RESTART: the wait hears of it at once
        installed[i] = sigaction(kQuitSignals[i], &catcher, nullptr) == 0;
    }
}

QuitSignalScope::~QuitSignalScope() {
    if (--scopeDepth > 0)
        return;
    for (int i = 0; i < 2; ++i) {
        if (installed[i])
            sigaction(kQuitSignals[i], &before[i], nullptr);
        installed[i] = false;
    }
    const int signal = caughtSignal.exchange(0);
    if (signal != 0) {
        quitSignalled = true;
        // To whoever had it before: SDL's handler queues the quit the main
        // loop acts on; without one the default action ends the process.
        std::raise(signal);
    }
}

bool QuitSignalScope::Signalled() const {
    return caughtSignal != 0;
}

bool QuitSignalled() {
    return quitSignalled || caughtSignal != 0;
}

std::vector<pid_t> ChildProcesses() {
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    if (!proc)
        return children;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        std::FILE* f = std::fopen(path, "r");
        if (!f)
            continue;
        char line[512];
        const size_t n = std::fread(line, 1, sizeof line - 1, f);
        std::fclose(f);
        line[n] = '\0';
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const char* close = std::strrchr(line, ')');
        char state = 0;
        long parent = 0;
        if (close && std::sscanf(close + 1, " %c %ld", &state, &parent) == 2 && parent == self)
            children.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return children;
}

}  // namespace shell::detail

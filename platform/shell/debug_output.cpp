// The debug output: every text kept for tests to read, and on stderr only
// when TAMLO_DEBUG is set; a debugger's channel, not the user's terminal.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/shell/window_internal.h"

namespace shell {

namespace {

std::vector<std::string>& DebugLines() {
    static std::vector<std::string> lines;
    return lines;
}

}  // namespace

// Written exactly as given, as the platform's debug output does: the caller
// ends its own lines.
void OutputDebugString(const char* text) {
    const std::string written = text ? text : "";
    if (std::getenv("TAMLO_DEBUG") != nullptr)
        std::fputs(written.c_str(), stderr);
    DebugLines().push_back(written);
}

namespace detail {

void Diagnose(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    DebugLines().push_back(line + "\n");
}

}  // namespace detail

namespace detail {

void ResetDebugOutput() {
    DebugLines().clear();
}

}  // namespace detail

namespace testing {

std::vector<std::string> TakeDebugOutput() {
    return std::exchange(DebugLines(), {});
}

}  // namespace testing

}  // namespace shell

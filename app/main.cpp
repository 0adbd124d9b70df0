// Tamlo: an interactive direct volume renderer. `tamlo FILE` opens FILE at
// start, as File > Open would.
#include <cstdio>
#include <cstring>

#include "app/app_state.h"

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::puts(
            "usage: tamlo [FILE]\nOpens the viewer; FILE (a volume file or a scan) is opened at start.");
        return 0;
    }
    if (argc > 2) {
        std::fputs("tamlo: one file at a time (usage: tamlo [FILE])\n", stderr);
        return 2;
    }
    return TamloMain(nullptr, shell::SW_SHOWDEFAULT, argc > 1 ? argv[1] : nullptr);
}

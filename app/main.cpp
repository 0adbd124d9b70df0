// Tamlo: an interactive direct volume renderer. The command line is ignored.
#include "app/app_state.h"

int main() {
    return TamloMain(nullptr, shell::SW_SHOWDEFAULT);
}

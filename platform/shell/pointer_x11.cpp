// Where the pointer really is, asked of the X server. SDL's own answer
// (SDL_GetGlobalMouseState) is a cache that XTest motion does not refresh, and
// its window positions are clamped to the confinement rectangle, so neither
// can tell that the pointer has left it. Kept apart: Xlib's macros (None,
// Bool, Status) would clash with names in the rest of the shell.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

namespace shell::detail {

bool QueryPointer(SDL_Window* window, int* x, int* y);  // declared in window_internal.h
unsigned long NativeWindowId(SDL_Window* window);

bool QueryPointer(SDL_Window* window, int* x, int* y) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) {
        return false;
    }
    Display* display = info.info.x11.display;
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned int mask = 0;
    return XQueryPointer(display, DefaultRootWindow(display), &root, &child, x, y, &wx, &wy, &mask) != 0;
#else
    (void)window;
    (void)x;
    (void)y;
    return false;
#endif
}

unsigned long NativeWindowId(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
        return static_cast<unsigned long>(info.info.x11.window);
#else
    (void)window;
#endif
    return 0;
}

}  // namespace shell::detail

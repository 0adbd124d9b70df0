// SDL event -> Win32 message, as a plain function of the event and what the
// shell knows about its window.
#include <SDL2/SDL.h>

#include <algorithm>
#include <cctype>

#include "platform/shell/shell_internal.h"

namespace shell::detail {

namespace {

uint32_t ButtonMask(uint8_t button) {
    switch (button) {
        case SDL_BUTTON_LEFT:
            return SDL_BUTTON_LMASK;
        case SDL_BUTTON_RIGHT:
            return SDL_BUTTON_RMASK;
        case SDL_BUTTON_MIDDLE:
            return SDL_BUTTON_MMASK;
        default:
            return 0;
    }
}

Translation ToMenu(MenuInput::Kind kind, int x, int y, char letter = 0) {
    Translation t;
    t.route = Translation::Route::Menu;
    t.menu.kind = kind;
    t.menu.x = x;
    t.menu.y = y;
    t.menu.letter = letter;
    return t;
}

Translation ToWindow(UINT message, WPARAM wParam, LPARAM lParam, bool send = false) {
    Translation t;
    t.route = Translation::Route::Window;
    t.message = message;
    t.wParam = wParam;
    t.lParam = lParam;
    t.send = send;
    return t;
}

Translation ClientSize(int width, int height, int barHeight) {
    const int clientHeight = std::max(0, height - barHeight);
    return ToWindow(
        WM_SIZE, SIZE_RESTORED,
        MAKELPARAM(static_cast<uint16_t>(std::max(0, width)), static_cast<uint16_t>(clientHeight)), true);
}

// Mouse input belongs to the menu while a pull-down is open, and over the bar
// unless a drag that started in the client area is under way (X11's implicit
// grab keeps delivering it to us; the program must see its button-up).
bool MenuTakesPointer(int y, const EventContext& c) {
    return c.menuActive || (y < c.barHeight && !c.clientCapture);
}

Translation Button(const SDL_MouseButtonEvent& b, bool down, const EventContext& c) {
    if (MenuTakesPointer(b.y, c)) {
        return ToMenu(down ? MenuInput::Kind::Press : MenuInput::Kind::Release, b.x, b.y);
    }
    UINT message = 0;
    const bool dbl = down && c.doubleClicks && b.clicks >= 2 && b.clicks % 2 == 0;
    switch (b.button) {
        case SDL_BUTTON_LEFT:
            message = down ? (dbl ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN) : WM_LBUTTONUP;
            break;
        case SDL_BUTTON_RIGHT:
            message = down ? (dbl ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN) : WM_RBUTTONUP;
            break;
        case SDL_BUTTON_MIDDLE:
            // No double clicks: every press of the middle button starts a pan.
            message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
            break;
        default:
            return {};
    }
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button = b;
    return ToWindow(message, KeyStateWord(ButtonsAfter(e, c.buttonsBefore), c.modState),
                    PackPoint(b.x, b.y - c.barHeight));
}

// Win32's virtual key for an SDL key; 0 for keys the program has no use for.
int VirtualKey(SDL_Keycode sym) {
    if (sym >= SDLK_a && sym <= SDLK_z)
        return 'A' + (sym - SDLK_a);
    if (sym >= SDLK_0 && sym <= SDLK_9)
        return '0' + (sym - SDLK_0);
    if (sym >= SDLK_F1 && sym <= SDLK_F12)
        return VK_F1 + (sym - SDLK_F1);
    switch (sym) {
        case SDLK_ESCAPE:
            return VK_ESCAPE;
        case SDLK_SPACE:
            return VK_SPACE;
        case SDLK_COMMA:
            return VK_OEM_COMMA;
        case SDLK_PERIOD:
            return VK_OEM_PERIOD;
        case SDLK_PAGEUP:
            return VK_PRIOR;
        case SDLK_PAGEDOWN:
            return VK_NEXT;
        case SDLK_END:
            return VK_END;
        case SDLK_HOME:
            return VK_HOME;
        case SDLK_LEFT:
            return VK_LEFT;
        case SDLK_UP:
            return VK_UP;
        case SDLK_RIGHT:
            return VK_RIGHT;
        case SDLK_DOWN:
            return VK_DOWN;
        case SDLK_DELETE:
            return VK_DELETE;
        default:
            return 0;
    }
}

Translation Key(const SDL_KeyboardEvent& k, const EventContext& c) {
    if (k.type != SDL_KEYDOWN) {
        return {};
    }
    const SDL_Keycode sym = k.keysym.sym;
    const bool alt = (k.keysym.mod & KMOD_ALT) != 0;
    const bool letter = (sym >= SDLK_a && sym <= SDLK_z) || (sym >= SDLK_0 && sym <= SDLK_9);
    if (letter && alt) {
        return ToMenu(MenuInput::Kind::AltLetter, 0, 0, static_cast<char>(sym));
    }
    if (!c.menuActive) {
        const int vk = VirtualKey(sym);
        return vk ? ToWindow(WM_KEYDOWN, static_cast<WPARAM>(vk), k.repeat ? (LPARAM{1} << 30) : 0)
                  : Translation{};
    }
    if (letter) {
        return ToMenu(MenuInput::Kind::Letter, 0, 0, static_cast<char>(sym));
    }
    switch (sym) {
        case SDLK_ESCAPE:
            return ToMenu(MenuInput::Kind::Escape, 0, 0);
        case SDLK_UP:
            return ToMenu(MenuInput::Kind::Up, 0, 0);
        case SDLK_DOWN:
            return ToMenu(MenuInput::Kind::Down, 0, 0);
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return ToMenu(MenuInput::Kind::Enter, 0, 0);
        default:
            return {};
    }
}

}  // namespace

LPARAM PackPoint(int x, int y) {
    return MAKELPARAM(static_cast<uint16_t>(static_cast<int16_t>(x)),
                      static_cast<uint16_t>(static_cast<int16_t>(y)));
}

WPARAM KeyStateWord(uint32_t buttons, uint16_t modState) {
    WPARAM w = 0;
    if (buttons & SDL_BUTTON_LMASK)
        w |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK)
        w |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK)
        w |= MK_MBUTTON;
    if (modState & KMOD_SHIFT)
        w |= MK_SHIFT;
    if (modState & KMOD_CTRL)
        w |= MK_CONTROL;
    return w;
}

uint32_t ButtonsAfter(const SDL_Event& event, uint32_t before) {
    if (event.type == SDL_MOUSEBUTTONDOWN) {
        return before | ButtonMask(event.button.button);
    }
    if (event.type == SDL_MOUSEBUTTONUP) {
        return before & ~ButtonMask(event.button.button);
    }
    return before;
}

Translation TranslateSdlEvent(const SDL_Event& event, const EventContext& c) {
    switch (event.type) {
        case SDL_MOUSEMOTION: {
            const SDL_MouseMotionEvent& m = event.motion;
            if (MenuTakesPointer(m.y, c)) {
                return ToMenu(MenuInput::Kind::Move, m.x, m.y);
            }
            return ToWindow(WM_MOUSEMOVE, KeyStateWord(c.buttonsBefore, c.modState),
                            PackPoint(m.x, m.y - c.barHeight));
        }
        case SDL_MOUSEBUTTONDOWN:
            return Button(event.button, true, c);
        case SDL_MOUSEBUTTONUP:
            return Button(event.button, false, c);
        case SDL_MOUSEWHEEL: {
            const SDL_MouseWheelEvent& w = event.wheel;
            if (w.y == 0) {
                return {};
            }
            int notches = w.direction == SDL_MOUSEWHEEL_FLIPPED ? -w.y : w.y;
            notches = std::clamp(notches, -273, 273);  // keeps notches * 120 within a signed word
            if (MenuTakesPointer(w.mouseY, c)) {
                // An open pull-down's long submenu scrolls; the bar has no use for it.
                if (!c.menuActive)
                    return {};
                Translation t = ToMenu(MenuInput::Kind::Wheel, w.mouseX, w.mouseY);
                t.menu.notches = notches;
                return t;
            }
            const auto delta = static_cast<uint16_t>(static_cast<int16_t>(notches * WHEEL_DELTA));
            return ToWindow(
                WM_MOUSEWHEEL,
                MAKEWPARAM(static_cast<uint16_t>(KeyStateWord(c.buttonsBefore, c.modState)), delta),
                PackPoint(c.windowX + w.mouseX, c.windowY + w.mouseY));
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            return Key(event.key, c);
        case SDL_WINDOWEVENT: {
            const SDL_WindowEvent& w = event.window;
            switch (w.event) {
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    return ClientSize(w.data1, w.data2, c.barHeight);
                case SDL_WINDOWEVENT_MINIMIZED: {
                    Translation t = ToWindow(WM_SIZE, SIZE_MINIMIZED, MAKELPARAM(0, 0), true);
                    return t;
                }
                case SDL_WINDOWEVENT_RESTORED:
                case SDL_WINDOWEVENT_MAXIMIZED:
                    return ClientSize(c.windowWidth, c.windowHeight, c.barHeight);
                case SDL_WINDOWEVENT_CLOSE:
                    return ToWindow(WM_CLOSE, 0, 0, true);
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    // Whatever the program was dragging, its button release may
                    // now go elsewhere: it hears of the loss of focus.
                    return ToWindow(WM_KILLFOCUS, 0, 0, true);
                case SDL_WINDOWEVENT_LEAVE:
                    // Clears the hover highlight of the bar.
                    return c.menuActive ? Translation{} : ToMenu(MenuInput::Kind::Move, -1, -1);
                default:
                    return {};
            }
        }
        default:
            return {};
    }
}

}  // namespace shell::detail

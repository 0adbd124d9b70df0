// The menu bar's resources: menus described as data and registered under a
// resource id, as a .rc file would hold them.
#include <map>
#include <memory>
#include <utility>

#include "platform/shell/window_internal.h"

namespace shell {

namespace {

std::map<int, std::unique_ptr<MenuResource>>& Menus() {
    static std::map<int, std::unique_ptr<MenuResource>> menus;
    return menus;
}

}  // namespace

void RegisterMenuResource(int resourceId, MenuResource menu) {
    auto& slot = Menus()[resourceId];
    if (slot) {
        *slot = std::move(menu);  // keeps HMENUs already handed out valid
    } else {
        slot = std::make_unique<MenuResource>(std::move(menu));
    }
}

HMENU LoadMenu(HINSTANCE, int resourceId) {
    const auto it = Menus().find(resourceId);
    return it == Menus().end() ? nullptr : it->second.get();
}

namespace {

bool HasItem(const std::vector<MenuItem>& items, UINT id) {
    for (const MenuItem& item : items) {
        if ((!item.IsSeparator() && item.items.empty() && item.id == id) || HasItem(item.items, id))
            return true;
    }
    return false;
}

bool HasItem(HMENU menu, UINT id) {
    if (!menu)
        return false;
    for (const MenuPopup& popup : menu->popups) {
        if (HasItem(popup.items, id))
            return true;
    }
    return false;
}

// Sets or clears `bit` of an item's state; the state before, or -1.
int SetStateBit(HMENU menu, UINT id, UINT bit, bool on) {
    if (!HasItem(menu, id))
        return -1;
    UINT& state = menu->itemState[id];
    const UINT before = state;
    state = on ? (state | bit) : (state & ~bit);
    return static_cast<int>(before);
}

}  // namespace

void SetToolTip(HWND window, const char* text, int x, int y) {
    WindowRecord* w = detail::Live(window);
    if (!w)
        return;
    const std::string next = text ? text : "";
    if (next.empty() && w->surface->ToolTip().empty())
        return;
    w->surface->SetToolTip(next, x, y);
    w->menuDirty = true;
}

void SetStatusText(HWND window, const char* text) {
    WindowRecord* w = detail::Live(window);
    if (!w)
        return;
    const std::string next = text ? text : "";
    if (next == w->surface->Status())
        return;
    w->surface->SetStatus(next);
    w->menuDirty = true;
}

std::string GetStatusText(HWND window) {
    const WindowRecord* w = detail::Live(window);
    return w ? w->surface->Status() : std::string();
}

std::string GetToolTip(HWND window) {
    const WindowRecord* w = detail::Live(window);
    return w ? w->surface->ToolTip() : std::string();
}

HMENU GetMenu(HWND window) {
    const WindowRecord* w = detail::Live(window);
    return w ? w->menu : nullptr;
}

int CheckMenuItem(HMENU menu, UINT id, UINT check) {
    return SetStateBit(menu, id, MF_CHECKED, (check & MF_CHECKED) != 0);
}

int EnableMenuItem(HMENU menu, UINT id, UINT enable) {
    return SetStateBit(menu, id, MF_GRAYED, (enable & MF_GRAYED) != 0);
}

namespace detail {

void ResetMenus() {
    Menus().clear();
}

}  // namespace detail

}  // namespace shell

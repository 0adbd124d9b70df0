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

namespace detail {

void ResetMenus() {
    Menus().clear();
}

}  // namespace detail

}  // namespace shell

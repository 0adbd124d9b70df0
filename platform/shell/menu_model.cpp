// The menu as data: mnemonic parsing, layout in window pixels, and the
// pull-down state machine. Drawing lives in window_gl.cpp.
#include <algorithm>
#include <cctype>

#include "platform/shell/shell_internal.h"

namespace shell::detail {

MnemonicText ParseMnemonic(std::string_view text) {
    MnemonicText out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != '&' && out.mnemonic == 0) {
                out.mnemonic = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
                out.mnemonicIndex = static_cast<int>(out.display.size());
            }
        }
        // Every item is one line: a control character (a newline in a
        // preset's file name) would draw over the next item.
        const auto c = static_cast<unsigned char>(text[i]);
        out.display += c < 0x20 || c == 0x7F ? '?' : text[i];
    }
    return out;
}

namespace {

// Items top to bottom from `y`, starting at `x`; returns the widest text.
float LayoutItems(const std::vector<MenuItem>& items, float x, float y,
                  const std::function<float(std::string_view)>& textWidth, std::vector<MenuLayoutItem>* out,
                  float* bottom) {
    float widest = 0;
    for (const MenuItem& item : items) {
        MenuLayoutItem it;
        it.id = item.id;
        it.separator = item.IsSeparator();
        it.label = ParseMnemonic(item.text);
        const float h = it.separator ? kMenuSeparatorHeight : kMenuItemHeight;
        it.rect = {x, y, 0, y + h};
        y += h;
        widest = std::max(widest, textWidth(it.label.display));
        out->push_back(std::move(it));
    }
    *bottom = y;
    return widest;
}

// Room on the right as on Win32, so short items do not look cramped, and on
// the left for check marks.
float BoxWidth(float widestText) {
    return widestText + 2 * kMenuTitlePadding + kMenuCheckGutter + 24;
}

}  // namespace

bool MenuLayout::Checked(UINT id) const {
    if (!source)
        return false;
    const auto it = source->itemState.find(id);
    return it != source->itemState.end() && (it->second & MF_CHECKED);
}

bool MenuLayout::Greyed(UINT id) const {
    if (!source)
        return false;
    const auto it = source->itemState.find(id);
    return it != source->itemState.end() && (it->second & MF_GRAYED);
}

namespace {

// Keeps a submenu inside the window: moved up as far as the bar if it would
// hang below the window's bottom, and scrolling between two arrows if it is
// taller than the window below the bar.
void FitSubmenu(MenuLayoutItem* parent, float barHeight, float windowHeight) {
    MenuRect& box = parent->subBox;
    parent->subView = {box.x0, box.y0 + kMenuBoxPadding, box.x1, box.y1 - kMenuBoxPadding};
    parent->subScrollMax = 0;
    if (windowHeight <= barHeight || box.y1 <= windowHeight)
        return;
    auto shift = [&](float dy) {
        for (MenuLayoutItem& sub : parent->subItems) {
            sub.rect.y0 += dy;
            sub.rect.y1 += dy;
        }
    };
    const float height = box.y1 - box.y0;
    if (height <= windowHeight - barHeight) {
        const float dy = windowHeight - box.y1;
        box.y0 += dy;
        box.y1 += dy;
        parent->subView.y0 += dy;
        parent->subView.y1 += dy;
        shift(dy);
        return;
    }
    box.y0 = barHeight;
    box.y1 = windowHeight;
    parent->subView = {box.x0, box.y0 + kMenuScrollArrowHeight, box.x1, box.y1 - kMenuScrollArrowHeight};
    const float contentTop = parent->subItems.front().rect.y0;
    const float contentHeight = parent->subItems.back().rect.y1 - contentTop;
    shift(parent->subView.y0 - contentTop);
    parent->subScrollMax = std::max(0.0f, contentHeight - (parent->subView.y1 - parent->subView.y0));
}

}  // namespace

MenuLayout LayoutMenu(const MenuResource& menu, const std::function<float(std::string_view)>& textWidth,
                      float windowHeight) {
    MenuLayout layout;
    layout.source = &menu;
    layout.barHeight = static_cast<float>(kMenuBarHeight);
    float x = 0;
    for (const MenuPopup& popup : menu.popups) {
        MenuLayoutPopup p;
        p.label = ParseMnemonic(popup.text);
        const float titleWidth = textWidth(p.label.display) + 2 * kMenuTitlePadding;
        p.title = {x, 0, x + titleWidth, layout.barHeight};
        x += titleWidth;

        float bottom = 0;
        const float widest = LayoutItems(popup.items, p.title.x0, layout.barHeight + kMenuBoxPadding,
                                         textWidth, &p.items, &bottom);
        const float boxWidth = std::max(BoxWidth(widest), titleWidth);
        p.box = {p.title.x0, layout.barHeight, p.title.x0 + boxWidth, bottom + kMenuBoxPadding};
        for (size_t i = 0; i < p.items.size(); ++i) {
            MenuLayoutItem& it = p.items[i];
            it.rect.x1 = p.box.x1;
            const std::vector<MenuItem>& subItems = popup.items[i].items;
            if (subItems.empty())
                continue;
            // The submenu opens to the right, its first item level with its parent.
            float subBottom = 0;
            const float subWidest =
                LayoutItems(subItems, p.box.x1, it.rect.y0, textWidth, &it.subItems, &subBottom);
            it.subBox = {p.box.x1, it.rect.y0 - kMenuBoxPadding, p.box.x1 + BoxWidth(subWidest),
                         subBottom + kMenuBoxPadding};
            for (MenuLayoutItem& sub : it.subItems)
                sub.rect.x1 = it.subBox.x1;
            FitSubmenu(&it, layout.barHeight, windowHeight);
        }
        layout.popups.push_back(std::move(p));
    }
    return layout;
}

int MenuTracker::TitleAt(float x, float y) const {
    for (size_t i = 0; layout_ && i < layout_->popups.size(); ++i) {
        if (layout_->popups[i].title.Contains(x, y)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int MenuTracker::ItemAt(float x, float y) const {
    if (!layout_ || open_ < 0) {
        return -1;
    }
    const auto& items = layout_->popups[open_].items;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].separator && items[i].rect.Contains(x, y)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const std::vector<MenuLayoutItem>* MenuTracker::SubItems() const {
    if (!layout_ || open_ < 0 || openSub_ < 0)
        return nullptr;
    return &layout_->popups[open_].items[openSub_].subItems;
}

const MenuLayoutItem* MenuTracker::SubParent() const {
    if (!layout_ || open_ < 0 || openSub_ < 0)
        return nullptr;
    return &layout_->popups[open_].items[openSub_];
}

float MenuTracker::SubScroll() const {
    const MenuLayoutItem* parent = SubParent();
    return parent ? std::clamp(subScroll_, 0.0f, parent->subScrollMax) : 0.0f;
}

void MenuTracker::ScrollSub(float pixels) {
    if (const MenuLayoutItem* parent = SubParent())
        subScroll_ = std::clamp(SubScroll() + pixels, 0.0f, parent->subScrollMax);
}

void MenuTracker::ShowSubItem(int item) {
    const MenuLayoutItem* parent = SubParent();
    if (!parent || !parent->Scrolls() || item < 0)
        return;
    const MenuRect& r = parent->subItems[item].rect;
    const float scroll = SubScroll();
    if (r.y0 - scroll < parent->subView.y0)
        subScroll_ = r.y0 - parent->subView.y0;
    else if (r.y1 - scroll > parent->subView.y1)
        subScroll_ = r.y1 - parent->subView.y1;
    subScroll_ = std::clamp(subScroll_, 0.0f, parent->subScrollMax);
}

int MenuTracker::SubItemAt(float x, float y) const {
    const MenuLayoutItem* parent = SubParent();
    if (!parent || !parent->subView.Contains(x, y))
        return -1;  // the scroll arrows and the box's edges choose nothing
    const std::vector<MenuLayoutItem>& items = parent->subItems;
    const float scrolledY = y + SubScroll();
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].separator && items[i].rect.Contains(x, scrolledY)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void MenuTracker::Open(int popup) {
    open_ = popup;
    hotTitle_ = popup;
    hotItem_ = -1;
    openSub_ = -1;
    hotSub_ = -1;
    subScroll_ = 0;
}

int MenuTracker::StepIn(const std::vector<MenuLayoutItem>& items, int from, int step) {
    const int n = static_cast<int>(items.size());
    int i = from;
    for (int tries = 0; tries < n; ++tries) {
        i = i < 0 ? (step > 0 ? 0 : n - 1) : (i + step + n) % n;
        if (!items[i].separator) {
            return i;
        }
    }
    return -1;
}

int MenuTracker::StepItem(int from, int step) const {
    return StepIn(layout_->popups[open_].items, from, step);
}

MenuOutcome MenuTracker::Handle(const MenuInput& in) {
    MenuOutcome out;
    if (!layout_) {
        return out;
    }
    const int before[5] = {open_, hotTitle_, hotItem_, openSub_, hotSub_};
    const float scrollBefore = SubScroll();
    const float x = static_cast<float>(in.x), y = static_cast<float>(in.y);
    // A greyed item, or one that opens a submenu, chooses nothing.
    auto chooseFrom = [&](const std::vector<MenuLayoutItem>& items, int item) {
        if (item < 0 || items[item].HasSubmenu() || layout_->Greyed(items[item].id)) {
            return;
        }
        out.command = items[item].id;
        Close();
    };
    auto choose = [&](int item) {
        if (item >= 0 && layout_->popups[open_].items[item].HasSubmenu()) {
            openSub_ = item;  // a click or Enter on a submenu's item opens it
            return;
        }
        chooseFrom(layout_->popups[open_].items, item);
    };
    auto inSubBox = [&] {
        return open_ >= 0 && openSub_ >= 0 && layout_->popups[open_].items[openSub_].subBox.Contains(x, y);
    };
    // Hovering an item shows its submenu, or hides the one shown.
    auto hoverItem = [&](int item) {
        hotItem_ = item;
        if (item >= 0 && layout_->popups[open_].items[item].HasSubmenu()) {
            if (openSub_ != item)
                hotSub_ = -1;
            openSub_ = item;
        } else if (item >= 0) {
            openSub_ = hotSub_ = -1;
        }
    };
    switch (in.kind) {
        case MenuInput::Kind::Move: {
            const int title = TitleAt(x, y);
            hotTitle_ = title >= 0 ? title : (open_ >= 0 ? open_ : -1);
            if (open_ >= 0 && title >= 0 && title != open_) {
                Open(title);
            } else if (inSubBox()) {
                hotSub_ = SubItemAt(x, y);
            } else if (open_ >= 0) {
                hoverItem(ItemAt(x, y));
            }
            break;
        }
        case MenuInput::Kind::Press: {
            const int title = TitleAt(x, y);
            if (title >= 0) {
                if (title == open_) {
                    Close();
                } else {
                    Open(title);
                }
            } else if (inSubBox()) {
                // A press on a scroll arrow turns a page.
                const MenuLayoutItem& parent = *SubParent();
                const float page =
                    std::max(kMenuItemHeight, parent.subView.y1 - parent.subView.y0 - kMenuItemHeight);
                if (parent.Scrolls() && y < parent.subView.y0)
                    ScrollSub(-page);
                else if (parent.Scrolls() && y >= parent.subView.y1)
                    ScrollSub(page);
                hotSub_ = SubItemAt(x, y);
            } else if (open_ >= 0) {
                if (layout_->popups[open_].box.Contains(x, y)) {
                    hoverItem(ItemAt(x, y));
                } else {
                    Close();
                }
            }
            break;
        }
        case MenuInput::Kind::Release:
            if (inSubBox()) {
                chooseFrom(*SubItems(), SubItemAt(x, y));
            } else if (open_ >= 0) {
                choose(ItemAt(x, y));
            }
            break;
        case MenuInput::Kind::AltLetter:
            for (size_t i = 0; i < layout_->popups.size(); ++i) {
                if (layout_->popups[i].label.mnemonic == in.letter) {
                    Open(static_cast<int>(i));
                    break;
                }
            }
            break;
        case MenuInput::Kind::Letter:
            if (open_ >= 0) {
                const bool inSub = openSub_ >= 0 && hotSub_ >= 0;
                const auto& items = inSub ? *SubItems() : layout_->popups[open_].items;
                for (size_t i = 0; i < items.size(); ++i) {
                    if (!items[i].separator && items[i].label.mnemonic == in.letter) {
                        if (inSub) {
                            chooseFrom(items, static_cast<int>(i));
                        } else {
                            hotItem_ = static_cast<int>(i);
                            choose(hotItem_);
                            if (openSub_ >= 0)
                                hotSub_ = StepIn(*SubItems(), -1, 1);
                        }
                        break;
                    }
                }
            }
            break;
        case MenuInput::Kind::Escape:
            if (openSub_ >= 0 && hotSub_ >= 0) {
                openSub_ = hotSub_ = -1;  // back to the pull-down
            } else {
                Close();
            }
            break;
        case MenuInput::Kind::Up:
        case MenuInput::Kind::Down: {
            const int step = in.kind == MenuInput::Kind::Down ? 1 : -1;
            if (openSub_ >= 0 && hotSub_ >= 0) {
                hotSub_ = StepIn(*SubItems(), hotSub_, step);
                ShowSubItem(hotSub_);
            } else if (open_ >= 0) {
                hotItem_ = StepItem(hotItem_, step);
                openSub_ = hotSub_ = -1;
            }
            break;
        }
        case MenuInput::Kind::Enter:
            if (openSub_ >= 0 && hotSub_ >= 0) {
                chooseFrom(*SubItems(), hotSub_);
            } else if (open_ >= 0) {
                choose(hotItem_);
                if (openSub_ >= 0)
                    hotSub_ = StepIn(*SubItems(), -1, 1);
            }
            break;
        case MenuInput::Kind::Wheel:
            if (SubParent() && SubParent()->Scrolls()) {
                ScrollSub(-static_cast<float>(in.notches) * kMenuItemsPerNotch * kMenuItemHeight);
                if (inSubBox())
                    hotSub_ = SubItemAt(x, y);
            }
            break;
        case MenuInput::Kind::None:
            break;
    }
    if (openSub_ != before[3])
        subScroll_ = 0;  // a submenu opens at its top
    else if (openSub_ >= 0 && hotSub_ >= 0 && hotSub_ != before[4] && in.kind != MenuInput::Kind::Move &&
             in.kind != MenuInput::Kind::Press && in.kind != MenuInput::Kind::Wheel)
        ShowSubItem(hotSub_);  // the keyboard's item, also when it entered the submenu
    const bool pointer = in.kind == MenuInput::Kind::Press || in.kind == MenuInput::Kind::Release;
    if (open_ < 0 && pointer) {
        hotTitle_ = TitleAt(x, y);
    }
    out.redraw = before[0] != open_ || before[1] != hotTitle_ || before[2] != hotItem_ ||
                 before[3] != openSub_ || before[4] != hotSub_ || scrollBefore != SubScroll() ||
                 out.command.has_value();
    return out;
}

}  // namespace shell::detail

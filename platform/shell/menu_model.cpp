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
        out.display += text[i];
    }
    return out;
}

MenuLayout LayoutMenu(const MenuResource& menu, const std::function<float(std::string_view)>& textWidth) {
    MenuLayout layout;
    layout.barHeight = static_cast<float>(kMenuBarHeight);
    float x = 0;
    for (const MenuPopup& popup : menu.popups) {
        MenuLayoutPopup p;
        p.label = ParseMnemonic(popup.text);
        const float titleWidth = textWidth(p.label.display) + 2 * kMenuTitlePadding;
        p.title = {x, 0, x + titleWidth, layout.barHeight};
        x += titleWidth;

        float widest = 0;
        float y = layout.barHeight + kMenuBoxPadding;
        for (const MenuItem& item : popup.items) {
            MenuLayoutItem it;
            it.id = item.id;
            it.separator = item.IsSeparator();
            it.label = ParseMnemonic(item.text);
            const float h = it.separator ? kMenuSeparatorHeight : kMenuItemHeight;
            it.rect = {p.title.x0, y, 0, y + h};
            y += h;
            widest = std::max(widest, textWidth(it.label.display));
            p.items.push_back(std::move(it));
        }
        // Room on the right as on Win32, so short items do not look cramped.
        const float boxWidth = std::max(widest + 2 * kMenuTitlePadding + 24, titleWidth);
        p.box = {p.title.x0, layout.barHeight, p.title.x0 + boxWidth, y + kMenuBoxPadding};
        for (MenuLayoutItem& it : p.items) {
            it.rect.x1 = p.box.x1;
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

void MenuTracker::Open(int popup) {
    open_ = popup;
    hotTitle_ = popup;
    hotItem_ = -1;
}

int MenuTracker::StepItem(int from, int step) const {
    const auto& items = layout_->popups[open_].items;
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

MenuOutcome MenuTracker::Handle(const MenuInput& in) {
    MenuOutcome out;
    if (!layout_) {
        return out;
    }
    const int before[3] = {open_, hotTitle_, hotItem_};
    const float x = static_cast<float>(in.x), y = static_cast<float>(in.y);
    auto choose = [&](int item) {
        if (item >= 0) {
            out.command = layout_->popups[open_].items[item].id;
            Close();
        }
    };
    switch (in.kind) {
        case MenuInput::Kind::Move: {
            const int title = TitleAt(x, y);
            hotTitle_ = title >= 0 ? title : (open_ >= 0 ? open_ : -1);
            if (open_ >= 0 && title >= 0 && title != open_) {
                Open(title);
            } else if (open_ >= 0) {
                hotItem_ = ItemAt(x, y);
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
            } else if (open_ >= 0) {
                if (layout_->popups[open_].box.Contains(x, y)) {
                    hotItem_ = ItemAt(x, y);
                } else {
                    Close();
                }
            }
            break;
        }
        case MenuInput::Kind::Release:
            if (open_ >= 0) {
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
                const auto& items = layout_->popups[open_].items;
                for (size_t i = 0; i < items.size(); ++i) {
                    if (!items[i].separator && items[i].label.mnemonic == in.letter) {
                        choose(static_cast<int>(i));
                        break;
                    }
                }
            }
            break;
        case MenuInput::Kind::Escape:
            Close();
            break;
        case MenuInput::Kind::Up:
        case MenuInput::Kind::Down:
            if (open_ >= 0) {
                hotItem_ = StepItem(hotItem_, in.kind == MenuInput::Kind::Down ? 1 : -1);
            }
            break;
        case MenuInput::Kind::Enter:
            if (open_ >= 0) {
                choose(hotItem_);
            }
            break;
        case MenuInput::Kind::None:
            break;
    }
    const bool pointer = in.kind == MenuInput::Kind::Press || in.kind == MenuInput::Kind::Release;
    if (open_ < 0 && pointer) {
        hotTitle_ = TitleAt(x, y);
    }
    out.redraw =
        before[0] != open_ || before[1] != hotTitle_ || before[2] != hotItem_ || out.command.has_value();
    return out;
}

}  // namespace shell::detail

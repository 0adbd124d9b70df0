// The shell's plain parts, kept apart from SDL windows and GL so that tests can
// drive them with synthetic input: SDL event -> message translation, the menu
// model (mnemonics, layout, tracking), and the zenity command line.
//
// Sections: event translation · menu model · file dialogs · message boxes.
#pragma once

#include <SDL2/SDL_events.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell/shell.h"

namespace shell::detail {

// One line of the shell's own diagnostics (a window, a context or a dialog
// that failed): on stderr always, since the user needs it to know why, and
// on the debug output.
void Diagnose(const std::string& line);

// ---------------------------------------------------------------------------
// Event translation

// Win32 wParam of WM_SIZE.
inline constexpr WPARAM SIZE_RESTORED = 0;
inline constexpr WPARAM SIZE_MINIMIZED = 1;

// What the shell knows about the window an event belongs to, at the moment the
// event is taken from SDL's queue.
struct EventContext {
    int barHeight = 0;           // our menu bar, 0 when the window has none
    int windowWidth = 0;         // current outer size, for restore events
    int windowHeight = 0;        //
    int windowX = 0;             // screen position, for WM_MOUSEWHEEL's lParam
    int windowY = 0;             //
    bool doubleClicks = false;   // the class has CS_DBLCLKS
    bool menuActive = false;     // a pull-down is open: it takes all input
    bool clientCapture = false;  // a button went down in the client area and is still held
    uint32_t buttonsBefore = 0;  // SDL_BUTTON_*MASK held before this event
    uint16_t modState = 0;       // SDL keyboard modifiers (KMOD_*)
};

struct MenuInput {
    enum class Kind { None, Move, Press, Release, AltLetter, Letter, Escape, Up, Down, Enter, Wheel };
    Kind kind = Kind::None;
    int x = 0, y = 0;  // window coordinates (the bar starts at y = 0)
    char letter = 0;   // lower case
    int notches = 0;   // Wheel: positive away from the user (up)
};

struct Translation {
    enum class Route { None, Window, Menu };
    Route route = Route::None;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool send = false;  // sent straight to the window procedure rather than queued
    MenuInput menu;     // when route is Menu
};

// One SDL event to at most one message or menu input. Events this shell has no
// use for come back with Route::None.
Translation TranslateSdlEvent(const SDL_Event& event, const EventContext& context);
// SDL_BUTTON_*MASK held after the event.
uint32_t ButtonsAfter(const SDL_Event& event, uint32_t before);
// The key-state word of mouse messages.
WPARAM KeyStateWord(uint32_t buttons, uint16_t modState);
// Client coordinates packed as Win32 does: signed 16-bit words.
LPARAM PackPoint(int x, int y);

// ---------------------------------------------------------------------------
// Menu model

// "&File" -> "File", mnemonic 'f' at character 0; "&&" is a literal '&'.
struct MnemonicText {
    std::string display;
    char mnemonic = 0;       // lower case; 0 when there is none
    int mnemonicIndex = -1;  // byte offset into display
};
MnemonicText ParseMnemonic(std::string_view text);

struct MenuRect {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Contains(float x, float y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

struct MenuLayoutItem {
    MnemonicText label;
    UINT id = 0;
    bool separator = false;
    MenuRect rect;  // window coordinates
    // A submenu: its items, in a box that opens beside this item. A box taller
    // than the window shows its items through subView, between two scroll
    // arrows, with the items' rects as when scrolled to the top.
    std::vector<MenuLayoutItem> subItems;
    MenuRect subBox;
    MenuRect subView;
    float subScrollMax = 0;  // pixels; 0: everything shows at once
    bool HasSubmenu() const { return !subItems.empty(); }
    bool Scrolls() const { return subScrollMax > 0; }
};

struct MenuLayoutPopup {
    MnemonicText label;
    MenuRect title;  // on the bar
    MenuRect box;    // the pull-down under it
    std::vector<MenuLayoutItem> items;
};

struct MenuLayout {
    float barHeight = 0;
    std::vector<MenuLayoutPopup> popups;
    const MenuResource* source = nullptr;  // where the items' check and grey states live
    bool Checked(UINT id) const;
    bool Greyed(UINT id) const;
};

inline constexpr int kMenuBarHeight = 20;
inline constexpr float kMenuTitlePadding = 8;
inline constexpr float kMenuItemHeight = 20;
inline constexpr float kMenuSeparatorHeight = 7;
inline constexpr float kMenuBoxPadding = 4;
inline constexpr float kMenuCheckGutter = 14;  // left of each item's text, for its check mark
inline constexpr float kMenuScrollArrowHeight = 16;
inline constexpr int kMenuItemsPerNotch = 3;

// The progress box (shell.h's ShowProgress), centred in the client area of a
// window of the given outer size, in window pixels: the text's line, the bar
// and the Cancel button beside it. Drawn and hit-tested from the same layout.
struct ProgressLayout {
    MenuRect box, text, bar, cancel;
};
ProgressLayout LayoutProgress(float windowWidth, float windowHeight, float barHeight);

// textWidth measures a display string in pixels (the ImGui font in the shell,
// a fixed advance in tests). A submenu is kept inside a window this many
// pixels high (0: no limit): moved up, or made to scroll.
MenuLayout LayoutMenu(const MenuResource& menu, const std::function<float(std::string_view)>& textWidth,
                      float windowHeight = 0);

struct MenuOutcome {
    bool redraw = false;
    std::optional<UINT> command;
};

// Win32-like pull-down behaviour over a layout: a press on a title opens its
// pull-down (a second press closes it), hovering another title while one is
// open switches, releasing over an item chooses it, a press elsewhere closes
// and is eaten, Alt+letter opens by mnemonic, a letter then chooses an item.
class MenuTracker {
  public:
    explicit MenuTracker(const MenuLayout* layout = nullptr) : layout_(layout) {}
    void SetLayout(const MenuLayout* layout) {
        layout_ = layout;
        Close();
    }
    MenuOutcome Handle(const MenuInput& input);
    bool Active() const { return open_ >= 0; }
    int OpenPopup() const { return open_; }
    int HotTitle() const { return hotTitle_; }
    int HotItem() const { return hotItem_; }
    // The item of the open pull-down whose submenu is shown, and the
    // highlighted item in it; -1 for none.
    int OpenSubmenu() const { return openSub_; }
    int HotSubItem() const { return hotSub_; }
    // How far the shown submenu is scrolled, in pixels (0 at its top).
    float SubScroll() const;
    // Closing forgets the highlighted title too: after a choice made with the
    // keyboard the title would otherwise stay lit until the mouse moved.
    void Close() {
        open_ = -1;
        hotItem_ = -1;
        hotTitle_ = -1;
        openSub_ = -1;
        hotSub_ = -1;
        subScroll_ = 0;
    }

  private:
    int TitleAt(float x, float y) const;
    int ItemAt(float x, float y) const;  // in the open pull-down; -1 on separators and outside
    void Open(int popup);
    int StepItem(int from, int step) const;
    static int StepIn(const std::vector<MenuLayoutItem>& items, int from, int step);
    int SubItemAt(float x, float y) const;  // in the shown submenu; -1 elsewhere
    const std::vector<MenuLayoutItem>* SubItems() const;
    const MenuLayoutItem* SubParent() const;
    void ScrollSub(float pixels);
    void ShowSubItem(int item);  // scrolls until the item is wholly in view

    const MenuLayout* layout_;
    int open_ = -1;
    int hotTitle_ = -1;
    int hotItem_ = -1;
    int openSub_ = -1;
    int hotSub_ = -1;
    float subScroll_ = 0;
};

// ---------------------------------------------------------------------------
// File dialogs

// Win32's filter string as (text, pattern) pairs; it ends at an empty text or
// a double NUL.
std::vector<std::pair<std::string, std::string>> ParseFilter(const char* filter);
// The zenity command line, one argv entry per argument (no shell ever sees it).
// A parent window (its X11 id, 0 for none) makes the dialog modal to it.
// confirmOverwrite: the dialog itself asks before a save names an existing file.
std::vector<std::string> BuildZenityArgs(bool save, const char* filter, const std::string& initialName,
                                         unsigned long parentWindow = 0, bool confirmOverwrite = false);
// Adds "." + extension to a name that does not end in it (in any case); false
// when the name stays as it was.
bool AddDefaultExtension(std::string* name, const char* extension);

enum class DialogFailure { None, Cancelled, TooLong, MustExist };
// What a dialog makes of an answer: a path, or nullopt for cancel.
DialogFailure AcceptDialogAnswer(const std::optional<std::string>& answer, OPENFILENAME* ofn, bool save);
// The dialog seams back to their start (part of testing::Reset).
void ResetDialogs();

// ---------------------------------------------------------------------------
// Message boxes

// How many characters a box's line may hold on a screen (or window) this many
// pixels wide: kMessageBoxColumns at most, fewer on a narrow one.
size_t MessageBoxColumns(int widthPixels);
// The text as a box shows it: each line of at most `columns` characters (UTF-8
// sequences count as one and are never split), broken at the last space that
// fits (the space becomes the line break), else after the last '/', else
// where the line is full. Nothing else changes.
std::string WrapMessageText(std::string_view text, size_t columns);

}  // namespace shell::detail

// A Win32-shaped window shell over SDL2: window class and window, message
// queue, window procedure, menu bar (drawn with Dear ImGui above the client
// area), message boxes, file dialogs (zenity), cursor clipping, counter.
//
// Sections: handles and values · structures · menus · windows and messages ·
// dialogs and boxes · cursor · time and debug output · test seams.
//
// Strings are UTF-8. Names are Win32's without the A/W suffix; constants keep
// Win32's values so that message packing reads the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gpu {
class OutputWindow;
}

namespace shell {

// ---------------------------------------------------------------------------
// Handles and values

struct WindowRecord;
using HWND = WindowRecord*;
using HINSTANCE = void*;
using HMENU = const struct MenuResource*;
using HICON = const void*;
using HCURSOR = const void*;
using HBRUSH = const void*;
using HDC = void*;
using ATOM = uint16_t;
using UINT = uint32_t;
using WPARAM = uint64_t;
using LPARAM = int64_t;
using LRESULT = int64_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
// Files dropped onto a window: WM_DROPFILES carries one in its wParam.
struct DropRecord;
using HDROP = DropRecord*;

inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_COMMAND = 0x0111;
// wParam: the virtual key. Sent while no pull-down is open (an open one takes
// the keys); Alt with a letter or digit goes to the menu bar instead.
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MOUSEWHEEL = 0x020A;
inline constexpr UINT WM_DROPFILES = 0x0233;

// Key-state word of mouse messages.
inline constexpr WPARAM MK_LBUTTON = 0x0001;
inline constexpr WPARAM MK_RBUTTON = 0x0002;
inline constexpr WPARAM MK_SHIFT = 0x0004;
inline constexpr WPARAM MK_CONTROL = 0x0008;

// Virtual keys: these, '0'..'9' and 'A'..'Z' (upper case).
inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_CONTROL = 0x11;
inline constexpr int VK_ESCAPE = 0x1B;
inline constexpr int VK_SPACE = 0x20;
inline constexpr int VK_PRIOR = 0x21;
inline constexpr int VK_NEXT = 0x22;
inline constexpr int VK_END = 0x23;
inline constexpr int VK_HOME = 0x24;
inline constexpr int VK_LEFT = 0x25;
inline constexpr int VK_UP = 0x26;
inline constexpr int VK_RIGHT = 0x27;
inline constexpr int VK_DOWN = 0x28;
inline constexpr int VK_DELETE = 0x2E;
inline constexpr int VK_F1 = 0x70;
inline constexpr int VK_F12 = 0x7B;
inline constexpr int VK_OEM_COMMA = 0xBC;
inline constexpr int VK_OEM_PERIOD = 0xBE;
// Negative (the high bit set) while the key is held, as the last key event
// told it; only VK_SHIFT and VK_CONTROL are known.
int16_t GetKeyState(int virtualKey);
inline constexpr WPARAM MK_MBUTTON = 0x0010;
inline constexpr int WHEEL_DELTA = 120;

inline constexpr UINT CS_VREDRAW = 0x0001;
inline constexpr UINT CS_HREDRAW = 0x0002;
inline constexpr UINT CS_DBLCLKS = 0x0008;
inline constexpr uint32_t WS_OVERLAPPEDWINDOW = 0x00CF0000;
inline constexpr int SW_SHOWDEFAULT = 10;
// x or y of CreateWindowEx: let the system place the window.
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
inline constexpr UINT PM_REMOVE = 0x0001;
inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_YESNO = 0x0004;
inline constexpr UINT MB_ICONWARNING = 0x0030;
inline constexpr UINT MB_ICONINFORMATION = 0x0040;  // a notice, not a failure
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;  // also: the box was ended by a request to quit
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr uint32_t OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr uint32_t OFN_FILEMUSTEXIST = 0x00001000;
inline constexpr uint32_t OFN_EXPLORER = 0x00080000;
inline constexpr int MAX_PATH = 260;

// Message packing, as Win32 does it.
inline constexpr uint16_t LOWORD(uint64_t v) {
    return static_cast<uint16_t>(v & 0xFFFF);
}
inline constexpr uint16_t HIWORD(uint64_t v) {
    return static_cast<uint16_t>((v >> 16) & 0xFFFF);
}
inline constexpr LPARAM MAKELPARAM(uint16_t low, uint16_t high) {
    return static_cast<LPARAM>(static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16));
}
inline constexpr WPARAM MAKEWPARAM(uint16_t low, uint16_t high) {
    return static_cast<WPARAM>(static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16));
}
inline constexpr int16_t GET_WHEEL_DELTA_WPARAM(WPARAM w) {
    return static_cast<int16_t>(HIWORD(w));
}

// ---------------------------------------------------------------------------
// Structures

struct POINT {
    int32_t x = 0;
    int32_t y = 0;
};

struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

struct PAINTSTRUCT {
    HDC hdc = nullptr;
    RECT rcPaint;
};

struct WNDCLASSEX {
    UINT cbSize = sizeof(WNDCLASSEX);
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int cbClsExtra = 0;
    int cbWndExtra = 0;
    HINSTANCE hInstance = nullptr;
    HICON hIcon = nullptr;
    HCURSOR hCursor = nullptr;
    HBRUSH hbrBackground = nullptr;
    int menuResourceId = 0;  // the class menu (0: none)
    const char* lpszClassName = nullptr;
    HICON hIconSm = nullptr;
};

// Filters are Win32's: display text and pattern pairs, each NUL-terminated,
// the list ending in an extra NUL ("All Files (*.*)\0*.*\0").
struct OPENFILENAME {
    HWND hwndOwner = nullptr;
    const char* lpstrFilter = nullptr;
    uint32_t nFilterIndex = 0;
    char* lpstrFile = nullptr;  // in: initial name; out: the chosen path
    uint32_t nMaxFile = 0;      // bytes, NUL included; a longer path fails the dialog
    uint32_t Flags = 0;
    // Added to a chosen name that does not already end in ".ext" (no dot here).
    const char* lpstrDefExt = nullptr;
};

// ---------------------------------------------------------------------------
// Menus: described as data, registered under a resource id (our .rc file).

struct MenuItem {
    MenuItem() = default;
    MenuItem(std::string itemText, UINT itemId) : text(std::move(itemText)), id(itemId) {}
    MenuItem(std::string itemText, std::vector<MenuItem> submenu)
        : text(std::move(itemText)), items(std::move(submenu)) {}
    std::string text;  // "&Open"; empty with id 0: a separator
    UINT id = 0;
    std::vector<MenuItem> items;  // not empty: a submenu opening beside the item
    bool IsSeparator() const { return text.empty() && id == 0 && items.empty(); }
};

struct MenuPopup {
    std::string text;  // "&File"
    std::vector<MenuItem> items;
};

struct MenuResource {
    std::vector<MenuPopup> popups;
    // Check marks and greyed items by command id (CheckMenuItem,
    // EnableMenuItem): the menu's state, not its description.
    mutable std::map<UINT, UINT> itemState;
};

inline constexpr UINT MF_UNCHECKED = 0x0000;
inline constexpr UINT MF_ENABLED = 0x0000;
inline constexpr UINT MF_GRAYED = 0x0001;
inline constexpr UINT MF_CHECKED = 0x0008;

// A one-line tip drawn over the window's picture beside the client point
// (x, y), kept inside the window, until replaced; null or empty removes it.
// GetToolTip gives the text shown (empty for none).
void SetToolTip(HWND window, const char* text, int x, int y);
std::string GetToolTip(HWND window);
// A one-line status at the client area's bottom right, over the picture,
// until replaced; null or empty removes it. GetStatusText gives it.
void SetStatusText(HWND window, const char* text);
std::string GetStatusText(HWND window);

// The menu a window was made with (null when it has none).
HMENU GetMenu(HWND window);
// Each returns the item's previous state (MF_CHECKED or MF_GRAYED bits), or
// -1 when no item of the menu has that id.
int CheckMenuItem(HMENU menu, UINT id, UINT check);
int EnableMenuItem(HMENU menu, UINT id, UINT enable);

void RegisterMenuResource(int resourceId, MenuResource menu);
// Null when no menu is registered under that id.
HMENU LoadMenu(HINSTANCE instance, int resourceId);

// ---------------------------------------------------------------------------
// Windows and messages

HICON LoadStockApplicationIcon();
HCURSOR LoadStockArrowCursor();
HBRUSH GetStockBlackBrush();

ATOM RegisterClassEx(const WNDCLASSEX* windowClass);
bool UnregisterClass(const char* className, HINSTANCE instance);
// width and height are the outer size, our menu bar included. WM_SIZE for the
// client area is sent to the window procedure before this returns.
HWND CreateWindowEx(uint32_t exStyle, const char* className, const char* title, uint32_t style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
bool ShowWindow(HWND window, int showCommand);
// The window's title bar text.
bool SetWindowText(HWND window, const char* text);
// Sends WM_DESTROY to the window procedure, then removes the window and its
// GL context. Safe on a window already destroyed (returns false).
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

// Never waits. Turns pending SDL events into messages first.
bool PeekMessage(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Sleeps until a message or a window-system event is waiting, or until
// `timeoutMs` has passed; true when something is waiting. Returns at once
// when messages are queued (or an idle hook stands in for the user).
bool WaitForInput(uint32_t timeoutMs);
// True while a quit (a signal, the session ending) or a window's close box
// waits to be handled; leaves it waiting. For long work that must give way.
bool CloseRequested();
// Long work on the UI thread (reading a scan) shows itself over every
// window's last picture: a box with `text`, a bar filled to `fraction`
// (0..1; negative when the work cannot tell, and the bar then sweeps) and a
// Cancel button. Drawn at once when the text changes, otherwise at most 20
// times a second; null or empty text takes it away.
void ShowProgress(const char* text, double fraction);
// While a progress is shown: true once the user has asked to cancel its
// work, by Esc or by a click on its Cancel button. Takes those inputs and
// leaves all other input waiting, as CloseRequested does.
bool CancelRequested();
bool TranslateMessage(const MSG* msg);
LRESULT DispatchMessage(const MSG* msg);
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
bool EndPaint(HWND window, const PAINTSTRUCT* paint);

// Extra Dear ImGui content (a small tool window) drawn over the client area
// each time the window is drawn, after the menu bar: `draw` runs between
// ImGui's NewFrame and Render with the window's ImGui context current, and is
// given the client area's top row in window pixels. While ImGui wants the
// mouse (the pointer over one of its windows, or a button held on one), mouse
// input goes to ImGui instead of the window procedure; a drag the program
// started keeps its input. An empty function removes the content. Nothing
// without a menu bar.
void SetWindowOverlay(HWND window, std::function<void(int clientTop)> draw);
// An RGBA8 picture (rows top first) for the overlay's own windows to show
// (ImGui::Image): made or replaced under `slot` in the window's GL context,
// kept until replaced, dropped (rgba null) or the window goes. Only from the
// overlay's draw function. Returns the picture's ImTextureID; null when it is
// dropped or cannot be made.
void* SetOverlayImage(HWND window, int slot, const uint8_t* rgba, uint32_t width, uint32_t height);

// The window as a presentation target for a windowed swap chain; null for a
// null or destroyed window.
std::shared_ptr<gpu::OutputWindow> GetOutputWindow(HWND window);

// ---------------------------------------------------------------------------
// Dropped files

// A window that accepts files gets WM_DROPFILES (wParam: the HDROP) once for
// each drop, however many files it holds; others never hear of drops.
void DragAcceptFiles(HWND window, bool accept);
// index 0xFFFFFFFF: the number of files. Otherwise the length of file
// `index`'s path without its NUL; with a buffer it is copied there, cut to
// size - 1 bytes and NUL-terminated. 0 for a bad handle or index.
UINT DragQueryFile(HDROP drop, UINT index, char* file, UINT size);
// Frees the handle; the program calls it once it has read the paths.
void DragFinish(HDROP drop);

// ---------------------------------------------------------------------------
// Dialogs and message boxes

// Modal, with one OK button, or Yes and No with MB_YESNO. Without a display
// the caption and text go to stderr. The text is wrapped to fit the screen
// (at most kMessageBoxColumns characters a line). A request to quit
// (SIGTERM, SIGINT) ends the box, and the program then ends as it would
// without one; the box answers IDCANCEL, and later boxes are not shown.
inline constexpr size_t kMessageBoxColumns = 80;
int MessageBox(HWND owner, const char* text, const char* caption, UINT type);
// Sends every message box to `handler` instead of the screen (a program with
// no desktop, the batch renderer, prints them); an empty handler restores the
// boxes. The box then counts as answered with OK.
using MessageBoxHandler = std::function<void(const char* text, const char* caption, UINT type)>;
void SetMessageBoxHandler(MessageBoxHandler handler);
// False on cancel, on failure, and when the path does not fit lpstrFile.
bool GetOpenFileName(OPENFILENAME* ofn);
bool GetSaveFileName(OPENFILENAME* ofn);
// A line of text asked for in a small dialog over `owner` (an address, a
// name); nullopt on cancel or when nothing was typed. The file dialogs'
// test script answers it too (its call is recorded with the title as the
// filter).
std::optional<std::string> AskForText(HWND owner, const std::string& title, const std::string& prompt);

// ---------------------------------------------------------------------------
// Cursor

bool ClientToScreen(HWND window, POINT* point);
bool SetRect(RECT* rect, int left, int top, int right, int bottom);
// Confines the cursor to the screen rectangle; null releases it.
bool ClipCursor(const RECT* rect);

// ---------------------------------------------------------------------------
// Time and debug output

bool QueryPerformanceCounter(int64_t* count);
bool QueryPerformanceFrequency(int64_t* frequency);
void OutputDebugString(const char* text);  // to stderr only with TAMLO_DEBUG set

// ---------------------------------------------------------------------------
// Test seams

namespace testing {

// Queued as if it came from the system; delivered by PeekMessage in order.
void InjectMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A drop handle holding these paths, as a drop onto a window would make.
HDROP MakeDrop(std::vector<std::string> paths);

// While a script is set, file dialogs take their answers from it, in order,
// instead of running zenity: a path means OK with that path, nullopt means
// cancel. An exhausted script answers cancel.
void SetFileDialogScript(std::vector<std::optional<std::string>> answers);
void ClearFileDialogScript();
struct FileDialogCall {
    bool save = false;
    std::string filter;       // the pairs joined as "text|pattern|..."
    std::string initialName;  // lpstrFile on entry
    uint32_t flags = 0;
};
std::vector<FileDialogCall> TakeFileDialogCalls();

// While recording, message boxes are stored instead of shown; each answers
// the next of the given answers, then IDOK (IDNO for a question).
void RecordMessageBoxes(bool on);
void SetMessageBoxAnswers(std::vector<int> answers);
struct RecordedMessageBox {
    std::string text;
    std::string caption;
    UINT type = 0;
    bool hadOwner = false;
};
std::vector<RecordedMessageBox> TakeMessageBoxes();

// The rectangle passed to the last ClipCursor, or nullopt when released.
std::optional<RECT> CurrentCursorClip();

// Debug output written so far, one entry per call, exactly as given (also
// sent to stderr).
std::vector<std::string> TakeDebugOutput();

// Called by PeekMessage each time it finds no message (after any pending
// WM_QUIT): tests drive a running loop from here, between its frames.
void SetIdleHook(std::function<void()> hook);
// A clock that moves by `ticks` (of QueryPerformanceFrequency) at each
// QueryPerformanceCounter read, so that whatever runs on time (the panel's
// slide) goes the same way every run; 0 returns to the real counter.
void StepCounterOnEachRead(int64_t ticks);

// Registered classes, windows, queue and seams back to their start, for tests
// that run several programs' worth of start-ups in one process.
void Reset();

}  // namespace testing

}  // namespace shell

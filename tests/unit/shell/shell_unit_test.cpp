// The shell's plain parts, without a window: message packing, SDL event
// translation, the queue and WM_QUIT, window classes, menus, file dialogs.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/shell/shell_internal.h"

namespace shell {
namespace {

using detail::EventContext;
using detail::MenuInput;
using detail::Translation;

int16_t X(LPARAM l) {
    return static_cast<int16_t>(LOWORD(static_cast<uint64_t>(l)));
}
int16_t Y(LPARAM l) {
    return static_cast<int16_t>(HIWORD(static_cast<uint64_t>(l)));
}

// ---------------------------------------------------------------------------
// Packing

TEST(MessagePacking, WordsAndSignedCoordinates) {
    EXPECT_EQ(LOWORD(MAKELPARAM(1280, 1004)), 1280);
    EXPECT_EQ(HIWORD(MAKELPARAM(1280, 1004)), 1004);
    EXPECT_EQ(HIWORD(0xFFFF0000u), 0xFFFF) << "HIWORD must not carry bits above 32";
    const LPARAM p = detail::PackPoint(-3, -15);
    EXPECT_EQ(X(p), -3) << "coordinates left of the client area stay negative";
    EXPECT_EQ(Y(p), -15) << "coordinates over the bar stay negative";
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(MAKEWPARAM(0, static_cast<uint16_t>(-240))), -240);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(MAKEWPARAM(MK_SHIFT, 120)), 120);
}

// ---------------------------------------------------------------------------
// SDL event translation

EventContext Context() {
    EventContext c;
    c.barHeight = 20;
    c.windowWidth = 640;
    c.windowHeight = 500;
    c.windowX = 100;
    c.windowY = 50;
    return c;
}

SDL_Event Motion(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    return e;
}

SDL_Event Button(bool down, uint8_t button, int x, int y, uint8_t clicks = 1) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = button;
    e.button.x = x;
    e.button.y = y;
    e.button.clicks = clicks;
    return e;
}

SDL_Event Wheel(int notches, int x, int y, uint32_t direction = SDL_MOUSEWHEEL_NORMAL) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = notches;
    e.wheel.mouseX = x;
    e.wheel.mouseY = y;
    e.wheel.direction = direction;
    return e;
}

SDL_Event WindowEvent(uint8_t what, int a = 0, int b = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = what;
    e.window.data1 = a;
    e.window.data2 = b;
    return e;
}

SDL_Event Key(SDL_Keycode sym, uint16_t mod) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    return e;
}

TEST(EventTranslation, PointerGoesToTheMenuOverTheBarAndToTheClientBelowIt) {
    EventContext c = Context();
    Translation t = detail::TranslateSdlEvent(Motion(30, 19), c);
    EXPECT_EQ(t.route, Translation::Route::Menu) << "the last row of the bar is still the bar";
    EXPECT_EQ(t.menu.kind, MenuInput::Kind::Move);

    t = detail::TranslateSdlEvent(Motion(30, 20), c);
    ASSERT_EQ(t.route, Translation::Route::Window);
    EXPECT_EQ(t.message, WM_MOUSEMOVE);
    EXPECT_EQ(X(t.lParam), 30);
    EXPECT_EQ(Y(t.lParam), 0) << "client y counts from below the bar";
    EXPECT_FALSE(t.send) << "input is queued, not sent";

    t = detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 10, 5), c);
    EXPECT_EQ(t.route, Translation::Route::Menu);
    EXPECT_EQ(t.menu.kind, MenuInput::Kind::Press);

    c.menuActive = true;
    t = detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 200, 300), c);
    EXPECT_EQ(t.route, Translation::Route::Menu) << "an open pull-down takes clicks in the client area";

    c.menuActive = false;
    c.clientCapture = true;
    c.buttonsBefore = SDL_BUTTON_LMASK;
    t = detail::TranslateSdlEvent(Button(false, SDL_BUTTON_LEFT, 10, 5), c);
    ASSERT_EQ(t.route, Translation::Route::Window) << "a drag from the client ends in the client";
    EXPECT_EQ(t.message, WM_LBUTTONUP);
    EXPECT_EQ(Y(t.lParam), -15);
}

TEST(EventTranslation, ButtonsCarryTheKeyStateAfterTheEvent) {
    EventContext c = Context();
    c.modState = KMOD_LSHIFT;
    Translation t = detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 5, 120), c);
    EXPECT_EQ(t.message, WM_LBUTTONDOWN);
    EXPECT_EQ(t.wParam, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(Y(t.lParam), 100);

    c.modState = KMOD_RCTRL;
    c.buttonsBefore = SDL_BUTTON_LMASK;
    t = detail::TranslateSdlEvent(Button(true, SDL_BUTTON_RIGHT, 5, 120), c);
    EXPECT_EQ(t.message, WM_RBUTTONDOWN);
    EXPECT_EQ(t.wParam, MK_LBUTTON | MK_RBUTTON | MK_CONTROL);
    t = detail::TranslateSdlEvent(Button(true, SDL_BUTTON_MIDDLE, 5, 120), c);
    EXPECT_EQ(t.message, WM_MBUTTONDOWN) << "the middle button pans";
    EXPECT_EQ(t.wParam, MK_LBUTTON | MK_MBUTTON | MK_CONTROL);

    c.modState = 0;
    c.buttonsBefore = SDL_BUTTON_LMASK | SDL_BUTTON_RMASK | SDL_BUTTON_MMASK;
    t = detail::TranslateSdlEvent(Button(false, SDL_BUTTON_LEFT, 5, 120), c);
    EXPECT_EQ(t.message, WM_LBUTTONUP);
    EXPECT_EQ(t.wParam, MK_RBUTTON | MK_MBUTTON) << "the released button is no longer held";

    t = detail::TranslateSdlEvent(Motion(7, 40), c);
    EXPECT_EQ(t.wParam, MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
    EXPECT_EQ(detail::ButtonsAfter(Button(false, SDL_BUTTON_RIGHT, 0, 0), c.buttonsBefore),
              static_cast<uint32_t>(SDL_BUTTON_LMASK | SDL_BUTTON_MMASK));
}

TEST(EventTranslation, DoubleClicksOnlyForClassesThatAskForThem) {
    EventContext c = Context();
    EXPECT_EQ(detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 5, 50, 2), c).message, WM_LBUTTONDOWN)
        << "without CS_DBLCLKS a second click is a plain press";
    c.doubleClicks = true;
    EXPECT_EQ(detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 5, 50, 1), c).message, WM_LBUTTONDOWN);
    EXPECT_EQ(detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 5, 50, 2), c).message,
              WM_LBUTTONDBLCLK);
    EXPECT_EQ(detail::TranslateSdlEvent(Button(true, SDL_BUTTON_LEFT, 5, 50, 3), c).message, WM_LBUTTONDOWN)
        << "a third click starts a new pair, as on Win32";
    EXPECT_EQ(detail::TranslateSdlEvent(Button(true, SDL_BUTTON_RIGHT, 5, 50, 2), c).message,
              WM_RBUTTONDBLCLK);
    EXPECT_EQ(detail::TranslateSdlEvent(Button(false, SDL_BUTTON_LEFT, 5, 50, 2), c).message, WM_LBUTTONUP);
}

TEST(EventTranslation, WheelNotchesAndScreenPosition) {
    EventContext c = Context();
    c.modState = KMOD_LCTRL;
    Translation t = detail::TranslateSdlEvent(Wheel(1, 30, 60), c);
    ASSERT_EQ(t.message, WM_MOUSEWHEEL);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(t.wParam), 120) << "away from the user is positive";
    EXPECT_EQ(LOWORD(t.wParam), MK_CONTROL);
    EXPECT_EQ(X(t.lParam), 130) << "the wheel reports screen coordinates";
    EXPECT_EQ(Y(t.lParam), 110);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(detail::TranslateSdlEvent(Wheel(-2, 30, 60), c).wParam), -240);
    EXPECT_EQ(
        GET_WHEEL_DELTA_WPARAM(detail::TranslateSdlEvent(Wheel(1, 30, 60, SDL_MOUSEWHEEL_FLIPPED), c).wParam),
        -120)
        << "natural scrolling is undone";
    EXPECT_EQ(detail::TranslateSdlEvent(Wheel(1, 30, 10), c).route, Translation::Route::None)
        << "the wheel over the bar does nothing";
}

TEST(EventTranslation, SizesAreTheClientAreaAndAreSent) {
    EventContext c = Context();
    Translation t = detail::TranslateSdlEvent(WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 1280, 1024), c);
    ASSERT_EQ(t.message, WM_SIZE);
    EXPECT_TRUE(t.send);
    EXPECT_EQ(LOWORD(t.lParam), 1280);
    EXPECT_EQ(HIWORD(t.lParam), 1004);
    t = detail::TranslateSdlEvent(WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 300, 12), c);
    EXPECT_EQ(HIWORD(t.lParam), 0) << "a window lower than its bar has no client area";
    t = detail::TranslateSdlEvent(WindowEvent(SDL_WINDOWEVENT_MINIMIZED), c);
    EXPECT_EQ(t.message, WM_SIZE);
    EXPECT_EQ(t.lParam, 0) << "minimised is 0 x 0";
    t = detail::TranslateSdlEvent(WindowEvent(SDL_WINDOWEVENT_RESTORED), c);
    EXPECT_EQ(LOWORD(t.lParam), 640);
    EXPECT_EQ(HIWORD(t.lParam), 480);
    t = detail::TranslateSdlEvent(WindowEvent(SDL_WINDOWEVENT_CLOSE), c);
    EXPECT_EQ(t.message, WM_CLOSE);
    EXPECT_TRUE(t.send);
}

TEST(EventTranslation, KeysReachTheMenuOnlyWhenItCanUseThem) {
    EventContext c = Context();
    Translation t = detail::TranslateSdlEvent(Key(SDLK_f, KMOD_LALT), c);
    EXPECT_EQ(t.menu.kind, MenuInput::Kind::AltLetter);
    EXPECT_EQ(t.menu.letter, 'f');
    t = detail::TranslateSdlEvent(Key(SDLK_z, KMOD_LCTRL), c);
    EXPECT_EQ(t.message, WM_KEYDOWN) << "with no pull-down open, keys go to the window";
    EXPECT_EQ(t.wParam, WPARAM{'Z'}) << "letters as upper-case virtual keys, whatever the modifiers";
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_HOME, 0), c).wParam, WPARAM(VK_HOME));
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_F12, 0), c).wParam, WPARAM(VK_F12));
    // The time series' keys: Space, and ',' and '.' beside the arrows.
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_SPACE, 0), c).wParam, WPARAM(VK_SPACE));
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_COMMA, 0), c).wParam, WPARAM(VK_OEM_COMMA));
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_PERIOD, 0), c).wParam, WPARAM(VK_OEM_PERIOD));
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_CAPSLOCK, 0), c).route, Translation::Route::None);
    c.menuActive = true;
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_x, 0), c).menu.kind, MenuInput::Kind::Letter);
    EXPECT_EQ(detail::TranslateSdlEvent(Key(SDLK_ESCAPE, 0), c).menu.kind, MenuInput::Kind::Escape);
}

// ---------------------------------------------------------------------------
// Queue, WM_QUIT, classes

class ShellQueue : public ::testing::Test {
  protected:
    void SetUp() override { testing::Reset(); }
    void TearDown() override { testing::Reset(); }
};

TEST_F(ShellQueue, MessagesComeOutInOrderAndQuitComesLast) {
    PostMessage(nullptr, WM_COMMAND, 1, 0);
    PostQuitMessage(7);
    testing::InjectMessage(nullptr, WM_MOUSEMOVE, 0, 2);
    PostMessage(nullptr, WM_COMMAND, 3, 0);
    MSG m;
    ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, 0));
    EXPECT_EQ(m.wParam, 1u) << "without PM_REMOVE the message stays";
    const WPARAM expected[] = {1, 0, 3};
    for (WPARAM w : expected) {
        ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
        EXPECT_NE(m.message, WM_QUIT) << "WM_QUIT must wait for the messages posted after it";
        EXPECT_EQ(m.wParam, w);
    }
    ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, 0));
    EXPECT_EQ(m.message, WM_QUIT) << "a pending quit is always found";
    ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 7u) << "the exit code";
    EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) << "removing WM_QUIT clears the flag";
}

TEST_F(ShellQueue, FiltersAndStaleWindows) {
    PostMessage(nullptr, WM_MOUSEMOVE, 0, 0);
    PostMessage(nullptr, WM_COMMAND, 5, 0);
    MSG m;
    ASSERT_TRUE(PeekMessage(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(m.wParam, 5u) << "a range skips earlier messages outside it";
    ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_MOUSEMOVE);

    WindowRecord* never = reinterpret_cast<WindowRecord*>(&m);
    EXPECT_FALSE(PostMessage(never, WM_COMMAND, 0, 0)) << "posting to something that is no window fails";
    EXPECT_FALSE(IsWindow(never));
    EXPECT_FALSE(DestroyWindow(never));
    m = {never, WM_COMMAND, 0, 0};
    EXPECT_EQ(DispatchMessage(&m), 0);
    EXPECT_FALSE(TranslateMessage(&m));
}

LRESULT NoOpProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

TEST_F(ShellQueue, ClassRegistration) {
    WNDCLASSEX wc;
    wc.lpfnWndProc = NoOpProc;
    wc.lpszClassName = "TamloTest";
    const ATOM atom = RegisterClassEx(&wc);
    EXPECT_NE(atom, 0);
    EXPECT_EQ(RegisterClassEx(&wc), 0) << "duplicate name";
    WNDCLASSEX noProc = wc;
    noProc.lpfnWndProc = nullptr;
    noProc.lpszClassName = "Other";
    EXPECT_EQ(RegisterClassEx(&noProc), 0) << "no window procedure";
    WNDCLASSEX noName = wc;
    noName.lpszClassName = "";
    EXPECT_EQ(RegisterClassEx(&noName), 0) << "empty name";
    WNDCLASSEX noSize = wc;
    noSize.cbSize = 0;
    noSize.lpszClassName = "Third";
    EXPECT_EQ(RegisterClassEx(&noSize), 0) << "cbSize not filled in";
    EXPECT_FALSE(testing::TakeDebugOutput().empty()) << "each refusal says why";

    EXPECT_TRUE(UnregisterClass("TamloTest", nullptr));
    EXPECT_FALSE(UnregisterClass("TamloTest", nullptr)) << "already gone";
    EXPECT_NE(RegisterClassEx(&wc), 0) << "the name is free again";
    EXPECT_EQ(CreateWindowEx(0, "NoSuchClass", "x", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
              nullptr);
}

TEST_F(ShellQueue, SeamsRecordBoxesClipsAndDebugOutput) {
    testing::RecordMessageBoxes(true);
    EXPECT_EQ(MessageBox(nullptr, "Cannot open file", "Tamlo", MB_OK), IDOK);
    const auto boxes = testing::TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file");
    EXPECT_EQ(boxes[0].caption, "Tamlo");
    EXPECT_FALSE(boxes[0].hadOwner);

    RECT r;
    ASSERT_TRUE(SetRect(&r, 10, 20, 30, 40));
    ASSERT_TRUE(ClipCursor(&r));
    ASSERT_TRUE(testing::CurrentCursorClip().has_value());
    EXPECT_EQ(testing::CurrentCursorClip()->bottom, 40);
    ClipCursor(nullptr);
    EXPECT_FALSE(testing::CurrentCursorClip().has_value());

    OutputDebugString("frame 1\n");
    EXPECT_EQ(testing::TakeDebugOutput(), std::vector<std::string>{"frame 1\n"})
        << "written exactly as given";
    int64_t a = 0, b = 0, f = 0;
    ASSERT_TRUE(QueryPerformanceCounter(&a) && QueryPerformanceCounter(&b) && QueryPerformanceFrequency(&f));
    EXPECT_GE(b, a);
    EXPECT_GT(f, 0);
}

// Each concern of the shell keeps its own state; a reset must reach every one,
// or one test's leftovers decide the next.
TEST_F(ShellQueue, ResetReturnsEveryConcernToItsStart) {
    PostMessage(nullptr, WM_COMMAND, 1, 0);
    PostQuitMessage(3);
    int idleCalls = 0;
    testing::SetIdleHook([&] { ++idleCalls; });
    RegisterMenuResource(77, MenuResource{});
    constexpr int64_t kStep = 1000000007;
    testing::StepCounterOnEachRead(kStep);
    OutputDebugString("left over\n");
    const HDROP drop = testing::MakeDrop({"/tmp/a.vol"});
    testing::RecordMessageBoxes(true);
    MessageBox(nullptr, "left over", "box", MB_OK);
    RECT r;
    SetRect(&r, 0, 0, 10, 10);
    ClipCursor(&r);
    testing::SetFileDialogScript({std::nullopt});
    char path[16] = "";
    OPENFILENAME ofn{};
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    GetOpenFileName(&ofn);

    testing::Reset();

    MSG m;
    EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) << "queue and quit emptied";
    EXPECT_EQ(idleCalls, 0) << "the idle hook is gone";
    EXPECT_EQ(LoadMenu(nullptr, 77), nullptr) << "menus forgotten";
    int64_t a = 0, b = 0;
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_LT(b - a, kStep) << "the real counter again";
    EXPECT_TRUE(testing::TakeDebugOutput().empty()) << "debug output dropped";
    EXPECT_EQ(DragQueryFile(drop, 0xFFFFFFFFu, nullptr, 0), 0u) << "drops freed";
    EXPECT_FALSE(testing::CurrentCursorClip().has_value()) << "no clip";
    EXPECT_TRUE(testing::TakeFileDialogCalls().empty()) << "dialog calls dropped";
    testing::RecordMessageBoxes(true);
    MessageBox(nullptr, "new", "box", MB_OK);
    const auto boxes = testing::TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << "old boxes dropped";
    EXPECT_EQ(boxes[0].text, "new");
}

// ---------------------------------------------------------------------------
// Menus

TEST(Menu, MnemonicParsing) {
    auto m = detail::ParseMnemonic("&File");
    EXPECT_EQ(m.display, "File");
    EXPECT_EQ(m.mnemonic, 'f');
    EXPECT_EQ(m.mnemonicIndex, 0);
    m = detail::ParseMnemonic("E&Xit");
    EXPECT_EQ(m.display, "EXit");
    EXPECT_EQ(m.mnemonic, 'x') << "mnemonics compare in lower case";
    EXPECT_EQ(m.mnemonicIndex, 1);
    m = detail::ParseMnemonic("Load && &Save");
    EXPECT_EQ(m.display, "Load & Save") << "&& is a literal ampersand";
    EXPECT_EQ(m.mnemonic, 's');
    EXPECT_EQ(m.mnemonicIndex, 7);
    m = detail::ParseMnemonic("Plain&");
    EXPECT_EQ(m.display, "Plain&");
    EXPECT_EQ(m.mnemonic, 0);
}

class MenuTracking : public ::testing::Test {
  protected:
    void SetUp() override {
        resource.popups.push_back({"&File", {{"&Open...", 101}, {"", 0}, {"E&xit", 102}}});
        resource.popups.push_back({"&View", {{"&Reset", 201}}});
        layout = detail::LayoutMenu(resource,
                                    [](std::string_view t) { return 7.0f * static_cast<float>(t.size()); });
        tracker.SetLayout(&layout);
    }
    detail::MenuOutcome Do(MenuInput::Kind kind, float x, float y, char letter = 0) {
        return tracker.Handle({kind, static_cast<int>(x), static_cast<int>(y), letter});
    }
    float Mid(const detail::MenuRect& r, bool vertical) const {
        return vertical ? (r.y0 + r.y1) / 2 : (r.x0 + r.x1) / 2;
    }

    MenuResource resource;  // the layout reads its items' states from it
    detail::MenuLayout layout;
    detail::MenuTracker tracker;
};

TEST_F(MenuTracking, LayoutFollowsTheTextInOrder) {
    ASSERT_EQ(layout.popups.size(), 2u);
    EXPECT_EQ(layout.popups[0].title.x0, 0);
    EXPECT_EQ(layout.popups[1].title.x0, layout.popups[0].title.x1) << "titles side by side, in order";
    EXPECT_GT(layout.popups[0].title.x1, 7 * 4) << "room for the text";
    EXPECT_EQ(layout.popups[0].box.y0, layout.barHeight) << "the pull-down hangs under the bar";
    EXPECT_TRUE(layout.popups[0].items[1].separator);
    EXPECT_LT(layout.popups[0].items[1].rect.y1 - layout.popups[0].items[1].rect.y0,
              layout.popups[0].items[0].rect.y1 - layout.popups[0].items[0].rect.y0);
}

TEST_F(MenuTracking, ClickTitleThenItemChoosesOnRelease) {
    const auto& file = layout.popups[0];
    EXPECT_TRUE(Do(MenuInput::Kind::Press, Mid(file.title, false), 5).redraw);
    EXPECT_EQ(tracker.OpenPopup(), 0);
    EXPECT_FALSE(Do(MenuInput::Kind::Release, Mid(file.title, false), 5).command) << "releasing on the title";
    const auto& exitItem = file.items[2];
    Do(MenuInput::Kind::Move, 10, Mid(exitItem.rect, true));
    EXPECT_EQ(tracker.HotItem(), 2);
    EXPECT_FALSE(Do(MenuInput::Kind::Press, 10, Mid(exitItem.rect, true)).command)
        << "items choose on release";
    const auto out = Do(MenuInput::Kind::Release, 10, Mid(exitItem.rect, true));
    ASSERT_TRUE(out.command.has_value());
    EXPECT_EQ(*out.command, 102u);
    EXPECT_FALSE(tracker.Active()) << "choosing closes the pull-down";
}

TEST_F(MenuTracking, SeparatorsOutsideClicksAndSecondPressDoNotChoose) {
    const auto& file = layout.popups[0];
    Do(MenuInput::Kind::Press, Mid(file.title, false), 5);
    Do(MenuInput::Kind::Press, 10, Mid(file.items[1].rect, true));
    EXPECT_FALSE(Do(MenuInput::Kind::Release, 10, Mid(file.items[1].rect, true)).command) << "a separator";
    EXPECT_TRUE(tracker.Active());
    Do(MenuInput::Kind::Press, Mid(file.title, false), 5);
    EXPECT_FALSE(tracker.Active()) << "a second press on the title closes it";
    Do(MenuInput::Kind::Press, Mid(file.title, false), 5);
    EXPECT_FALSE(Do(MenuInput::Kind::Press, 600, 400).command);
    EXPECT_FALSE(tracker.Active()) << "a press elsewhere closes";
}

TEST_F(MenuTracking, HoverSwitchesOpenPullDowns) {
    Do(MenuInput::Kind::Move, Mid(layout.popups[1].title, false), 5);
    EXPECT_FALSE(tracker.Active()) << "hovering alone opens nothing";
    Do(MenuInput::Kind::Press, Mid(layout.popups[0].title, false), 5);
    Do(MenuInput::Kind::Move, Mid(layout.popups[1].title, false), 5);
    EXPECT_EQ(tracker.OpenPopup(), 1) << "while one is open, hovering another opens that";
}

TEST_F(MenuTracking, Keyboard) {
    EXPECT_FALSE(Do(MenuInput::Kind::AltLetter, 0, 0, 'q').redraw) << "no pull-down with that mnemonic";
    Do(MenuInput::Kind::AltLetter, 0, 0, 'v');
    EXPECT_EQ(tracker.OpenPopup(), 1);
    Do(MenuInput::Kind::Escape, 0, 0);
    EXPECT_FALSE(tracker.Active());
    Do(MenuInput::Kind::AltLetter, 0, 0, 'f');
    EXPECT_FALSE(Do(MenuInput::Kind::Letter, 0, 0, 'r').command) << "'r' belongs to another pull-down";
    auto out = Do(MenuInput::Kind::Letter, 0, 0, 'x');
    ASSERT_TRUE(out.command.has_value());
    EXPECT_EQ(*out.command, 102u);

    Do(MenuInput::Kind::AltLetter, 0, 0, 'f');
    Do(MenuInput::Kind::Down, 0, 0);
    Do(MenuInput::Kind::Down, 0, 0);
    EXPECT_EQ(tracker.HotItem(), 2) << "arrows skip the separator";
    out = Do(MenuInput::Kind::Enter, 0, 0);
    ASSERT_TRUE(out.command.has_value());
    EXPECT_EQ(*out.command, 102u);
}

class SubmenuTracking : public MenuTracking {
  protected:
    void SetUp() override {
        resource.popups.clear();
        resource.popups.push_back(
            {"&Edit", {{"&Undo", 301}, {"&Presets", std::vector<MenuItem>{{"&Bone", 311}, {"&Skin", 312}}}}});
        layout = detail::LayoutMenu(resource,
                                    [](std::string_view t) { return 7.0f * static_cast<float>(t.size()); });
        tracker.SetLayout(&layout);
        Do(MenuInput::Kind::Press, Mid(layout.popups[0].title, false), 5);
    }
};

TEST_F(SubmenuTracking, HoverOpensBesideItAndReleaseChoosesInIt) {
    const auto& presets = layout.popups[0].items[1];
    ASSERT_TRUE(presets.HasSubmenu());
    EXPECT_EQ(presets.subBox.x0, layout.popups[0].box.x1) << "the submenu opens to the right";
    Do(MenuInput::Kind::Move, 10, Mid(presets.rect, true));
    EXPECT_EQ(tracker.OpenSubmenu(), 1);
    EXPECT_FALSE(Do(MenuInput::Kind::Release, 10, Mid(presets.rect, true)).command)
        << "the submenu's own item chooses nothing";
    const auto& skin = presets.subItems[1];
    Do(MenuInput::Kind::Move, Mid(skin.rect, false), Mid(skin.rect, true));
    EXPECT_EQ(tracker.HotSubItem(), 1);
    const auto out = Do(MenuInput::Kind::Release, Mid(skin.rect, false), Mid(skin.rect, true));
    ASSERT_TRUE(out.command.has_value());
    EXPECT_EQ(*out.command, 312u);
    EXPECT_FALSE(tracker.Active());

    Do(MenuInput::Kind::Press, Mid(layout.popups[0].title, false), 5);
    Do(MenuInput::Kind::Letter, 0, 0, 'p');
    EXPECT_EQ(tracker.HotSubItem(), 0) << "the keyboard enters the submenu at its first item";
    Do(MenuInput::Kind::Down, 0, 0);
    ASSERT_TRUE(Do(MenuInput::Kind::Enter, 0, 0).command.has_value());
}

TEST_F(SubmenuTracking, GreyedItemsAreNotChosenAndStatesAreKeptById) {
    HMENU menu = &resource;
    EXPECT_EQ(EnableMenuItem(menu, 301, MF_GRAYED), 0);
    EXPECT_EQ(EnableMenuItem(menu, 999, MF_GRAYED), -1) << "no such item";
    EXPECT_EQ(CheckMenuItem(menu, 311, MF_CHECKED), 0);
    EXPECT_EQ(CheckMenuItem(menu, 311, MF_UNCHECKED), static_cast<int>(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(menu, 312, MF_CHECKED), 0);
    EXPECT_TRUE(layout.Greyed(301));
    EXPECT_TRUE(layout.Checked(312));
    EXPECT_FALSE(layout.Checked(311));
    const auto& undo = layout.popups[0].items[0];
    EXPECT_FALSE(Do(MenuInput::Kind::Release, 10, Mid(undo.rect, true)).command) << "a greyed item";
    EXPECT_TRUE(tracker.Active()) << "the pull-down stays open";
    EXPECT_EQ(EnableMenuItem(menu, 301, MF_ENABLED), static_cast<int>(MF_GRAYED));
    EXPECT_TRUE(Do(MenuInput::Kind::Release, 10, Mid(undo.rect, true)).command.has_value());
}

// A submenu longer than the window scrolls, and every item can be reached by
// the wheel, the arrows and the keyboard; a shorter one moves up to fit.
class LongSubmenu : public MenuTracking {
  protected:
    void Build(int count, float windowHeight) {
        std::vector<MenuItem> names;
        for (int i = 0; i < count; ++i)
            names.push_back({"preset " + std::to_string(i), static_cast<UINT>(1000 + i)});
        resource.popups.clear();
        resource.popups.push_back({"&Transfer", {{"&Open", 900}, {"", 0}, {"&Presets", names}}});
        layout = detail::LayoutMenu(
            resource, [](std::string_view t) { return 7.0f * static_cast<float>(t.size()); }, windowHeight);
        tracker.SetLayout(&layout);
        Do(MenuInput::Kind::Press, Mid(layout.popups[0].title, false), 5);
        Do(MenuInput::Kind::Move, 10, Mid(Presets().rect, true));
    }
    const detail::MenuLayoutItem& Presets() const { return layout.popups[0].items[2]; }
    // The item drawn at the view's middle, scrolled as it is now.
    UINT DrawnAtMiddle() const {
        const float y = Mid(Presets().subView, true) + tracker.SubScroll();
        for (const auto& item : Presets().subItems)
            if (item.rect.y0 <= y && y < item.rect.y1)
                return item.id;
        return 0;
    }
    // The item under the pointer at the view's middle, chosen by releasing there.
    std::optional<UINT> ChooseAtMiddle() {
        const detail::MenuRect& view = Presets().subView;
        const float x = Mid(view, false), y = Mid(view, true);
        Do(MenuInput::Kind::Move, x, y);
        return Do(MenuInput::Kind::Release, x, y).command;
    }
};

TEST_F(LongSubmenu, FitsTheWindowAndEveryItemCanBeReached) {
    constexpr float kWindow = 400;
    Build(300, kWindow);
    const auto& presets = Presets();
    ASSERT_TRUE(presets.Scrolls());
    EXPECT_GE(presets.subBox.y0, layout.barHeight) << "the box stays under the bar";
    EXPECT_LE(presets.subBox.y1, kWindow) << "and inside the window";
    EXPECT_EQ(tracker.SubScroll(), 0.0f) << "it opens at its top";
    const detail::MenuRect& view = presets.subView;
    EXPECT_FALSE(Do(MenuInput::Kind::Press, Mid(view, false), view.y1 + 2).command)
        << "the down arrow turns a page and chooses nothing";
    EXPECT_GT(tracker.SubScroll(), 0.0f);

    std::set<UINT> reached;
    for (int notch = 0; notch < 200; ++notch) {
        tracker.Handle({MenuInput::Kind::Wheel, static_cast<int>(Mid(view, false)),
                        static_cast<int>(Mid(view, true)), 0, notch < 100 ? 1 : -1});  // up, then down
        for (const auto& item : presets.subItems)
            if (item.rect.y0 - tracker.SubScroll() >= view.y0 &&
                item.rect.y1 - tracker.SubScroll() <= view.y1)
                reached.insert(item.id);
    }
    EXPECT_EQ(reached.size(), 300u) << "the wheel shows every item";
    const UINT drawn = DrawnAtMiddle();
    EXPECT_GT(drawn, 1250u) << "scrolled to the end";
    EXPECT_EQ(ChooseAtMiddle(), drawn) << "a release picks the item drawn there";

    Build(300, kWindow);
    Do(MenuInput::Kind::Letter, 0, 0, 'p');
    Do(MenuInput::Kind::Up, 0, 0);
    EXPECT_EQ(tracker.HotSubItem(), 299) << "up from the first wraps to the last";
    // The layout was made anew: its boxes are taken again.
    const auto& rebuilt = Presets();
    const auto& last = rebuilt.subItems.back().rect;
    EXPECT_LE(last.y1 - tracker.SubScroll(), rebuilt.subView.y1)
        << "and the keyboard's item is scrolled into view";
    EXPECT_EQ(*Do(MenuInput::Kind::Enter, 0, 0).command, 1299u);
}

TEST_F(LongSubmenu, ShortOnesMoveUpAndNamesStayOnOneLine) {
    Build(8, 200);
    EXPECT_FALSE(Presets().Scrolls());
    EXPECT_LE(Presets().subBox.y1, 200.0f) << "moved up to fit";
    EXPECT_GE(Presets().subBox.y0, layout.barHeight);
    EXPECT_EQ(ChooseAtMiddle(), DrawnAtMiddle());
    Build(3, 1000);
    EXPECT_EQ(Presets().subBox.y0, Presets().rect.y0 - detail::kMenuBoxPadding)
        << "level with its parent when it fits";
    EXPECT_EQ(detail::ParseMnemonic("two\nlines\t&x\x7f").display, "two?lines?x?")
        << "control characters never break an item's line";
}

// ---------------------------------------------------------------------------
// File dialogs

const char kFilter[] = "Volume (*.dat)\0*.dat\0Images\0*.png;*.jpg\0\0";

TEST(FileDialog, ZenityArgumentsOnePerArgv) {
    const std::string name = "my volume; rm -rf ~ $(id) `x` 'q\".dat";
    const auto args = detail::BuildZenityArgs(true, kFilter, name);
    const std::vector<std::string> expected = {"zenity",
                                               "--file-selection",
                                               "--save",
                                               "--filename=" + name,
                                               "--file-filter=Volume (*.dat) | *.dat",
                                               "--file-filter=Images | *.png *.jpg"};
    EXPECT_EQ(args, expected) << "spaces and shell characters stay inside one argument";
    const auto open = detail::BuildZenityArgs(false, nullptr, "");
    EXPECT_EQ(open, (std::vector<std::string>{"zenity", "--file-selection"}))
        << "no save, no name, no filter";
    const auto owned = detail::BuildZenityArgs(false, nullptr, "", 0x1c00007);
    EXPECT_EQ(owned, (std::vector<std::string>{"zenity", "--file-selection", "--modal", "--attach=29360135"}))
        << "modal to the window that asked";
}

class FileDialogScript : public ShellQueue {};

TEST_F(FileDialogScript, AnswersAreCheckedAgainstTheBufferAndTheFlags) {
    const std::string existing = std::string(::testing::TempDir()) + "tamlo_shell_exists.tf";
    std::FILE* f = std::fopen(existing.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    testing::SetFileDialogScript({std::string(40, 'a'), std::string("/no/such/file.tf"), existing,
                                  std::nullopt, std::string("/no/such/new.tf")});
    char buffer[32] = "start.tf";
    OPENFILENAME ofn;
    ofn.lpstrFilter = kFilter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = sizeof buffer;
    ofn.Flags = OFN_FILEMUSTEXIST;
    EXPECT_FALSE(GetOpenFileName(&ofn)) << "a path longer than the buffer fails";
    EXPECT_STREQ(buffer, "start.tf") << "and leaves the buffer alone";
    EXPECT_FALSE(GetOpenFileName(&ofn)) << "OFN_FILEMUSTEXIST refuses a missing file";
    char big[MAX_PATH] = "";
    ofn.lpstrFile = big;
    ofn.nMaxFile = MAX_PATH;
    ASSERT_TRUE(GetOpenFileName(&ofn));
    EXPECT_EQ(std::string(big), existing);
    EXPECT_FALSE(GetOpenFileName(&ofn)) << "cancel";
    EXPECT_TRUE(GetSaveFileName(&ofn)) << "a save dialog may name a new file";
    EXPECT_FALSE(GetSaveFileName(&ofn)) << "an exhausted script cancels";

    const auto calls = testing::TakeFileDialogCalls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].initialName, "start.tf");
    EXPECT_EQ(calls[0].filter, "Volume (*.dat)|*.dat|Images|*.png;*.jpg");
    EXPECT_FALSE(calls[0].save);
    EXPECT_TRUE(calls[4].save);
    EXPECT_EQ(calls[4].flags, OFN_FILEMUSTEXIST);
    std::remove(existing.c_str());
}

TEST_F(FileDialogScript, ASaveThatAddsTheExtensionAsksBeforeReplacing) {
    const std::string folder = ::testing::TempDir();
    const std::string existing = folder + "tamlo_shell_picture.png";
    std::FILE* f = std::fopen(existing.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const std::string typed = folder + "tamlo_shell_picture";
    testing::RecordMessageBoxes(true);
    testing::SetFileDialogScript({typed, typed, typed, std::nullopt, folder + "tamlo_shell_new"});
    testing::SetMessageBoxAnswers({IDNO, IDYES});
    char buffer[MAX_PATH] = "tamlo.png";
    OPENFILENAME ofn;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_OVERWRITEPROMPT;
    ofn.lpstrDefExt = "png";
    ASSERT_TRUE(GetSaveFileName(&ofn));
    EXPECT_EQ(std::string(buffer), existing) << "yes on the second asking";
    const auto boxes = testing::TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "tamlo_shell_picture.png already exists.\nDo you want to replace it?");
    EXPECT_EQ(boxes[0].caption, "Confirm Save As");
    EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONWARNING);
    auto calls = testing::TakeFileDialogCalls();
    ASSERT_EQ(calls.size(), 2u) << "no goes back to the dialog";
    EXPECT_EQ(calls[1].initialName, existing) << "at the name it asked about";

    EXPECT_FALSE(GetSaveFileName(&ofn)) << "no answer to the question is no: nothing is replaced";
    EXPECT_TRUE(testing::TakeMessageBoxes().size() == 1 && testing::TakeFileDialogCalls().size() == 2);
    ASSERT_TRUE(GetSaveFileName(&ofn));
    EXPECT_EQ(std::string(buffer), folder + "tamlo_shell_new.png") << "a new name is not asked about";
    EXPECT_TRUE(testing::TakeMessageBoxes().empty());
    std::remove(existing.c_str());

    EXPECT_EQ(detail::BuildZenityArgs(true, nullptr, "a.png", 0, true),
              (std::vector<std::string>{"zenity", "--file-selection", "--save", "--confirm-overwrite",
                                        "--filename=a.png"}))
        << "the dialog asks about the name it was given";
    std::string named = "x.PNG";
    EXPECT_FALSE(detail::AddDefaultExtension(&named, "png")) << "an extension in any case is kept";
}

}  // namespace
}  // namespace shell

namespace shell {
namespace {

// A program without a desktop routes its message boxes to a handler; taking
// the handler away gives the boxes back (here: the test recording).
TEST(MessageBoxes, AHandlerTakesEveryBoxUntilItIsRemoved) {
    testing::Reset();
    testing::RecordMessageBoxes(true);
    std::vector<std::string> handled;
    SetMessageBoxHandler([&](const char* text, const char* caption, UINT type) {
        handled.push_back(std::string(caption) + "|" + text + "|" + std::to_string(type));
    });
    EXPECT_EQ(MessageBox(nullptr, "Volume reduced to 128 x 128 x 64", "Volume reduced", MB_ICONINFORMATION),
              IDOK);
    EXPECT_EQ(MessageBox(nullptr, nullptr, nullptr, MB_OK), IDOK) << "missing texts are empty, not a crash";
    ASSERT_EQ(handled.size(), 2u);
    EXPECT_EQ(handled[0],
              "Volume reduced|Volume reduced to 128 x 128 x 64|" + std::to_string(MB_ICONINFORMATION));
    EXPECT_EQ(handled[1], "||" + std::to_string(MB_OK));
    EXPECT_TRUE(testing::TakeMessageBoxes().empty()) << "the handler had them all";
    SetMessageBoxHandler({});
    MessageBox(nullptr, "after", "box", MB_OK);
    EXPECT_EQ(handled.size(), 2u);
    EXPECT_EQ(testing::TakeMessageBoxes().size(), 1u);
    testing::Reset();
}

}  // namespace
}  // namespace shell

namespace shell {
namespace {

// The wrapped text against the original: the same characters, with some
// spaces turned into line breaks and breaks added inside words too long for
// a line; each line at most `columns` characters.
::testing::AssertionResult WrappedFaithfully(const std::string& original, size_t columns) {
    const std::string wrapped = detail::WrapMessageText(original, columns);
    size_t i = 0, j = 0, line = 0;
    for (; j < wrapped.size(); ++j) {
        const unsigned char c = static_cast<unsigned char>(wrapped[j]);
        if (c == '\n') {
            line = 0;
            if (i < original.size() && (original[i] == '\n' || original[i] == ' '))
                ++i;
            else if (i < original.size() && (static_cast<unsigned char>(original[i]) & 0xC0) == 0x80)
                return ::testing::AssertionFailure() << "a character split: " << wrapped;
            continue;
        }
        if (i >= original.size() || wrapped[j] != original[i])
            return ::testing::AssertionFailure() << "text changed at byte " << i << ": " << wrapped;
        ++i;
        if ((c & 0xC0) != 0x80 && ++line > columns)
            return ::testing::AssertionFailure() << "a line longer than " << columns << ": " << wrapped;
    }
    if (i != original.size())
        return ::testing::AssertionFailure() << "text lost after byte " << i << ": " << wrapped;
    return ::testing::AssertionSuccess();
}

TEST(MessageBoxes, LongTextsWrapToTheScreenAndKeepEveryCharacter) {
    const std::string longName = std::string(200, 'n') + "\xc3\xa9" + std::string(53, 'e');  // 255 bytes
    const std::string refusal =
        "Unable to open /home/user/scans/" + longName + "/head.nrrd: no reader recognises it.";
    const std::string texts[] = {
        refusal,
        "Two lines\nthe second one a bit longer than the first, with  double  spaces",
        "",
        "\n\n",
        std::string(500, 'x'),
        "/a/b/" + std::string(170, 'p')};
    for (const std::string& text : texts)
        for (size_t columns : {1u, 7u, 20u, 80u})
            EXPECT_TRUE(WrappedFaithfully(text, columns)) << columns << " columns";
    EXPECT_EQ(detail::WrapMessageText("short enough", 80), "short enough") << "a text that fits is as it was";
    EXPECT_EQ(detail::WrapMessageText("one two three", 7), "one two\nthree")
        << "broken at the last space that fits";
    EXPECT_EQ(detail::WrapMessageText("/scans/head.nrrd", 10), "/scans/\nhead.nrrd") << "a path after a '/'";
    EXPECT_EQ(detail::WrapMessageText(refusal, 80).find("\n"), refusal.find(" /home"))
        << "the path begins a line of its own";

    EXPECT_EQ(detail::MessageBoxColumns(1280), kMessageBoxColumns) << "a wide screen: the longest line";
    EXPECT_LT(detail::MessageBoxColumns(400), kMessageBoxColumns) << "a narrow one: shorter lines";
    EXPECT_GE(detail::MessageBoxColumns(10), 20u) << "never a column a line";
    testing::Reset();
    testing::RecordMessageBoxes(true);
    MessageBox(nullptr, refusal.c_str(), "Open", MB_OK);
    EXPECT_EQ(testing::TakeMessageBoxes()[0].text, refusal) << "the box is given the text unwrapped";
    testing::Reset();
}

}  // namespace
}  // namespace shell

// The shell with a real window under Xvfb (run through with_xvfb.sh): real
// clicks and keys from xdotool, real screenshots from ImageMagick's import.
#include <epoxy/gl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL2/SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/gpu/output_window.h"
#include "platform/shell/shell_internal.h"

extern char** environ;

namespace shell {
namespace {

constexpr int kWidth = 1280, kHeight = 1024;
constexpr UINT kOpen = 101, kExit = 102, kResetView = 201;

std::vector<MSG> g_seen;

LRESULT Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back({hwnd, message, wParam, lParam});
    return DefWindowProc(hwnd, message, wParam, lParam);
}

// Runs a program (no shell) and returns its stdout; exit status in *status.
std::string RunProgram(const std::vector<std::string>& args, int* status = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while (rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int st = -1;
    if (rc == 0) {
        waitpid(pid, &st, 0);
    }
    if (status) {
        *status = rc == 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    return out;
}

void Xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    int status = 0;
    RunProgram(args, &status);
    ASSERT_EQ(status, 0) << "xdotool " << args[1] << " failed";
}

// Pumps messages like the program's loop does, until the predicate holds or
// the time is up.
bool PumpUntil(const std::function<bool()>& done, int ms = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        MSG m;
        while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessage(&m);
        }
        if (done && done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

const MSG* Find(UINT message, size_t from = 0) {
    for (size_t i = from; i < g_seen.size(); ++i) {
        if (g_seen[i].message == message) {
            return &g_seen[i];
        }
    }
    return nullptr;
}

int16_t X(LPARAM l) {
    return static_cast<int16_t>(LOWORD(static_cast<uint64_t>(l)));
}
int16_t Y(LPARAM l) {
    return static_cast<int16_t>(HIWORD(static_cast<uint64_t>(l)));
}

struct Screenshot {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Screenshot Grab() {
    const std::string path = std::string(::testing::TempDir()) + "tamlo_shell_e2e.ppm";
    int status = 0;
    RunProgram({"import", "-window", "root", "-depth", "8", "ppm:" + path}, &status);
    Screenshot s;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> s.width >> s.height >> maxValue;
    in.get();
    if (status != 0 || magic != "P6" || maxValue != 255) {
        ADD_FAILURE() << "import gave no 8-bit PPM (status " << status << ")";
        return {};
    }
    s.rgb.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(path.c_str());
    return s;
}

class ShellWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::Reset();
        g_seen.clear();
        MenuResource menu;
        menu.popups.push_back({"&File", {{"&Open...", kOpen}, {"", 0}, {"E&xit", kExit}}});
        menu.popups.push_back({"&View", {{"&Reset view", kResetView}}});
        RegisterMenuResource(1, menu);
        layout =
            detail::LayoutMenu(menu, [](std::string_view t) { return 7.0f * t.size(); });  // ImGui's font

        WNDCLASSEX wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = Proc;
        wc.menuResourceId = 1;
        wc.lpszClassName = "TamloE2E";
        ASSERT_NE(RegisterClassEx(&wc), 0);
        hwnd = CreateWindowEx(0, "TamloE2E", "Tamlo e2e", WS_OVERLAPPEDWINDOW, 0, 0, kWidth, kHeight, nullptr,
                              nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        sizeDuringCreate = g_seen;
        ShowWindow(hwnd, SW_SHOWDEFAULT);
        PumpUntil(nullptr, 300);
        g_seen.clear();
    }

    void TearDown() override {
        if (texture && IsWindow(hwnd) && GetOutputWindow(hwnd)->MakeContextCurrent()) {
            glDeleteTextures(1, &texture);
        }
        DestroyWindow(hwnd);
        testing::Reset();
    }

    // A texture of the client's size, red above and blue below its middle row,
    // presented through the window's OutputWindow as the GPU layer would.
    void PresentTwoColourImage() {
        auto out = GetOutputWindow(hwnd);
        ASSERT_TRUE(out && out->MakeContextCurrent()) << "the window has a GL context";
        const int w = kWidth, h = kHeight - detail::kMenuBarHeight;
        std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            std::fill_n(&pixels[static_cast<size_t>(y) * w], w, y < h / 2 ? 0xFF0000FFu : 0xFFFF0000u);
        }
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, GL_RGBA8, w, h);
        glTextureSubImage2D(texture, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        out->PresentImage(texture, w, h);
        PumpUntil(nullptr, 100);
    }

    int TitleX(int popup) const {
        return static_cast<int>((layout.popups[popup].title.x0 + layout.popups[popup].title.x1) / 2);
    }
    int ItemY(int popup, int item) const {
        const auto& r = layout.popups[popup].items[item].rect;
        return static_cast<int>((r.y0 + r.y1) / 2);
    }

    HWND hwnd = nullptr;
    GLuint texture = 0;
    detail::MenuLayout layout;
    std::vector<MSG> sizeDuringCreate;
};

TEST_F(ShellWindow, AppearsAtItsSizeWithTheClientBelowTheBar) {
    const MSG* size = nullptr;
    for (const MSG& m : sizeDuringCreate) {
        if (m.message == WM_SIZE) {
            size = &m;
        }
    }
    ASSERT_NE(size, nullptr) << "WM_SIZE is sent before CreateWindowEx returns";
    EXPECT_EQ(LOWORD(size->lParam), kWidth);
    EXPECT_EQ(HIWORD(size->lParam), kHeight - detail::kMenuBarHeight) << "the client area excludes the bar";

    const std::string geometry =
        RunProgram({"xdotool", "search", "--name", "Tamlo e2e", "getwindowgeometry"});
    EXPECT_NE(geometry.find("1280x1024"), std::string::npos) << geometry;

    const size_t before = g_seen.size();
    Xdotool({"search", "--name", "Tamlo e2e", "windowsize", "800", "600"});
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_SIZE, before) != nullptr; })) << "a size change sends WM_SIZE";
    EXPECT_EQ(LOWORD(Find(WM_SIZE, before)->lParam), 800);
    EXPECT_EQ(HIWORD(Find(WM_SIZE, before)->lParam), 600 - detail::kMenuBarHeight);

    POINT p{5, 7};
    ASSERT_TRUE(ClientToScreen(hwnd, &p));
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 7 + detail::kMenuBarHeight);
}

TEST_F(ShellWindow, CloseBoxClosesThroughDefWindowProc) {
    auto out = GetOutputWindow(hwnd);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    ASSERT_TRUE(out->MakeContextCurrent());
    e.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    SDL_PushEvent(&e);
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(hwnd); })) << "WM_CLOSE -> DefWindowProc -> DestroyWindow";
    ASSERT_NE(Find(WM_CLOSE), nullptr);
    ASSERT_NE(Find(WM_DESTROY), nullptr);
    EXPECT_LT(Find(WM_CLOSE), Find(WM_DESTROY));
    EXPECT_FALSE(out->MakeContextCurrent()) << "the output outlives the window but has no context";
    out->PresentImage(0, 1, 1);  // harmless after the window is gone
    EXPECT_FALSE(DestroyWindow(hwnd)) << "destroying twice is refused, not a crash";
    EXPECT_EQ(GetOutputWindow(hwnd), nullptr);
}

// SDL hands a drop over file by file; the window gets one WM_DROPFILES with
// every path, and only once it has said it takes files.
TEST_F(ShellWindow, ADropOfSeveralFilesIsOneMessageForAWindowThatAcceptsFiles) {
    auto out = GetOutputWindow(hwnd);
    ASSERT_TRUE(out && out->MakeContextCurrent());
    const uint32_t id = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    auto drop = [id](const std::vector<std::string>& paths) {
        SDL_Event e{};
        e.type = SDL_DROPBEGIN;
        e.drop.windowID = id;
        SDL_PushEvent(&e);
        for (const std::string& path : paths) {
            e.type = SDL_DROPFILE;
            e.drop.file = SDL_strdup(path.c_str());
            SDL_PushEvent(&e);
        }
        e.type = SDL_DROPCOMPLETE;
        e.drop.file = nullptr;
        SDL_PushEvent(&e);
    };

    drop({"/tmp/ignored.vol"});
    PumpUntil(nullptr, 200);
    EXPECT_EQ(Find(WM_DROPFILES), nullptr) << "a window that never accepted files hears of no drop";

    DragAcceptFiles(hwnd, true);
    drop({"/tmp/a head.vol", "/tmp/bone.tf"});
    ASSERT_TRUE(PumpUntil([] { return Find(WM_DROPFILES) != nullptr; })) << "no WM_DROPFILES";
    const auto handle = reinterpret_cast<HDROP>(Find(WM_DROPFILES)->wParam);
    ASSERT_EQ(DragQueryFile(handle, 0xFFFFFFFFu, nullptr, 0), 2u);
    char path[64];
    EXPECT_EQ(DragQueryFile(handle, 0, nullptr, 0), 15u) << "the length without the NUL";
    EXPECT_EQ(DragQueryFile(handle, 0, path, sizeof path), 15u);
    EXPECT_STREQ(path, "/tmp/a head.vol");
    EXPECT_EQ(DragQueryFile(handle, 1, path, 8), 7u) << "cut to the buffer, NUL included";
    EXPECT_STREQ(path, "/tmp/bo");
    EXPECT_EQ(DragQueryFile(handle, 2, path, sizeof path), 0u) << "past the last file";
    DragFinish(handle);
    EXPECT_EQ(DragQueryFile(handle, 0xFFFFFFFFu, nullptr, 0), 0u) << "a finished handle holds nothing";
    size_t drops = 0;
    for (const MSG& m : g_seen)
        drops += m.message == WM_DROPFILES;
    EXPECT_EQ(drops, 1u);
}

TEST_F(ShellWindow, ClickingFileThenAnItemPostsItsCommand) {
    PresentTwoColourImage();
    Xdotool({"mousemove", std::to_string(TitleX(0)), "10", "click", "1"});
    Xdotool({"mousemove", "30", std::to_string(ItemY(0, 2)), "click", "1"});
    ASSERT_TRUE(PumpUntil([] { return Find(WM_COMMAND) != nullptr; })) << "no WM_COMMAND from the menu";
    EXPECT_EQ(LOWORD(Find(WM_COMMAND)->wParam), kExit);
    EXPECT_EQ(Find(WM_LBUTTONDOWN), nullptr) << "clicks on the menu never reach the window procedure";
    EXPECT_EQ(Find(WM_LBUTTONUP), nullptr);
}

TEST_F(ShellWindow, MouseInputArrivesInClientCoordinates) {
    Xdotool({"mousemove", "300", "220", "mousedown", "3"});
    Xdotool({"mousemove", "310", "230", "mouseup", "3"});
    Xdotool({"click", "1"});
    Xdotool({"click", "4"});
    Xdotool({"click", "5"});
    ASSERT_TRUE(PumpUntil([] {
        const MSG* w = Find(WM_MOUSEWHEEL);
        return w && Find(WM_MOUSEWHEEL, static_cast<size_t>(w - g_seen.data()) + 1);
    })) << "two wheel notches";
    const MSG* down = Find(WM_RBUTTONDOWN);
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(X(down->lParam), 300);
    EXPECT_EQ(Y(down->lParam), 200) << "client y starts below the bar";
    EXPECT_EQ(down->wParam & MK_RBUTTON, MK_RBUTTON);
    const MSG* move = Find(WM_MOUSEMOVE, static_cast<size_t>(down - g_seen.data()));
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(move->wParam & MK_RBUTTON, MK_RBUTTON) << "a drag carries its button";
    const MSG* up = Find(WM_RBUTTONUP);
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(X(up->lParam), 310);
    EXPECT_EQ(Y(up->lParam), 210);
    ASSERT_NE(Find(WM_LBUTTONDOWN), nullptr);
    ASSERT_NE(Find(WM_LBUTTONUP), nullptr);
    const MSG* wheelUp = Find(WM_MOUSEWHEEL);
    const MSG* wheelDown = Find(WM_MOUSEWHEEL, static_cast<size_t>(wheelUp - g_seen.data()) + 1);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheelUp->wParam), WHEEL_DELTA);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheelDown->wParam), -WHEEL_DELTA);
    EXPECT_EQ(X(wheelUp->lParam), 310) << "wheel positions are screen coordinates";
    EXPECT_EQ(Y(wheelUp->lParam), 230);
}

TEST_F(ShellWindow, SecondClickIsADoubleClick) {
    Xdotool({"mousemove", "400", "400", "click", "--repeat", "2", "--delay", "80", "1"});
    ASSERT_TRUE(PumpUntil([] { return Find(WM_LBUTTONDBLCLK) != nullptr; })) << "CS_DBLCLKS class";
    const MSG* first = Find(WM_LBUTTONDOWN);
    ASSERT_NE(first, nullptr);
    EXPECT_LT(first, Find(WM_LBUTTONDBLCLK)) << "a plain press, then the double click";
}

TEST_F(ShellWindow, ClipCursorConfinesThePointer) {
    RECT r;
    SetRect(&r, 100, 120, 400, 420);
    Xdotool({"mousemove", "200", "200"});
    PumpUntil(nullptr, 100);
    ASSERT_TRUE(ClipCursor(&r));
    PumpUntil(nullptr, 100);
    Xdotool({"mousemove", "900", "900"});
    PumpUntil(nullptr, 100);
    std::string where = RunProgram({"xdotool", "getmouselocation", "--shell"});
    int x = -1, y = -1;
    std::sscanf(where.c_str(), "X=%d\nY=%d", &x, &y);
    EXPECT_TRUE(x >= 100 && x < 400 && y >= 120 && y < 420) << "pointer escaped the clip: " << where;
    Xdotool({"mousemove", "1500", "1150"});  // beyond the window too
    PumpUntil(nullptr, 100);
    where = RunProgram({"xdotool", "getmouselocation", "--shell"});
    std::sscanf(where.c_str(), "X=%d\nY=%d", &x, &y);
    EXPECT_EQ(x, 399) << where;
    EXPECT_EQ(y, 419) << where;

    ClipCursor(nullptr);
    PumpUntil(nullptr, 100);
    Xdotool({"mousemove", "900", "900"});
    PumpUntil(nullptr, 100);
    where = RunProgram({"xdotool", "getmouselocation", "--shell"});
    std::sscanf(where.c_str(), "X=%d\nY=%d", &x, &y);
    EXPECT_EQ(x, 900) << "released: " << where;
}

TEST_F(ShellWindow, ScreenshotShowsTheBarAndTheImageTheRightWayUp) {
    PresentTwoColourImage();
    const Screenshot shot = Grab();
    ASSERT_GE(shot.width, kWidth);
    ASSERT_GE(shot.height, kHeight);
    auto isRed = [](const unsigned char* p) { return p[0] > 200 && p[1] < 50 && p[2] < 50; };
    auto isBlue = [](const unsigned char* p) { return p[0] < 50 && p[1] < 50 && p[2] > 200; };
    const unsigned char* bar = shot.At(kWidth - 50, 8);
    EXPECT_FALSE(isRed(bar) || isBlue(bar)) << "the bar covers the top rows";
    EXPECT_TRUE(bar[0] < 100 && bar[1] < 100 && bar[2] < 100) << "ImGui's dark menu bar";
    EXPECT_TRUE(isRed(shot.At(kWidth / 2, detail::kMenuBarHeight + 2))) << "row 0 of the image is at the top";
    EXPECT_TRUE(isRed(shot.At(kWidth - 1, kHeight / 2 - 20)));
    EXPECT_TRUE(isBlue(shot.At(kWidth / 2, kHeight - 1))) << "the last row is at the bottom";
    bool text = false;
    for (int x = 8; x < 40 && !text; ++x) {
        for (int y = 4; y < 16 && !text; ++y) {
            text = shot.At(x, y)[0] > 180;
        }
    }
    EXPECT_TRUE(text) << "\"File\" is written on the bar";
}

TEST_F(ShellWindow, AltFOpensTheFilePullDown) {
    PresentTwoColourImage();
    Xdotool({"mousemove", "600", "600"});
    Xdotool({"key", "alt+f"});
    PumpUntil(nullptr, 200);
    const Screenshot shot = Grab();
    ASSERT_GE(shot.height, kHeight);
    const unsigned char* box = shot.At(static_cast<int>(layout.popups[0].box.x1) - 4, ItemY(0, 2));
    EXPECT_FALSE(box[0] > 200 && box[1] < 50) << "the pull-down covers the image";
    Xdotool({"key", "Escape"});
    Xdotool({"key", "x"});
    PumpUntil(nullptr, 200);
    EXPECT_EQ(Find(WM_COMMAND), nullptr) << "Escape closed it, so 'x' chooses nothing";
    Xdotool({"key", "alt+f"});
    Xdotool({"key", "x"});
    ASSERT_TRUE(PumpUntil([] { return Find(WM_COMMAND) != nullptr; }));
    EXPECT_EQ(LOWORD(Find(WM_COMMAND)->wParam), kExit) << "the mnemonic letter chooses its item";
}

// Without any display (run by CTest with DISPLAY unset; skipped under Xvfb):
// the program's own tests create their windows this way.
class Headless : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display && *display) {
            GTEST_SKIP() << "needs no display";
        }
        testing::Reset();
        g_seen.clear();
        WNDCLASSEX wc;
        wc.lpfnWndProc = Proc;
        wc.lpszClassName = "TamloHeadless";
        ASSERT_NE(RegisterClassEx(&wc), 0);
    }
    void TearDown() override { testing::Reset(); }
};

TEST_F(Headless, WindowsAndContextsWithoutADisplay) {
    HWND hwnd =
        CreateWindowEx(0, "TamloHeadless", "headless", 0, 0, 0, 64, 48, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr) << "SDL's offscreen driver makes the window";
    ASSERT_NE(Find(WM_SIZE), nullptr);
    EXPECT_EQ(HIWORD(Find(WM_SIZE)->lParam), 48) << "no menu, no bar";
    auto out = GetOutputWindow(hwnd);
    ASSERT_TRUE(out->MakeContextCurrent()) << "GL 4.5 core through EGL";
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_GE(major * 10 + minor, 45);
    GLuint texture = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, 1, GL_RGBA8, 64, 48);
    out->PresentImage(texture, 64, 48);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDeleteTextures(1, &texture);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(hwnd, "Volume not found", "Tamlo", MB_OK), IDOK);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Tamlo: Volume not found"), std::string::npos);
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(out->MakeContextCurrent());
}

TEST_F(Headless, AWindowWithoutAGlContextStillExists) {
    // Mesa then offers 3.3 at most, so the 4.5 core context cannot be made.
    setenv("MESA_GL_VERSION_OVERRIDE", "3.3", 1);
    HWND hwnd =
        CreateWindowEx(0, "TamloHeadless", "no GL", 0, 0, 0, 64, 48, nullptr, nullptr, nullptr, nullptr);
    unsetenv("MESA_GL_VERSION_OVERRIDE");
    ASSERT_NE(hwnd, nullptr) << "window creation does not depend on the context";
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(GetOutputWindow(hwnd)->MakeContextCurrent()) << "device creation is where it fails";
    bool said = false;
    for (const std::string& line : testing::TakeDebugOutput()) {
        said = said || line.find("OpenGL 4.5") != std::string::npos;
    }
    EXPECT_TRUE(said) << "the missing context is reported";
}

}  // namespace
}  // namespace shell

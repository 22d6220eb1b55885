// The SDL platform against a real X server (Xvfb) and real Mesa: windows and
// their client areas, keys typed with xdotool, close requests, the quit order,
// GL contexts, message boxes, console writes and a run without any display.
// Leak checking is off for this process: Mesa and libdbus leak small blocks
// that LeakSanitizer cannot attribute once the driver is unloaded.
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform_sdl2_xhelper.h"
#include "sdl2/sdl2_internal.h"
#include "sdl2/sdl2_keys.h"

namespace {

using sdl2::sdl_window_of;
using Clock = std::chrono::steady_clock;
constexpr const char* kClass = "PlatformSdlTest";

struct Delivered {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};
std::vector<Delivered> delivered;

LRESULT test_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    delivered.push_back({window, message, wparam, lparam});
    if (message == WM_CLOSE) return 0;  // as the demo does: it quits, it does not destroy
    return DefWindowProcA(window, message, wparam, lparam);
}

bool was_delivered(HWND window, UINT message) {
    for (const Delivered& d : delivered)
        if (d.window == window && d.message == message) return true;
    return false;
}

PIXELFORMATDESCRIPTOR program_pixel_format() {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    pfd.cDepthBits = 16;
    return pfd;
}

// Runs a shell command on another thread while the test keeps pumping.
struct Background {
    std::thread thread;
    explicit Background(std::string command)
        : thread([command] { EXPECT_EQ(std::system(command.c_str()), 0) << command; }) {}
    ~Background() { thread.join(); }
};

class PlatformSdl : public ::testing::Test {
protected:
    void SetUp() override {
        delivered.clear();
        WNDCLASSA wc{};
        wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
        wc.lpfnWndProc = test_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hIcon = LoadIconA(0, IDI_WINLOGO);
        wc.hCursor = LoadCursorA(0, IDC_ARROW);
        wc.lpszClassName = kClass;
        ASSERT_NE(RegisterClassA(&wc), 0);
    }

    void TearDown() override {
        wglMakeCurrent(0, 0);
        for (HGLRC c : contexts_) wglDeleteContext(c);
        for (HWND w : windows_) DestroyWindow(w);
        ChangeDisplaySettingsA(nullptr, 0);
        UnregisterClassA(kClass, GetModuleHandleA(nullptr));
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        }
    }

    HWND make_window(DWORD style, const char* title, int width, int height) {
        HWND w = CreateWindowExA(0, kClass, title, style, 16, 16, width, height, 0, 0,
                                 GetModuleHandleA(nullptr), nullptr);
        if (w) windows_.push_back(w);
        return w;
    }

    // What window creation does after CreateWindowExA: grow the window by
    // its own frame so that the client area gets the requested size.
    static void correct_client_area(HWND w, int width, int height) {
        RECT r{};
        ASSERT_TRUE(GetClientRect(w, &r));
        ASSERT_TRUE(SetWindowPos(w, HWND_TOP, 0, 0, 2 * width - (r.right - r.left),
                                 2 * height - (r.bottom - r.top), SWP_NOMOVE | SWP_NOOWNERZORDER));
    }

    // A visible popup with the keyboard focus, as window creation leaves it.
    HWND focused_window(const char* title) {
        HWND w = make_window(WS_POPUP, title, 320, 240);
        if (!w) return 0;
        ShowWindow(w, SW_SHOW);
        SetForegroundWindow(w);
        SetFocus(w);
        collect([](const std::vector<MSG>&) { return false; }, 100);  // let the map settle
        return w;
    }

    HGLRC make_context(HDC dc) {
        HGLRC c = wglCreateContext(dc);
        if (c) contexts_.push_back(c);
        return c;
    }

    // Reads the queue without waiting, as the main loop does, until done
    // says so or the time is up.
    static std::vector<MSG> collect(const std::function<bool(const std::vector<MSG>&)>& done,
                                    int timeout_ms = 10000) {
        std::vector<MSG> got;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done(got) && Clock::now() < deadline) {
            MSG msg{};
            if (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE))
                got.push_back(msg);
            else
                SDL_Delay(2);
        }
        return got;
    }

    static auto until_message(UINT message, WPARAM wparam) {
        return [=](const std::vector<MSG>& got) {
            for (const MSG& m : got)
                if (m.message == message && m.wParam == wparam) return true;
            return false;
        };
    }

    std::vector<HWND> windows_;
    std::vector<HGLRC> contexts_;
};

// The rules every implementation keeps are in the windowing contract suite;
// here, that the X server's window really has the client area's size.
TEST_F(PlatformSdl, TheXWindowHasTheCorrectedClientSize) {
    struct Case {
        DWORD style;
        const char* title;
        int width, height;
    };
    for (const Case& c :
         {Case{WS_POPUP, "client popup", 640, 480}, Case{WS_SYSMENU, "client titled", 501, 377}}) {
        SCOPED_TRACE(c.title);
        HWND w = make_window(c.style, c.title, c.width, c.height);
        ASSERT_NE(w, 0u);
        correct_client_area(w, c.width, c.height);
        ShowWindow(w, SW_SHOW);
        int sdl_w = 0, sdl_h = 0, x_w = 0, x_h = 0;
        SDL_GetWindowSize(sdl_window_of(w), &sdl_w, &sdl_h);
        EXPECT_EQ(sdl_w, c.width);
        EXPECT_EQ(sdl_h, c.height);
        unsigned long xid = xhelper::find_window(c.title);
        ASSERT_NE(xid, 0u);
        ASSERT_TRUE(xhelper::window_size(xid, &x_w, &x_h));
        EXPECT_EQ(x_w, c.width);
        EXPECT_EQ(x_h, c.height);
    }
}

TEST_F(PlatformSdl, TypedKeysArriveWithWin32VirtualKeyCodes) {
    HWND w = focused_window("typed keys");
    ASSERT_NE(w, 0u);
    std::vector<MSG> got;
    {
        Background typing("timeout 10 xdotool key Escape F4 Left Right a 7 F12 Return");
        got = collect(until_message(WM_KEYUP, VK_RETURN));
    }
    const WPARAM expected[] = {VK_ESCAPE, VK_F4, VK_LEFT, VK_RIGHT, 'A', '7', VK_F12, VK_RETURN};
    ASSERT_EQ(got.size(), 2 * std::size(expected));
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const bool down = i % 2 == 0;
        EXPECT_EQ(got[i].hwnd, w);
        EXPECT_EQ(got[i].message, static_cast<UINT>(down ? WM_KEYDOWN : WM_KEYUP));
        EXPECT_EQ(got[i].wParam, expected[i / 2]);
        EXPECT_EQ(got[i].lParam & 0xFFFF, 1);
        EXPECT_EQ((got[i].lParam & KF_UP_BIT) != 0, !down);
        EXPECT_EQ((got[i].lParam & KF_REPEAT_BIT) != 0, !down);
        EXPECT_EQ(got[i].lParam & KF_ALTDOWN_BIT, 0);
    }
}

TEST_F(PlatformSdl, HeldKeyRepeatsItsKeyDownWithThePreviousStateBit) {
    HWND w = focused_window("held key");
    ASSERT_NE(w, 0u);
    std::vector<MSG> got;
    {
        Background holding("timeout 10 xdotool keydown Right sleep 1 keyup Right");
        got = collect(until_message(WM_KEYUP, VK_RIGHT));
    }
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got.front().message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(got.front().lParam & KF_REPEAT_BIT, 0);  // the first press is fresh
    for (size_t i = 1; i + 1 < got.size(); ++i) {
        EXPECT_EQ(got[i].message, static_cast<UINT>(WM_KEYDOWN));
        EXPECT_EQ(got[i].wParam, static_cast<WPARAM>(VK_RIGHT));
        EXPECT_NE(got[i].lParam & KF_REPEAT_BIT, 0);
    }
    EXPECT_EQ(got.back().message, static_cast<UINT>(WM_KEYUP));
    // Xvfb repeats after 660 ms every 40 ms: a one-second hold gives several.
    EXPECT_GE(got.size() - 2, 3u);
}

TEST_F(PlatformSdl, AltF4ArrivesAsSystemKeyAndDefaultProcessingClosesTheWindow) {
    HWND w = focused_window("alt f4");
    ASSERT_NE(w, 0u);
    std::vector<MSG> got;
    {
        Background pressing("timeout 10 xdotool key alt+F4");
        got = collect(until_message(WM_SYSKEYUP, VK_MENU));
    }
    bool saw_f4 = false;
    for (const MSG& m : got) {
        EXPECT_TRUE(m.message == WM_SYSKEYDOWN || m.message == WM_SYSKEYUP) << m.message;
        if (m.message == WM_SYSKEYDOWN && m.wParam == VK_F4) {
            saw_f4 = true;
            EXPECT_NE(m.lParam & KF_ALTDOWN_BIT, 0);
        }
        DispatchMessageA(&m);
    }
    EXPECT_TRUE(saw_f4);
    // The window procedure passed the system key on; DefWindowProcA answered
    // with WM_CLOSE at once, right after the F4 key-down.
    ASSERT_TRUE(was_delivered(w, WM_CLOSE));
    for (size_t i = 1; i < delivered.size(); ++i)
        if (delivered[i].message == WM_CLOSE) {
            EXPECT_EQ(delivered[i - 1].message, static_cast<UINT>(WM_SYSKEYDOWN));
            EXPECT_EQ(delivered[i - 1].wparam, static_cast<WPARAM>(VK_F4));
        }
}

TEST_F(PlatformSdl, WindowManagerCloseAndTerminationSignalBecomeWmClose) {
    HWND w = focused_window("close me");
    ASSERT_NE(w, 0u);
    unsigned long xid = xhelper::find_window("close me");
    ASSERT_NE(xid, 0u);
    ASSERT_TRUE(xhelper::send_delete_window(xid));
    std::vector<MSG> got = collect(until_message(WM_CLOSE, 0));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].hwnd, w);

    // SDL turns SIGTERM into its quit event; the newest window gets WM_CLOSE.
    HWND newest = focused_window("terminated");
    ASSERT_NE(newest, 0u);
    ASSERT_EQ(raise(SIGTERM), 0);
    got = collect(until_message(WM_CLOSE, 0));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].hwnd, newest);
}

TEST_F(PlatformSdl, KeyReleasedAfterItsWindowWasReplacedReachesTheNewWindow) {
    // The F4 toggle: the key-down's handler destroys the window and makes a
    // new one; the key-up, already waiting, must reach the new window.
    HWND old_window = make_window(WS_POPUP, "toggled away", 320, 240);
    ASSERT_NE(old_window, 0u);
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.windowID = SDL_GetWindowID(sdl_window_of(old_window));
    key.key.keysym.sym = SDLK_F4;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    key.type = SDL_KEYUP;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
    ASSERT_TRUE(DestroyWindow(old_window));
    HWND new_window = make_window(WS_POPUP, "toggled in", 320, 240);
    ASSERT_NE(new_window, 0u);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYUP));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(VK_F4));
    EXPECT_EQ(msg.hwnd, new_window);
}

TEST_F(PlatformSdl, CursorIsHiddenWhileTheDisplayCountIsNegative) {
    ASSERT_NE(make_window(WS_POPUP, "cursor", 320, 240), 0u);
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST(PlatformSdlKeys, TranslationFollowsWin32Rules) {
    auto key = [](SDL_Keycode sym, Uint16 mod, SDL_Scancode sc = SDL_SCANCODE_UNKNOWN) {
        SDL_Keysym k{};
        k.sym = sym;
        k.mod = mod;
        k.scancode = sc;
        return k;
    };
    KeyMessage m{};
    ASSERT_TRUE(translate_key(key(SDLK_x, KMOD_LALT), true, false, &m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(m.vk, static_cast<WPARAM>('X'));
    EXPECT_EQ(m.lparam, 1 | KF_ALTDOWN_BIT);
    // Ctrl+Alt is AltGr: ordinary key messages, Alt bit still set.
    ASSERT_TRUE(translate_key(key(SDLK_x, KMOD_LALT | KMOD_LCTRL), false, false, &m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_KEYUP));
    EXPECT_EQ(m.lparam, 1 | KF_ALTDOWN_BIT | KF_REPEAT_BIT | KF_UP_BIT);
    // Alt alone and F10 are system keys; the release of Alt has no Alt bit.
    ASSERT_TRUE(translate_key(key(SDLK_LALT, KMOD_LALT), true, false, &m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(m.vk, static_cast<WPARAM>(VK_MENU));
    ASSERT_TRUE(translate_key(key(SDLK_LALT, KMOD_NONE), false, false, &m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_SYSKEYUP));
    EXPECT_EQ(m.lparam & KF_ALTDOWN_BIT, 0);
    ASSERT_TRUE(translate_key(key(SDLK_F10, KMOD_NONE), true, false, &m));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_SYSKEYDOWN));
    // Auto-repeat; grey keys carry the extended bit; keypad Enter is Return.
    ASSERT_TRUE(translate_key(key(SDLK_LEFT, KMOD_NONE), true, true, &m));
    EXPECT_EQ(m.lparam, 1 | KF_REPEAT_BIT | (LPARAM{1} << 24));
    ASSERT_TRUE(translate_key(key(SDLK_KP_ENTER, KMOD_NONE), true, false, &m));
    EXPECT_EQ(m.vk, static_cast<WPARAM>(VK_RETURN));
    EXPECT_NE(m.lparam & (LPARAM{1} << 24), 0);
    // Both shifts are VK_SHIFT; a Cyrillic letter is named by its position.
    EXPECT_EQ(virtual_key_of(key(SDLK_RSHIFT, KMOD_RSHIFT)), static_cast<WPARAM>(VK_SHIFT));
    EXPECT_EQ(virtual_key_of(key(0x0444, KMOD_NONE, SDL_SCANCODE_A)), static_cast<WPARAM>('A'));
    EXPECT_EQ(virtual_key_of(key(SDLK_F1 + 11, KMOD_NONE)), static_cast<WPARAM>(VK_F12));
    // A key Win32 has no code for is dropped.
    EXPECT_FALSE(translate_key(key(SDLK_MODE, KMOD_NONE), true, false, &m));
}

TEST_F(PlatformSdl, GlContextIsMadeCurrentOnlyByWglMakeCurrent) {
    HWND w = make_window(WS_SYSMENU, "gl context", 400, 300);
    ASSERT_NE(w, 0u);
    correct_client_area(w, 400, 300);
    HDC dc = GetDC(w);
    ASSERT_NE(dc, 0u);
    EXPECT_EQ(GetDC(w), dc);  // one device context for the window's life

    PIXELFORMATDESCRIPTOR pfd = program_pixel_format();
    EXPECT_EQ(ChoosePixelFormat(dc + 1000, &pfd), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DC_NOT_FOUND));
    PIXELFORMATDESCRIPTOR bitmap = pfd;
    bitmap.dwFlags = PFD_DOUBLEBUFFER;  // neither OpenGL nor a window
    EXPECT_EQ(ChoosePixelFormat(dc, &bitmap), 0);
    EXPECT_EQ(wglCreateContext(dc), 0u);  // no pixel format set yet
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PIXEL_FORMAT));

    const int index = ChoosePixelFormat(dc, &pfd);
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(SetPixelFormat(dc, 0, &pfd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PIXEL_FORMAT));
    ASSERT_TRUE(SetPixelFormat(dc, index, &pfd));
    HGLRC context = make_context(dc);
    ASSERT_NE(context, 0u);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    EXPECT_FALSE(SwapBuffers(dc));  // nothing current to present

    ASSERT_TRUE(wglMakeCurrent(dc, context));
    ASSERT_NE(SDL_GL_GetCurrentContext(), nullptr);
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(SDL_GL_GetCurrentWindow(), &width, &height);
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 300);
    int major = 0, minor = 0;
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    ASSERT_EQ(std::sscanf(version, "%d.%d", &major, &minor), 2);
    EXPECT_TRUE(major > 1 || (major == 1 && minor >= 1)) << version;
    GLint depth_bits = 0;
    GLboolean double_buffered = GL_FALSE;
    glGetIntegerv(GL_DEPTH_BITS, &depth_bits);
    glGetBooleanv(GL_DOUBLEBUFFER, &double_buffered);
    EXPECT_GE(depth_bits, 16);
    EXPECT_TRUE(double_buffered);

    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    unsigned char pixel[4] = {};
    glReadBuffer(GL_BACK);
    glReadPixels(200, 150, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ(pixel[0], 0);
    EXPECT_EQ(pixel[1], 255);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(SwapBuffers(dc));

    EXPECT_EQ(ReleaseDC(w, dc), 1);
    EXPECT_EQ(ReleaseDC(w, dc + 1000), 0);
    ASSERT_TRUE(wglMakeCurrent(0, 0));
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    EXPECT_TRUE(wglDeleteContext(context));
    contexts_.clear();
    EXPECT_FALSE(wglDeleteContext(context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(wglMakeCurrent(dc, context));
}

TEST_F(PlatformSdl, FullScreenTakesOnlyModesTheDisplayHas) {
    const int screen_w = GetSystemMetrics(SM_CXSCREEN), screen_h = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(screen_w, 0);
    ASSERT_GT(screen_h, 0);
    EXPECT_GT(GetSystemMetrics(SM_CXFULLSCREEN), 0);
    EXPECT_LE(GetSystemMetrics(SM_CXFULLSCREEN), screen_w);
    EXPECT_LE(GetSystemMetrics(SM_CYFULLSCREEN), screen_h);

    HWND w = make_window(WS_POPUP, "full screen", screen_w, screen_h);
    ASSERT_NE(w, 0u);
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = 32;
    mode.dmPelsWidth = 321;  // no display offers this
    mode.dmPelsHeight = 241;
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_BADMODE);
    EXPECT_FALSE(SDL_GetWindowFlags(sdl_window_of(w)) & SDL_WINDOW_FULLSCREEN);

    mode.dmPelsWidth = static_cast<DWORD>(screen_w);
    mode.dmPelsHeight = static_cast<DWORD>(screen_h);
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    ShowWindow(w, SW_SHOW);
    EXPECT_TRUE(SDL_GetWindowFlags(sdl_window_of(w)) & SDL_WINDOW_FULLSCREEN);
    RECT r{};
    ASSERT_TRUE(GetClientRect(w, &r));
    EXPECT_EQ(r.right, screen_w);
    EXPECT_EQ(r.bottom, screen_h);

    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_FALSE(SDL_GetWindowFlags(sdl_window_of(w)) & SDL_WINDOW_FULLSCREEN);
}

TEST_F(PlatformSdl, MessageBoxEchoesToStandardErrorAndReturnsWhenDismissed) {
    ASSERT_NE(focused_window("under the box"), 0u);  // the box is stacked above it
    // As in full screen: the box's process brings the pointer back and raises
    // the focused window, which must not touch the program's own connection.
    ShowCursor(FALSE);
    FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    const int file = fileno(capture);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);

    std::atomic<bool> returned{false};
    std::thread dismisser([&returned] {
        // The box is not found by xdotool's name search; xwininfo lists it.
        // Keep pressing Return on it until the call has returned; give up by
        // ending the process rather than hanging the test run.
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!returned && Clock::now() < deadline) {
            FILE* tree = popen("xwininfo -root -tree | grep '\"platform test box\"'", "r");
            char line[512] = {};
            unsigned long id = 0;
            if (tree) {
                if (std::fgets(line, sizeof line, tree)) id = std::strtoul(line, nullptr, 16);
                pclose(tree);
            }
            if (id) {
                std::string key = "xdotool key --window " + std::to_string(id) + " Return";
                if (std::system(key.c_str()) != 0) std::fputs("xdotool failed\n", stdout);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (!returned) {
            std::fputs("the message box was never dismissed\n", stdout);
            _exit(1);
        }
    });
    const int result = MessageBoxA(0, "first line\nsecond line", "platform test box", MB_OK);
    returned = true;
    dismisser.join();
    collect([](const std::vector<MSG>&) { return false; }, 300);  // the connection still answers
    ShowCursor(TRUE);

    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string echoed(256, '\0');
    echoed.resize(
        static_cast<size_t>(std::max<ssize_t>(0, pread(file, echoed.data(), echoed.size(), 0))));
    std::fclose(capture);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(echoed, "platform test box: first line\nsecond line\n");
}

TEST_F(PlatformSdl, ConsoleWritesReachStandardOutputWhateverItIs) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NE(out, 0u);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);

    // A file, with zero bytes inside and more than a pipe holds at once.
    FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    const int file = fileno(capture);
    dup2(file, STDOUT_FILENO);
    std::string text(100000, 'n');
    text[10] = '\0';
    DWORD written = 0;
    EXPECT_TRUE(
        WriteConsoleA(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(written, text.size());
    std::string back(text.size() + 1, 'x');
    EXPECT_EQ(pread(file, back.data(), back.size(), 0), static_cast<ssize_t>(text.size()));
    back.resize(text.size());
    EXPECT_EQ(back, text);
    std::fclose(capture);

    // A pipe whose reader has gone: the write fails, the process lives on.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    EXPECT_FALSE(WriteConsoleA(out, "lost", 4, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));

    // No standard output at all: no handle, as Win32 gives a process without one.
    close(STDOUT_FILENO);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), 0u);
    dup2(saved, STDOUT_FILENO);
    close(saved);

    EXPECT_FALSE(WriteConsoleA(out + 1000, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(PlatformSdlHeadless, WithoutADisplayWindowsFailAndNothingHangs) {
    // The probe makes no GL context, so it runs with leak checking on.
    const std::string command =
        std::string(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER ASAN_OPTIONS=detect_leaks=1 ") +
        "timeout 30 " + HEADLESS_PROBE + " 2>&1";
    FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char chunk[512];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, child)) > 0) output.append(chunk, n);
    const int status = pclose(child);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("headless: ok"), std::string::npos) << output;
    // SDL's own reason, and the box's text, reach standard error.
    EXPECT_NE(output.find("platform: SDL_InitSubSystem(SDL_INIT_VIDEO) failed: "),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("headless box: nobody sees this\n"), std::string::npos) << output;
    // The missing display is the first thing said, once, and no complaint of
    // a driver that had no chance buries it.
    const std::string no_display = "platform: no display: neither DISPLAY nor WAYLAND_DISPLAY";
    EXPECT_LT(output.find(no_display), output.find("platform: SDL_InitSubSystem")) << output;
    EXPECT_EQ(output.find(no_display), output.rfind(no_display)) << output;
    EXPECT_EQ(output.find("XDG_RUNTIME_DIR"), std::string::npos) << output;
    EXPECT_NE(output.find("platform: no display to show the box on\n"), std::string::npos)
        << output;
}

}  // namespace

// The rules of the windowing contract that the program relies on, run against
// every implementation of it: the SDL port on a real X server, and the
// recording fake that the driver and window tests stand on. Both programs
// build this one file, so the fake is held to what the port really does.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/platform.h"

// What each implementation's build gives the suite besides the contract: a
// clean start, and the user pressing a key or asking to close a window.
namespace windowing_under_test {
void reset();
void press_key(HWND window, UINT key);
void ask_to_close(HWND window);
}  // namespace windowing_under_test

namespace {

constexpr const char* kClass = "ContractTest";

struct Delivered {
    HWND window;
    UINT message;
};
std::vector<Delivered> delivered;

// Records every message, then leaves it all to default processing, so that
// the platform's own handling of closes and system keys shows.
LRESULT recording_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    delivered.push_back({window, message});
    return DefWindowProcA(window, message, wparam, lparam);
}

std::vector<UINT> messages_to(HWND window) {
    std::vector<UINT> out;
    for (const Delivered& d : delivered)
        if (d.window == window) out.push_back(d.message);
    return out;
}

class WindowingContract : public ::testing::Test {
protected:
    void SetUp() override {
        windowing_under_test::reset();
        delivered.clear();
        WNDCLASSA wc{};
        wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
        wc.lpfnWndProc = recording_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        ASSERT_NE(RegisterClassA(&wc), 0);
    }

    void TearDown() override {
        for (HWND w : windows_) DestroyWindow(w);
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        }
        UnregisterClassA(kClass, GetModuleHandleA(nullptr));
    }

    HWND make_window(DWORD style, int x, int y, int width, int height) {
        HWND w = CreateWindowExA(0, kClass, "contract", style, x, y, width, height, 0, 0,
                                 GetModuleHandleA(nullptr), nullptr);
        if (w) windows_.push_back(w);
        return w;
    }

    std::vector<HWND> windows_;
};

TEST_F(WindowingContract, ClassesAndWindowsLiveAndDieAsWin32Says) {
    WNDCLASSA again{};
    again.lpfnWndProc = recording_proc;
    again.lpszClassName = "contracttest";  // class names ignore case
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(RegisterClassA(nullptr), 0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", WS_POPUP, 0, 0, 320, 240, 0, 0, 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

    HWND w = make_window(WS_SYSMENU, 16, 16, 320, 240);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(messages_to(w), std::vector<UINT>{WM_CREATE});  // inside CreateWindowExA
    EXPECT_FALSE(UnregisterClassA(kClass, GetModuleHandleA(nullptr)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));  // hidden until now
    EXPECT_TRUE(ShowWindow(w, SW_SHOW));

    // An unhandled close destroys the window; a destroyed window answers
    // nothing and receives nothing.
    DefWindowProcA(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));
    RECT r{};
    EXPECT_FALSE(GetClientRect(w, &r));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(DestroyWindow(w));
    MSG stale{w, WM_KEYDOWN, VK_ESCAPE, 1, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageA(&stale), 0);
    EXPECT_EQ(messages_to(w).size(), 2u);

    EXPECT_TRUE(UnregisterClassA(kClass, GetModuleHandleA(nullptr)));
    EXPECT_FALSE(UnregisterClassA(kClass, GetModuleHandleA(nullptr)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    SetUp();  // TearDown expects the class
}

TEST_F(WindowingContract, ClientAreaCorrectionGivesTheRequestedSizeForBothStyles) {
    struct Case {
        DWORD style;
        int width, height;
    };
    for (const Case& c : {Case{WS_POPUP, 640, 480}, Case{WS_SYSMENU, 501, 377}}) {
        SCOPED_TRACE(c.style);
        HWND w = make_window(c.style, 16, 16, c.width, c.height);
        ASSERT_NE(w, 0u);
        RECT r{};
        ASSERT_TRUE(GetClientRect(w, &r));
        if (c.style & WS_POPUP)
            EXPECT_EQ(r.right, c.width);  // no frame at all
        else
            EXPECT_LT(r.right, c.width);  // the frame takes its share
        // What window creation does next: grow the window by its own frame.
        ASSERT_TRUE(SetWindowPos(w, HWND_TOP, 0, 0, 2 * c.width - (r.right - r.left),
                                 2 * c.height - (r.bottom - r.top),
                                 SWP_NOMOVE | SWP_NOOWNERZORDER));
        ASSERT_TRUE(GetClientRect(w, &r));
        EXPECT_EQ(r.right - r.left, c.width);
        EXPECT_EQ(r.bottom - r.top, c.height);
    }

    // Sizes and places no screen has are clamped, never overflowed.
    HWND odd = make_window(WS_SYSMENU, INT_MAX, INT_MIN + 1, -5, INT_MAX);
    ASSERT_NE(odd, 0u);
    RECT r{};
    ASSERT_TRUE(GetClientRect(odd, &r));
    EXPECT_EQ(r.right, 1);
    EXPECT_EQ(r.bottom, 16384);
    EXPECT_TRUE(SetWindowPos(odd, HWND_TOP, INT_MIN + 1, INT_MAX, INT_MIN, INT_MIN, 0));
    ASSERT_TRUE(GetClientRect(odd, &r));
    EXPECT_EQ(r.right, 1);
    EXPECT_EQ(r.bottom, 1);
}

TEST_F(WindowingContract, QuitComesOnlyAfterEveryWaitingMessageAndOnce) {
    HWND w = make_window(WS_POPUP, 16, 16, 320, 240);
    ASSERT_NE(w, 0u);
    windowing_under_test::press_key(w, VK_ESCAPE);
    PostQuitMessage(3);
    windowing_under_test::ask_to_close(w);

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE));  // looking leaves it there
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(VK_ESCAPE));
    EXPECT_EQ(msg.hwnd, w);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(msg.hwnd, w);
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
}

TEST_F(WindowingContract, DefaultProcessingTurnsAltF4IntoAClose) {
    HWND w = make_window(WS_POPUP, 16, 16, 320, 240);
    ASSERT_NE(w, 0u);
    // Alt+F4 closes; F4 alone, and other system keys, do nothing.
    EXPECT_EQ(DefWindowProcA(w, WM_SYSKEYDOWN, VK_F4, 0), 0);
    EXPECT_EQ(DefWindowProcA(w, WM_SYSKEYDOWN, VK_LEFT, KF_ALTDOWN_BIT), 0);
    EXPECT_EQ(messages_to(w), std::vector<UINT>{WM_CREATE});
    EXPECT_EQ(DefWindowProcA(w, WM_SYSKEYDOWN, VK_F4, KF_ALTDOWN_BIT), 0);
    EXPECT_EQ(messages_to(w), (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}));
}

}  // namespace

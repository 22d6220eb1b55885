// The recording platform is what every driver and window test stands on, so
// its recording, failure injection and message rules are checked here.
#include "fakes/platform_fake.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::string> seen;

LRESULT recording_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    seen.push_back(std::to_string(message));
    return DefWindowProcA(window, message, wparam, lparam);
}

WNDCLASSA test_class() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = recording_proc;
    wc.lpszClassName = "TESTCLASS";
    return wc;
}

class FakePlatform : public ::testing::Test {
protected:
    void SetUp() override {
        fake_platform::reset();
        seen.clear();
    }
};

TEST_F(FakePlatform, RecordsCallsInOrderWithArguments) {
    WNDCLASSA wc = test_class();
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND w = CreateWindowExA(0, "TESTCLASS", "title", WS_SYSMENU, 5, 6, 100, 50, 0, 0,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_EQ(w, fake_platform::kFirstWindow);
    std::vector<std::string> expected = {
        "RegisterClassA(TESTCLASS)", "GetModuleHandleA(NULL)",
        "CreateWindowExA(0,TESTCLASS,title,524288,5,6,100,50,0,0,16,NULL)",
        "DefWindowProcA(256,1,0,0)",  // WM_CREATE, delivered synchronously
    };
    EXPECT_EQ(fake_platform::calls(), expected);
    EXPECT_EQ(seen, std::vector<std::string>{std::to_string(WM_CREATE)});
}

TEST_F(FakePlatform, InjectedFailuresSetTheErrorCodeAndCanRunOut) {
    fake_platform::fail("wglCreateContext", 1234, 1);
    EXPECT_EQ(wglCreateContext(0x200), 0u);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_NE(wglCreateContext(0x200), 0u);

    fake_platform::fail("ChangeDisplaySettingsA");
    DEVMODEA mode{};
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_FAILED);
}

TEST_F(FakePlatform, ClassRulesFollowWin32) {
    WNDCLASSA wc = test_class();
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    HWND w = CreateWindowExA(0, "TESTCLASS", "t", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, nullptr);
    EXPECT_FALSE(UnregisterClassA("TESTCLASS", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_TRUE(UnregisterClassA("TESTCLASS", 0));
}

TEST_F(FakePlatform, ClientAreaCorrectionGivesTheRequestedSize) {
    WNDCLASSA wc = test_class();
    RegisterClassA(&wc);
    for (DWORD style : {WS_SYSMENU, WS_POPUP}) {
        HWND w = CreateWindowExA(0, "TESTCLASS", "t", style, 0, 0, 800, 600, 0, 0, 0, nullptr);
        RECT r;
        GetClientRect(w, &r);
        SetWindowPos(w, 0, 0, 0, 2 * 800 - (r.right - r.left), 2 * 600 - (r.bottom - r.top),
                     SWP_NOMOVE | SWP_NOOWNERZORDER);
        GetClientRect(w, &r);
        EXPECT_EQ(r.right - r.left, 800);
        EXPECT_EQ(r.bottom - r.top, 600);
    }
}

TEST_F(FakePlatform, QuitComesAfterWaitingMessagesAndAltF4Closes) {
    WNDCLASSA wc = test_class();
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, "TESTCLASS", "t", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, nullptr);
    fake_platform::post(w, WM_KEYDOWN, VK_LEFT, 0);
    PostQuitMessage(0);
    fake_platform::post(w, WM_SYSKEYDOWN, VK_F4, KF_ALTDOWN_BIT);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_SYSKEYDOWN));
    DispatchMessageA(&msg);
    // Default processing turns Alt+F4 into a close, and an unhandled close
    // destroys the window.
    EXPECT_EQ(seen,
              (std::vector<std::string>{"1", std::to_string(WM_SYSKEYDOWN),
                                        std::to_string(WM_CLOSE), std::to_string(WM_DESTROY)}));
    ASSERT_TRUE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_FALSE(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE));
}

}  // namespace

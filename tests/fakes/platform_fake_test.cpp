// The recording platform is what every driver and window test stands on: its
// recording and failure injection are checked here, and the windowing
// contract suite holds it to the rules the SDL port keeps.
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

}  // namespace

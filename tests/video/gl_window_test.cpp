// Window creation and teardown against the recording platform: the calls in
// order with their arguments, the records handed over, the placement, and
// what each failure shows and leaves behind.
#include "video/gl_window.h"

#include "video/gl_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "fakes/platform_fake.h"
#include "video/texture_set_stub.h"

namespace {

int procedure_calls = 0;

// The program's window procedure lives in the driver; here it only counts.
LRESULT counting_proc(HWND, UINT, WPARAM, LPARAM) {
    ++procedure_calls;
    return 0;
}

}  // namespace

namespace {

using Calls = std::vector<std::string>;

constexpr HWND kWindow = fake_platform::kFirstWindow;
constexpr HDC kDC = fake_platform::kFirstDC;
constexpr HGLRC kContext = fake_platform::kFirstContext;

class GlWindow : public ::testing::Test {
protected:
    void SetUp() override {
        fake_platform::reset();
        fake_platform::set_screen(1280, 1000);
        WindowContext = WindowContextRecord{0, 0, 0};
        std::memset(&Settings, 0, sizeof Settings);
        Settings.window_width = 800;
        Settings.window_height = 600;
        Settings.depth = 32;
        Settings.halign = 1;
        Settings.valign = 1;
        DisplayArea = DisplayAreaRecord{800, 500};
        texture_builds = 0;
        procedure_calls = 0;
    }

    const fake_platform::Window* window() const { return fake_platform::window(kWindow); }
};

const Calls kClassCalls = {
    "GetModuleHandleA(NULL)",
    "LoadIconA(0,#32517)",
    "LoadCursorA(0,#32512)",
    "RegisterClassA(VELKORANDIMUSTREPAX)",
};

const Calls kContextCalls = {
    "GetDC(256)",
    "ChoosePixelFormat(512,&)",
    "SetPixelFormat(512,1,&)",
    "wglCreateContext(512)",
    "wglMakeCurrent(512,768)",
    "ShowWindow(256,5)",
    "SetForegroundWindow(256)",
    "SetFocus(256)",
};

Calls concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(GlWindow, WindowedCreationCallsThePlatformInOrder) {
    ASSERT_EQ(create_gl_window(counting_proc), 0);
    // The frame of a WS_SYSMENU window is 6 x 29 in the fake: the window grows
    // by it so the client area is exactly 800 x 600.
    Calls expected =
        concat({kClassCalls,
                {"ChangeDisplaySettingsA(NULL,0)", "GetSystemMetrics(16)", "GetSystemMetrics(17)",
                 "CreateWindowExA(0,VELKORANDIMUSTREPAX,F4 = toggle "
                 "fullscreen,524288,240,200,800,600,0,0,16,NULL)",
                 "GetClientRect(256)", "SetWindowPos(256,0,0,0,806,629,514)"},
                kContextCalls});
    EXPECT_EQ(fake_platform::calls(), expected);
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_EQ(WindowContext.window, kWindow);
    EXPECT_EQ(WindowContext.device_context, kDC);
    EXPECT_EQ(WindowContext.gl_context, kContext);
    ASSERT_NE(window(), nullptr);
    EXPECT_TRUE(window()->visible);
    EXPECT_EQ(window()->title, "F4 = toggle fullscreen");
    EXPECT_EQ(fake_platform::current_context(), kContext);
    EXPECT_EQ(fake_platform::focus(), kWindow);
    EXPECT_EQ(fake_platform::foreground(), kWindow);
    EXPECT_EQ(procedure_calls, 1);  // WM_CREATE reached the program's procedure
}

TEST_F(GlWindow, FullScreenCreationMakesThePopupBeforeTheModeChange) {
    Settings.fullscreen = 1;
    Settings.depth = 16;
    std::strcpy(Settings.caption, "velko");
    ASSERT_EQ(create_gl_window(counting_proc), 0);
    Calls expected = concat({kClassCalls,
                             {"CreateWindowExA(0,VELKORANDIMUSTREPAX,F4 = toggle "
                              "fullscreen,2147483648,0,0,800,600,0,0,16,NULL)",
                              "ChangeDisplaySettingsA(&,4)", "GetClientRect(256)",
                              "SetWindowPos(256,0,0,0,800,600,514)", "SetWindowTextA(256,velko)"},
                             kContextCalls});
    EXPECT_EQ(fake_platform::calls(), expected);
    EXPECT_EQ(window()->title, "velko");

    DEVMODEA mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dmSize = 148;
    mode.dmFields = 0x001C0000;
    mode.dmBitsPerPel = 16;
    mode.dmPelsWidth = 800;
    mode.dmPelsHeight = 600;
    EXPECT_EQ(std::memcmp(&fake_platform::last_mode(), &mode, sizeof mode), 0)
        << "every other byte of the display-mode record is zero";
}

TEST_F(GlWindow, ClassRecordAndPixelFormatDescriptor) {
    Settings.depth = 24;
    ASSERT_EQ(create_gl_window(counting_proc), 0);

    const WNDCLASSA& wc = fake_platform::last_class();
    EXPECT_EQ(wc.style, 0x0023u);
    EXPECT_EQ(wc.lpfnWndProc, &counting_proc);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(wc.hInstance, fake_platform::kInstance);
    EXPECT_EQ(wc.hIcon, fake_platform::kIcon);
    EXPECT_EQ(wc.hCursor, fake_platform::kCursor);
    EXPECT_EQ(wc.hbrBackground, 5u);
    EXPECT_EQ(wc.lpszMenuName, nullptr);
    EXPECT_STREQ(wc.lpszClassName, "VELKORANDIMUSTREPAX");
    EXPECT_STREQ(kWindowClassName, "VELKORANDIMUSTREPAX");

    PIXELFORMATDESCRIPTOR pfd;
    std::memset(&pfd, 0, sizeof pfd);
    pfd.nSize = 40;
    pfd.nVersion = 1;
    pfd.dwFlags = 0x25;
    pfd.cColorBits = 24;
    pfd.cDepthBits = 16;
    EXPECT_EQ(std::memcmp(&fake_platform::last_pixel_format(), &pfd, sizeof pfd), 0)
        << "every other field of the descriptor is zero";
}

TEST_F(GlWindow, PlacementFollowsAlignmentWithSignedTruncatingHalves) {
    struct Case {
        int screen_w, screen_h, width, height, halign, valign, x, y;
    };
    const Case cases[] = {
        {1280, 1000, 800, 600, 0, 0, 16, 16},
        {1280, 1000, 800, 600, 1, 1, 240, 200},
        {1280, 1000, 800, 600, 2, 2, 464, 384},
        {1280, 1000, 800, 600, 3, -1, 16, 16},      // out of range acts as 0
        {1280, 1000, 801, 601, 1, 1, 239, 199},     // 479 / 2, 399 / 2
        {1024, 768, 1280, 1024, 1, 1, -128, -128},  // wider and taller than the screen
        {1024, 768, 1281, 1025, 1, 1, -128, -128},  // -257 / 2 truncates toward zero
        {1024, 768, 1280, 1024, 2, 2, -272, -272},
    };
    for (const Case& c : cases) {
        SetUp();
        fake_platform::set_screen(c.screen_w, c.screen_h);
        Settings.window_width = c.width;
        Settings.window_height = c.height;
        Settings.halign = c.halign;
        Settings.valign = c.valign;
        ASSERT_EQ(create_gl_window(counting_proc), 0);
        Calls created = fake_platform::calls_named({"CreateWindowExA", "GetSystemMetrics"});
        std::string args = std::to_string(c.x) + "," + std::to_string(c.y) + "," +
                           std::to_string(c.width) + "," + std::to_string(c.height) + ",";
        ASSERT_FALSE(created.empty());
        EXPECT_NE(created.back().find(",524288," + args), std::string::npos)
            << created.back() << " for halign " << c.halign << " valign " << c.valign;
        // The screen is asked only for placements that depend on it.
        size_t asked = (c.halign == 1 || c.halign == 2) + (c.valign == 1 || c.valign == 2);
        EXPECT_EQ(created.size(), asked + 1);
    }
}

TEST_F(GlWindow, RefusedClassOrWindowEndsCreationEarly) {
    fake_platform::fail("RegisterClassA", ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(create_gl_window(counting_proc), -1);
    EXPECT_EQ(fake_platform::boxes(), Calls{"RegisterClass() failed"});
    EXPECT_EQ(fake_platform::box_captions(), Calls{"error"});
    EXPECT_TRUE(fake_platform::calls_named({"CreateWindowExA", "ChangeDisplaySettingsA"}).empty());
    EXPECT_EQ(WindowContext.window, 0u);

    SetUp();
    fake_platform::fail("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(create_gl_window(counting_proc), -2);
    EXPECT_EQ(fake_platform::boxes(), Calls{"CreateWindow() failed"});
    EXPECT_TRUE(fake_platform::class_registered("VELKORANDIMUSTREPAX"));
    EXPECT_TRUE(fake_platform::calls_named({"GetDC", "SetWindowPos"}).empty());
    EXPECT_EQ(WindowContext.window, 0u);

    // In full screen the mode change has been tried before the window check.
    SetUp();
    Settings.fullscreen = 1;
    fake_platform::fail("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(create_gl_window(counting_proc), -2);
    EXPECT_EQ(fake_platform::calls_named({"ChangeDisplaySettingsA"}),
              Calls{"ChangeDisplaySettingsA(&,4)"});
}

TEST_F(GlWindow, RefusedDisplayModeStillGivesAWorkingWindow) {
    Settings.fullscreen = 1;
    fake_platform::fail("ChangeDisplaySettingsA", 0, -1, DISP_CHANGE_BADMODE);
    EXPECT_EQ(create_gl_window(counting_proc), 0);
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_TRUE(std::regex_match(
        fake_platform::boxes()[0],
        std::regex("failure:\n ChangeDisplaySettings\\(0x[0-9a-f]+,0x4\\)\n "
                   "returned -2\n mode 800 x 600 x 32: the display has no such mode")))
        << fake_platform::boxes()[0];
    EXPECT_TRUE(window()->visible);
    EXPECT_EQ(fake_platform::current_context(), kContext);
}

TEST_F(GlWindow, PixelFormatFailuresAreShownAndCreationGoesOn) {
    // ChoosePixelFormat failing gives two messages: SetPixelFormat is then
    // tried with index 0, which the platform refuses in turn.
    fake_platform::fail("ChoosePixelFormat", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(create_gl_window(counting_proc), 0);
    ASSERT_EQ(fake_platform::boxes().size(), 2u);
    EXPECT_TRUE(
        std::regex_match(fake_platform::boxes()[0],
                         std::regex("ChoosePixelFormat\\(0x200,0x[0-9a-f]+\\); \nreturned an "
                                    "errorcode 87")))
        << fake_platform::boxes()[0];
    EXPECT_TRUE(
        std::regex_match(fake_platform::boxes()[1],
                         std::regex("SetPixelFormat\\(0x200,0x0,0x[0-9a-f]+\\); \nreturned an "
                                    "errorcode 2000")))
        << fake_platform::boxes()[1];
    EXPECT_EQ(fake_platform::calls_named({"SetPixelFormat", "wglCreateContext"}),
              (Calls{"SetPixelFormat(512,0,&)", "wglCreateContext(512)"}));

    SetUp();
    fake_platform::fail("SetPixelFormat", ERROR_INVALID_PIXEL_FORMAT);
    EXPECT_EQ(create_gl_window(counting_proc), 0);
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_TRUE(
        std::regex_match(fake_platform::boxes()[0],
                         std::regex("SetPixelFormat\\(0x200,0x1,0x[0-9a-f]+\\); \nreturned an "
                                    "errorcode 2000")))
        << fake_platform::boxes()[0];
    EXPECT_TRUE(window()->visible);
}

TEST_F(GlWindow, FailedContextCleansUpAndLeavesTheWindowMinimised) {
    fake_platform::fail("wglCreateContext", ERROR_INVALID_PIXEL_FORMAT);
    EXPECT_EQ(create_gl_window(counting_proc), -6);
    // The error code is taken at once, before the clean-up calls can change it.
    Calls tail(fake_platform::calls().end() - 6, fake_platform::calls().end());
    EXPECT_EQ(tail, (Calls{"wglCreateContext(512)", "GetLastError()", "ReleaseDC(256,512)",
                           "CloseWindow(256)", "UnregisterClassA(VELKORANDIMUSTREPAX,16)",
                           "MessageBoxA(0,wglCreateContext(0x200); \nreturned an errorcode "
                           "2000,error,0)"}));
    // The unregistration fails (the class still has its window) with an error
    // of its own; the message shows the context's error, taken first.
    EXPECT_TRUE(fake_platform::class_registered("VELKORANDIMUSTREPAX"));
    EXPECT_EQ(WindowContext.window, kWindow);
    EXPECT_EQ(WindowContext.device_context, kDC);
    EXPECT_EQ(WindowContext.gl_context, 0u);
    EXPECT_TRUE(window()->minimized);
    EXPECT_FALSE(window()->visible);
}

TEST_F(GlWindow, UnselectableContextLeavesTheWindowHidden) {
    fake_platform::fail("wglMakeCurrent", ERROR_INVALID_HANDLE);
    EXPECT_EQ(create_gl_window(counting_proc), -7);
    EXPECT_EQ(fake_platform::boxes(), Calls{"wglMakeCurrent(0x200,0x300) \n failure :( "});
    EXPECT_TRUE(
        fake_platform::calls_named({"ShowWindow", "SetForegroundWindow", "SetFocus"}).empty());
    EXPECT_FALSE(window()->visible);
    EXPECT_FALSE(window()->minimized);
    EXPECT_EQ(WindowContext.window, kWindow);
    EXPECT_EQ(WindowContext.device_context, kDC);
    EXPECT_EQ(WindowContext.gl_context, kContext);
}

TEST_F(GlWindow, SetUpSelectsTheContextAndBuildsTexturesEvenAfterAFailure) {
    ASSERT_EQ(create_gl_window(counting_proc), 0);
    fake_platform::clear_calls();
    init_gl_state();
    EXPECT_EQ(fake_platform::calls(), Calls{"wglMakeCurrent(512,768)"});
    EXPECT_EQ(texture_builds, 1);
    EXPECT_TRUE(fake_platform::boxes().empty());

    fake_platform::fail("wglMakeCurrent", ERROR_INVALID_HANDLE, 1);
    init_gl_state();
    EXPECT_EQ(fake_platform::boxes(), Calls{"wglMakeCurrent(0x200,0x300) \n failure :( "});
    EXPECT_EQ(texture_builds, 2);
    EXPECT_EQ(make_gl_current(), 0);
}

TEST_F(GlWindow, TeardownReleasesEverythingInOrder) {
    ASSERT_EQ(create_gl_window(counting_proc), 0);
    fake_platform::clear_calls();
    destroy_gl_window();
    EXPECT_EQ(fake_platform::calls(),
              (Calls{"GetModuleHandleA(NULL)", "wglMakeCurrent(0,0)", "wglDeleteContext(768)",
                     "ReleaseDC(256,512)", "DestroyWindow(256)",
                     "UnregisterClassA(VELKORANDIMUSTREPAX,16)"}));
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_EQ(WindowContext.window, 0u);
    EXPECT_EQ(WindowContext.device_context, 0u);
    EXPECT_EQ(WindowContext.gl_context, 0u);
    EXPECT_FALSE(fake_platform::class_registered("VELKORANDIMUSTREPAX"));
    // The display mode is left alone.
    EXPECT_TRUE(fake_platform::calls_named({"ChangeDisplaySettingsA"}).empty());

    // A second creation registers the class again.
    EXPECT_EQ(create_gl_window(counting_proc), 0);
}

TEST_F(GlWindow, TeardownAfterAFailedCreationReleasesOnlyWhatExists) {
    // As after a failed re-creation: the old window is gone, the new one was
    // never made, and the class is still registered. Null handles are not
    // "released" into failure messages; the class is unregistered.
    ASSERT_EQ(create_gl_window(counting_proc), 0);
    destroy_gl_window();
    fake_platform::fail("CreateWindowExA");
    ASSERT_EQ(create_gl_window(counting_proc), -2);
    fake_platform::reset();
    fake_platform::clear_calls();
    WNDCLASSA wc{};
    wc.lpszClassName = "VELKORANDIMUSTREPAX";
    RegisterClassA(&wc);
    fake_platform::clear_calls();
    destroy_gl_window();
    EXPECT_EQ(fake_platform::calls(), (Calls{"GetModuleHandleA(NULL)", "wglMakeCurrent(0,0)",
                                             "UnregisterClassA(VELKORANDIMUSTREPAX,16)"}));
    EXPECT_TRUE(fake_platform::boxes().empty());
}

TEST_F(GlWindow, FailedReleasesKeepTheirHandlesAndTeardownGoesOn) {
    struct Case {
        const char* op;
        Calls messages;
    };
    // A window that is not destroyed keeps its class from going away too.
    const Case cases[] = {
        {"wglDeleteContext", {"WglDeleteContext(0x300) failure"}},
        {"ReleaseDC", {"ReleaseDC(0x100) failed "}},
        {"DestroyWindow", {"DestroyWindow failed", "UnregisterClassFailed"}},
        {"UnregisterClassA", {"UnregisterClassFailed"}},
    };
    for (const Case& c : cases) {
        SetUp();
        ASSERT_EQ(create_gl_window(counting_proc), 0);
        fake_platform::fail(c.op);
        destroy_gl_window();
        EXPECT_EQ(fake_platform::boxes(), c.messages) << c.op;
        const std::string op = c.op;
        EXPECT_EQ(WindowContext.gl_context, op == "wglDeleteContext" ? kContext : 0u) << op;
        EXPECT_EQ(WindowContext.device_context, op == "ReleaseDC" ? kDC : 0u) << op;
        EXPECT_EQ(WindowContext.window, op == "DestroyWindow" ? kWindow : 0u) << op;
        EXPECT_EQ(fake_platform::calls_named({"UnregisterClassA"}).size(), 1u) << op;
    }

    // All four failing: four messages in order, every handle kept.
    SetUp();
    ASSERT_EQ(create_gl_window(counting_proc), 0);
    for (const Case& c : cases) fake_platform::fail(c.op);
    destroy_gl_window();
    EXPECT_EQ(fake_platform::boxes(),
              (Calls{"WglDeleteContext(0x300) failure", "ReleaseDC(0x100) failed ",
                     "DestroyWindow failed", "UnregisterClassFailed"}));
    EXPECT_EQ(WindowContext.window, kWindow);
    EXPECT_EQ(WindowContext.device_context, kDC);
    EXPECT_EQ(WindowContext.gl_context, kContext);
}

TEST_F(GlWindow, DrawingAreaIsLetterboxedIntoTheClientAreaTheDesktopGives) {
    Viewport = ViewportRecord{16.0, 10.0};
    struct Case {
        int32_t width, height;
        ViewRect expected;
    };
    const Case cases[] = {
        {800, 600, {0, 50, 800, 500}},      // the configured size: the area as configured
        {1920, 1080, {96, 0, 1728, 1080}},  // an emulated mode's full screen: bars left and right
        {1024, 768, {0, 64, 1024, 640}},    // a larger 4:3 screen: bars above and below
        {801, 600, {0, 50, 801, 500}},      // truncated to whole pixels, never stretched
        {0, 0, {0, 50, 800, 500}},          // no size told: the configured one
    };
    for (const Case& c : cases) {
        const ViewRect r = view_rect(c.width, c.height);
        EXPECT_EQ(
            (std::vector<int32_t>{r.x, r.y, r.width, r.height}),
            (std::vector<int32_t>{c.expected.x, c.expected.y, c.expected.width, c.expected.height}))
            << c.width << " x " << c.height;
    }
}

}  // namespace

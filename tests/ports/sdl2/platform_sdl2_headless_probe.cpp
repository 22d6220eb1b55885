// Run with no display at all (DISPLAY unset): the platform must refuse
// windows with an error code, keep its message queue working and return from
// a message box at once. Prints "headless: ok" and exits 0 when it does.
#include <chrono>
#include <cstdio>

#include "platform/platform.h"

namespace {

int failures = 0;

void expect(bool condition, const char* what) {
    if (!condition) {
        std::printf("headless: FAILED %s\n", what);
        ++failures;
    }
}

LRESULT never_called(HWND, UINT, WPARAM, LPARAM) {
    std::printf("headless: FAILED a window procedure ran\n");
    ++failures;
    return 0;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    MSG msg{};
    expect(!PeekMessageA(&msg, 0, 0, 0, PM_REMOVE), "empty queue gives no message");
    PostQuitMessage(7);
    expect(PeekMessageA(&msg, 0, 0, 0, PM_REMOVE) && msg.message == WM_QUIT && msg.wParam == 7,
           "WM_QUIT after PostQuitMessage");
    expect(!PeekMessageA(&msg, 0, 0, 0, PM_REMOVE), "WM_QUIT is taken once");

    WNDCLASSA wc{};
    wc.lpfnWndProc = never_called;
    wc.lpszClassName = "headless";
    expect(RegisterClassA(&wc) != 0, "class registration needs no display");
    HWND window = CreateWindowExA(0, "headless", "headless", WS_POPUP, 0, 0, 320, 240, 0, 0,
                                  GetModuleHandleA(nullptr), nullptr);
    expect(window == 0, "no window without a display");
    expect(GetLastError() == ERROR_NO_DISPLAY, "the error code says there is no display");
    expect(GetSystemMetrics(SM_CXSCREEN) == 0, "no screen size without a display");
    expect(ChangeDisplaySettingsA(nullptr, 0) == DISP_CHANGE_SUCCESSFUL, "nothing to restore");

    auto start = std::chrono::steady_clock::now();
    expect(MessageBoxA(0, "nobody sees this", "headless box", MB_OK) == 0, "a box fails");
    expect(std::chrono::steady_clock::now() - start < std::chrono::seconds(2),
           "a box fails at once");
    expect(UnregisterClassA("headless", GetModuleHandleA(nullptr)), "class goes away");

    if (failures == 0) std::printf("headless: ok\n");
    return failures == 0 ? 0 : 1;
}

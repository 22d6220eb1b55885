// The recording windowing platform: implements every operation of
// platform/platform.h without a display, logs each call with its arguments in
// order, and can be told to fail any call with an error code. Link it instead
// of a port.
//
// Calls are recorded as "Name(arg,arg,...)": integers and handles in decimal,
// strings as they are, a null pointer as NULL and any other pointer as &.
// Structures passed by pointer are kept whole (last_class, last_mode, ...).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake_platform {

// Handles the fake hands out (deterministic after reset()).
constexpr HINSTANCE kInstance = 0x10;
constexpr HICON kIcon = 0x20;
constexpr HCURSOR kCursor = 0x21;
constexpr HANDLE kStdOut = 0x30;
constexpr HWND kFirstWindow = 0x100;  // then 0x101, ...
constexpr HDC kFirstDC = 0x200;
constexpr HGLRC kFirstContext = 0x300;

struct Window {
    HWND handle = 0;
    bool alive = false;
    std::string class_name;
    std::string title;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;  // outer size
    bool visible = false;
    bool minimized = false;
    HDC dc = 0;
};

// Forget everything: calls, windows, classes, queue, failures, console, boxes.
void reset();

const std::vector<std::string>& calls();
// Only the calls whose name is one of names, in order.
std::vector<std::string> calls_named(const std::vector<std::string>& names);
void clear_calls();

// Make op fail (return its failure value; GetLastError gives error) for the
// next `times` calls, or for good when times is -1. For ChangeDisplaySettingsA
// the failure value is `result` (DISP_CHANGE_FAILED unless given).
void fail(const std::string& op, DWORD error = ERROR_INVALID_PARAMETER, int times = -1,
          long result = 0);

// What WriteConsoleA received, concatenated.
const std::string& console();
// Texts and captions of the message boxes shown, in order.
const std::vector<std::string>& boxes();
const std::vector<std::string>& box_captions();

// The desktop area that GetSystemMetrics(SM_CX/CYFULLSCREEN) report.
void set_screen(int width, int height);

// Queue a message as if the platform had posted it.
void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Called after every recorded call with its record; tests use it to inject
// messages at the right moment (for example after the n-th SwapBuffers).
void on_call(std::function<void(const std::string&)> hook);
// Called while a message box is "open", as the platform's modal loop would.
void on_box(std::function<void(const std::string& text)> hook);

const Window* window(HWND handle);
HWND focus();
HWND foreground();
HGLRC current_context();
int cursor_display_count();  // 0 initially; ShowCursor(FALSE) lowers it
int swap_count();
bool class_registered(const std::string& name);
const WNDCLASSA& last_class();
const DEVMODEA& last_mode();
const PIXELFORMATDESCRIPTOR& last_pixel_format();
// Messages delivered to window procedures, as "hwnd:message:wparam:lparam".
const std::vector<std::string>& delivered();

}  // namespace fake_platform

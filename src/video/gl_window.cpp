// Window and GL context: creation, GL set-up and teardown on the windowing
// platform of platform/platform.h. The order of the platform calls is part of the
// behaviour (the window is shown only once its context is current, a windowed
// creation always restores the desktop mode first), so each function below
// reads as the sequence it performs.
#include "video/gl_window.h"

#include "video/gl_view.h"

#include <GL/gl.h>

#include <cstring>

#include "config/settings.h"
#include "platform/diagnostics.h"
#include "resources/textures.h"

WindowContextRecord WindowContext = {0, 0, 0};

const char* const kWindowClassName = "VELKORANDIMUSTREPAX";
const char* const kDefaultWindowTitle = "F4 = toggle fullscreen";

namespace {

// The system-colour brush value the class asks for as its background.
constexpr HBRUSH kBackgroundBrush = 5;
// Margin from the screen edge for near- and far-edge placement.
constexpr int kEdgeMargin = 16;
constexpr BYTE kDepthBufferBits = 16;

// Addresses go into messages as "0x%x"; the platform's handles are 32-bit,
// and an address is shown by its low 32 bits in the same way.
unsigned address_of(const void* p) {
    return static_cast<unsigned>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
}

// What a refused mode change means, in words; the platform's own detail (if
// it has one) is on standard error.
const char* display_change_reason(LONG result) {
    switch (result) {
        case DISP_CHANGE_BADMODE:
            return "the display has no such mode";
        case DISP_CHANGE_FAILED:
            return "the display could not switch to it";
        default:
            return "refused";
    }
}

WNDCLASSA window_class(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSA wc{};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = procedure;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(0, IDI_WINLOGO);
    wc.hCursor = LoadCursorA(0, IDC_ARROW);
    wc.hbrBackground = kBackgroundBrush;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kWindowClassName;
    return wc;
}

PIXELFORMATDESCRIPTOR pixel_format() {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    // The settings keep depth within 1..128, which fits the byte.
    pfd.cColorBits = static_cast<BYTE>(Settings.depth);
    pfd.cDepthBits = kDepthBufferBits;
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}

// The popup is made first and the display switched afterwards; a refused
// mode still leaves a usable window on the unchanged display.
HWND create_fullscreen_window(HINSTANCE instance) {
    HWND window =
        CreateWindowExA(0, kWindowClassName, kDefaultWindowTitle, WS_POPUP, 0, 0,
                        Settings.window_width, Settings.window_height, 0, 0, instance, nullptr);
    DEVMODEA mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof(DEVMODEA);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = static_cast<DWORD>(Settings.depth);
    mode.dmPelsWidth = static_cast<DWORD>(Settings.window_width);
    mode.dmPelsHeight = static_cast<DWORD>(Settings.window_height);
    LONG result = ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
    if (result != DISP_CHANGE_SUCCESSFUL)
        ErrorBox(
            "failure:\n ChangeDisplaySettings(0x%x,0x%x)\n returned %i\n mode %i x %i x %i: %s",
            address_of(&mode), static_cast<unsigned>(CDS_FULLSCREEN), static_cast<int>(result),
            Settings.window_width, Settings.window_height, Settings.depth,
            display_change_reason(result));
    return window;
}

HWND create_windowed_window(HINSTANCE instance) {
    // Undoes an earlier full-screen mode; harmless when none was set.
    ChangeDisplaySettingsA(nullptr, 0);
    POINT at = windowed_position();
    return CreateWindowExA(0, kWindowClassName, kDefaultWindowTitle, WS_SYSMENU, at.x, at.y,
                           Settings.window_width, Settings.window_height, 0, 0, instance, nullptr);
}

// The window was made with the client size as its outer size; grow it by its
// own frame so that the client area gets exactly the configured size.
void correct_client_area(HWND window) {
    // Should the query fail, the rectangle still holds the requested size and
    // the window keeps it.
    RECT client = {0, 0, Settings.window_width, Settings.window_height};
    GetClientRect(window, &client);
    SetWindowPos(window, HWND_TOP, 0, 0, 2 * Settings.window_width - (client.right - client.left),
                 2 * Settings.window_height - (client.bottom - client.top),
                 SWP_NOMOVE | SWP_NOOWNERZORDER);
}

int placement(int align, int available, int size) {
    switch (align) {
        case 1:
            return (available - size) / 2;
        case 2:
            return available - size - kEdgeMargin;
        default:
            return kEdgeMargin;
    }
}

}  // namespace

POINT windowed_position() {
    POINT at;
    // The screen is asked only for the placements that need it.
    int cx = (Settings.halign == 1 || Settings.halign == 2) ? GetSystemMetrics(SM_CXFULLSCREEN) : 0;
    at.x = placement(Settings.halign, cx, Settings.window_width);
    int cy = (Settings.valign == 1 || Settings.valign == 2) ? GetSystemMetrics(SM_CYFULLSCREEN) : 0;
    at.y = placement(Settings.valign, cy, Settings.window_height);
    return at;
}

void apply_caption(HWND window) {
    // Copied with a terminator of our own: the title never reads past the field.
    char caption[sizeof Settings.caption + 1];
    std::memcpy(caption, Settings.caption, sizeof Settings.caption);
    caption[sizeof Settings.caption] = '\0';
    if (caption[0] != '\0') SetWindowTextA(window, caption);
}

int create_gl_window(WNDPROC procedure) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = window_class(instance, procedure);
    if (RegisterClassA(&wc) == 0) {
        ErrorBox("RegisterClass() failed");
        return -1;
    }

    WindowContext.window =
        Settings.fullscreen ? create_fullscreen_window(instance) : create_windowed_window(instance);
    HWND window = WindowContext.window;
    if (window == 0) {
        ErrorBox("CreateWindow() failed");
        return -2;
    }

    correct_client_area(window);
    apply_caption(window);

    PIXELFORMATDESCRIPTOR pfd = pixel_format();
    WindowContext.device_context = GetDC(window);
    HDC dc = WindowContext.device_context;

    int format = ChoosePixelFormat(dc, &pfd);
    if (format == 0)
        ErrorBox("ChoosePixelFormat(0x%x,0x%x); \nreturned an errorcode %i", dc, address_of(&pfd),
                 static_cast<int>(GetLastError()));
    if (!SetPixelFormat(dc, format, &pfd))
        ErrorBox("SetPixelFormat(0x%x,0x%x,0x%x); \nreturned an errorcode %i", dc,
                 static_cast<unsigned>(format), address_of(&pfd), static_cast<int>(GetLastError()));

    WindowContext.gl_context = wglCreateContext(dc);
    if (WindowContext.gl_context == 0) {
        // Taken before the clean-up calls can overwrite it.
        DWORD error = GetLastError();
        ReleaseDC(window, dc);
        CloseWindow(window);
        UnregisterClassA(kWindowClassName, instance);
        ErrorBox("wglCreateContext(0x%x); \nreturned an errorcode %i", dc, static_cast<int>(error));
        return -6;
    }

    // A window without a current context is never shown.
    if (make_gl_current() != 0) return -7;

    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(window);
    return 0;
}

int make_gl_current() {
    if (wglMakeCurrent(WindowContext.device_context, WindowContext.gl_context)) return 0;
    ErrorBox("wglMakeCurrent(0x%x,0x%x) \n failure :( ", WindowContext.device_context,
             WindowContext.gl_context);
    return -1;
}

void init_gl_state() {
    make_gl_current();  // a failure has shown its message; the set-up goes on

    set_up_view();
    build_textures();
}

void destroy_gl_window() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    wglMakeCurrent(0, 0);

    // A handle that is already null has nothing to release: after a failed
    // re-creation the quit request runs this teardown once more, and telling
    // the user that releasing nothing failed would only alarm.
    if (WindowContext.gl_context) {
        if (wglDeleteContext(WindowContext.gl_context))
            WindowContext.gl_context = 0;
        else
            ErrorBox("WglDeleteContext(0x%x) failure", WindowContext.gl_context);
    }

    if (WindowContext.device_context) {
        if (ReleaseDC(WindowContext.window, WindowContext.device_context))
            WindowContext.device_context = 0;
        else
            ErrorBox("ReleaseDC(0x%x) failed ", WindowContext.window);
    }

    if (WindowContext.window) {
        if (DestroyWindow(WindowContext.window))
            WindowContext.window = 0;
        else
            ErrorBox("DestroyWindow failed");
    }

    if (!UnregisterClassA(kWindowClassName, instance)) ErrorBox("UnregisterClassFailed");
}

// The program's one window with its GL context, windowed or full screen.
//
// create_gl_window makes the window class, the window (placed by the settings,
// its client area grown to exactly window_width x window_height), the pixel
// format and the GL context, in that order, and shows the window only once the
// context is current. init_gl_state then fixes the viewport and projection for
// the letterboxed drawing area and builds the texture set in the new context.
// destroy_gl_window releases everything again; a release that fails keeps its
// handle in WindowContext and the teardown goes on.
//
// The window procedure is the caller's: create_gl_window registers the
// class with it, as every window of the program gets the same one.
#pragma once

#include "platform/platform.h"

struct WindowContextRecord {
    HWND window;
    HDC device_context;
    HGLRC gl_context;
};

extern WindowContextRecord WindowContext;

extern const char* const kWindowClassName;  // "VELKORANDIMUSTREPAX"

// The title every window starts with; a configured caption replaces it.
extern const char* const kDefaultWindowTitle;  // "F4 = toggle fullscreen"

// 0 success; -1 class not registered; -2 window not created;
// -6 GL context not created; -7 GL context not selected.
int create_gl_window(WNDPROC procedure);
void init_gl_state();
void destroy_gl_window();
// 0 when WindowContext's GL context is current, -1 (after its message) if not.
int make_gl_current();
void apply_caption(HWND window);

// Top-left corner of a windowed window of the configured size, from halign and
// valign (0 near edge, 1 centred, 2 far edge, anything else as 0).
POINT windowed_position();

// The program's one window with its GL context, windowed or full screen.
#pragma once

#include "shell/platform.h"

struct WindowContextRecord {
    HWND window;
    HDC device_context;
    HGLRC gl_context;
};

extern WindowContextRecord WindowContext;

extern const char* const kWindowClassName;  // "VELKORANDIMUSTREPAX"

// 0 success; -1 class not registered; -2 window not created;
// -6 GL context not created; -7 GL context not selected.
int create_gl_window();
void init_gl_state();
void destroy_gl_window();
int make_gl_current();
void apply_caption(HWND window);

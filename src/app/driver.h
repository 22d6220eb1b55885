// The program's control flow: start-up, main loop, shutdown, the window
// procedure of the demo window and the full-screen toggle.
#pragma once

#include "platform/platform.h"

// Runs the whole presentation; always 0.
int run_presentation();
// 0 on success, -2 when the window cannot be made.
int toggle_fullscreen(int first_time);
// The procedure of every window the program makes.
LRESULT window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

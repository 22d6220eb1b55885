// Small Xlib helpers for the SDL platform tests: find a top-level window by
// its title, read its real size from the X server, and ask it to close the way
// a window manager does. Each call opens and closes its own connection; call
// them from the test's main thread only (Xlib's error handler is process-wide).
#pragma once

#include <string>

namespace xhelper {

// The X window whose title (WM_NAME) is exactly name, or 0.
unsigned long find_window(const std::string& name);
// The window's size as the X server has it; false when there is no such window.
bool window_size(unsigned long window, int* width, int* height);
// Sends the WM_PROTOCOLS / WM_DELETE_WINDOW client message.
bool send_delete_window(unsigned long window);

}  // namespace xhelper

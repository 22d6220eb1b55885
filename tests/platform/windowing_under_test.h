// What the windowing contract suite needs from the implementation it runs
// against, beyond the contract itself: a clean start, and a way to make the
// user press a key or ask to close a window.
#pragma once

#include "platform/platform.h"

namespace windowing_under_test {

// Called before each case, with no window of the suite's class left.
void reset();
// The user presses key (a virtual-key code) in window; the key-down is queued.
void press_key(HWND window, UINT key);
// The user (or the window manager) asks to close window.
void ask_to_close(HWND window);

}  // namespace windowing_under_test

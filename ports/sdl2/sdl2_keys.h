// Turning SDL keyboard events into Win32 key messages: the virtual-key code
// for wParam and the flag bits of lParam. Kept apart from the rest of the SDL
// platform so that it can be checked without a display.
#pragma once

#include <SDL2/SDL_keyboard.h>

#include "shell/platform.h"

struct KeyMessage {
    UINT message;   // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP
    WPARAM vk;      // Win32 virtual-key code
    LPARAM lparam;  // repeat count 1, extended-key, Alt, previous-state and up bits
};

// The Win32 virtual-key code of an SDL key, or 0 for a key Win32 has no code for.
// Letters and digits follow the keyboard layout (the keycode) like Win32, and
// fall back to their physical position for layouts without Latin letters.
WPARAM virtual_key_of(const SDL_Keysym& key);

// Fills *out for a key press (pressed) or release; repeat is SDL's auto-repeat
// flag. Returns false for keys without a virtual-key code: they are dropped.
bool translate_key(const SDL_Keysym& key, bool pressed, bool repeat, KeyMessage* out);

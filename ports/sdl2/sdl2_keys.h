// SDL2 PLATFORM: SDL keyboard events turned into Win32 key messages.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. The key messages PeekMessageA
//   hands out: the virtual-key code for wParam and the flag bits of lParam.
//
// HOW
//   A table from SDL keycodes to Win32 virtual-key codes, with the keys of
//   the 101-key board that Win32 calls "extended". Kept apart from the rest
//   of the platform so that it can be checked without a display.
//
// LIMITATIONS
//   - Keys Win32 has no code for (SDLK_MODE, media keys ...) are dropped.
//   - The scan code (lParam bits 16-23) is always 0.
//
// DEPENDENCIES
//   SDL 2 keyboard (keycodes, scancodes, modifiers).
#pragma once

#include <SDL2/SDL_keyboard.h>

#include "platform/platform.h"

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

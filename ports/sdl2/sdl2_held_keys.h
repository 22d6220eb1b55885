// SDL2 PLATFORM: the key state the platform keeps itself.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. Whether a key press is an
//   auto-repeat (the previous-state bit of a key message), for the queue.
//
// HOW
//   See sdl2_held_keys.cpp.
//
// LIMITATIONS
//   None beyond those of sdl2_held_keys.cpp.
//
// DEPENDENCIES
//   SDL 2 keyboard events.
#pragma once

#include <SDL2/SDL_events.h>

#include "sdl2_keys.h"

namespace sdl2 {

// A key went down at now (SDL's milliseconds); sdl_repeat is SDL's own
// auto-repeat flag. True when Win32 would call the press a repeat.
bool is_repeat_press(const KeyMessage& key, const SDL_Keysym& sym, bool sdl_repeat, Uint32 now);
// A key went up; a release that names a window that is gone does not count.
void release_key(const KeyMessage& key, bool window_alive);
// Forgets the keys that are down here, lost by SDL and up at the X server.
void settle_lost_keys();

}  // namespace sdl2

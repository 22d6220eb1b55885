// Whether a key is physically held right now, asked of the X server: the
// one witness to a key released while no window of ours had the focus.
#pragma once

#include <SDL2/SDL.h>

enum class PhysicalKey { up, down, unknown };

// unknown when there is no X display (Wayland, console) or no X key for it.
PhysicalKey physical_key_state(SDL_Keycode key);

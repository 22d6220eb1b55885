// SDL2 PLATFORM: the key state the platform keeps itself.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. Whether a key press is an
//   auto-repeat (the previous-state bit, 30, of a key message), for the queue
//   of sdl2_events.cpp.
//
// HOW
//   Win32 keeps one key state for the whole system, so a key held while the
//   focused window is destroyed and replaced still repeats (bit 30 set) in the
//   new window. SDL forgets its key state when the focus window goes away: it
//   sends a release for every held key, drops the real release if it comes
//   before the new window has the focus, and takes the next auto-repeat for a
//   fresh press. So the platform keeps its own state: releases that name a
//   window that is gone do not count, and while a key is down here but not in
//   SDL's state, the X server is asked on every pump whether it is still held:
//   the one witness to a key released while no window of ours had the focus.
//
// LIMITATIONS
//   - Without an X server to ask (Wayland, a console, a key X has no name
//     for), a press within the auto-repeat delay (1 s) of the last one counts
//     as a repeat.
//
// DEPENDENCIES
//   SDL 2 keyboard state; Xlib, on a connection of its own, when DISPLAY is set.
#include "sdl2_held_keys.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace {

// A connection of our own, opened on first need: the keyboard state is the
// server's, whichever connection asks.
Display* display() {
    static bool tried = false;
    static Display* connection = nullptr;
    if (!tried) {
        tried = true;
        if (std::getenv("DISPLAY")) connection = XOpenDisplay(nullptr);
    }
    return connection;
}

enum class PhysicalKey { up, down, unknown };

// Whether a key is physically held right now, asked of the X server; unknown
// when there is no X display or no X key for it.
PhysicalKey physical_key_state(SDL_Keycode key) {
    Display* d = display();
    if (!d) return PhysicalKey::unknown;
    // SDL's key names are X's keysym names for the keys that matter here
    // ("Escape", "F4", "Left", "A").
    KeySym sym = XStringToKeysym(SDL_GetKeyName(key));
    KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
    if (code == 0) return PhysicalKey::unknown;
    char keys[32];
    XQueryKeymap(d, keys);
    return (keys[code / 8] & (1 << (code % 8))) ? PhysicalKey::down : PhysicalKey::up;
}

struct HeldKey {
    bool down = false;
    bool unknown = false;  // down here, not in SDL, and no X server to ask
    SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN;
    SDL_Keycode sym = 0;
    Uint32 last_press = 0;
};
HeldKey HeldKeys[256];
constexpr Uint32 kRepeatWindowMs = 1000;

}  // namespace

bool sdl2::is_repeat_press(const KeyMessage& key, const SDL_Keysym& sym, bool sdl_repeat,
                           Uint32 now) {
    HeldKey& held = HeldKeys[key.vk & 0xFF];
    bool repeat = sdl_repeat || (held.down && !held.unknown) ||
                  (held.down && now - held.last_press < kRepeatWindowMs);
    held = HeldKey{true, false, sym.scancode, sym.sym, now};
    return repeat;
}

void sdl2::release_key(const KeyMessage& key, bool window_alive) {
    if (window_alive) HeldKeys[key.vk & 0xFF] = HeldKey{};
}

// Keys that are down here but that SDL has lost track of: up is up.
void sdl2::settle_lost_keys() {
    const Uint8* sdl_state = SDL_GetKeyboardState(nullptr);
    for (HeldKey& held : HeldKeys) {
        if (!held.down || held.unknown || sdl_state[held.scancode]) continue;
        switch (physical_key_state(held.sym)) {
            case PhysicalKey::up:
                held = HeldKey{};
                break;
            case PhysicalKey::down:
                break;
            case PhysicalKey::unknown:
                held.unknown = true;
                break;
        }
    }
}

#include "sdl2_keystate.h"

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

}  // namespace

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

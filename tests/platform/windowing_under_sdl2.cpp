// The contract suite on the SDL port: the user's key and close request are
// pushed as the SDL events the X server's would become.
#include <SDL2/SDL.h>

#include "sdl2/sdl2_internal.h"

namespace windowing_under_test {

void reset() {}

void press_key(HWND window, UINT key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = SDL_GetWindowID(sdl2::sdl_window_of(window));
    event.key.state = SDL_PRESSED;
    // The suite presses only keys whose SDL code is their character.
    event.key.keysym.sym = key == VK_ESCAPE ? SDLK_ESCAPE : static_cast<SDL_Keycode>(key);
    SDL_PushEvent(&event);
}

void ask_to_close(HWND window) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    event.window.windowID = SDL_GetWindowID(sdl2::sdl_window_of(window));
    SDL_PushEvent(&event);
}

}  // namespace windowing_under_test

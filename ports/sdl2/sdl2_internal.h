// What the files of the SDL platform share with each other; nothing outside
// ports/sdl2 includes this but the platform's own test.
#pragma once

#include <SDL2/SDL_video.h>

#include "shell/platform.h"

// A platform call failed because an SDL call did: sets the code and prints
// SDL's own reason on standard error, where no reason is ever lost.
void report_sdl_failure(const char* sdl_call, DWORD code);
// Writes all of text to a file descriptor, retrying after signals and short
// writes. False when the descriptor refused (closed, broken pipe, full disk).
bool write_fully(int fd, const void* text, size_t size, size_t* written);
// The SDL window of a live window handle, or null.
SDL_Window* sdl_window_of(HWND window);
// The newest visible window, or null: an ownerless message box is stacked
// above it, so that it is not hidden behind a full-screen window.
SDL_Window* newest_visible_sdl_window();

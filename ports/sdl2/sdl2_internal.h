// SDL2 PLATFORM: what its subsystems call in each other.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. The few functions one file of the
//   port offers the others; nothing outside ports/sdl2 includes this but the
//   port's own test.
//
// HOW
//   Each function is defined in the file named above it.
//
// LIMITATIONS
//   None.
//
// DEPENDENCIES
//   SDL 2 video (the window and display-mode types).
#pragma once

#include <SDL2/SDL_video.h>

#include <string>

#include "platform/platform.h"

namespace sdl2 {

// True when the environment names an X11 or Wayland display.
bool has_display();
// Sets a window's title from UTF-8 text, whatever the character type.
void set_window_title(SDL_Window* window, const char* text);

struct WindowEntry;

// sdl2_reporting.cpp
// A platform call failed because an SDL call did: sets the code and prints
// SDL's own reason on standard error, where no reason is ever lost.
void report_sdl_failure(const char* sdl_call, DWORD code);

// sdl2_windows.cpp
// Puts a window the manager has just framed where it was asked to be.
void settle_placement(WindowEntry& w);
// The SDL window of a live window handle, or null.
SDL_Window* sdl_window_of(HWND window);
// The newest visible window, or null: an ownerless message box is stacked
// above it, so that it is not hidden behind a full-screen window.
SDL_Window* newest_visible_sdl_window();

// sdl2_display_modes.cpp
// Puts the window into the full-screen mode; false, with SDL's reason on
// standard error, when SDL refuses.
bool make_fullscreen(const WindowEntry& w, const SDL_DisplayMode& mode);

// sdl2_events.cpp
// Calls the window's procedure, as SendMessage does; a window that is gone
// receives nothing.
LRESULT deliver(HWND handle, UINT message, WPARAM wparam, LPARAM lparam);
// From now on SIGINT and SIGTERM ask the newest window to close.
void catch_termination_signals();
// A SIGINT or SIGTERM has come and its close request is not yet taken.
bool termination_requested();

// sdl2_box_process.cpp
enum class BoxOutcome { kShown, kFailed, kInterrupted };
// Shows SDL's simple message box in a process group of its own and waits for
// it; a termination signal ends the box's processes and the wait
// (kInterrupted). On kFailed, *reason says why.
BoxOutcome show_box_in_own_process(Uint32 flags, const char* caption, const char* text,
                                   SDL_Window* parent, std::string* reason);
// Kills the processes of a box on screen, if any; safe in a signal handler.
void end_box_processes_now();

// sdl2_frame_probe.cpp
struct ManagedFrame {
    bool managed = false;  // a window manager decorates and places windows
    WindowFrame frame{};   // its frame around a titled window, as far as it said
};
// Asked of the display once; needs SDL video started.
const ManagedFrame& window_manager_frame();

// sdl2_gl.cpp
// An SDL window whose visual suits the program's one pixel format.
SDL_Window* create_gl_capable_window(const char* title, int x, int y, int w, int h, Uint32 flags);
// Shows or hides the mouse pointer as ShowCursor's display count says.
void apply_cursor();

}  // namespace sdl2

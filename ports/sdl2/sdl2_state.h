// SDL2 PLATFORM: the record of everything the platform holds.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. The state the subsystems of the
//   port share: window classes, windows, device and GL contexts, the message
//   queue, the focus, the cursor's display count and the display mode.
//
// HOW
//   One record for the process, made on first use. Windows, device contexts
//   and GL contexts take their handles from one counter, so no two things
//   ever have the same handle.
//
// LIMITATIONS
//   - Window, device-context and GL-context handles are small numbers that
//     are never reused, so a stale handle is always refused.
//
// DEPENDENCIES
//   SDL 2 video (the SDL window, GL context and display mode kept here).
#pragma once

#include <SDL2/SDL_video.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "platform/platform.h"

namespace sdl2 {

struct WindowClass {
    WNDCLASSA record{};
    std::string name;  // as registered; the table's key is its lower-case form
    ATOM atom = 0;
};

struct WindowEntry {
    SDL_Window* sdl = nullptr;
    Uint32 sdl_id = 0;
    std::string class_key;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    WindowFrame frame{};
    HDC dc = 0;
    int pixel_format = 0;
    bool destroying = false;  // WM_DESTROY is being delivered
    // The client size the program last knew of (asked for, or told in
    // WM_SIZE); a different one from the desktop is told in WM_SIZE.
    int known_width = 0;
    int known_height = 0;
    // Under a window manager: where the outer window (frame and all) was
    // asked to be, checked once the manager has framed the window.
    bool placement_pending = false;
    POINT outer{0, 0};
};

struct ContextEntry {
    SDL_GLContext gl = nullptr;
    bool swap_interval_set = false;
};

// lost: the display's connection broke while the program ran. No SDL video
// call is made after that: Xlib marks the connection dead, and any call that
// waits for an event on it would spin for ever.
enum class Video { untried, ready, failed, lost };

struct PlatformState {
    Video video = Video::untried;
    std::map<std::string, WindowClass> classes;
    std::map<HWND, WindowEntry> windows;  // handles grow, so the last is the newest
    std::map<HDC, HWND> device_contexts;
    std::map<HGLRC, ContextEntry> contexts;
    std::deque<MSG> queue;
    bool quit_posted = false;
    bool closed_for_display_loss = false;
    int quit_code = 0;
    uint32_t next_handle = 0x100;
    unsigned atoms_given = 0;
    int cursor_count = 0;
    HWND focus = 0;
    bool display_mode_set = false;  // a full-screen mode is in force until reset
    SDL_DisplayMode display_mode{};
};

PlatformState& state();
inline bool display_lost() { return state().video == Video::lost; }
// The next handle; never one given before.
uint32_t new_handle();
// The entry of a live window handle, or null.
WindowEntry* find_window(HWND handle);
// Starts SDL video and events once. report: say why on failure (window
// creation does; the message queue works on without a display and stays quiet).
bool video_ready(bool report);
// Watches the display connection of the program's first window: should the
// display go away, the platform marks it lost instead of letting Xlib end
// the process, and the message queue asks the windows to close.
void watch_display(SDL_Window* window);

}  // namespace sdl2

// SDL2 PLATFORM: the state record, and starting and stopping SDL.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. The record of sdl2_state.h, and
//   the start of SDL that every call needing the display goes through.
//
// HOW
//   SDL starts on the first call that needs the display (a window, the
//   metrics, the queue), with the X11, Wayland or KMSDRM driver only; once it
//   runs, the termination signals are caught (sdl2_events.cpp), text input is
//   off and the cursor follows its display count. SDL_Quit runs at exit.
//
// LIMITATIONS
//   - With no display, window creation fails with ERROR_NO_DISPLAY and SDL's
//     reason on standard error, and the message queue keeps working.
//
// DEPENDENCIES
//   SDL 2 (video and events). SDL_VIDEODRIVER, when set, is obeyed.
#include "sdl2_state.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "sdl2_internal.h"
#include "stdio/stdio_console.h"

namespace {

void shut_down_sdl() {
    // A display that went away has taken its modes with it, and SDL_Quit
    // would wait for events on the dead connection for ever.
    if (sdl2::state().video == sdl2::Video::lost) return;
    // Leaves full screen and gives the display back its desktop mode, which
    // Win32 does for a program that ends after a CDS_FULLSCREEN change.
    SDL_Quit();
}

// Xlib calls this first when a connection breaks (the X server ended: a
// logout, a crash, a restarted session). It returns, and so does the exit
// handler below for the program's own connection; Xlib then fails every
// further request at once, and nothing of the platform makes one.
int on_display_io_error(Display*) {
    auto& s = sdl2::state();
    if (s.video != sdl2::Video::lost) {
        s.video = sdl2::Video::lost;
        const char line[] = "platform: the display went away; the presentation ends\n";
        stdio_streams::write_fully(STDERR_FILENO, line, sizeof line - 1, nullptr);
    }
    return 0;
}

// Xlib's default would exit(1) here, and the exit handlers would then try to
// shut SDL down on the dead connection. Returning lets the program end in
// order instead: the queue turns the loss into close requests, and the pack
// is written back as at any other end.
void keep_running_after_display_loss(Display*, void*) {}

}  // namespace

namespace sdl2 {

PlatformState& state() {
    static PlatformState s;
    return s;
}

uint32_t new_handle() { return state().next_handle++; }

WindowEntry* find_window(HWND handle) {
    auto& s = state();
    auto it = s.windows.find(handle);
    return it == s.windows.end() ? nullptr : &it->second;
}

bool has_display() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

// The drivers worth trying here. Each desktop names its display in the
// environment; without either name only the console (KMSDRM) is left, and
// probing Wayland's default socket would only bury the real reason under
// SDL's complaint about XDG_RUNTIME_DIR. So the missing display is said
// first, once.
const char* display_drivers(bool report) {
    if (has_display()) return "x11,wayland,KMSDRM";
    static bool said = false;
    if (report && !said && !std::getenv("SDL_VIDEODRIVER")) {
        said = true;
        const char line[] =
            "platform: no display: neither DISPLAY nor WAYLAND_DISPLAY is set; trying the "
            "console (KMSDRM)\n";
        stdio_streams::write_fully(STDERR_FILENO, line, sizeof line - 1, nullptr);
    }
    return "KMSDRM";
}

bool video_ready(bool report) {
    auto& s = state();
    if (s.video == Video::ready) return true;
    if (s.video == Video::lost) {
        SetLastError(ERROR_NO_DISPLAY);
        return false;
    }
    // A close request for the last window must become WM_CLOSE only, not a
    // second one from SDL's quit event as well.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // ours (sdl2_events.cpp) keep a way out
    // SDL would minimise a full-screen window, and give the desktop its mode
    // back, whenever the window loses the focus, and a message box takes it:
    // after OK the user would find an empty desktop with the music playing.
    // A Win32 window keeps its place and its mode when another takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // Only drivers that put a window on a screen: without a display SDL
    // would fall back to its invisible "offscreen" driver and every window
    // would be made without anyone seeing it. SDL_VIDEODRIVER, when set,
    // still takes precedence over this list.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, display_drivers(report));
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        s.video = Video::failed;
        if (report)
            report_sdl_failure("SDL_InitSubSystem(SDL_INIT_VIDEO)", ERROR_NO_DISPLAY);
        else
            SetLastError(ERROR_NO_DISPLAY);
        return false;
    }
    s.video = Video::ready;
    std::atexit(shut_down_sdl);
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0)
        XSetIOErrorHandler(on_display_io_error);
    catch_termination_signals();
    // Nothing reads text input; without it SDL does no input-method work.
    SDL_StopTextInput();
    apply_cursor();
    return true;
}

void watch_display(SDL_Window* window) {
    static bool watching = false;
    if (watching) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    XSetIOErrorExitHandler(info.info.x11.display, keep_running_after_display_loss, nullptr);
    watching = true;
}

}  // namespace sdl2

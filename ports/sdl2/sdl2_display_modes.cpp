// SDL2 PLATFORM: the display mode, and the screen's metrics.
//
// IMPLEMENTS
//   platform/platform.h, from USER32: ChangeDisplaySettingsA, GetSystemMetrics.
//
// HOW
//   The screen size is the current mode of SDL's first display, the area
//   for a full-screen window its usable bounds. A mode change takes one of
//   the modes SDL lists for that display and puts the newest WS_POPUP window
//   into it, full screen.
//
// LIMITATIONS
//   - A full-screen display mode belongs to a window in SDL, not to the whole
//     display: ChangeDisplaySettingsA switches the newest WS_POPUP window (and
//     popups made later, until the mode is reset). Only the size is matched;
//     X11 cannot change the colour depth, so dmBitsPerPel picks among modes of
//     that size and is otherwise ignored. Destroying a full-screen window also
//     leaves its mode (Win32 would keep the mode until reset or exit).
//   - Only the first display is measured and switched; any other metric is 0.
//
// DEPENDENCIES
//   SDL 2 video.
#include <SDL2/SDL.h>

#include <cstring>

#include "platform/platform.h"
#include "sdl2_internal.h"
#include "sdl2_state.h"

using namespace sdl2;

namespace {

bool find_display_mode(long long width, long long height, const DEVMODEA& request,
                       SDL_DisplayMode* out) {
    const int count = SDL_GetNumDisplayModes(0);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode m{};
        if (SDL_GetDisplayMode(0, i, &m) != 0 || m.w != width || m.h != height) continue;
        // SDL lists the deepest, fastest modes first: take the first of the
        // right size, or the first that also has the requested depth.
        if (!found) *out = m;
        found = true;
        if ((request.dmFields & DM_BITSPERPEL) &&
            SDL_BITSPERPIXEL(m.format) == request.dmBitsPerPel) {
            *out = m;
            break;
        }
    }
    return found;
}

}  // namespace

bool sdl2::make_fullscreen(const WindowEntry& w, const SDL_DisplayMode& mode) {
    // Wayland lets no client change the output's mode. SDL 2 emulates one by
    // scaling the window's buffer to the whole output, which stretches the
    // picture to the output's proportions; the window takes the desktop's
    // own size instead, and the program letterboxes its drawing area into it
    // (it learns the size from WM_SIZE).
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0) {
        if (SDL_SetWindowFullscreen(w.sdl, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0) return true;
        report_sdl_failure("SDL_SetWindowFullscreen", ERROR_NOT_SUPPORTED);
        return false;
    }
    if (SDL_SetWindowDisplayMode(w.sdl, &mode) != 0) {
        report_sdl_failure("SDL_SetWindowDisplayMode", ERROR_NOT_SUPPORTED);
        return false;
    }
    if (SDL_SetWindowFullscreen(w.sdl, SDL_WINDOW_FULLSCREEN) != 0) {
        report_sdl_failure("SDL_SetWindowFullscreen", ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

// ---- metrics

int GetSystemMetrics(int index) {
    if (!video_ready(true)) return 0;
    switch (index) {
        case SM_CXSCREEN:
        case SM_CYSCREEN: {
            SDL_DisplayMode mode{};
            if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
                report_sdl_failure("SDL_GetCurrentDisplayMode", ERROR_NO_DISPLAY);
                return 0;
            }
            return index == SM_CXSCREEN ? mode.w : mode.h;
        }
        case SM_CXFULLSCREEN:
        case SM_CYFULLSCREEN: {
            SDL_Rect area{};
            if (SDL_GetDisplayUsableBounds(0, &area) != 0) {
                report_sdl_failure("SDL_GetDisplayUsableBounds", ERROR_NO_DISPLAY);
                return 0;
            }
            // Win32 leaves out the title bar here; under a window manager
            // the whole frame a titled window gets is left out, so that a
            // window placed by these numbers, frame and all, lies within
            // the usable area: centred is centred, and the far edge keeps
            // its margin. Without one the area stays whole.
            const ManagedFrame& manager = window_manager_frame();
            const WindowFrame f = manager.managed ? manager.frame : WindowFrame{};
            return index == SM_CXFULLSCREEN ? area.w - f.left - f.right : area.h - f.top - f.bottom;
        }
        default:
            return 0;
    }
}

// ---- display mode

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    auto& s = state();
    if (!mode) {  // back to the desktop's mode: leave full screen everywhere
        s.display_mode_set = false;
        if (s.video != Video::ready) return DISP_CHANGE_SUCCESSFUL;  // nothing was ever switched
        LONG result = DISP_CHANGE_SUCCESSFUL;
        for (auto& [handle, w] : s.windows)
            if ((SDL_GetWindowFlags(w.sdl) & SDL_WINDOW_FULLSCREEN) &&
                SDL_SetWindowFullscreen(w.sdl, 0) != 0) {
                report_sdl_failure("SDL_SetWindowFullscreen", ERROR_NOT_SUPPORTED);
                result = DISP_CHANGE_FAILED;
            }
        return result;
    }
    if (!video_ready(true)) return DISP_CHANGE_FAILED;
    SDL_DisplayMode current{};
    if (SDL_GetCurrentDisplayMode(0, &current) != 0) {
        report_sdl_failure("SDL_GetCurrentDisplayMode", ERROR_NO_DISPLAY);
        return DISP_CHANGE_FAILED;
    }
    // Fields the record does not name keep the display's current value.
    const long long width = (mode->dmFields & DM_PELSWIDTH) ? mode->dmPelsWidth : current.w;
    const long long height = (mode->dmFields & DM_PELSHEIGHT) ? mode->dmPelsHeight : current.h;
    SDL_DisplayMode chosen{};
    if (!find_display_mode(width, height, *mode, &chosen)) return DISP_CHANGE_BADMODE;
    if (flags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;

    s.display_mode_set = true;
    s.display_mode = chosen;
    HWND target = 0;
    for (auto it = s.windows.rbegin(); it != s.windows.rend() && !target; ++it)
        if ((it->second.style & WS_POPUP) && !it->second.destroying) target = it->first;
    if (target && !make_fullscreen(s.windows[target], chosen)) return DISP_CHANGE_FAILED;
    return DISP_CHANGE_SUCCESSFUL;
}

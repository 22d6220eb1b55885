// SDL2 PLATFORM: message boxes, and SDL's reasons for a failed call.
//
// IMPLEMENTS
//   platform/platform.h, from USER32: MessageBoxA. The console writes and the
//   error code are the standard-streams port's (ports/stdio), so that both
//   report the same bytes.
//
// HOW
//   A message box is SDL's simple message box, stacked above the program's
//   newest visible window; its text goes to standard error first. A platform
//   call that fails because SDL did prints SDL's reason on standard error.
//
// LIMITATIONS
//   - MessageBoxA always shows a single OK button and returns IDOK; of the
//     style bits only the icon (MB_ICONERROR, ...) is used. Its text is also
//     written to standard error first, so that it is never lost.
//   - No message reaches the window procedure while a message box is open:
//     SDL's box runs its own event loop on its own X connection.
//
// DEPENDENCIES
//   SDL 2 message boxes (drawn with the X server's core fonts); the
//   standard-streams port's console (stdio/stdio_console.h).
#include <SDL2/SDL_error.h>
#include <SDL2/SDL_messagebox.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "sdl2_internal.h"
#include "sdl2_state.h"
#include "stdio/stdio_console.h"

using namespace sdl2;

void sdl2::report_sdl_failure(const char* sdl_call, DWORD code) {
    SetLastError(code);
    std::string line = std::string("platform: ") + sdl_call + " failed: " + SDL_GetError() + "\n";
    stdio_streams::write_fully(STDERR_FILENO, line.data(), line.size(), nullptr);
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    const stdio_streams::BoxText shown = stdio_streams::echo_message_box(text, caption);

    // With no display there is nothing to show a box on; SDL would only
    // report that its last fallback (zenity) failed, which hides the reason.
    if (display_lost() || (!has_display() && !std::getenv("SDL_VIDEODRIVER"))) {
        const char line[] = "platform: no display to show the box on\n";
        stdio_streams::write_fully(STDERR_FILENO, line, sizeof line - 1, nullptr);
        SetLastError(ERROR_NO_DISPLAY);
        return 0;
    }

    // Without an owner the box still goes above the program's window: a
    // window manager keeps a full-screen window above every other one unless
    // the box is declared as belonging to it. Nothing is disabled either way.
    SDL_Window* parent = newest_visible_sdl_window();
    if (owner != 0) {
        parent = sdl_window_of(owner);
        if (!parent) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    Uint32 flags = 0;
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            flags = SDL_MESSAGEBOX_ERROR;
            break;
        case MB_ICONWARNING:
            flags = SDL_MESSAGEBOX_WARNING;
            break;
        case MB_ICONINFORMATION:
            flags = SDL_MESSAGEBOX_INFORMATION;
            break;
        default:
            break;
    }
    std::string reason;
    const BoxOutcome outcome =
        show_box_in_own_process(flags, shown.caption, shown.text, parent, &reason);
    // The box had the focus; as on Win32 it goes back to the window the box
    // was shown over, so that the keys work again without a click.
    if (parent && outcome != BoxOutcome::kFailed &&
        (SDL_GetWindowFlags(parent) & SDL_WINDOW_SHOWN)) {
        SDL_RaiseWindow(parent);
        SDL_SetWindowInputFocus(parent);
    }
    switch (outcome) {
        case BoxOutcome::kShown:
            return IDOK;
        case BoxOutcome::kInterrupted: {
            // Ended for the user, as a click would have: the close request
            // that ended it is taken next, as without a box.
            const char line[] = "platform: the box was closed by a termination signal\n";
            stdio_streams::write_fully(STDERR_FILENO, line, sizeof line - 1, nullptr);
            return IDOK;
        }
        case BoxOutcome::kFailed:
            break;
    }
    SetLastError(ERROR_NO_DISPLAY);
    const std::string line = "platform: SDL_ShowSimpleMessageBox failed: " + reason + "\n";
    stdio_streams::write_fully(STDERR_FILENO, line.data(), line.size(), nullptr);
    return 0;
}

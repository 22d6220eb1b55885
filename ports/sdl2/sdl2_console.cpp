// SDL2 PLATFORM: console writes, message boxes, the error code, SDL's reasons.
//
// IMPLEMENTS
//   shell/platform.h: GetStdHandle, WriteConsoleA (KERNEL32's console),
//   MessageBoxA (USER32), GetLastError, SetLastError.
//
// HOW
//   Console writes go to standard output or standard error, whole, retried
//   after signals and short writes. A message box is SDL's simple message
//   box, stacked above the program's newest visible window. The error code
//   is kept per thread, as Win32 does.
//
// LIMITATIONS
//   - WriteConsoleA writes to whatever standard output is: a terminal, a pipe
//     or a file. Win32's WriteConsoleA fails for pipes and files; here the
//     notes are kept, because on Linux a redirected output is the usual way
//     to keep them. Only a closed or broken output makes the write fail.
//   - MessageBoxA always shows a single OK button and returns IDOK; of the
//     style bits only the icon (MB_ICONERROR, ...) is used. Its text is also
//     written to standard error first, so that it is never lost.
//   - No message reaches the window procedure while a message box is open:
//     SDL's box runs its own event loop on its own X connection.
//
// DEPENDENCIES
//   SDL 2 message boxes (drawn with the X server's core fonts); POSIX write.
#include <SDL2/SDL_error.h>
#include <SDL2/SDL_messagebox.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <string>

#include "shell/platform.h"
#include "sdl2_internal.h"

using namespace sdl2;

namespace {

// Win32 keeps the last error per thread; a test thread that dismisses a box
// must not disturb the program thread's code.
thread_local DWORD last_error = ERROR_SUCCESS;

// Handles of the two standard streams, in the small numbers Win32 uses.
constexpr HANDLE kStdOutHandle = 0x7;
constexpr HANDLE kStdErrHandle = 0xB;

bool descriptor_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

// Writes all of text to a file descriptor, retrying after signals and short
// writes. False when the descriptor refused (closed, broken pipe, full disk).
bool write_fully(int fd, const void* text, size_t size, size_t* written) {
    // A reader that went away must make the write fail, as it does on Win32,
    // not end the process: SIGPIPE is held back for this thread during the
    // write and a SIGPIPE the write raised is taken off again.
    sigset_t pipe_only, old_mask, pending;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigemptyset(&pending);
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);

    const char* bytes = static_cast<const char*>(text);
    size_t done = 0;
    int error = 0;
    while (done < size) {
        ssize_t n = write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error = n < 0 ? errno : EIO;
            break;
        }
    }
    if (error == EPIPE && !was_pending) {
        timespec no_wait{};
        sigtimedwait(&pipe_only, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    if (written) *written = done;
    errno = error;
    return error == 0;
}

}  // namespace

void SetLastError(DWORD code) { last_error = code; }

DWORD GetLastError() { return last_error; }

void sdl2::report_sdl_failure(const char* sdl_call, DWORD code) {
    SetLastError(code);
    std::string line = std::string("platform: ") + sdl_call + " failed: " + SDL_GetError() + "\n";
    write_fully(STDERR_FILENO, line.data(), line.size(), nullptr);
}

HANDLE GetStdHandle(DWORD which) {
    int fd = -1;
    HANDLE handle = 0;
    if (which == STD_OUTPUT_HANDLE) {
        fd = STDOUT_FILENO;
        handle = kStdOutHandle;
    } else if (which == STD_ERROR_HANDLE) {
        fd = STDERR_FILENO;
        handle = kStdErrHandle;
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    // Win32 gives a null handle to a process that has no such stream.
    return descriptor_open(fd) ? handle : 0;
}

BOOL WriteConsoleA(HANDLE console, const void* buffer, DWORD count, DWORD* written,
                   void* /*reserved*/) {
    if (written) *written = 0;
    int fd = console == kStdOutHandle   ? STDOUT_FILENO
             : console == kStdErrHandle ? STDERR_FILENO
                                        : -1;
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!buffer && count > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t done = 0;
    bool ok = write_fully(fd, buffer, count, &done);
    if (written) *written = static_cast<DWORD>(done);
    if (!ok) {
        SetLastError(errno == EBADF   ? ERROR_INVALID_HANDLE
                       : errno == EPIPE ? ERROR_BROKEN_PIPE
                                        : ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    const char* shown_caption = caption ? caption : "Error";  // Win32's default caption
    const char* shown_text = text ? text : "";
    // Standard error first: with no display, a failed box, or nobody at the
    // screen, the message still reaches a log.
    std::string echo = std::string(shown_caption) + ": " + shown_text + "\n";
    write_fully(STDERR_FILENO, echo.data(), echo.size(), nullptr);

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
        case MB_ICONERROR: flags = SDL_MESSAGEBOX_ERROR; break;
        case MB_ICONWARNING: flags = SDL_MESSAGEBOX_WARNING; break;
        case MB_ICONINFORMATION: flags = SDL_MESSAGEBOX_INFORMATION; break;
        default: break;
    }
    if (SDL_ShowSimpleMessageBox(flags, shown_caption, shown_text, parent) != 0) {
        report_sdl_failure("SDL_ShowSimpleMessageBox", ERROR_NO_DISPLAY);
        return 0;
    }
    return IDOK;
}

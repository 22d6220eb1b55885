// STANDARD-STREAMS PLATFORM: console writes and the error code.
//
// IMPLEMENTS
//   platform/platform.h, KERNEL32's console and error code: GetStdHandle,
//   WriteConsoleA, GetLastError, SetLastError. The SDL2 port reports through
//   these too, so a console note or a box's echo is the same bytes in every
//   program.
//
// HOW
//   The two console handles stand for file descriptors 1 and 2. A write goes
//   out whole, retried after signals and short writes, with SIGPIPE held
//   back so that a reader that went away fails the call instead of ending
//   the process. The error code is kept per thread, as Win32 does.
//
// LIMITATIONS
//   - WriteConsoleA writes to whatever standard output is: a terminal, a pipe
//     or a file. Win32's WriteConsoleA fails for pipes and files; here the
//     notes are kept, because on Linux a redirected output is the usual way
//     to keep them. Only a closed or broken output makes the write fail.
//   - Only standard output and standard error have handles; any other
//     stream GetStdHandle is asked for is refused.
//
// DEPENDENCIES
//   POSIX (write, fcntl, the thread's signal mask).
#include "stdio_console.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace {

// Win32 keeps the last error per thread; a test thread that dismisses a box
// must not disturb the program thread's code.
thread_local DWORD LastError = ERROR_SUCCESS;

// Handles of the two standard streams, in the small numbers Win32 uses.
constexpr HANDLE kStdOutHandle = 0x7;
constexpr HANDLE kStdErrHandle = 0xB;

bool descriptor_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

}  // namespace

bool stdio_streams::write_fully(int fd, const void* text, size_t size, size_t* written) {
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

stdio_streams::BoxText stdio_streams::echo_message_box(const char* text, const char* caption) {
    const BoxText shown{caption ? caption : "Error", text ? text : ""};  // Win32's default caption
    // Standard error first: with no display, a failed box, or nobody at the
    // screen, the message still reaches a log.
    std::string echo = std::string(shown.caption) + ": " + shown.text + "\n";
    write_fully(STDERR_FILENO, echo.data(), echo.size(), nullptr);
    return shown;
}

void SetLastError(DWORD code) { LastError = code; }

DWORD GetLastError() { return LastError; }

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
    bool ok = stdio_streams::write_fully(fd, buffer, count, &done);
    if (written) *written = static_cast<DWORD>(done);
    if (!ok) {
        SetLastError(errno == EBADF   ? ERROR_INVALID_HANDLE
                     : errno == EPIPE ? ERROR_BROKEN_PIPE
                                      : ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

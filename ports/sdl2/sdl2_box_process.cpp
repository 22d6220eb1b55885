// SDL2 PLATFORM: a message box in a process of its own, which a termination
// signal can end.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. How MessageBoxA (sdl2_reporting.cpp)
//   puts its box on screen.
//
// HOW
//   SDL's box waits inside SDL for its own child (X11 draws the box in a
//   forked process; Wayland runs zenity) and retries that wait through every
//   signal, so a program showing a box could not be stopped in order. Here
//   the box is shown by a child of ours that leads a process group of its
//   own; SDL's helper processes join that group. The program waits for the
//   child's answer with the termination signals blocked except inside the
//   wait itself, so a SIGINT or SIGTERM always wakes it: the whole group is
//   then ended, no box stays on screen, and the signal's close request goes
//   on to the orderly shutdown as it would without a box.
//
//   The child inherits the program's connections to the display server (and
//   to every other server). SDL's box call raises the focused window and
//   shows the cursor on the way, through those very connections: requests
//   from two processes on one X connection corrupt it, and the program then
//   finds its display gone. So the child first points every inherited socket
//   at /dev/null and quiets Xlib's I/O error handler; the box itself opens
//   connections of its own.
//
// LIMITATIONS
//   - The child shows the box with SDL as it was when the box was asked for;
//     nothing it does reaches the program but the outcome and SDL's reason.
//
// DEPENDENCIES
//   SDL 2 message boxes; POSIX processes and signals; Linux's parent-death
//   signal.
#include <SDL2/SDL_error.h>
#include <SDL2/SDL_messagebox.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "sdl2_internal.h"

using sdl2::BoxOutcome;

namespace {

// What the child tells through its pipe: one byte, then SDL's reason.
constexpr char kShown = 'k';
constexpr char kFailed = 'f';
// How long the box's processes get to end on SIGTERM before SIGKILL.
constexpr int kGraceMilliseconds = 1000;

volatile sig_atomic_t BoxGroup = 0;

// The most descriptors looked at for inherited sockets.
constexpr rlim_t kMostDescriptors = 65536;

int quiet_io_error(Display*) { return 0; }

// Every socket the child inherited now leads to /dev/null: what SDL sends on
// the program's connections goes nowhere, and a wait for an answer ends at
// once, quietly. Plain system calls only: the child of a threaded program.
void detach_inherited_sockets() {
    XSetIOErrorHandler(quiet_io_error);
    const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nowhere < 0) return;
    rlimit limit{};
    rlim_t most = kMostDescriptors;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < most) most = limit.rlim_cur;
    for (int fd = 0; static_cast<rlim_t>(fd) < most; ++fd) {
        struct stat st {};
        if (fd != nowhere && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
            dup3(nowhere, fd, O_CLOEXEC);
    }
    close(nowhere);
}

[[noreturn]] void run_box_child(int answer, Uint32 flags, const char* caption, const char* text,
                                SDL_Window* parent) {
    setpgid(0, 0);
    // Should the program die without ending the box, the box ends with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    detach_inherited_sockets();
    std::string reply(1, kShown);
    if (SDL_ShowSimpleMessageBox(flags, caption, text, parent) != 0) {
        reply[0] = kFailed;
        reply += SDL_GetError();
    }
    ssize_t ignored = write(answer, reply.data(), std::min<size_t>(reply.size(), 512));
    (void)ignored;
    // Not exit(): the program's exit handlers (SDL_Quit among them) are not
    // this process's to run.
    _exit(0);
}

void end_group(pid_t child) {
    kill(-child, SIGTERM);
    for (int waited = 0; waited < kGraceMilliseconds; waited += 10) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            // SDL's own helper may outlive its parent for a moment.
            kill(-child, SIGKILL);
            return;
        }
        const timespec pause{0, 10000000L};
        nanosleep(&pause, nullptr);
    }
    kill(-child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Reads the child's answer until it closes its end; a termination signal
// that was, or becomes, pending ends the wait early.
BoxOutcome await_answer(int answer, pid_t child, const sigset_t& waiting_mask,
                        std::string* reason) {
    std::string reply;
    for (;;) {
        if (sdl2::termination_requested()) {
            end_group(child);
            return BoxOutcome::kInterrupted;
        }
        pollfd pfd{answer, POLLIN, 0};
        const int ready = ppoll(&pfd, 1, nullptr, &waiting_mask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            end_group(child);
            *reason = std::strerror(errno);
            return BoxOutcome::kFailed;
        }
        char buffer[256];
        const ssize_t n = read(answer, buffer, sizeof buffer);
        if (n > 0) {
            reply.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // the child has closed its end: it is done
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    kill(-child, SIGKILL);  // anything of SDL's left behind in the group
    if (!reply.empty() && reply[0] == kShown) return BoxOutcome::kShown;
    *reason = reply.size() > 1 ? reply.substr(1) : "the box's process ended without an answer";
    return BoxOutcome::kFailed;
}

}  // namespace

BoxOutcome sdl2::show_box_in_own_process(Uint32 flags, const char* caption, const char* text,
                                         SDL_Window* parent, std::string* reason) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        *reason = std::strerror(errno);
        return BoxOutcome::kFailed;
    }
    // Blocked from here on, the termination signals can only arrive inside
    // the wait below, where they end it.
    sigset_t termination, previous;
    sigemptyset(&termination);
    sigaddset(&termination, SIGINT);
    sigaddset(&termination, SIGTERM);
    sigprocmask(SIG_BLOCK, &termination, &previous);
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        run_box_child(pipe_ends[1], flags, caption, text, parent);
    }
    close(pipe_ends[1]);
    BoxOutcome outcome = BoxOutcome::kFailed;
    if (child < 0) {
        *reason = std::strerror(errno);
    } else {
        setpgid(child, child);  // whichever of the two runs first
        BoxGroup = child;
        sigset_t waiting = previous;
        sigdelset(&waiting, SIGINT);
        sigdelset(&waiting, SIGTERM);
        outcome = await_answer(pipe_ends[0], child, waiting, reason);
        BoxGroup = 0;
    }
    close(pipe_ends[0]);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return outcome;
}

void sdl2::end_box_processes_now() {
    const pid_t group = BoxGroup;
    if (group > 0) kill(-group, SIGKILL);
}

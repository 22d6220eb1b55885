// Measurement library for the start-up figure, loaded with LD_PRELOAD into the
// program being timed; nothing of it is part of any program.
//
// It stands between the program and SDL's SDL_GL_SwapWindow. On the first
// call it takes the monotonic clock, writes the time since the moment given
// in FIRST_SWAP_T0_NS (taken by the launcher just before exec) as nanoseconds
// to the descriptor FIRST_SWAP_FD, lets the swap happen, and ends the process
// at once: the start-up is over, and nothing after it is being measured.
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct SDL_Window;

extern "C" int SDL_GL_SwapWindow(SDL_Window* window) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    using SwapFunction = int (*)(SDL_Window*);
    static SwapFunction real_swap =
        reinterpret_cast<SwapFunction>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
    static bool reported = false;
    if (!reported) {
        reported = true;
        const char* t0 = std::getenv("FIRST_SWAP_T0_NS");
        const char* fd = std::getenv("FIRST_SWAP_FD");
        if (t0 && fd) {
            const long long start = std::atoll(t0);
            const long long at = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
            char line[64];
            const int length = std::snprintf(line, sizeof line, "%lld\n", at - start);
            if (write(std::atoi(fd), line, static_cast<size_t>(length)) < 0) _exit(3);
        }
        const int result = real_swap ? real_swap(window) : -1;
        _exit(result == 0 ? 0 : 4);
    }
    return real_swap ? real_swap(window) : -1;
}

// Runs one program for a benchmark and reports what the kernel and the
// first-swap library saw: the time from exec to its first buffer swap and its
// peak resident memory (wait4's ru_maxrss, which counts the whole life of the
// process).
//
//   run_measured [--shim LIB] [--seconds S] [--dir DIR] -- PROGRAM [ARGS...]
//
//   --shim LIB    preload the first-swap library; the program then ends at its
//                 first swap and "first_swap_ms" is printed
//   --seconds S   let the program run S seconds, then ask it to quit with
//                 SIGTERM (its orderly shutdown), SIGKILL 10 s later
//   --dir DIR     working directory of the program
//
// Prints "first_swap_ms X", "max_rss_kib N" and "status N" lines.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long long monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: run_measured [--shim LIB] [--seconds S] [--dir DIR] -- PROGRAM [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* shim = nullptr;
    const char* dir = nullptr;
    double seconds = 0.0;
    int program = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            program = i + 1;
            break;
        }
        if (i + 1 >= argc) return usage();
        if (std::strcmp(argv[i], "--shim") == 0) {
            shim = argv[++i];
        } else if (std::strcmp(argv[i], "--dir") == 0) {
            dir = argv[++i];
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[++i]);
        } else {
            return usage();
        }
    }
    if (program < 0 || program >= argc) return usage();

    int report[2] = {-1, -1};
    if (shim && pipe(report) != 0) {
        std::perror("run_measured: pipe");
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("run_measured: fork");
        return 1;
    }
    if (child == 0) {
        if (dir && chdir(dir) != 0) _exit(126);
        // The program's own output would mix with the report; it is not
        // what is being measured.
        const int null_device = open("/dev/null", O_WRONLY);
        if (null_device >= 0) {
            dup2(null_device, STDOUT_FILENO);
            dup2(null_device, STDERR_FILENO);
            close(null_device);
        }
        if (shim) {
            close(report[0]);
            std::string preload = shim;
            if (const char* existing = std::getenv("LD_PRELOAD"))
                preload += std::string(" ") + existing;
            setenv("LD_PRELOAD", preload.c_str(), 1);
            setenv("FIRST_SWAP_FD", std::to_string(report[1]).c_str(), 1);
            // A sanitized program insists on its runtime coming first; the
            // measurement library does not touch memory it could check.
            setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 0);
            setenv("FIRST_SWAP_T0_NS", std::to_string(monotonic_ns()).c_str(), 1);
        }
        execvp(argv[program], argv + program);
        _exit(127);
    }
    if (shim) close(report[1]);

    // Poll rather than sleep through: a program that ends early is not waited for.
    int status = 0;
    rusage usage{};
    const long long began = monotonic_ns();
    const double limit = seconds > 0.0 ? seconds : 60.0;  // start-up never takes a minute
    bool asked = false;
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        const double elapsed = static_cast<double>(monotonic_ns() - began) / 1e9;
        if (!asked && elapsed >= limit) {
            kill(child, SIGTERM);
            asked = true;
        } else if (asked && elapsed >= limit + 10.0) {
            kill(child, SIGKILL);
        }
        usleep(2000);
    }

    if (shim) {
        char line[64] = "";
        const ssize_t got = read(report[0], line, sizeof line - 1);
        close(report[0]);
        if (got > 0) {
            line[got] = '\0';
            std::printf("first_swap_ms %.3f\n", std::atoll(line) / 1e6);
        }
    }
    std::printf("max_rss_kib %ld\n", usage.ru_maxrss);
    std::printf("status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

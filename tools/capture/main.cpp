// velkorandi-capture: renders the presentation frame-exactly to PNG files and the
// music they span to a WAV file (see capture_options.h for the command line).
#include <cstdio>

#include "capture_options.h"
#include "capture_run.h"

// In a sanitized build, LeakSanitizer would end every run with status 1 for
// the small blocks Mesa and libdbus never free (the GL driver is unloaded at
// exit, so they cannot be named in a suppression). Leak checking is off for
// this process only; ASAN_OPTIONS still overrides it. Unused otherwise.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    CaptureOptions options;
    char error[kOptionErrorSize];
    if (!parse_capture_options(argc, argv, &options, error)) {
        std::fprintf(stderr, "velkorandi-capture: %s\n", error);
        return 2;
    }
    if (options.help) {
        std::fputs(kCaptureUsage, stdout);
        return 0;
    }
    return run_capture(options);
}

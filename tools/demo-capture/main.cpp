// demo-capture: renders the presentation frame-exactly to PNG files and the
// music they span to a WAV file (see capture_options.h for the command line).
#include <cstdio>

#include "capture_options.h"
#include "capture_run.h"

int main(int argc, char** argv) {
    CaptureOptions options;
    char error[kOptionErrorSize];
    if (!parse_capture_options(argc, argv, &options, error)) {
        std::fprintf(stderr, "demo-capture: %s\n", error);
        return 2;
    }
    if (options.help) {
        std::fputs(kCaptureUsage, stdout);
        return 0;
    }
    return run_capture(options);
}

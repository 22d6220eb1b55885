#include "capture_progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {

// "1 min 05 s" or "42 s".
void format_time(double seconds, char* text, size_t size) {
    const auto whole = static_cast<unsigned long long>(std::llround(seconds));
    if (whole >= 60) {
        std::snprintf(text, size, "%llu min %02llu s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, size, "%llu s", whole);
    }
}

}  // namespace

CaptureProgress start_progress(uint64_t total) {
    return CaptureProgress{total, std::chrono::steady_clock::now(), isatty(fileno(stdout)) != 0,
                           -1.0, false};
}

double progress_seconds(const CaptureProgress& progress) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.began).count();
}

void show_progress(CaptureProgress* progress, uint64_t done) {
    const bool final = done >= progress->total;
    const double seconds = progress_seconds(*progress);
    if (!final && seconds - progress->last_shown < (progress->terminal ? 0.25 : 5.0)) return;
    progress->last_shown = seconds;
    const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
    const unsigned percent = static_cast<unsigned>(100 * done / progress->total);
    char time[32];
    if (final) {
        format_time(seconds, time, sizeof time);
    } else if (rate > 0.0) {
        format_time(static_cast<double>(progress->total - done) / rate, time, sizeof time);
    } else {
        std::snprintf(time, sizeof time, "?");
    }
    // The terminal's line is padded so that a shorter one covers a longer.
    std::printf("%sframe %llu / %llu (%u%%), %.1f frames/s, %s %s%s",
                progress->terminal ? "\r" : "", static_cast<unsigned long long>(done),
                static_cast<unsigned long long>(progress->total), percent, rate, time,
                final ? "in all" : "left", progress->terminal && !final ? "   " : "\n");
    std::fflush(stdout);
    progress->line_open = progress->terminal && !final;
}

void break_progress_line(CaptureProgress* progress) {
    if (!progress->line_open) return;
    std::printf("\n");
    std::fflush(stdout);
    progress->line_open = false;
}

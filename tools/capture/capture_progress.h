// How far a capture has come, on standard output: on a terminal one line
// rewritten in place (frames, percent, frames per second, time left); into a
// pipe or a file a plain line every few seconds, so that a log stays
// readable. The last line always says how long the whole took.
#pragma once

#include <chrono>
#include <cstdint>

struct CaptureProgress {
    uint64_t total;
    std::chrono::steady_clock::time_point began;
    bool terminal;
    double last_shown;  // seconds since began; negative before the first line
    bool line_open;     // a terminal line waits to be rewritten
};

CaptureProgress start_progress(uint64_t total);
// done frames of total are finished.
void show_progress(CaptureProgress* progress, uint64_t done);
// Ends the terminal's line, if one was being rewritten, before other output.
void break_progress_line(CaptureProgress* progress);
double progress_seconds(const CaptureProgress& progress);

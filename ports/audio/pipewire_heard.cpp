// When PipeWire plays a playback stream's frames (see pipewire_heard.h).
//
// IMPLEMENTS
//   The arithmetic of the native PipeWire output's heard position
//   (output_pipewire.cpp), kept apart from the server so that it is tested
//   without one.
//
// HOW
//   heard = now + delay x rate_num / rate_denom s + (queued + buffered) / rate s.
//   The delay is in the graph's ticks (1/48000 s on a graph at 48 kHz), what
//   the stream holds in its own frames (1/44100 s): the resampler's part is
//   counted where the graph's rate differs from the stream's.
//
// LIMITATIONS
//   - A graph whose reports stop (it was suspended, the server went away)
//     leaves the line running to the end of what was handed over; the caller
//     decides what to do after that.
//   - After a stall the graph may play a buffer a cycle later than its
//     report says, and drop the next: nothing in the reports tells, and the
//     position is a cycle ahead until the next buffer is queued.
//
// DEPENDENCIES
//   None beyond the C++ library.
#include "audio/pipewire_heard.h"

#include <algorithm>

int64_t first_frame_heard_ns(const GraphTime& t, int rate) {
    double delay_s =
        t.rate_denom == 0 ? 0.0 : static_cast<double>(t.delay) * t.rate_num / t.rate_denom;
    double held_s = static_cast<double>(t.queued + t.buffered) / rate;
    return t.now_ns + static_cast<int64_t>((delay_s + held_s) * 1e9);
}

double frame_on_line(const HeardLine& line, int64_t now, int rate, double limit) {
    double frame = line.frame;
    if (line.advancing) frame += static_cast<double>(now - line.ns) * rate / 1e9;
    return std::min(frame, limit);
}

HeardLine line_after_buffer(const GraphTime& t, int64_t first, int rate) {
    return HeardLine{true, first_frame_heard_ns(t, rate), static_cast<double>(first), true};
}

double limit_after_buffer(int64_t first, int frames) {
    return static_cast<double>(first) + frames + frames / 2.0;
}

// When PipeWire plays what a playback stream hands it, and which of the
// frames handed over is heard at a given time. PipeWire reports, in the
// stream's process callback, the graph's delay to the device (in ticks of the
// graph's rate) and what the stream and its resampler still hold (in the
// stream's frames): the first frame of the buffer queued next is heard after
// all of that, counted from the time of the report. Between callbacks the
// heard frame runs on at the stream's rate.
//
// Plain records and arithmetic: the caller passes the figures of pw_time in
// and keeps the records under its own lock.
#pragma once

#include <cstdint>

// The figures of one pw_time report that date a buffer.
struct GraphTime {
    int64_t now_ns = 0;       // when the report was taken (CLOCK_MONOTONIC)
    int64_t delay = 0;        // ticks to the device
    uint32_t rate_num = 0;    // a tick lasts rate_num / rate_denom seconds
    uint32_t rate_denom = 0;  // (0: no graph rate known yet)
    uint64_t queued = 0;      // stream frames queued and not yet taken
    uint64_t buffered = 0;    // stream frames held in the resampler
};

// When the first frame of the buffer queued after report `t` is heard, on
// the same clock as t.now_ns, for a stream of `rate` frames per second.
int64_t first_frame_heard_ns(const GraphTime& t, int rate);

// A line through one dated frame: frame `frame` (counted in frames handed
// over) is heard at `ns` and the frames after it follow at the stream's rate
// while `advancing`.
struct HeardLine {
    bool known = false;
    int64_t ns = 0;
    double frame = 0;
    bool advancing = false;
};

// The frame on the line at time now, never past `limit`: how far the line
// may run (nothing beyond the frames handed over can be heard, nor much
// beyond the buffer that drew it).
double frame_on_line(const HeardLine& line, int64_t now, int rate, double limit);

// The line after a buffer whose first frame is handed frame `first` was
// queued following report `t`. It may lie a little behind the last one (a
// move to a sink with a longer delay): the library, not the output, keeps
// the reported position from going back.
HeardLine line_after_buffer(const GraphTime& t, int64_t first, int rate);

// How far that line may run, the buffer being `frames` long: past its end
// by half a cycle at most. The next buffer is asked for a fraction of a
// millisecond after its cycle starts, and heard from that start, so the
// line running on is right; but a cycle that passes with no buffer from the
// stream (its callback was kept off the processor) plays none of its
// frames, and a line run on through it would be a whole cycle ahead, held
// there by the library until the sound caught up. Half a cycle bounds both
// errors alike: a callback later than that leaves the position behind until
// it comes, one that never comes leaves it half a cycle ahead.
double limit_after_buffer(int64_t first, int frames);

// The device's clock: which of its frames is being heard at a given time,
// and from it which frame of a playing stream. The callbacks of a device come
// with jitter (the disk and dummy drivers wake from sleeps, sound servers
// batch requests) while the device itself plays at a steady rate, so the
// clock is a line fitted to the callbacks by a second-order tracking loop
// rather than the last callback's time alone.
//
// Plain records and arithmetic: the caller passes the times (nanoseconds of
// a steady clock) and keeps the records under its own lock.
#pragma once

#include <cstdint>

#include "timeline/audio_format.h"

struct DeviceClock {
    bool valid = false;
    double frame = 0;  // the device frame heard at time ns
    int64_t ns = 0;
    double rate = kAudioRate;  // the device's frames per second, as measured
    int64_t handed = 0;        // frames handed to the device so far
};

// The device frame heard at time now, on the fitted line.
double device_frame_at(const DeviceClock& clock, int64_t now);

// Called at every callback, with its time and the frames it asks for, before
// they are handed over: device frame `handed` starts being heard now.
void track_device_clock(DeviceClock& clock, int64_t now, int frames);

// Where a playing stream stands on the device clock.
struct HeardPosition {
    // The stream's buffer being heard: its first frame, its end, and the
    // device frame at which it began to be heard.
    bool anchored = false;
    int64_t anchor_frame = 0;
    int64_t anchor_limit = 0;
    int64_t anchor_device = 0;
    int64_t reported = 0;  // the last position reported
};

// The stream frame heard at time now, read off the clock and held a little
// behind it to absorb the callbacks' jitter: never past the end of the buffer
// being heard, never before the last position reported, never past length.
// Without a buffer being heard (nothing handed out since the stream was
// positioned) it is next_frame. The answer is recorded as reported.
int64_t heard_stream_frame(HeardPosition& heard, const DeviceClock& clock, int64_t now,
                           int64_t next_frame, int64_t length);

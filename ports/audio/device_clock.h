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

#include "platform/audio_format.h"

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

// One buffer of a stream handed to the device: its first frame, how many
// frames it holds, and the device frame (counted in frames handed over) at
// which it begins. Consecutive buffers of a stream merge into one anchor.
struct HeardAnchor {
    int64_t device = 0;
    int64_t frame = 0;
    int64_t frames = 0;
};

// Where a playing stream stands on the device. An output that hands its
// buffers to a sound server hears them long after they were handed over,
// so every buffer not yet heard keeps its anchor; the oldest fall out of the
// ring once it is full (they have long been heard by then).
constexpr int kHeardAnchors = 16;
struct HeardPosition {
    HeardAnchor anchors[kHeardAnchors];
    int count = 0;  // anchors held; the newest is anchors[newest]
    int newest = 0;
    int64_t reported = 0;  // the last position reported
};

// Records that frames [frame, frame + frames) of the stream begin at device
// frame `device`.
void add_anchor(HeardPosition& heard, int64_t device, int64_t frame, int64_t frames);
// Forgets every anchor: the stream was positioned anew.
void clear_anchors(HeardPosition& heard);
inline bool anchored(const HeardPosition& heard) { return heard.count > 0; }
// The newest anchor (anchored only).
inline const HeardAnchor& newest_anchor(const HeardPosition& heard) {
    return heard.anchors[heard.newest];
}

// The stream frame at device frame `device` (known: false when the output
// cannot tell yet): read off the anchors, never past the end of what was
// handed over (the newest anchor may be read `run_on` frames past it, for an
// output whose clock says the next buffer is heard a moment before its
// callback hands it over), never before the last position reported, never
// past length. Before the first anchor is heard, and without any anchor
// (nothing handed out since the stream was positioned), it stays where it
// was reported; without any anchor it is next_frame. The answer is recorded
// as reported.
int64_t heard_stream_frame(HeardPosition& heard, bool known, double device, int64_t next_frame,
                           int64_t length, int64_t run_on = 0);

// The device frame being heard at time now on a device whose clock is
// fitted to its callbacks: the fitted line held a little behind, to absorb
// the callbacks' jitter.
double heard_device_frame(const DeviceClock& clock, int64_t now);

// The stream frame heard at time now on such a device (see the two above).
int64_t heard_stream_frame(HeardPosition& heard, const DeviceClock& clock, int64_t now,
                           int64_t next_frame, int64_t length);

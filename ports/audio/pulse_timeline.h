// Where the sound server's count of a playback stream's frames lies among the
// frames the library handed over. The two counts agree until the stream's
// queue is dropped (pa_stream_flush): the server then forgets what it held
// beyond the frame it had read, and the frames handed over next follow on
// from there, at an index the client learns only from the server's next
// timing report. Each drop starts an epoch; an epoch is placed once a
// report says where the server counts its frames.
//
// Plain arithmetic on frame counts: the caller keeps the record under its
// own lock and passes the server's figures in.
#pragma once

#include <cstdint>

struct PulseEpoch {
    int64_t handed = 0;  // the first frame handed over in it
    int64_t server = 0;  // where the server counts that frame, when placed
    bool placed = false;
};

constexpr int kPulseEpochs = 8;
struct PulseTimeline {
    PulseEpoch epochs[kPulseEpochs];  // a ring, the newest at [newest]
    int count = 1;
    int newest = 0;  // a new stream: both counts start at 0
};

inline PulseTimeline new_pulse_timeline() {
    PulseTimeline t;
    t.epochs[0].placed = true;
    return t;
}

// The queue was dropped when `handed` frames had been handed over.
void timeline_drop(PulseTimeline& t, int64_t handed);

// A timing report: the server's write index, in frames, once it has all
// `handed` frames handed over so far. Places the newest epoch.
void timeline_place(PulseTimeline& t, int64_t handed, int64_t server_written);

// The handed frame at server frame `server` (fractional), or false when it
// lies in an epoch not placed yet.
bool timeline_handed_frame(const PulseTimeline& t, double server, double* handed);

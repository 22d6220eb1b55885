// The frame leaving the sink, read off the timing reports of a sound server
// that counts a stream's frames once per processing cycle: PipeWire's
// PulseAudio service. It takes its figures at the start of each cycle, when
// the read index already counts the whole quantum the sink just took, and
// stamps its answer when it sends it, however long after. So a report's
// frame (read index less the sink's latency) runs ahead of the sound by up to
// a quantum, and its stamp is late by anything from nothing to a cycle and
// more.
//
// Each report gives a line, frame = v + time × rate, with
// v = read − latency − stamp × rate; a late stamp only lowers v, so the
// highest v of the last half second is the report stamped closest to its
// cycle's start. Less one quantum, it is the frame leaving the sink. The
// quantum is the smallest positive step of the read index between reports.
// A graph that slips (starts a cycle late) moves the line back: the reports
// before it are dropped once the last 50 ms of them all lie below.
//
// Plain records and arithmetic: the caller passes the server's figures and
// the times (nanoseconds of a steady clock) and keeps the record.
#pragma once

#include <cstdint>

struct CycleSample {
    int64_t ns = 0;       // the report's stamp
    double v = 0;         // its line: frame leaving - stamp × rate
    int64_t step = 0;     // the read index's step since the report before (0: none)
    int64_t quantum = 0;  // the quantum as known when it came (0: not yet known)
};

constexpr int kCycleSamples = 256;               // over half a second of reports every 5 ms
constexpr int64_t kCycleWindowNs = 500'000'000;  // how long a report counts
constexpr int64_t kCycleRecentNs = 50'000'000;   // a slip shows over this long
struct CyclePosition {
    CycleSample samples[kCycleSamples];  // a ring, the newest at [newest]
    int count = 0;
    int newest = 0;
    int64_t last_read = 0;  // the read index of the last report, in frames (a new
                            // stream has read nothing: its first step counts)
    int64_t quantum = 0;    // the last quantum found, kept across clears (0: none yet)
};

// A timing report of a playing stream: stamped at `ns`, the server had read
// `read` frames of the stream, and `leaving` (read less the sink's latency,
// in frames) was its frame leaving the sink.
void cycle_take(CyclePosition& p, int64_t ns, int64_t read, double leaving);

// Forgets the reports: the line has moved or is unknown, at a stall, a flush
// of the stream's queue, a move to another sink. Not the quantum, nor the
// last read index: that is the stream's own count and runs on across them.
void cycle_clear(CyclePosition& p);

// The frame leaving the sink at time `ns` (at or after the newest report),
// in the server's count of the stream's frames; false with no report since
// the last clear.
bool cycle_leaving(const CyclePosition& p, int64_t ns, double* leaving);

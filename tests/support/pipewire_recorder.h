// Records a PipeWire sink's monitor as a native client and dates each
// recorded buffer by the graph's own clock. PipeWire's PulseAudio service
// reports a recording's timing once per cycle, as of the cycle's start, and
// stamps it with the time it answers: a recording dated from its reports
// lies late by up to a cycle and more. Here every buffer is dated in the
// cycle that delivers it: its first frame left the sink at the cycle's start
// less the stream's delay and less one cycle, since a monitor's buffer
// reaches a recorder one cycle after the sink took it.
#pragma once

#include <cstdint>
#include <string>

#include "support/monitor_recorder.h"

// The driver's cycle: frames per cycle and the graph's rate.
struct GraphClock {
    int quantum = 0;
    int rate = 0;
};

struct PipewireRecorder;

// Starts recording the monitor of `sink` of the PipeWire server whose socket
// is `runtime`/pipewire-0 (whatever PIPEWIRE_REMOTE says), 16-bit stereo at
// `rate` Hz; null, with the reason, when it cannot.
PipewireRecorder* start_pipewire_recording(const std::string& runtime, const std::string& sink,
                                           int rate, std::string* why);
// The driver's cycle as of the last buffer recorded.
GraphClock recorded_graph_clock(PipewireRecorder* recorder);
// Ends the recording and returns it.
Recording finish_pipewire_recording(PipewireRecorder* recorder);

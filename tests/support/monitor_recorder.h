// Records what a sound server's sink plays, through its monitor, and dates
// each recorded block by when its first frame left the sink (not when it
// reached us: a monitor recording arrives late by its own latency). On
// PulseAudio through libpulse, by the server's timing of the recording
// stream, steadied by the median over the reports around each block; on
// PipeWire as a native client, by the graph's clock in the cycle that
// delivers each buffer (see pipewire_recorder.h). On the steady clock, as
// the audio library's positions are read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RecordedBlock {
    int64_t first = 0;    // its first frame in the recording
    int64_t left_ns = 0;  // when that frame left the sink
};

struct Recording {
    int rate = 44100;              // of the samples: PipeWire's graph rate
    std::vector<int16_t> samples;  // 16-bit stereo, interleaved
    std::vector<RecordedBlock> blocks;
    int64_t frames() const { return static_cast<int64_t>(samples.size() / 2); }
};

struct MonitorRecorder;
struct SoundServer;

// Starts recording the monitor of `sink` on the server at `address`; null,
// with the reason, when it cannot.
MonitorRecorder* start_recording(const std::string& address, const std::string& sink,
                                 std::string* why);
// Starts recording the monitor of `sink` on the server: on PipeWire natively,
// at the graph's rate (server.graph_rate), on PulseAudio through libpulse at
// 44100 Hz. Null, with the reason, when it cannot.
MonitorRecorder* start_recording(const SoundServer& server, const std::string& sink,
                                 std::string* why);
// Ends the recording and returns it.
Recording finish_recording(MonitorRecorder* recorder);

// The recorded frame that was leaving the sink at time ns (fractional), read
// off the nearest dated block before it; false before the first.
bool recorded_frame_at(const Recording& recording, int64_t ns, double* frame);

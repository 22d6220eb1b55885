// A connection to the sound server with one playback stream in the output
// format, made on libpulse's threaded main loop within a deadline, so that a
// server that does not answer cannot hold up the program's start.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string>

struct PulseConnection {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::string server;  // its name and version: "PulseAudio 16.1"
};

// Starts a main loop and connects to the default server (PULSE_SERVER, or
// the user's; never one started for the purpose), then a playback stream
// named "music" at 44100 Hz 16-bit stereo with `attr` and `flags`, all before
// `deadline` (ns of the library's steady clock). "" once the stream is ready,
// else the reason, and nothing stays open. The main loop is not left locked.
std::string pulse_connect(PulseConnection& c, const pa_buffer_attr& attr, pa_stream_flags_t flags,
                          int64_t deadline);

// Disconnects the stream and the context and ends the main loop; the caller
// has freed its own events. Not with the main loop locked.
void pulse_disconnect(PulseConnection& c);

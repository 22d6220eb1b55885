// A private sound server for one test or measurement, started and stopped
// through scripts/sound-server (the one helper the tests, the sync rig and
// the end-to-end tests share), and what a client of it needs.
#pragma once

#include <string>

struct SoundServer {
    std::string dir;         // its files, removed when it stops
    std::string address;     // for PULSE_SERVER: unix:DIR/native
    std::string runtime;     // for XDG_RUNTIME_DIR
    std::string name;        // "PulseAudio 16.1" or "PipeWire 0.3.65"
    bool pipewire = false;   // PipeWire with its PulseAudio service
    int graph_rate = 44100;  // PipeWire's graph, as set_graph_clock left it
    std::string failure;     // why it could not start; empty while it runs
    bool running() const { return failure.empty(); }
};

// Starts a server with its two null sinks ("velkorandi", the default, and
// "velkorandi_other"): PulseAudio, or with `pipewire` PipeWire's PulseAudio
// service. On failure, says why in `failure`.
SoundServer start_sound_server(bool pipewire = false);
// Ends it (the client sees the connection go) and removes its files.
void stop_sound_server(SoundServer& server);

// Points this process's libpulse at the server and unsets SDL_AUDIODRIVER,
// so that the audio library chooses the server. PIPEWIRE_REMOTE and
// PIPEWIRE_RUNTIME_DIR are unset: a native PipeWire client of this process
// finds the private server's socket through XDG_RUNTIME_DIR, never the
// user's server.
void use_sound_server(const SoundServer& server);
// The same, but PIPEWIRE_REMOTE names a socket that does not exist, as in a
// sandbox that exposes only the PulseAudio socket: the library's native
// PipeWire output cannot connect and its libpulse output plays (on PipeWire,
// through its PulseAudio service).
void use_pulse_socket_only(const SoundServer& server);

// Runs PipeWire's graph at `quantum` frames and `rate` Hz (0: lets the
// setting go), through the "settings" metadata, and waits until the graph
// really runs so (a short recording of the default sink's monitor shows the
// driver's cycle). False, with the reason, when it did not within 5 s or the
// server is not PipeWire.
bool set_graph_clock(SoundServer& server, int quantum, int rate, std::string* why);

// Moves the server's first playing stream to the sink named `sink`, as a
// user switching outputs does, and waits until the server lists it there.
// pactl moves native PipeWire streams too, but PipeWire's PulseAudio service
// sometimes answers a move that never takes (some one in three on a busy
// machine, whatever plays the stream): the move is asked again. False when
// there is no stream or sink, or the move never took within 2 s.
bool move_stream_to_sink(const SoundServer& server, const std::string& sink);

// pactl with its arguments against the server: whether it succeeded, and
// its standard output.
bool pactl(const SoundServer& server, const std::string& arguments, std::string* out);

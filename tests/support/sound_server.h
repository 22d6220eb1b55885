// A private sound server for one test or measurement, started and stopped
// through scripts/sound-server (the one helper the tests, the sync rig and
// the end-to-end tests share), and what a client of it needs.
#pragma once

#include <string>

struct SoundServer {
    std::string dir;      // its files, removed when it stops
    std::string address;  // for PULSE_SERVER: unix:DIR/native
    std::string runtime;  // for XDG_RUNTIME_DIR
    std::string name;     // "PulseAudio 16.1"
    std::string failure;  // why it could not start; empty while it runs
    bool running() const { return failure.empty(); }
};

// Starts a server with its two null sinks ("velkorandi", the default, and
// "velkorandi_other"): PulseAudio, or with `pipewire` PipeWire's PulseAudio
// service. On failure, says why in `failure`.
SoundServer start_sound_server(bool pipewire = false);
// Ends it (the client sees the connection go) and removes its files.
void stop_sound_server(SoundServer& server);

// Points this process's libpulse at the server and unsets SDL_AUDIODRIVER,
// so that the audio library chooses the server.
void use_sound_server(const SoundServer& server);

// pactl with its arguments against the server: whether it succeeded, and
// its standard output.
bool pactl(const SoundServer& server, const std::string& arguments, std::string* out);

#include "support/sound_server.h"

#include "support/pipewire_recorder.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {

// The command's standard output, and whether it exited with 0.
bool run(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out->append(chunk, n);
    return pclose(pipe) == 0;
}

}  // namespace

SoundServer start_sound_server(bool pipewire) {
    SoundServer server;
    static int count = 0;
    server.dir = (std::filesystem::temp_directory_path() /
                  ("sound-server-" + std::to_string(getpid()) + "-" + std::to_string(++count)))
                     .string();
    std::string out;
    // This process owns it: the server ends with it if a test dies first.
    std::string command = "SOUND_SERVER_OWNER=" + std::to_string(getpid()) + " " +
                          SOUND_SERVER_SCRIPT + " start '" + server.dir + "'" +
                          (pipewire ? " pipewire" : "") + " 2>" + server.dir + ".why";
    bool started = run(command, &out);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "PULSE_SERVER") server.address = value;
        if (key == "XDG_RUNTIME_DIR") server.runtime = value;
        if (key == "SERVER") server.name = value;
        if (key == "SERVER") server.pipewire = value.rfind("PipeWire", 0) == 0;
    }
    if (!started || server.address.empty()) {
        std::string why;
        run("cat '" + server.dir + ".why'", &why);
        server.failure = why.empty() ? "scripts/sound-server could not start one" : why;
    }
    std::filesystem::remove(server.dir + ".why");
    return server;
}

void stop_sound_server(SoundServer& server) {
    if (server.dir.empty()) return;
    std::string out;
    run(std::string(SOUND_SERVER_SCRIPT) + " stop '" + server.dir + "'", &out);
    server.failure = "stopped";
}

void use_sound_server(const SoundServer& server) {
    setenv("PULSE_SERVER", server.address.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", server.runtime.c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PIPEWIRE_RUNTIME_DIR");
    unsetenv("SDL_AUDIODRIVER");
}

void use_pulse_socket_only(const SoundServer& server) {
    use_sound_server(server);
    // A name of the runtime folder with no socket behind it: refused at once.
    setenv("PIPEWIRE_REMOTE", "pipewire-hidden-by-sandbox", 1);
}

bool pactl(const SoundServer& server, const std::string& arguments, std::string* out) {
    return run("PULSE_SERVER='" + server.address + "' pactl " + arguments + " 2>/dev/null", out);
}

namespace {

// The index of the sink named `name`, or "".
std::string sink_index(const SoundServer& server, const std::string& name) {
    std::string sinks;
    pactl(server, "list short sinks", &sinks);
    size_t at = sinks.find("\t" + name + "\t");
    if (at == std::string::npos) return "";
    size_t line = sinks.rfind('\n', at);
    line = line == std::string::npos ? 0 : line + 1;
    return sinks.substr(line, at - line);
}

}  // namespace

bool move_stream_to_sink(const SoundServer& server, const std::string& sink) {
    std::string inputs, unused;
    const std::string index = sink_index(server, sink);
    if (!pactl(server, "list short sink-inputs", &inputs) || inputs.empty() || index.empty())
        return false;
    const std::string id = inputs.substr(0, inputs.find('\t'));
    const std::string listed = id + "\t" + index + "\t";  // its line once it is there
    for (int attempt = 0; attempt < 20; ++attempt) {
        pactl(server, "move-sink-input " + id + " " + sink, &unused);
        std::string now;
        pactl(server, "list short sink-inputs", &now);
        if (now.find(listed) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool set_graph_clock(SoundServer& server, int quantum, int rate, std::string* why) {
    if (!server.pipewire) {
        *why = "not a PipeWire server";
        return false;
    }
    // pw-metadata finds the server by the runtime folder alone.
    std::string env = "env -u PIPEWIRE_REMOTE -u PIPEWIRE_RUNTIME_DIR XDG_RUNTIME_DIR='" +
                      server.runtime + "' pw-metadata -n settings 0 ";
    std::string out;
    if (!run(env + "clock.force-quantum " + std::to_string(quantum) + " >/dev/null 2>&1", &out) ||
        !run(env + "clock.force-rate " + std::to_string(rate) + " >/dev/null 2>&1", &out)) {
        *why = "pw-metadata failed";
        return false;
    }
    // A graph let go runs at the configured rate (44100) and whatever
    // quantum its clients ask for: only what is forced is waited for. The
    // graph runs while the default sink's monitor is recorded, and every
    // recorded buffer says the driver's cycle.
    const int want_rate = rate > 0 ? rate : 44100;
    PipewireRecorder* probe =
        start_pipewire_recording(server.runtime, "velkorandi", want_rate, why);
    if (!probe) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    GraphClock seen;
    bool there = false;
    while (!there && std::chrono::steady_clock::now() < deadline) {
        seen = recorded_graph_clock(probe);
        there = seen.rate == want_rate && (quantum == 0 || seen.quantum == quantum);
        if (!there) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    finish_pipewire_recording(probe);
    if (there) {
        server.graph_rate = want_rate;
        return true;
    }
    *why = "after 5 s the graph runs at quantum " + std::to_string(seen.quantum) + " and " +
           std::to_string(seen.rate) + " Hz, not " + std::to_string(quantum) + " at " +
           std::to_string(want_rate);
    return false;
}

#include "support/sound_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

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
    unsetenv("SDL_AUDIODRIVER");
}

bool pactl(const SoundServer& server, const std::string& arguments, std::string* out) {
    return run("PULSE_SERVER='" + server.address + "' pactl " + arguments + " 2>/dev/null", out);
}

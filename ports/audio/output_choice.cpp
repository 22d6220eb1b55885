// Which output the audio library plays through (see audio_output.h).
//
// IMPLEMENTS
//   audio_output.h: open_chosen_output, which BASS_Init calls, and
//   prepare_chosen_output, which audio_library_prepare_output calls.
//
// HOW
//   SDL_AUDIODRIVER, where set, names an SDL driver to play through, so SDL
//   it is. Otherwise the sound server is tried first (connecting to it costs
//   a few milliseconds when one runs, and fails at once when none does): it
//   is the only output that knows how long its buffers wait before they are
//   heard. Without one SDL's own choice of driver plays (ALSA, say). The
//   choice and its reason go to standard error in one line.
//
//   Connecting to the server can be started ahead, on a thread of its own,
//   so that the program does other work meanwhile; Init then takes that
//   connection, or its reason for failing, and decides as above.
//
// LIMITATIONS
//   - The choice is made once, at Init; a server started later is not used
//     until the next Init (nor one started after the connection made ahead
//     failed).
//
// DEPENDENCIES
//   The two outputs of this folder; the C library's getenv and stderr.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/audio_output.h"

namespace {

// SDL_AUDIODRIVER names the SDL driver to play through.
const char* sdl_driver_asked() {
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    return driver && *driver ? driver : nullptr;
}

}  // namespace

void prepare_chosen_output() {
    if (!sdl_driver_asked()) kPulseOutput.prepare();
}

const AudioOutput* open_chosen_output(FillBuffer fill, int* buffer_frames) {
    std::string said;
    const char* driver = sdl_driver_asked();
    std::string why;
    if (driver) {
        why = std::string("SDL_AUDIODRIVER=") + driver + " is set";
    } else {
        if (kPulseOutput.open(fill, buffer_frames, &said)) {
            std::fprintf(stderr, "audio: playing through %s\n", said.c_str());
            return &kPulseOutput;
        }
        why = "no sound server (" + said + ")";
    }
    if (kSdlOutput.open(fill, buffer_frames, &said)) {
        std::fprintf(stderr, "audio: %s: playing through %s\n", why.c_str(), said.c_str());
        return &kSdlOutput;
    }
    std::fprintf(stderr, "audio: %s, and SDL cannot play either: %s\n", why.c_str(), said.c_str());
    return nullptr;
}

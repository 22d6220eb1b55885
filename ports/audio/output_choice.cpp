// Which output the audio library plays through (see audio_output.h).
//
// IMPLEMENTS
//   audio_output.h: open_chosen_output, which BASS_Init calls,
//   prepare_chosen_output, which audio_library_prepare_output calls, and
//   forget_prepared_outputs, which audio_library_end calls.
//
// HOW
//   SDL_AUDIODRIVER, where set, names an SDL driver to play through, so SDL
//   it is. Otherwise the sound servers are tried first, as they are the
//   outputs that know how long their buffers wait before they are heard:
//   PipeWire on its own socket, whose graph dates every buffer exactly; then
//   the pulse socket, which is a PulseAudio server or, where PipeWire can only
//   be reached that way (a sandbox), PipeWire's pulse service. Connecting
//   costs a few milliseconds where a server runs and fails at once where
//   none does. Without either SDL's own choice of driver plays (ALSA, say).
//   The choice and its reason go to standard error in one line.
//
//   Connecting can be started ahead, on a thread of its own, so that the
//   program does other work meanwhile; Init then takes that connection, or
//   its reason for failing, and decides as above.
//
// LIMITATIONS
//   - The choice is made once, at Init; a server started later is not used
//     until the next Init (nor one started after the connection made ahead
//     failed).
//
// DEPENDENCIES
//   The three outputs of this folder; the C library's getenv and stderr.
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
    // The PipeWire output prepares the pulse one in its place where no
    // PipeWire answers (see output_pipewire.cpp).
    if (!sdl_driver_asked()) kPipeWireOutput.prepare();
}

void forget_prepared_outputs() {
    // PipeWire's first: its thread may have prepared the pulse output.
    kPipeWireOutput.forget_prepared();
    kPulseOutput.forget_prepared();
}

const AudioOutput* open_chosen_output(FillBuffer fill, int* buffer_frames) {
    std::string said;
    const char* driver = sdl_driver_asked();
    std::string why;
    if (driver) {
        why = std::string("SDL_AUDIODRIVER=") + driver + " is set";
    } else {
        for (const AudioOutput* server : {&kPipeWireOutput, &kPulseOutput}) {
            if (server->open(fill, buffer_frames, &said)) {
                std::fprintf(stderr, "audio: playing through %s\n", said.c_str());
                return server;
            }
            why += (why.empty() ? "" : "; ") + said;
        }
        why = "no sound server (" + why + ")";
    }
    if (kSdlOutput.open(fill, buffer_frames, &said)) {
        std::fprintf(stderr, "audio: %s: playing through %s\n", why.c_str(), said.c_str());
        return &kSdlOutput;
    }
    std::fprintf(stderr, "audio: %s, and SDL cannot play either: %s\n", why.c_str(), said.c_str());
    return nullptr;
}

// Where the audio library's buffers go: an output back end, opened in the
// output format of platform/audio_format.h, asking its own thread for each
// buffer and telling which of the frames handed to it is being heard.
// output_pipewire.cpp plays through PipeWire natively, output_pulse.cpp
// through a PulseAudio server or PipeWire's pulse socket (libpulse),
// output_sdl.cpp through SDL2 audio; output_choice.cpp picks one at Init.
#pragma once

#include <cstdint>
#include <string>

// Fills out, `bytes` long, with the next buffer; called on the output's
// thread. True when a stream was positioned anew since the last buffer: what
// the output still holds from before should not be played.
using FillBuffer = bool (*)(uint8_t* out, int bytes);

struct AudioOutput {
    // Opens the device, paused, with `fill` as its callback; *buffer_frames is
    // the size of the buffers it asks for, in sample frames. *said is what
    // the program tells on standard error: where it plays, or why it cannot.
    // On failure nothing stays open and the answer is false.
    bool (*open)(FillBuffer fill, int* buffer_frames, std::string* said);
    // Starts the callbacks.
    void (*start)();
    // Between the two no callback runs: what it reads can be released.
    void (*lock)();
    void (*unlock)();
    // Waits for the callback to finish and closes the device, so that what
    // was played is complete wherever it goes.
    void (*close)();
    // The frame being heard at time now (ns of the library's steady clock),
    // counted in frames handed to fill since open; false while the output
    // cannot tell (just after it dropped what it held). Called under the
    // library's lock, so it never waits for the output's thread.
    bool (*heard)(int64_t now, double* frame);
    // A stream was positioned anew: the output should ask for the next buffer
    // soon rather than when its queue runs low. Never waits.
    void (*hurry)();
    // Starts, on a thread of its own, what open would wait for (connecting
    // to a server), so that the next open takes it ready; null when the
    // output has nothing worth starting early. Never waits, says nothing.
    void (*prepare)();
    // Ends what prepare started and open never took: joins its thread and
    // closes its connection. Null where prepare is.
    void (*forget_prepared)();
    // True when the output drops what it holds on fill's word, so that a
    // new position is heard at once; the library then positions the other
    // playing streams anew too, at what is heard of them.
    bool drops_held;
    // True when heard may run past the frames handed to fill so far, by as
    // much as the output knows the device takes on its own before the next
    // callback (a graph whose clock starts a cycle before the callback that
    // fills it); the output bounds that itself. Otherwise the library holds
    // the position at the end of what was handed over.
    bool heard_runs_on;
};

extern const AudioOutput kSdlOutput;
extern const AudioOutput kPulseOutput;
extern const AudioOutput kPipeWireOutput;

// Opens the output this machine should play through: unless SDL_AUDIODRIVER
// is set, PipeWire where it answers on its own socket, else the sound server
// on the pulse socket where one answers; else SDL2 audio. Says on standard
// error, in one line, which and why. Null when none opens.
const AudioOutput* open_chosen_output(FillBuffer fill, int* buffer_frames);
// Prepares the output open_chosen_output will try first, where it would be
// the sound server. SDL audio is never started ahead: its initialisation
// must not run beside the windowing's, which uses SDL too.
void prepare_chosen_output();
// Ends whatever prepare_chosen_output started that no open took.
void forget_prepared_outputs();

// Where the audio library's buffers go: the system's default output device,
// opened in the output format of timeline/audio_format.h and asking its own
// thread for each buffer. output_sdl.cpp holds the back end on SDL2 audio;
// another back end (a sound server's own interface, say) would implement
// these same calls.
#pragma once

#include <cstdint>

// Fills out, `bytes` long, with the next buffer; called on the device's thread.
using FillBuffer = void (*)(uint8_t* out, int bytes);

// Opens the device, paused, with `fill` as its callback; *buffer_frames is the
// size of one device buffer in sample frames. On failure the reason goes to
// standard error, nothing stays open and the answer is false.
bool open_output(FillBuffer fill, int* buffer_frames);
// Starts the callbacks.
void start_output();
// Between the two no callback runs: what it reads can be released.
void lock_output();
void unlock_output();
// Waits for the callback to finish and closes the device, so that what was
// played is complete wherever it goes.
void close_output();

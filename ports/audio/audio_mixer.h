// The device's side of the audio library: each buffer the output asks for,
// filled with every playing stream, decoded and mixed. Runs on the output's
// thread and reaches the streams under AudioLibrary::lock.
#pragma once

#include <cstdint>

// Makes room for buffers of `frames` sample frames, so that the callback does
// not allocate. Before the output starts.
void prepare_mixer(int frames);

// Fills out, `bytes` long, with the next buffer in the output format: every
// playing stream mixed, silence where none plays. True when a stream was
// positioned anew since the last buffer, so that what the output still holds
// from before is not to be played (see FillBuffer).
bool mix_next_buffer(uint8_t* out, int bytes);

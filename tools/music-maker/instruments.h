// The instruments of the track: each adds one note (or hit) to a mix bus at
// a sample frame, synthesised from the pieces in synth_dsp.h.
#pragma once

#include <cstdint>

#include "synth_dsp.h"

namespace synth {

void kick(Mix& m, int64_t at, double gain);
void snare(Mix& m, int64_t at, double gain, Noise& noise);
void hat(Mix& m, int64_t at, double gain, double decay, Noise& noise);
void bass(Mix& m, int64_t at, int64_t length, int midi, double gain, double cutoff);
void pad(Mix& m, int64_t at, int64_t length, const int (&notes)[3], double gain, double cutoff);
void pluck(Mix& m, int64_t at, int midi, double gain, double pan);
void lead(Mix& m, int64_t at, int64_t length, int midi, double gain);
void riser(Mix& m, int64_t from, int64_t to, double gain, Noise& noise);

}  // namespace synth

// The presentation's music, made from nothing but arithmetic: a driving
// electronic track in A minor with synthesised drums, a rolling bassline, a
// chord pad, an arpeggio and a lead melody.
//
// Its pulse is the presentation's: one sixteenth note per picture step,
// 18368.25 bytes = 4592.0625 sample frames of 44100 Hz stereo (about 144.05
// beats a minute), so the pictures flicker on the beat. Bars begin at
// step 6 + 16 k, which puts the downbeat of the main drop at step 582, where
// the presentation starts (kStartSampleFrame of config/presentation.h, step
// 582.05).
//
// Sections, in bars of 16 steps (1.666 s):
//   0-7 intro, 8-19 groove, 20-27 arpeggio joins, 28-35 build,
//   36-67 main drop (the strongest part), 68-79 breakdown, 80-83 build,
//   84-107 final drop, 108-113 outro.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio_format.h"

// Sample frame where step s begins: s × 4592.0625 exactly, rounded down
// (4592.0625 = 73473 / 16), so the grid never drifts.
int64_t step_frame(int64_t step);

// Renders the whole track: interleaved 16-bit stereo at 44100 Hz. Same
// output on every run.
void render_music(std::vector<int16_t>* out);

// Peak and RMS levels of interleaved 16-bit audio, in dB of full scale.
void measure_levels(const std::vector<int16_t>& pcm, double* peak_db, double* rms_db);

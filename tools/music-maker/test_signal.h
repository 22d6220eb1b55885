// A test signal for checking decoders and players sample by sample: a tone
// whose pitch and loudness keep drifting, with a little noise, so that no
// stretch of it repeats and an offset of even one sample frame shows.
#pragma once

#include <cstdint>
#include <vector>

void make_test_signal(double seconds, int rate, int channels, std::vector<int16_t>* out);

#include "test_signal.h"

#include <cmath>

void make_test_signal(double seconds, int rate, int channels, std::vector<int16_t>* out) {
    const double pi = std::acos(-1.0);
    int64_t frames = static_cast<int64_t>(seconds * rate);
    out->assign(static_cast<size_t>(frames * channels), 0);
    double phase[2] = {0.0, 0.25};
    uint32_t noise = 12345;
    for (int64_t i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / rate;
        // Incommensurate modulation rates: the pattern never comes back.
        double freq =
            330.0 + 180.0 * std::sin(2 * pi * 0.37 * t) + 45.0 * std::sin(2 * pi * 3.1 * t);
        double level = 0.30 + 0.15 * std::sin(2 * pi * 0.91 * t);
        for (int c = 0; c < channels; ++c) {
            phase[c] += freq * (c == 0 ? 1.0 : 1.5) / rate;
            phase[c] -= std::floor(phase[c]);
            noise = noise * 1664525u + 1013904223u;
            double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
            double v = level * std::sin(2 * pi * phase[c]) + hiss;
            (*out)[static_cast<size_t>(i * channels + c)] =
                static_cast<int16_t>(std::lround(v * 32767.0));
        }
    }
}

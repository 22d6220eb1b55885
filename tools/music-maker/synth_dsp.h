// The signal-processing pieces the instruments are built from: a stereo mix
// bus, a repeatable noise source, a band-limited sawtooth and a resonant
// low-pass filter. Header-only: each is a few lines that the compiler should
// see inline in the per-sample loops.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/audio_format.h"

namespace synth {

inline const double kPi = std::acos(-1.0);

inline int64_t seconds_frames(double s) { return static_cast<int64_t>(s * kAudioRate); }

struct Mix {
    std::vector<float> left, right;
    void add(int64_t frame, double l, double r) {
        if (frame < 0 || frame >= static_cast<int64_t>(left.size())) return;
        left[static_cast<size_t>(frame)] += static_cast<float>(l);
        right[static_cast<size_t>(frame)] += static_cast<float>(r);
    }
};

inline double midi_hz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// A fixed-seed generator: the same noise on every run.
struct Noise {
    uint32_t state;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

// Band-limited sawtooth: the step of a naive saw smoothed by PolyBLEP, so
// high notes do not turn into aliased whistles.
inline double poly_blep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

struct Saw {
    double phase = 0;
    double next(double hz) {
        double dt = hz / kAudioRate;
        double v = 2.0 * phase - 1.0 - poly_blep(phase, dt);
        phase += dt;
        if (phase >= 1.0) phase -= 1.0;
        return v;
    }
};

// State-variable filter (topology-preserving transform): stable at any
// cutoff, with low-pass, band-pass and high-pass outputs.
struct Filter {
    double ic1 = 0, ic2 = 0;
    double low = 0, band = 0, high = 0;
    // The coefficients of the last cutoff: most filters hold theirs for a
    // whole note, and tan() per sample would be most of the render time.
    double last_hz = -1, last_resonance = -1, g = 0, k = 0, a1 = 0;
    void run(double x, double hz, double resonance) {
        hz = std::clamp(hz, 20.0, 18000.0);
        if (hz != last_hz || resonance != last_resonance) {
            last_hz = hz;
            last_resonance = resonance;
            g = std::tan(kPi * hz / kAudioRate);
            k = 2.0 - 2.0 * resonance;
            a1 = 1.0 / (1.0 + g * (g + k));
        }
        double v3 = x - ic2;
        double v1 = a1 * ic1 + g * a1 * v3;
        double v2 = ic2 + g * v1;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

}  // namespace synth

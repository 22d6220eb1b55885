#include "instruments.h"

#include <algorithm>
#include <cmath>

namespace synth {

void kick(Mix& m, int64_t at, double gain) {
    double phase = 0;
    int64_t n = seconds_frames(0.45);
    for (int64_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kAudioRate;
        double hz = 46.0 + 110.0 * std::exp(-t / 0.035);
        phase += hz / kAudioRate;
        double env = std::exp(-t / 0.20) * std::min(1.0, t / 0.002);
        double click = std::exp(-t / 0.004) * 0.3;
        double v = gain * (std::sin(2 * kPi * phase) * env + click * std::sin(2 * kPi * 1800 * t));
        m.add(at + i, v, v);
    }
}

void snare(Mix& m, int64_t at, double gain, Noise& noise) {
    Filter f;
    int64_t n = seconds_frames(0.28);
    for (int64_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kAudioRate;
        f.run(noise.next(), 3200, 0.3);
        double body = std::sin(2 * kPi * 185 * t) * std::exp(-t / 0.05);
        double v = gain * (0.8 * f.band * std::exp(-t / 0.09) + 0.5 * body);
        m.add(at + i, v * 0.95, v);
    }
}

void hat(Mix& m, int64_t at, double gain, double decay, Noise& noise) {
    Filter f;
    int64_t n = seconds_frames(decay * 6);
    for (int64_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kAudioRate;
        f.run(noise.next(), 8000, 0.2);
        double v = gain * f.high * std::exp(-t / decay);
        m.add(at + i, v * 0.8, v);
    }
}

// A resonant saw bass note; the filter opens with the section.
void bass(Mix& m, int64_t at, int64_t length, int midi, double gain, double cutoff) {
    Saw a, b;
    Filter f;
    double hz = midi_hz(midi);
    int64_t n = length + seconds_frames(0.01);
    for (int64_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kAudioRate;
        double env = std::min(1.0, t / 0.003) *
                     (i < length ? 1.0 : std::exp(-static_cast<double>(i - length) / 80.0));
        double x = 0.6 * a.next(hz) + 0.4 * b.next(hz * 1.005);
        f.run(x, cutoff * (1.0 + 2.5 * std::exp(-t / 0.06)), 0.55);
        double v = gain * env * (f.low + 0.35 * std::sin(2 * kPi * hz * t));
        m.add(at + i, v, v);
    }
}

// A chord held for a bar: two detuned saws per note, spread left and right.
void pad(Mix& m, int64_t at, int64_t length, const int (&notes)[3], double gain, double cutoff) {
    int64_t release = seconds_frames(0.35);
    for (int v = 0; v < 3; ++v) {
        for (int side = 0; side < 2; ++side) {
            Saw s;
            s.phase = 0.31 * v + 0.5 * side;
            Filter f;
            double hz = midi_hz(notes[v]) * (side == 0 ? 0.997 : 1.003);
            for (int64_t i = 0; i < length + release; ++i) {
                double t = static_cast<double>(i) / kAudioRate;
                double env =
                    std::min(1.0, t / 0.25) *
                    (i < length ? 1.0
                                : std::exp(-static_cast<double>(i - length) / (0.1 * kAudioRate)));
                f.run(s.next(hz), cutoff, 0.1);
                double out = gain * env * f.low / 3.0;
                if (side == 0)
                    m.add(at + i, out * 0.9, out * 0.3);
                else
                    m.add(at + i, out * 0.3, out * 0.9);
            }
        }
    }
}

// A short plucked square for the arpeggio, bouncing between the speakers.
void pluck(Mix& m, int64_t at, int midi, double gain, double pan) {
    double hz = midi_hz(midi);
    Filter f;
    double phase = 0;
    int64_t n = seconds_frames(0.22);
    for (int64_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kAudioRate;
        phase += hz / kAudioRate;
        phase -= std::floor(phase);
        double square = phase < 0.5 ? 1.0 : -1.0;
        f.run(square, 900 + 5000 * std::exp(-t / 0.04), 0.35);
        double v = gain * f.low * std::exp(-t / 0.07) * std::min(1.0, t / 0.001);
        m.add(at + i, v * (1.0 - pan), v * pan);
    }
}

// The lead: two saws and a touch of square, vibrato after the attack.
void lead(Mix& m, int64_t at, int64_t length, int midi, double gain) {
    Saw a, b;
    Filter f;
    double hz = midi_hz(midi);
    int64_t release = seconds_frames(0.18);
    double square_phase = 0;
    for (int64_t i = 0; i < length + release; ++i) {
        double t = static_cast<double>(i) / kAudioRate;
        double vibrato = 1.0 + 0.004 * std::sin(2 * kPi * 5.5 * t) * std::min(1.0, t / 0.3);
        double f0 = hz * vibrato;
        square_phase += f0 * 0.5 / kAudioRate;
        square_phase -= std::floor(square_phase);
        double x =
            0.45 * a.next(f0) + 0.45 * b.next(f0 * 1.007) + 0.25 * (square_phase < 0.5 ? 1 : -1);
        double env =
            std::min(1.0, t / 0.008) *
            (i < length ? 0.85 + 0.15 * std::exp(-t / 0.1)
                        : std::exp(-static_cast<double>(i - length) / (0.06 * kAudioRate)));
        f.run(x, 2600 + 2400 * std::exp(-t / 0.15), 0.25);
        double v = gain * env * f.low;
        m.add(at + i, v * 0.85, v);
    }
}

// Rising filtered noise over the builds.
void riser(Mix& m, int64_t from, int64_t to, double gain, Noise& noise) {
    Filter f;
    for (int64_t i = from; i < to; ++i) {
        double x = static_cast<double>(i - from) / static_cast<double>(to - from);
        f.run(noise.next(), 300 + 9000 * x * x, 0.5);
        double v = gain * f.band * x * x;
        m.add(i, v, v * 0.9);
    }
}

}  // namespace synth

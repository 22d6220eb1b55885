#include "synth.h"

#include <algorithm>
#include <cmath>

namespace {

const double kPi = std::acos(-1.0);
constexpr int64_t kFirstBarStep = 6;
constexpr int kStepsPerBar = 16;
constexpr int kBars = 114;
constexpr double kTailSeconds = 1.2;  // the last notes ring out

struct Mix {
    std::vector<float> left, right;
    void add(int64_t frame, double l, double r) {
        if (frame < 0 || frame >= static_cast<int64_t>(left.size())) return;
        left[static_cast<size_t>(frame)] += static_cast<float>(l);
        right[static_cast<size_t>(frame)] += static_cast<float>(r);
    }
};

double midi_hz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

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
double poly_blep(double t, double dt) {
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

// ---- the score --------------------------------------------------------

enum Section { kIntro, kGroove, kArp, kBuild, kDrop, kBreak, kBuild2, kFinal, kOutro };

Section section_of(int bar) {
    if (bar < 8) return kIntro;
    if (bar < 20) return kGroove;
    if (bar < 28) return kArp;
    if (bar < 36) return kBuild;
    if (bar < 68) return kDrop;
    if (bar < 80) return kBreak;
    if (bar < 84) return kBuild2;
    if (bar < 108) return kFinal;
    return kOutro;
}

bool is_drop(Section s) { return s == kDrop || s == kFinal; }

// Am, F, C, G: i - VI - III - VII, one bar each.
struct Chord {
    int bass;      // MIDI note of the root, low octave
    int pad[3];    // voicing around middle C
};
constexpr Chord kChords[4] = {
    {33, {57, 60, 64}},  // A minor: A C E
    {29, {57, 60, 65}},  // F major: A C F
    {36, {55, 60, 64}},  // C major: G C E
    {31, {55, 59, 62}},  // G major: G B D
};

struct Note {
    int step, length, midi;
};
// Four bars of melody over the four chords, and a second ending that climbs
// back to the top.
constexpr Note kMelodyA[] = {
    {0, 2, 69}, {2, 2, 72}, {4, 4, 76}, {8, 2, 74}, {10, 2, 72}, {12, 4, 76},
    {16, 4, 77}, {20, 2, 76}, {22, 2, 72}, {24, 6, 69}, {30, 2, 72},
    {32, 3, 79}, {35, 3, 76}, {38, 2, 72}, {40, 4, 76}, {44, 4, 79},
    {48, 4, 74}, {52, 2, 71}, {54, 2, 67}, {56, 4, 74}, {60, 4, 76},
};
constexpr Note kMelodyB[] = {
    {0, 2, 76}, {2, 2, 79}, {4, 4, 81}, {8, 2, 79}, {10, 2, 76}, {12, 4, 72},
    {16, 4, 77}, {20, 2, 81}, {22, 2, 77}, {24, 6, 72}, {30, 2, 74},
    {32, 3, 76}, {35, 3, 79}, {38, 2, 84}, {40, 4, 79}, {44, 4, 76},
    {48, 4, 71}, {52, 4, 72}, {56, 4, 74}, {60, 4, 76},
};

int64_t bar_step(int bar) { return kFirstBarStep + static_cast<int64_t>(bar) * kStepsPerBar; }
int64_t seconds_frames(double s) { return static_cast<int64_t>(s * kAudioRate); }

// ---- instruments -------------------------------------------------------

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
        double env = std::min(1.0, t / 0.003) * (i < length ? 1.0 : std::exp(-static_cast<double>(i - length) / 80.0));
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
                double env = std::min(1.0, t / 0.25) *
                             (i < length ? 1.0 : std::exp(-static_cast<double>(i - length) / (0.1 * kAudioRate)));
                f.run(s.next(hz), cutoff, 0.1);
                double out = gain * env * f.low / 3.0;
                if (side == 0) m.add(at + i, out * 0.9, out * 0.3);
                else m.add(at + i, out * 0.3, out * 0.9);
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
        double x = 0.45 * a.next(f0) + 0.45 * b.next(f0 * 1.007) + 0.25 * (square_phase < 0.5 ? 1 : -1);
        double env = std::min(1.0, t / 0.008) * (i < length ? 0.85 + 0.15 * std::exp(-t / 0.1)
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

// ---- arrangement -------------------------------------------------------

void arrange(Mix& drums, Mix& music, std::vector<float>& duck) {
    Noise noise{0x5eed1234u};
    for (int bar = 0; bar < kBars; ++bar) {
        Section s = section_of(bar);
        const Chord& chord = kChords[bar % 4];
        int64_t bar_start = step_frame(bar_step(bar));
        int64_t bar_end = step_frame(bar_step(bar + 1));
        double intensity = is_drop(s) ? 1.0 : s == kBreak ? 0.55 : 0.75;
        if (s == kOutro) intensity = 0.7 * (1.0 - (bar - 108) / 6.0);

        // Filter cutoffs open over the intro and the builds.
        double open = 1.0;
        if (s == kIntro) open = 0.15 + 0.5 * bar / 8.0;
        if (s == kBuild) open = 0.5 + 0.5 * (bar - 28) / 8.0;
        if (s == kBuild2) open = 0.4 + 0.6 * (bar - 80) / 4.0;
        if (s == kBreak) open = 0.45;
        if (s == kOutro) open = 0.6 - 0.4 * (bar - 108) / 6.0;

        // Pad on every bar; louder in the breakdown where it carries the song.
        pad(music, bar_start, bar_end - bar_start, chord.pad, s == kBreak ? 0.30 : 0.20,
            600 + 3400 * open);

        for (int st = 0; st < kStepsPerBar; ++st) {
            int64_t step = bar_step(bar) + st;
            int64_t at = step_frame(step);
            int64_t step_len = step_frame(step + 1) - at;
            bool beat = st % 4 == 0;
            bool last_bars_of_build = (s == kBuild && bar >= 34) || (s == kBuild2 && bar >= 83);

            // Kick on the beat, except in the breakdown and at the end of a build.
            bool kick_here = beat && s != kIntro && s != kBreak && !last_bars_of_build &&
                             !(s == kOutro && bar >= 112);
            if (kick_here) {
                kick(drums, at, 0.95 * std::max(intensity, 0.7));
                // Everything else makes room for the kick for a moment.
                for (int64_t i = 0; i < seconds_frames(0.25); ++i) {
                    size_t k = static_cast<size_t>(at + i);
                    if (k < duck.size()) {
                        double t = static_cast<double>(i) / kAudioRate;
                        duck[k] = std::min(duck[k], static_cast<float>(1.0 - 0.55 * std::exp(-t / 0.09)));
                    }
                }
            }

            // Snare on two and four; rolls that thicken through the builds.
            if ((is_drop(s) || s == kArp || s == kGroove) && (st == 4 || st == 12))
                snare(drums, at, 0.55 * intensity, noise);
            if (s == kBuild || s == kBuild2) {
                int bars_in = s == kBuild ? bar - 28 : 4 + (bar - 80);
                int every = bars_in < 4 ? 4 : bars_in < 6 ? 2 : 1;
                if (st % every == 0) snare(drums, at, 0.2 + 0.05 * bars_in, noise);
            }

            // Hats: closed sixteenths, accented off-beats, open hats in the drops.
            if (s != kBreak && s != kIntro && !(s == kOutro && bar >= 111)) {
                double accent = st % 4 == 2 ? 1.0 : 0.45;
                hat(drums, at, 0.16 * accent * intensity, 0.018, noise);
                if (is_drop(s) && st % 4 == 2) hat(drums, at, 0.12, 0.09, noise);
            } else if (s == kIntro && bar >= 4 && st % 4 == 2) {
                hat(drums, at, 0.08 * open, 0.02, noise);
            }

            // Rolling bass between the kicks; octave jumps for drive.
            if (s != kIntro && s != kBreak && !beat && !(s == kOutro && bar >= 110)) {
                int octave = (st == 7 || st == 14) ? 12 : 0;
                bass(music, at, step_len * 7 / 10, chord.bass + 12 + octave, 0.34 * intensity,
                     350 + 1500 * open * intensity);
            } else if (s == kBreak && st == 0) {
                bass(music, at, bar_end - at - step_len, chord.bass + 12, 0.18, 300);
            }

            // Arpeggio through the chord, up an octave, ping-pong.
            if (s == kArp || s == kBuild || is_drop(s) || s == kBuild2 || (s == kBreak && bar >= 72)) {
                static const int order[8] = {0, 1, 2, 1, 0, 2, 1, 2};
                int note = chord.pad[order[st % 8]] + 12 + (st >= 8 ? 12 : 0);
                double gain = (is_drop(s) ? 0.13 : 0.10) * (st % 2 == 0 ? 1.0 : 0.7);
                pluck(music, at, note, gain, st % 2 == 0 ? 0.3 : 0.7);
            }
        }

        // The melody: the full line in the drops, its first half over the breakdown.
        if (is_drop(s) || (s == kBreak && bar >= 72) || (s == kOutro && bar < 110)) {
            int phrase_bar = bar % 4;
            bool second = ((bar - 36) / 4) % 2 == 1 && is_drop(s);
            const Note* notes = second ? kMelodyB : kMelodyA;
            size_t count = second ? std::size(kMelodyB) : std::size(kMelodyA);
            for (size_t i = 0; i < count; ++i) {
                if (notes[i].step / kStepsPerBar != phrase_bar) continue;
                int64_t step = bar_step(bar) + notes[i].step % kStepsPerBar;
                int64_t at = step_frame(step);
                int64_t len = step_frame(step + notes[i].length) - at;
                lead(music, at, len * 9 / 10, notes[i].midi, s == kBreak ? 0.16 : 0.21);
            }
        }
    }
    riser(drums, step_frame(bar_step(30)), step_frame(bar_step(36)), 0.35, noise);
    riser(drums, step_frame(bar_step(80)), step_frame(bar_step(84)), 0.35, noise);
    // A fade-in pickup into the first bar.
    riser(drums, 0, step_frame(kFirstBarStep), 0.15, noise);
}

}  // namespace

int64_t step_frame(int64_t step) { return step * 73473 / 16; }

void render_music(std::vector<int16_t>* out) {
    int64_t frames = step_frame(bar_step(kBars)) + seconds_frames(kTailSeconds);
    Mix drums{std::vector<float>(static_cast<size_t>(frames)), std::vector<float>(static_cast<size_t>(frames))};
    Mix music = drums;
    std::vector<float> duck(static_cast<size_t>(frames), 1.0f);
    arrange(drums, music, duck);

    // Master: drums plus the ducked music, a gentle tanh saturation for glue,
    // then scaled so the loudest sample sits at -1 dBFS: never a clipped one.
    std::vector<double> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    double peak = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = std::tanh(1.1 * (drums.left[i] + music.left[i] * duck[i]));
        right[i] = std::tanh(1.1 * (drums.right[i] + music.right[i] * duck[i]));
        peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
    }
    // A short fade at the very end so the file ends in silence.
    int64_t fade = seconds_frames(0.5);
    for (int64_t i = 0; i < fade; ++i) {
        double g = static_cast<double>(i) / static_cast<double>(fade);
        left[static_cast<size_t>(frames - 1 - i)] *= g;
        right[static_cast<size_t>(frames - 1 - i)] *= g;
    }
    double gain = peak > 0 ? std::pow(10.0, -1.0 / 20.0) / peak : 1.0;
    out->resize(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < left.size(); ++i) {
        (*out)[2 * i] = static_cast<int16_t>(std::lround(left[i] * gain * 32767.0));
        (*out)[2 * i + 1] = static_cast<int16_t>(std::lround(right[i] * gain * 32767.0));
    }
}

void measure_levels(const std::vector<int16_t>& pcm, double* peak_db, double* rms_db) {
    double peak = 0, sum = 0;
    for (int16_t s : pcm) {
        double v = s / 32768.0;
        peak = std::max(peak, std::abs(v));
        sum += v * v;
    }
    double rms = pcm.empty() ? 0 : std::sqrt(sum / static_cast<double>(pcm.size()));
    *peak_db = peak > 0 ? 20 * std::log10(peak) : -200;
    *rms_db = rms > 0 ? 20 * std::log10(rms) : -200;
}

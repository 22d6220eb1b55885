#include "synth.h"

#include <algorithm>
#include <cmath>

#include "instruments.h"

namespace {

using namespace synth;

constexpr int64_t kFirstBarStep = 6;
constexpr int kStepsPerBar = 16;
constexpr int kBars = 114;
constexpr double kTailSeconds = 1.2;  // the last notes ring out

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
    int bass;    // MIDI note of the root, low octave
    int pad[3];  // voicing around middle C
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
    {0, 2, 69},  {2, 2, 72},  {4, 4, 76},  {8, 2, 74},  {10, 2, 72}, {12, 4, 76}, {16, 4, 77},
    {20, 2, 76}, {22, 2, 72}, {24, 6, 69}, {30, 2, 72}, {32, 3, 79}, {35, 3, 76}, {38, 2, 72},
    {40, 4, 76}, {44, 4, 79}, {48, 4, 74}, {52, 2, 71}, {54, 2, 67}, {56, 4, 74}, {60, 4, 76},
};
constexpr Note kMelodyB[] = {
    {0, 2, 76},  {2, 2, 79},  {4, 4, 81},  {8, 2, 79},  {10, 2, 76}, {12, 4, 72}, {16, 4, 77},
    {20, 2, 81}, {22, 2, 77}, {24, 6, 72}, {30, 2, 74}, {32, 3, 76}, {35, 3, 79}, {38, 2, 84},
    {40, 4, 79}, {44, 4, 76}, {48, 4, 71}, {52, 4, 72}, {56, 4, 74}, {60, 4, 76},
};

int64_t bar_step(int bar) { return kFirstBarStep + static_cast<int64_t>(bar) * kStepsPerBar; }

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
                        duck[k] =
                            std::min(duck[k], static_cast<float>(1.0 - 0.55 * std::exp(-t / 0.09)));
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
            if (s == kArp || s == kBuild || is_drop(s) || s == kBuild2 ||
                (s == kBreak && bar >= 72)) {
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
    Mix drums{std::vector<float>(static_cast<size_t>(frames)),
              std::vector<float>(static_cast<size_t>(frames))};
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

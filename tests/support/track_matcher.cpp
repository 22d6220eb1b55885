#include "support/track_matcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int64_t kKeyFrames = 8;  // frames hashed per key
constexpr int64_t kStride = 64;    // the track is indexed every kStride frames
constexpr int64_t kConfirm = 256;  // frames that must match to start a run

uint64_t key_at(const int16_t* frames) {
    uint64_t h = 1469598103934665603ull;
    const auto* bytes = reinterpret_cast<const uint8_t*>(frames);
    for (size_t i = 0; i < kKeyFrames * 4; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

bool silent(const int16_t* frames, int64_t count) {
    for (int64_t i = 0; i < count * 2; ++i)
        if (frames[i] != 0) return false;
    return true;
}

// Frames that agree from the two starts on, at most `limit`.
int64_t agreeing(const int16_t* a, const int16_t* b, int64_t limit) {
    int64_t n = 0;
    while (n < limit && a[2 * n] == b[2 * n] && a[2 * n + 1] == b[2 * n + 1]) ++n;
    return n;
}

}  // namespace

std::vector<MatchedRun> match_recording(const std::vector<int16_t>& recording,
                                        const std::vector<int16_t>& track) {
    const int64_t recorded = static_cast<int64_t>(recording.size() / 2);
    const int64_t length = static_cast<int64_t>(track.size() / 2);
    std::vector<std::pair<uint64_t, int64_t>> index;
    for (int64_t p = 0; p + kKeyFrames <= length; p += kStride)
        if (!silent(&track[2 * p], kKeyFrames)) index.emplace_back(key_at(&track[2 * p]), p);
    std::sort(index.begin(), index.end());

    std::vector<MatchedRun> runs;
    int64_t r = 0;
    while (r + kKeyFrames + kStride <= recorded) {
        if (silent(&recording[2 * r], 1)) {
            ++r;
            continue;
        }
        // One of the next kStride recorded frames lies on an indexed track frame.
        MatchedRun best;
        for (int64_t k = 0; k < kStride; ++k) {
            uint64_t key = key_at(&recording[2 * (r + k)]);
            auto at = std::lower_bound(index.begin(), index.end(), std::make_pair(key, int64_t{0}));
            for (; at != index.end() && at->first == key; ++at) {
                int64_t t = at->second - k;
                if (t < 0) continue;
                int64_t n =
                    agreeing(&recording[2 * r], &track[2 * t], std::min(recorded - r, length - t));
                if (n > best.frames) best = {r, t, n};
            }
            if (best.frames > 0) break;
        }
        if (best.frames < std::min<int64_t>(kConfirm, recorded - r)) {
            r += 1;
            continue;
        }
        runs.push_back(best);
        r += best.frames;
    }
    return runs;
}

int64_t track_frame_at(const std::vector<MatchedRun>& runs, int64_t frame) {
    auto after =
        std::upper_bound(runs.begin(), runs.end(), frame,
                         [](int64_t f, const MatchedRun& run) { return f < run.recorded; });
    if (after == runs.begin()) return -1;
    const MatchedRun& run = *(after - 1);
    return frame < run.recorded + run.frames ? run.track + frame - run.recorded : -1;
}

namespace {

constexpr int64_t kWindow = 1024;  // recorded frames located at once
constexpr int64_t kLocateStep = 256;
constexpr double kTrackRate = 44100;
constexpr double kFound = 0.9;  // the normalised correlation of a place found

// The track between its frames: Catmull-Rom through the four frames around,
// close enough to a resampler's output below some 15 kHz that the
// correlation peaks where the resampled sound lies.
double track_at(const std::vector<int16_t>& track, int64_t i, double f, int c) {
    auto y = [&](int64_t k) { return static_cast<double>(track[static_cast<size_t>(2 * k + c)]); };
    const double y0 = y(i - 1), y1 = y(i), y2 = y(i + 1), y3 = y(i + 2);
    return y1 + 0.5 * f *
                    (y2 - y0 + f * (2 * y0 - 5 * y1 + 4 * y2 - y3 + f * (3 * (y1 - y2) + y3 - y0)));
}

// Normalised correlation of the recorded window at `rec` with the track read
// from track frame `t` on, `ratio` track frames per recorded frame; -1 off
// the track's ends or on silence.
double correlation(const int16_t* rec, const std::vector<int16_t>& track, double t, double ratio) {
    const auto length = static_cast<int64_t>(track.size() / 2);
    if (t < 1 || t + static_cast<double>(kWindow) * ratio + 3 >= static_cast<double>(length))
        return -1;
    double xy = 0, xx = 0, yy = 0;
    for (int64_t k = 0; k < kWindow; ++k) {
        const double at = t + static_cast<double>(k) * ratio;
        const auto i = static_cast<int64_t>(at);
        for (int c = 0; c < 2; ++c) {
            const double x = rec[2 * k + c], y = track_at(track, i, at - static_cast<double>(i), c);
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : -1;
}

// The best place by whole track frames from `from` to `to`, refined between
// frames by the parabola through it and its neighbours; its correlation.
double best_place(const int16_t* rec, const std::vector<int16_t>& track, double ratio, double from,
                  double to, double* place) {
    double best = -1, at = from;
    for (double t = from; t <= to; t += 1) {
        const double c = correlation(rec, track, t, ratio);
        if (c > best) best = c, at = t;
    }
    const double before = correlation(rec, track, at - 1, ratio);
    const double after = correlation(rec, track, at + 1, ratio);
    const double bend = before - 2 * best + after;
    *place = at + (bend < 0 ? std::clamp(0.5 * (before - after) / bend, -0.5, 0.5) : 0.0);
    return best;
}

bool quiet(const int16_t* rec) {
    double energy = 0;
    for (int64_t k = 0; k < 2 * kWindow; ++k) energy += static_cast<double>(rec[k]) * rec[k];
    return energy < 2.0 * kWindow * 100.0;  // below an RMS of 10
}

}  // namespace

std::vector<LocatedRun> locate_recording(const std::vector<int16_t>& recording, int rate,
                                         const std::vector<int16_t>& track,
                                         const std::function<double(int64_t)>& expected,
                                         int64_t reach) {
    const double ratio = kTrackRate / rate;
    const auto recorded = static_cast<int64_t>(recording.size() / 2);
    std::vector<LocatedRun> runs;
    bool going = false;   // the last run reaches the window before this one
    double offsets = 0;   // the sum of the places its windows were found at
    int64_t windows = 0;  // ... less their distance from its start
    for (int64_t a = 0; a + kWindow <= recorded; a += kLocateStep) {
        const int16_t* rec = &recording[static_cast<size_t>(2 * a)];
        if (quiet(rec)) {
            going = false;
            continue;
        }
        double place = 0;
        if (going) {
            LocatedRun& run = runs.back();
            const double predicted = run.track + static_cast<double>(a - run.recorded) * ratio;
            if (best_place(rec, track, ratio, std::floor(predicted) - 2, std::floor(predicted) + 3,
                           &place) >= kFound &&
                std::abs(place - predicted) < 1) {
                offsets += place - static_cast<double>(a - run.recorded) * ratio;
                run.track = offsets / static_cast<double>(++windows);
                run.frames = a + kWindow - run.recorded;
                continue;
            }
            going = false;
        }
        const double guess = expected(a);
        if (guess < 0) continue;
        if (best_place(rec, track, ratio, std::floor(guess) - static_cast<double>(reach),
                       std::floor(guess) + static_cast<double>(reach), &place) < kFound)
            continue;
        runs.push_back({a, place, kWindow});
        going = true;
        offsets = place;
        windows = 1;
    }
    // Runs overlap by the windows that straddled a change: each ends where
    // the next begins.
    for (size_t i = 0; i + 1 < runs.size(); ++i)
        runs[i].frames = std::min(runs[i].frames, runs[i + 1].recorded - runs[i].recorded);
    return runs;
}

double located_frame_at(const std::vector<LocatedRun>& runs, int rate, int64_t frame) {
    auto after =
        std::upper_bound(runs.begin(), runs.end(), frame,
                         [](int64_t f, const LocatedRun& run) { return f < run.recorded; });
    if (after == runs.begin()) return -1;
    const LocatedRun& run = *(after - 1);
    if (frame >= run.recorded + run.frames) return -1;
    return run.track + static_cast<double>(frame - run.recorded) * kTrackRate / rate;
}

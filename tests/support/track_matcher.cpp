#include "support/track_matcher.h"

#include <algorithm>
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

// Where a recording lies in a decoded track: the runs of recorded frames
// that are, sample for sample, a stretch of the track. Exact matching, for
// paths that change no sample (a null sink at the track's own format).
#pragma once

#include <cstdint>
#include <vector>

struct MatchedRun {
    int64_t recorded = 0;  // its first frame in the recording
    int64_t track = 0;     // the same frame in the track
    int64_t frames = 0;
};

// Both 16-bit stereo, interleaved. Silence and stretches that match nothing
// lie between the runs; a run is found once 256 frames of it match.
std::vector<MatchedRun> match_recording(const std::vector<int16_t>& recording,
                                        const std::vector<int16_t>& track);

// The track frame at recorded frame `frame`, or -1 outside every run.
int64_t track_frame_at(const std::vector<MatchedRun>& runs, int64_t frame);

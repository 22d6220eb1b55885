// Where a recording lies in a decoded track: the runs of recorded frames
// that are, sample for sample, a stretch of the track (exact matching, for
// paths that change no sample: a null sink at the track's own format), or
// found by correlation where the sound was resampled.
#pragma once

#include <cstdint>
#include <functional>
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

// A recording at a rate other than the track's (PipeWire's graph at 48000
// Hz resamples the 44100 Hz track): no sample is the track's, so each
// stretch is found by correlation with the track, read between its frames
// by linear interpolation, around an expected place. Recorded frame f of a
// run is track frame track + (f - recorded) * 44100 / rate.
struct LocatedRun {
    int64_t recorded = 0;  // its first frame in the recording
    double track = 0;      // the same instant in the track, in track frames
    int64_t frames = 0;    // in the recording
};

// Where the recording (16-bit stereo at `rate`) lies in the track (16-bit
// stereo at 44100 Hz): `expected` gives for a recorded frame the track frame
// thought to be heard then (-1: none), searched within `reach` track frames
// of it. Every 256 recorded frames, the 1024 from there are located; a run
// goes on while each lies where the run says to within a frame.
std::vector<LocatedRun> locate_recording(const std::vector<int16_t>& recording, int rate,
                                         const std::vector<int16_t>& track,
                                         const std::function<double(int64_t)>& expected,
                                         int64_t reach);

// The track frame (fractional) at recorded frame `frame`, or -1 outside
// every run.
double located_frame_at(const std::vector<LocatedRun>& runs, int rate, int64_t frame);

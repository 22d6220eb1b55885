// Which timeline position each captured frame shows, and which stretch of the
// music a capture covers.
//
// Frame k of a capture at fps frames per second shows start + k * 88200 / fps
// ticks, computed from k every time rather than by adding a rounded step, so
// that no error builds up however long the capture runs. The product is taken
// in 64 bits: k * 88200 passes 2^32 after 48695 frames.
#pragma once

#include <cstdint>

#include "config/presentation.h"

uint64_t frame_position(uint64_t start, uint64_t frame, uint32_t fps);

// The sample frames (1/44100 s) the audio of a capture spans: from the
// capture's start to the position of the frame after its last, both halved
// (a sample frame is two ticks), so the sound ends where the next frame would
// begin and runs exactly as long as the frames do.
struct SampleRange {
    uint64_t first;
    uint64_t count;
};
SampleRange capture_samples(uint64_t start, uint64_t frames, uint32_t fps);

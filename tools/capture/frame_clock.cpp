#include "frame_clock.h"

uint64_t frame_position(uint64_t start, uint64_t frame, uint32_t fps) {
    return start + frame * kTicksPerSecond / fps;
}

SampleRange capture_samples(uint64_t start, uint64_t frames, uint32_t fps) {
    const uint64_t first = start / kTicksPerSampleFrame;
    const uint64_t end = frame_position(start, frames, fps) / kTicksPerSampleFrame;
    return SampleRange{first, end - first};
}

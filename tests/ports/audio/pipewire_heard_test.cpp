// PipeWire's figures for a playback stream against the time its frames are
// heard, on made-up reports: no server.
#include <gtest/gtest.h>

#include "audio/pipewire_heard.h"

namespace {

TEST(PipeWireHeard, DatesTheNextBufferByTheGraphsDelayAndWhatTheStreamHolds) {
    struct Case {
        const char* what;
        GraphTime t;
        int64_t heard_ns;
    };
    const Case cases[] = {
        {"nothing held, no delay", {1'000'000, 0, 1, 44100, 0, 0}, 1'000'000},
        // 441 ticks of a 44.1 kHz graph are 10 ms.
        {"a delay at the stream's own rate", {1'000'000, 441, 1, 44100, 0, 0}, 11'000'000},
        // At 48 kHz the delay is counted in the graph's ticks, what the
        // resampler holds in the stream's frames: 480 ticks + 441 frames.
        {"a graph at 48 kHz with a resampler",
         {5'000'000'000, 480, 1, 48000, 0, 441},
         5'020'000'000},
        {"buffers still queued", {0, 0, 1, 44100, 882, 0}, 20'000'000},
        {"no graph rate yet: the delay is unknown, what is held is not",
         {7, 960, 0, 0, 441, 0},
         10'000'007},
    };
    for (const Case& c : cases) EXPECT_EQ(first_frame_heard_ns(c.t, 44100), c.heard_ns) << c.what;
}

TEST(PipeWireHeard, TheLineRunsAtTheStreamsRateUpToWhatWasHandedOver) {
    // A buffer of 441 frames from 1000 on, queued at 1 s with 10 ms of
    // delay: frame 1000 is heard at 1.010 s.
    HeardLine line = line_after_buffer(GraphTime{1'000'000'000, 441, 1, 44100, 0, 0}, 1000, 44100);
    EXPECT_DOUBLE_EQ(frame_on_line(line, 1'010'000'000, 44100, 1e9), 1000);
    EXPECT_DOUBLE_EQ(frame_on_line(line, 1'000'000'000, 44100, 1e9), 559);  // still before it
    EXPECT_DOUBLE_EQ(frame_on_line(line, 1'020'000'000, 44100, 1e9), 1441);
    // Nothing beyond what was handed over is heard, however long it runs.
    EXPECT_DOUBLE_EQ(frame_on_line(line, 9'000'000'000, 44100, 1512), 1512);
    // A line that is not advancing (nothing plays) stands still.
    line.advancing = false;
    EXPECT_DOUBLE_EQ(frame_on_line(line, 1'020'000'000, 44100, 1e9), 1000);
}

// Cycles of 441 frames (10 ms) at 44.1 kHz with no delay: the buffer of the
// cycle starting at 1 s is handed frames 1000 to 1440, and the next cycle's
// buffer is heard from 1.010 s.
TEST(PipeWireHeard, TheLineRunsHalfACyclePastItsBufferAtMost) {
    const HeardLine line =
        line_after_buffer(GraphTime{1'000'000'000, 0, 1, 44100, 0, 0}, 1000, 44100);
    const double limit = limit_after_buffer(1000, 441);
    struct Case {
        const char* what;
        int64_t at_ns;
        double heard;
    };
    const Case cases[] = {
        {"in its own cycle", 1'005'000'000, 1000 + 220.5},
        // The next buffer is asked for at once, and heard from its cycle's start.
        {"into the next cycle, before the next buffer comes", 1'012'000'000, 1441 + 88.2},
        {"half the next cycle", 1'015'000'000, 1441 + 220.5},
        // A callback that never comes: that cycle plays none of our frames.
        {"and no further, however long the next buffer is waited for", 1'040'000'000, 1441 + 220.5},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(frame_on_line(line, c.at_ns, 44100, limit), c.heard, 0.01) << c.what;
}

}  // namespace

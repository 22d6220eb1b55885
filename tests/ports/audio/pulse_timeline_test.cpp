// The sound server's frame count against the frames handed over, across the
// drops a new position makes.
#include <gtest/gtest.h>

#include "audio/pulse_timeline.h"

namespace {

double handed_at(const PulseTimeline& t, double server) {
    double handed = -1;
    return timeline_handed_frame(t, server, &handed) ? handed : -1;
}

TEST(PulseTimeline, FollowsDropsOnceTheServerHasPlacedThem) {
    PulseTimeline t = new_pulse_timeline();
    EXPECT_EQ(handed_at(t, 1000.5), 1000.5);  // one count until the first drop

    // 5000 frames handed over; the server had read 3000 when it dropped the
    // rest. What is handed next is unplaced until a report comes: the frames
    // still held before the drop read as before, later ones as unknown.
    timeline_drop(t, 5000);
    EXPECT_EQ(handed_at(t, 2990), 2990);
    EXPECT_EQ(handed_at(t, 4000), 4000);  // (the server has not passed 3000 yet)
    EXPECT_EQ(handed_at(t, 5000), -1);
    // The report: 1200 frames handed since, and the server counts 4200 written.
    timeline_place(t, 6200, 4200);
    EXPECT_EQ(handed_at(t, 2990), 2990);
    EXPECT_EQ(handed_at(t, 3000), 5000);
    EXPECT_EQ(handed_at(t, 3100.25), 5100.25);

    // Two drops in one round trip: the first never placed. Frames of the
    // placed epoch before it read as before; beyond, unknown until placed.
    timeline_drop(t, 7000);
    timeline_drop(t, 7100);
    EXPECT_EQ(handed_at(t, 4500), 6500);
    EXPECT_EQ(handed_at(t, 5050), -1);
    timeline_place(t, 7300, 5300);  // the second starts at server frame 5100
    EXPECT_EQ(handed_at(t, 5150), 7150);
    EXPECT_EQ(handed_at(t, 5050), -1);  // dropped epoch, never placed
}

TEST(PulseTimeline, KeepsTheLastEightEpochs) {
    PulseTimeline t = new_pulse_timeline();
    for (int i = 1; i <= 20; ++i) {
        timeline_drop(t, i * 1000);
        timeline_place(t, i * 1000, i * 100);
    }
    EXPECT_EQ(handed_at(t, 2050), 20050);
    EXPECT_EQ(handed_at(t, 1350), 13050);
    EXPECT_EQ(handed_at(t, 100), -1);  // long forgotten
}

}  // namespace

// The device clock fed with made-up callback times, with no device at all:
// a stream played from its first frame, its position read every millisecond
// while the callbacks come late, stall or run at the wrong rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "audio/device_clock.h"

namespace {

constexpr int64_t kMs = 1'000'000;  // in ns

// One stream on one device, as the mixer drives them: at each callback the
// clock is told, the stream's next buffer is anchored where the device will
// start hearing it, and the buffer is handed over.
struct PlayedStream {
    int buffer_frames;
    int64_t length;
    DeviceClock clock;
    HeardPosition heard;
    int64_t next_frame = 0;

    void callback(int64_t now) {
        track_device_clock(clock, now, buffer_frames);
        int64_t got = std::min<int64_t>(buffer_frames, length - next_frame);
        add_anchor(heard, clock.handed, next_frame, got);
        next_frame += got;
        clock.handed += buffer_frames;
    }
};

struct RunFigures {
    int64_t backwards = 0;    // frames the position ever went back, summed
    int64_t past_handed = 0;  // readings beyond the last buffer handed over
    int64_t held = 0;         // readings standing at the end of that buffer
    // From the moment the clock has settled on:
    double worst_step_ms = 0;  // worst |position step - time step|
    double gap_spread_ms = 0;  // spread of (position - elapsed time)
};

// Plays for `seconds` on a device whose frames pass at device_rate; the
// callback for buffer k comes at its ideal time plus late(k) ns. Reads the
// position every millisecond, off the callback grid.
RunFigures play(PlayedStream& s, double device_rate, double seconds, double settled,
                const std::function<int64_t(int64_t)>& late) {
    auto callback_ns = [&](int64_t k) {
        return static_cast<int64_t>(static_cast<double>(k) * s.buffer_frames / device_rate * 1e9) +
               late(k);
    };
    RunFigures f;
    double low_gap = 1e18, high_gap = -1e18;
    int64_t previous = 0, previous_ns = 0, k = 0;
    for (int64_t now = 370'000; now < static_cast<int64_t>(seconds * 1e9); now += kMs) {
        while (callback_ns(k) <= now) s.callback(callback_ns(k++));
        int64_t p = heard_stream_frame(s.heard, s.clock, now, s.next_frame, s.length);
        if (p < previous) f.backwards += previous - p;
        int64_t limit = newest_anchor(s.heard).frame + newest_anchor(s.heard).frames;
        if (p > limit) ++f.past_handed;
        if (anchored(s.heard) && p == limit) ++f.held;
        if (now >= static_cast<int64_t>(settled * 1e9)) {
            double step_ms = static_cast<double>(p - previous) / device_rate * 1e3;
            f.worst_step_ms =
                std::max(f.worst_step_ms, std::abs(step_ms - (now - previous_ns) / 1e6));
            double gap_ms = static_cast<double>(p) / device_rate * 1e3 - now / 1e6;
            low_gap = std::min(low_gap, gap_ms);
            high_gap = std::max(high_gap, gap_ms);
        }
        previous = p;
        previous_ns = now;
    }
    f.gap_spread_ms = high_gap - low_gap;
    return f;
}

TEST(DeviceClock, AbsorbsTheJitterOfTheCallbacks) {
    // Callbacks up to 3 ms late at random, as a sleeping driver wakes. A
    // position taken from the last callback would jump by whole buffers
    // (11.6 ms); the fitted clock moves with time, and stays far enough
    // behind that a late callback never makes it wait at the buffer's end.
    std::mt19937 random(7);
    std::vector<int64_t> lateness(1000);
    for (int64_t& l : lateness) l = static_cast<int64_t>(random() % (3 * kMs));
    PlayedStream s{512, 60 * 44100, {}, {}};
    RunFigures f =
        play(s, 44100, 10, 2, [&](int64_t k) { return lateness.at(static_cast<size_t>(k)); });
    EXPECT_EQ(f.backwards, 0);
    EXPECT_EQ(f.past_handed, 0);
    EXPECT_EQ(f.held, 0);
    EXPECT_LT(f.worst_step_ms, 0.5);
    EXPECT_LT(f.gap_spread_ms, 2.0);
}

TEST(DeviceClock, AStalledDeviceHoldsThePositionAtTheEndOfWhatItWasHanded) {
    // At 2 s the device stops for 150 ms (more than four buffers: starved or
    // restarted), then plays on from where it stopped. Meanwhile the position
    // waits at the end of the last buffer handed over; it never goes back
    // when the callbacks resume, and soon follows time again.
    PlayedStream s{1024, 60 * 44100, {}, {}};
    RunFigures f = play(s, 44100, 6, 3, [](int64_t k) {
        int64_t due = static_cast<int64_t>(static_cast<double>(k) * 1024 / 44100 * 1e9);
        return due >= 2'000 * kMs ? 150 * kMs : 0;
    });
    EXPECT_EQ(f.backwards, 0);
    EXPECT_EQ(f.past_handed, 0);
    EXPECT_GT(f.held, 100);
    EXPECT_LT(f.worst_step_ms, 0.5);
    EXPECT_LT(f.gap_spread_ms, 1.5);
}

// An output whose clock runs a cycle ahead of its callbacks may have its
// newest buffer read past its end, by as much as it says and no more; an
// older buffer ends where the next one begins.
TEST(DeviceClock, TheNewestBufferIsReadPastItsEndOnlyAsFarAsTheOutputSays) {
    struct Case {
        double device;
        int64_t run_on;
        int64_t frame;
    };
    const Case cases[] = {{600, 0, 1512}, {600, 512, 1600}, {2000, 512, 2024}, {300, 512, 1300}};
    for (const Case& c : cases) {
        HeardPosition heard;
        add_anchor(heard, 0, 1000, 512);
        EXPECT_EQ(heard_stream_frame(heard, true, c.device, 1512, 100000, c.run_on), c.frame)
            << c.device << " " << c.run_on;
    }
    // Reading the older of two buffers that do not follow each other (a
    // seek between them) stops at its end, whatever the run-on.
    HeardPosition two;
    add_anchor(two, 0, 1000, 512);
    add_anchor(two, 600, 5000, 512);
    EXPECT_EQ(heard_stream_frame(two, true, 550, 5512, 100000, 512), 1512);
    // Never past the end of the stream.
    HeardPosition last;
    add_anchor(last, 0, 1000, 512);
    EXPECT_EQ(heard_stream_frame(last, true, 900, 1512, 1600, 512), 1600);
}

TEST(DeviceClock, LearnsTheRateOfADeviceThatRunsFast) {
    // SDL's timer-paced drivers run a few per cent fast: the clock measures
    // the device's own rate, and positions advance at it, not at 44100.
    PlayedStream s{512, 60 * 44100, {}, {}};
    double device_rate = 44100 * 1.04;
    RunFigures f = play(s, device_rate, 10, 4, [](int64_t) { return int64_t{0}; });
    EXPECT_NEAR(s.clock.rate / device_rate, 1.0, 0.002);
    EXPECT_EQ(f.backwards, 0);
    EXPECT_LT(f.worst_step_ms, 0.1);
    EXPECT_LT(f.gap_spread_ms, 0.5);
}

}  // namespace

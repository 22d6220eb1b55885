// The frame leaving the sink, read off made-up reports of a server that
// counts once per cycle: its counters taken at each cycle's start (the read
// index already holding the quantum the sink took), its answers stamped when
// sent. The sink's frame is known exactly at every instant, so a reading
// ahead of it by a single frame shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "audio/pulse_cycle_position.h"
#include "platform/audio_format.h"

namespace {

constexpr int64_t kMs = 1'000'000;  // in ns

// From `from_ms` on, until the next phase.
struct Phase {
    int64_t from_ms;
    int quantum;  // frames per cycle
    int latency;  // the sink's, in frames
    bool playing = true;
    bool clear = false;   // the output clears at its start (a flush, a move)
    int64_t slip_us = 0;  // its first cycle starts this much late
};

struct Case {
    const char* name;
    std::vector<Phase> phases;
    int64_t late_us;    // the server answers up to this much late besides
    int64_t settle_ms;  // polls this soon after a phase starts are not judged
    double behind_ms;   // the most a judged poll may read behind
    // The first half second is for finding the quantum and a report stamped
    // near its cycle's start.
    int64_t judged_from_ms = 500;
};

// Runs 2.5 s: a cycle of the graph every quantum (the read index standing
// still at a stall), a report every 5 ms taken as the output does, a poll
// every quarter millisecond judged against the sink's frame. The most a
// judged poll read ahead and behind, in frames; -1e9 when none was judged.
void run(const Case& c, double* ahead, double* behind) {
    auto phase_index = [&c](int64_t ns) {
        size_t k = 0;
        while (k + 1 < c.phases.size() && c.phases[k + 1].from_ms * kMs <= ns) ++k;
        return k;
    };
    auto phase_at = [&](int64_t ns) { return c.phases[phase_index(ns)]; };
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> late(0, c.late_us * 1000);
    CyclePosition p;
    int64_t cycle = 130'000, next_cycle = cycle, read = 0, quantum = 0;  // the current cycle
    size_t cycle_phase = 0;
    int64_t report = 10'370'000, stamp = report + late(random);
    size_t next_phase = 1;
    *ahead = *behind = -1e9;
    for (int64_t now = 0; now < 2500 * kMs; now += kMs / 4) {
        if (next_phase < c.phases.size() && c.phases[next_phase].from_ms * kMs <= now)
            if (c.phases[next_phase++].clear) cycle_clear(p);
        for (; stamp <= now; stamp = report + late(random)) {
            // Counters of the last cycle started by the report's time.
            while (next_cycle <= report) {
                if (size_t k = phase_index(next_cycle); k != cycle_phase) {
                    cycle_phase = k;
                    next_cycle += c.phases[k].slip_us * 1000;
                    continue;
                }
                cycle = next_cycle;
                quantum = phase_at(cycle).quantum;
                read += phase_at(cycle).playing ? quantum : 0;
                next_cycle += quantum * 1'000'000'000 / kAudioRate;
            }
            if (phase_at(report).playing)
                cycle_take(p, stamp, read, static_cast<double>(read - phase_at(report).latency));
            else
                cycle_clear(p);
            report += 5 * kMs;
        }
        const Phase ph = phase_at(now);
        if (!ph.playing || now < c.judged_from_ms * kMs || now < (ph.from_ms + c.settle_ms) * kMs)
            continue;
        double heard = static_cast<double>(read - quantum - ph.latency) +
                       static_cast<double>(now - cycle) * kAudioRate / 1e9;
        double reading = 1e9;  // (unknown: far ahead)
        cycle_leaving(p, now, &reading);
        *ahead = std::max(*ahead, reading - heard);
        *behind = std::max(*behind, heard - reading);
    }
}

TEST(PulseCyclePosition, ReadsTheSinkFrameNeverAheadAcrossStallsMovesFlushesAndQuantumChanges) {
    const std::vector<Case> cases = {
        {"quantum 256, answered at once", {{0, 256, 700}}, 0, 0, 1.0},
        {"quantum 256, answers up to 3 ms late", {{0, 256, 700}}, 3000, 0, 1.0},
        {"quantum 1024, answers up to 3 ms late", {{0, 1024, 2048}}, 3000, 0, 2.0},
        // A new stream: its first report (at 10 ms, after one cycle) has
        // stepped from 0 by one quantum.
        {"a new stream", {{0, 1024, 2048}}, 0, 0, 11.0, 11},
        // One cycle or two between reports: the quantum is the smaller step.
        {"quantum 128", {{0, 128, 300}}, 1000, 0, 1.0},
        // A stall: nothing read for 300 ms, the same line never comes back.
        {"stall", {{0, 256, 700}, {800, 256, 700, false}, {1100, 256, 700}}, 1000, 100, 1.0},
        // The graph slips by a cycle, and later by two at a larger quantum:
        // the line moves back for good and is followed within 50 ms.
        {"slip", {{0, 256, 700}, {1000, 256, 700, true, false, 5805}}, 1000, 60, 1.0},
        {"slip of two cycles",
         {{0, 1024, 2048}, {1000, 1024, 2048, true, false, 46440}},
         1000,
         130,
         2.0},
        // A move to a sink of more latency; without the clear the old line
        // would stand, ahead by the difference.
        {"move", {{0, 256, 700}, {1000, 256, 3000, true, true}}, 1000, 100, 1.0},
        // A flush: the quantum is kept, so even the first report after it
        // (within 2 ms) does not read ahead; it may read behind by a cycle.
        {"flush", {{0, 256, 700}, {1000, 256, 700, true, true}}, 1000, 2, 6.5},
        // The quantum shrinks: the reports of the larger one stand for what
        // they saw, and the first step of the smaller one is taken at once
        // (behind by up to a cycle until a report comes near a cycle's start).
        {"quantum 1024 to 256", {{0, 1024, 2048}, {1000, 256, 700}}, 1000, 30, 6.5},
        // The quantum grows: followed once the smaller steps are half a
        // second old.
        {"quantum 256 to 1024", {{0, 256, 700}, {1000, 1024, 2048}}, 1000, 600, 1.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double ahead = 0, behind = 0;
        run(c, &ahead, &behind);
        EXPECT_GT(behind, -1e9);  // some polls were judged
        EXPECT_LE(ahead, 0.01);
        EXPECT_LE(behind, c.behind_ms * kAudioRate / 1000);
    }
}

}  // namespace

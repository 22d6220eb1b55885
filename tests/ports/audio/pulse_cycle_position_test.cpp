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
#include "timeline/audio_format.h"

namespace {

constexpr int64_t kMs = 1'000'000;  // in ns
constexpr int64_t kReportNs = 5 * kMs;
constexpr int64_t kRunNs = 2500 * kMs;

// From `from_ms` on, until the next phase.
struct Phase {
    int64_t from_ms;
    int quantum;  // frames per cycle
    int latency;  // the sink's, in frames
    bool playing = true;
    bool clear = false;  // the output clears at its start (a flush, a move)
};

struct Case {
    const char* name;
    std::vector<Phase> phases;
    int64_t late_us;    // the server answers up to this much late besides
    int64_t settle_ms;  // polls this soon after a phase starts are not judged
    double behind_ms;   // the most a judged poll may read behind
};

struct Cycle {
    int64_t ns;
    int64_t read;  // the read index once the sink took its quantum
    int quantum;
};

const Phase& phase_at(const Case& c, int64_t ns) {
    const Phase* p = &c.phases[0];
    for (const Phase& q : c.phases)
        if (q.from_ms * kMs <= ns) p = &q;
    return *p;
}

// The cycles of the whole run: the graph goes on at a stall, the stream's
// read index does not.
std::vector<Cycle> cycles_of(const Case& c) {
    std::vector<Cycle> cycles;
    int64_t read = 0;
    for (double ns = 130'000; ns < static_cast<double>(kRunNs);) {
        const Phase& p = phase_at(c, static_cast<int64_t>(ns));
        if (p.playing) read += p.quantum;
        cycles.push_back({static_cast<int64_t>(ns), read, p.quantum});
        ns += p.quantum * 1e9 / kAudioRate;
    }
    return cycles;
}

const Cycle& cycle_at(const std::vector<Cycle>& cycles, int64_t ns) {
    auto after = std::upper_bound(cycles.begin(), cycles.end(), ns,
                                  [](int64_t t, const Cycle& cy) { return t < cy.ns; });
    return *(after - 1);
}

struct Judged {
    double ahead = -1e9;  // the most a judged poll read ahead, in frames
    double behind = -1e9;
    int polls = 0, unknown = 0;
};

// Reports every 5 ms as the output takes them (a clear at a stall), clears at
// the phases that ask for one, a poll every quarter millisecond.
Judged run(const Case& c) {
    std::vector<Cycle> cycles = cycles_of(c);
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> late(0, c.late_us * 1000);
    CyclePosition p;
    Judged j;
    int64_t report = 2 * kReportNs + 370'000;
    int64_t next_stamp = report + late(random);
    size_t next_phase = 1;
    for (int64_t now = 10 * kMs; now < kRunNs; now += kMs / 4) {
        if (next_phase < c.phases.size() && c.phases[next_phase].from_ms * kMs <= now) {
            if (c.phases[next_phase].clear) cycle_clear(p);
            ++next_phase;
        }
        while (next_stamp <= now) {
            const Cycle& cy = cycle_at(cycles, report);
            const Phase& ph = phase_at(c, report);
            if (ph.playing)
                cycle_take(p, next_stamp, cy.read, static_cast<double>(cy.read - ph.latency));
            else
                cycle_clear(p);
            report += kReportNs;
            next_stamp = report + late(random);
        }
        const Phase& ph = phase_at(c, now);
        // The first half second is for finding the quantum and a report
        // stamped near its cycle's start.
        if (!ph.playing || now < 500 * kMs || now < (ph.from_ms + c.settle_ms) * kMs) continue;
        const Cycle& cy = cycle_at(cycles, now);
        double heard = static_cast<double>(cy.read - cy.quantum - ph.latency) +
                       static_cast<double>(now - cy.ns) * kAudioRate / 1e9;
        double read = 0;
        ++j.polls;
        if (!cycle_leaving(p, now, &read)) {
            ++j.unknown;
            continue;
        }
        j.ahead = std::max(j.ahead, read - heard);
        j.behind = std::max(j.behind, heard - read);
    }
    return j;
}

TEST(PulseCyclePosition, ReadsTheSinkFrameNeverAheadAcrossCyclesStallsMovesAndQuantumChanges) {
    const std::vector<Case> cases = {
        {"quantum 256, answered at once", {{0, 256, 700}}, 0, 100, 1.0},
        {"quantum 256, answers up to 3 ms late", {{0, 256, 700}}, 3000, 100, 1.0},
        {"quantum 1024, answers up to 3 ms late", {{0, 1024, 2048}}, 3000, 0, 2.0},
        {"quantum 128", {{0, 128, 300}}, 1000, 100, 0.5},
        // A stall: nothing read for 300 ms, the same line never comes back.
        {"stall", {{0, 256, 700}, {800, 256, 700, false}, {1100, 256, 700}}, 1000, 100, 1.0},
        // A move to a sink of more latency; without the clear the old line
        // would stand, ahead by the difference.
        {"move", {{0, 256, 700}, {1000, 256, 3000, true, true}}, 1000, 100, 1.0},
        // A flush: the quantum is kept, so even the first report after it
        // (within 2 ms) does not read ahead; it may read behind by up to a
        // cycle.
        {"flush", {{0, 256, 700}, {1000, 256, 700, true, true}}, 1000, 2, 6.5},
        // The quantum shrinks: the reports of the larger one stand for what
        // they saw, and the first step of the smaller one is taken at once.
        {"quantum 1024 to 256", {{0, 1024, 2048}, {1000, 256, 700}}, 1000, 300, 1.0},
        // The quantum grows: followed once the smaller steps are half a
        // second old.
        {"quantum 256 to 1024", {{0, 256, 700}, {1000, 1024, 2048}}, 1000, 600, 1.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Judged j = run(c);
        EXPECT_GT(j.polls, 1000);
        EXPECT_EQ(j.unknown, 0);
        EXPECT_LE(j.ahead, 0.01);
        EXPECT_LE(j.behind, c.behind_ms * kAudioRate / 1000);
    }
}

}  // namespace

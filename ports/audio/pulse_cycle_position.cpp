// The frame leaving the sink on a server that counts once per cycle (see
// pulse_cycle_position.h).
//
// IMPLEMENTS
//   Part of the position platform/audio_library.h promises
//   (BASS_ChannelGetPosition) on the sound-server output when the server is
//   PipeWire's PulseAudio service: the sink's frame at a given time, from the
//   server's timing reports.
//
// HOW
//   A ring of the last reports, each with its line (v), the read index's
//   step from the report before it, and the quantum as known when it came:
//   the smallest positive step among the reports of the last half second,
//   else the last one found. Each report's line less its own quantum is an
//   upper bound of the frame leaving the sink (its stamp can only be late);
//   the highest of the last half second is the answer. A report taking its
//   own quantum means that when the quantum shrinks, the reports of the
//   larger one still stand for what they saw; once a larger one is found,
//   every report is taken with it. A graph that slips (a cycle that starts
//   late on a busy machine) moves the line back for good: when none of the
//   last 50 ms of reports comes within 3/4 of a quantum of the highest line,
//   the reports before them are forgotten.
//
// LIMITATIONS
//   - A quantum that grows is seen only once the steps of the smaller one
//     are half a second old; until then the frame reads ahead by the
//     difference.
//   - Until the read index has stepped once, the quantum is not known and
//     the frame reads ahead by up to one; the quantum is kept across clears.
//     A new stream's first report after its first cycle has stepped from 0;
//     one after two cycles takes the quantum as twice what it is, reading
//     behind until a single step comes.
//   - A stretch in which every report was stamped late reads behind by the
//     least of their delays.
//   - A slip is followed 50 ms late, reading ahead by it meanwhile; a slip of
//     less than 3/4 of a quantum is followed only as its reports age out. 50
//     ms of reports all stamped over 3/4 of a cycle late (a main loop held
//     up) look like a slip: the line then reads behind until better ones
//     come.
//
// DEPENDENCIES
//   The output rate (platform/audio_format.h).
#include "audio/pulse_cycle_position.h"

#include <algorithm>

#include "platform/audio_format.h"

namespace {

double frames_at(int64_t ns) { return static_cast<double>(ns) * kAudioRate / 1e9; }

// Calls f on each sample of the window: those within kCycleWindowNs of the
// newest.
template <class F>
void each_recent(const CyclePosition& p, F f) {
    const int64_t newest_ns = p.samples[p.newest].ns;
    for (int i = 0; i < p.count; ++i) {
        const CycleSample& s = p.samples[(p.newest - i + kCycleSamples) % kCycleSamples];
        if (newest_ns - s.ns > kCycleWindowNs) break;
        f(s);
    }
}

// A report's line less its quantum: the larger of its own and the one found
// since (its own when the quantum has shrunk, as its read index held the
// larger one; the new one once a larger one is found).
double line_of(const CycleSample& s, const CyclePosition& p) {
    return s.v - static_cast<double>(std::max(s.quantum, p.quantum));
}

// A graph that slipped (a cycle started late, the machine being busy) has
// moved the line back for good: every report since lies below the old line
// by about that much, while in step some report of the last kCycleRecentNs
// came near its cycle's start. Then the reports before those are forgotten.
void forget_before_slip(CyclePosition& p) {
    if (p.quantum == 0) return;
    const int64_t newest_ns = p.samples[p.newest].ns;
    double highest = -1e300, recent = -1e300;
    int recent_count = 0;
    bool older = false;
    each_recent(p, [&](const CycleSample& s) {
        highest = std::max(highest, line_of(s, p));
        if (newest_ns - s.ns <= kCycleRecentNs) {
            recent = std::max(recent, line_of(s, p));
            ++recent_count;
        } else {
            older = true;
        }
    });
    if (older && recent < highest - 0.75 * static_cast<double>(p.quantum)) p.count = recent_count;
}

}  // namespace

void cycle_take(CyclePosition& p, int64_t ns, int64_t read, double leaving) {
    CycleSample s;
    s.ns = ns;
    s.v = leaving - frames_at(ns);
    if (read > p.last_read) s.step = read - p.last_read;
    p.last_read = read;

    p.newest = (p.newest + 1) % kCycleSamples;
    p.samples[p.newest] = s;
    p.count = std::min(p.count + 1, kCycleSamples);

    int64_t smallest = 0;
    each_recent(p, [&smallest](const CycleSample& r) {
        if (r.step > 0 && (smallest == 0 || r.step < smallest)) smallest = r.step;
    });
    if (smallest > 0) p.quantum = smallest;
    p.samples[p.newest].quantum = p.quantum;
    forget_before_slip(p);
}

void cycle_clear(CyclePosition& p) { p.count = 0; }

bool cycle_leaving(const CyclePosition& p, int64_t ns, double* leaving) {
    if (p.count == 0) return false;
    bool first = true;
    double highest = 0;
    each_recent(p, [&](const CycleSample& s) {
        double line = line_of(s, p);
        if (first || line > highest) highest = line;
        first = false;
    });
    *leaving = highest + frames_at(ns);
    return true;
}

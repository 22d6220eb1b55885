// The sound server's frame count against the frames handed over (see
// pulse_timeline.h).
//
// IMPLEMENTS
//   Part of the position platform/audio_library.h promises
//   (BASS_ChannelGetPosition) on the sound server's output: which handed
//   frame the server's playing position stands for, across drops.
//
// HOW
//   A ring of epochs, one per drop. A server frame belongs to the newest
//   placed epoch whose server start it has reached; it stands for that
//   epoch's handed frames from its start on, up to the next epoch's first
//   handed frame (beyond it the frames were dropped, never played).
//
// LIMITATIONS
//   - Only the last eight epochs are kept: older frames are long played.
//   - An epoch that was never placed (two drops within one round trip to the
//     server) stays unplaced; frames in it read as unknown.
//
// DEPENDENCIES
//   None beyond the C++ library.
#include "audio/pulse_timeline.h"

#include <algorithm>

void timeline_drop(PulseTimeline& t, int64_t handed) {
    t.newest = (t.newest + 1) % kPulseEpochs;
    t.epochs[t.newest] = PulseEpoch{handed, 0, false};
    t.count = std::min(t.count + 1, kPulseEpochs);
}

void timeline_place(PulseTimeline& t, int64_t handed, int64_t server_written) {
    PulseEpoch& e = t.epochs[t.newest];
    e.server = server_written - (handed - e.handed);
    e.placed = true;
}

bool timeline_handed_frame(const PulseTimeline& t, double server, double* handed) {
    for (int i = 0; i < t.count; ++i) {
        int at = (t.newest - i + kPulseEpochs) % kPulseEpochs;
        const PulseEpoch& e = t.epochs[at];
        if (!e.placed || server < static_cast<double>(e.server)) continue;
        double frame = static_cast<double>(e.handed) + (server - static_cast<double>(e.server));
        if (i > 0) {
            // Past the end of this epoch's frames lies the next epoch.
            const PulseEpoch& next = t.epochs[(at + 1) % kPulseEpochs];
            if (frame >= static_cast<double>(next.handed)) {
                if (!next.placed) return false;
                frame = static_cast<double>(next.handed);
            }
        }
        *handed = frame;
        return true;
    }
    return false;
}

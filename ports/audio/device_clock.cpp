// The device clock of the audio library (see device_clock.h).
//
// IMPLEMENTS
//   The position platform/audio_library.h promises: what
//   BASS_ChannelGetPosition reports and where BASS_ChannelStop leaves a
//   stream to resume from.
//
// HOW
//   What is heard now = frames handed to the device minus the buffer still
//   queued. At each callback the buffer just filled starts being heard.
//   Between callbacks the position follows the device's clock, a line fitted
//   to the callbacks and held 4 ms behind it to absorb their jitter; it never
//   passes the end of the last buffer handed over, never goes backwards while
//   playing, never passes the end of the stream.
//
// LIMITATIONS
//   - The measured rate stays within 5 % of the output rate; a device further
//     off is followed in steps rather than smoothly.
//   - A callback more than four buffers off the line (the device was starved
//     or restarted) starts the line over at that callback, so the position
//     can stand still for a moment afterwards; it never jumps back.
//
// DEPENDENCIES
//   None beyond the C++ library: no device, no lock, no clock of its own.
#include "audio/device_clock.h"

#include <algorithm>
#include <cmath>

namespace {

// The tracking loop's gains: the phase follows a tenth of each callback's
// deviation, the rate a critically damped share of it; a callback jittering
// by 4 ms moves the clock by a fraction of a millisecond.
constexpr double kPhaseGain = 0.1;
constexpr double kRateGain = kPhaseGain * kPhaseGain / 4;
// Reported positions trail the fitted clock by this much, so that a callback
// that comes a little late does not make the position stop and then jump.
constexpr double kJitterMarginSeconds = 0.004;

}  // namespace

double device_frame_at(const DeviceClock& clock, int64_t now) {
    return clock.frame + clock.rate * static_cast<double>(now - clock.ns) / 1e9;
}

void track_device_clock(DeviceClock& clock, int64_t now, int frames) {
    double handed = static_cast<double>(clock.handed);
    if (!clock.valid) {
        clock = DeviceClock{true, handed, now, kAudioRate, clock.handed};
        return;
    }
    double error = handed - device_frame_at(clock, now);
    double period = frames / clock.rate;
    if (std::abs(error) > 4.0 * frames) {
        // A stall or a burst (the device was starved or restarted): start over.
        clock.frame = handed;
        clock.ns = now;
        return;
    }
    clock.frame = device_frame_at(clock, now) + kPhaseGain * error;
    clock.ns = now;
    clock.rate =
        std::clamp(clock.rate + kRateGain * error / period, kAudioRate * 0.95, kAudioRate * 1.05);
}

void add_anchor(HeardPosition& heard, int64_t device, int64_t frame, int64_t frames) {
    if (heard.count > 0) {
        HeardAnchor& last = heard.anchors[heard.newest];
        if (last.device + last.frames == device && last.frame + last.frames == frame) {
            last.frames += frames;
            return;
        }
        heard.newest = (heard.newest + 1) % kHeardAnchors;
    }
    heard.anchors[heard.newest] = HeardAnchor{device, frame, frames};
    heard.count = std::min(heard.count + 1, kHeardAnchors);
}

void clear_anchors(HeardPosition& heard) {
    heard.count = 0;
    heard.newest = 0;
}

int64_t heard_stream_frame(HeardPosition& heard, bool known, double device, int64_t next_frame,
                           int64_t length, int64_t run_on) {
    int64_t frame = anchored(heard) ? heard.reported : next_frame;
    for (int i = 0; known && i < heard.count; ++i) {
        const HeardAnchor& a = heard.anchors[(heard.newest - i + kHeardAnchors) % kHeardAnchors];
        double into = device - static_cast<double>(a.device);
        if (into < 0) continue;
        frame = a.frame +
                std::min(static_cast<int64_t>(std::floor(into)), a.frames + (i == 0 ? run_on : 0));
        break;
    }
    frame = std::clamp(frame, heard.reported, length);
    heard.reported = frame;
    return frame;
}

double heard_device_frame(const DeviceClock& clock, int64_t now) {
    return device_frame_at(clock, now) - kJitterMarginSeconds * clock.rate;
}

int64_t heard_stream_frame(HeardPosition& heard, const DeviceClock& clock, int64_t now,
                           int64_t next_frame, int64_t length) {
    return heard_stream_frame(heard, true, heard_device_frame(clock, now), next_frame, length);
}

// The audio library's measurement hooks (see audio_probe.h).
//
// IMPLEMENTS
//   audio_probe.h: audio_device_buffer_frames and
//   audio_channel_buffer_position, for the audio benchmark and the library's
//   tests; no part of platform/audio_library.h.
//
// HOW
//   Reads the stream table under its lock, as the calls do, and reports the
//   raw figures behind the position: the buffer size the output got and the
//   first frame of the last buffer handed over (on SDL, the one being heard).
//
// LIMITATIONS
//   - The buffer position moves in whole buffers: it is the naive figure the
//     device clock improves on, not a position to play by.
//
// DEPENDENCIES
//   The stream table of this folder (audio_streams.h).
#include "audio/audio_probe.h"

#include <algorithm>
#include <mutex>

#include "audio/audio_streams.h"
#include "platform/audio_format.h"

int audio_device_buffer_frames() {
    std::lock_guard<std::mutex> guard(audio_library().lock);
    return audio_library().buffer_frames;
}

QWORD audio_channel_buffer_position(DWORD handle) {
    std::lock_guard<std::mutex> guard(audio_library().lock);
    Channel* channel = find_channel(handle);
    if (!channel) return static_cast<QWORD>(-1);
    const ChannelState& c = channel->state;
    if (c.playback != Playback::kPlaying)
        return static_cast<QWORD>(c.rest_frame) * kAudioFrameBytes;
    if (!anchored(c.heard)) return static_cast<QWORD>(c.next_frame) * kAudioFrameBytes;
    // Buffers played on end to end share an anchor: the last one is its tail.
    const HeardAnchor& a = newest_anchor(c.heard);
    int64_t start = std::max(a.frame, a.frame + a.frames - audio_library().buffer_frames);
    return static_cast<QWORD>(start) * kAudioFrameBytes;
}

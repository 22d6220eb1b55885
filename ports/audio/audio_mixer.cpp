// The audio library's mixer (see audio_mixer.h).
//
// IMPLEMENTS
//   The sound behind timeline/audio_library.h: what BASS_ChannelPlay starts,
//   BASS_ChannelSetPosition moves and BASS_ChannelStop ends, and the grace
//   after a Play during which a following call may still position it.
//
// HOW
//   At each callback (the output's thread) every playing stream is decoded
//   with mp3_stream and the streams are summed; the buffer is silence when
//   nothing plays. Decoding happens outside the lock, so the program's calls
//   never wait for it; a command that comes meanwhile bumps the stream's
//   generation and the buffer decoded under the old one is not played. The
//   buffer filled now starts being heard now: each stream's heard position
//   is anchored to the device frame where its part of the buffer begins.
//
// LIMITATIONS
//   - No effects, no volume: streams are summed and the sum is clipped to
//     16 bits.
//   - A stream ends where its decoder delivers nothing more; the rest of that
//     buffer is silence from it.
//
// DEPENDENCIES
//   mp3_stream (libmpg123) for decoding, the device clock for positions. No
//   device of its own: the output calls mix_next_buffer.
#include "audio/audio_mixer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/audio_streams.h"
#include "timeline/audio_format.h"

namespace {

// How long a Play waits for the call that may position it (see the header).
// Long enough that a busy machine cannot slip a buffer from the old position
// in between; the time source's next call comes within a frame anyway.
constexpr int64_t kPlayGraceNs = 250'000'000;

// Scratch of the audio thread, interleaved samples.
std::vector<int16_t> decoded;
std::vector<int32_t> mixed;

void mix_channel(AudioLibrary& l, int slot, int64_t now, int frames) {
    Mp3Stream& decoder = l.channels[slot].decoder;
    ChannelState& c = l.channels[slot].state;
    uint32_t generation;
    int64_t start;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        if (!c.used) return;
        if (c.playback == Playback::kPending && now - c.play_requested_ns >= kPlayGraceNs)
            c.playback = Playback::kPlaying;
        if (c.playback != Playback::kPlaying) return;
        generation = c.generation;
        start = c.next_frame;
    }

    // Decoding happens outside the lock; only this thread uses the decoder.
    int64_t got = 0;
    if (decoder.next_frame == start || mp3_seek(&decoder, start) == kMp3Ok)
        got = mp3_read(&decoder, decoded.data(), frames);

    {
        std::lock_guard<std::mutex> guard(l.lock);
        if (c.generation != generation) return;  // a command came meanwhile: stay silent
        if (got == 0) {
            // Everything handed out has been heard: the stream ended by itself.
            c.playback = Playback::kStopped;
            c.rest_frame = start;
            c.heard.anchored = false;
            return;
        }
        c.next_frame = start + got;
        c.heard.anchored = true;
        c.heard.anchor_frame = start;
        c.heard.anchor_limit = start + got;
        c.heard.anchor_device = l.clock.handed;
    }
    for (int64_t i = 0; i < got * kAudioChannels; ++i)
        mixed[static_cast<size_t>(i)] += decoded[static_cast<size_t>(i)];
}

}  // namespace

void prepare_mixer(int frames) {
    decoded.assign(static_cast<size_t>(frames) * kAudioChannels, 0);
    mixed.assign(static_cast<size_t>(frames) * kAudioChannels, 0);
}

void mix_next_buffer(uint8_t* out, int bytes) {
    AudioLibrary& l = audio_library();
    int64_t now = now_ns();
    int frames = bytes / kAudioFrameBytes;
    int samples = frames * kAudioChannels;
    if (decoded.size() < static_cast<size_t>(samples)) {
        decoded.resize(static_cast<size_t>(samples));
        mixed.resize(static_cast<size_t>(samples));
    }
    std::fill(mixed.begin(), mixed.begin() + samples, 0);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        track_device_clock(l.clock, now, frames);
    }
    for (int slot = 0; slot < kMaxStreams; ++slot) mix_channel(l, slot, now, frames);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        l.clock.handed += frames;
    }
    auto* pcm = reinterpret_cast<int16_t*>(out);
    for (int i = 0; i < samples; ++i)
        pcm[i] =
            static_cast<int16_t>(std::clamp<int32_t>(mixed[static_cast<size_t>(i)], -32768, 32767));
    std::memset(out + static_cast<ptrdiff_t>(frames) * kAudioFrameBytes, 0,
                static_cast<size_t>(bytes - frames * kAudioFrameBytes));
}

// The audio library's mixer (see audio_mixer.h).
//
// IMPLEMENTS
//   The sound behind platform/audio_library.h: what BASS_ChannelPlay starts,
//   BASS_ChannelSetPosition moves and BASS_ChannelStop ends, and the grace
//   after a Play during which a following call may still position it.
//
// HOW
//   At each callback (the output's thread) every playing stream is decoded
//   with mp3_stream and the streams are summed; the buffer is silence when
//   nothing plays. Decoding happens outside the lock, so the program's calls
//   never wait for it; a command that comes meanwhile bumps the stream's
//   generation and the buffer decoded under the old one is not played (and
//   the output is told to drop what it holds, where it can). Each stream's
//   part of the buffer is anchored to the device frame where it begins (the
//   frames handed to the output so far); the output tells which device frame
//   is being heard. A stream decoded to its end plays on until its last
//   anchor has been heard, then stops.
//
// LIMITATIONS
//   - No effects, no volume: streams are summed and the sum is clipped to
//     16 bits.
//   - A stream ends where its decoder delivers nothing more; the rest of that
//     buffer is silence from it.
//   - All streams are decoded in one buffer: a command on one stream while
//     it is decoded makes the whole buffer go again after a drop.
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
#include "platform/audio_format.h"

namespace {

// How long a Play waits for the call that may position it (see the header).
// Long enough that a busy machine cannot slip a buffer from the old position
// in between; the time source's next call comes within a frame anyway.
constexpr int64_t kPlayGraceNs = 250'000'000;

// Scratch of the audio thread, interleaved samples.
std::vector<int16_t> DecodedScratch;
std::vector<int32_t> MixedScratch;

// What one stream is to play in the buffer being filled.
struct Job {
    bool play = false;
    uint32_t generation = 0;
    int64_t start = 0;
};

// Under the lock: whether the stream plays in this buffer, and from where.
Job take_job(ChannelState& c, int64_t now) {
    if (!c.used) return {};
    if (c.playback == Playback::kPending && now - c.play_requested_ns >= kPlayGraceNs)
        c.playback = Playback::kPlaying;
    if (c.playback != Playback::kPlaying) return {};
    if (c.ended) {
        // Everything handed out has been heard: the stream stopped by itself.
        const HeardAnchor& last = newest_anchor(c.heard);
        if (!anchored(c.heard) || heard_frame(c, now) >= last.frame + last.frames) {
            c.playback = Playback::kStopped;
            c.rest_frame = c.next_frame;
            c.ended = false;
            clear_anchors(c.heard);
        }
        return {};
    }
    return {true, c.generation, c.next_frame};
}

void mix_channel(AudioLibrary& l, int slot, const Job& job, int frames, int64_t device) {
    Mp3Stream& decoder = l.channels[slot].decoder;
    // Decoding happens outside the lock; only this thread uses the decoder.
    int64_t got = 0;
    if (decoder.next_frame == job.start || mp3_seek(&decoder, job.start) == kMp3Ok)
        got = mp3_read(&decoder, DecodedScratch.data(), frames);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        ChannelState& c = l.channels[slot].state;
        if (!c.used || c.generation != job.generation)
            return;  // a command came meanwhile: stay silent
        if (got == 0) {
            c.ended = true;
            return;
        }
        c.next_frame = job.start + got;
        add_anchor(c.heard, device, job.start, got);
    }
    for (int64_t i = 0; i < got * kAudioChannels; ++i)
        MixedScratch[static_cast<size_t>(i)] += DecodedScratch[static_cast<size_t>(i)];
}

}  // namespace

void prepare_mixer(int frames) {
    DecodedScratch.assign(static_cast<size_t>(frames) * kAudioChannels, 0);
    MixedScratch.assign(static_cast<size_t>(frames) * kAudioChannels, 0);
}

bool mix_next_buffer(uint8_t* out, int bytes) {
    AudioLibrary& l = audio_library();
    int64_t now = now_ns();
    int frames = bytes / kAudioFrameBytes;
    int samples = frames * kAudioChannels;
    if (DecodedScratch.size() < static_cast<size_t>(samples)) {
        DecodedScratch.resize(static_cast<size_t>(samples));
        MixedScratch.resize(static_cast<size_t>(samples));
    }
    std::fill(MixedScratch.begin(), MixedScratch.begin() + samples, 0);
    Job jobs[kMaxStreams];
    bool drop;
    int64_t device;
    {
        // One look at every stream, together with the word to drop what the
        // output holds: a command that comes later is dropped with this buffer.
        std::lock_guard<std::mutex> guard(l.lock);
        track_device_clock(l.clock, now, frames);
        drop = l.drop_held;
        l.drop_held = false;
        device = l.clock.handed;
        for (int slot = 0; slot < kMaxStreams; ++slot)
            jobs[slot] = take_job(l.channels[slot].state, now);
    }
    for (int slot = 0; slot < kMaxStreams; ++slot)
        if (jobs[slot].play) mix_channel(l, slot, jobs[slot], frames, device);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        l.clock.handed += frames;
    }
    auto* pcm = reinterpret_cast<int16_t*>(out);
    for (int i = 0; i < samples; ++i)
        pcm[i] = static_cast<int16_t>(
            std::clamp<int32_t>(MixedScratch[static_cast<size_t>(i)], -32768, 32767));
    std::memset(out + static_cast<ptrdiff_t>(frames) * kAudioFrameBytes, 0,
                static_cast<size_t>(bytes - frames * kAudioFrameBytes));
    return drop;
}

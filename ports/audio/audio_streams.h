// What the files of the audio library share: the table of streams and the
// device clock, reached by the program's calls and by the device's callback
// under one lock. Nothing outside ports/audio includes this.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "audio/audio_output.h"
#include "audio/device_clock.h"
#include "audio/mp3_stream.h"
#include "platform/audio_library.h"

constexpr int kMaxStreams = 16;

enum class Playback { kStopped, kPending, kPlaying };

// The part of a stream shared between the threads, guarded by AudioLibrary::lock.
struct ChannelState {
    bool used = false;
    bool reserved = false;  // being created, not yet visible to the callback
    DWORD handle = 0;
    int64_t length = 0;
    Playback playback = Playback::kStopped;
    int64_t play_requested_ns = 0;
    int64_t next_frame = 0;  // the first frame of the next buffer
    int64_t rest_frame = 0;  // the position while not playing
    // Bumped by every command that changes what should be heard next; a
    // buffer decoded under an older generation is thrown away.
    uint32_t generation = 0;
    // Decoded to its end: it plays on until its last buffer has been heard.
    bool ended = false;
    HeardPosition heard;  // where it is heard while playing
};

struct Channel {
    // The decoder belongs to the audio thread once the stream is published;
    // only StreamFree and Free touch it again, with the callback locked out.
    Mp3Stream decoder;
    ChannelState state;
};

struct AudioLibrary {
    std::mutex lock;
    DeviceClock clock;
    const AudioOutput* output = nullptr;  // while initialised
    // A stream was positioned anew since the last buffer: the output drops
    // what it holds before it plays the next (outputs that can, only).
    bool drop_held = false;
    bool initialised = false;
    int buffer_frames = 0;
    uint32_t serial = 0;
    Channel channels[kMaxStreams];
    std::atomic<int> error{BASS_OK};
};

// The one library of the process.
AudioLibrary& audio_library();

// The live stream of a handle, or null. Lock held.
Channel* find_channel(DWORD handle);

// The frame of a stream being heard at time now (its resting place when it
// is not playing). Lock held.
int64_t heard_frame(ChannelState& c, int64_t now);

// The time every part of the library measures in: a steady clock, in ns.
inline int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

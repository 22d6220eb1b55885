// The audio library on libmpg123 and SDL2 audio.
//
// STANDS IN FOR: the BASS 2.3 calls the time source makes (audio_library.h):
// version, init, a stream from memory, play, get and set position, stop,
// free, error code. Written from that call table alone.
//
// HOW: Init opens SDL's default output device at 44100 Hz, 16-bit stereo,
// and leaves it running; its callback (SDL's audio thread) decodes every
// playing stream with mp3_stream and mixes them, and hands silence when
// nothing plays. The program's thread only flips state under a mutex that
// the audio thread never holds while decoding, so no call of the program
// waits for more than a few microseconds (Free and StreamFree excepted:
// they wait for the callback to finish before releasing its decoder).
//
// POSITION: what is heard now = frames handed to the device minus the buffer
// still queued. At each callback the buffer just filled starts being heard.
// Between callbacks the position follows the device's clock, a line fitted
// to the callbacks (DeviceClock below) and held 4 ms behind it to absorb
// their jitter; it never passes the end of the last buffer handed over,
// never goes backwards while playing, never passes the end of the stream.
//
// BUFFER: 512 frames (11.6 ms) on sound cards. SDL's disk and dummy drivers
// pace themselves by sleeping whole milliseconds per buffer; measured with
// SDL 2.26 they run about 4 % fast with 512 frames and within 0.5 % with
// 1024, so those two get 1024 frames (23.2 ms).
//
// LIMITATIONS:
//   - Latency inside the sound server or hardware after SDL's buffer is not
//     visible through SDL 2, so on a real device the reported position leads
//     what leaves the speakers by that much (typically a few milliseconds).
//   - Streams only from memory; one output format (44100 Hz 16-bit stereo)
//     whatever the MP3 holds (see mp3_stream.h); no effects, no volume.
//   - The window handle of Init is not used (BASS used it for DirectSound).
//   - A thread other than the program's may call in, but calls on one stream
//     from two threads at once get no ordering beyond the mutex.
#include "timeline/audio_library.h"
#include "audio/audio_probe.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/mp3_stream.h"
#include "timeline/audio_format.h"

namespace {

constexpr DWORD kVersion = 0x02030000;
constexpr int kMaxStreams = 16;
constexpr int kCardBufferFrames = 512;
constexpr int kTimerDriverBufferFrames = 1024;
// How long a Play waits for the call that may position it (see the header).
// Long enough that a busy machine cannot slip a buffer from the old position
// in between; the time source's next call comes within a frame anyway.
constexpr int64_t kPlayGraceNs = 250'000'000;
// The tracking loop's gains: the phase follows a tenth of each callback's
// deviation, the rate a critically damped share of it; a callback jittering
// by 4 ms moves the clock by a fraction of a millisecond.
constexpr double kPhaseGain = 0.1;
constexpr double kRateGain = kPhaseGain * kPhaseGain / 4;
// Reported positions trail the fitted clock by this much, so that a callback
// that comes a little late does not make the position stop and then jump.
constexpr double kJitterMarginSeconds = 0.004;

enum class Playback { kStopped, kPending, kPlaying };

// The part of a stream shared between the threads, guarded by Library::lock.
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
    // The buffer being heard: its first frame, its end, and the device frame
    // at which it began to be heard.
    bool anchored = false;
    int64_t anchor_frame = 0;
    int64_t anchor_limit = 0;
    int64_t anchor_device = 0;
    int64_t reported = 0;  // the last position reported while playing
};

struct Channel {
    // The decoder belongs to the audio thread once the stream is published;
    // only StreamFree and Free touch it again, with the callback locked out.
    Mp3Stream decoder;
    ChannelState state;
};

// The device's clock: which of its frames is being heard at a given time.
// The callbacks of a device come with jitter (the disk and dummy drivers
// wake from sleeps, sound servers batch requests) while the device itself
// plays at a steady rate, so the clock is a line fitted to the callbacks by a
// second-order tracking loop rather than the last callback's time alone.
struct DeviceClock {
    bool valid = false;
    double frame = 0;        // the device frame heard at time ns
    int64_t ns = 0;
    double rate = kAudioRate;     // the device's frames per second, as measured
    int64_t handed = 0;      // frames handed to the device so far

    double heard_at(int64_t now) const { return frame + rate * static_cast<double>(now - ns) / 1e9; }
};

struct Library {
    std::mutex lock;
    DeviceClock clock;
    bool initialised = false;
    bool exit_hook = false;
    SDL_AudioDeviceID device = 0;
    int buffer_frames = 0;
    uint32_t serial = 0;
    Channel channels[kMaxStreams];
    std::atomic<int> error{BASS_OK};
    // Scratch of the audio thread.
    std::vector<int16_t> decoded;
    std::vector<int32_t> mixed;
};

Library& lib() {
    static Library library;
    return library;
}

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

BOOL fail(int code) {
    lib().error = code;
    return FALSE;
}

BOOL succeed() {
    lib().error = BASS_OK;
    return TRUE;
}

// Handles carry a serial in the high bits, so a freed handle stays invalid
// after its slot is reused.
Channel* find(DWORD handle) {
    if (handle == 0) return nullptr;
    Channel& c = lib().channels[(handle - 1) % kMaxStreams];
    return (c.state.used && c.state.handle == handle) ? &c : nullptr;
}

// The position being heard at time now (see POSITION above). Lock held.
int64_t heard_frame(ChannelState& c, const DeviceClock& clock, int64_t now) {
    if (c.playback != Playback::kPlaying) return c.rest_frame;
    int64_t frame = c.next_frame;  // nothing handed out since the last command
    if (c.anchored) {
        double device = clock.heard_at(now) - kJitterMarginSeconds * clock.rate;
        frame = c.anchor_frame + static_cast<int64_t>(std::floor(device - static_cast<double>(c.anchor_device)));
        frame = std::min(frame, c.anchor_limit);
    }
    frame = std::clamp(frame, c.reported, c.length);
    c.reported = frame;
    return frame;
}

// A new place to play from: drop what is queued and start over there.
void reposition(ChannelState& c, int64_t frame) {
    c.next_frame = frame;
    c.rest_frame = frame;
    c.reported = frame;
    c.anchored = false;
    ++c.generation;
}

// The call after a Play lets it begin (see the header).
void release_pending(ChannelState& c) {
    if (c.playback == Playback::kPending) c.playback = Playback::kPlaying;
}

// Called at every callback with the device frame that starts being heard now.
void track_device_clock(DeviceClock& clock, int64_t now, int frames) {
    double handed = static_cast<double>(clock.handed);
    if (!clock.valid) {
        clock = DeviceClock{true, handed, now, kAudioRate, clock.handed};
        return;
    }
    double error = handed - clock.heard_at(now);
    double period = frames / clock.rate;
    if (std::abs(error) > 4.0 * frames) {
        // A stall or a burst (the device was starved or restarted): start over.
        clock.frame = handed;
        clock.ns = now;
        return;
    }
    clock.frame = clock.heard_at(now) + kPhaseGain * error;
    clock.ns = now;
    clock.rate = std::clamp(clock.rate + kRateGain * error / period, kAudioRate * 0.95, kAudioRate * 1.05);
}

void mix_channel(Library& l, int slot, int64_t now, int frames) {
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
        got = mp3_read(&decoder, l.decoded.data(), frames);

    {
        std::lock_guard<std::mutex> guard(l.lock);
        if (c.generation != generation) return;  // a command came meanwhile: stay silent
        if (got == 0) {
            // Everything handed out has been heard: the stream ended by itself.
            c.playback = Playback::kStopped;
            c.rest_frame = start;
            c.anchored = false;
            return;
        }
        c.next_frame = start + got;
        c.anchored = true;
        c.anchor_frame = start;
        c.anchor_limit = start + got;
        c.anchor_device = l.clock.handed;
    }
    for (int64_t i = 0; i < got * 2; ++i) l.mixed[static_cast<size_t>(i)] += l.decoded[static_cast<size_t>(i)];
}

void SDLCALL fill_device_buffer(void*, Uint8* out, int bytes) {
    Library& l = lib();
    int64_t now = now_ns();
    int frames = bytes / kAudioFrameBytes;
    if (l.decoded.size() < static_cast<size_t>(frames) * 2) {
        l.decoded.resize(static_cast<size_t>(frames) * 2);
        l.mixed.resize(static_cast<size_t>(frames) * 2);
    }
    std::fill(l.mixed.begin(), l.mixed.begin() + frames * 2, 0);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        track_device_clock(l.clock, now, frames);
    }
    for (int slot = 0; slot < kMaxStreams; ++slot) mix_channel(l, slot, now, frames);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        l.clock.handed += frames;
    }
    auto* samples = reinterpret_cast<int16_t*>(out);
    for (int i = 0; i < frames * 2; ++i)
        samples[i] = static_cast<int16_t>(std::clamp<int32_t>(l.mixed[static_cast<size_t>(i)], -32768, 32767));
    std::memset(out + frames * kAudioFrameBytes, 0, static_cast<size_t>(bytes - frames * kAudioFrameBytes));
}

void free_at_exit() { BASS_Free(); }

}  // namespace

DWORD BASS_GetVersion() {
    lib().error = BASS_OK;
    return kVersion;
}

BOOL BASS_Init(int device, DWORD freq, DWORD, HWND, const void*) {
    Library& l = lib();
    if (l.initialised) return fail(BASS_ERROR_ALREADY);
    if (device != -1 && device != 1) return fail(BASS_ERROR_DEVICE);
    if (freq != kAudioRate) return fail(BASS_ERROR_FORMAT);
    // SDL's reason goes to standard error: the program shows only the code.
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "audio: %s\n", SDL_GetError());
        return fail(BASS_ERROR_DRIVER);
    }

    const char* driver = SDL_GetCurrentAudioDriver();
    bool timer_paced = driver && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
    SDL_AudioSpec want = {};
    want.freq = kAudioRate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(timer_paced ? kTimerDriverBufferFrames : kCardBufferFrames);
    want.callback = fill_device_buffer;
    SDL_AudioSpec have = {};
    // No changes allowed: SDL converts if the device wants another format, so
    // the callback always fills 44100 Hz 16-bit stereo.
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        std::fprintf(stderr, "audio: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return fail(BASS_ERROR_DRIVER);
    }
    {
        std::lock_guard<std::mutex> guard(l.lock);
        l.device = id;
        l.clock = DeviceClock{};
        l.buffer_frames = have.samples;
        l.decoded.assign(static_cast<size_t>(have.samples) * 2, 0);
        l.mixed.assign(static_cast<size_t>(have.samples) * 2, 0);
        l.initialised = true;
    }
    // The disk driver writes its file as it goes but the last buffers only
    // reach it when the device is closed; programs end without asking.
    if (!l.exit_hook) l.exit_hook = std::atexit(free_at_exit) == 0;
    SDL_PauseAudioDevice(id, 0);
    return succeed();
}

int BASS_ErrorGetCode() { return lib().error; }

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    Library& l = lib();
    if (!l.initialised) return fail(BASS_ERROR_INIT);
    if (!mem || (flags & ~static_cast<DWORD>(BASS_STREAM_PRESCAN)) != 0) return fail(BASS_ERROR_NOTAVAIL);
    if (!file || length == 0 || length > SIZE_MAX || offset > UINTPTR_MAX - reinterpret_cast<uintptr_t>(file))
        return fail(BASS_ERROR_ILLPARAM);

    Channel* slot = nullptr;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        for (Channel& c : l.channels)
            if (!c.state.used && !c.state.reserved) {
                slot = &c;
                break;
            }
        if (!slot) return fail(BASS_ERROR_MEM);
        slot->state.reserved = true;
    }
    // The scan may take a millisecond or two: done without the lock, in a
    // slot the callback does not look at yet.
    const auto* bytes = static_cast<const uint8_t*>(file) + offset;
    int opened = mp3_open(&slot->decoder, bytes, static_cast<size_t>(length));

    std::lock_guard<std::mutex> guard(l.lock);
    if (opened != kMp3Ok) {
        slot->state.reserved = false;
        return fail(opened == kMp3NoMemory ? BASS_ERROR_MEM
                    : opened == kMp3BadFormat ? BASS_ERROR_FORMAT
                                              : BASS_ERROR_FILEFORM);
    }
    l.serial = (l.serial + 1) & 0x0FFFFFFF;
    if (l.serial == 0) l.serial = 1;
    ChannelState& c = slot->state;
    c = ChannelState{};
    c.handle = static_cast<DWORD>(l.serial) * kMaxStreams + static_cast<DWORD>(slot - l.channels) + 1;
    c.length = slot->decoder.length;
    c.used = true;
    l.error = BASS_OK;
    return c.handle;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    Library& l = lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Channel* channel = find(handle);
    if (!channel) return fail(BASS_ERROR_HANDLE);
    ChannelState& c = channel->state;
    if (c.playback != Playback::kStopped) {
        if (restart) reposition(c, 0);
        release_pending(c);
        return succeed();
    }
    if (restart || c.rest_frame >= c.length) c.rest_frame = 0;
    reposition(c, c.rest_frame);
    c.playback = Playback::kPending;
    c.play_requested_ns = now_ns();
    return succeed();
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    Library& l = lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Channel* channel = find(handle);
    if (!channel) return fail(BASS_ERROR_HANDLE);
    ChannelState& c = channel->state;
    release_pending(c);
    QWORD frame = pos / kAudioFrameBytes;
    if (frame >= static_cast<QWORD>(c.length)) return fail(BASS_ERROR_POSITION);
    reposition(c, static_cast<int64_t>(frame));
    return succeed();
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    Library& l = lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Channel* channel = find(handle);
    if (!channel) {
        l.error = BASS_ERROR_HANDLE;
        return static_cast<QWORD>(-1);
    }
    release_pending(channel->state);
    l.error = BASS_OK;
    return static_cast<QWORD>(heard_frame(channel->state, l.clock, now_ns())) * kAudioFrameBytes;
}

BOOL BASS_ChannelStop(DWORD handle) {
    Library& l = lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Channel* channel = find(handle);
    if (!channel) return fail(BASS_ERROR_HANDLE);
    ChannelState& c = channel->state;
    if (c.playback == Playback::kStopped) return succeed();
    // Resume from what was heard, not from what was already queued.
    int64_t frame = c.playback == Playback::kPlaying ? heard_frame(c, l.clock, now_ns()) : c.next_frame;
    reposition(c, frame);
    c.playback = Playback::kStopped;
    return succeed();
}

BOOL BASS_StreamFree(HSTREAM handle) {
    Library& l = lib();
    if (!l.initialised) return fail(BASS_ERROR_HANDLE);
    // Keeps the callback out while its decoder goes away.
    SDL_LockAudioDevice(l.device);
    BOOL result;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        Channel* channel = find(handle);
        if (channel) {
            channel->state = ChannelState{};
            mp3_close(&channel->decoder);
            l.error = BASS_OK;
            result = TRUE;
        } else {
            l.error = BASS_ERROR_HANDLE;
            result = FALSE;
        }
    }
    SDL_UnlockAudioDevice(l.device);
    return result;
}

BOOL BASS_Free() {
    Library& l = lib();
    SDL_AudioDeviceID device;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        if (!l.initialised) return fail(BASS_ERROR_INIT);
        l.initialised = false;
        device = l.device;
        l.device = 0;
        l.buffer_frames = 0;
    }
    // Waits for the audio thread to end; the disk driver closes its file.
    SDL_CloseAudioDevice(device);
    std::lock_guard<std::mutex> guard(l.lock);
    for (Channel& c : l.channels) {
        c.state = ChannelState{};
        mp3_close(&c.decoder);
    }
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    l.error = BASS_OK;
    return TRUE;
}

int audio_device_buffer_frames() {
    std::lock_guard<std::mutex> guard(lib().lock);
    return lib().buffer_frames;
}

QWORD audio_channel_buffer_position(DWORD handle) {
    std::lock_guard<std::mutex> guard(lib().lock);
    Channel* channel = find(handle);
    if (!channel) return static_cast<QWORD>(-1);
    const ChannelState& c = channel->state;
    if (c.playback != Playback::kPlaying) return static_cast<QWORD>(c.rest_frame) * kAudioFrameBytes;
    return static_cast<QWORD>(c.anchored ? c.anchor_frame : c.next_frame) * kAudioFrameBytes;
}

// The audio library on libmpg123 and the sound server or SDL2 audio: the
// calls and the table of streams.
//
// IMPLEMENTS
//   platform/audio_library.h: the BASS 2.3 calls the time source makes
//   (version, init, a stream from memory, play, get and set position, stop,
//   free, error code), BASS_Free, audio_library_prepare_output and
//   audio_library_end. Written from that call table alone.
//
// HOW
//   Init opens the output (output_choice.cpp picks PipeWire, the pulse
//   socket or SDL) and leaves it running until Free, which the program's
//   end (audio_library_end) makes in its own shutdown order; the mixer (audio_mixer.cpp) decodes
//   and mixes the playing streams on the output's thread. The program's thread only flips state
//   under a mutex that the audio thread never holds while decoding, so no call of the program waits
//   for more than a few microseconds (Free and StreamFree excepted: they wait for the callback to
//   finish before releasing its decoder). Positions are read off each stream's anchors at the
//   device frame the output says is heard (device_clock.h). A new position makes an output that can
//   drop what it holds do so, so it is heard at once; the other playing streams are then positioned
//   anew where they are heard. Handles carry a serial in the high bits, so a freed handle stays
//   invalid after its slot is reused.
//
// LIMITATIONS
//   - Streams only from memory, at most 16 at once; one output format
//     (44100 Hz 16-bit stereo) whatever the MP3 holds (see mp3_stream.h).
//   - The window handle of Init is not used (BASS used it for DirectSound).
//   - A thread other than the program's may call in, but calls on one stream
//     from two threads at once get no ordering beyond the mutex.
//
// DEPENDENCIES
//   mp3_stream (libmpg123) to open streams; the mixer, the outputs and the
//   device clock of this folder; the C++ library's mutex.
#include "platform/audio_library.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "audio/audio_mixer.h"
#include "audio/audio_output.h"
#include "audio/audio_streams.h"
#include "platform/audio_format.h"

namespace {

constexpr DWORD kVersion = 0x02030000;

BOOL fail(int code) {
    audio_library().error = code;
    return FALSE;
}

BOOL succeed() {
    audio_library().error = BASS_OK;
    return TRUE;
}

// A new place to play from: forget what was handed out and start there.
void restart_at(ChannelState& c, int64_t frame) {
    c.next_frame = frame;
    c.rest_frame = frame;
    c.heard.reported = frame;
    c.ended = false;
    clear_anchors(c.heard);
    ++c.generation;
}

// The same, and for an output that drops what it holds (so that the new
// place is heard at once), every other playing stream goes on from what is
// heard of it, as the drop takes its next frames too.
void reposition(ChannelState& c, int64_t frame) {
    AudioLibrary& l = audio_library();
    restart_at(c, frame);
    if (!l.output || !l.output->drops_held) return;
    l.drop_held = true;
    int64_t now = now_ns();
    for (Channel& other : l.channels)
        if (&other.state != &c && other.state.used && other.state.playback == Playback::kPlaying)
            restart_at(other.state, heard_frame(other.state, now));
    l.output->hurry();
}

// The call after a Play lets it begin (see the header).
void release_pending(ChannelState& c) {
    if (c.playback == Playback::kPending) c.playback = Playback::kPlaying;
}

// The calls that change one channel: under the library's lock, on the
// channel a handle names; a handle that names none fails.
template <class Change>
BOOL change_channel(DWORD handle, Change change) {
    std::lock_guard<std::mutex> guard(audio_library().lock);
    Channel* channel = find_channel(handle);
    if (!channel) return fail(BASS_ERROR_HANDLE);
    return change(channel->state);
}

}  // namespace

AudioLibrary& audio_library() {
    static AudioLibrary library;
    return library;
}

int64_t heard_frame(ChannelState& c, int64_t now) {
    if (c.playback != Playback::kPlaying) return c.rest_frame;
    double device = 0;
    const AudioOutput* output = audio_library().output;
    bool known = output->heard(now, &device);
    // An output that bounds its own clock is read as far as it says.
    int64_t run_on = output->heard_runs_on ? c.length : 0;
    return heard_stream_frame(c.heard, known, device, c.next_frame, c.length, run_on);
}

Channel* find_channel(DWORD handle) {
    if (handle == 0) return nullptr;
    Channel& c = audio_library().channels[(handle - 1) % kMaxStreams];
    return (c.state.used && c.state.handle == handle) ? &c : nullptr;
}

DWORD BASS_GetVersion() {
    audio_library().error = BASS_OK;
    return kVersion;
}

void audio_library_prepare_output() {
    AudioLibrary& l = audio_library();
    if (!l.initialised) prepare_chosen_output();
}

void audio_library_end() {
    bool initialised;
    {
        std::lock_guard<std::mutex> guard(audio_library().lock);
        initialised = audio_library().initialised;
    }
    if (initialised) BASS_Free();
    forget_prepared_outputs();
}

BOOL BASS_Init(int device, DWORD freq, DWORD, HWND, const void*) {
    AudioLibrary& l = audio_library();
    if (l.initialised) return fail(BASS_ERROR_ALREADY);
    if (device != -1 && device != 1) return fail(BASS_ERROR_DEVICE);
    if (freq != kAudioRate) return fail(BASS_ERROR_FORMAT);
    int buffer_frames = 0;
    const AudioOutput* output = open_chosen_output(mix_next_buffer, &buffer_frames);
    if (!output) return fail(BASS_ERROR_DRIVER);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        l.output = output;
        l.drop_held = false;
        l.clock = DeviceClock{};
        l.buffer_frames = buffer_frames;
        prepare_mixer(buffer_frames);
        l.initialised = true;
    }
    output->start();
    return succeed();
}

int BASS_ErrorGetCode() { return audio_library().error; }

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    AudioLibrary& l = audio_library();
    if (!l.initialised) return fail(BASS_ERROR_INIT);
    if (!mem || (flags & ~static_cast<DWORD>(BASS_STREAM_PRESCAN)) != 0)
        return fail(BASS_ERROR_NOTAVAIL);
    if (!file || length == 0 || length > SIZE_MAX ||
        offset > UINTPTR_MAX - reinterpret_cast<uintptr_t>(file))
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
        return fail(opened == kMp3NoMemory    ? BASS_ERROR_MEM
                    : opened == kMp3BadFormat ? BASS_ERROR_FORMAT
                                              : BASS_ERROR_FILEFORM);
    }
    l.serial = (l.serial + 1) & 0x0FFFFFFF;
    if (l.serial == 0) l.serial = 1;
    ChannelState& c = slot->state;
    c = ChannelState{};
    c.handle =
        static_cast<DWORD>(l.serial) * kMaxStreams + static_cast<DWORD>(slot - l.channels) + 1;
    c.length = slot->decoder.length;
    c.used = true;
    l.error = BASS_OK;
    return c.handle;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    return change_channel(handle, [restart](ChannelState& c) {
        if (c.ended) {
            // Played to its end, its last frames still on their way: as stopped.
            c.playback = Playback::kStopped;
            c.rest_frame = c.next_frame;
        }
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
    });
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    return change_channel(handle, [pos](ChannelState& c) {
        release_pending(c);
        QWORD frame = pos / kAudioFrameBytes;
        if (frame >= static_cast<QWORD>(c.length)) return fail(BASS_ERROR_POSITION);
        reposition(c, static_cast<int64_t>(frame));
        return succeed();
    });
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    AudioLibrary& l = audio_library();
    std::lock_guard<std::mutex> guard(l.lock);
    Channel* channel = find_channel(handle);
    if (!channel) {
        l.error = BASS_ERROR_HANDLE;
        return static_cast<QWORD>(-1);
    }
    release_pending(channel->state);
    l.error = BASS_OK;
    return static_cast<QWORD>(heard_frame(channel->state, now_ns())) * kAudioFrameBytes;
}

BOOL BASS_ChannelStop(DWORD handle) {
    return change_channel(handle, [](ChannelState& c) {
        if (c.playback == Playback::kStopped) return succeed();
        // Resume from what was heard, not from what was already queued.
        int64_t frame = c.playback == Playback::kPlaying ? heard_frame(c, now_ns()) : c.next_frame;
        reposition(c, frame);
        c.playback = Playback::kStopped;
        return succeed();
    });
}

BOOL BASS_StreamFree(HSTREAM handle) {
    AudioLibrary& l = audio_library();
    if (!l.initialised) return fail(BASS_ERROR_HANDLE);
    // Keeps the callback out while its decoder goes away.
    const AudioOutput* output = l.output;
    output->lock();
    BOOL result;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        Channel* channel = find_channel(handle);
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
    output->unlock();
    return result;
}

BOOL BASS_Free() {
    AudioLibrary& l = audio_library();
    const AudioOutput* output;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        if (!l.initialised) return fail(BASS_ERROR_INIT);
        l.initialised = false;
        l.buffer_frames = 0;
        output = l.output;
    }
    // Waits for the audio thread to end; the disk driver closes its file.
    output->close();
    std::lock_guard<std::mutex> guard(l.lock);
    l.output = nullptr;
    for (Channel& c : l.channels) {
        c.state = ChannelState{};
        mp3_close(&c.decoder);
    }
    l.error = BASS_OK;
    return TRUE;
}

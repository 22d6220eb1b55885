// The time source: keeps the timeline position current from either the
// process clock or the playing music channel, and moves the music for the
// arrow keys.
#include "timeline/time_source.h"

#include <ctime>
#include <string>

#include "config/presentation.h"
#include "config/settings.h"
#include "platform/audio_format.h"
#include "platform/audio_library.h"
#include "platform/diagnostics.h"
#include "resources/pack.h"

int32_t ClockBase = 0;
uint32_t MusicChannel = 0;
TimeSourceTable TimeSource = {};

namespace {

// A position is the music's byte position halved: ticks are two bytes.
static_assert(kTicksPerSecond == kAudioBytesPerSecond / 2);
static_assert(kTicksPerSampleFrame == kAudioFrameBytes / 2);

constexpr DWORD kExpectedVersion = 0x0203;

// The program's clock counts real time from process start, the way the
// Windows C run-time's clock() does: that one records its base just before
// main. Here main takes it as its first step, on the monotonic clock. (Linux's
// clock() counts CPU time, which stands still while the program waits and so
// cannot drive pictures.) Reading the kernel's process start time from /proc
// instead would also count the dynamic loader's work, but only in whole clock
// ticks of 10 ms, which is coarser than the difference it would make.
timespec ProcessStart = {};

// Every operation of both back ends returns 0 whatever happens: kept so on
// purpose. A failure is told on the console or in a box, never by the result.
int clock_advance() {
    TimelinePosition = ticks_for_milliseconds(ClockMilliseconds(), ClockBase);
    return 0;
}

int clock_start(int32_t start_frames) {
    ClockBase = static_cast<int32_t>(kTicksPerSampleFrame * static_cast<uint32_t>(start_frames));
    return 0;
}

// stop and release of the clock: there is nothing to stop or free.
int clock_idle() { return 0; }

int music_advance() {
    QWORD bytes = BASS_ChannelGetPosition(MusicChannel);
    TimelinePosition = static_cast<uint32_t>(bytes >> 1);
    // Checked on every frame: once the limit is reached the stopped channel
    // is stopped again each time, which costs nothing and keeps it quiet.
    if (Settings.okkie == 0 && TimelinePosition >= kMusicStopTicks) BASS_ChannelStop(MusicChannel);
    return 0;
}

int music_start(int32_t start_frames) {
    BASS_ChannelPlay(MusicChannel, FALSE);
    if (start_frames != 0) {
        uint32_t byte = 4u * static_cast<uint32_t>(start_frames);
        if (!BASS_ChannelSetPosition(MusicChannel, byte))
            ConsoleLine("setpos %i ", BASS_ErrorGetCode());
    }
    return 0;
}

int music_stop() {
    BASS_ChannelStop(MusicChannel);
    return 0;
}

int music_release() {
    BASS_StreamFree(MusicChannel);
    return 0;
}

std::string unplayable_reason(const PackEntry& music, int code) {
    if (music.data == nullptr) return "the pack has no such entry";
    if (music.size == 0) return "it is empty";
    switch (code) {
        case BASS_ERROR_FILEFORM:
            return "it is not an MP3 (no MPEG audio frames in it)";
        case BASS_ERROR_FORMAT:
            return "its samples are in a format that cannot be played";
        case BASS_ERROR_MEM:
            return "there is not enough memory";
        default:
            return "error " + std::to_string(code);
    }
}

constexpr TimeSourceTable kClockBackEnd = {clock_advance, clock_start, clock_idle, clock_idle};
constexpr TimeSourceTable kMusicBackEnd = {music_advance, music_start, music_stop, music_release};

}  // namespace

void start_process_clock() { clock_gettime(CLOCK_MONOTONIC, &ProcessStart); }

int64_t process_milliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t ns = (static_cast<int64_t>(now.tv_sec) - ProcessStart.tv_sec) * 1000000000 +
                 (now.tv_nsec - ProcessStart.tv_nsec);
    return ns / 1000000;
}

int64_t (*ClockMilliseconds)() = process_milliseconds;

uint32_t ticks_for_milliseconds(int64_t ms, int32_t base) {
    // Unsigned 64-bit so that even absurd readings wrap instead of overflowing.
    uint64_t ticks =
        static_cast<uint64_t>(ms) * 882u / 10u + static_cast<uint64_t>(static_cast<int64_t>(base));
    return static_cast<uint32_t>(ticks);
}

int init_time_source(HWND window) {
    TimeSource = kClockBackEnd;

    // Taken whether or not audio is on, so that the pack always writes the
    // music back as its sixth entry.
    PackEntry music = {};
    take_entry(kEntryNames[kMusicEntry], &music);

    if (Settings.audio_enabled == 0) return 0;

    DWORD version = BASS_GetVersion();
    ConsoleLine("BASS.DLL == %i.%i.%i.%i \n", static_cast<int>(version >> 24),
                static_cast<int>((version >> 16) & 255), static_cast<int>((version >> 8) & 255),
                static_cast<int>(version & 255));
    // Kept as it is: the box names 0x302, not the version checked against;
    // users know the message by this text.
    if ((version >> 16) != kExpectedVersion)
        ErrorBox("wrong BASSMOD dll?\n version conflict %x %x", version, 0x302);

    if (!BASS_Init(-1, kAudioRate, 0, window, nullptr)) {
        ErrorBox("Bass_Init(-1) oops? %i", BASS_ErrorGetCode());
        return -2;
    }

    MusicChannel = BASS_StreamCreateFile(TRUE, music.data, 0, music.size, BASS_STREAM_PRESCAN);
    if (MusicChannel == 0) {
        // Music that cannot be played must not go unnoticed: a handle of 0
        // would read as position -1 on every frame, and the pictures would
        // freeze at the end. Say why, then run on the clock as after a failed
        // initialisation.
        ErrorBox(
            "BASS_StreamCreateFile failed: the music, entry 6 of %s, cannot be played: %s; "
            "the presentation goes on without sound",
            pack_path(), unplayable_reason(music, BASS_ErrorGetCode()).c_str());
        BASS_Free();
        return -2;
    }
    TimeSource = kMusicBackEnd;
    return 0;
}

void prepare_time_source() {
    if (Settings.audio_enabled != 0) audio_library_prepare_output();
}

void end_time_source() { audio_library_end(); }

void seek(int32_t delta) {
    // 32-bit unsigned on purpose: a step back near the start wraps to a
    // position far past the end, which the library refuses.
    uint32_t byte = 2u * TimelinePosition + static_cast<uint32_t>(delta);
    BASS_ChannelSetPosition(MusicChannel, byte);
}

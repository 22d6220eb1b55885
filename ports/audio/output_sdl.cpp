// The audio library's output on SDL2 audio (see audio_output.h).
//
// IMPLEMENTS
//   audio_output.h (kSdlOutput): the device BASS_Init opens and leaves
//   running, BASS_StreamFree locks out, and BASS_Free closes, where no sound
//   server answers or SDL_AUDIODRIVER is set.
//
// HOW
//   SDL's default output device at 44100 Hz, 16-bit stereo; its callback
//   (SDL's audio thread) asks for each buffer. No changes allowed: SDL
//   converts if the device wants another format, so the callback always
//   fills the output format. The frame heard is read off the device clock
//   fitted to the callbacks (device_clock.h): the buffer asked for now is
//   taken to start being heard now.
//   BUFFER: 512 frames (11.6 ms) on sound cards. SDL's disk and dummy
//   drivers pace themselves by sleeping whole milliseconds per buffer;
//   measured with SDL 2.26 they run about 4 % fast with 512 frames and within
//   0.5 % with 1024, so those two get 1024 frames (23.2 ms).
//
// LIMITATIONS
//   - Latency inside the sound server or hardware after SDL's buffer is not
//     visible through SDL 2, so on a real device the reported position leads
//     what leaves the speakers by that much (typically a few milliseconds).
//   - One device at a time, always the default one.
//   - A new position waits for what SDL already holds (one buffer).
//
// DEPENDENCIES
//   SDL 2's audio subsystem, started here and quit on close; SDL_AUDIODRIVER,
//   when set, is obeyed (the disk driver writes to SDL_DISKAUDIOFILE). SDL's
//   reason for a failure goes to standard error: the program shows only the
//   library's error code.
#include <SDL2/SDL.h>

#include <cstring>

#include "audio/audio_output.h"
#include "audio/audio_streams.h"
#include "platform/audio_format.h"

namespace {

constexpr int kCardBufferFrames = 512;
constexpr int kTimerDriverBufferFrames = 1024;

// The output's state: the device while open, and the mixer's callback.
struct SdlOutput {
    SDL_AudioDeviceID device = 0;
    FillBuffer filler = nullptr;
};

SdlOutput SdlState;

void SDLCALL fill_device_buffer(void*, Uint8* out, int bytes) { SdlState.filler(out, bytes); }

bool open_sdl(FillBuffer fill, int* buffer_frames, std::string* said) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *said = SDL_GetError();
        return false;
    }

    const char* driver = SDL_GetCurrentAudioDriver();
    bool timer_paced =
        driver && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
    SDL_AudioSpec want = {};
    want.freq = kAudioRate;
    want.format = AUDIO_S16SYS;
    want.channels = kAudioChannels;
    want.samples = static_cast<Uint16>(timer_paced ? kTimerDriverBufferFrames : kCardBufferFrames);
    want.callback = fill_device_buffer;
    SDL_AudioSpec have = {};
    SdlState.filler = fill;
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        *said = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    SdlState.device = id;
    *buffer_frames = have.samples;
    *said = std::string("SDL (its ") + (driver ? driver : "default") + " driver)";
    return true;
}

void start_sdl() { SDL_PauseAudioDevice(SdlState.device, 0); }

void lock_sdl() { SDL_LockAudioDevice(SdlState.device); }

void unlock_sdl() { SDL_UnlockAudioDevice(SdlState.device); }

bool heard_sdl(int64_t now, double* frame) {
    *frame = heard_device_frame(audio_library().clock, now);
    return true;
}

void hurry_sdl() {}

void close_sdl() {
    SDL_AudioDeviceID id = SdlState.device;
    SdlState.device = 0;
    // Waits for the audio thread to end; the disk driver closes its file.
    SDL_CloseAudioDevice(id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

const AudioOutput kSdlOutput = {
    .open = open_sdl,
    .start = start_sdl,
    .lock = lock_sdl,
    .unlock = unlock_sdl,
    .close = close_sdl,
    .heard = heard_sdl,
    .hurry = hurry_sdl,
    .prepare = nullptr,
    .forget_prepared = nullptr,
    .drops_held = false,
    .heard_runs_on = false,
};

// audio_bench: figures for the audio library, printed one per line.
//
//   audio_bench [--quick] [track.mp3]
//
// Plays through SDL's disk driver (set here unless SDL_AUDIODRIVER is set),
// so it runs without a sound card; the device file goes to /dev/null.
//   create      stream creation with the full scan (median of 20), ms
//   decode_cpu  CPU of playing (all threads but the poller) minus the same
//               time of an idle device, in percent of one core
//   gap         worst distance between the reported position and the
//               elapsed time since the first position, ms; and the same
//               after removing the device's own rate error (a fitted line)
//   step        worst difference between one poll's position step and its
//               time step, ms (polled every 1-2 ms)
//   naive       gap and step for the position of the buffer start alone
//   device      the longest time between two buffers, to tell the device's
//               own stalls (a busy machine) from errors of the estimate
//   seek        time in BASS_ChannelSetPosition (median and worst), us,
//               and until the new position is heard, ms
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/audio_probe.h"
#include "config/presentation.h"
#include "platform/audio_format.h"
#include "platform/audio_library.h"
#include "support/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBytesPerSecond = kAudioBytesPerSecond;

double now_s() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

double cpu_seconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Sample {
    double t;
    double smooth;  // seconds of audio, BASS_ChannelGetPosition
    double naive;   // seconds of audio, start of the buffer being heard
};

struct Accuracy {
    double gap_ms, fitted_gap_ms, step_ms, rate_error_percent;
};

Accuracy accuracy(const std::vector<Sample>& samples, double Sample::*position) {
    Accuracy a{};
    if (samples.size() < 3) return a;
    const Sample& first = samples.front();
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        double x = s.t - first.t, y = s.*position - first.*position;
        a.gap_ms = std::max(a.gap_ms, std::abs(y - x) * 1000);
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    double n = static_cast<double>(samples.size());
    double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    double offset = (sy - slope * sx) / n;
    for (const Sample& s : samples) {
        double x = s.t - first.t, y = s.*position - first.*position;
        a.fitted_gap_ms = std::max(a.fitted_gap_ms, std::abs(y - (offset + slope * x)) * 1000);
    }
    for (size_t i = 1; i < samples.size(); ++i) {
        double dt = samples[i].t - samples[i - 1].t;
        double dp = samples[i].*position - samples[i - 1].*position;
        a.step_ms = std::max(a.step_ms, std::abs(dp - dt) * 1000);
    }
    a.rate_error_percent = (slope - 1.0) * 100;
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    const char* track = DEFAULT_TRACK;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            track = argv[i];
    }
    double play_seconds = quick ? 2.0 : 10.0;
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);

    std::vector<uint8_t> file = read_file(track);
    if (file.empty()) {
        std::fprintf(stderr, "audio_bench: cannot read %s\n", track);
        return 1;
    }
    if (!BASS_Init(-1, kAudioRate, 0, 0, nullptr)) {
        std::fprintf(stderr, "audio_bench: no audio device (error %d)\n", BASS_ErrorGetCode());
        return 1;
    }
    std::printf("track %s, %.1f MB; device buffer %d frames (%s driver)\n", track,
                file.size() / 1e6, audio_device_buffer_frames(), std::getenv("SDL_AUDIODRIVER"));

    // Stream creation: the full scan of the whole file.
    std::vector<double> create_ms;
    for (int i = 0; i < (quick ? 5 : 20); ++i) {
        double t0 = now_s();
        HSTREAM s = BASS_StreamCreateFile(TRUE, file.data(), 0, file.size(), BASS_STREAM_PRESCAN);
        create_ms.push_back((now_s() - t0) * 1000);
        if (!s) {
            std::fprintf(stderr, "audio_bench: not playable (error %d)\n", BASS_ErrorGetCode());
            return 1;
        }
        BASS_StreamFree(s);
    }
    std::printf("create      median %.2f ms, worst %.2f ms (target <= 15 ms)\n", median(create_ms),
                *std::max_element(create_ms.begin(), create_ms.end()));

    // The idle device, for the CPU baseline: same polling, nothing playing.
    HSTREAM stream = BASS_StreamCreateFile(TRUE, file.data(), 0, file.size(), BASS_STREAM_PRESCAN);
    auto run = [&](bool playing, std::vector<Sample>* samples) {
        double process0 = cpu_seconds(RUSAGE_SELF), poller0 = cpu_seconds(RUSAGE_THREAD);
        double t0 = now_s();
        if (playing) {
            BASS_ChannelPlay(stream, FALSE);
            BASS_ChannelSetPosition(stream, kAudioFrameBytes * uint64_t{kStartSampleFrame});
        }
        while (now_s() - t0 < play_seconds) {
            double t = now_s();
            QWORD smooth = BASS_ChannelGetPosition(stream);
            QWORD naive = audio_channel_buffer_position(stream);
            if (samples) samples->push_back({t, smooth / kBytesPerSecond, naive / kBytesPerSecond});
            std::this_thread::sleep_for(std::chrono::microseconds(1500));
        }
        double wall = now_s() - t0;
        double others =
            (cpu_seconds(RUSAGE_SELF) - process0) - (cpu_seconds(RUSAGE_THREAD) - poller0);
        return others / wall * 100;
    };
    double idle_cpu = run(false, nullptr);
    std::vector<Sample> samples;
    double busy_cpu = run(true, &samples);
    std::printf("decode_cpu  %.2f %% of one core (playing %.2f %%, idle device %.2f %%)\n",
                busy_cpu - idle_cpu, busy_cpu, idle_cpu);

    // Accuracy from the first poll at which sound is being heard.
    auto heard = std::find_if(samples.begin(), samples.end(),
                              [&](const Sample& s) { return s.naive > samples.front().naive; });
    std::vector<Sample> playing(heard, samples.end());
    Accuracy smooth = accuracy(playing, &Sample::smooth);
    Accuracy naive = accuracy(playing, &Sample::naive);
    std::printf(
        "gap         %.2f ms over %.0f s (%.2f ms around the device's own rate, which is %+.3f %%)"
        " (target <= 1 ms)\n",
        smooth.gap_ms, play_seconds, smooth.fitted_gap_ms, smooth.rate_error_percent);
    std::printf("step        %.2f ms worst, %zu polls (target <= 1 ms)\n", smooth.step_ms,
                playing.size());
    std::printf("naive       gap %.2f ms (%.2f ms fitted), step %.2f ms\n", naive.gap_ms,
                naive.fitted_gap_ms, naive.step_ms);
    // How regular the device itself was: on a busy machine its thread wakes
    // late, and no estimate can report sound that has not been played yet.
    double longest = 0, last_change = playing.empty() ? 0 : playing.front().t;
    for (size_t i = 1; i < playing.size(); ++i)
        if (playing[i].naive != playing[i - 1].naive) {
            longest = std::max(longest, playing[i].t - last_change);
            last_change = playing[i].t;
        }
    std::printf("device      longest wait between buffers %.1f ms (one buffer lasts %.1f ms)\n",
                longest * 1000, audio_device_buffer_frames() * 1000.0 / kAudioRate);

    // Seeks while playing: the call, and until the position moves on from
    // the new place (the first buffer from there has reached the device).
    std::vector<double> call_us, heard_ms;
    for (int i = 0; i < (quick ? 5 : 20); ++i) {
        QWORD target = static_cast<QWORD>(kAudioBytesPerSecond) * (10 + 7 * i);  // 10 s, 17 s, ...
        double t0 = now_s();
        BASS_ChannelSetPosition(stream, target);
        double t1 = now_s();
        call_us.push_back((t1 - t0) * 1e6);
        while (BASS_ChannelGetPosition(stream) == target && now_s() - t1 < 1.0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        heard_ms.push_back((now_s() - t0) * 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    std::printf(
        "seek        call median %.1f us, worst %.1f us; heard after median %.1f ms, worst %.1f "
        "ms\n",
        median(call_us), *std::max_element(call_us.begin(), call_us.end()), median(heard_ms),
        *std::max_element(heard_ms.begin(), heard_ms.end()));
    BASS_StreamFree(stream);
    BASS_Free();
    return 0;
}

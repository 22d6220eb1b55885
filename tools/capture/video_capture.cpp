#include "video_capture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "capture_audio.h"
#include "capture_files.h"
#include "capture_progress.h"
#include "encoder_process.h"
#include "frame_clock.h"
#include "offscreen_gl.h"
#include "timeline/timeline_position.h"
#include "video/scene.h"
#include "video_format.h"
#include "yuv_frame.h"

namespace {

// About as much as the pipe to the encoder holds.
constexpr size_t kBandBytes = 1 << 20;

// The signal that asked the capture to stop, or 0.
volatile sig_atomic_t StopSignal = 0;

void on_stop_signal(int signal) { StopSignal = signal; }

struct SignalSet {
    struct sigaction interrupt, terminate, pipe;
};

// SIGINT and SIGTERM only set StopSignal, without SA_RESTART, so a write
// blocked on a full pipe returns and the loops see it. SIGPIPE is ignored:
// an encoder that has gone shows as EPIPE on the next write.
SignalSet catch_signals() {
    StopSignal = 0;
    SignalSet before{};
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, &before.interrupt);
    sigaction(SIGTERM, &stop, &before.terminate);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &before.pipe);
    return before;
}

void restore_signals(const SignalSet& before) {
    sigaction(SIGINT, &before.interrupt, nullptr);
    sigaction(SIGTERM, &before.terminate, nullptr);
    sigaction(SIGPIPE, &before.pipe, nullptr);
}

// The sound, fed to the encoder on a thread of its own: the encoder takes
// frames and samples as it needs them, and either pipe may be full while the
// other waits.
struct AudioFeed {
    const uint8_t* music;
    uint32_t music_size;
    SampleRange range;
    int* fd;
    bool ok;
    char error[256];
};

bool to_pipe(void* target, const int16_t* samples, uint64_t frames, char* error,
             size_t error_size) {
    const int fd = *static_cast<int*>(target);
    if (write_all(fd, samples, frames * 4, &StopSignal)) return true;
    std::snprintf(error, error_size, "the encoder took no more sound: %s", std::strerror(errno));
    return false;
}

void feed_audio(AudioFeed* feed) {
    uint64_t from_music = 0;
    feed->ok = decode_capture_audio(feed->music, feed->music_size, feed->range.first,
                                    feed->range.count, AudioSink{to_pipe, feed->fd}, &from_music,
                                    feed->error, sizeof feed->error);
    // The end of the sound for the encoder.
    close_fd(feed->fd);
}

// Sends one drawn frame: as yuv420p converted here, or as the BGRA rows read
// back (for FFV1, which keeps RGB). Both a band of rows at a time, so that
// no whole frame of pixels is ever held. false when the encoder no longer
// reads or a stop was asked for.
bool send_frame(int fd, std::vector<uint8_t>* pixels, int band, YuvFrame* yuv) {
    const int height = OffscreenGl.height;
    const size_t row_bytes = static_cast<size_t>(OffscreenGl.width) * 4;
    for (int row = 0; row < height; row += band) {
        const int rows = std::min(band, height - row);
        if (!yuv) {
            read_rows(pixels->data(), row, rows, PixelOrder::kBgra);
            if (!write_all(fd, pixels->data(), row_bytes * rows, &StopSignal)) return false;
            continue;
        }
        // From the top down, as the Y plane goes out.
        read_rows(pixels->data(), height - row - rows, rows, PixelOrder::kBgra);
        convert_band(yuv, pixels->data(), row, rows);
        if (!write_all(fd, yuv->luma.data(), static_cast<size_t>(yuv->width) * rows, &StopSignal)) {
            return false;
        }
    }
    return !yuv || write_all(fd, yuv->chroma.data(), yuv->chroma.size(), &StopSignal);
}

// Draws and sends every frame; false when the encoder stopped reading or a
// stop was asked for.
bool feed_frames(const CaptureOptions& options, int fd, bool as_yuv) {
    const size_t row_bytes = static_cast<size_t>(OffscreenGl.width) * 4;
    // An even number of rows, for the 2 x 2 blocks of yuv420p.
    const int band = std::max(2, static_cast<int>(kBandBytes / row_bytes) & ~1);
    std::vector<uint8_t> pixels(row_bytes * static_cast<size_t>(band));
    YuvFrame yuv = as_yuv ? make_yuv_frame(OffscreenGl.width, OffscreenGl.height, band)
                          : YuvFrame{0, 0, {}, {}};
    CaptureProgress progress = start_progress(options.frames);
    for (uint64_t k = 0; k < options.frames && !StopSignal; ++k) {
        TimelinePosition = static_cast<uint32_t>(frame_position(options.start, k, options.fps));
        draw_frame();
        if (!send_frame(fd, &pixels, band, as_yuv ? &yuv : nullptr)) {
            break_progress_line(&progress);
            return false;
        }
        show_progress(&progress, k + 1);
    }
    break_progress_line(&progress);
    return !StopSignal;
}

const char* signal_name(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

int fail(const std::string& message) {
    std::fprintf(stderr, "velkorandi-capture: %s\n", message.c_str());
    return 1;
}

double cpu_seconds(const struct rusage& usage) {
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long long file_size(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

}  // namespace

int capture_video(const CaptureOptions& options, const std::string& ffmpeg, const uint8_t* music,
                  uint32_t music_size) {
    char error[1024];
    const std::string final = options.out;
    if (!make_folder(folder_of(final).c_str(), error, sizeof error)) return fail(error);
    // From here on a stop is ours to handle, so that no partial file is left.
    const SignalSet signals = catch_signals();
    std::string partial;
    if (!make_partial_file(final, &partial, error, sizeof error)) {
        restore_signals(signals);
        return fail(error);
    }

    const std::string path = "file:" + partial;  // never read as another protocol
    // The lossy encoders get yuv420p made here; FFV1 gets the pixels as read.
    const bool as_yuv = std::strcmp(encoder_pixel_format(options.codec), "yuv420p") == 0;
    const EncodeJob job{options.kind,
                        options.codec,
                        options.crf,
                        options.preset,
                        OffscreenGl.width,
                        OffscreenGl.height,
                        options.fps,
                        as_yuv ? "yuv420p" : "bgra",
                        kEncoderVideoFd,
                        kEncoderAudioFd,
                        std::endian::native == std::endian::little ? "s16le" : "s16be",
                        path.c_str()};
    EncoderProcess encoder;
    if (!start_encoder(ffmpeg, encoder_arguments(job), &encoder, error, sizeof error)) {
        restore_signals(signals);
        std::remove(partial.c_str());
        return fail(error);
    }
    const VideoFormat& format = video_format(options.kind);
    std::printf("encoding %s with %s (%s)\n", final.c_str(), ffmpeg.c_str(), format.label);

    AudioFeed feed{music,
                   music_size,
                   capture_samples(options.start, options.frames, options.fps),
                   &encoder.audio_fd,
                   false,
                   ""};
    std::thread audio(feed_audio, &feed);
    const bool frames_sent = feed_frames(options, encoder.video_fd, as_yuv);
    // Whatever went wrong, the encoder goes, so that the sound thread's
    // writes end too.
    if (!frames_sent || StopSignal) kill_encoder(encoder);
    close_fd(&encoder.video_fd);
    audio.join();
    struct rusage usage {};
    std::string log;
    const int status = finish_encoder(&encoder, &StopSignal, &usage, &log);
    const int stopped = StopSignal;
    restore_signals(signals);

    const bool encoded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (stopped || !encoded || !feed.ok) std::remove(partial.c_str());
    if (stopped) {
        std::fprintf(stderr, "velkorandi-capture: stopped by %s; no video was written\n",
                     signal_name(stopped));
        return 128 + stopped;
    }
    if (!encoded) {
        const std::string how = WIFEXITED(status)
                                    ? "exit status " + std::to_string(WEXITSTATUS(status))
                                    : "signal " + std::to_string(WTERMSIG(status));
        return fail("ffmpeg could not write " + final + " (" + how + "): " + log_tail(log, 3));
    }
    if (!feed.ok) return fail(feed.error);
    if (std::rename(partial.c_str(), final.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(partial.c_str());
        return fail("cannot put the video in place as " + final + ": " + reason);
    }
    struct rusage own {};
    getrusage(RUSAGE_SELF, &own);
    std::printf("wrote %s: %llu frames of %dx%d at %u fps with their sound, %.1f MB\n",
                final.c_str(), static_cast<unsigned long long>(options.frames), OffscreenGl.width,
                OffscreenGl.height, options.fps, static_cast<double>(file_size(final)) / 1e6);
    // What each side cost, for whoever wants to know which one limits.
    std::printf(
        "peak memory: velkorandi-capture %.1f MiB, ffmpeg %.1f MiB; processor time: "
        "velkorandi-capture %.2f s, ffmpeg %.2f s\n",
        static_cast<double>(own.ru_maxrss) / 1024.0, static_cast<double>(usage.ru_maxrss) / 1024.0,
        cpu_seconds(own), cpu_seconds(usage));
    return 0;
}

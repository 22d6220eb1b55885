// music-maker: writes the presentation's music as an MP3, synthesised here
// from nothing but code, or a test signal for the audio tests.
//
//   music-maker OUT.mp3
//   music-maker --test-signal SECONDS RATE CHANNELS KBPS OUT.mp3
//
// Both are deterministic: the same command writes the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/presentation.h"
#include "mp3_encoder.h"
#include "synth.h"
#include "test_signal.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: music-maker OUT.mp3\n"
                 "       music-maker --test-signal SECONDS RATE CHANNELS KBPS OUT.mp3\n");
    return 2;
}

bool write_file(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "music-maker: cannot write %s\n", path);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) std::fprintf(stderr, "music-maker: writing %s failed\n", path);
    return ok;
}

bool parse_number(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != 0 || !(v >= low && v <= high)) return false;
    *value = v;
    return true;
}

int test_signal(char** args) {
    double seconds, rate, channels, kbps;
    if (!parse_number(args[0], 0.01, 3600, &seconds) ||
        !parse_number(args[1], 8000, 48000, &rate) || !parse_number(args[2], 1, 2, &channels) ||
        !parse_number(args[3], 8, 320, &kbps)) {
        std::fprintf(stderr, "music-maker: bad test signal parameters\n");
        return usage();
    }
    std::vector<int16_t> pcm;
    make_test_signal(seconds, static_cast<int>(rate), static_cast<int>(channels), &pcm);
    std::vector<uint8_t> mp3;
    int64_t frames = static_cast<int64_t>(pcm.size()) / static_cast<int>(channels);
    if (!encode_mp3(pcm.data(), frames, static_cast<int>(rate), static_cast<int>(channels),
                    static_cast<int>(kbps), &mp3)) {
        std::fprintf(stderr, "music-maker: LAME refused %g Hz, %g channels, %g kbps\n", rate,
                     channels, kbps);
        return 1;
    }
    return write_file(args[4], mp3) ? 0 : 1;
}

int music(const char* path) {
    std::vector<int16_t> pcm;
    render_music(&pcm);
    int64_t frames = static_cast<int64_t>(pcm.size() / 2);
    std::vector<uint8_t> mp3;
    if (!encode_mp3(pcm.data(), frames, kAudioRate, 2, 192, &mp3)) {
        std::fprintf(stderr, "music-maker: LAME refused the encoding parameters\n");
        return 1;
    }
    if (!write_file(path, mp3)) return 1;
    // The part the presentation plays, from its start offset on, and the whole.
    std::vector<int16_t> shown(pcm.begin() + std::min<int64_t>(kStartSampleFrame, frames) * 2,
                               pcm.end());
    double peak, rms, shown_peak, shown_rms;
    measure_levels(pcm, &peak, &rms);
    measure_levels(shown, &shown_peak, &shown_rms);
    std::printf(
        "%s: %.1f s, %zu bytes at 192 kbps; peak %.1f dBFS, RMS %.1f dBFS "
        "(from 60.6 s: peak %.1f, RMS %.1f)\n",
        path, static_cast<double>(frames) / kAudioRate, mp3.size(), peak, rms, shown_peak,
        shown_rms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--test-signal") == 0) return test_signal(argv + 2);
    if (argc == 2 && argv[1][0] != '-') return music(argv[1]);
    return usage();
}

// decode_pcx against SDL2_image's PCX loader plus the conversion to 32-bit
// pixels that a GL upload needs, on the same 1024 x 1024 files (one plane
// with a palette, and three planes). The pictures mix gradients, which
// encode as single bytes, with flat areas, which encode as runs.
//
// decode_pcx prints one console line per picture through the standard-streams
// platform. Standard output carries the benchmark's report, so while ours
// decodes it is sent to /dev/null; the write stays in the timed region, as it
// is part of what decoding a picture costs the program.
#include <SDL.h>
#include <SDL_image.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pcx_writer.h"
#include "resources/pcx.h"

namespace {

constexpr uint32_t kSide = 1024;

uint8_t sample(uint32_t x, uint32_t y, int channel) {
    uint32_t band = (y / 64) % 4;
    if (band == 0) return uint8_t(x + y + channel * 40);                 // gradient
    if (band == 1) return uint8_t((x / 48) * 37 + channel * 90);         // flat runs
    if (band == 2) return uint8_t(((x / 4) ^ (y / 4)) * (channel + 3));  // short runs
    return uint8_t((x * 3 + channel * 70) / 5 +
                   ((x & 31) < 9 ? 200 : 0));  // ramps with bright steps
}

const std::vector<uint8_t>& file(int planes) {
    static std::vector<uint8_t> files[4];
    std::vector<uint8_t>& out = files[planes];
    if (!out.empty()) return out;
    if (planes == 1) {
        std::vector<uint8_t> indices(kSide * kSide);
        uint8_t palette[768];
        for (int k = 0; k < 256; ++k)
            palette[k * 3] = uint8_t(k), palette[k * 3 + 1] = uint8_t(255 - k),
                        palette[k * 3 + 2] = uint8_t(k * 7);
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) indices[y * kSide + x] = sample(x, y, 0);
        out = encode_pcx_indexed(kSide, kSide, indices.data(), palette);
    } else {
        std::vector<uint8_t> rgb(kSide * kSide * 3);
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x)
                for (int c = 0; c < 3; ++c) rgb[(y * kSide + x) * 3 + c] = sample(x, y, c);
        out = encode_pcx_rgb(kSide, kSide, rgb.data());
    }
    return out;
}

// While it lives, what is written to standard output is dropped.
struct QuietStandardOutput {
    int saved = -1;

    QuietStandardOutput() {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0) return;
        saved = dup(STDOUT_FILENO);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStandardOutput() {
        if (saved < 0) return;
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
};

SDL_Surface* sdl_decode(const std::vector<uint8_t>& pcx) {
    SDL_RWops* rw = SDL_RWFromConstMem(pcx.data(), static_cast<int>(pcx.size()));
    SDL_Surface* loaded = IMG_LoadPCX_RW(rw);
    SDL_RWclose(rw);
    if (!loaded) return nullptr;
    SDL_Surface* converted = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    return converted;
}

// Both decoders must agree before their speed means anything.
void check_same_pixels(int planes) {
    const std::vector<uint8_t>& pcx = file(planes);
    std::vector<uint32_t> ours(kSide * kSide + 1);
    PcxImage image{};
    image.pixels = ours.data();
    {
        QuietStandardOutput quiet;
        decode_pcx(&image, pcx.data(), uint32_t(pcx.size()), uint32_t(ours.size()));
    }
    SDL_Surface* theirs = sdl_decode(pcx);
    if (!theirs) {
        std::fprintf(stderr, "SDL2_image cannot load the %d-plane file: %s\n", planes,
                     SDL_GetError());
        std::exit(1);
    }
    for (uint32_t y = 0; y < kSide; ++y) {
        auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(theirs->pixels) +
                                                      y * theirs->pitch);
        for (uint32_t x = 0; x < kSide; ++x)
            if ((row[x] & 0xFFFFFF) != (ours[y * kSide + x] & 0xFFFFFF)) {
                std::fprintf(stderr, "%d planes: pixel %u,%u differs: %06x vs %06x\n", planes, x, y,
                             row[x] & 0xFFFFFF, ours[y * kSide + x] & 0xFFFFFF);
                std::exit(1);
            }
    }
    SDL_FreeSurface(theirs);
}

void BM_decode_pcx(benchmark::State& state) {
    const int planes = static_cast<int>(state.range(0));
    const std::vector<uint8_t>& pcx = file(planes);
    std::vector<uint32_t> pixels(kSide * kSide + 1);
    PcxImage image{};
    image.pixels = pixels.data();
    QuietStandardOutput quiet;
    for (auto _ : state) {
        decode_pcx(&image, pcx.data(), uint32_t(pcx.size()), uint32_t(pixels.size()));
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pcx.size()));
    state.counters["file_bytes"] = double(pcx.size());
}

void BM_sdl_image_to_argb(benchmark::State& state) {
    const std::vector<uint8_t>& pcx = file(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        SDL_Surface* surface = sdl_decode(pcx);
        benchmark::DoNotOptimize(surface);
        SDL_FreeSurface(surface);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pcx.size()));
}

BENCHMARK(BM_decode_pcx)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sdl_image_to_argb)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    check_same_pixels(1);
    check_same_pixels(3);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

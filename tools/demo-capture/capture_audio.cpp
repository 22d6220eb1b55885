#include "capture_audio.h"

#include <cstdio>
#include <vector>

#include "audio/mp3_stream.h"
#include "wav_writer.h"

namespace {

const char* mp3_problem(int result) {
    switch (result) {
        case kMp3NoMemory:
            return "out of memory";
        case kMp3NotMp3:
            return "it holds no MPEG audio";
        case kMp3BadFormat:
            return "it cannot be decoded to 16-bit stereo at 44100 Hz";
        case kMp3SeekFailed:
            return "seeking failed";
        default:
            return "decoding failed";
    }
}

}  // namespace

bool write_capture_audio(const uint8_t* data, uint32_t size, uint64_t first, uint64_t count,
                         const char* path, uint64_t* music_frames, char* error, size_t error_size) {
    *music_frames = 0;
    Mp3Stream stream;
    const int opened = mp3_open(&stream, data, size);
    if (opened != kMp3Ok) {
        std::snprintf(error, error_size, "the music entry of the pack cannot be played: %s",
                      mp3_problem(opened));
        return false;
    }
    WavFile wav;
    if (!wav_open(&wav, path, count, error, error_size)) {
        mp3_close(&stream);
        return false;
    }
    // A start beyond the music is all silence; otherwise decode from there.
    const uint64_t length = stream.length > 0 ? static_cast<uint64_t>(stream.length) : 0;
    if (first < length) {
        const int sought = mp3_seek(&stream, static_cast<int64_t>(first));
        if (sought != kMp3Ok) {
            std::snprintf(error, error_size, "cannot seek the music to sample frame %llu: %s",
                          static_cast<unsigned long long>(first), mp3_problem(sought));
            std::fclose(wav.file);
            std::remove(path);
            mp3_close(&stream);
            return false;
        }
        constexpr int64_t kChunk = 16384;
        std::vector<int16_t> samples(static_cast<size_t>(kChunk) * 2);
        uint64_t left = count;
        while (left > 0) {
            const int64_t want =
                left < static_cast<uint64_t>(kChunk) ? static_cast<int64_t>(left) : kChunk;
            const int64_t got = mp3_read(&stream, samples.data(), want);
            if (got <= 0) break;
            if (!wav_write(&wav, samples.data(), static_cast<uint64_t>(got), error, error_size)) {
                std::remove(path);
                mp3_close(&stream);
                return false;
            }
            *music_frames += static_cast<uint64_t>(got);
            left -= static_cast<uint64_t>(got);
        }
    }
    mp3_close(&stream);
    return wav_close(&wav, error, error_size);
}

#include "capture_audio.h"

#include <cstdio>
#include <vector>

#include "audio/mp3_stream.h"
#include "wav_writer.h"

namespace {

constexpr int64_t kChunk = 16384;  // sample frames decoded at a time

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

// The music from first on, until it ends or count frames are given.
bool decode_music(Mp3Stream* stream, uint64_t first, uint64_t count, AudioSink sink,
                  uint64_t* music_frames, char* error, size_t error_size) {
    const uint64_t length = stream->length > 0 ? static_cast<uint64_t>(stream->length) : 0;
    if (first >= length) return true;
    const int sought = mp3_seek(stream, static_cast<int64_t>(first));
    if (sought != kMp3Ok) {
        std::snprintf(error, error_size, "cannot seek the music to sample frame %llu: %s",
                      static_cast<unsigned long long>(first), mp3_problem(sought));
        return false;
    }
    std::vector<int16_t> samples(static_cast<size_t>(kChunk) * 2);
    while (*music_frames < count) {
        const uint64_t left = count - *music_frames;
        const int64_t want =
            left < static_cast<uint64_t>(kChunk) ? static_cast<int64_t>(left) : kChunk;
        const int64_t got = mp3_read(stream, samples.data(), want);
        if (got <= 0) break;
        if (!sink.write(sink.target, samples.data(), static_cast<uint64_t>(got), error,
                        error_size)) {
            return false;
        }
        *music_frames += static_cast<uint64_t>(got);
    }
    return true;
}

bool to_wav(void* target, const int16_t* samples, uint64_t frames, char* error, size_t error_size) {
    return wav_write(static_cast<WavFile*>(target), samples, frames, error, error_size);
}

}  // namespace

bool decode_capture_audio(const uint8_t* data, uint32_t size, uint64_t first, uint64_t count,
                          AudioSink sink, uint64_t* music_frames, char* error, size_t error_size) {
    *music_frames = 0;
    Mp3Stream stream;
    const int opened = mp3_open(&stream, data, size);
    if (opened != kMp3Ok) {
        std::snprintf(error, error_size, "the music entry of the pack cannot be played: %s",
                      mp3_problem(opened));
        return false;
    }
    const bool decoded = decode_music(&stream, first, count, sink, music_frames, error, error_size);
    mp3_close(&stream);
    if (!decoded) return false;
    const std::vector<int16_t> silence(static_cast<size_t>(kChunk) * 2, 0);
    for (uint64_t given = *music_frames; given < count;) {
        const uint64_t run = count - given < static_cast<uint64_t>(kChunk) ? count - given : kChunk;
        if (!sink.write(sink.target, silence.data(), run, error, error_size)) return false;
        given += run;
    }
    return true;
}

bool write_capture_audio(const uint8_t* data, uint32_t size, uint64_t first, uint64_t count,
                         const char* path, uint64_t* music_frames, char* error, size_t error_size) {
    *music_frames = 0;
    WavFile wav;
    if (!wav_open(&wav, path, count, error, error_size)) return false;
    if (!decode_capture_audio(data, size, first, count, AudioSink{to_wav, &wav}, music_frames,
                              error, error_size)) {
        if (wav.file) std::fclose(wav.file);  // wav_write closes it when it fails
        std::remove(path);
        return false;
    }
    return wav_close(&wav, error, error_size);
}

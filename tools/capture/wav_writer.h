// A WAV file of 16-bit stereo PCM at 44100 Hz, written in pieces.
//
// The length is fixed when the file is opened, so the header is right from
// the start and a capture's sound is exactly as long as its frames even when
// the music ends before them (the rest is filled with silence).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t kWavRate = 44100;
constexpr uint32_t kWavFrameBytes = 4;  // two 16-bit channels

struct WavFile {
    FILE* file;
    uint64_t frames_expected;
    uint64_t frames_written;
};

// The header is 44 bytes; a file must stay below 4 GiB.
bool wav_open(WavFile* wav, const char* path, uint64_t sample_frames, char* error,
              size_t error_size);
// Interleaved little-endian samples; at most what remains of the length is kept.
bool wav_write(WavFile* wav, const int16_t* samples, uint64_t sample_frames, char* error,
               size_t error_size);
// Pads with silence up to the length given to wav_open and closes the file.
bool wav_close(WavFile* wav, char* error, size_t error_size);

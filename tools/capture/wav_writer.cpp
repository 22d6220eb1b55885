#include "wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    put16(at, value & 0xFFFFu);
    put16(at + 2, value >> 16);
}

bool write_failed(WavFile* wav, char* error, size_t error_size) {
    std::snprintf(error, error_size, "cannot write the sound file: %s", std::strerror(errno));
    std::fclose(wav->file);
    wav->file = nullptr;
    return false;
}

}  // namespace

bool wav_open(WavFile* wav, const char* path, uint64_t sample_frames, char* error,
              size_t error_size) {
    *wav = WavFile{nullptr, sample_frames, 0};
    const uint64_t data_bytes = sample_frames * kWavFrameBytes;
    if (data_bytes > UINT32_MAX - 36) {
        std::snprintf(error, error_size, "the sound would not fit a WAV file (4 GiB at most)");
        return false;
    }
    wav->file = std::fopen(path, "wb");
    if (!wav->file) {
        std::snprintf(error, error_size, "cannot create %s: %s", path, std::strerror(errno));
        return false;
    }
    uint8_t header[44];
    std::copy_n("RIFF", 4, header);
    put32(header + 4, static_cast<uint32_t>(36 + data_bytes));
    std::copy_n("WAVEfmt ", 8, header + 8);
    put32(header + 16, 16);  // size of the format chunk
    put16(header + 20, 1);   // integer PCM
    put16(header + 22, 2);   // channels
    put32(header + 24, kWavRate);
    put32(header + 28, kWavRate * kWavFrameBytes);
    put16(header + 32, kWavFrameBytes);
    put16(header + 34, 16);
    std::copy_n("data", 4, header + 36);
    put32(header + 40, static_cast<uint32_t>(data_bytes));
    if (std::fwrite(header, 1, sizeof header, wav->file) != sizeof header) {
        return write_failed(wav, error, error_size);
    }
    return true;
}

bool wav_write(WavFile* wav, const int16_t* samples, uint64_t sample_frames, char* error,
               size_t error_size) {
    const uint64_t room = wav->frames_expected - wav->frames_written;
    if (sample_frames > room) sample_frames = room;
    // Written byte by byte in little-endian order whatever the machine's order.
    std::vector<uint8_t> bytes(static_cast<size_t>(sample_frames) * kWavFrameBytes);
    for (size_t i = 0; i < sample_frames * 2; ++i) {
        put16(&bytes[i * 2], static_cast<uint16_t>(samples[i]));
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), wav->file) != bytes.size()) {
        return write_failed(wav, error, error_size);
    }
    wav->frames_written += sample_frames;
    return true;
}

bool wav_close(WavFile* wav, char* error, size_t error_size) {
    const std::vector<int16_t> silence(size_t{4096} * 2, 0);
    while (wav->frames_written < wav->frames_expected) {
        const uint64_t left = wav->frames_expected - wav->frames_written;
        if (!wav_write(wav, silence.data(), left < 4096 ? left : 4096, error, error_size)) {
            return false;
        }
    }
    const bool closed = std::fclose(wav->file) == 0;
    wav->file = nullptr;
    if (!closed) {
        std::snprintf(error, error_size, "cannot finish the sound file: %s", std::strerror(errno));
    }
    return closed;
}

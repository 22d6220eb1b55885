// Decoding an MP3 held in memory to 16-bit stereo PCM at 44100 Hz, with
// sample-exact lengths and seeks: the core the audio library plays from, and
// what a tool uses to write exactly the audio the program would play.
//
// The memory stays the caller's: it is read in place, never copied whole and
// never freed, and must outlive the stream. Any MP3 libmpg123 can decode is
// accepted. Decoding is gapless (the encoder's delay and padding are cut), so
// frame 0 is the first sample of the source. Mono is decoded as mono and
// doubled to both channels. Other rates (22050, 48000, ...) are decoded at their own rate and
// resampled here to 44100 Hz by cubic interpolation: libmpg123's own
// resampler gives up gapless lengths and exact seeks, which this one keeps
// (output frame k is always computed from the same source frames around
// k × rate / 44100, however it was reached).
//
// A stream whose sample rate changes part-way (files glued together) ends
// where the change comes. One stream is used by one thread at a time, and
// does not move in memory while open (libmpg123 reads through its address).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/audio_format.h"

struct mpg123_handle_struct;

struct Mp3Stream {
    mpg123_handle_struct* decoder = nullptr;
    const uint8_t* data = nullptr;  // the caller's bytes
    size_t size = 0;
    size_t cursor = 0;       // read position of libmpg123 within data
    int64_t length = 0;      // in sample frames of 44100 Hz, after a full scan
    int64_t next_frame = 0;  // the frame the next read delivers
    // The source's own rate and length; for a source at another rate than
    // 44100, a run of decoded source frames starting at window_start.
    long source_rate = kAudioRate;
    int source_channels = 2;
    int64_t source_length = 0;
    int64_t window_start = 0;
    std::vector<int16_t> window;
    bool source_ended = false;
};

enum Mp3Result {
    kMp3Ok = 0,
    kMp3NoMemory = -1,
    kMp3NotMp3 = -2,     // no MPEG audio frames found, or nothing to decode
    kMp3BadFormat = -3,  // libmpg123 cannot deliver 16-bit samples from it
    kMp3SeekFailed = -4,
};

// Opens the stream and scans it whole, so that length is exact and every
// seek lands on the sample. On failure the stream is left closed.
int mp3_open(Mp3Stream* stream, const void* data, size_t size);
// Moves to a sample frame in 0..length; the next read starts there.
int mp3_seek(Mp3Stream* stream, int64_t frame);
// Decodes up to `frames` sample frames into out (4 bytes each) and returns how
// many it wrote: fewer only at the end of the stream (or where damaged data
// ends decoding early).
int64_t mp3_read(Mp3Stream* stream, int16_t* out, int64_t frames);
void mp3_close(Mp3Stream* stream);

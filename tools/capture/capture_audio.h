// The sound of a capture: the music of the pack decoded by the same MP3
// stream code the audio library plays from, cut to exactly the sample frames
// the captured pictures span, as a WAV file or into any other sink.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the sound goes, a run of sample frames at a time: interleaved 16-bit
// stereo at 44100 Hz in the machine's order. A sink that returns false stops
// the decoding, with its reason in error.
struct AudioSink {
    bool (*write)(void* target, const int16_t* samples, uint64_t frames, char* error,
                  size_t error_size);
    void* target;
};

// Decodes sample frames first .. first + count - 1 of the MP3 in data into
// sink. What lies past the end of the music is given as silence, so the sink
// always gets count frames; *music_frames says how many came from the music.
bool decode_capture_audio(const uint8_t* data, uint32_t size, uint64_t first, uint64_t count,
                          AudioSink sink, uint64_t* music_frames, char* error, size_t error_size);

// The same into a WAV file at path, which is removed again on failure.
bool write_capture_audio(const uint8_t* data, uint32_t size, uint64_t first, uint64_t count,
                         const char* path, uint64_t* music_frames, char* error, size_t error_size);

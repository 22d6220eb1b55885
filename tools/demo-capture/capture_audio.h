// The sound of a capture: the music of the pack decoded by the same MP3
// stream code the audio library plays from, cut to exactly the sample frames
// the captured pictures span, written as a WAV file.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes sample frames first .. first + count - 1 of the MP3 in data. What
// lies past the end of the music is written as silence, so the file always
// holds count frames; *music_frames says how many came from the music.
bool write_capture_audio(const uint8_t* data, uint32_t size, uint64_t first, uint64_t count,
                         const char* path, uint64_t* music_frames, char* error, size_t error_size);

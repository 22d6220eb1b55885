// Opens arbitrary bytes as an MP3 stream the way the audio library does
// (whole scan, exact length), then seeks and decodes a little from a few
// places. Nothing may read outside the bytes or hang; a stream that opens
// must deliver no more frames than its length says.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/mp3_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copy into a buffer of exactly that size, so any overread is caught.
    std::vector<uint8_t> bytes(data, data + size);
    Mp3Stream stream;
    if (mp3_open(&stream, bytes.data(), bytes.size()) != kMp3Ok) return 0;
    if (stream.length < 0) std::abort();
    int16_t pcm[2 * 1152];
    int64_t total = 0;
    for (int i = 0; i < 4; ++i) {
        int64_t got = mp3_read(&stream, pcm, 1152);
        if (got < 0 || got > 1152) std::abort();
        total += got;
    }
    if (total > stream.length) std::abort();
    const int64_t places[] = {stream.length / 2, stream.length, 0};
    for (int64_t frame : places) {
        if (mp3_seek(&stream, frame) == kMp3Ok) {
            int64_t got = mp3_read(&stream, pcm, 1152);
            if (got < 0 || frame + got > stream.length) std::abort();
        }
    }
    mp3_close(&stream);
    return 0;
}

// Encoding 16-bit PCM to MP3 with libmp3lame, constant bit rate, with the
// LAME tag that tells decoders the encoder delay and padding, so that a
// gapless decoder returns exactly the samples that went in.
#pragma once

#include <cstdint>
#include <vector>

// samples: interleaved, `channels` (1 or 2) per sample frame. Returns false
// when LAME refuses the parameters. Same input, same bytes out.
bool encode_mp3(const int16_t* samples, int64_t frames, int rate, int channels, int kbps,
                std::vector<uint8_t>* out);

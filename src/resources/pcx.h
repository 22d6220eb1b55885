// PCX pictures of the resource pack, decoded into a caller's buffer of
// 32-bit pixel words (see pcx_decoder.h for the layout and the bounds),
// with the program's reporting:
//   console  "[pcx img: WxH 24]\n" for every picture, even an empty one
//   box      "decode_pcx: picture of N bytes refused: <fault>" for a picture
//            the decoder refuses, followed by " (entry `up` of blob.dat)"
//            when the picture came from the pack
#pragma once

#include <cstdint>

#include "resources/pcx_decoder.h"

// capacity: the number of pixel words image->pixels has room for. entry: the
// pack entry's name for the box (see entry_label), or null.
void decode_pcx(PcxImage* image, const uint8_t* data, uint32_t size, uint32_t capacity,
                const char* entry = nullptr);

// The reporting alone, for a picture decoded with decode_pcx_pixels.
void report_pcx(const PcxImage& image, PcxFault fault, uint32_t size, const char* entry = nullptr);

// Takes the next pack entry (the name is passed on and ignored there),
// decodes it into image and gives the entry back. Returns 0.
int load_picture(const char* name, PcxImage* image, uint32_t capacity);

// The short name a user knows an entry by: "pool/up.pcx" gives "up".
const char* entry_label(const char* name, char (&out)[64]);

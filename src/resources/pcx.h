// PCX pictures of the resource pack, decoded into a caller's buffer of
// 32-bit pixel words (see pcx_decoder.h for the layout and the bounds),
// with the program's reporting:
//   console  "[pcx img: WxH 24]\n" for every picture, even an empty one
//   box      "%i / %i " (palette end, entry size) when a one-plane
//            picture's palette does not end exactly at the end of the entry,
//            and a box naming the fault for a header the decoder refuses
#pragma once

#include <cstdint>

#include "resources/pcx_decoder.h"

// capacity: the number of pixel words image->pixels has room for.
void decode_pcx(PcxImage* image, const uint8_t* data, uint32_t size, uint32_t capacity);

// Takes the next pack entry (the name is passed on and ignored there),
// decodes it into image and gives the entry back. Returns 0.
int load_picture(const char* name, PcxImage* image, uint32_t capacity);

// The five textures made from the pack's pictures, rebuilt in every new GL
// context.
//
// build_textures takes the next five pack entries (up, down, demo2, trevak,
// mono), decodes each into one 4 MiB working buffer, turns it into texels
// in place and uploads it as an RGBA texture:
//   all five        negate_colours: colour negative with alpha 0, and every
//                   pure green (red 0, blue 0, green not 0) fully transparent
//                   black; prints " range [min,max] \n" of the channels
//   trevak, mono    then grey_to_alpha: grey 255 - red with alpha red
// Each texture has linear filtering and no mipmaps; the last one stays bound
// and texturing is not enabled. Any GL error pending after the last upload
// is reported as "build_textures() errors\n".
//
// A picture larger than the working buffer is refused with a box; like a
// picture the decoder refused (a box naming the entry), it gets an empty
// texture: one texel, black with alpha 255. Empty means transparent in the
// scene: drawn as the panel it shows the colour around the panel (the frame
// is inverted last), drawn as an overlay it keeps the frame as it is. So a
// bad picture is missing from the presentation, which goes on otherwise
// unchanged, rather than covering what lies behind it. A failed allocation
// of the buffer is reported and leaves every name 0; the five entries are
// still taken, so the music stays the next one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resources/pcx_decoder.h"

struct TextureSetRecord {
    uint32_t pictures[3];  // kUpPicture, kDownPicture, kDemo2Picture, in that order
    uint32_t trevakPicture;
    uint32_t monoPicture;
};

enum PictureSlot { kUpPicture = 0, kDownPicture = 1, kDemo2Picture = 2 };

extern TextureSetRecord TextureSet;

// 4,194,304 bytes: room for 1,048,576 pixel words.
constexpr uint32_t kPictureBufferWords = 1048576;

// Needs a current GL context; takes the next five pack entries.
void build_textures();

// Both work on the image's width x height words at pixels, in place.
void negate_colours(const PcxImage* image, uint32_t* pixels);
void grey_to_alpha(const PcxImage* image, uint32_t* pixels);

// Where the working buffer comes from (std::malloc unless changed; nullptr
// restores it). The memory is released with std::free. Tests use it to
// provoke a failed allocation.
using PictureBufferAllocator = void* (*)(size_t bytes);
void set_picture_buffer_allocator(PictureBufferAllocator allocate);

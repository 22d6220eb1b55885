// The five textures made from the pack's pictures, rebuilt in every new GL
// context.
//
// build_textures takes the next five pack entries (up, down, demo2, trevak,
// mono), decodes each into a buffer of its own, turns it into texels in
// place and uploads it as an RGBA texture:
//   all five        negate_colours: colour negative with alpha 0, and every
//                   pure green (red 0, blue 0, green not 0) fully transparent
//                   black; prints " range [min,max] \n" of the channels
//   trevak, mono    then grey_to_alpha: grey 255 - red with alpha red
// Each texture has linear filtering and no mipmaps; the last one stays bound
// and texturing is not enabled. Any GL error pending after the last upload
// is reported as "build_textures() errors\n".
//
// Decoding needs no GL context, and making the window and its context is
// the longest wait of the start-up: prepare_textures takes the five entries
// and decodes them on a thread of its own meanwhile. build_textures then
// waits for that work and reports and uploads it, with the same lines and
// boxes in the same order as when it decodes on the spot (every later
// build, such as a display-mode toggle, does). Nothing is printed off the
// GL thread.
//
// A picture larger than the picture buffer's capacity is refused with a box;
// like a picture the decoder refused (a box naming the entry), it gets an
// empty texture: one texel, black with alpha 255. Empty means transparent in
// the scene: drawn as the panel it shows the colour around the panel (the
// frame is inverted last), drawn as an overlay it keeps the frame as it is.
// So a bad picture is missing from the presentation, which goes on otherwise
// unchanged, rather than covering what lies behind it. A picture buffer that
// cannot be allocated is reported and leaves every name 0; the five entries
// are still taken, so the music stays the next one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/presentation.h"
#include "resources/pcx_decoder.h"

struct TextureSetRecord {
    uint32_t pictures[3];  // kUpPicture, kDownPicture, kDemo2Picture, in that order
    uint32_t trevakPicture;
    uint32_t monoPicture;
};

enum PictureSlot { kUpPicture = 0, kDownPicture = 1, kDemo2Picture = 2 };
constexpr int kTexturePictures = static_cast<int>(kPictureEntries);

extern TextureSetRecord TextureSet;

// The largest picture: 1,048,576 pixel words (4 MiB).
constexpr uint32_t kPictureBufferWords = 1048576;

// Needs no GL context; takes the next five pack entries now and starts a
// thread decoding them. Once called, the pack's entries must stay, and the
// program must not end, until the next build_textures or
// discard_prepared_textures has joined that thread.
void prepare_textures();
// Waits for a preparation that no build will use and frees what it made.
void discard_prepared_textures();
// Needs a current GL context; takes the next five pack entries unless
// prepare_textures took them.
void build_textures();

// The smallest and largest channel value of a picture; 255 and 0 for a
// picture without pixels.
struct ColourRange {
    uint32_t smallest = 255;
    uint32_t largest = 0;
};

// Both work on the image's width x height words at pixels, in place.
ColourRange negate_colours(const PcxImage* image, uint32_t* pixels);
void grey_to_alpha(const PcxImage* image, uint32_t* pixels);

// Where the picture buffers come from (std::malloc unless changed; nullptr
// restores it). The memory is released with std::free. Tests use it to
// provoke a failed allocation.
using PictureBufferAllocator = void* (*)(size_t bytes);
void set_picture_buffer_allocator(PictureBufferAllocator allocate);

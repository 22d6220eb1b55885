#include "resources/textures.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>

#include "resources/pack.h"
#include "resources/pcx.h"
#include "shell/diagnostics.h"

TextureSetRecord TextureSet;

namespace {

PictureBufferAllocator gAllocate = std::malloc;

struct PictureSource {
    const char* name;
    uint32_t* slot;
    bool alpha;  // trevak and mono are drawn as masks: alpha from the red channel
};

uint64_t pixel_count(const PcxImage* image) { return uint64_t(image->width) * image->height; }

// The one texel a picture without an image gets: in memory red, green, blue
// 0 and alpha 255 (see textures.h for how it looks).
constexpr uint32_t kEmptyTexel = 0xFF000000u;

}  // namespace

void set_picture_buffer_allocator(PictureBufferAllocator allocate) {
    gAllocate = allocate ? allocate : std::malloc;
}

// The range and the negative come from one pass: the range depends only on
// the colours before the change, so the line printed is the same.
void negate_colours(const PcxImage* image, uint32_t* pixels) {
    uint32_t smallest = 255, largest = 0;
    const uint64_t count = pixel_count(image);
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t word = pixels[i];
        uint32_t red = (word >> 16) & 0xFF, green = (word >> 8) & 0xFF, blue = word & 0xFF;
        smallest = std::min({smallest, red, green, blue});
        largest = std::max({largest, red, green, blue});
        // In memory the word's bytes are the texel's red, green, blue, alpha:
        // the low byte becomes the texel's red.
        if (red == 0 && blue == 0 && green != 0)
            pixels[i] = 0;
        else
            pixels[i] = (255 - blue) << 16 | (255 - green) << 8 | (255 - red);
    }
    ConsoleLine(" range [%i,%i] \n", static_cast<int>(smallest), static_cast<int>(largest));
}

void grey_to_alpha(const PcxImage* image, uint32_t* pixels) {
    const uint64_t count = pixel_count(image);
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t v = pixels[i] & 0xFF;
        pixels[i] = (255 - v) << 24 | v * 0x010101u;
    }
}

void build_textures() {
    const PictureSource sources[5] = {
        {"pool/up.pcx", &TextureSet.pictures[kUpPicture], false},
        {"pool/down.pcx", &TextureSet.pictures[kDownPicture], false},
        {"pool/demo2.pcx", &TextureSet.pictures[kDemo2Picture], false},
        {"pool/trevak.pcx", &TextureSet.trevakPicture, true},
        {"pool/mono.pcx", &TextureSet.monoPicture, true},
    };
    auto* buffer = static_cast<uint32_t*>(gAllocate(kPictureBufferWords * sizeof(uint32_t)));
    if (!buffer) {
        ErrorBox("build_textures(): no memory for the %i-byte picture buffer; no textures made\n",
                 static_cast<int>(kPictureBufferWords * sizeof(uint32_t)));
        TextureSet = TextureSetRecord{};
        // The five pictures are still taken, so that the music stays the
        // next entry for the time source.
        for (const PictureSource& source : sources) {
            PackEntry entry{};
            take_entry(source.name, &entry);
            release_entry(source.name, &entry);
        }
        return;
    }
    PcxImage image{};
    image.pixels = buffer;
    for (const PictureSource& source : sources) {
        load_picture(source.name, &image, kPictureBufferWords);
        // The decoder dropped what lies past the buffer; uploading the
        // picture would read past it too.
        const bool fits = pixel_count(&image) <= kPictureBufferWords;
        if (!fits) {
            char label[64];
            ErrorBox(
                "build_textures(): %s is %ix%i, more than the %i pixels of the picture buffer; "
                "not uploaded (entry `%s` of %s)\n",
                source.name, static_cast<int>(image.width), static_cast<int>(image.height),
                static_cast<int>(kPictureBufferWords), entry_label(source.name, label),
                pack_path());
        } else {
            negate_colours(&image, buffer);
            if (source.alpha) grey_to_alpha(&image, buffer);
        }
        GLuint name = 0;
        glGenTextures(1, &name);
        *source.slot = name;
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        if (fits && pixel_count(&image) != 0)
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(image.width),
                         static_cast<GLsizei>(image.height), 0, GL_RGBA, GL_UNSIGNED_BYTE, buffer);
        else
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         &kEmptyTexel);
    }
    if (glGetError() != GL_NO_ERROR) ErrorBox("build_textures() errors\n");
    std::free(buffer);
}

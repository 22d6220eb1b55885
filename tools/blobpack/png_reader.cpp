#include "png_reader.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The pack's pictures are limited far below this; it keeps the buffer sane.
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

// Everything the decoder touches lives here, reached through a pointer, so
// that nothing it needs is a local variable changed between setjmp and a
// longjmp out of libpng.
struct Decoding {
    const uint8_t* data;
    size_t size;
    size_t position;
    uint32_t width, height;
    bool alpha;
    uint8_t* rgba;    // malloc'd, width x height x 4
    png_bytep* rows;  // malloc'd, one pointer a row
    char error[256];
};

void read_bytes(png_structp png, png_bytep out, size_t count) {
    auto* d = static_cast<Decoding*>(png_get_io_ptr(png));
    if (count > d->size - d->position) png_error(png, "the file ends early");
    std::memcpy(out, d->data + d->position, count);
    d->position += count;
}

void on_error(png_structp png, png_const_charp message) {
    auto* d = static_cast<Decoding*>(png_get_error_ptr(png));
    std::snprintf(d->error, sizeof d->error, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Decodes to 8-bit RGBA with the file's own values: 16-bit samples are scaled
// to 8 bits as they are, not converted from an assumed linear light, and
// palette, grey and low bit depths are expanded.
bool decode_rgba(Decoding* d) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, d, on_error, on_warning);
    if (!png) {
        std::snprintf(d->error, sizeof d->error, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(d->error, sizeof d->error, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(d->rows);
        std::free(d->rgba);
        d->rows = nullptr;
        d->rgba = nullptr;
        return false;
    }
    png_set_read_fn(png, d, read_bytes);
    png_read_info(png, info);
    d->width = png_get_image_width(png, info);
    d->height = png_get_image_height(png, info);
    if (uint64_t(d->width) * d->height > kMaxPixels) png_error(png, "the picture is too large");
    const png_byte colour = png_get_color_type(png, info);
    d->alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS);

    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    d->rgba = static_cast<uint8_t*>(std::malloc(size_t(d->width) * d->height * 4));
    d->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * d->height));
    if (!d->rgba || !d->rows) png_error(png, "out of memory");
    for (uint32_t y = 0; y < d->height; ++y) d->rows[y] = d->rgba + size_t(y) * d->width * 4;
    png_read_image(png, d->rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(d->rows);
    d->rows = nullptr;
    return true;
}

}  // namespace

bool read_png(const std::vector<uint8_t>& file, RgbPicture* picture, std::string* error) {
    Decoding d{};
    d.data = file.data();
    d.size = file.size();
    if (!decode_rgba(&d)) {
        *error = std::string("not a readable PNG: ") + d.error;
        return false;
    }
    picture->width = d.width;
    picture->height = d.height;
    picture->hadAlpha = d.alpha;
    // Transparent parts are laid over black, as the presentation's black
    // background would show them.
    const size_t count = size_t(d.width) * d.height;
    picture->rgb.resize(count * 3);
    for (size_t i = 0; i < count; ++i) {
        const unsigned a = d.rgba[4 * i + 3];
        for (int c = 0; c < 3; ++c)
            picture->rgb[3 * i + c] = static_cast<uint8_t>((d.rgba[4 * i + c] * a + 127) / 255);
    }
    std::free(d.rgba);
    return true;
}

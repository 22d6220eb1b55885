#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct PngFailure {
    char* error;
    size_t error_size;
};

// libpng reports errors by longjmp; the message is kept for the caller.
void on_png_error(png_structp png, png_const_charp message) {
    auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    std::snprintf(failure->error, failure->error_size, "PNG encoder: %s", message);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

}  // namespace

bool write_frame_png(const char* path, const uint8_t* pixels, int width, int height, char* error,
                     size_t error_size) {
    if (width <= 0 || height <= 0) {
        std::snprintf(error, error_size, "cannot write an empty %dx%d picture to %s", width, height,
                      path);
        return false;
    }
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::snprintf(error, error_size, "cannot create %s: %s", path, std::strerror(errno));
        return false;
    }

    // Rows are converted before libpng starts, so nothing with a destructor
    // lives across its longjmp.
    const size_t stride = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> rgb(stride * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = pixels + static_cast<size_t>(height - 1 - y) * width * 4;
        uint8_t* target = rgb.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            target[x * 3 + 0] = source[x * 4 + 0];
            target[x * 3 + 1] = source[x * 4 + 1];
            target[x * 3 + 2] = source[x * 4 + 2];
        }
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = rgb.data() + y * stride;

    PngFailure failure{error, error_size};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, on_png_error, on_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(png ? &png : nullptr, nullptr);
        std::fclose(file);
        std::snprintf(error, error_size, "PNG encoder: out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    // Frames are written many per second, and libpng's default (trying every
    // row filter, then zlib level 6) took more time than drawing them. One
    // cheap filter and fast zlib keep flat areas and gradients small at a
    // fraction of the cost.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);

    if (std::fclose(file) != 0) {
        std::snprintf(error, error_size, "cannot finish %s: %s", path, std::strerror(errno));
        return false;
    }
    return true;
}

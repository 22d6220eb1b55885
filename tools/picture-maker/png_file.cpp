#include "png_file.h"

#include <png.h>

#include <cstdio>

bool write_png_file(const std::string& path, const Canvas& canvas, std::string* error) {
    if (canvas.width <= 0 || canvas.height <= 0 ||
        canvas.rgb.size() != static_cast<size_t>(canvas.width) * canvas.height * 3) {
        *error = path + ": nothing drawn to write";
        return false;
    }
    // The simplified interface handles libpng's errors itself (no longjmp
    // reaches this code) and removes the file when writing it fails. It
    // writes no time stamp, so the same picture gives the same bytes.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.width);
    image.height = static_cast<png_uint_32>(canvas.height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, canvas.rgb.data(), 0, nullptr) == 0) {
        *error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

#include "png_reader.h"

#include <png.h>

#include <cstring>

bool read_png(const std::vector<uint8_t>& file, RgbPicture* picture, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        *error = std::string("not a readable PNG: ") + image.message;
        return false;
    }
    // The pack's pictures are limited far below this; it keeps the buffer sane.
    if (uint64_t(image.width) * image.height > (uint64_t(1) << 26)) {
        *error = "PNG of " + std::to_string(image.width) + "x" + std::to_string(image.height) + " is too large";
        png_image_free(&image);
        return false;
    }
    picture->hadAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGB;
    picture->width = image.width;
    picture->height = image.height;
    picture->rgb.assign(PNG_IMAGE_SIZE(image), 0);
    png_color black = {0, 0, 0};
    if (!png_image_finish_read(&image, &black, picture->rgb.data(), 0, nullptr)) {
        *error = std::string("PNG decoding failed: ") + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

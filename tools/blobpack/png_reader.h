// Reads a PNG file (any colour type and depth) as 8-bit RGB with libpng's
// simplified interface; transparency is composited onto black.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows from the top, 3 bytes a pixel
    bool hadAlpha = false;
};

bool read_png(const std::vector<uint8_t>& file, RgbPicture* picture, std::string* error);

// Writes one captured frame as an 8-bit RGB PNG file (libpng).
#pragma once

#include <cstddef>
#include <cstdint>

// pixels: width * height RGBA quadruplets as glReadPixels returns them, the
// BOTTOM row first. The file gets the top row first, as images are stored, and
// drops alpha, which after the colour inversion means nothing on the screen.
// Returns false and fills error (one line) when the file cannot be written.
bool write_frame_png(const char* path, const uint8_t* pixels, int width, int height, char* error,
                     size_t error_size);

// Writes a drawn picture as an 8-bit RGB PNG file (libpng), for the icons of
// the desktop menu, which take PNG rather than the pack's PCX.
#pragma once

#include <string>

#include "canvas.h"

// Returns false and sets error (one line) when the file cannot be written;
// a file left half-written is removed.
bool write_png_file(const std::string& path, const Canvas& canvas, std::string* error);

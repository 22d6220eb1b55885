// Writes PCX pictures in the two layouts the presentation's decoder reads:
// one plane of 8-bit palette indices with a 256-colour palette at the end,
// or three planes of 8-bit red, green and blue.
//
// The files are version 5, 8 bits per plane, run-length encoded the way
// other readers expect: a run never crosses the end of a plane's line, runs
// are at most 63 long, and a single value of 192 or more is written as a run
// of one. Bytes-per-line equals the width with no padding, because the
// decoder takes the line length to be the width; an odd width is therefore
// not padded to even as the format recommends (other readers still cope).
//
// Sides must be 1 to 32768 pixels (the window bounds are signed 16-bit);
// otherwise the result is empty.
#pragma once

#include <cstdint>
#include <vector>

// indices: width x height bytes, rows from the top; palette: 256 x (r, g, b).
std::vector<uint8_t> encode_pcx_indexed(uint32_t width, uint32_t height, const uint8_t* indices,
                                        const uint8_t (&palette)[768]);

// rgb: width x height x 3 bytes (red, green, blue), rows from the top.
std::vector<uint8_t> encode_pcx_rgb(uint32_t width, uint32_t height, const uint8_t* rgb);

// The smallest faithful file for an RGB picture: one plane with a palette
// when it has 256 colours or fewer, three planes otherwise.
std::vector<uint8_t> encode_pcx_best(uint32_t width, uint32_t height, const uint8_t* rgb);

// Counts distinct colours up to 257 (enough to choose the layout).
uint32_t count_colours_up_to_257(uint32_t width, uint32_t height, const uint8_t* rgb);

// The PCX decoder itself, without any reporting, so that tools and
// benchmarks can use it without the program's console and message boxes
// (pcx.h adds those).
//
// Reads only the bits per plane (byte 3), the picture window (bytes 4-11),
// the plane count (byte 65) and the run-length data from byte 128. One plane
// is 8-bit palette indices followed by the palette block at the end of the
// file (marker byte 12 and 256 colours), read from where the pixel data
// stopped; three planes are red, green and blue lines. The length of a plane's line
// is taken to be the width; runs are written whole at successive columns;
// decoding is bounded by the data, not by the height.
//
// Output: 32-bit words, red in bits 16-23, green 8-15, blue 0-7, rows from
// the top. Palette pictures get a top byte of 0; three-plane pictures leave
// the top byte as the buffer held it, and two-plane pictures the blue byte.
//
// Bounds: bytes past the end of the data read as 0 and writes at or past
// `capacity` pixel words are dropped, so any input is safe. A picture the
// decoder cannot show as it was meant decodes to an empty 0x0 picture, the
// buffer untouched, and the result says why: a header shorter than 128
// bytes, an inverted window, a plane count outside 1..3, bits per plane
// other than 8 (1-, 2- and 4-bit planes pack several pixels in a byte), no
// data after the header, a one-plane picture without its palette block, or
// data that ends before every line of every plane is complete.
#pragma once

#include <cstdint>

struct PcxImage {
    uint32_t width;
    uint32_t height;
    uint32_t bits;     // always 24: every output word carries 24 bits of colour
    uint32_t* pixels;  // set by the caller, never allocated by the decoder
};

enum PcxFault {
    kPcxGood = 0,
    kPcxShortHeader,      // fewer than 128 bytes
    kPcxInvertedWidth,    // right bound below the left
    kPcxInvertedHeight,   // bottom bound below the top
    kPcxBadPlaneCount,    // planes 0, negative or above 3
    kPcxBadBitsPerPlane,  // byte 3 is not 8
    kPcxNoPixelData,      // nothing between the header and the end (or the palette)
    kPcxNoPalette,        // one plane, and the file does not end in 12 + 768 bytes
    kPcxTruncated,        // the data ends before the picture is complete
};

struct PcxDecodeResult {
    PcxFault fault;
    int planes;             // as the header says (valid only without a fault)
    uint64_t paletteEnd;    // one plane: position just after the palette
    bool paletteMisplaced;  // one plane: paletteEnd differs from the data size
};

// The header fields the decoder uses, and two it does not but tools show.
struct PcxHeader {
    PcxFault fault;
    int left, top, right, bottom;
    int planes;
    int bitsPerPlane;  // byte 3
    int bytesPerLine;  // bytes 66-67
    uint32_t width, height;
};

PcxHeader read_pcx_header(const uint8_t* data, uint32_t size);
// The checks of the data after a good header: kPcxGood when the data holds
// every line of the picture (and, for one plane, the palette block).
PcxFault check_pcx_body(const PcxHeader& header, const uint8_t* data, uint32_t size);
PcxDecodeResult decode_pcx_pixels(PcxImage* image, const uint8_t* data, uint32_t size,
                                  uint32_t capacity);
// A few words naming a fault, for messages.
const char* describe_pcx_fault(PcxFault fault);

#include "resources/pcx_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

// Planes are written as single bytes of the pixel words (byte 2 - p holds
// plane p), which relies on the little-endian layout of those words.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kPaletteSize = 768;
// The palette of a one-plane picture is the last 769 bytes: this marker,
// then the 256 colours.
constexpr uint32_t kPaletteBlock = kPaletteSize + 1;
constexpr uint8_t kPaletteMarker = 12;

int16_t signed16(const uint8_t* at) { return static_cast<int16_t>(at[0] | at[1] << 8); }

// The byte at pos, or 0 past the end of the data.
uint8_t byte_at(const uint8_t* data, uint32_t size, uint64_t pos) {
    return pos < size ? data[pos] : 0;
}

// Where the run-length data ends. For one plane it is the start of the
// trailing palette; an entry too short to hold header and palette has no
// pixel data at all (instead of a bound that wraps below zero).
uint64_t data_end(int planes, uint32_t size) {
    if (planes != 1) return size;
    return size >= kHeaderSize + kPaletteSize ? size - kPaletteSize : kHeaderSize;
}

void read_palette(const uint8_t* data, uint32_t size, uint64_t pos, uint32_t (&palette)[256]) {
    if (pos + kPaletteSize <= size) {
        const uint8_t* at = data + pos;
        for (int k = 0; k < 256; ++k, at += 3)
            palette[k] = uint32_t(at[0]) << 16 | uint32_t(at[1]) << 8 | at[2];
        return;
    }
    for (int k = 0; k < 256; ++k) {
        uint64_t at = pos + 3ull * k;
        palette[k] = uint32_t(byte_at(data, size, at)) << 16 |
                     uint32_t(byte_at(data, size, at + 1)) << 8 | byte_at(data, size, at + 2);
    }
}

struct Cursor {
    uint64_t pos = kHeaderSize;
    uint64_t x = 0;  // column within the current plane line
    uint32_t plane = 0;
    uint64_t rowStart = 0;  // pixel index of column 0 of the current row
};

// Reads the code at cursor.pos; returns the run length and sets value.
inline uint32_t next_code(const uint8_t* data, uint32_t size, Cursor& c, uint8_t& value) {
    uint8_t b = data[c.pos];
    if (b >= 0xC0) {
        value = byte_at(data, size, c.pos + 1);
        c.pos += 2;
        return b & 0x3F;
    }
    value = b;
    c.pos += 1;
    return 1;
}

inline void advance_column(Cursor& c, uint32_t count, uint32_t width, int planes) {
    // The whole run is written before the column is compared with the width;
    // an overhang is not carried into the next line.
    c.x += count;
    if (c.x >= width) {
        c.x = 0;
        if (++c.plane == static_cast<uint32_t>(planes)) {
            c.plane = 0;
            c.rowStart += width;
        }
    }
}

// Every layout, one plane byte at a time: byte 2 - p of each pixel word.
uint64_t decode_plane_bytes(uint32_t* pixels, const uint8_t* data, uint32_t size, uint64_t end,
                            uint32_t width, int planes, uint64_t capacity) {
    auto* bytes = reinterpret_cast<uint8_t*>(pixels);
    Cursor c;
    while (c.pos < end) {
        uint8_t value;
        uint32_t count = next_code(data, size, c, value);
        uint64_t index = c.rowStart + c.x;
        if (index < capacity) {
            uint64_t n = std::min<uint64_t>(count, capacity - index);
            uint8_t* out = bytes + index * 4 + (2 - c.plane);
            for (uint64_t k = 0; k < n; ++k) out[k * 4] = value;
        }
        advance_column(c, count, width, planes);
    }
    return c.pos;
}

// One plane, betting that decoding stops exactly where the trailing palette
// starts (true for every file laid out as the format has it): pixels inside
// the picture get their palette colour at once, which saves a second pass.
// Returns false, having written only what a redo overwrites, when the bet
// is lost. *covered is the end of the prefix of picture pixels written.
bool decode_palette_fast(uint32_t* pixels, const uint8_t* data, uint32_t size, uint64_t end,
                         uint32_t width, uint64_t pictureEnd, uint64_t capacity,
                         const uint32_t (&palette)[256], uint64_t* covered) {
    auto* bytes = reinterpret_cast<uint8_t*>(pixels);
    Cursor c;
    uint64_t high = 0;
    while (c.pos < end) {
        uint8_t value;
        uint32_t count = next_code(data, size, c, value);
        uint64_t index = c.rowStart + c.x;
        uint64_t stop = index + count;
        if (stop <= pictureEnd) {
            std::fill_n(pixels + index, count, palette[value]);
            high = std::max(high, stop);
        } else {
            // Straddles or lies past the picture: inside it full colours,
            // past it only the index byte, as the plain decoder leaves it.
            uint64_t k = index;
            for (; k < std::min(stop, pictureEnd); ++k) pixels[k] = palette[value];
            // Everything before index was written already (rows complete in order).
            high = std::max(high, std::min(stop, pictureEnd));
            for (; k < std::min(stop, capacity); ++k) bytes[k * 4 + 2] = value;
        }
        advance_column(c, count, width, 1);
    }
    *covered = high;
    return c.pos == end;
}

}  // namespace

PcxHeader read_pcx_header(const uint8_t* data, uint32_t size) {
    PcxHeader h{};
    if (!data || size < kHeaderSize) {
        h.fault = kPcxShortHeader;
        return h;
    }
    h.left = signed16(data + 4);
    h.top = signed16(data + 6);
    h.right = signed16(data + 8);
    h.bottom = signed16(data + 10);
    // The planes byte is taken as signed, so a damaged header shows as a
    // negative count and is refused as such.
    h.planes = static_cast<int8_t>(data[65]);  // NOLINT(bugprone-signed-char-misuse)
    h.bitsPerPlane = data[3];
    h.bytesPerLine = data[66] | data[67] << 8;
    if (h.right < h.left)
        h.fault = kPcxInvertedWidth;
    else if (h.bottom < h.top)
        h.fault = kPcxInvertedHeight;
    else if (h.bitsPerPlane != 8)
        h.fault = kPcxBadBitsPerPlane;
    else if (h.planes < 1 || h.planes > 3)
        h.fault = kPcxBadPlaneCount;
    else {
        h.width = static_cast<uint32_t>(h.right - h.left + 1);
        h.height = static_cast<uint32_t>(h.bottom - h.top + 1);
    }
    return h;
}

PcxFault check_pcx_body(const PcxHeader& h, const uint8_t* data, uint32_t size) {
    if (h.fault != kPcxGood) return h.fault;
    const bool paletteRoom = h.planes == 1 && size >= kHeaderSize + kPaletteBlock;
    const uint64_t bodyEnd = paletteRoom ? size - kPaletteBlock : size;
    if (bodyEnd <= kHeaderSize) return kPcxNoPixelData;
    if (h.planes == 1 && (!paletteRoom || data[bodyEnd] != kPaletteMarker)) return kPcxNoPalette;
    // The codes are walked as the decoder walks them, without writing, until
    // every line of every plane is filled; a run whose value byte lies past
    // the data is a cut file too.
    const uint64_t pixels = uint64_t(h.width) * h.height;
    Cursor c;
    while (c.rowStart < pixels) {
        if (c.pos >= bodyEnd) return kPcxTruncated;
        uint32_t count = 1;
        if (data[c.pos] >= 0xC0) {
            if (c.pos + 1 >= bodyEnd) return kPcxTruncated;
            count = data[c.pos] & 0x3F;
            c.pos += 2;
        } else {
            c.pos += 1;
        }
        advance_column(c, count, h.width, h.planes);
    }
    return kPcxGood;
}

PcxDecodeResult decode_pcx_pixels(PcxImage* image, const uint8_t* data, uint32_t size,
                                  uint32_t capacity) {
    PcxDecodeResult result{};
    image->width = 0;
    image->height = 0;
    image->bits = 24;
    PcxHeader h = read_pcx_header(data, size);
    result.fault = h.fault;
    result.planes = h.planes;
    if (h.fault != kPcxGood) return result;
    result.fault = check_pcx_body(h, data, size);
    if (result.fault != kPcxGood) return result;
    image->width = h.width;
    image->height = h.height;
    if (!image->pixels) capacity = 0;

    const uint64_t end = data_end(h.planes, size);
    const uint64_t pictureEnd = std::min<uint64_t>(uint64_t(h.width) * h.height, capacity);
    if (h.planes != 1) {
        decode_plane_bytes(image->pixels, data, size, end, h.width, h.planes, capacity);
        return result;
    }

    uint32_t palette[256];
    uint64_t covered = 0;
    bool fast = size >= kHeaderSize + kPaletteSize;
    uint64_t paletteAt = end;
    if (fast) {
        read_palette(data, size, end, palette);
        fast = decode_palette_fast(image->pixels, data, size, end, h.width, pictureEnd, capacity,
                                   palette, &covered);
    }
    if (!fast) {
        paletteAt = decode_plane_bytes(image->pixels, data, size, end, h.width, 1, capacity);
        read_palette(data, size, paletteAt, palette);
        covered = 0;
    }
    // Picture pixels the data never reached still turn their byte 2 into a colour.
    for (uint64_t i = covered; i < pictureEnd; ++i)
        image->pixels[i] = palette[(image->pixels[i] >> 16) & 0xFF];
    result.paletteEnd = paletteAt + kPaletteSize;
    result.paletteMisplaced = result.paletteEnd != size;
    return result;
}

const char* describe_pcx_fault(PcxFault fault) {
    switch (fault) {
        case kPcxGood:
            return "no fault";
        case kPcxShortHeader:
            return "shorter than the 128-byte PCX header";
        case kPcxInvertedWidth:
            return "right bound below the left bound";
        case kPcxInvertedHeight:
            return "bottom bound below the top bound";
        case kPcxBadPlaneCount:
            return "plane count not 1, 2 or 3";
        case kPcxBadBitsPerPlane:
            return "bits per plane not 8";
        case kPcxNoPixelData:
            return "no picture data after the header";
        case kPcxNoPalette:
            return "one plane without the 769-byte palette block at its end";
        case kPcxTruncated:
            return "the picture data ends before the picture is complete";
    }
    return "unknown fault";
}

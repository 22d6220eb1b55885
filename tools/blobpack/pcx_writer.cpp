#include "pcx_writer.h"

#include <algorithm>
#include <unordered_map>

namespace {

constexpr uint32_t kMaxSide = 32768;

bool side_ok(uint32_t side) { return side >= 1 && side <= kMaxSide; }

void put16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<uint8_t> header(uint32_t width, uint32_t height, int planes) {
    std::vector<uint8_t> out(128, 0);
    out[0] = 10;  // manufacturer
    out[1] = 5;   // version 3.0 and later, with a 256-colour palette
    out[2] = 1;   // run-length encoding
    out[3] = 8;   // bits per plane
    put16(out, 8, width - 1);
    put16(out, 10, height - 1);
    put16(out, 12, 72);
    put16(out, 14, 72);
    out[65] = static_cast<uint8_t>(planes);
    put16(out, 66, width);
    put16(out, 68, 1);  // colour palette
    return out;
}

// One plane's line; samples are `stride` bytes apart.
void encode_line(std::vector<uint8_t>& out, const uint8_t* line, uint32_t width, size_t stride) {
    uint32_t x = 0;
    while (x < width) {
        uint8_t value = line[x * stride];
        uint32_t run = 1;
        while (x + run < width && run < 63 && line[(x + run) * stride] == value) ++run;
        if (run > 1 || value >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(value);
        x += run;
    }
}

}  // namespace

std::vector<uint8_t> encode_pcx_indexed(uint32_t width, uint32_t height, const uint8_t* indices,
                                        const uint8_t (&palette)[768]) {
    if (!side_ok(width) || !side_ok(height) || !indices) return {};
    std::vector<uint8_t> out = header(width, height, 1);
    out.reserve(out.size() + size_t(width) * height + 769);
    for (uint32_t y = 0; y < height; ++y) encode_line(out, indices + size_t(y) * width, width, 1);
    out.push_back(12);  // marks the palette that follows
    out.insert(out.end(), palette, palette + 768);
    return out;
}

std::vector<uint8_t> encode_pcx_rgb(uint32_t width, uint32_t height, const uint8_t* rgb) {
    if (!side_ok(width) || !side_ok(height) || !rgb) return {};
    std::vector<uint8_t> out = header(width, height, 3);
    out.reserve(out.size() + size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (int plane = 0; plane < 3; ++plane)
            encode_line(out, rgb + size_t(y) * width * 3 + plane, width, 3);
    return out;
}

uint32_t count_colours_up_to_257(uint32_t width, uint32_t height, const uint8_t* rgb) {
    std::unordered_map<uint32_t, uint32_t> seen;
    size_t pixels = size_t(width) * height;
    for (size_t i = 0; i < pixels && seen.size() <= 256; ++i) {
        const uint8_t* p = rgb + i * 3;
        seen.emplace(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], 0);
    }
    return static_cast<uint32_t>(seen.size());
}

std::vector<uint8_t> encode_pcx_best(uint32_t width, uint32_t height, const uint8_t* rgb) {
    if (!side_ok(width) || !side_ok(height) || !rgb) return {};
    if (count_colours_up_to_257(width, height, rgb) > 256)
        return encode_pcx_rgb(width, height, rgb);

    uint8_t palette[768] = {};
    std::unordered_map<uint32_t, uint8_t> index_of;
    std::vector<uint8_t> indices(size_t(width) * height);
    for (size_t i = 0; i < indices.size(); ++i) {
        const uint8_t* p = rgb + i * 3;
        uint32_t colour = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        auto [it, added] = index_of.emplace(colour, static_cast<uint8_t>(index_of.size()));
        if (added) std::copy(p, p + 3, palette + 3 * static_cast<size_t>(it->second));
        indices[i] = it->second;
    }
    return encode_pcx_indexed(width, height, indices.data(), palette);
}

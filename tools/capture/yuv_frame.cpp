#include "yuv_frame.h"

namespace {

// BT.709 for 8 bits in limited range (Y 16..235, U and V 16..240), in 16-bit
// fixed point: Y = 16 + 0.1826 R + 0.6142 G + 0.0620 B,
// U = 128 - 0.1006 R - 0.3386 G + 0.4392 B, V = 128 + 0.4392 R - 0.3989 G - 0.0403 B.
constexpr int32_t kYr = 11966, kYg = 40254, kYb = 4064;
constexpr int32_t kUr = -6596, kUg = -22189, kUb = 28785;
constexpr int32_t kVr = 28785, kVg = -26145, kVb = -2640;

// Each row on its own, through pointers that never overlap, is a loop the
// compiler turns into vector instructions.
void luma_row(const uint8_t* __restrict bgra, uint8_t* __restrict y, size_t width) {
    for (size_t x = 0; x < width; ++x) {
        const uint8_t* p = bgra + x * 4;
        y[x] =
            static_cast<uint8_t>(16 + ((kYr * p[2] + kYg * p[1] + kYb * p[0] + (1 << 15)) >> 16));
    }
}

// From the sums of the four pixels of each block: two more bits to shift.
void chroma_row(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                uint8_t* __restrict u, uint8_t* __restrict v, size_t half) {
    for (size_t x = 0; x < half; ++x) {
        const uint8_t* a = top + x * 8;
        const uint8_t* b = bottom + x * 8;
        const int32_t blue = a[0] + a[4] + b[0] + b[4];
        const int32_t green = a[1] + a[5] + b[1] + b[5];
        const int32_t red = a[2] + a[6] + b[2] + b[6];
        u[x] =
            static_cast<uint8_t>(128 + ((kUr * red + kUg * green + kUb * blue + (1 << 17)) >> 18));
        v[x] =
            static_cast<uint8_t>(128 + ((kVr * red + kVg * green + kVb * blue + (1 << 17)) >> 18));
    }
}

}  // namespace

YuvFrame make_yuv_frame(int width, int height, int band_rows) {
    return YuvFrame{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * band_rows),
                    std::vector<uint8_t>(static_cast<size_t>(width) * height / 2)};
}

void convert_band(YuvFrame* frame, const uint8_t* bgra, int first_row, int rows) {
    const size_t width = static_cast<size_t>(frame->width);
    const size_t half = width / 2;
    const size_t plane = half * static_cast<size_t>(frame->height / 2);
    for (int pair = 0; pair < rows; pair += 2) {
        // Image row first_row + pair is band row `pair` from the top, which
        // the read-back holds rows - 1 - pair rows in.
        const uint8_t* top = bgra + static_cast<size_t>(rows - 1 - pair) * width * 4;
        const uint8_t* bottom = top - width * 4;
        uint8_t* y_top = frame->luma.data() + static_cast<size_t>(pair) * width;
        uint8_t* y_bottom = y_top + width;
        const size_t chroma_at = static_cast<size_t>(first_row + pair) / 2 * half;
        uint8_t* u = frame->chroma.data() + chroma_at;
        luma_row(top, y_top, width);
        luma_row(bottom, y_bottom, width);
        chroma_row(top, bottom, u, u + plane, half);
    }
}

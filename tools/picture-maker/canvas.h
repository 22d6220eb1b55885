// A picture being drawn: RGB bytes, rows from the top, filled by evaluating a
// shading function over the picture with supersampling, so that every edge is
// antialiased the same way whatever draws it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Colour {
    float r, g, b;  // 0..255
};

struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

Canvas make_canvas(int width, int height);

// The canvas made factor times smaller along each axis, every pixel the mean
// of the factor x factor pixels it covers (sides must divide by factor).
Canvas shrink(const Canvas& canvas, int factor);

// Samples per pixel along each axis; 4 x 4 smooths every edge without blur.
constexpr int kSamples = 4;

// Fills the pixels in columns [x0, x1) with shade(u, v) averaged over each
// pixel, where (u, v) runs over [-1, 1] x [-1, 1] across the region (v grows
// downward). A region narrower than it is tall is drawn squeezed: the shape
// comes out right when the region is later stretched to a square.
template <typename Shade>
void paint(Canvas* canvas, int x0, int x1, Shade shade) {
    const int region_w = x1 - x0;
    const float step_u = 2.0f / static_cast<float>(region_w * kSamples);
    const float step_v = 2.0f / static_cast<float>(canvas->height * kSamples);
    for (int y = 0; y < canvas->height; ++y)
        for (int x = x0; x < x1; ++x) {
            float r = 0, g = 0, b = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    float u = -1.0f + ((x - x0) * kSamples + sx + 0.5f) * step_u;
                    float v = -1.0f + (y * kSamples + sy + 0.5f) * step_v;
                    Colour c = shade(u, v);
                    r += c.r;
                    g += c.g;
                    b += c.b;
                }
            const float n = static_cast<float>(kSamples * kSamples);
            uint8_t* p = &canvas->rgb[(static_cast<size_t>(y) * canvas->width + x) * 3];
            p[0] = static_cast<uint8_t>(r / n + 0.5f);
            p[1] = static_cast<uint8_t>(g / n + 0.5f);
            p[2] = static_cast<uint8_t>(b / n + 0.5f);
        }
}

template <typename Shade>
void paint(Canvas* canvas, Shade shade) {
    paint(canvas, 0, canvas->width, shade);
}

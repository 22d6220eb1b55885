#include "pictures.h"

#include <algorithm>
#include <cmath>

#include "pixel_font.h"

namespace {

constexpr float kPi = 3.14159265358979f;

constexpr Colour kIndigo = {28, 24, 74};
constexpr Colour kCoral = {244, 91, 72};
constexpr Colour kCream = {251, 238, 215};
constexpr Colour kGold = {255, 190, 60};
constexpr Colour kTeal = {32, 150, 160};

Colour scaled(Colour c, float k) { return Colour{c.r * k, c.g * k, c.b * k}; }

bool in_band(float value, float from, float to) { return value >= from && value < to; }

// ---- up and down: one emblem, two counter-phase frames

Colour emblem(float u, float v, bool counter) {
    const float r = std::hypot(u, v);
    const float a = std::atan2(v, u);
    const float square = std::max(std::fabs(u), std::fabs(v));

    if (r >= 0.90f) {
        // Corners: indigo with a thin gold frame and a dot in each corner.
        if (in_band(square, 0.935f, 0.955f)) return kGold;
        float cu = std::fabs(u) - 0.86f;
        float cv = std::fabs(v) - 0.86f;
        if (cu * cu + cv * cv < 0.035f * 0.035f) return counter ? kCoral : kGold;
        return kIndigo;
    }
    if (r >= 0.84f) {
        // A ring of sixteen dots, turned by half a gap in the counter frame.
        const float turn = counter ? kPi / 16.0f : 0.0f;
        const float gap = 2.0f * kPi / 16.0f;
        float k = std::round((a - turn) / gap);
        float da = a - turn - k * gap;
        float du = 0.87f * std::cos(da) - r;
        float dv = 0.87f * std::sin(da);
        if (du * du + dv * dv < 0.024f * 0.024f) return kGold;
        return kIndigo;
    }
    if (r >= 0.815f) return kGold;
    if (r >= 0.80f) return kIndigo;
    if (r >= 0.34f) {
        // Twenty-four spiral rays; the counter frame twists the other way and
        // starts half a ray on, so the two frames beat against each other.
        const float rays = 24.0f;
        const float twist = counter ? -1.1f : 1.1f;
        const float turn = counter ? kPi / rays : 0.0f;
        float t = (a + twist * r + turn) * rays / (2.0f * kPi);
        bool coral = (static_cast<int>(std::floor(t)) & 1) == 0;
        // Slightly darker toward the rim, for depth.
        float shade = 1.0f - 0.18f * (r - 0.34f) / 0.46f;
        return scaled(coral ? kCoral : kCream, shade);
    }
    if (r >= 0.30f) return kIndigo;
    if (r >= 0.22f) return counter ? kCoral : kCream;
    if (r >= 0.18f) return counter ? kGold : kIndigo;
    // Centre: a four-point star in the colour the disc is not.
    float star = std::sqrt(std::fabs(u)) + std::sqrt(std::fabs(v));
    bool in_star = star < std::sqrt(0.15f);
    if (counter) return in_star ? kGold : kIndigo;
    return in_star ? kIndigo : kGold;
}

// ---- demo2: two flash frames, each squeezed into one half

Colour target(float u, float v) {
    const float r = std::hypot(u, v);
    if (r < 0.12f) return kIndigo;
    if (r >= 0.92f) return kIndigo;
    // Crosshair bars of teal through the rings.
    if ((std::fabs(u) < 0.035f || std::fabs(v) < 0.035f) && r > 0.2f) return kTeal;
    int ring = static_cast<int>((r - 0.12f) / 0.1f);
    return (ring & 1) ? kCream : kCoral;
}

Colour star(float u, float v) {
    const float r = std::hypot(u, v);
    const float au = std::fabs(u);
    const float av = std::fabs(v);
    // Eight points: an upright square and a diamond laid over each other.
    bool in_star = std::max(au, av) < 0.58f || au + av < 0.86f;
    if (r < 0.1f) return kIndigo;
    if (r < 0.26f) return kTeal;
    if (r < 0.30f) return kCream;
    if (in_star) return kGold;
    if (in_band(r, 0.88f, 0.91f)) return kGold;
    return kIndigo;
}

// ---- masks: ink on white, only red counts

// Combines ink layers of coverage a and b as overlapping transparent inks.
float over(float a, float b) { return 1.0f - (1.0f - a) * (1.0f - b); }

Colour mask(float ink) {
    float grey = 255.0f * (1.0f - std::clamp(ink, 0.0f, 1.0f));
    return Colour{grey, grey, grey};
}

// Pixel coordinates of a canvas point given in [-1, 1].
float pixel(float unit, int side) { return (unit + 1.0f) * 0.5f * static_cast<float>(side); }

// A word in solid ink with a soft grey shadow down and to the right.
float word_ink(const char* word, float left, float top, float cell, float x, float y) {
    float ink = text_ink(word, left, top, cell, x, y);
    float shadow = text_ink(word, left + cell * 0.45f, top + cell * 0.45f, cell, x, y);
    return over(ink, 0.45f * shadow);
}

float segment_distance(float x, float y, float x0, float y0, float x1, float y1) {
    float dx = x1 - x0;
    float dy = y1 - y0;
    float t = std::clamp(((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
    return std::hypot(x - x0 - t * dx, y - y0 - t * dy);
}

// The mono quad spans panel x from -0.55 to 0.85 (it is drawn shifted right),
// so the panel's centre falls at 0.55 / 1.4 of the picture's width. The
// reticle is centred there, over the emblem's centre; its dashed ring sits on
// the emblem's inner indigo ring (panel radius 0.32), and a scale fills the
// room on the right.
constexpr float kTexelsPerPanelUnit = kPictureSide / 1.4f;
constexpr float kReticleX = 0.55f * kTexelsPerPanelUnit;

float viewfinder_ink(float x, float y) {
    const float side = static_cast<float>(kPictureSide);
    const float cx = kReticleX;
    const float cy = side * 0.5f;
    const float dx = x - cx;
    const float dy = y - cy;
    const float d = std::hypot(dx, dy);
    const float a = std::atan2(dy, dx);
    float ink = 0.0f;

    // The main ring and a dashed inner ring.
    if (std::fabs(d - 150.0f) < 4.0f) ink = 1.0f;
    const float inner = 0.32f * kTexelsPerPanelUnit;
    if (std::fabs(d - inner) < 2.5f) {
        float dash = (a + kPi) * 24.0f / (2.0f * kPi);
        if (dash - std::floor(dash) < 0.5f) ink = over(ink, 0.75f);
    }
    // Ticks every 15 degrees outside the ring.
    float tick = (a + kPi) * 24.0f / (2.0f * kPi);
    float off = (tick - std::round(tick)) * (2.0f * kPi / 24.0f) * d;
    if (std::fabs(off) < 1.6f && d > 157.0f && d < 168.0f) ink = over(ink, 0.85f);
    // Crosshair arms inside the ring and outside it, but for the bottom,
    // where the name goes; and a centre dot.
    bool arm_axis = std::fabs(dx) < 3.5f || std::fabs(dy) < 3.5f;
    bool outer_arm = d > 172.0f && d < 192.0f && dy < 100.0f;
    if (arm_axis && (outer_arm || (d > 36.0f && d < 84.0f))) ink = 1.0f;
    if (d < 5.0f) ink = 1.0f;

    // Corner brackets, as far right of the centre as left of it.
    const float inset = 36.0f;
    const float left = inset;
    const float right = 2.0f * cx - inset;
    const float top = inset;
    const float bottom = side - inset;
    const float arm = 56.0f;
    const float thick = 8.0f;
    for (int corner = 0; corner < 4; ++corner) {
        float bx = (corner & 1) ? right : left;
        float by = (corner & 2) ? bottom : top;
        float sx = (corner & 1) ? -1.0f : 1.0f;
        float sy = (corner & 2) ? -1.0f : 1.0f;
        float h = segment_distance(x, y, bx, by, bx + sx * arm, by);
        float v = segment_distance(x, y, bx, by, bx, by + sy * arm);
        if (std::min(h, v) < thick * 0.5f) ink = 1.0f;
    }

    // Faint scanlines inside the brackets, fading out toward them.
    const float lo_x = left + 12.0f;
    const float hi_x = right - 12.0f;
    const float lo_y = top + 12.0f;
    const float hi_y = bottom - 12.0f;
    if (x > lo_x && x < hi_x && y > lo_y && y < hi_y) {
        float edge = std::min({x - lo_x, hi_x - x, y - lo_y, hi_y - y});
        float fade = std::clamp(edge / 60.0f, 0.0f, 1.0f);
        int row = static_cast<int>(y);
        if (row % 6 < 2) ink = over(ink, 0.2f * fade);
    }

    // A scale to the right: a tick every 16 texels, a long one every 64.
    const float scale_x = right + 40.0f;
    if (y >= 96.0f && y <= side - 96.0f) {
        float along = y - 96.0f;
        float nearest = std::round(along / 16.0f) * 16.0f;
        bool major = static_cast<int>(nearest) % 64 == 0;
        float length = major ? 40.0f : 20.0f;
        if (std::fabs(along - nearest) < 2.0f && x > scale_x && x < scale_x + length)
            ink = over(ink, major ? 1.0f : 0.7f);
        if (std::fabs(x - scale_x) < 2.0f) ink = 1.0f;
    }

    // The name, small and centred under the reticle, between the brackets.
    const float cell = 4.0f;
    const float name_left = cx - text_cells("MUSTREPAX") * cell * 0.5f;
    ink = over(ink, word_ink("MUSTREPAX", name_left, 438.0f, cell, x, y));
    return ink;
}

}  // namespace

Canvas draw_up() { return draw_emblem(kPictureSide); }

Canvas draw_emblem(int side) {
    // Small icons are drawn at 256 pixels or more and shrunk: the 24 rays are
    // finer than a 16-pixel icon's pixels, and the canvas's 4 x 4 samples
    // alone would turn them into a chequered moire instead of their mean.
    const int factor = side < 256 ? (256 + side - 1) / side : 1;
    Canvas canvas = make_canvas(side * factor, side * factor);
    paint(&canvas, [](float u, float v) { return emblem(u, v, false); });
    return factor == 1 ? canvas : shrink(canvas, factor);
}

Canvas draw_down() {
    Canvas canvas = make_canvas(kPictureSide, kPictureSide);
    paint(&canvas, [](float u, float v) { return emblem(u, v, true); });
    return canvas;
}

Canvas draw_demo2() {
    Canvas canvas = make_canvas(kPictureSide, kPictureSide);
    paint(&canvas, 0, kPictureSide / 2, star);
    paint(&canvas, kPictureSide / 2, kPictureSide, target);
    return canvas;
}

Canvas draw_trevak() {
    Canvas canvas = make_canvas(kPictureSide, kPictureSide);
    // Each half is shown over the panel's lower half, shifted right by 0.2
    // or 0.15 panel half-widths. The words are placed so that on screen they
    // lie over the emblem's rays (panel x about -0.6 to 0.6, y 0.2 to 0.5),
    // clear of the dark rim and of the tenth clipped at the panel's edge.
    const float cell = 10.5f;
    const float half = kPictureSide / 2.0f;
    const float top = 52.0f;
    const float left = 56.0f;
    paint(&canvas, [=](float u, float v) {
        float x = pixel(u, kPictureSide);
        float y = pixel(v, kPictureSide);
        const char* word = y < half ? "VELKO" : "RANDI";
        float word_top = y < half ? top : half + top;
        return mask(word_ink(word, left, word_top, cell, x, y));
    });
    return canvas;
}

Canvas draw_mono() {
    Canvas canvas = make_canvas(kPictureSide, kPictureSide);
    paint(&canvas, [](float u, float v) {
        return mask(viewfinder_ink(pixel(u, kPictureSide), pixel(v, kPictureSide)));
    });
    return canvas;
}

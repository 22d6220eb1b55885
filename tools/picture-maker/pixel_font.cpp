#include "pixel_font.h"

#include <cmath>
#include <cstring>

namespace {

struct Glyph {
    char letter;
    const char* rows[7];
};

const Glyph kGlyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
};

const Glyph* glyph_of(char letter) {
    for (const Glyph& g : kGlyphs)
        if (g.letter == letter) return &g;
    return nullptr;
}

// A block filling its cell, its corners slightly rounded: strokes join into
// solid letters while lone corners soften.
bool in_block(float fx, float fy) {
    constexpr float kInset = 0.0f;
    constexpr float kRadius = 0.1f;
    float dx = std::fabs(fx - 0.5f) - (0.5f - kInset - kRadius);
    float dy = std::fabs(fy - 0.5f) - (0.5f - kInset - kRadius);
    float ox = dx > 0 ? dx : 0;
    float oy = dy > 0 ? dy : 0;
    return ox * ox + oy * oy <= kRadius * kRadius;
}

}  // namespace

int text_cells(const char* text) {
    int n = static_cast<int>(std::strlen(text));
    return n == 0 ? 0 : n * 6 - 1;
}

float text_ink(const char* text, float left, float top, float cell, float u, float v) {
    float cx = (u - left) / cell;
    float cy = (v - top) / cell;
    if (cx < 0 || cy < 0 || cy >= 7) return 0.0f;
    int column = static_cast<int>(cx);
    int letter = column / 6;
    int in_letter = column % 6;
    if (in_letter == 5 || letter >= static_cast<int>(std::strlen(text))) return 0.0f;
    const Glyph* g = glyph_of(text[letter]);
    int row = static_cast<int>(cy);
    if (!g || g->rows[row][in_letter] != '#') return 0.0f;
    return in_block(cx - static_cast<float>(column), cy - static_cast<float>(row)) ? 1.0f : 0.0f;
}

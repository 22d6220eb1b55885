// A chunky 5 x 7 capital font for the pictures' lettering: only the letters
// the presentation spells. Each lit cell is drawn as a rounded block.
#pragma once

// Ink coverage (0 or 1) of text at point (u, v) for text whose top-left
// corner is at (left, top) with cells `cell` wide and tall; letters are five
// cells wide with one cell between them. Unknown letters draw nothing.
float text_ink(const char* text, float left, float top, float cell, float u, float v);

// Width of a text in cells (letters x 6 - 1).
int text_cells(const char* text);

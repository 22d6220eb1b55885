// The five pictures of the default presentation, drawn from geometry alone.
//
// How the presentation shows them decides their design:
//   up, down  alternate on every step (about ten times a second), so they are
//             one emblem in two counter-phase frames: spiral rays twisted the
//             other way and turned by half a ray, centre colours swapped;
//   demo2     is shown one half at a time, each half stretched over the whole
//             panel, so each half is drawn squeezed to half its width: the
//             right half (shown first) a target, the left half a star;
//   trevak    lies over the lower half of the panel, its upper half on some
//             steps and its lower half on others, shifted right and clipped
//             at the panel's edge: one word per half, kept clear of the
//             clipped right tenth;
//   mono      lies over the panel, offset right, from 6.1 s on: a viewfinder
//             of rings, ticks, corner brackets, faint scanlines and a name.
// trevak and mono are masks: only red counts, and on screen red 0 shows black
// while red 255 lets the picture through, so they are drawn as grey ink on
// white. up, down and demo2 show in their own colours; none of them uses a
// pure green (red and blue 0), which the texture set would turn white.
#pragma once

#include "canvas.h"

// Side of every picture: a power of two, as GL 1.1 textures need.
constexpr int kPictureSide = 512;

Canvas draw_up();
Canvas draw_down();
Canvas draw_demo2();
Canvas draw_trevak();
Canvas draw_mono();

// The emblem of up, side pixels square: the program's icon. The shapes are
// defined over the whole square, so any side draws the same design; at
// kPictureSide it is the up picture itself.
Canvas draw_emblem(int side);

// Draws one whole frame of the presentation from the timeline position.
//
// The frame: a black background, a square picture panel in the middle chosen
// by the step index (about ten steps a second), an overlay over the panel on
// some steps and from kMonoOverlayFromTicks (config/presentation.h) on, and
// last an inversion of the whole view area. The depth buffer clips the
// overlays to the panel and is left at the same state at the end of every
// frame, so it is never cleared here.
//
// Expects the GL state init_gl_state leaves: the letterboxed projection,
// modelview current and identity, depth test on, face culling off.
#pragma once

#include <cstdint>

struct PanelRect {
    float x0, y0, x1, y1;
};

// The step a panel position falls in, and how far into it (in [0, 1) for
// every position below 2^30 ticks).
struct PanelStep {
    int32_t index;
    float fraction;
};

void draw_frame();
// The panel's picture, its overlays and, from the mono overlay's start, the
// mono picture, all for the one timeline position the frame is drawn at.
void draw_panel(PanelRect rect, uint32_t timeline);
void invert_frame();

PanelStep panel_step(float x);
// The panel position of a timeline position: twice it, rounded down to a
// multiple of 4.
float panel_position(uint32_t timeline);

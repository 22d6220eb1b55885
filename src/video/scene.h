// Draws one whole frame of the presentation from the timeline position.
#pragma once

struct PanelRect {
    float x0, y0, x1, y1;
};

void draw_frame();
void draw_panel(PanelRect rect, float x);
void invert_frame();

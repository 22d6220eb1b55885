// The GL state every frame relies on: the letterboxed viewport, the
// orthographic projection with y growing downward, depth testing, and colour
// and depth buffers that start clear. Needs a current GL context; reads
// Settings, DisplayArea and Viewport.
#pragma once

#include <cstdint>

struct ViewRect {
    int32_t x, y, width, height;  // GL's viewport: y counted from the bottom
};

// Where the drawing area goes in a client area of the given size: in one of
// the configured size the DisplayArea, centred; in any other (a desktop that
// made the full screen larger than the mode asked for, or a compositor that
// sized the window itself) the largest area of the configured aspect that
// fits, centred the same way.
ViewRect view_rect(int32_t client_width, int32_t client_height);

// The whole set-up for a new context, for a client area of the configured size.
void set_up_view();
// Before a frame: after a change of size, the depth buffer starts at the far
// end again once the drawable has really taken the new size.
void settle_view();
// The same for a client area of another size, after it changed: the buffers
// start clear again, and viewport and projection follow the new size.
void fit_view_to_client(int32_t client_width, int32_t client_height);

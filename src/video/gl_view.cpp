#include "video/gl_view.h"

#include <GL/gl.h>

#include "config/settings.h"

namespace {

// Frames that still clear the depth buffer after the client area changed
// size. The drawable takes its new size only at a later buffer swap, with
// a new depth buffer whose content no one promises; a few frames cover
// every swap chain.
constexpr int kClearsAfterResize = 3;
int DepthClearsDue = 0;

void set_projection(const ViewRect& view) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport(view.x, view.y, view.width, view.height);
    // y grows downward and one unit spans as many pixels across as down. The
    // settings never give a zero width; should one come, the projection is
    // left as the identity rather than divided by zero.
    if (view.width != 0) {
        const double r = static_cast<double>(view.height) / static_cast<double>(view.width);
        glOrtho(-1.0, 1.0, r, -r, 0.0625, 1024.0);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace

ViewRect view_rect(int32_t client_width, int32_t client_height) {
    DisplayAreaRecord area = DisplayArea;
    if ((client_width != Settings.window_width || client_height != Settings.window_height) &&
        client_width > 0 && client_height > 0)
        area = letterbox_area(client_width, client_height, Viewport.width, Viewport.height);
    else {
        client_width = Settings.window_width;
        client_height = Settings.window_height;
    }
    return ViewRect{(client_width - area.area_width) / 2, (client_height - area.area_height) / 2,
                    area.area_width, area.area_height};
}

void set_up_view() { fit_view_to_client(Settings.window_width, Settings.window_height); }

void fit_view_to_client(int32_t client_width, int32_t client_height) {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // The scene never clears depth: it relies on the buffer starting at the far
    // end, which neither a new context nor a drawable that grew promises. One
    // clear here makes the first frame of every context and size look like
    // all the others.
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);

    set_projection(view_rect(client_width, client_height));
    DepthClearsDue =
        (client_width != Settings.window_width || client_height != Settings.window_height)
            ? kClearsAfterResize
            : 0;

    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
}

void settle_view() {
    if (DepthClearsDue == 0) return;
    --DepthClearsDue;
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
}

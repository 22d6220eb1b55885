#include "video/gl_view.h"

#include <GL/gl.h>

#include "config/settings.h"

void set_up_view() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // The scene never clears depth: it relies on the buffer starting at the far
    // end, which a new context does not promise. One clear here makes the first
    // frame of every context look like all the others.
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const int32_t area_width = DisplayArea.area_width;
    const int32_t area_height = DisplayArea.area_height;
    glViewport((Settings.window_width - area_width) / 2, (Settings.window_height - area_height) / 2,
               area_width, area_height);
    // y grows downward and one unit spans as many pixels across as down. The
    // settings never give a zero width; should one come, the projection is
    // left as the identity rather than divided by zero.
    if (area_width != 0) {
        const double r = static_cast<double>(area_height) / static_cast<double>(area_width);
        glOrtho(-1.0, 1.0, r, -r, 0.0625, 1024.0);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
}

#include "canvas.h"

Canvas make_canvas(int width, int height) {
    Canvas canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    return canvas;
}

#include "canvas.h"

Canvas make_canvas(int width, int height) {
    Canvas canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    return canvas;
}

Canvas shrink(const Canvas& canvas, int factor) {
    Canvas small = make_canvas(canvas.width / factor, canvas.height / factor);
    const int n = factor * factor;
    for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x)
            for (int k = 0; k < 3; ++k) {
                int sum = 0;
                for (int sy = 0; sy < factor; ++sy)
                    for (int sx = 0; sx < factor; ++sx)
                        sum += canvas.rgb[(static_cast<size_t>(y * factor + sy) * canvas.width +
                                           static_cast<size_t>(x * factor + sx)) *
                                              3 +
                                          k];
                small.rgb[(static_cast<size_t>(y) * small.width + x) * 3 + k] =
                    static_cast<uint8_t>((sum + n / 2) / n);
            }
    return small;
}

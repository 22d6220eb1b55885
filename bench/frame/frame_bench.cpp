// Frame cost: draw_frame plus the buffer swap at 800 x 600, against a bare
// baseline frame of seven textured quads over the whole view with the
// overlays' blending, plus the swap, measured in the same run.
//
//   frame_bench [--frames N] [--quick]
//
// Runs N frames of each (default 1000, then the first 500 of them reported
// too), interleaved in blocks of 100 so that both see the same load, and
// prints "name value" lines: the median milliseconds per frame and the ratio
// ours / baseline. Needs a display (xvfb-run works; Mesa llvmpipe there).
#include <GL/gl.h>
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/presentation.h"
#include "resources/textures.h"
#include "support/gl_test_context.h"
#include "timeline/timeline_position.h"
#include "video/scene.h"

// The renderer reads the texture set and the timeline position; the
// benchmark fills both itself instead of running the pack, the decoder and
// the clock.
TextureSetRecord TextureSet = {{0, 0, 0}, 0, 0};

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kAreaWidth = 800;
constexpr int kAreaHeight = 500;
constexpr int kTextureSide = 512;  // the size of the default pictures
constexpr int kBlock = 100;
// Where the program starts, and one 60 Hz frame of ticks: the frames walk
// through the steps the presentation shows most (up and down with the mono
// overlay).
constexpr uint32_t kStart = kStartTicks;
constexpr uint32_t kTicksPerFrame = 1470;

using Clock = std::chrono::steady_clock;

GLuint pattern_texture(uint32_t seed, bool mask) {
    return make_test_texture(kTextureSide, kTextureSide, [=](int x, int y) {
        uint32_t h =
            (static_cast<uint32_t>(x) * 73856093u) ^ (static_cast<uint32_t>(y) * 19349663u) ^ seed;
        uint32_t grey = ((x / 32 + y / 32) & 1) ? 200u : 40u;
        uint32_t alpha = mask ? ((h >> 8) & 0xFFu) : 0u;
        return (grey << 24) | (((h >> 16) & 0xFFu) << 16) | (grey << 8) | alpha;
    });
}

void quad(float z) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex3f(-1, 1, z);
    glTexCoord2f(1, 1);
    glVertex3f(1, 1, z);
    glTexCoord2f(1, 0);
    glVertex3f(1, -1, z);
    glTexCoord2f(0, 0);
    glVertex3f(-1, -1, z);
    glEnd();
}

// Seven textured quads over the whole view, blended as the overlays are.
void draw_baseline_frame() {
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA);
    glColor3f(1, 1, 1);
    const GLuint textures[7] = {TextureSet.pictures[0], TextureSet.pictures[1],
                                TextureSet.pictures[2], TextureSet.trevakPicture,
                                TextureSet.monoPicture, TextureSet.pictures[0],
                                TextureSet.pictures[1]};
    for (GLuint texture : textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        quad(-2.0f);
    }
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

template <typename Draw>
void time_frames(const GlTestContext& gl, int count, Draw draw, std::vector<double>* out) {
    for (int i = 0; i < count; ++i) {
        Clock::time_point begin = Clock::now();
        draw();
        SDL_GL_SwapWindow(gl.window);
        Clock::time_point end = Clock::now();
        out->push_back(std::chrono::duration<double, std::milli>(end - begin).count());
    }
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            frames = 100;
        } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: frame_bench [--frames N] [--quick]\n");
            return 2;
        }
    }
    if (frames < 1) frames = 1;

    GlTestContext gl;
    if (!open_gl_test_context(&gl, kWidth, kHeight, true)) {
        std::fprintf(stderr, "frame_bench: no GL window (is there a display?)\n");
        return 1;
    }
    SDL_GL_SetSwapInterval(0);  // where the driver offers it; never under Xvfb
    set_up_drawing_area(gl, kAreaWidth, kAreaHeight);
    TextureSet.pictures[0] = pattern_texture(1, false);
    TextureSet.pictures[1] = pattern_texture(2, false);
    TextureSet.pictures[2] = pattern_texture(3, false);
    TextureSet.trevakPicture = pattern_texture(4, true);
    TextureSet.monoPicture = pattern_texture(5, true);

    uint32_t position = kStart;
    auto ours = [&] {
        TimelinePosition = position;
        position += kTicksPerFrame;
        draw_frame();
    };

    std::vector<double> ours_ms, base_ms, scratch;
    time_frames(gl, 50, ours, &scratch);  // warm-up: first uploads, caches
    time_frames(gl, 50, draw_baseline_frame, &scratch);
    for (int done = 0; done < frames; done += kBlock) {
        int n = std::min(kBlock, frames - done);
        time_frames(gl, n, ours, &ours_ms);
        time_frames(gl, n, draw_baseline_frame, &base_ms);
    }

    const char* gl_renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    std::fprintf(stderr, "renderer: %s\n", gl_renderer ? gl_renderer : "?");
    auto report = [&](int n) {
        std::vector<double> a(ours_ms.begin(), ours_ms.begin() + n);
        std::vector<double> b(base_ms.begin(), base_ms.begin() + n);
        double ma = median(a);
        double mb = median(b);
        std::printf("frame_ms_%d %.4f\n", n, ma);
        std::printf("baseline_ms_%d %.4f\n", n, mb);
        std::printf("ratio_%d %.4f\n", n, mb > 0 ? ma / mb : 0.0);
    };
    report(frames);
    if (frames >= 1000) report(500);
    close_gl_test_context(&gl);
    return 0;
}

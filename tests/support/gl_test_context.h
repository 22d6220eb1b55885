// A real GL context for renderer tests and the frame benchmark, made with SDL2
// directly so that it depends on no other part of the program: a hidden
// window with a double-buffered RGBA visual and a depth buffer, and the GL
// state that init_gl_state sets for a client area and a drawing area.
#pragma once

#include <GL/gl.h>
#include <SDL.h>

#include <cstdint>
#include <vector>

struct GlTestContext {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    int width = 0;
    int height = 0;
};

// False (with SDL's reason on stderr) when no window or context can be made.
bool open_gl_test_context(GlTestContext* gl, int width, int height, bool visible = false);
void close_gl_test_context(GlTestContext* gl);

// The viewport and projection of a drawing area centred in the client area,
// depth test on, culling off, colour cleared; depth cleared to `depth`.
void set_up_drawing_area(const GlTestContext& gl, int area_width, int area_height,
                         double depth = 1.0);

// The back buffer as RGBA bytes, rows from the bottom (GL's order).
std::vector<uint8_t> read_back_buffer(const GlTestContext& gl);

// Makes an RGBA texture of w x h texels from a function of the texel.
template <typename Texel>
GLuint make_test_texture(int w, int h, Texel texel) {
    std::vector<uint8_t> bytes(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t rgba = texel(x, y);
            uint8_t* p = &bytes[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>(rgba >> 24);
            p[1] = static_cast<uint8_t>(rgba >> 16);
            p[2] = static_cast<uint8_t>(rgba >> 8);
            p[3] = static_cast<uint8_t>(rgba);
        }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    return name;
}

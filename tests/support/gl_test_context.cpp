#include "support/gl_test_context.h"

#include <cstdio>

bool open_gl_test_context(GlTestContext* gl, int width, int height, bool visible) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL_InitSubSystem: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    Uint32 flags = SDL_WINDOW_OPENGL | (visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
    gl->window = SDL_CreateWindow("frame", 0, 0, width, height, flags);
    if (!gl->window) {
        std::fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    gl->context = SDL_GL_CreateContext(gl->window);
    if (!gl->context) {
        std::fprintf(stderr, "SDL_GL_CreateContext: %s\n", SDL_GetError());
        SDL_DestroyWindow(gl->window);
        gl->window = nullptr;
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    gl->width = width;
    gl->height = height;
    return true;
}

void close_gl_test_context(GlTestContext* gl) {
    if (gl->context) SDL_GL_DeleteContext(gl->context);
    if (gl->window) SDL_DestroyWindow(gl->window);
    if (gl->window || gl->context) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    *gl = GlTestContext{};
}

void set_up_drawing_area(const GlTestContext& gl, int area_width, int area_height, double depth) {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(depth);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport((gl.width - area_width) / 2, (gl.height - area_height) / 2, area_width, area_height);
    double r = static_cast<double>(area_height) / area_width;
    glOrtho(-1.0, 1.0, r, -r, 0.0625, 1024.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
}

std::vector<uint8_t> read_back_buffer(const GlTestContext& gl) {
    std::vector<uint8_t> pixels(static_cast<size_t>(gl.width) * gl.height * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, gl.width, gl.height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

// A GL context to capture frames in, never shown on the screen.
//
// With a display, a hidden SDL window with its GL context: what is drawn into
// its back buffer is read back with glReadPixels before any swap, which is
// exact (the front buffer of a window that was never shown holds nothing).
// With no display, or when the display gives no GL context, the same through
// SDL's "offscreen" video driver, which renders through Mesa's EGL without any
// window system (EGL_PLATFORM=surfaceless). When both fail the reason of each
// is kept for the message.
//
// The GL state then set is the program's own after its window set-up: the
// letterboxed viewport and projection from the settings, depth cleared to the
// far end, depth test on, no culling, model-view current.
#pragma once

#include <cstddef>
#include <cstdint>

struct SDL_Window;

struct OffscreenGlRecord {
    SDL_Window* window;
    void* gl_context;
    int width;
    int height;
    bool surfaceless;  // made by the offscreen driver, not on a display
};

extern OffscreenGlRecord OffscreenGl;

// A context of width x height with 8-bit RGBA and a depth buffer, current on
// this thread. false with the reasons in error.
bool create_offscreen_gl(int width, int height, char* error, size_t error_size);
// The set-up the program's init_gl_state does before it builds the textures.
void init_capture_gl_state();
// width * height * 4 bytes, RGBA, bottom row first.
void read_back_buffer(uint8_t* pixels);
void destroy_offscreen_gl();
// "llvmpipe (LLVM ...)" or similar, for the report.
const char* offscreen_renderer();

// A GL context to capture frames in, never shown on the screen.
//
// With a display, a hidden SDL window with its GL context; with no display,
// or when the display gives no GL context, the same through SDL's "offscreen"
// video driver, which renders through Mesa's EGL without any window system
// (EGL_PLATFORM=surfaceless). When both fail the reason of each is kept for
// the message.
//
// Frames are drawn into a framebuffer object of the capture's size, not into
// the window: the pixels of a window that is never shown belong to no one,
// so what its buffers hold is up to the driver, and a window cannot be larger
// than the screen everywhere. The framebuffer has 8 bits a channel, so what
// is read back is what was drawn, and a depth buffer as deep as the window's
// (which is what the program draws with).
//
// The GL state then set is the program's own after its window set-up, for a
// window of the capture's size: the letterboxed viewport and projection from
// the settings, depth cleared to the far end, depth test on, no culling,
// model-view current.
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
    unsigned framebuffer;
    unsigned color;  // renderbuffers
    unsigned depth;
};

extern OffscreenGlRecord OffscreenGl;

// A context current on this thread with a width x height framebuffer bound.
// false with the reason in error: no context, or a size beyond what this GL
// renders (its largest viewport and renderbuffer).
bool create_offscreen_gl(int width, int height, char* error, size_t error_size);
// The set-up the program's init_gl_state does before it builds the textures.
void init_capture_gl_state();
// width * height * 4 bytes, bottom row first: RGBA, or BGRA (the order
// llvmpipe keeps its pixels in, read back without reordering).
void read_frame_rgba(uint8_t* pixels);
void read_frame_bgra(uint8_t* pixels);
void destroy_offscreen_gl();
// "llvmpipe (LLVM ...)" or similar, for the report.
const char* offscreen_renderer();

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
// is read back is what was drawn, and a 16-bit depth buffer, what the
// program's pixel format asks for.
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
enum class PixelOrder { kRgba, kBgra };
// Rows first .. first + count - 1 of the frame, counted from the bottom, as
// width * count * 4 bytes, the bottom row first. Reading a frame a band at a
// time keeps the memory needed small however large the frame.
void read_rows(uint8_t* pixels, int first, int count, PixelOrder order);
void destroy_offscreen_gl();
// "llvmpipe (LLVM ...)" or similar, for the report.
const char* offscreen_renderer();

#include "offscreen_gl.h"

#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>

#include "config/settings.h"
#include "video/gl_view.h"

OffscreenGlRecord OffscreenGl = {nullptr, nullptr, 0, 0, false};

namespace {

// One attempt with whatever video driver SDL picks now. On failure the reason
// is written to reason and SDL is shut down again.
bool try_context(int width, int height, char* reason, size_t reason_size) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::snprintf(reason, reason_size, "%s", SDL_GetError());
        return false;
    }
    // Exactly 8 bits a channel, so that what is read back is what was drawn;
    // double-buffered with a depth buffer, like the program's pixel format.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window = SDL_CreateWindow("demo-capture", 0, 0, width, height,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) {
        std::snprintf(reason, reason_size, "%s", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context || SDL_GL_MakeCurrent(window, context) != 0) {
        std::snprintf(reason, reason_size, "%s", SDL_GetError());
        if (context) SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    OffscreenGl = OffscreenGlRecord{window, context, width, height, false};
    return true;
}

}  // namespace

bool create_offscreen_gl(int width, int height, char* error, size_t error_size) {
    char first[256] = "";
    const char* driver_asked = std::getenv("SDL_VIDEODRIVER");
    if (try_context(width, height, first, sizeof first)) {
        const char* driver = SDL_GetCurrentVideoDriver();
        OffscreenGl.surfaceless = driver && SDL_strcmp(driver, "offscreen") == 0;
        return true;
    }
    // A driver chosen by the user is not second-guessed.
    if (driver_asked && driver_asked[0] != '\0') {
        std::snprintf(error, error_size, "no GL context with the video driver '%s': %s",
                      driver_asked, first);
        return false;
    }
    // No display: render through Mesa without a window system. EGL reads its
    // platform from the environment only; a value the user set is kept.
    setenv("EGL_PLATFORM", "surfaceless", 0);
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    char second[256] = "";
    if (try_context(width, height, second, sizeof second)) {
        OffscreenGl.surfaceless = true;
        return true;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
    std::snprintf(error, error_size,
                  "no GL context to render in: on the display: %s; offscreen through Mesa "
                  "(EGL, surfaceless): %s",
                  first, second);
    return false;
}

void init_capture_gl_state() { set_up_view(); }

void read_back_buffer(uint8_t* pixels) {
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, OffscreenGl.width, OffscreenGl.height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
}

void destroy_offscreen_gl() {
    if (OffscreenGl.gl_context) SDL_GL_DeleteContext(OffscreenGl.gl_context);
    if (OffscreenGl.window) SDL_DestroyWindow(OffscreenGl.window);
    if (OffscreenGl.window) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    OffscreenGl = OffscreenGlRecord{nullptr, nullptr, 0, 0, false};
}

const char* offscreen_renderer() {
    const GLubyte* name = glGetString(GL_RENDERER);
    return name ? reinterpret_cast<const char*>(name) : "unknown renderer";
}

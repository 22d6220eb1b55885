#include "offscreen_gl.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>

#include "video/gl_view.h"

OffscreenGlRecord OffscreenGl = {nullptr, nullptr, 0, 0, false, 0, 0, 0};

namespace {

// The window only carries the context; frames never go into it.
constexpr int kWindowSide = 64;

// The framebuffer calls, from GL 3.0 / ARB_framebuffer_object or from the
// older EXT extension (same signatures and values).
struct FramebufferCalls {
    PFNGLGENFRAMEBUFFERSPROC gen_framebuffers;
    PFNGLBINDFRAMEBUFFERPROC bind_framebuffer;
    PFNGLDELETEFRAMEBUFFERSPROC delete_framebuffers;
    PFNGLGENRENDERBUFFERSPROC gen_renderbuffers;
    PFNGLBINDRENDERBUFFERPROC bind_renderbuffer;
    PFNGLRENDERBUFFERSTORAGEPROC renderbuffer_storage;
    PFNGLDELETERENDERBUFFERSPROC delete_renderbuffers;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebuffer_renderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC check_framebuffer_status;
};
FramebufferCalls Fbo{};

template <typename T>
void look_up(T* call, const char* name, const char* suffix) {
    char full[64];
    std::snprintf(full, sizeof full, "%s%s", name, suffix);
    *call = reinterpret_cast<T>(SDL_GL_GetProcAddress(full));
}

bool load_framebuffer_calls() {
    const char* suffix = nullptr;
    if (SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object")) {
        suffix = "";
    } else if (SDL_GL_ExtensionSupported("GL_EXT_framebuffer_object")) {
        suffix = "EXT";
    } else {
        return false;
    }
    look_up(&Fbo.gen_framebuffers, "glGenFramebuffers", suffix);
    look_up(&Fbo.bind_framebuffer, "glBindFramebuffer", suffix);
    look_up(&Fbo.delete_framebuffers, "glDeleteFramebuffers", suffix);
    look_up(&Fbo.gen_renderbuffers, "glGenRenderbuffers", suffix);
    look_up(&Fbo.bind_renderbuffer, "glBindRenderbuffer", suffix);
    look_up(&Fbo.renderbuffer_storage, "glRenderbufferStorage", suffix);
    look_up(&Fbo.delete_renderbuffers, "glDeleteRenderbuffers", suffix);
    look_up(&Fbo.framebuffer_renderbuffer, "glFramebufferRenderbuffer", suffix);
    look_up(&Fbo.check_framebuffer_status, "glCheckFramebufferStatus", suffix);
    return Fbo.gen_framebuffers && Fbo.bind_framebuffer && Fbo.delete_framebuffers &&
           Fbo.gen_renderbuffers && Fbo.bind_renderbuffer && Fbo.renderbuffer_storage &&
           Fbo.delete_renderbuffers && Fbo.framebuffer_renderbuffer && Fbo.check_framebuffer_status;
}

// One attempt with whatever video driver SDL picks now. On failure the reason
// is written to reason and SDL is shut down again.
bool try_context(char* reason, size_t reason_size) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::snprintf(reason, reason_size, "%s", SDL_GetError());
        return false;
    }
    // Like the program's pixel format: 8 bits a channel, double-buffered,
    // with a depth buffer of at least 16 bits.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window = SDL_CreateWindow("velkorandi-capture", 0, 0, kWindowSide, kWindowSide,
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
    OffscreenGl = OffscreenGlRecord{window, context, 0, 0, false, 0, 0, 0};
    return true;
}

bool make_context(char* error, size_t error_size) {
    char first[256] = "";
    const char* driver_asked = std::getenv("SDL_VIDEODRIVER");
    if (try_context(first, sizeof first)) {
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
    if (try_context(second, sizeof second)) {
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

// The framebuffer of width x height, bound. false with the reason in error.
bool make_framebuffer(int width, int height, char* error, size_t error_size) {
    if (!load_framebuffer_calls()) {
        std::snprintf(error, error_size, "%s has no framebuffer objects to render offscreen into",
                      offscreen_renderer());
        return false;
    }
    GLint viewport[2] = {0, 0};
    GLint renderbuffer = 0;
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    const int max_width = viewport[0] < renderbuffer ? viewport[0] : renderbuffer;
    const int max_height = viewport[1] < renderbuffer ? viewport[1] : renderbuffer;
    if (width > max_width || height > max_height) {
        std::snprintf(error, error_size,
                      "%dx%d is larger than %s renders: at most %dx%d (its largest viewport and "
                      "renderbuffer)",
                      width, height, offscreen_renderer(), max_width, max_height);
        return false;
    }
    while (glGetError() != GL_NO_ERROR) {
    }
    Fbo.gen_framebuffers(1, &OffscreenGl.framebuffer);
    Fbo.bind_framebuffer(GL_FRAMEBUFFER, OffscreenGl.framebuffer);
    Fbo.gen_renderbuffers(1, &OffscreenGl.color);
    Fbo.bind_renderbuffer(GL_RENDERBUFFER, OffscreenGl.color);
    Fbo.renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    Fbo.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                 OffscreenGl.color);
    Fbo.gen_renderbuffers(1, &OffscreenGl.depth);
    Fbo.bind_renderbuffer(GL_RENDERBUFFER, OffscreenGl.depth);
    Fbo.renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
    Fbo.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                 OffscreenGl.depth);
    const GLenum status = Fbo.check_framebuffer_status(GL_FRAMEBUFFER);
    const GLenum problem = glGetError();
    if (status != GL_FRAMEBUFFER_COMPLETE || problem != GL_NO_ERROR) {
        std::snprintf(error, error_size,
                      "%s cannot make a %dx%d framebuffer (status 0x%x, error 0x%x%s)",
                      offscreen_renderer(), width, height, status, problem,
                      problem == GL_OUT_OF_MEMORY ? ": out of memory" : "");
        return false;
    }
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    OffscreenGl.width = width;
    OffscreenGl.height = height;
    return true;
}

}  // namespace

bool create_offscreen_gl(int width, int height, char* error, size_t error_size) {
    if (!make_context(error, error_size)) return false;
    if (make_framebuffer(width, height, error, error_size)) return true;
    destroy_offscreen_gl();
    return false;
}

void init_capture_gl_state() { set_up_view(); }

void read_rows(uint8_t* pixels, int first, int count, PixelOrder order) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, first, OffscreenGl.width, count, order == PixelOrder::kBgra ? GL_BGRA : GL_RGBA,
                 GL_UNSIGNED_BYTE, pixels);
}

void destroy_offscreen_gl() {
    if (OffscreenGl.framebuffer) {
        Fbo.bind_framebuffer(GL_FRAMEBUFFER, 0);
        Fbo.delete_framebuffers(1, &OffscreenGl.framebuffer);
    }
    const GLuint renderbuffers[] = {OffscreenGl.color, OffscreenGl.depth};
    if (OffscreenGl.color || OffscreenGl.depth) Fbo.delete_renderbuffers(2, renderbuffers);
    if (OffscreenGl.gl_context) SDL_GL_DeleteContext(OffscreenGl.gl_context);
    if (OffscreenGl.window) SDL_DestroyWindow(OffscreenGl.window);
    if (OffscreenGl.window) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    OffscreenGl = OffscreenGlRecord{nullptr, nullptr, 0, 0, false, 0, 0, 0};
}

const char* offscreen_renderer() {
    const GLubyte* name = glGetString(GL_RENDERER);
    return name ? reinterpret_cast<const char*>(name) : "unknown renderer";
}

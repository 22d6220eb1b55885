// SDL2 PLATFORM: device contexts, pixel formats, GL contexts, presenting, the cursor.
//
// IMPLEMENTS
//   platform/platform.h, GDI's device contexts, pixel formats and buffer swaps,
//   WGL's contexts and USER32's cursor: GetDC, ReleaseDC, ChoosePixelFormat,
//   SetPixelFormat, SwapBuffers, wglCreateContext, wglMakeCurrent,
//   wglDeleteContext, ShowCursor.
//
// HOW
//   A window has one device context for its whole life, as with CS_OWNDC. A
//   GL context is an SDL GL context made on the window and checked for
//   OpenGL 1.1; it becomes current only through wglMakeCurrent, which also
//   asks once for swaps in step with the display. ShowCursor keeps Win32's
//   display count and hides SDL's pointer while it is negative.
//
// LIMITATIONS
//   - The visual of an SDL window is fixed when the window is made, so the GL
//     attributes (compatibility profile, double-buffered RGB 8-8-8 without
//     alpha, as the program's pixel format asks for none; depth of
//     at least 16 bits) are set before every window. There is exactly one
//     pixel format, index 1: ChoosePixelFormat checks that the request can be
//     met and SetPixelFormat records it; a colour depth or depth-buffer size
//     different from what the window got is matched as "closest", as Win32 does.
//   - SwapBuffers works only on a window whose context is current on the
//     calling thread (SDL's rule); Win32 would swap any window's buffers.
//
// DEPENDENCIES
//   SDL 2 video (GL contexts, the pointer) and the system libGL.
#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <cstdio>

#include "platform/platform.h"
#include "sdl2_internal.h"
#include "sdl2_state.h"

using namespace sdl2;

namespace {

constexpr int kOnlyPixelFormat = 1;

WindowEntry* window_of_dc(HDC dc) {
    auto& s = state();
    auto it = s.device_contexts.find(dc);
    return it == s.device_contexts.end() ? nullptr : find_window(it->second);
}

bool gl_version_at_least_1_1() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2) return false;
    return major > 1 || (major == 1 && minor >= 1);
}

}  // namespace

SDL_Window* sdl2::create_gl_capable_window(const char* title, int x, int y, int w, int h,
                                           Uint32 flags) {
    // The visual is chosen here, from these attributes. No alpha channel is
    // asked for, as the program's pixel format asks for none (cAlphaBits 0)
    // and draws with source alpha only; on some X servers a visual with alpha
    // is a 32-bit one that a compositor blends with the desktop.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    return SDL_CreateWindow(title, x, y, w, h, flags);
}

void sdl2::apply_cursor() { SDL_ShowCursor(state().cursor_count >= 0 ? SDL_ENABLE : SDL_DISABLE); }

// ---- GL context

HDC GetDC(HWND handle) {
    auto& s = state();
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Like CS_OWNDC: one device context for the whole life of the window.
    if (!w->dc) {
        w->dc = new_handle();
        s.device_contexts[w->dc] = handle;
    }
    return w->dc;
}

int ReleaseDC(HWND handle, HDC dc) {
    const WindowEntry* w = find_window(handle);
    return (w && dc != 0 && w->dc == dc) ? 1 : 0;
}

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (!window_of_dc(dc)) {
        SetLastError(ERROR_DC_NOT_FOUND);
        return 0;
    }
    if (!descriptor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD needed = PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW;
    if ((descriptor->dwFlags & needed) != needed || descriptor->iPixelType != PFD_TYPE_RGBA) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);  // no colour-index or bitmap formats here
        return 0;
    }
    return kOnlyPixelFormat;
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR*) {
    WindowEntry* w = window_of_dc(dc);
    if (!w) {
        SetLastError(ERROR_DC_NOT_FOUND);
        return FALSE;
    }
    if (format != kOnlyPixelFormat) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    w->pixel_format = format;
    return TRUE;
}

HGLRC wglCreateContext(HDC dc) {
    WindowEntry* w = window_of_dc(dc);
    if (!w) {
        SetLastError(ERROR_DC_NOT_FOUND);
        return 0;
    }
    if (w->pixel_format == 0) {  // Win32 needs SetPixelFormat first, too
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return 0;
    }
    // SDL makes a new context current; WGL does not. Put back what was.
    SDL_Window* previous_window = SDL_GL_GetCurrentWindow();
    SDL_GLContext previous = SDL_GL_GetCurrentContext();
    SDL_GLContext gl = SDL_GL_CreateContext(w->sdl);
    if (!gl) {
        report_sdl_failure("SDL_GL_CreateContext", ERROR_INVALID_PIXEL_FORMAT);
        SDL_GL_MakeCurrent(previous ? previous_window : nullptr, previous);
        return 0;
    }
    const bool usable = gl_version_at_least_1_1();
    SDL_GL_MakeCurrent(previous ? previous_window : nullptr, previous);
    if (!usable) {
        SDL_GL_DeleteContext(gl);
        SetLastError(ERROR_NOT_SUPPORTED);
        std::fputs("platform: the GL context offers no OpenGL 1.1\n", stderr);
        return 0;
    }
    const HGLRC handle = new_handle();
    state().contexts[handle] = ContextEntry{gl, false};
    return handle;
}

BOOL wglMakeCurrent(HDC dc, HGLRC context) {
    auto& s = state();
    if (context == 0) {  // the device context does not matter then
        if (s.video == Video::ready) SDL_GL_MakeCurrent(nullptr, nullptr);
        return TRUE;
    }
    auto c = s.contexts.find(context);
    if (c == s.contexts.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    WindowEntry* w = window_of_dc(dc);
    if (!w) {
        SetLastError(ERROR_DC_NOT_FOUND);
        return FALSE;
    }
    if (w->pixel_format != kOnlyPixelFormat) {
        SetLastError(ERROR_INVALID_PIXEL_FORMAT);
        return FALSE;
    }
    if (display_lost()) {
        SetLastError(ERROR_NO_DISPLAY);
        return FALSE;
    }
    if (SDL_GL_MakeCurrent(w->sdl, c->second.gl) != 0) {
        report_sdl_failure("SDL_GL_MakeCurrent", ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Present in step with the display where the driver can; under Xvfb it
    // cannot, and swaps simply never wait.
    if (!c->second.swap_interval_set) {
        SDL_GL_SetSwapInterval(1);
        c->second.swap_interval_set = true;
    }
    return TRUE;
}

BOOL wglDeleteContext(HGLRC context) {
    auto& s = state();
    auto c = s.contexts.find(context);
    if (c == s.contexts.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Its display gone, a context is only forgotten: releasing it would talk
    // to the dead connection.
    if (!display_lost()) SDL_GL_DeleteContext(c->second.gl);  // releases it first if current
    s.contexts.erase(c);
    return TRUE;
}

// ---- presenting, cursor

BOOL SwapBuffers(HDC dc) {
    const WindowEntry* w = window_of_dc(dc);
    if (!w) {
        SetLastError(ERROR_DC_NOT_FOUND);
        return FALSE;
    }
    if (display_lost()) {
        SetLastError(ERROR_NO_DISPLAY);
        return FALSE;
    }
    if (SDL_GL_GetCurrentWindow() != w->sdl || !SDL_GL_GetCurrentContext()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    SDL_GL_SwapWindow(w->sdl);
    return TRUE;
}

int ShowCursor(BOOL show) {
    auto& s = state();
    s.cursor_count += show ? 1 : -1;
    if (s.video == Video::ready) apply_cursor();
    return s.cursor_count;
}

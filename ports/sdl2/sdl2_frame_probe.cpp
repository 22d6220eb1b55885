// SDL2 PLATFORM: the frame a window manager puts around a titled window.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. What window placement
//   (sdl2_windows.cpp) and the screen's metrics (sdl2_display_modes.cpp)
//   know of the window manager.
//
// HOW
//   Asked once, before the first titled window is placed: an unmapped probe
//   window on a connection of its own asks the manager for its frame
//   extents (_NET_REQUEST_FRAME_EXTENTS), and the answer in
//   _NET_FRAME_EXTENTS is the frame a titled window of ours gets, as they
//   all ask for the same decorations. A manager that does not answer still
//   counts as one: it places the frame, not the client area, where a window
//   asks to be.
//
// LIMITATIONS
//   - X11 only (X.Org, XWayland). A Wayland compositor places windows itself.
//   - A manager that decorates windows of different kinds differently is
//     measured for a plain top-level window.
//
// DEPENDENCIES
//   Xlib; the EWMH of the window manager.
#include <SDL2/SDL_video.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <chrono>
#include <cstring>

#include "sdl2_internal.h"

namespace {

// openbox answers within milliseconds; weston's XWayland manager never
// does, and the first window waits this long there. A late answer costs
// little: the window is still put in place once its frame is known.
constexpr auto kAnswerTimeout = std::chrono::milliseconds(250);

bool has_window_manager(Display* display) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found =
        XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        type == XA_WINDOW && count == 1;
    if (data) XFree(data);
    return found;
}

bool read_extents(Display* display, Window window, Atom extents, WindowFrame* frame) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool read = XGetWindowProperty(display, window, extents, 0, 4, False, XA_CARDINAL, &type,
                                   &format, &count, &after, &data) == Success &&
                type == XA_CARDINAL && format == 32 && count == 4;
    if (read) {
        // Format-32 properties arrive as longs: left, right, top, bottom.
        const auto* values = reinterpret_cast<const long*>(data);
        *frame = WindowFrame{static_cast<int>(values[0]), static_cast<int>(values[2]),
                             static_cast<int>(values[1]), static_cast<int>(values[3])};
    }
    if (data) XFree(data);
    return read;
}

bool await_extents(Display* display, Window probe, Atom extents, WindowFrame* frame) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    for (;;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == extents)
                return read_extents(display, probe, extents, frame);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{ConnectionNumber(display), POLLIN, 0};
        poll(&pfd, 1, static_cast<int>(left.count()));
    }
}

sdl2::ManagedFrame probe_window_manager() {
    sdl2::ManagedFrame result{};
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) return result;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return result;
    if (has_window_manager(display)) {
        result.managed = true;
        const Window probe =
            XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 64, 64, 0, 0, 0);
        XSelectInput(display, probe, PropertyChangeMask);
        // Of a fixed size, as the program's windows are: a manager draws no
        // resize handles around such a window, and so a narrower frame.
        XSizeHints* hints = XAllocSizeHints();
        if (hints) {
            hints->flags = PMinSize | PMaxSize;
            hints->min_width = hints->max_width = 64;
            hints->min_height = hints->max_height = 64;
            XSetWMNormalHints(display, probe, hints);
            XFree(hints);
        }
        const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
        XEvent request{};
        request.xclient.type = ClientMessage;
        request.xclient.window = probe;
        request.xclient.message_type = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
        request.xclient.format = 32;
        XSendEvent(display, DefaultRootWindow(display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &request);
        XFlush(display);
        await_extents(display, probe, extents, &result.frame);
        XDestroyWindow(display, probe);
    }
    XCloseDisplay(display);
    return result;
}

}  // namespace

const sdl2::ManagedFrame& sdl2::window_manager_frame() {
    static const ManagedFrame probed = probe_window_manager();
    return probed;
}

#include "platform_sdl2_xhelper.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace xhelper {
namespace {

// A window may vanish between listing and asking; that must not end the test
// process, which Xlib's default handler would do.
int ignore_error(Display*, XErrorEvent*) { return 0; }

struct Connection {
    Display* display = XOpenDisplay(nullptr);
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(ignore_error);
    ~Connection() {
        if (display) {
            XSync(display, False);
            XCloseDisplay(display);
        }
        XSetErrorHandler(previous);
    }
};

unsigned long search(Display* display, Window window, const std::string& name, int depth) {
    char* title = nullptr;
    if (XFetchName(display, window, &title) && title) {
        bool match = name == title;
        XFree(title);
        if (match) return window;
    }
    if (depth > 4) return 0;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    unsigned long found = 0;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = search(display, children[i], name, depth + 1);
    if (children) XFree(children);
    return found;
}

}  // namespace

unsigned long find_window(const std::string& name) {
    Connection c;
    if (!c.display) return 0;
    return search(c.display, DefaultRootWindow(c.display), name, 0);
}

bool window_size(unsigned long window, int* width, int* height) {
    Connection c;
    XWindowAttributes attributes{};
    if (!c.display || !XGetWindowAttributes(c.display, window, &attributes)) return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool send_delete_window(unsigned long window) {
    Connection c;
    if (!c.display) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(c.display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(c.display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    return XSendEvent(c.display, window, False, NoEventMask, &event) != 0;
}

}  // namespace xhelper

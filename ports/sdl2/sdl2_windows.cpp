// SDL2 PLATFORM: window classes and windows; their size, place, title and focus.
//
// IMPLEMENTS
//   platform/platform.h, USER32's classes and windows: GetModuleHandleA
//   (KERNEL32), LoadIconA, LoadCursorA, RegisterClassA, UnregisterClassA,
//   CreateWindowExA, DestroyWindow, CloseWindow, GetClientRect, SetWindowPos,
//   SetWindowTextA, ShowWindow, SetForegroundWindow, SetFocus.
//
// HOW
//   A window is an SDL window, made hidden with a visual for the program's
//   pixel format (sdl2_gl.cpp); a WS_POPUP window is borderless. Classes are
//   a table keyed by the lower-case name, as Win32 class names compare
//   without regard to case. WM_CREATE and WM_DESTROY reach the window
//   procedure inside CreateWindowExA and DestroyWindow, as on Win32.
//
// LIMITATIONS
//   - SDL windows are client areas: X11 or the window manager draws any frame
//     outside them. The outer size that CreateWindowExA, SetWindowPos and
//     GetClientRect speak of is modelled as client area plus a frame
//     (window_frame of platform/platform.h: 3 pixels each side, 26 on top for a
//     titled window, none for WS_POPUP), or the frame the window manager
//     reports once the window is shown. The client area is therefore always
//     exact; the outer size is only as true as that frame. Extended styles,
//     parent, menu and creation parameter are ignored; WM_CREATE comes with
//     lParam 0, not a CREATESTRUCT.
//   - One module, one icon and one cursor: the fixed handles below.
//   - Titles are UTF-8. SDL 2's X11 driver passes a title through the
//     process's character type, which is "C" here, and so drops one that is
//     not ASCII; such a title is therefore also set on the X window directly
//     (_NET_WM_NAME and WM_NAME as UTF8_STRING, as desktops read them).
//
// DEPENDENCIES
//   SDL 2 video; Xlib for titles beyond ASCII.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "sdl2_internal.h"
#include "sdl2_state.h"

using namespace sdl2;

namespace {

// Fixed handles for the things this platform has exactly one of. 0x400000 is
// where Win32 loads a program's image, so the instance looks familiar in messages.
constexpr HINSTANCE kInstance = 0x00400000;
constexpr HICON kSystemIcon = 0x00010011;
constexpr HCURSOR kSystemCursor = 0x00010003;

// Larger than any screen: X11 itself stops at 32767, and a GL drawable of
// that size would take gigabytes.
constexpr int kLargestClientSide = 16384;

bool is_atom(const char* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// Win32 class names compare without regard to case.
std::string class_key(const char* name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

WindowClass* find_class(const char* name) {
    auto& s = state();
    if (!name) return nullptr;
    if (is_atom(name)) {
        ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto& [key, cls] : s.classes)
            if (cls.atom == atom) return &cls;
        return nullptr;
    }
    auto it = s.classes.find(class_key(name));
    return it == s.classes.end() ? nullptr : &it->second;
}

int client_side(int outer, int frame) {
    return static_cast<int>(
        std::clamp<long long>(static_cast<long long>(outer) - frame, 1, kLargestClientSide));
}

// X11 keeps window positions in 16 bits; anything further out is clamped there.
int screen_position(int position, int frame) {
    return static_cast<int>(
        std::clamp<long long>(static_cast<long long>(position) + frame, -32767, 32767));
}

}  // namespace

SDL_Window* sdl2::sdl_window_of(HWND window) {
    const WindowEntry* w = find_window(window);
    return w ? w->sdl : nullptr;
}

SDL_Window* sdl2::newest_visible_sdl_window() {
    auto& windows = state().windows;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (!it->second.destroying && (SDL_GetWindowFlags(it->second.sdl) & SDL_WINDOW_SHOWN))
            return it->second.sdl;
    return nullptr;
}

// ---- window class and window

HINSTANCE GetModuleHandleA(const char* module_name) {
    if (module_name) {  // no other module is loaded by name here
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return kInstance;
}

HICON LoadIconA(HINSTANCE, const char*) { return kSystemIcon; }

HCURSOR LoadCursorA(HINSTANCE, const char*) { return kSystemCursor; }

ATOM RegisterClassA(const WNDCLASSA* window_class) {
    auto& s = state();
    if (!window_class || !window_class->lpszClassName || is_atom(window_class->lpszClassName) ||
        !window_class->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string key = class_key(window_class->lpszClassName);
    if (s.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass& cls = s.classes[key];
    cls.record = *window_class;
    cls.name = window_class->lpszClassName;
    // The caller's strings need not outlive the call: keep only our copy.
    cls.record.lpszClassName = cls.name.c_str();
    cls.record.lpszMenuName = nullptr;
    cls.atom = static_cast<ATOM>(0xC000 + (s.atoms_given++ % 0x3FFF));
    return cls.atom;
}

BOOL UnregisterClassA(const char* class_name, HINSTANCE) {
    auto& s = state();
    WindowClass* cls = find_class(class_name);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    std::string key = class_key(cls->name.c_str());
    for (const auto& [handle, w] : s.windows)
        if (w.class_key == key) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    s.classes.erase(key);
    return TRUE;
}

HWND CreateWindowExA(DWORD, const char* class_name, const char* window_name, DWORD style, int x,
                     int y, int width, int height, HWND, HMENU, HINSTANCE, void*) {
    auto& s = state();
    WindowClass* cls = find_class(class_name);
    if (!cls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return 0;
    }
    std::string key = class_key(cls->name.c_str());
    WNDPROC proc = cls->record.lpfnWndProc;
    if (!video_ready(true)) return 0;

    const bool popup = (style & WS_POPUP) != 0;
    WindowFrame frame = window_frame(style);
    // A window manager frames a titled window itself, and puts the frame's
    // corner, not the client area's, where a new window asks to be (north-west
    // gravity): the position is then the outer one the program means, and
    // the modelled frame gives way to the manager's.
    const bool framed_by_manager = !popup && window_manager_frame().managed;
    if (framed_by_manager) frame = window_manager_frame().frame;
    const WindowFrame offset = framed_by_manager ? WindowFrame{} : frame;
    const int client_w =
        client_side(width == CW_USEDEFAULT ? 640 : width, frame.left + frame.right);
    const int client_h =
        client_side(height == CW_USEDEFAULT ? 480 : height, frame.top + frame.bottom);
    const int sdl_x =
        x == CW_USEDEFAULT ? SDL_WINDOWPOS_UNDEFINED : screen_position(x, offset.left);
    const int sdl_y = y == CW_USEDEFAULT ? SDL_WINDOWPOS_UNDEFINED : screen_position(y, offset.top);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (popup) flags |= SDL_WINDOW_BORDERLESS;
    SDL_Window* sdl = create_gl_capable_window(window_name ? window_name : "", sdl_x, sdl_y,
                                               client_w, client_h, flags);
    if (!sdl) {
        report_sdl_failure("SDL_CreateWindow", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    watch_display(sdl);
    if (window_name) set_window_title(sdl, window_name);
    const HWND handle = new_handle();
    WindowEntry& w = s.windows[handle];
    w.sdl = sdl;
    w.sdl_id = SDL_GetWindowID(sdl);
    w.class_key = key;
    w.proc = proc;
    w.style = style;
    w.frame = frame;
    w.known_width = client_w;
    w.known_height = client_h;
    w.placement_pending = framed_by_manager && x != CW_USEDEFAULT && y != CW_USEDEFAULT;
    w.outer = POINT{x, y};
    if (popup && s.display_mode_set) make_fullscreen(w, s.display_mode);

    deliver(handle, WM_CREATE, 0, 0);
    if (!find_window(handle)) {  // the procedure destroyed it while it was being made
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return handle;
}

BOOL DestroyWindow(HWND handle) {
    auto& s = state();
    WindowEntry* w = find_window(handle);
    if (!w || w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->destroying = true;
    deliver(handle, WM_DESTROY, 0, 0);
    w = find_window(handle);
    if (!w) return TRUE;
    if (s.focus == handle) s.focus = 0;
    if (w->dc) s.device_contexts.erase(w->dc);
    if (!display_lost()) SDL_DestroyWindow(w->sdl);  // also releases a context current on it
    s.windows.erase(handle);
    // Its queued messages are settled when the queue is next read: a key
    // released meanwhile belongs to the window that has the focus by then.
    return TRUE;
}

BOOL CloseWindow(HWND handle) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    SDL_MinimizeWindow(w->sdl);
    return TRUE;
}

// ---- size, place, title, focus

BOOL GetClientRect(HWND handle, RECT* rect) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int width = 0, height = 0;
    SDL_GetWindowSize(w->sdl, &width, &height);
    *rect = RECT{0, 0, width, height};
    return TRUE;
}

BOOL SetWindowPos(HWND handle, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!(flags & SWP_NOSIZE)) {
        w->known_width = client_side(cx, w->frame.left + w->frame.right);
        w->known_height = client_side(cy, w->frame.top + w->frame.bottom);
        SDL_SetWindowSize(w->sdl, w->known_width, w->known_height);
    }
    if (!(flags & SWP_NOMOVE)) {
        SDL_SetWindowPosition(w->sdl, screen_position(x, w->frame.left),
                              screen_position(y, w->frame.top));
        w->outer = POINT{x, y};
    }
    if (!(flags & SWP_NOZORDER) && insert_after == HWND_TOP &&
        (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN))
        SDL_RaiseWindow(w->sdl);
    return TRUE;
}

namespace {

bool is_ascii(const char* text) {
    for (const char* c = text; *c; ++c)
        if (static_cast<unsigned char>(*c) > 127) return false;
    return true;
}

}  // namespace

void sdl2::set_window_title(SDL_Window* window, const char* text) {
    SDL_SetWindowTitle(window, text);
    if (is_ascii(text)) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    Display* display = info.info.x11.display;
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const int length = static_cast<int>(std::strlen(text));
    for (const char* name : {"_NET_WM_NAME", "WM_NAME"}) {
        XChangeProperty(display, info.info.x11.window, XInternAtom(display, name, False), utf8, 8,
                        PropModeReplace, bytes, length);
    }
    XFlush(display);
}

BOOL SetWindowTextA(HWND handle, const char* text) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    set_window_title(w->sdl, text ? text : "");
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const bool was_visible = (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN) != 0;
    if (command == SW_HIDE) {
        SDL_HideWindow(w->sdl);
        return was_visible;
    }
    SDL_ShowWindow(w->sdl);
    // Once mapped, a window manager may tell the real frame; the client area
    // stays as it is and the modelled outer size follows the real frame.
    int top = 0, left = 0, bottom = 0, right = 0;
    if (!(w->style & WS_POPUP) &&
        SDL_GetWindowBordersSize(w->sdl, &top, &left, &bottom, &right) == 0 &&
        top + left + bottom + right > 0)
        w->frame = WindowFrame{left, top, right, bottom};
    return was_visible;
}

BOOL SetForegroundWindow(HWND handle) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN) SDL_RaiseWindow(w->sdl);
    return TRUE;
}

HWND SetFocus(HWND handle) {
    auto& s = state();
    const HWND previous = find_window(s.focus) ? s.focus : 0;
    if (handle == 0) {  // Win32: keystrokes are then ignored
        s.focus = 0;
        return previous;
    }
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // X11 refuses the focus for a window that is not mapped.
    if (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN) SDL_SetWindowInputFocus(w->sdl);
    s.focus = handle;
    return previous;
}

// A manager puts a new window's frame where the window asked to be, but
// a move that reached it before it had told the frame (SDL compensates for a
// frame only once it knows it) lands the client area there instead. Once
// the frame is known, the outer window is put where it was asked to be.
void sdl2::settle_placement(WindowEntry& w) {
    if (!w.placement_pending || !(SDL_GetWindowFlags(w.sdl) & SDL_WINDOW_SHOWN)) return;
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(w.sdl, &top, &left, &bottom, &right) != 0 ||
        top + left + bottom + right == 0)
        return;
    w.placement_pending = false;
    w.frame = WindowFrame{left, top, right, bottom};
    int x = 0, y = 0;
    SDL_GetWindowPosition(w.sdl, &x, &y);
    const int want_x = screen_position(w.outer.x, left);
    const int want_y = screen_position(w.outer.y, top);
    if (x != want_x || y != want_y) SDL_SetWindowPosition(w.sdl, want_x, want_y);
}

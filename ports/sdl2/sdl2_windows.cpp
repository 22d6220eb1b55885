// PLATFORM
//   The real windowing platform on SDL2: the Win32 operations of
//   shell/platform.h (USER32 windows, classes and messages, GDI pixel formats
//   and buffer swaps, WGL contexts) for Linux with X11 and OpenGL. The console
//   writes, message boxes and the error code live in platform_sdl_console.cpp,
//   the key translation in platform_sdl_keys.cpp.
//
// DEPENDENCIES
//   SDL 2 (video, events, message boxes) and the system libGL. SDL starts on
//   the first call that needs the display (a window, the metrics, the queue),
//   with the X11, Wayland or KMSDRM driver only: with no display, window
//   creation fails with ERROR_NO_DISPLAY and SDL's reason on standard error,
//   and the message queue keeps working. SDL_VIDEODRIVER, when set, is obeyed.
//
// LIMITATIONS
//   - The visual of an SDL window is fixed when the window is made, so the GL
//     attributes (compatibility profile, double-buffered RGB 8-8-8 without
//     alpha, as the program's pixel format asks for none; depth of
//     at least 16 bits) are set before every window. There is exactly one
//     pixel format, index 1: ChoosePixelFormat checks that the request can be
//     met and SetPixelFormat records it; a colour depth or depth-buffer size
//     different from what the window got is matched as "closest", as Win32 does.
//   - SDL windows are client areas: X11 or the window manager draws any frame
//     outside them. The outer size that CreateWindowExA, SetWindowPos and
//     GetClientRect speak of is modelled as client area plus a frame (3 pixels
//     each side, 26 on top for a titled window, none for WS_POPUP), or the
//     frame the window manager reports once the window is shown. The client
//     area is therefore always exact; the outer size is only as true as that
//     frame. Extended styles, parent, menu and creation parameter are ignored;
//     WM_CREATE comes with lParam 0, not a CREATESTRUCT.
//   - A full-screen display mode belongs to a window in SDL, not to the whole
//     display: ChangeDisplaySettingsA switches the newest WS_POPUP window (and
//     popups made later, until the mode is reset). Only the size is matched;
//     X11 cannot change the colour depth, so dmBitsPerPel picks among modes of
//     that size and is otherwise ignored. Destroying a full-screen window also
//     leaves its mode (Win32 would keep the mode until reset or exit).
//   - Messages: only what the program relies on is produced. Key messages
//     (WM_KEYDOWN/UP, WM_SYSKEYDOWN/UP) carry the repeat count 1, the
//     extended-key, Alt, previous-state and transition bits, but scan code 0.
//     WM_CLOSE comes from a close request, from SDL's quit event, or from
//     SIGINT/SIGTERM (a second signal that finds the first not yet taken ends
//     the process, so a program stuck in a message box can still be stopped).
//     There is no WM_PAINT, WM_SIZE, WM_ACTIVATE or mouse message, and
//     TranslateMessage posts no WM_CHAR. A key message whose window was
//     destroyed before it was read goes to the window with the focus then, as
//     Win32 hands keyboard input to a window only when it is read.
//   - No message reaches the window procedure while a message box is open:
//     SDL's box runs its own event loop on its own X connection.
//   - SwapBuffers works only on a window whose context is current on the
//     calling thread (SDL's rule); Win32 would swap any window's buffers.
//   - Window, device-context and GL-context handles are small numbers that
//     are never reused, so a stale handle is always refused.
#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>

#include "shell/platform.h"
#include "sdl2_internal.h"
#include "sdl2_keys.h"
#include "sdl2_keystate.h"

namespace {

// Fixed handles for the things this platform has exactly one of. 0x400000 is
// where Win32 loads a program's image, so the instance looks familiar in messages.
constexpr HINSTANCE kInstance = 0x00400000;
constexpr HICON kSystemIcon = 0x00010011;
constexpr HCURSOR kSystemCursor = 0x00010003;

// Larger than any screen: X11 itself stops at 32767, and a GL drawable of
// that size would take gigabytes.
constexpr int kLargestClientSide = 16384;

constexpr int kOnlyPixelFormat = 1;
// PeekMessageA's window filter for messages that belong to no window.
constexpr HWND kThreadMessages = 0xFFFFFFFFu;

struct WindowClass {
    WNDCLASSA record{};
    std::string name;  // as registered; the table's key is its lower-case form
    ATOM atom = 0;
};

struct WindowEntry {
    SDL_Window* sdl = nullptr;
    Uint32 sdl_id = 0;
    std::string class_key;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    WindowFrame frame{};
    HDC dc = 0;
    int pixel_format = 0;
    bool destroying = false;  // WM_DESTROY is being delivered
};

struct ContextEntry {
    SDL_GLContext gl = nullptr;
    bool swap_interval_set = false;
};

enum class Video { untried, ready, failed };

struct PlatformState {
    Video video = Video::untried;
    std::map<std::string, WindowClass> classes;
    std::map<HWND, WindowEntry> windows;  // handles grow, so the last is the newest
    std::map<HDC, HWND> device_contexts;
    std::map<HGLRC, ContextEntry> contexts;
    std::deque<MSG> queue;
    bool quit_posted = false;
    int quit_code = 0;
    uint32_t next_handle = 0x100;
    unsigned atoms_given = 0;
    int cursor_count = 0;
    HWND focus = 0;
    bool display_mode_set = false;  // a full-screen mode is in force until reset
    SDL_DisplayMode display_mode{};
};

PlatformState& state() {
    static PlatformState s;
    return s;
}

uint32_t new_handle() { return state().next_handle++; }

bool is_atom(const char* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// Win32 class names compare without regard to case.
std::string class_key(const char* name) {
    std::string key(name);
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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

WindowEntry* find_window(HWND handle) {
    auto& s = state();
    auto it = s.windows.find(handle);
    return it == s.windows.end() ? nullptr : &it->second;
}

WindowEntry* window_of_dc(HDC dc) {
    auto& s = state();
    auto it = s.device_contexts.find(dc);
    return it == s.device_contexts.end() ? nullptr : find_window(it->second);
}

HWND newest_window() {
    auto& s = state();
    for (auto it = s.windows.rbegin(); it != s.windows.rend(); ++it)
        if (!it->second.destroying) return it->first;
    return 0;
}

HWND window_of_sdl_id(Uint32 id) {
    for (auto& [handle, w] : state().windows)
        if (w.sdl_id == id && !w.destroying) return handle;
    return 0;
}

// Where keyboard input goes: the focus window, else the demo window.
HWND input_window() {
    const WindowEntry* focus = find_window(state().focus);
    return (focus && !focus->destroying) ? state().focus : newest_window();
}

bool is_key_message(UINT message) {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
           message == WM_SYSKEYUP;
}

// Calls the window's procedure, as SendMessage does; a window that is gone
// receives nothing. The procedure may create or destroy windows, so nothing
// found before the call is used after it.
LRESULT deliver(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    const WindowEntry* w = find_window(handle);
    if (!w || !w->proc) return 0;
    WNDPROC proc = w->proc;
    return proc(handle, message, wparam, lparam);
}

void post(HWND handle, UINT message, WPARAM wparam, LPARAM lparam, Uint32 time) {
    if (handle == 0) return;
    MSG msg{};
    msg.hwnd = handle;
    msg.message = message;
    msg.wParam = wparam;
    msg.lParam = lparam;
    msg.time = time;
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    msg.pt = POINT{x, y};
    state().queue.push_back(msg);
}

// SIGINT and SIGTERM ask the demo window to close, so that the orderly
// shutdown runs. A second signal before the first was taken (no window to
// take it, or the program stuck in a message box) ends the process at once.
volatile sig_atomic_t close_requested = 0;

void on_termination_signal(int signal_number) {
    if (close_requested) {
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    close_requested = 1;
}

void catch_termination_signals() {
    for (int signal_number : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        // A signal the parent made us ignore (background jobs) stays ignored.
        if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = on_termination_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal_number, &action, nullptr);
    }
}

void apply_cursor() { SDL_ShowCursor(state().cursor_count >= 0 ? SDL_ENABLE : SDL_DISABLE); }

void shut_down_sdl() {
    // Leaves full screen and gives the display back its desktop mode, which
    // Win32 does for a program that ends after a CDS_FULLSCREEN change.
    SDL_Quit();
}

// Starts SDL video and events once. report: say why on failure (window
// creation does; the message queue works on without a display and stays quiet).
bool video_ready(bool report) {
    auto& s = state();
    if (s.video == Video::ready) return true;
    // A close request for the last window must become WM_CLOSE only, not a
    // second one from SDL's quit event as well.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // ours below keep a way out
    // Only drivers that put a window on a screen: without a display SDL
    // would fall back to its invisible "offscreen" driver and every window
    // would be made without anyone seeing it. SDL_VIDEODRIVER, when set,
    // still takes precedence over this list.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland,KMSDRM");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        s.video = Video::failed;
        if (report)
            report_sdl_failure("SDL_InitSubSystem(SDL_INIT_VIDEO)", ERROR_NO_DISPLAY);
        else
            SetLastError(ERROR_NO_DISPLAY);
        return false;
    }
    s.video = Video::ready;
    std::atexit(shut_down_sdl);
    catch_termination_signals();
    // Nothing reads text input; without it SDL does no input-method work.
    SDL_StopTextInput();
    apply_cursor();
    return true;
}

// Win32 keeps one key state for the whole system, so a key held while the
// focused window is destroyed and replaced still repeats (bit 30 set) in the
// new window. SDL forgets its key state when the focus window goes away: it
// sends a release for every held key, drops the real release if it comes
// before the new window has the focus, and takes the next auto-repeat for a
// fresh press. So the platform keeps its own state: releases that name a
// window that is gone do not count, and while a key is down here but not in
// SDL's state, the X server is asked on every pump whether it is still held.
// Without an X server to ask, a press within the auto-repeat delay of the
// last one counts as a repeat.
struct HeldKey {
    bool down = false;
    bool unknown = false;  // down here, not in SDL, and no X server to ask
    SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN;
    SDL_Keycode sym = 0;
    Uint32 last_press = 0;
};
HeldKey held_keys[256];
constexpr Uint32 kRepeatWindowMs = 1000;

bool is_repeat_press(const KeyMessage& key, const SDL_Keysym& sym, bool sdl_repeat, Uint32 now) {
    HeldKey& held = held_keys[key.vk & 0xFF];
    bool repeat = sdl_repeat || (held.down && !held.unknown) ||
                  (held.down && now - held.last_press < kRepeatWindowMs);
    held = HeldKey{true, false, sym.scancode, sym.sym, now};
    return repeat;
}

void release_key(const KeyMessage& key, bool window_alive) {
    if (window_alive) held_keys[key.vk & 0xFF] = HeldKey{};
}

// Keys that are down here but that SDL has lost track of: up is up.
void settle_lost_keys() {
    const Uint8* sdl_state = SDL_GetKeyboardState(nullptr);
    for (HeldKey& held : held_keys) {
        if (!held.down || held.unknown || sdl_state[held.scancode]) continue;
        switch (physical_key_state(held.sym)) {
            case PhysicalKey::up: held = HeldKey{}; break;
            case PhysicalKey::down: break;
            case PhysicalKey::unknown: held.unknown = true; break;
        }
    }
}

void queue_event(const SDL_Event& e) {
    switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            KeyMessage key{};
            const bool pressed = e.type == SDL_KEYDOWN;
            if (!translate_key(e.key.keysym, pressed, e.key.repeat != 0, &key)) return;
            HWND target = window_of_sdl_id(e.key.windowID);
            if (pressed && is_repeat_press(key, e.key.keysym, e.key.repeat != 0, e.key.timestamp))
                key.lparam |= KF_REPEAT_BIT;
            else if (!pressed)
                release_key(key, target != 0);
            post(target ? target : input_window(), key.message, key.vk, key.lparam,
                 e.key.timestamp);
            return;
        }
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
                HWND target = window_of_sdl_id(e.window.windowID);
                post(target ? target : newest_window(), WM_CLOSE, 0, 0, e.window.timestamp);
            }
            return;
        case SDL_QUIT:  // the desktop session asks the program to end
            post(newest_window(), WM_CLOSE, 0, 0, e.quit.timestamp);
            return;
        default: return;
    }
}

void pump_events() {
    if (close_requested && newest_window()) {
        close_requested = 0;
        post(newest_window(), WM_CLOSE, 0, 0, SDL_GetTicks());
    }
    settle_lost_keys();
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0)
        queue_event(e);
}

// Messages of destroyed windows are dropped, except keyboard input, which
// Win32 hands to whichever window has the focus when it is read.
void settle_queue() {
    auto& q = state().queue;
    for (auto it = q.begin(); it != q.end();) {
        const WindowEntry* w = it->hwnd ? find_window(it->hwnd) : nullptr;
        if (it->hwnd == 0 || w) {
            ++it;
            continue;
        }
        HWND target = is_key_message(it->message) ? input_window() : 0;
        if (target) {
            it->hwnd = target;
            ++it;
        } else {
            it = q.erase(it);
        }
    }
}

bool passes_filter(const MSG& msg, HWND window, UINT first, UINT last) {
    if (window == kThreadMessages && msg.hwnd != 0) return false;
    if (window != 0 && window != kThreadMessages && msg.hwnd != window) return false;
    return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

SDL_Window* create_gl_capable_window(const char* title, int x, int y, int w, int h, Uint32 flags) {
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

int client_side(int outer, int frame) {
    return static_cast<int>(
        std::clamp<long long>(static_cast<long long>(outer) - frame, 1, kLargestClientSide));
}

// X11 keeps window positions in 16 bits; anything further out is clamped there.
int screen_position(int position, int frame) {
    return static_cast<int>(
        std::clamp<long long>(static_cast<long long>(position) + frame, -32767, 32767));
}

bool find_display_mode(long long width, long long height, const DEVMODEA& request,
                       SDL_DisplayMode* out) {
    const int count = SDL_GetNumDisplayModes(0);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode m{};
        if (SDL_GetDisplayMode(0, i, &m) != 0 || m.w != width || m.h != height) continue;
        // SDL lists the deepest, fastest modes first: take the first of the
        // right size, or the first that also has the requested depth.
        if (!found) *out = m;
        found = true;
        if ((request.dmFields & DM_BITSPERPEL) &&
            SDL_BITSPERPIXEL(m.format) == request.dmBitsPerPel) {
            *out = m;
            break;
        }
    }
    return found;
}

bool make_fullscreen(const WindowEntry& w, const SDL_DisplayMode& mode) {
    if (SDL_SetWindowDisplayMode(w.sdl, &mode) != 0) {
        report_sdl_failure("SDL_SetWindowDisplayMode", ERROR_NOT_SUPPORTED);
        return false;
    }
    if (SDL_SetWindowFullscreen(w.sdl, SDL_WINDOW_FULLSCREEN) != 0) {
        report_sdl_failure("SDL_SetWindowFullscreen", ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

bool gl_version_at_least_1_1() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0, minor = 0;
    if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2) return false;
    return major > 1 || (major == 1 && minor >= 1);
}

}  // namespace

SDL_Window* sdl_window_of(HWND window) {
    const WindowEntry* w = find_window(window);
    return w ? w->sdl : nullptr;
}

SDL_Window* newest_visible_sdl_window() {
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
    const WindowFrame frame = window_frame(style);
    const int client_w = client_side(width == CW_USEDEFAULT ? 640 : width, frame.left + frame.right);
    const int client_h =
        client_side(height == CW_USEDEFAULT ? 480 : height, frame.top + frame.bottom);
    const int sdl_x = x == CW_USEDEFAULT ? SDL_WINDOWPOS_UNDEFINED : screen_position(x, frame.left);
    const int sdl_y = y == CW_USEDEFAULT ? SDL_WINDOWPOS_UNDEFINED : screen_position(y, frame.top);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (popup) flags |= SDL_WINDOW_BORDERLESS;
    SDL_Window* sdl = create_gl_capable_window(window_name ? window_name : "", sdl_x, sdl_y,
                                               client_w, client_h, flags);
    if (!sdl) {
        report_sdl_failure("SDL_CreateWindow", ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const HWND handle = new_handle();
    WindowEntry& w = s.windows[handle];
    w.sdl = sdl;
    w.sdl_id = SDL_GetWindowID(sdl);
    w.class_key = key;
    w.proc = proc;
    w.style = style;
    w.frame = frame;
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
    SDL_DestroyWindow(w->sdl);  // also releases a context current on it
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

int GetSystemMetrics(int index) {
    if (!video_ready(true)) return 0;
    switch (index) {
        case SM_CXSCREEN:
        case SM_CYSCREEN: {
            SDL_DisplayMode mode{};
            if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
                report_sdl_failure("SDL_GetCurrentDisplayMode", ERROR_NO_DISPLAY);
                return 0;
            }
            return index == SM_CXSCREEN ? mode.w : mode.h;
        }
        case SM_CXFULLSCREEN:
        case SM_CYFULLSCREEN: {
            SDL_Rect area{};
            if (SDL_GetDisplayUsableBounds(0, &area) != 0) {
                report_sdl_failure("SDL_GetDisplayUsableBounds", ERROR_NO_DISPLAY);
                return 0;
            }
            return index == SM_CXFULLSCREEN ? area.w : area.h;
        }
        default: return 0;
    }
}

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
    if (!(flags & SWP_NOSIZE))
        SDL_SetWindowSize(w->sdl, client_side(cx, w->frame.left + w->frame.right),
                          client_side(cy, w->frame.top + w->frame.bottom));
    if (!(flags & SWP_NOMOVE))
        SDL_SetWindowPosition(w->sdl, screen_position(x, w->frame.left),
                              screen_position(y, w->frame.top));
    if (!(flags & SWP_NOZORDER) && insert_after == HWND_TOP &&
        (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN))
        SDL_RaiseWindow(w->sdl);
    return TRUE;
}

BOOL SetWindowTextA(HWND handle, const char* text) {
    WindowEntry* w = find_window(handle);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    SDL_SetWindowTitle(w->sdl, text ? text : "");
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

// ---- display mode

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    auto& s = state();
    if (!mode) {  // back to the desktop's mode: leave full screen everywhere
        s.display_mode_set = false;
        if (s.video != Video::ready) return DISP_CHANGE_SUCCESSFUL;  // nothing was ever switched
        LONG result = DISP_CHANGE_SUCCESSFUL;
        for (auto& [handle, w] : s.windows)
            if ((SDL_GetWindowFlags(w.sdl) & SDL_WINDOW_FULLSCREEN) &&
                SDL_SetWindowFullscreen(w.sdl, 0) != 0) {
                report_sdl_failure("SDL_SetWindowFullscreen", ERROR_NOT_SUPPORTED);
                result = DISP_CHANGE_FAILED;
            }
        return result;
    }
    if (!video_ready(true)) return DISP_CHANGE_FAILED;
    SDL_DisplayMode current{};
    if (SDL_GetCurrentDisplayMode(0, &current) != 0) {
        report_sdl_failure("SDL_GetCurrentDisplayMode", ERROR_NO_DISPLAY);
        return DISP_CHANGE_FAILED;
    }
    // Fields the record does not name keep the display's current value.
    const long long width = (mode->dmFields & DM_PELSWIDTH) ? mode->dmPelsWidth : current.w;
    const long long height = (mode->dmFields & DM_PELSHEIGHT) ? mode->dmPelsHeight : current.h;
    SDL_DisplayMode chosen{};
    if (!find_display_mode(width, height, *mode, &chosen)) return DISP_CHANGE_BADMODE;
    if (flags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;

    s.display_mode_set = true;
    s.display_mode = chosen;
    HWND target = 0;
    for (auto it = s.windows.rbegin(); it != s.windows.rend() && !target; ++it)
        if ((it->second.style & WS_POPUP) && !it->second.destroying) target = it->first;
    if (target && !make_fullscreen(s.windows[target], chosen)) return DISP_CHANGE_FAILED;
    return DISP_CHANGE_SUCCESSFUL;
}

// ---- messages

BOOL PeekMessageA(MSG* msg, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
    auto& s = state();
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (s.video == Video::untried) video_ready(false);
    if (s.video == Video::ready) pump_events();
    settle_queue();
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (!passes_filter(*it, window, filter_min, filter_max)) continue;
        *msg = *it;
        if (remove & PM_REMOVE) s.queue.erase(it);
        return TRUE;
    }
    // The quit request waits behind every other message, as on Win32.
    if (s.quit_posted && ((filter_min == 0 && filter_max == 0) ||
                          (WM_QUIT >= filter_min && WM_QUIT <= filter_max))) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(s.quit_code);
        msg->time = SDL_GetTicks();
        if (remove & PM_REMOVE) s.quit_posted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || msg->hwnd == 0) return 0;
    return deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const WindowEntry* w = find_window(window);
    if (!w || w->destroying) return 0;
    // Alt+F4 asks the window to close, and a close request nobody handled
    // destroys the window: Win32's default processing for both.
    if (message == WM_SYSKEYDOWN && wparam == VK_F4 && (lparam & KF_ALTDOWN_BIT))
        deliver(window, WM_CLOSE, 0, 0);
    else if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}

void PostQuitMessage(int exit_code) {
    state().quit_posted = true;
    state().quit_code = exit_code;
}

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
    SDL_GL_DeleteContext(c->second.gl);  // releases it first if it is current
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

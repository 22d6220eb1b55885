// Recording implementation of the windowing platform (see platform_fake.h).
// Windows, classes, device and GL contexts are bookkeeping only; nothing is
// drawn and no GL context is ever current.
#include "fakes/platform_fake.h"

#include "fakes/call_record.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <sstream>
#include <type_traits>

namespace fake_platform {
namespace {

struct Failure {
    DWORD error;
    int times;
    long result;
};

// Class names ignore case, as Win32's do.
struct ClassNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

// The largest client side a window gets; no screen is larger, and the
// SDL port keeps X's limits in the same way.
constexpr long long kLargestClientSide = 16384;

struct ClassEntry {
    WNDCLASSA record;
    std::string name;
};

struct State {
    std::vector<std::string> calls;
    std::map<std::string, Failure> failures;
    std::string console;
    std::vector<std::string> boxes;
    std::vector<std::string> captions;
    std::vector<std::string> delivered;
    std::map<std::string, ClassEntry, ClassNameLess> classes;
    std::map<HWND, Window> windows;
    std::map<HWND, WNDPROC> procs;
    std::deque<MSG> queue;
    bool quit_posted = false;
    int quit_code = 0;
    int screen_width = 1280;
    int screen_height = 1000;
    HWND next_window = kFirstWindow;
    HDC next_dc = kFirstDC;
    HGLRC next_context = kFirstContext;
    std::map<HGLRC, bool> contexts;
    HGLRC current = 0;
    HWND focus = 0;
    HWND foreground = 0;
    int cursor = 0;
    int swaps = 0;
    DWORD last_error = 0;
    WNDCLASSA last_class{};
    DEVMODEA last_mode{};
    PIXELFORMATDESCRIPTOR last_pfd{};
    std::function<void(const std::string&)> hook;
    std::function<void(const std::string&)> box_hook;
};

State& state() {
    static State s;
    return s;
}

template <typename... Args>
void record(const char* name, Args... args) {
    const std::string line = fake_record::call(name, args...);
    auto& s = state();
    s.calls.push_back(line);
    if (s.hook) {
        auto hook = s.hook;  // the hook may replace itself
        hook(s.calls.back());
    }
}

// True when op is set to fail now; records the error for GetLastError.
bool failing(const char* op, long* result = nullptr) {
    auto& s = state();
    auto it = s.failures.find(op);
    if (it == s.failures.end() || it->second.times == 0) return false;
    if (it->second.times > 0) --it->second.times;
    s.last_error = it->second.error;
    if (result) *result = it->second.result;
    return true;
}

LRESULT deliver(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto& s = state();
    auto it = s.procs.find(window);
    if (it == s.procs.end()) return 0;
    s.delivered.push_back(std::to_string(window) + ":" + std::to_string(message) + ":" +
                          std::to_string(wparam) + ":" + std::to_string(lparam));
    return it->second(window, message, wparam, lparam);
}

Window* live_window(HWND handle) {
    auto& s = state();
    auto it = s.windows.find(handle);
    return (it != s.windows.end() && it->second.alive) ? &it->second : nullptr;
}

}  // namespace

void reset() { state() = State{}; }

const std::vector<std::string>& calls() { return state().calls; }

std::vector<std::string> calls_named(const std::vector<std::string>& names) {
    return fake_record::named(state().calls, names);
}

void clear_calls() { state().calls.clear(); }

void fail(const std::string& op, DWORD error, int times, long result) {
    if (op == "ChangeDisplaySettingsA" && result == 0) result = DISP_CHANGE_FAILED;
    state().failures[op] = Failure{error, times, result};
}

const std::string& console() { return state().console; }
const std::vector<std::string>& boxes() { return state().boxes; }
const std::vector<std::string>& box_captions() { return state().captions; }

void set_screen(int width, int height) {
    state().screen_width = width;
    state().screen_height = height;
}

void post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wparam;
    msg.lParam = lparam;
    state().queue.push_back(msg);
}

void on_call(std::function<void(const std::string&)> hook) { state().hook = std::move(hook); }
void on_box(std::function<void(const std::string&)> hook) { state().box_hook = std::move(hook); }

const Window* window(HWND handle) {
    auto it = state().windows.find(handle);
    return it == state().windows.end() ? nullptr : &it->second;
}
HWND focus() { return state().focus; }
HWND foreground() { return state().foreground; }
HGLRC current_context() { return state().current; }
int cursor_display_count() { return state().cursor; }
int swap_count() { return state().swaps; }
bool class_registered(const std::string& name) { return state().classes.count(name) != 0; }
const WNDCLASSA& last_class() { return state().last_class; }
const DEVMODEA& last_mode() { return state().last_mode; }
const PIXELFORMATDESCRIPTOR& last_pixel_format() { return state().last_pfd; }
const std::vector<std::string>& delivered() { return state().delivered; }

}  // namespace fake_platform

using namespace fake_platform;

HINSTANCE GetModuleHandleA(const char* module_name) {
    record("GetModuleHandleA", module_name);
    return kInstance;
}

HICON LoadIconA(HINSTANCE instance, const char* name) {
    record("LoadIconA", instance, name);
    return kIcon;
}

HCURSOR LoadCursorA(HINSTANCE instance, const char* name) {
    record("LoadCursorA", instance, name);
    return kCursor;
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
    record("RegisterClassA", wc ? wc->lpszClassName : nullptr);
    auto& s = state();
    if (wc) s.last_class = *wc;
    if (failing("RegisterClassA")) return 0;
    if (!wc || !wc->lpszClassName) {
        s.last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (s.classes.count(wc->lpszClassName)) {
        s.last_error = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    s.classes[wc->lpszClassName] = ClassEntry{*wc, wc->lpszClassName};
    return static_cast<ATOM>(0xC000 + s.classes.size());
}

BOOL UnregisterClassA(const char* class_name, HINSTANCE instance) {
    record("UnregisterClassA", class_name, instance);
    auto& s = state();
    if (failing("UnregisterClassA")) return FALSE;
    if (!class_name || !s.classes.count(class_name)) {
        s.last_error = ERROR_CANNOT_FIND_WND_CLASS;
        return FALSE;
    }
    for (auto& [h, w] : s.windows)
        if (w.alive && strcasecmp(w.class_name.c_str(), class_name) == 0) {
            s.last_error = ERROR_CLASS_HAS_WINDOWS;
            return FALSE;
        }
    s.classes.erase(class_name);
    return TRUE;
}

HWND CreateWindowExA(DWORD ex_style, const char* class_name, const char* window_name, DWORD style,
                     int x, int y, int width, int height, HWND parent, HMENU menu,
                     HINSTANCE instance, void* param) {
    record("CreateWindowExA", ex_style, class_name, window_name, style, x, y, width, height, parent,
           menu, instance, param);
    auto& s = state();
    if (failing("CreateWindowExA")) return 0;
    auto cls = class_name ? s.classes.find(class_name) : s.classes.end();
    if (cls == s.classes.end()) {
        s.last_error = ERROR_CANNOT_FIND_WND_CLASS;
        return 0;
    }
    Window w;
    w.handle = s.next_window++;
    w.alive = true;
    w.class_name = class_name;
    w.title = window_name ? window_name : "";
    w.style = style;
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
    s.windows[w.handle] = w;
    s.procs[w.handle] = cls->second.record.lpfnWndProc;
    deliver(w.handle, WM_CREATE, 0, 0);
    return w.handle;
}

BOOL DestroyWindow(HWND handle) {
    record("DestroyWindow", handle);
    auto& s = state();
    if (failing("DestroyWindow")) return FALSE;
    Window* w = live_window(handle);
    if (!w) {
        s.last_error = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    deliver(handle, WM_DESTROY, 0, 0);
    w->alive = false;
    w->visible = false;
    s.procs.erase(handle);
    if (s.focus == handle) s.focus = 0;
    if (s.foreground == handle) s.foreground = 0;
    return TRUE;
}

BOOL CloseWindow(HWND handle) {
    record("CloseWindow", handle);
    if (failing("CloseWindow")) return FALSE;
    Window* w = live_window(handle);
    if (!w) {
        state().last_error = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    w->minimized = true;
    return TRUE;
}

int GetSystemMetrics(int index) {
    record("GetSystemMetrics", index);
    auto& s = state();
    switch (index) {
        case SM_CXFULLSCREEN:
        case SM_CXSCREEN:
            return s.screen_width;
        case SM_CYFULLSCREEN:
        case SM_CYSCREEN:
            return s.screen_height;
        default:
            return 0;
    }
}

BOOL GetClientRect(HWND handle, RECT* rect) {
    record("GetClientRect", handle);
    if (failing("GetClientRect")) return FALSE;
    Window* w = live_window(handle);
    if (!w || !rect) {
        state().last_error = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    const WindowFrame frame = window_frame(w->style);
    rect->left = 0;
    rect->top = 0;
    rect->right = static_cast<LONG>(std::clamp<long long>(
        static_cast<long long>(w->width) - (frame.left + frame.right), 1, kLargestClientSide));
    rect->bottom = static_cast<LONG>(std::clamp<long long>(
        static_cast<long long>(w->height) - (frame.top + frame.bottom), 1, kLargestClientSide));
    return TRUE;
}

BOOL SetWindowPos(HWND handle, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
    record("SetWindowPos", handle, insert_after, x, y, cx, cy, flags);
    if (failing("SetWindowPos")) return FALSE;
    Window* w = live_window(handle);
    if (!w) {
        state().last_error = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    if (!(flags & SWP_NOMOVE)) {
        w->x = x;
        w->y = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        w->width = cx;
        w->height = cy;
    }
    return TRUE;
}

BOOL SetWindowTextA(HWND handle, const char* text) {
    record("SetWindowTextA", handle, text);
    if (failing("SetWindowTextA")) return FALSE;
    Window* w = live_window(handle);
    if (!w) return FALSE;
    w->title = text ? text : "";
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
    record("ShowWindow", handle, command);
    Window* w = live_window(handle);
    if (!w) return FALSE;
    bool was_visible = w->visible;
    w->visible = command != SW_HIDE;
    if (w->visible) w->minimized = false;
    return was_visible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND handle) {
    record("SetForegroundWindow", handle);
    if (failing("SetForegroundWindow") || !live_window(handle)) return FALSE;
    state().foreground = handle;
    return TRUE;
}

HWND SetFocus(HWND handle) {
    record("SetFocus", handle);
    auto& s = state();
    HWND previous = s.focus;
    if (failing("SetFocus") || !live_window(handle)) return 0;
    s.focus = handle;
    return previous;
}

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    if (mode) {
        record("ChangeDisplaySettingsA", static_cast<const void*>(mode), flags);
        state().last_mode = *mode;
    } else {
        record("ChangeDisplaySettingsA", static_cast<const void*>(nullptr), flags);
    }
    long result = 0;
    if (failing("ChangeDisplaySettingsA", &result)) return static_cast<LONG>(result);
    return DISP_CHANGE_SUCCESSFUL;
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
    record("PeekMessageA", window, filter_min, filter_max, remove);
    auto& s = state();
    if (!s.queue.empty()) {
        *msg = s.queue.front();
        if (remove & PM_REMOVE) s.queue.pop_front();
        return TRUE;
    }
    if (s.quit_posted) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(s.quit_code);
        if (remove & PM_REMOVE) s.quit_posted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
    record("TranslateMessage", msg ? msg->message : 0u);
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    record("DispatchMessageA", msg->hwnd, msg->message, msg->wParam, msg->lParam);
    return deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    record("DefWindowProcA", handle, message, wparam, lparam);
    // As on Windows: Alt+F4 becomes a close request, and an unhandled close
    // destroys the window.
    if (message == WM_SYSKEYDOWN && wparam == VK_F4 && (lparam & KF_ALTDOWN_BIT) &&
        live_window(handle))
        deliver(handle, WM_CLOSE, 0, 0);
    else if (message == WM_CLOSE && live_window(handle))
        DestroyWindow(handle);
    return 0;
}

void PostQuitMessage(int exit_code) {
    record("PostQuitMessage", exit_code);
    state().quit_posted = true;
    state().quit_code = exit_code;
}

HDC GetDC(HWND handle) {
    record("GetDC", handle);
    if (failing("GetDC")) return 0;
    Window* w = live_window(handle);
    if (!w) {
        state().last_error = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    if (!w->dc) w->dc = state().next_dc++;  // CS_OWNDC: one DC for the window's life
    return w->dc;
}

int ReleaseDC(HWND handle, HDC dc) {
    record("ReleaseDC", handle, dc);
    if (failing("ReleaseDC")) return 0;
    Window* w = live_window(handle);
    return (w && w->dc == dc) ? 1 : 0;
}

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
    record("ChoosePixelFormat", dc, static_cast<const void*>(descriptor));
    if (descriptor) state().last_pfd = *descriptor;
    if (failing("ChoosePixelFormat")) return 0;
    return 1;
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor) {
    record("SetPixelFormat", dc, format, static_cast<const void*>(descriptor));
    if (failing("SetPixelFormat")) return FALSE;
    if (format == 0) {
        state().last_error = ERROR_INVALID_PIXEL_FORMAT;
        return FALSE;
    }
    return TRUE;
}

HGLRC wglCreateContext(HDC dc) {
    record("wglCreateContext", dc);
    if (failing("wglCreateContext")) return 0;
    auto& s = state();
    HGLRC context = s.next_context++;
    s.contexts[context] = true;
    return context;
}

BOOL wglMakeCurrent(HDC dc, HGLRC context) {
    record("wglMakeCurrent", dc, context);
    if (failing("wglMakeCurrent")) return FALSE;
    auto& s = state();
    if (context && !s.contexts.count(context)) {
        s.last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    s.current = context;
    return TRUE;
}

BOOL wglDeleteContext(HGLRC context) {
    record("wglDeleteContext", context);
    if (failing("wglDeleteContext")) return FALSE;
    auto& s = state();
    if (!s.contexts.erase(context)) {
        s.last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (s.current == context) s.current = 0;
    return TRUE;
}

BOOL SwapBuffers(HDC dc) {
    ++state().swaps;
    record("SwapBuffers", dc);
    return failing("SwapBuffers") ? FALSE : TRUE;
}

int ShowCursor(BOOL show) {
    record("ShowCursor", show);
    auto& s = state();
    s.cursor += show ? 1 : -1;
    return s.cursor;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    record("MessageBoxA", owner, text, caption, type);
    auto& s = state();
    s.boxes.push_back(text ? text : "");
    s.captions.push_back(caption ? caption : "");
    if (s.box_hook) {
        auto hook = s.box_hook;
        hook(s.boxes.back());
    }
    if (failing("MessageBoxA")) return 0;
    return IDOK;
}

HANDLE GetStdHandle(DWORD which) {
    record("GetStdHandle", which);
    return which == STD_OUTPUT_HANDLE ? kStdOut : INVALID_HANDLE_VALUE;
}

BOOL WriteConsoleA(HANDLE console, const void* buffer, DWORD count, DWORD* written,
                   void* reserved) {
    std::string text(static_cast<const char*>(buffer), count);
    record("WriteConsoleA", console, text.c_str(), count, static_cast<const void*>(written),
           reserved);
    if (written) *written = 0;
    if (failing("WriteConsoleA") || console != kStdOut) return FALSE;
    state().console += text;
    if (written) *written = count;
    return TRUE;
}

DWORD GetLastError() {
    record("GetLastError");
    return state().last_error;
}

void SetLastError(DWORD code) {
    record("SetLastError", code);
    state().last_error = code;
}

// SDL2 PLATFORM: the message queue, and the messages window procedures get.
//
// IMPLEMENTS
//   platform/platform.h, USER32's messages: PeekMessageA, TranslateMessage,
//   DispatchMessageA, DefWindowProcA, PostQuitMessage.
//
// HOW
//   PeekMessageA pumps SDL's events, turns the ones the program relies on
//   into Win32 messages on the platform's own queue (key events through
//   sdl2_keys.cpp and sdl2_held_keys.cpp), then reads that queue with
//   Win32's window and message-range filters. The quit request waits behind
//   every other message.
//
// LIMITATIONS
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
//   - DefWindowProcA does only the default processing the program relies
//     on: Alt+F4 becomes WM_CLOSE, and an unhandled WM_CLOSE destroys the
//     window.
//
// DEPENDENCIES
//   SDL 2 events; POSIX signals.
#include <SDL2/SDL.h>

#include <csignal>

#include "platform/platform.h"
#include "sdl2_held_keys.h"
#include "sdl2_internal.h"
#include "sdl2_keys.h"
#include "sdl2_state.h"

using namespace sdl2;

namespace {

// PeekMessageA's window filter for messages that belong to no window.
constexpr HWND kThreadMessages = 0xFFFFFFFFu;

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
// shutdown runs; a message box on screen is ended (sdl2_box_process.cpp). A
// second signal before the first was taken (no window to take it, or the
// program stuck) ends the process at once, and any box with it.
volatile sig_atomic_t CloseRequested = 0;

void on_termination_signal(int signal_number) {
    if (CloseRequested) {
        end_box_processes_now();
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    CloseRequested = 1;
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
        default:
            return;
    }
}

// After the desktop has had its say: a window the manager has framed is put
// where it asked to be, and a client area the desktop chose (a full screen
// larger than the mode asked for, a compositor's own size) is told to the
// window as Win32 does, in WM_SIZE, with the client size in lParam's halves.
void settle_windows() {
    for (auto& [handle, w] : state().windows) {
        if (w.destroying) continue;
        settle_placement(w);
        int width = 0, height = 0;
        SDL_GetWindowSize(w.sdl, &width, &height);
        if (width <= 0 || height <= 0 || (width == w.known_width && height == w.known_height))
            continue;
        w.known_width = width;
        w.known_height = height;
        const auto size = static_cast<LPARAM>((static_cast<uint32_t>(height & 0xFFFF) << 16) |
                                              static_cast<uint32_t>(width & 0xFFFF));
        post(handle, WM_SIZE, 0, size, SDL_GetTicks());
    }
}

void pump_events() {
    if (CloseRequested && newest_window()) {
        CloseRequested = 0;
        post(newest_window(), WM_CLOSE, 0, 0, SDL_GetTicks());
    }
    settle_lost_keys();
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) queue_event(e);
    settle_windows();
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

}  // namespace

// Calls the window's procedure, as SendMessage does; a window that is gone
// receives nothing. The procedure may create or destroy windows, so nothing
// found before the call is used after it.
LRESULT sdl2::deliver(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    const WindowEntry* w = find_window(handle);
    if (!w || !w->proc) return 0;
    WNDPROC proc = w->proc;
    return proc(handle, message, wparam, lparam);
}

bool sdl2::termination_requested() { return CloseRequested != 0; }

void sdl2::catch_termination_signals() {
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

// ---- messages

BOOL PeekMessageA(MSG* msg, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
    auto& s = state();
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (s.video == Video::untried) video_ready(false);
    if (s.video == Video::ready) pump_events();
    if (s.video == Video::lost && !s.closed_for_display_loss) {
        // Every window is asked to close once, as a session's end would.
        s.closed_for_display_loss = true;
        for (const auto& [handle, w] : s.windows)
            if (!w.destroying) post(handle, WM_CLOSE, 0, 0, SDL_GetTicks());
    }
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

// Translates nothing and returns FALSE, on purpose: the program reads no
// character messages, so the key messages go on as they are.
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

// SDL2 PLATFORM: SDL keyboard events turned into Win32 key messages.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own; see sdl2_keys.h.
//
// HOW
//   Letters, digits and function keys by their ranges, every other key by
//   the table below; Alt (without Ctrl) and F10 make "system" key messages.
//
// LIMITATIONS
//   See sdl2_keys.h.
//
// DEPENDENCIES
//   SDL 2 keyboard.
#include "sdl2_keys.h"

namespace {

struct KeyCode {
    SDL_Keycode sym;
    WPARAM vk;
    bool extended;
};

// clang-format off
constexpr KeyCode kKeys[] = {
    {SDLK_BACKSPACE, VK_BACK, false},       {SDLK_TAB, VK_TAB, false},
    {SDLK_RETURN, VK_RETURN, false},        {SDLK_ESCAPE, VK_ESCAPE, false},
    {SDLK_SPACE, VK_SPACE, false},          {SDLK_PAUSE, VK_PAUSE, false},
    {SDLK_CAPSLOCK, VK_CAPITAL, false},     {SDLK_PAGEUP, VK_PRIOR, true},
    {SDLK_PAGEDOWN, VK_NEXT, true},         {SDLK_END, VK_END, true},
    {SDLK_HOME, VK_HOME, true},             {SDLK_LEFT, VK_LEFT, true},
    {SDLK_UP, VK_UP, true},                 {SDLK_RIGHT, VK_RIGHT, true},
    {SDLK_DOWN, VK_DOWN, true},             {SDLK_PRINTSCREEN, VK_SNAPSHOT, true},
    {SDLK_INSERT, VK_INSERT, true},         {SDLK_DELETE, VK_DELETE, true},
    {SDLK_LGUI, VK_LWIN, true},             {SDLK_RGUI, VK_RWIN, true},
    {SDLK_APPLICATION, VK_APPS, true},      {SDLK_NUMLOCKCLEAR, VK_NUMLOCK, true},
    {SDLK_SCROLLLOCK, VK_SCROLL, false},
    // Win32 key messages name the generic modifier, not its left or right copy.
    {SDLK_LSHIFT, VK_SHIFT, false},         {SDLK_RSHIFT, VK_SHIFT, false},
    {SDLK_LCTRL, VK_CONTROL, false},        {SDLK_RCTRL, VK_CONTROL, true},
    {SDLK_LALT, VK_MENU, false},            {SDLK_RALT, VK_MENU, true},
    {SDLK_KP_MULTIPLY, VK_MULTIPLY, false}, {SDLK_KP_PLUS, VK_ADD, false},
    {SDLK_KP_MINUS, VK_SUBTRACT, false},    {SDLK_KP_PERIOD, VK_DECIMAL, false},
    {SDLK_KP_DIVIDE, VK_DIVIDE, true},      {SDLK_KP_ENTER, VK_RETURN, true},
    {SDLK_KP_0, VK_NUMPAD0, false},         {SDLK_KP_1, VK_NUMPAD0 + 1, false},
    {SDLK_KP_2, VK_NUMPAD0 + 2, false},     {SDLK_KP_3, VK_NUMPAD0 + 3, false},
    {SDLK_KP_4, VK_NUMPAD0 + 4, false},     {SDLK_KP_5, VK_NUMPAD0 + 5, false},
    {SDLK_KP_6, VK_NUMPAD0 + 6, false},     {SDLK_KP_7, VK_NUMPAD0 + 7, false},
    {SDLK_KP_8, VK_NUMPAD0 + 8, false},     {SDLK_KP_9, VK_NUMPAD0 + 9, false},
    // The punctuation keys of a US board.
    {SDLK_SEMICOLON, VK_OEM_1, false},      {SDLK_EQUALS, VK_OEM_PLUS, false},
    {SDLK_COMMA, VK_OEM_COMMA, false},      {SDLK_MINUS, VK_OEM_MINUS, false},
    {SDLK_PERIOD, VK_OEM_PERIOD, false},    {SDLK_SLASH, VK_OEM_2, false},
    {SDLK_BACKQUOTE, VK_OEM_3, false},      {SDLK_LEFTBRACKET, VK_OEM_4, false},
    {SDLK_BACKSLASH, VK_OEM_5, false},      {SDLK_RIGHTBRACKET, VK_OEM_6, false},
    {SDLK_QUOTE, VK_OEM_7, false},
};
// clang-format on

const KeyCode* table_entry(SDL_Keycode sym) {
    for (const KeyCode& k : kKeys)
        if (k.sym == sym) return &k;
    return nullptr;
}

}  // namespace

WPARAM virtual_key_of(const SDL_Keysym& key) {
    const SDL_Keycode sym = key.sym;
    if (sym >= SDLK_a && sym <= SDLK_z) return WPARAM{'A'} + static_cast<WPARAM>(sym - SDLK_a);
    if (sym >= SDLK_0 && sym <= SDLK_9) return WPARAM{'0'} + static_cast<WPARAM>(sym - SDLK_0);
    if (sym >= SDLK_F1 && sym <= SDLK_F12)
        return WPARAM{VK_F1} + static_cast<WPARAM>(sym - SDLK_F1);
    if (sym >= SDLK_F13 && sym <= SDLK_F24)
        return WPARAM{VK_F13} + static_cast<WPARAM>(sym - SDLK_F13);
    if (const KeyCode* k = table_entry(sym)) return k->vk;
    // A layout without Latin letters gives keycodes outside the table; Win32
    // still names those keys by the US letter or digit in that position.
    const SDL_Scancode sc = key.scancode;
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z)
        return WPARAM{'A'} + static_cast<WPARAM>(sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9)
        return WPARAM{'1'} + static_cast<WPARAM>(sc - SDL_SCANCODE_1);
    if (sc == SDL_SCANCODE_0) return '0';
    return 0;
}

bool translate_key(const SDL_Keysym& key, bool pressed, bool repeat, KeyMessage* out) {
    const WPARAM vk = virtual_key_of(key);
    if (vk == 0 || !out) return false;
    const bool alt_held = (key.mod & KMOD_ALT) != 0;
    const bool ctrl_held = (key.mod & KMOD_CTRL) != 0;
    // Win32 sends "system" key messages for keys pressed while Alt is held
    // (and for Alt itself, and F10), but not when Ctrl is held too: Ctrl+Alt
    // is AltGr on many layouts and gives ordinary key messages.
    const bool system = ((alt_held || vk == VK_MENU) && !ctrl_held) || vk == VK_F10;
    LPARAM lparam = 1;  // repeat count: SDL reports every repeat as its own event
    if (const KeyCode* k = table_entry(key.sym); k && k->extended) lparam |= KF_EXTENDED_BIT;
    if (alt_held) lparam |= KF_ALTDOWN_BIT;
    if (!pressed)
        lparam |= KF_REPEAT_BIT | KF_UP_BIT;  // a released key was down before
    else if (repeat)
        lparam |= KF_REPEAT_BIT;
    out->vk = vk;
    out->lparam = lparam;
    if (pressed)
        out->message = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
    else
        out->message = system ? WM_SYSKEYUP : WM_KEYUP;
    return true;
}

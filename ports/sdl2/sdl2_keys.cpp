#include "sdl2_keys.h"

namespace {

// lParam bit 24: the key is one of the "extended" keys of the 101-key board
// (the grey cursor block, right Ctrl/Alt, keypad Enter and divide ...).
constexpr LPARAM kExtendedBit = LPARAM{1} << 24;

struct KeyCode {
    SDL_Keycode sym;
    WPARAM vk;
    bool extended;
};

// clang-format off
constexpr KeyCode kKeys[] = {
    {SDLK_BACKSPACE, VK_BACK, false},   {SDLK_TAB, VK_TAB, false},
    {SDLK_RETURN, VK_RETURN, false},    {SDLK_ESCAPE, VK_ESCAPE, false},
    {SDLK_SPACE, VK_SPACE, false},      {SDLK_PAUSE, VK_PAUSE, false},
    {SDLK_CAPSLOCK, 0x14, false},       {SDLK_PAGEUP, VK_PRIOR, true},
    {SDLK_PAGEDOWN, VK_NEXT, true},     {SDLK_END, VK_END, true},
    {SDLK_HOME, VK_HOME, true},         {SDLK_LEFT, VK_LEFT, true},
    {SDLK_UP, VK_UP, true},             {SDLK_RIGHT, VK_RIGHT, true},
    {SDLK_DOWN, VK_DOWN, true},         {SDLK_PRINTSCREEN, 0x2C, true},
    {SDLK_INSERT, VK_INSERT, true},     {SDLK_DELETE, VK_DELETE, true},
    {SDLK_LGUI, 0x5B, true},            {SDLK_RGUI, 0x5C, true},
    {SDLK_APPLICATION, 0x5D, true},     {SDLK_NUMLOCKCLEAR, 0x90, true},
    {SDLK_SCROLLLOCK, 0x91, false},
    // Win32 key messages name the generic modifier, not its left or right copy.
    {SDLK_LSHIFT, VK_SHIFT, false},     {SDLK_RSHIFT, VK_SHIFT, false},
    {SDLK_LCTRL, VK_CONTROL, false},    {SDLK_RCTRL, VK_CONTROL, true},
    {SDLK_LALT, VK_MENU, false},        {SDLK_RALT, VK_MENU, true},
    {SDLK_KP_MULTIPLY, 0x6A, false},    {SDLK_KP_PLUS, 0x6B, false},
    {SDLK_KP_MINUS, 0x6D, false},       {SDLK_KP_PERIOD, 0x6E, false},
    {SDLK_KP_DIVIDE, 0x6F, true},       {SDLK_KP_ENTER, VK_RETURN, true},
    {SDLK_KP_0, 0x60, false},           {SDLK_KP_1, 0x61, false},
    {SDLK_KP_2, 0x62, false},           {SDLK_KP_3, 0x63, false},
    {SDLK_KP_4, 0x64, false},           {SDLK_KP_5, 0x65, false},
    {SDLK_KP_6, 0x66, false},           {SDLK_KP_7, 0x67, false},
    {SDLK_KP_8, 0x68, false},           {SDLK_KP_9, 0x69, false},
    // The punctuation keys of a US board (VK_OEM_*).
    {SDLK_SEMICOLON, 0xBA, false},      {SDLK_EQUALS, 0xBB, false},
    {SDLK_COMMA, 0xBC, false},          {SDLK_MINUS, 0xBD, false},
    {SDLK_PERIOD, 0xBE, false},         {SDLK_SLASH, 0xBF, false},
    {SDLK_BACKQUOTE, 0xC0, false},      {SDLK_LEFTBRACKET, 0xDB, false},
    {SDLK_BACKSLASH, 0xDC, false},      {SDLK_RIGHTBRACKET, 0xDD, false},
    {SDLK_QUOTE, 0xDE, false},
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
    if (sym >= SDLK_a && sym <= SDLK_z) return static_cast<WPARAM>('A' + (sym - SDLK_a));
    if (sym >= SDLK_0 && sym <= SDLK_9) return static_cast<WPARAM>('0' + (sym - SDLK_0));
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return static_cast<WPARAM>(VK_F1 + (sym - SDLK_F1));
    if (sym >= SDLK_F13 && sym <= SDLK_F24) return static_cast<WPARAM>(0x7C + (sym - SDLK_F13));
    if (const KeyCode* k = table_entry(sym)) return k->vk;
    // A layout without Latin letters gives keycodes outside the table; Win32
    // still names those keys by the US letter or digit in that position.
    const SDL_Scancode sc = key.scancode;
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z)
        return static_cast<WPARAM>('A' + (sc - SDL_SCANCODE_A));
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9)
        return static_cast<WPARAM>('1' + (sc - SDL_SCANCODE_1));
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
    const bool system = ((alt_held || vk == VK_MENU) && !ctrl_held) || vk == 0x79;
    LPARAM lparam = 1;  // repeat count: SDL reports every repeat as its own event
    if (const KeyCode* k = table_entry(key.sym); k && k->extended) lparam |= kExtendedBit;
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

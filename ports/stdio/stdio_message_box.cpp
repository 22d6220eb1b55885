// STANDARD-STREAMS PLATFORM: the message box of a program without windows.
//
// IMPLEMENTS
//   platform/platform.h, from USER32: MessageBoxA.
//
// HOW
//   The box's caption and text go to standard error as "caption: text" and
//   a line end, exactly as the SDL2 port echoes every box, and the call
//   returns IDOK at once, as if the box had been dismissed.
//
// LIMITATIONS
//   - Nothing is shown and nobody is asked: a program that waits on a box
//     for a person goes on at once. The owner and the style bits are ignored.
//
// DEPENDENCIES
//   stdio_console.cpp.
#include "platform/platform.h"
#include "stdio_console.h"

int MessageBoxA(HWND, const char* text, const char* caption, UINT) {
    stdio_streams::echo_message_box(text, caption);
    return IDOK;
}

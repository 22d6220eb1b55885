#include "platform/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kTextSize = 256;

// Clear first, then format with room for 255 characters: the last byte stays
// zero whatever vsnprintf does, so the text is always terminated.
void format_text(char (&text)[kTextSize], const char* format, va_list args) {
    std::memset(text, 0, sizeof text);
    std::vsnprintf(text, kTextSize, format, args);
}

}  // namespace

void ConsoleLine(const char* format, ...) {
    char text[kTextSize];
    va_list args;
    va_start(args, format);
    format_text(text, format, args);
    va_end(args);
    // A %c with value 0 ends the note there, as the length counts to the first zero.
    DWORD written = 0;
    WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
                  &written, nullptr);
}

void ErrorBox(const char* format, ...) {
    char text[kTextSize];
    va_list args;
    va_start(args, format);
    format_text(text, format, args);
    va_end(args);
    MessageBoxA(0, text, "error", MB_OK);
}

// The reporting calls of the windowing platform (shell/platform.h) for a
// command-line tool.
//
// PLATFORM  demo-capture links the program's modules (settings, pack, texture
//           set, scene), which report through ConsoleLine and ErrorBox. Those
//           reach the platform by the three calls below and by nothing else.
// DIFFERS   A message box would stop a batch capture until someone clicks it,
//           so MessageBoxA writes "caption: text" to standard error and returns
//           at once, as if it had been dismissed. Console notes go to standard
//           output, as the program's own do.
// LIMITS    Nothing else of the platform is here: the tool makes its GL context
//           itself and never opens the program's window.
#include <cstdio>
#include <cstring>

#include "shell/platform.h"

namespace {
DWORD last_error = ERROR_SUCCESS;
constexpr HANDLE kStandardOutput = 1;
}  // namespace

int MessageBoxA(HWND, const char* text, const char* caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}

HANDLE GetStdHandle(DWORD which) {
    return which == STD_OUTPUT_HANDLE ? kStandardOutput : INVALID_HANDLE_VALUE;
}

BOOL WriteConsoleA(HANDLE console, const void* buffer, DWORD count, DWORD* written, void*) {
    if (written) *written = 0;
    if (console != kStandardOutput || (!buffer && count != 0)) {
        last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const size_t done = std::fwrite(buffer, 1, count, stdout);
    if (written) *written = static_cast<DWORD>(done);
    return done == count ? TRUE : FALSE;
}

DWORD GetLastError() {
    return last_error;
}

// STANDARD-STREAMS PLATFORM: what a windowing port shares of it.
//
// IMPLEMENTS
//   platform/platform.h: no call of its own. The writing and the box's echo
//   behind the reporting calls of stdio_console.cpp, for a port that adds
//   windows (ports/sdl2) and must report byte for byte the same.
//
// HOW
//   See stdio_console.cpp.
//
// LIMITATIONS
//   None beyond those of stdio_console.cpp.
//
// DEPENDENCIES
//   POSIX.
#pragma once

#include <cstddef>

namespace stdio_streams {

// Writes all of text to a file descriptor, retrying after signals and short
// writes. False, with errno set, when the descriptor refused (closed, broken
// pipe, full disk); *written (when given) says how much went out.
bool write_fully(int fd, const void* text, size_t size, size_t* written);

// The caption and text a message box shows.
struct BoxText {
    const char* caption;
    const char* text;
};

// The first thing every message box does: writes "caption: text\n" to
// standard error, so that the message is never lost. Returns what the box
// shows: a null caption is Win32's default "Error", a null text empty.
BoxText echo_message_box(const char* text, const char* caption);

}  // namespace stdio_streams

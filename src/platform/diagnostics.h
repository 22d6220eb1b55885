// The program's two reporting channels, printf-style:
//   ConsoleLine  a note on standard output (lost without a word if there is none)
//   ErrorBox     a modal message box captioned "error"; returns once dismissed
// Each formats into a cleared 256-character buffer, so a text is cut after its
// 255th character and always terminated. Neither adds a line end, keeps state
// or touches the heap.
#pragma once

void ConsoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ErrorBox(const char* format, ...) __attribute__((format(printf, 1, 2)));

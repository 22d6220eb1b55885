// The table of operations that keeps the timeline position current: the
// clock back end or the music back end.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "timeline/timeline_position.h"

struct TimeSourceTable {
    int (*advance)();
    int (*start)(int32_t start_frames);  // sample frames of 1/44100 s
    int (*stop)();
    int (*release)();
};

extern int32_t ClockBase;
extern uint32_t MusicChannel;
extern TimeSourceTable TimeSource;

// 0, or -2 when the audio library cannot be initialised or the music cannot
// be played (the clock stays, after a box that says why).
// The window is the one the music belongs to; the audio library is handed it.
int init_time_source(HWND window);
// Lets the audio library start opening its output now, when the settings
// want sound, so that the window can be made meanwhile; init_time_source
// then finds it ready. Says nothing: what fails is told by init_time_source.
void prepare_time_source();
// The end of the audio library, last in the program's shutdown: the device
// closed (its file complete, where it writes one) and a connection prepared
// ahead but never taken closed, its thread joined.
void end_time_source();
// Moves the music by delta bytes of the decoded stream.
void seek(int32_t delta);

// The clock the clock back end reads: real (wall) milliseconds elapsed since
// the process started. Tests point it at a clock of their own;
// process_milliseconds is the real one and the initial value.
extern int64_t (*ClockMilliseconds)();
int64_t process_milliseconds();
// Takes the process clock's start: main's first step, before anything else
// runs, so that process_milliseconds counts from the start of the process.
void start_process_clock();

// Ticks for a clock reading: ms * 882 / 10 in 64-bit arithmetic plus base,
// low 32 bits kept, so the position wraps instead of overflowing after
// 40 minutes and is otherwise exactly the 32-bit result.
uint32_t ticks_for_milliseconds(int64_t ms, int32_t base);

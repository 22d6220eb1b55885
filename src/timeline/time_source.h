// The timeline position in ticks (1/88200 s) and the table of operations that
// keeps it current: the clock back end or the music back end.
#pragma once

#include <cstdint>

struct TimeSourceTable {
    int (*advance)();
    int (*start)(int32_t start_frames);  // sample frames of 1/44100 s
    int (*stop)();
    int (*release)();
};

extern uint32_t timeline_position;
extern int32_t clockBase;
extern uint32_t MusicChannel;
extern TimeSourceTable TimeSource;

// 0, or -2 when the audio library cannot be initialised (the clock stays).
int init_time_source();
// Moves the music by delta bytes of the decoded stream.
void seek(int32_t delta);

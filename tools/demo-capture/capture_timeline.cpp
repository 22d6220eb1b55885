// The timeline position the scene renderer draws from.
//
// In the program the time source owns it and moves it with the clock or the
// music. A capture moves it itself, frame by frame, to exact positions, so the
// tool defines it here and links neither the time source nor the audio
// library (which would bring the program's window with them).
#include <cstdint>

uint32_t timeline_position = 0;

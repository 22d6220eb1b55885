// The timeline position: where the presentation is, in ticks of 1/88200 s
// (two bytes of 16-bit stereo 44100 Hz audio, so two ticks per sample frame).
//
// It is a unit of its own because two sides meet here and should meet
// nowhere else: the time source (or a capture, which steps it frame by frame)
// writes it, the scene renderer reads it. Anything that draws needs only this.
#pragma once

#include <cstdint>

extern uint32_t TimelinePosition;

// The one format the program's audio comes in: 16-bit signed stereo at
// 44100 Hz. The audio library plays every stream in it whatever the MP3
// holds, stream positions are byte offsets into it, and the tools that make
// the music write it, so that nothing is resampled on the way.
#pragma once

constexpr int kAudioRate = 44100;     // sample frames per second
constexpr int kAudioChannels = 2;     // interleaved, left first
constexpr int kAudioSampleBytes = 2;  // one 16-bit sample, host byte order
constexpr int kAudioFrameBytes = kAudioChannels * kAudioSampleBytes;  // one sample frame
constexpr int kAudioBytesPerSecond = kAudioRate * kAudioFrameBytes;

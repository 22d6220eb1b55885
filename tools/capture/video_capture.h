// A capture into one video file: the frames drawn here are piped to ffmpeg
// as raw pixels while a second thread pipes it the music they span, and the
// file appears under its name only when ffmpeg has finished it. Until then
// ffmpeg writes to a hidden name beside it, which a failure or a stop
// (SIGINT, SIGTERM) removes again.
#pragma once

#include <cstdint>
#include <string>

#include "capture_options.h"

// Needs the offscreen GL context with the program's textures built, and
// options.frames > 0. music is the pack's MP3. 0 when the video was written;
// 1 after a message on standard error; 128 + the signal when stopped.
int capture_video(const CaptureOptions& options, const std::string& ffmpeg, const uint8_t* music,
                  uint32_t music_size);

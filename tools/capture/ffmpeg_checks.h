// What is known before a video capture starts: that the ffmpeg program is
// there, that it has the encoders the container needs, and that the video
// encoder takes the settings asked for. Each failure is one clear line,
// given before anything is rendered.
#pragma once

#include <cstddef>
#include <string>

#include "capture_options.h"

// *ffmpeg gets the program's path. false with the reason in error.
bool check_ffmpeg(const CaptureOptions& options, std::string* ffmpeg, char* error,
                  size_t error_size);

// Whether `ffmpeg -encoders` output lists an encoder of that name.
bool encoder_listed(const std::string& encoders, const char* name);
// Whether `ffmpeg -h encoder=NAME` output lists a private option "-option".
bool encoder_has_option(const std::string& help, const char* option);

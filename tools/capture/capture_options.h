// The command line of velkorandi-capture.
//
//   velkorandi-capture [--config FILE] [--pack FILE] [--out DIR|NAME.mp4|.mkv|.webm]
//                [--start TICKS] [--duration SECONDS] [--fps N] [--size WxH]
//                [--crf N] [--preset NAME] [--codec NAME]
//   velkorandi-capture [--config FILE] [--pack FILE] [--out DIR] [--size WxH] --at TICKS
//   velkorandi-capture --help
//
// Each option takes its value as the next argument or after '='. Numbers are
// checked whole: "12x", "", "-3" and values out of range are refused with a
// message that names the option.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/presentation.h"
#include "video_format.h"

// Where the program starts.
constexpr uint32_t kDefaultStartTicks = kStartTicks;
constexpr uint32_t kDefaultFps = 60;
constexpr uint32_t kMaxFps = 1000;
constexpr double kDefaultSeconds = 10.0;
constexpr double kMaxSeconds = 3600.0;
// Far beyond any GL's limit; the GL in use is asked for its own.
constexpr uint32_t kMaxSide = 65536;
constexpr uint32_t kMaxCrf = 63;

struct CaptureOptions {
    const char* config_path;
    const char* pack_path;
    const char* out;  // a folder of frames, or a video file
    OutputKind kind;
    uint32_t start;  // ticks
    uint32_t fps;
    uint64_t frames;  // frames of the sequence (duration * fps, rounded down)
    bool single;      // --at: one picture of position `at`, no sequence, no sound
    uint32_t at;
    bool help;
    int width;  // 0 x 0: the configured window size
    int height;
    // Video only: the encoder and its settings; -1 and nullptr for defaults.
    const char* codec;
    int crf;
    const char* preset;
};

constexpr size_t kOptionErrorSize = 256;

// Fills options from argv (argv[0] is skipped). Returns true when the command
// line is usable; otherwise error holds one line saying what is wrong.
bool parse_capture_options(int argc, const char* const* argv, CaptureOptions* options,
                           char (&error)[kOptionErrorSize]);

extern const char* const kCaptureUsage;

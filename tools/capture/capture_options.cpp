#include "capture_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_clock.h"

const char* const kCaptureUsage =
    "usage: velkorandi-capture [options]\n"
    "Renders the presentation frame by frame, exactly as the program draws it, with\n"
    "the music those frames cover: into one video file, or into numbered PNG files\n"
    "and a WAV file. Reads config.xml and blob.dat like the program, and never writes\n"
    "to them.\n"
    "\n"
    "  --config FILE       settings file (default: config.xml)\n"
    "  --pack FILE         resource pack (default: blob.dat)\n"
    "  --out NAME          where to write (default: capture):\n"
    "                        NAME.mp4   H.264 (CRF 18) and AAC, to play anywhere\n"
    "                        NAME.webm  VP9 (CRF 31) and Opus\n"
    "                        NAME.mkv   lossless FFV1 and FLAC\n"
    "                        a folder   frame-00000.png ... and audio.wav, made if\n"
    "                                   missing (end the name with '/' when it has a dot)\n"
    "  --start TICKS       timeline position of the first frame, in 1/88200 s\n"
    "                      (default: 5345596, where the program starts)\n"
    "  --duration SECONDS  length of the capture (default: 10, at most 3600)\n"
    "  --fps N             frames per second, 1 to 1000 (default: 60)\n"
    "  --size WxH          render at this size, the drawing area letterboxed into it\n"
    "                      as the program does for a window of that size (default:\n"
    "                      the window size of the settings); even sides for .mp4, .webm\n"
    "  --crf N             video quality, 0 (best) to 63; the encoder's range applies\n"
    "  --preset NAME       the encoder's speed preset: for H.264 ultrafast ... placebo\n"
    "                      (default: veryfast; medium or slow make smaller files\n"
    "                      in more time)\n"
    "  --codec NAME        another ffmpeg video encoder than the container's default\n"
    "  --at TICKS          write only one picture, of this timeline position\n"
    "  --help              show this text\n"
    "\n"
    "Frame k shows the position start + k * 88200 / fps, and the sound starts with\n"
    "frame 0 and ends where the frame after the last would begin. Videos are encoded\n"
    "by the ffmpeg program, which must be on the PATH; the same options give the same\n"
    "file. Ctrl+C stops a capture and leaves no file behind. Without a display the\n"
    "frames are rendered offscreen through Mesa (EGL), where that is available.\n";

// The usage text spells out these two.
static_assert(kTicksPerSecond == 88200 && kDefaultStartTicks == 5345596);

namespace {

void set_error(char (&error)[kOptionErrorSize], const char* format, const char* a,
               const char* b = "") {
    std::snprintf(error, kOptionErrorSize, format, a, b);
}

// Whole decimal number within [0, limit]; no sign, no blanks, no suffix.
bool parse_count(const char* text, uint64_t limit, uint64_t* value) {
    if (text[0] < '0' || text[0] > '9') return false;
    uint64_t result = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        result = result * 10 + static_cast<uint64_t>(*c - '0');
        if (result > limit) return false;
    }
    *value = result;
    return true;
}

// Seconds as a plain decimal ("10", "2.5"); strtod alone would also take
// "inf", "nan", hexadecimal and leading blanks.
bool parse_seconds(const char* text, double* value) {
    if (text[0] < '0' || text[0] > '9') return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if ((*c < '0' || *c > '9') && *c != '.') return false;
    }
    char* end = nullptr;
    errno = 0;
    const double result = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(result)) return false;
    *value = result;
    return true;
}

// "WxH": two whole numbers from 1 to kMaxSide.
bool parse_size(const char* text, int* width, int* height) {
    const char* x = std::strchr(text, 'x');
    if (!x) return false;
    const std::string left(text, static_cast<size_t>(x - text));
    uint64_t w = 0, h = 0;
    if (!parse_count(left.c_str(), kMaxSide, &w) || !parse_count(x + 1, kMaxSide, &h)) return false;
    if (w == 0 || h == 0) return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

constexpr const char* kPathOptions[] = {"--config", "--pack", "--out"};
constexpr const char* kNameOptions[] = {"--preset", "--codec"};
constexpr const char* kOtherOptions[] = {"--start", "--duration", "--fps",
                                         "--at",    "--size",     "--crf"};

template <size_t N>
bool one_of(const char* name, const char* const (&names)[N]) {
    for (const char* known : names) {
        if (std::strcmp(name, known) == 0) return true;
    }
    return false;
}

// Which options were given, for the checks of how they go together.
struct Given {
    bool sequence;  // --start, --duration or --fps
    bool encoder;   // --crf, --preset or --codec
    double seconds;
};

// One option and its value into options; false with the message in error.
bool apply_option(const char* name, const char* value, CaptureOptions* options, Given* given,
                  char (&error)[kOptionErrorSize]) {
    uint64_t number = 0;
    if (one_of(name, kPathOptions) || one_of(name, kNameOptions)) {
        if (value[0] == '\0') {
            set_error(error, "option %s needs a non-empty %s", name,
                      one_of(name, kPathOptions) ? "path" : "name");
            return false;
        }
        if (std::strcmp(name, "--config") == 0) options->config_path = value;
        if (std::strcmp(name, "--pack") == 0) options->pack_path = value;
        if (std::strcmp(name, "--out") == 0) options->out = value;
        if (std::strcmp(name, "--preset") == 0) options->preset = value;
        if (std::strcmp(name, "--codec") == 0) options->codec = value;
        given->encoder = given->encoder || one_of(name, kNameOptions);
    } else if (std::strcmp(name, "--start") == 0 || std::strcmp(name, "--at") == 0) {
        if (!parse_count(value, UINT32_MAX, &number)) {
            set_error(error, "option %s wants a position in ticks from 0 to 4294967295, not '%s'",
                      name, value);
            return false;
        }
        if (name[2] == 's') {
            options->start = static_cast<uint32_t>(number);
            given->sequence = true;
        } else {
            options->at = static_cast<uint32_t>(number);
            options->single = true;
        }
    } else if (std::strcmp(name, "--fps") == 0) {
        if (!parse_count(value, kMaxFps, &number) || number == 0) {
            set_error(error, "option --fps wants a whole number from 1 to 1000, not '%s'", value);
            return false;
        }
        options->fps = static_cast<uint32_t>(number);
        given->sequence = true;
    } else if (std::strcmp(name, "--size") == 0) {
        if (!parse_size(value, &options->width, &options->height)) {
            set_error(error, "option --size wants WIDTHxHEIGHT, each from 1 to 65536, not '%s'",
                      value);
            return false;
        }
    } else if (std::strcmp(name, "--crf") == 0) {
        if (!parse_count(value, kMaxCrf, &number)) {
            set_error(error, "option --crf wants a whole number from 0 to 63, not '%s'", value);
            return false;
        }
        options->crf = static_cast<int>(number);
        given->encoder = true;
    } else {  // --duration
        if (!parse_seconds(value, &given->seconds) || given->seconds <= 0.0 ||
            given->seconds > kMaxSeconds) {
            set_error(error, "option --duration wants seconds above 0 and at most 3600, not '%s'",
                      value);
            return false;
        }
        given->sequence = true;
    }
    return true;
}

// What the options mean together: the kind of output, the frames of the
// sequence, and the combinations that cannot be.
bool check_together(const Given& given, CaptureOptions* options, char (&error)[kOptionErrorSize]) {
    if (!output_kind_of(options->out, &options->kind)) {
        set_error(error,
                  "--out %s: unknown kind of video (use .mp4, .mkv or .webm; end a folder's "
                  "name with '/')",
                  options->out);
        return false;
    }
    const bool video = options->kind != OutputKind::kFrames;
    if (given.encoder && !video) {
        set_error(error, "--crf, --preset and --codec are for a video; --out %s is a folder",
                  options->out);
        return false;
    }
    if (options->single) {
        if (given.sequence || video) {
            std::snprintf(error, kOptionErrorSize,
                          "--at writes one picture into a folder; it does not go with --start, "
                          "--duration, --fps or a video");
            return false;
        }
        return true;
    }

    // A tiny allowance keeps 0.1 s at 30 fps at 3 frames despite binary fractions.
    options->frames = static_cast<uint64_t>(std::floor(given.seconds * options->fps + 1e-6));
    if (options->frames == 0) {
        std::snprintf(error, kOptionErrorSize,
                      "a duration of %g s at %u fps is shorter than one frame", given.seconds,
                      options->fps);
        return false;
    }
    // Every frame's position must be a timeline position, which is 32 bits.
    const uint64_t last = frame_position(options->start, options->frames - 1, options->fps);
    if (last > UINT32_MAX) {
        std::snprintf(error, kOptionErrorSize,
                      "the capture would run past the last timeline position (4294967295)");
        return false;
    }

    if (!video) return true;
    if (!options->codec) options->codec = video_format(options->kind).video_codec;
    // The configured size is checked once the settings are read.
    const bool odd = options->width % 2 != 0 || options->height % 2 != 0;
    if (odd && needs_even_sides(options->codec)) {
        std::snprintf(error, kOptionErrorSize,
                      "--size %dx%d: %s is encoded as yuv420p, which needs an even width and "
                      "height",
                      options->width, options->height, options->codec);
        return false;
    }
    return true;
}

}  // namespace

bool parse_capture_options(int argc, const char* const* argv, CaptureOptions* options,
                           char (&error)[kOptionErrorSize]) {
    *options = CaptureOptions{.config_path = "config.xml",
                              .pack_path = "blob.dat",
                              .out = "capture",
                              .kind = OutputKind::kFrames,
                              .start = kDefaultStartTicks,
                              .fps = kDefaultFps,
                              .frames = 0,
                              .single = false,
                              .at = 0,
                              .help = false,
                              .width = 0,
                              .height = 0,
                              .codec = nullptr,
                              .crf = -1,
                              .preset = nullptr};
    error[0] = '\0';
    Given given{false, false, kDefaultSeconds};

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options->help = true;
            return true;
        }
        if (std::strncmp(arg, "--", 2) != 0) {
            set_error(error, "unexpected argument '%s' (see --help)", arg);
            return false;
        }
        // "--name=value" or "--name value".
        char name[32];
        const char* equals = std::strchr(arg, '=');
        const size_t name_length = equals ? static_cast<size_t>(equals - arg) : std::strlen(arg);
        if (name_length >= sizeof name) {
            set_error(error, "unknown option '%.40s' (see --help)", arg);
            return false;
        }
        std::memcpy(name, arg, name_length);
        name[name_length] = '\0';
        if (!one_of(name, kPathOptions) && !one_of(name, kNameOptions) &&
            !one_of(name, kOtherOptions)) {
            set_error(error, "unknown option '%s' (see --help)", name);
            return false;
        }
        const char* value = nullptr;
        if (equals) {
            value = equals + 1;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            set_error(error, "option %s needs a value", name);
            return false;
        }
        if (!apply_option(name, value, options, &given, error)) return false;
    }
    return check_together(given, options, error);
}

#include "capture_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame_clock.h"

const char* const kCaptureUsage =
    "usage: demo-capture [options]\n"
    "Renders the presentation frame by frame, exactly as the program draws it, into\n"
    "numbered PNG files, and writes the music those frames cover as one WAV file.\n"
    "Reads config.xml and blob.dat like the program, and never writes to them.\n"
    "\n"
    "  --config FILE       settings file (default: config.xml)\n"
    "  --pack FILE         resource pack (default: blob.dat)\n"
    "  --out DIR           output folder, made if missing (default: capture)\n"
    "  --start TICKS       timeline position of the first frame, in 1/88200 s\n"
    "                      (default: 5345596, where the program starts)\n"
    "  --duration SECONDS  length of the capture (default: 10, at most 3600)\n"
    "  --fps N             frames per second, 1 to 1000 (default: 60)\n"
    "  --at TICKS          write only one picture, of this timeline position\n"
    "  --help              show this text\n"
    "\n"
    "Frame k shows the position start + k * 88200 / fps. Without a display the\n"
    "frames are rendered offscreen through Mesa (EGL), where that is available.\n";

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

}  // namespace

bool parse_capture_options(int argc, const char* const* argv, CaptureOptions* options,
                           char (&error)[kOptionErrorSize]) {
    *options = CaptureOptions{
        "config.xml", "blob.dat", "capture", kDefaultStartTicks, kDefaultFps, 0, false, 0, false};
    error[0] = '\0';
    double seconds = kDefaultSeconds;
    bool sequence_option = false;

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
        const char* value = nullptr;
        const char* equals = std::strchr(arg, '=');
        const size_t name_length = equals ? static_cast<size_t>(equals - arg) : std::strlen(arg);
        if (name_length >= sizeof name) {
            set_error(error, "unknown option '%.40s' (see --help)", arg);
            return false;
        }
        std::memcpy(name, arg, name_length);
        name[name_length] = '\0';
        const bool known = std::strcmp(name, "--config") == 0 || std::strcmp(name, "--pack") == 0 ||
                           std::strcmp(name, "--out") == 0 || std::strcmp(name, "--start") == 0 ||
                           std::strcmp(name, "--duration") == 0 ||
                           std::strcmp(name, "--fps") == 0 || std::strcmp(name, "--at") == 0;
        if (!known) {
            set_error(error, "unknown option '%s' (see --help)", name);
            return false;
        }
        if (equals) {
            value = equals + 1;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            set_error(error, "option %s needs a value", name);
            return false;
        }

        uint64_t number = 0;
        if (std::strcmp(name, "--config") == 0 || std::strcmp(name, "--pack") == 0 ||
            std::strcmp(name, "--out") == 0) {
            if (value[0] == '\0') {
                set_error(error, "option %s needs a non-empty path", name);
                return false;
            }
            if (name[2] == 'c') options->config_path = value;
            if (name[2] == 'p') options->pack_path = value;
            if (name[2] == 'o') options->out_dir = value;
        } else if (std::strcmp(name, "--start") == 0 || std::strcmp(name, "--at") == 0) {
            if (!parse_count(value, UINT32_MAX, &number)) {
                set_error(error,
                          "option %s wants a position in ticks from 0 to 4294967295, not '%s'",
                          name, value);
                return false;
            }
            if (name[2] == 's') {
                options->start = static_cast<uint32_t>(number);
                sequence_option = true;
            } else {
                options->at = static_cast<uint32_t>(number);
                options->single = true;
            }
        } else if (std::strcmp(name, "--fps") == 0) {
            if (!parse_count(value, kMaxFps, &number) || number == 0) {
                set_error(error, "option --fps wants a whole number from 1 to 1000, not '%s'",
                          value);
                return false;
            }
            options->fps = static_cast<uint32_t>(number);
            sequence_option = true;
        } else {  // --duration
            if (!parse_seconds(value, &seconds) || seconds <= 0.0 || seconds > kMaxSeconds) {
                set_error(error,
                          "option --duration wants seconds above 0 and at most 3600, not '%s'",
                          value);
                return false;
            }
            sequence_option = true;
        }
    }

    if (options->single) {
        if (sequence_option) {
            std::snprintf(
                error, kOptionErrorSize,
                "--at writes one picture; it does not go with --start, --duration or --fps");
            return false;
        }
        return true;
    }

    // A tiny allowance keeps 0.1 s at 30 fps at 3 frames despite binary fractions.
    options->frames = static_cast<uint64_t>(std::floor(seconds * options->fps + 1e-6));
    if (options->frames == 0) {
        std::snprintf(error, kOptionErrorSize,
                      "a duration of %g s at %u fps is shorter than one frame", seconds,
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
    return true;
}

#include "ffmpeg_checks.h"

#include <cstdio>
#include <sstream>

#include "encoder_process.h"

bool encoder_listed(const std::string& encoders, const char* name) {
    // " V....D libx264    libx264 H.264 / AVC ...": flags, then the name.
    std::istringstream lines(encoders);
    std::string line;
    bool listing = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string flags, encoder;
        words >> flags >> encoder;
        if (flags == "------") listing = true;
        if (listing && encoder == name) return true;
    }
    return false;
}

bool encoder_has_option(const std::string& help, const char* option) {
    // "  -crf   <float>   E..V....... Select the quality ...": the option first.
    std::istringstream lines(help);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first.size() > 1 && first[0] == '-' &&
            first.compare(1, std::string::npos, option) == 0) {
            return true;
        }
    }
    return false;
}

bool check_ffmpeg(const CaptureOptions& options, std::string* ffmpeg, char* error,
                  size_t error_size) {
    if (!find_on_path("ffmpeg", ffmpeg)) {
        std::snprintf(error, error_size,
                      "no ffmpeg program on the PATH to encode the video with (install the "
                      "ffmpeg package, or write PNG files with --out FOLDER)");
        return false;
    }
    std::string encoders;
    if (!run_for_output(*ffmpeg, {"-hide_banner", "-encoders"}, &encoders, error, error_size)) {
        return false;
    }
    const VideoFormat& format = video_format(options.kind);
    for (const char* encoder : {options.codec, format.audio_codec}) {
        if (!encoder_listed(encoders, encoder)) {
            std::snprintf(error, error_size,
                          "%s has no encoder '%s', which %s needs (see ffmpeg -encoders)",
                          ffmpeg->c_str(), encoder, options.out);
            return false;
        }
    }
    if (options.crf < 0 && !options.preset) return true;
    std::string help;
    const std::string which = std::string("encoder=") + options.codec;
    if (!run_for_output(*ffmpeg, {"-hide_banner", "-h", which}, &help, error, error_size)) {
        return false;
    }
    const char* wanted[][2] = {{"crf", options.crf >= 0 ? "--crf" : nullptr},
                               {"preset", options.preset ? "--preset" : nullptr}};
    for (const auto& [option, given] : wanted) {
        if (given && !encoder_has_option(help, option)) {
            std::snprintf(error, error_size, "%s: the encoder %s has no -%s option", given,
                          options.codec, option);
            return false;
        }
    }
    return true;
}

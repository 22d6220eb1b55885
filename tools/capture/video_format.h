// The kinds of output velkorandi-capture writes, told apart by the name given to
// --out, and the ffmpeg command line that makes each kind of video file.
//
// A video is encoded by the ffmpeg program, fed raw frames on one pipe and
// raw samples on another: the encoder then runs on the other core while the
// next frames are drawn, and each container gets ffmpeg's own muxer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OutputKind { kFrames, kMp4, kMkv, kWebm };

struct VideoFormat {
    const char* extension;    // ".mp4"
    const char* muxer;        // ffmpeg's -f
    const char* video_codec;  // the default video encoder
    const char* audio_codec;
    const char* audio_bitrate;  // nullptr: lossless
    const char* label;          // for the report
};

// The kind named by the last part of a path: a known extension is a video,
// a name without an extension (or ending in '/') a folder of frames. false
// for any other extension.
bool output_kind_of(const char* out, OutputKind* kind);
// Only for video kinds.
const VideoFormat& video_format(OutputKind kind);

// What the encoder is given: 8-bit RGB for FFV1, which keeps every pixel;
// 4:2:0 for the others, which every player plays and which needs even sides.
const char* encoder_pixel_format(const char* video_codec);
bool needs_even_sides(const char* video_codec);

// The quality of the default video encoders when --crf is not given.
int default_crf(const char* video_codec);

struct EncodeJob {
    OutputKind kind;
    const char* video_codec;  // what --codec gave, or the container's default
    int crf;                  // -1: the codec's default, or none
    const char* preset;       // nullptr: the default of velkorandi-capture, or none
    int width;
    int height;
    uint32_t fps;
    // ffmpeg's name for the raw frames on the pipe: the encoder's own pixel
    // format (top row first), or "bgra" as read back (bottom row first).
    const char* frame_format;
    int video_fd;  // descriptors ffmpeg reads (pipe:N)
    int audio_fd;
    const char* audio_format;  // "s16le" or "s16be", the machine's order
    const char* path;          // where ffmpeg writes
};

// The arguments after the program name. Everything that could differ from
// one run to the next (encoder versions in tags, dates, random ids, thread
// timing) is left out or fixed, so the same job gives the same bytes.
std::vector<std::string> encoder_arguments(const EncodeJob& job);

#include "video_format.h"

#include <cstring>

namespace {

const VideoFormat kFormats[] = {
    {".mp4", "mp4", "libx264", "aac", "192k", "H.264 and AAC in MP4"},
    {".mkv", "matroska", "ffv1", "flac", nullptr, "lossless FFV1 and FLAC in Matroska"},
    {".webm", "webm", "libvpx-vp9", "libopus", "160k", "VP9 and Opus in WebM"},
};
constexpr OutputKind kKinds[] = {OutputKind::kMp4, OutputKind::kMkv, OutputKind::kWebm};

bool is(const char* codec, const char* name) { return std::strcmp(codec, name) == 0; }

}  // namespace

bool output_kind_of(const char* out, OutputKind* kind) {
    const size_t length = std::strlen(out);
    if (length > 0 && out[length - 1] == '/') {
        *kind = OutputKind::kFrames;
        return true;
    }
    const char* slash = std::strrchr(out, '/');
    const char* name = slash ? slash + 1 : out;
    // A leading dot names a hidden file, not an extension; "." and ".." are folders.
    const char* dot = std::strrchr(name, '.');
    if (!dot || dot == name) {
        *kind = OutputKind::kFrames;
        return true;
    }
    for (size_t i = 0; i < sizeof kFormats / sizeof kFormats[0]; ++i) {
        if (strcasecmp(dot, kFormats[i].extension) == 0) {
            *kind = kKinds[i];
            return true;
        }
    }
    return false;
}

const VideoFormat& video_format(OutputKind kind) {
    switch (kind) {
        case OutputKind::kMkv:
            return kFormats[1];
        case OutputKind::kWebm:
            return kFormats[2];
        default:
            return kFormats[0];
    }
}

const char* encoder_pixel_format(const char* video_codec) {
    return is(video_codec, "ffv1") ? "bgr0" : "yuv420p";
}

bool needs_even_sides(const char* video_codec) {
    return std::strcmp(encoder_pixel_format(video_codec), "yuv420p") == 0;
}

int default_crf(const char* video_codec) {
    if (is(video_codec, "libx264")) return 18;
    // The quality libvpx's own guide gives for VP9 at HD sizes.
    if (is(video_codec, "libvpx-vp9")) return 31;
    return -1;
}

std::vector<std::string> encoder_arguments(const EncodeJob& job) {
    const VideoFormat& format = video_format(job.kind);
    const std::string size = std::to_string(job.width) + "x" + std::to_string(job.height);
    std::vector<std::string> args = {"-hide_banner", "-nostdin", "-nostats", "-loglevel", "error",
                                     // The frames as feed_frames sends them.
                                     "-f", "rawvideo", "-pix_fmt", job.frame_format, "-video_size",
                                     size, "-framerate", std::to_string(job.fps), "-i",
                                     "pipe:" + std::to_string(job.video_fd),
                                     // The sound as the MP3 stream decodes it.
                                     "-f", job.audio_format, "-ar", "44100", "-ac", "2"};
    if (std::strcmp(format.audio_codec, "libopus") == 0) {
        // Opus starts with 312 samples at 48 kHz (6.5 ms) that its decoder
        // drops. This ffmpeg's WebM writer and reader between them count that
        // delay twice, so the sound would be heard 6.5 ms ahead of the
        // pictures; given that much later, it starts with frame 0. ffprobe
        // then shows the sound starting at -6.5 ms (rounded to Matroska's
        // whole milliseconds): the part the decoder drops.
        args.insert(args.end(), {"-itsoffset", "0.0065"});
    }
    args.insert(args.end(),
                {"-i", "pipe:" + std::to_string(job.audio_fd), "-map", "0:v", "-map", "1:a"});

    const char* pixels = encoder_pixel_format(job.video_codec);
    if (std::strcmp(pixels, job.frame_format) != 0) {
        // Frames read back as they are, bottom row first: vflip only moves
        // the row pointers, and the scaler converts.
        args.insert(args.end(), {"-vf", std::string("vflip,format=") + pixels});
    }
    if (std::strcmp(pixels, "yuv420p") == 0) {
        // The matrix the frames were converted with (see yuv_frame.h), so
        // players show the colours drawn.
        args.insert(args.end(),
                    {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709",
                     "-color_range", "tv", "-chroma_sample_location", "center"});
    }
    args.insert(args.end(), {"-c:v", job.video_codec});

    const int crf = job.crf >= 0 ? job.crf : default_crf(job.video_codec);
    if (crf >= 0) args.insert(args.end(), {"-crf", std::to_string(crf)});
    // VP9 keeps to the quality alone only without a target bitrate.
    if (is(job.video_codec, "libvpx-vp9")) {
        args.insert(args.end(),
                    {"-b:v", "0", "-deadline", "good", "-cpu-used", "4", "-row-mt", "1"});
    }
    if (job.preset) {
        args.insert(args.end(), {"-preset", job.preset});
    } else if (is(job.video_codec, "libx264")) {
        // x264's default, medium, costs the capture more time than drawing
        // the frames does; at CRF 18 veryfast keeps about the same quality
        // (on the default presentation 43 dB PSNR against medium's 45) in a
        // file half as large again.
        args.insert(args.end(), {"-preset", "veryfast"});
    }
    if (is(job.video_codec, "ffv1")) {
        // Version 3 with slices and checksums: each frame stands alone.
        args.insert(args.end(), {"-level", "3", "-g", "1", "-slicecrc", "1"});
    }

    args.insert(args.end(), {"-c:a", format.audio_codec});
    if (format.audio_bitrate) args.insert(args.end(), {"-b:a", format.audio_bitrate});

    // No tags, dates, encoder names or random track ids.
    args.insert(args.end(), {"-map_metadata", "-1", "-map_chapters", "-1", "-fflags", "+bitexact",
                             "-flags:v", "+bitexact", "-flags:a", "+bitexact"});
    if (job.kind == OutputKind::kMp4) args.insert(args.end(), {"-movflags", "+faststart"});
    args.insert(args.end(), {"-f", format.muxer, "-y", job.path});
    return args;
}

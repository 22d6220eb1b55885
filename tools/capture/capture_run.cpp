#include "capture_run.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture_audio.h"
#include "capture_files.h"
#include "capture_progress.h"
#include "config/presentation.h"
#include "config/settings.h"
#include "ffmpeg_checks.h"
#include "frame_clock.h"
#include "offscreen_gl.h"
#include "platform/audio_format.h"
#include "png_writer.h"
#include "resources/pack.h"
#include "resources/textures.h"
#include "timeline/timeline_position.h"
#include "video/scene.h"
#include "video_capture.h"

namespace {

int fail(const char* format, const char* detail) {
    std::fprintf(stderr, "velkorandi-capture: ");
    std::fprintf(stderr, format, detail);
    std::fprintf(stderr, "\n");
    return 1;
}

// The printed command must survive being pasted into a shell whatever the
// folder is called: anything beyond plain characters is single-quoted.
std::string shell_word(const std::string& text) {
    bool plain = !text.empty();
    for (char c : text) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || std::strchr("/._-%+,:=@", c) != nullptr;
        plain = plain && safe;
    }
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int capture_frames(const CaptureOptions& options, std::vector<uint8_t>& pixels) {
    char error[512];
    const uint64_t total = options.single ? 1 : options.frames;
    CaptureProgress progress = start_progress(total);
    for (uint64_t k = 0; k < total; ++k) {
        const uint64_t position =
            options.single ? options.at : frame_position(options.start, k, options.fps);
        TimelinePosition = static_cast<uint32_t>(position);
        draw_frame();
        read_rows(pixels.data(), 0, OffscreenGl.height, PixelOrder::kRgba);

        char path[4096];
        if (options.single) {
            std::snprintf(path, sizeof path, "%s/position-%u.png", options.out, options.at);
        } else {
            std::snprintf(path, sizeof path, "%s/frame-%05llu.png", options.out,
                          static_cast<unsigned long long>(k));
        }
        if (!write_frame_png(path, pixels.data(), OffscreenGl.width, OffscreenGl.height, error,
                             sizeof error)) {
            break_progress_line(&progress);
            return fail("%s", error);
        }
        if (options.single) {
            std::printf("wrote %s (timeline position %u)\n", path, options.at);
            return 0;
        }
        show_progress(&progress, k + 1);
    }
    return 0;
}

int capture_sound(const CaptureOptions& options) {
    PackEntry music{nullptr, 0};
    take_entry(kEntryNames[kMusicEntry], &music);
    const SampleRange range = capture_samples(options.start, options.frames, options.fps);
    char path[4096];
    std::snprintf(path, sizeof path, "%s/audio.wav", options.out);
    char error[512];
    uint64_t from_music = 0;
    if (!write_capture_audio(music.data, music.size, range.first, range.count, path, &from_music,
                             error, sizeof error)) {
        return fail("%s", error);
    }
    std::printf("wrote %s: sample frames %llu to %llu (%.3f s)\n", path,
                static_cast<unsigned long long>(range.first),
                static_cast<unsigned long long>(range.first) + range.count,
                static_cast<double>(range.count) / kAudioRate);
    if (from_music < range.count) {
        std::printf("the music ends before the capture: the last %.3f s of the sound are silence\n",
                    static_cast<double>(range.count - from_music) / kAudioRate);
    }
    return 0;
}

}  // namespace

int run_capture(const CaptureOptions& options) {
    char error[1024];
    // The encoder is looked at first: a missing one is said before any work.
    const bool video = options.kind != OutputKind::kFrames;
    std::string ffmpeg;
    if (video && !check_ffmpeg(options, &ffmpeg, error, sizeof error)) return fail("%s", error);
    // The program's own reports would only say "missing or not readable";
    // these name the option to change.
    if (!is_readable_file(options.config_path)) {
        return fail("cannot read the settings file '%s' (use --config FILE)", options.config_path);
    }
    if (!is_readable_file(options.pack_path)) {
        return fail("cannot read the resource pack '%s' (use --pack FILE)", options.pack_path);
    }
    if (load_settings(options.config_path) != 0) {
        return fail("the settings file '%s' is not usable (see the message above)",
                    options.config_path);
    }
    std::printf("\n");  // the settings loader leaves its last note without a line end

    // Read only: nothing here ever calls write_pack.
    set_pack_path(options.pack_path);
    if (read_pack() != 0) {
        return fail("the resource pack '%s' is not usable (see the message above)",
                    options.pack_path);
    }
    if (ResourcePack.entryCount < kPresentationEntries) {
        std::snprintf(error, sizeof error,
                      "the resource pack '%s' holds %u entries; a presentation needs %u "
                      "(five pictures, then the music)",
                      options.pack_path, ResourcePack.entryCount, kPresentationEntries);
        return fail("%s", error);
    }
    if (!video && !make_folder(options.out, error, sizeof error)) return fail("%s", error);

    // The program in a window of the capture's size: the drawing area
    // letterboxed into it as the settings say.
    if (options.width > 0) {
        Settings.window_width = options.width;
        Settings.window_height = options.height;
        DisplayArea =
            letterbox_area(options.width, options.height, Viewport.width, Viewport.height);
    }
    const int width = Settings.window_width;
    const int height = Settings.window_height;
    if (video && needs_even_sides(options.codec) && (width % 2 != 0 || height % 2 != 0)) {
        std::snprintf(error, sizeof error,
                      "the window size of the settings, %dx%d, is odd, and %s is encoded as "
                      "yuv420p, which needs an even width and height (use --size)",
                      width, height, options.codec);
        return fail("%s", error);
    }
    if (!create_offscreen_gl(width, height, error, sizeof error)) return fail("%s", error);
    std::printf("rendering %dx%d (drawing area %dx%d) with %s%s\n", width, height,
                DisplayArea.area_width, DisplayArea.area_height, offscreen_renderer(),
                OffscreenGl.surfaceless ? ", offscreen without a display" : "");
    init_capture_gl_state();
    build_textures();

    if (video) {
        PackEntry music{nullptr, 0};
        take_entry(kEntryNames[kMusicEntry], &music);
        const int result = capture_video(options, ffmpeg, music.data, music.size);
        destroy_offscreen_gl();
        return result;
    }
    // The sound first: it is quick, and a pack whose music cannot be played
    // is refused before minutes go into the pictures.
    if (!options.single && capture_sound(options) != 0) {
        destroy_offscreen_gl();
        return 1;
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    const int result = capture_frames(options, pixels);
    destroy_offscreen_gl();
    if (result != 0 || options.single) return result;

    const std::string frames = shell_word(std::string(options.out) + "/frame-%05d.png");
    const std::string sound = shell_word(std::string(options.out) + "/audio.wav");
    std::printf(
        "to make a video of it:\n"
        "  ffmpeg -framerate %u -i %s -i %s -c:v libx264 -pix_fmt yuv420p -c:a aac out.mp4\n",
        options.fps, frames.c_str(), sound.c_str());
    return 0;
}

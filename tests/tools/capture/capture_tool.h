// velkorandi-capture run as a program in a scratch folder, and what its output is
// checked against: the program's own renderer driven in the test's process
// (draw_frame at a timeline position, read back from a hidden window), and
// pictures read back from PNG files and from videos decoded by ffmpeg.
#pragma once

#include <SDL2/SDL.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture_content.h"

struct ToolRun {
    int status;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs velkorandi-capture with args (shell words) in dir; prefix goes before the
// program (e.g. "env -u DISPLAY ").
ToolRun run_tool(const ScratchDir& dir, const std::string& args, const std::string& prefix = "");
// Starts velkorandi-capture with args in dir without waiting, its output in
// dir/tool.out and dir/tool.err; finish_tool waits for it.
pid_t start_tool(const ScratchDir& dir, const std::vector<std::string>& args);
ToolRun finish_tool(const ScratchDir& dir, pid_t pid);

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first
};

Picture read_png(const std::string& path);
// Every frame of the video's first video stream as 8-bit RGB, decoded by
// ffmpeg; empty when it cannot be decoded.
std::vector<Picture> decode_video_frames(const std::string& path, int width, int height);
// The first audio stream as 16-bit stereo at 44100 Hz, decoded by ffmpeg.
std::vector<int16_t> decode_video_sound(const std::string& path);
// Samples of a 16-bit stereo WAV file as written by velkorandi-capture.
std::vector<int16_t> wav_samples(const std::string& path);
// How many pixels differ; SIZE_MAX when the sizes differ.
size_t differing_pixels(const Picture& a, const Picture& b);

// The program's window set-up, done here by hand: a GL context of the
// window size with the drawing area at the centre, then what init_gl_state
// does before it builds the textures.
struct ReferenceRenderer {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    int width = 0, height = 0;

    // The window size and drawing area of the settings in dir.
    bool open(const ScratchDir& dir);
    // A window of width x height with an area_width x area_height drawing area.
    bool open_sized(const ScratchDir& dir, int window_width, int window_height, int area_width,
                    int area_height);
    Picture draw(uint32_t position);
    ~ReferenceRenderer();
};

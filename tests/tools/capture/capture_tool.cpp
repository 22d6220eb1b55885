#include "capture_tool.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "config/settings.h"
#include "fakes/platform_fake.h"
#include "resources/pack.h"
#include "resources/textures.h"
#include "timeline/timeline_position.h"
#include "video/scene.h"

extern char** environ;

namespace {

int status_of(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

std::vector<int16_t> samples_of(const Bytes& bytes, size_t from) {
    std::vector<int16_t> samples(bytes.size() > from ? (bytes.size() - from) / 2 : 0);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(bytes[from + i * 2] | (bytes[from + i * 2 + 1] << 8));
    }
    return samples;
}

}  // namespace

ToolRun run_tool(const ScratchDir& dir, const std::string& args, const std::string& prefix) {
    const std::string command = "cd '" + dir.path + "' && " + prefix + "'" CAPTURE_PROGRAM "' " +
                                args + " > tool.out 2> tool.err";
    const int raw = std::system(command.c_str());
    return ToolRun{status_of(raw), read_text(dir.file("tool.out")),
                   read_text(dir.file("tool.err"))};
}

pid_t start_tool(const ScratchDir& dir, const std::vector<std::string>& args) {
    std::vector<char*> argv = {const_cast<char*>(CAPTURE_PROGRAM)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "tool.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "tool.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

ToolRun finish_tool(const ScratchDir& dir, pid_t pid) {
    int raw = 0;
    if (waitpid(pid, &raw, 0) != pid) raw = -1;
    return ToolRun{status_of(raw), read_text(dir.file("tool.out")),
                   read_text(dir.file("tool.err"))};
}

Picture read_png(const std::string& path) {
    Picture picture;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return Picture{};
    }
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    return picture;
}

std::vector<Picture> decode_video_frames(const std::string& path, int width, int height) {
    ScratchDir dir;
    const std::string raw = dir.file("frames.rgb");
    const std::string command =
        "ffmpeg -v error -i '" + path + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 '" + raw + "'";
    if (std::system(command.c_str()) != 0) return {};
    const Bytes bytes = read_file(raw);
    const size_t frame_bytes = static_cast<size_t>(width) * height * 3;
    std::vector<Picture> frames;
    for (size_t at = 0; at + frame_bytes <= bytes.size(); at += frame_bytes) {
        frames.push_back(
            Picture{width, height, Bytes(bytes.begin() + at, bytes.begin() + at + frame_bytes)});
    }
    return frames;
}

std::vector<int16_t> decode_video_sound(const std::string& path) {
    ScratchDir dir;
    const std::string raw = dir.file("sound.raw");
    const std::string command =
        "ffmpeg -v error -i '" + path + "' -map 0:a:0 -f s16le -ar 44100 -ac 2 '" + raw + "'";
    if (std::system(command.c_str()) != 0) return {};
    return samples_of(read_file(raw), 0);
}

std::vector<int16_t> wav_samples(const std::string& path) {
    const Bytes file = read_file(path);
    if (file.size() < 44) return {};
    return samples_of(file, 44);
}

size_t differing_pixels(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return SIZE_MAX;
    size_t count = 0;
    for (size_t i = 0; i < a.rgb.size(); i += 3) {
        if (a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2])
            ++count;
    }
    return count;
}

bool ReferenceRenderer::open(const ScratchDir& dir) {
    fake_platform::reset();
    if (load_settings(dir.file("config.xml").c_str()) != 0) return false;
    return open_sized(dir, Settings.window_width, Settings.window_height, DisplayArea.area_width,
                      DisplayArea.area_height);
}

bool ReferenceRenderer::open_sized(const ScratchDir& dir, int window_width, int window_height,
                                   int area_width, int area_height) {
    set_pack_path(dir.file("blob.dat").c_str());
    if (read_pack() != 0) return false;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    width = window_width;
    height = window_height;
    window =
        SDL_CreateWindow("reference", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return false;
    context = SDL_GL_CreateContext(window);
    if (!context) return false;
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport((width - area_width) / 2, (height - area_height) / 2, area_width, area_height);
    const double r = double(area_height) / double(area_width);
    glOrtho(-1.0, 1.0, r, -r, 0.0625, 1024.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    build_textures();
    return true;
}

Picture ReferenceRenderer::draw(uint32_t position) {
    TimelinePosition = position;
    draw_frame();
    glFinish();
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                picture.rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
                    rgba[(static_cast<size_t>(height - 1 - y) * width + x) * 4 + c];
    return picture;
}

ReferenceRenderer::~ReferenceRenderer() {
    if (context) SDL_GL_DeleteContext(context);
    if (window) SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

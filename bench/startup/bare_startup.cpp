// The baseline for the start-up and memory figures: the least an SDL2 program
// does to show what the presentation shows first. It makes the same calls the
// program's platform layer and audio library make on the way to the first
// frame (video, a hidden 800 x 600 GL window with the same attributes, the GL
// context, the window shown, the audio device opened and running), clears
// and swaps once. With --seconds it goes on for that long (or until SIGTERM)
// drawing what a frame of the presentation costs the driver: seven quads,
// textured from one small texture, with the presentation's two blend modes
// and depth test. llvmpipe compiles code for every such state and keeps it,
// so the driver's share of a run's peak memory is in the baseline, and what
// the program holds beyond it is its own.
//
// With --first-frame its first frame is already such a frame, so that the
// start-up comparison can tell the driver's first compilations (which any
// program drawing this way pays) from the program's own work.
//
//   bare_startup [--width W] [--height H] [--seconds S] [--first-frame] [--info]
#include <GL/gl.h>
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void fill_silence(void*, Uint8* stream, int length) {
    std::memset(stream, 0, static_cast<size_t>(length));
}

void quad(float x0, float y0, float x1, float y1, float z) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 1);
    glVertex3f(x0, y1, z);
    glTexCoord2f(1, 1);
    glVertex3f(x1, y1, z);
    glTexCoord2f(1, 0);
    glVertex3f(x1, y0, z);
    glTexCoord2f(0, 0);
    glVertex3f(x0, y0, z);
    glEnd();
}

GLuint make_texture() {
    static uint32_t texels[64 * 64];
    for (uint32_t i = 0; i < 64 * 64; ++i) texels[i] = i * 2654435761u;
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    return name;
}

// Seven quads in the presentation's states: plain, textured, textured and
// blended by alpha, colour writes off, and the inverting blend over all.
void draw_like_a_frame(GLuint texture) {
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(0, 0, 0);
    quad(-1, -1, 1, 1, -2);
    glDepthFunc(GL_ALWAYS);
    quad(-0.7f, -0.7f, 0.7f, 0.7f, -1020);
    glDepthFunc(GL_LEQUAL);
    glColor3f(1, 1, 1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    quad(-0.7f, -0.7f, 0.7f, 0.7f, -20);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA);
    quad(-0.7f, 0, 0.7f, 0.7f, -20);
    quad(-0.6f, -0.6f, 0.6f, 0.6f, -10);
    glDisable(GL_TEXTURE_2D);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    quad(-0.7f, -0.7f, 0.7f, 0.7f, -2);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ZERO);
    quad(-1, -1, 1, 1, -1);
    glDisable(GL_BLEND);
}

}  // namespace

int main(int argc, char** argv) {
    int width = 800, height = 600;
    double seconds = 0.0;
    bool info = false;
    bool first_frame = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--info") == 0) {
            info = true;
        } else if (std::strcmp(argv[i], "--first-frame") == 0) {
            first_frame = true;
        } else if (i + 1 < argc && std::strcmp(argv[i], "--width") == 0) {
            width = std::atoi(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--height") == 0) {
            height = std::atoi(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: bare_startup [--width W] [--height H] [--seconds S] "
                         "[--first-frame] [--info]\n");
            return 2;
        }
    }

    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        std::fprintf(stderr, "bare_startup: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_Window* window = SDL_CreateWindow("bare", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) {
        std::fprintf(stderr, "bare_startup: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context || SDL_GL_MakeCurrent(window, context) != 0) {
        std::fprintf(stderr, "bare_startup: %s\n", SDL_GetError());
        return 1;
    }
    SDL_ShowWindow(window);
    if (info) {
        std::printf("renderer %s\nversion %s\n", glGetString(GL_RENDERER), glGetString(GL_VERSION));
    }

    // The device as the program's audio library opens it: 44100 Hz 16-bit
    // stereo, 1024-frame buffers on the timer-paced drivers, 512 on a card.
    SDL_AudioDeviceID device = 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        const char* driver = SDL_GetCurrentAudioDriver();
        const bool timer_paced =
            driver && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
        SDL_AudioSpec want = {};
        want.freq = 44100;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = static_cast<Uint16>(timer_paced ? 1024 : 512);
        want.callback = fill_silence;
        SDL_AudioSpec have = {};
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device != 0) SDL_PauseAudioDevice(device, 0);
    }

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    GLuint texture = 0;
    if (seconds > 0.0 || first_frame) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1.0, 1.0, 0.625, -0.625, 0.0625, 1024.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_DEPTH_TEST);
        texture = make_texture();
    }
    if (first_frame) {
        draw_like_a_frame(texture);
    } else {
        glClear(GL_COLOR_BUFFER_BIT);
    }
    SDL_GL_SwapWindow(window);

    const Uint64 began = SDL_GetTicks64();
    bool running = seconds > 0.0;
    while (running) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) running = false;
        }
        if (static_cast<double>(SDL_GetTicks64() - began) >= seconds * 1000.0) running = false;
        draw_like_a_frame(texture);
        SDL_GL_SwapWindow(window);
    }

    if (device != 0) SDL_CloseAudioDevice(device);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

#include "app/driver.h"

#include "config/presentation.h"
#include "config/settings.h"
#include "platform/audio_format.h"
#include "platform/diagnostics.h"
#include "resources/pack.h"
#include "resources/textures.h"
#include "timeline/time_source.h"
#include "video/gl_view.h"
#include "video/gl_window.h"
#include "video/scene.h"

namespace {

// A quarter of a second of 16-bit stereo 44100 Hz audio, in bytes.
constexpr int32_t kSeekBytes = kAudioBytesPerSecond / 4;

const char* const kFarewell = "demo attempt was a complete failure.. \n bye";

void run_main_loop() {
    MSG msg;
    for (;;) {
        if (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;  // every waiting message is handled before the next frame
        }
        TimeSource.advance();
        settle_view();
        draw_frame();
        SwapBuffers(WindowContext.device_context);
    }
}

// F4 toggles once per press: only a fresh key-down counts. Its key-up would
// reach the new window and toggle straight back, and auto-repeats would keep
// flipping while the key is held.
bool is_fresh_press(LPARAM lparam) { return (lparam & KF_REPEAT_BIT) == 0; }

}  // namespace

int toggle_fullscreen(int first_time) {
    if (!first_time) {
        destroy_gl_window();
        Settings.fullscreen = Settings.fullscreen ? 0 : 1;
    }
    int code = create_gl_window(window_proc);
    if (code != 0) {
        ErrorBox("window creation failed \n exiting now %i", code);
        return -2;
    }
    init_gl_state();
    return 0;
}

LRESULT window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
            // No default processing: the window is destroyed by the orderly
            // shutdown, which also writes the pack back.
            PostQuitMessage(0);
            return 0;
        case WM_KEYDOWN:
            switch (wparam) {
                case VK_RIGHT:
                    seek(kSeekBytes);
                    break;
                case VK_LEFT:
                    seek(-kSeekBytes);
                    break;
                case VK_ESCAPE:
                    PostQuitMessage(0);
                    break;
                case VK_F4:
                    // A failed re-creation leaves no usable window: end the run
                    // as Escape does, so the shutdown still writes the pack.
                    if (is_fresh_press(lparam) && toggle_fullscreen(0) != 0) PostQuitMessage(0);
                    break;
            }
            break;
        case WM_SIZE:
            // A desktop may give the window another client area than the
            // one asked for (an emulated full-screen mode, a compositor that
            // sizes the window): the drawing area is letterboxed into it.
            fit_view_to_client(static_cast<int32_t>(lparam & 0xFFFF),
                               static_cast<int32_t>((lparam >> 16) & 0xFFFF));
            break;
        case WM_KEYUP:
            // Escape also quits on its key-up alone (pressed while another
            // window had the focus).
            if (wparam == VK_ESCAPE) PostQuitMessage(0);
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// Always 0, however the run ends: kept so on purpose, as users' scripts
// count on the program's status being 0.
int run_presentation() {
    if (load_settings("config.xml") != 0) {
        ErrorBox("%s", kFarewell);
        return 0;
    }
    // The sound server is connected to on a thread of the audio library's
    // own while the pack is read and the window made.
    prepare_time_source();
    // A pack that cannot be read has shown what is wrong; nothing is made and
    // blob.dat is left alone.
    if (read_pack() != 0) {
        ErrorBox("%s", kFarewell);
        end_time_source();
        return 0;
    }
    // The pictures decode on the second core while the window and its GL
    // context are made; the first build of the textures reports and uploads
    // them.
    prepare_textures();
    if (toggle_fullscreen(1) != 0) {
        discard_prepared_textures();
        ErrorBox("%s", kFarewell);
        end_time_source();
        return 0;
    }
    init_time_source(WindowContext.window);
    ShowCursor(FALSE);
    TimeSource.start(kStartSampleFrame);

    run_main_loop();

    destroy_gl_window();
    TimeSource.stop();
    TimeSource.release();
    // The music channel played from the pack's memory until released.
    write_pack();
    // Last, the audio library's device: it plays silence until here.
    end_time_source();
    return 0;
}

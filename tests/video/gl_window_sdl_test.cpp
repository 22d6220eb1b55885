// Window creation on the real SDL2 platform under Xvfb: both modes give a
// current GL context, and init_gl_state sets the letterboxed viewport and
// projection. The pack holds five small pictures so that the texture set
// builds without a message box (which would wait for a click).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "config/settings.h"
#include "pcx_writer.h"
#include "resources/pack.h"
#include "resources/textures.h"
#include "video/gl_window.h"

namespace {

// The program's window procedure lives in the driver; here every message
// goes on to default handling.
LRESULT default_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

std::vector<uint8_t> g_pictures[5];

void fill_pack_with_pictures() {
    std::memset(&ResourcePack, 0, sizeof ResourcePack);
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> rgb(4 * 4 * 3, static_cast<uint8_t>(40 * i));
        g_pictures[i] = encode_pcx_rgb(4, 4, rgb.data());
        ResourcePack.entryData[i] = g_pictures[i].data();
        ResourcePack.entrySize[i] = static_cast<uint32_t>(g_pictures[i].size());
    }
    ResourcePack.entryCount = 5;
    ResourcePack.entryCursor = 0;
}

class GlWindowOnSdl : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&Settings, 0, sizeof Settings);
        Settings.window_width = 800;
        Settings.window_height = 600;
        Settings.depth = 32;
        Settings.halign = 1;
        Settings.valign = 1;
        DisplayArea = DisplayAreaRecord{800, 500};
        WindowContext = WindowContextRecord{0, 0, 0};
        fill_pack_with_pictures();
    }
    void TearDown() override {
        if (WindowContext.window) destroy_gl_window();
        std::memset(&ResourcePack, 0, sizeof ResourcePack);
    }

    static void expect_projection(int vx, int vy, int vw, int vh, double r) {
        GLint viewport[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[0], vx);
        EXPECT_EQ(viewport[1], vy);
        EXPECT_EQ(viewport[2], vw);
        EXPECT_EQ(viewport[3], vh);
        GLdouble m[16];
        glGetDoublev(GL_PROJECTION_MATRIX, m);
        // glOrtho(-1, 1, r, -r, 0.0625, 1024): y flipped and scaled by 1/r.
        const double expected[16] = {
            1, 0, 0, 0, 0, -1.0 / r, 0, 0, 0, 0, -2.0 / 1023.9375, 0, 0, 0, -1024.0625 / 1023.9375,
            1};
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], expected[i], 1e-6) << "element " << i;
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
        EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
        EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    }
};

TEST_F(GlWindowOnSdl, WindowedModeGivesACurrentContextWithTheLetterbox) {
    ASSERT_EQ(create_gl_window(default_proc), 0);
    EXPECT_NE(WindowContext.window, 0u);
    EXPECT_NE(WindowContext.device_context, 0u);
    EXPECT_NE(WindowContext.gl_context, 0u);
    init_gl_state();
    ASSERT_NE(glGetString(GL_VERSION), nullptr) << "no current GL context";
    expect_projection(0, 50, 800, 500, 0.625);
    // Depth starts at the far end, so the renderer's first frame is right.
    GLfloat depth = 0.0f;
    glReadPixels(400, 300, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_EQ(depth, 1.0f);
    EXPECT_NE(TextureSet.monoPicture, 0u);
    EXPECT_EQ(ResourcePack.entryCursor, 5u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    destroy_gl_window();
    EXPECT_EQ(WindowContext.window, 0u);
    EXPECT_EQ(WindowContext.device_context, 0u);
    EXPECT_EQ(WindowContext.gl_context, 0u);
}

TEST_F(GlWindowOnSdl, FullScreenModeAndATallArea) {
    // The only mode Xvfb offers is its screen's own size; any other would be
    // refused with a message box that waits for a click.
    const int screen_w = GetSystemMetrics(SM_CXSCREEN);
    const int screen_h = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(screen_w, 0);
    ASSERT_GT(screen_h, 0);
    Settings.fullscreen = 1;
    Settings.window_width = screen_w;
    Settings.window_height = screen_h;
    const int area_w = screen_w / 2 / 2 * 2;
    DisplayArea = DisplayAreaRecord{area_w, screen_h};
    ASSERT_EQ(create_gl_window(default_proc), 0);
    init_gl_state();
    ASSERT_NE(glGetString(GL_VERSION), nullptr) << "no current GL context";
    expect_projection((screen_w - area_w) / 2, 0, area_w, screen_h,
                      static_cast<double>(screen_h) / area_w);
    destroy_gl_window();

    Settings.window_width = 800;
    Settings.window_height = 600;

    // The toggle's way: a second creation after the teardown, windowed again.
    Settings.fullscreen = 0;
    DisplayArea = DisplayAreaRecord{800, 500};
    fill_pack_with_pictures();
    ASSERT_EQ(create_gl_window(default_proc), 0);
    init_gl_state();
    ASSERT_NE(glGetString(GL_VERSION), nullptr);
    expect_projection(0, 50, 800, 500, 0.625);
}

}  // namespace

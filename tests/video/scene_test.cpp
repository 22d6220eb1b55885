// The renderer in a real GL context (Mesa under Xvfb), with test textures
// whose colours say which picture, which half and which overlay shows. Every
// probe reads the back buffer before any swap.
#include "video/scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/presentation.h"
#include "resources/textures.h"
#include "support/gl_test_context.h"
#include "timeline/timeline_position.h"

namespace {

struct Rgb {
    int r, g, b;
};

bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// Colours as the viewer sees them. Pictures are stored negated (the final
// inversion brings them back), so each test texel is 255 minus its colour.
const Rgb kBlack = {0, 0, 0};
const Rgb kWhite = {255, 255, 255};
const Rgb kUp = {255, 0, 0};
const Rgb kDown = {0, 0, 255};
const Rgb kDemo2Left = {0, 255, 0};
const Rgb kDemo2Right = {255, 0, 255};
const Rgb kTrevakUpper = {0, 255, 255};
const Rgb kTrevakLower = {255, 255, 0};
const Rgb kMono = {127, 127, 127};

uint32_t stored(Rgb c, int alpha) {
    return static_cast<uint32_t>(255 - c.r) << 24 | static_cast<uint32_t>(255 - c.g) << 16 |
           static_cast<uint32_t>(255 - c.b) << 8 | static_cast<uint32_t>(alpha);
}

constexpr int kTexture = 64;

// Test pictures: up and down solid; demo2 with distinct halves; the overlays
// opaque (alpha 0: the texel replaces the frame) on their left half and
// clear (alpha 255) on their right, trevak with distinct upper and lower
// halves, mono half-clear on its right to show the blend's proportions.
void make_test_pictures() {
    TextureSet.pictures[kUpPicture] =
        make_test_texture(kTexture, kTexture, [](int, int) { return stored(kUp, 0); });
    TextureSet.pictures[kDownPicture] =
        make_test_texture(kTexture, kTexture, [](int, int) { return stored(kDown, 0); });
    TextureSet.pictures[kDemo2Picture] = make_test_texture(kTexture, kTexture, [](int x, int) {
        return stored(x < kTexture / 2 ? kDemo2Left : kDemo2Right, 0);
    });
    TextureSet.trevakPicture = make_test_texture(kTexture, kTexture, [](int x, int y) {
        return stored(y < kTexture / 2 ? kTrevakUpper : kTrevakLower, x < kTexture / 2 ? 0 : 255);
    });
    TextureSet.monoPicture = make_test_texture(
        kTexture, kTexture, [](int x, int) { return stored(kMono, x < kTexture / 2 ? 0 : 128); });
}

// A frame as read back, probed in view coordinates: x from -1 (left) to 1,
// y from -h/w (top) to h/w, in a drawing area centred in the client area.
struct Frame {
    std::vector<uint8_t> pixels;
    int width, height, area_width, area_height;

    Rgb at_pixel(int px, int py_from_top) const {
        int row = height - 1 - py_from_top;
        const uint8_t* p = &pixels[(static_cast<size_t>(row) * width + px) * 4];
        return Rgb{p[0], p[1], p[2]};
    }
    Rgb at(double x, double y) const {
        double scale = area_width / 2.0;
        double r = static_cast<double>(area_height) / area_width;
        int px = (width - area_width) / 2 + static_cast<int>((x + 1.0) * scale);
        // The viewport's odd leftover row goes to the top bar.
        int bottom_bar = (height - area_height) / 2;
        int top_bar = height - area_height - bottom_bar;
        int py = top_bar + static_cast<int>((y + r) * scale);
        return at_pixel(px, py);
    }
};

bool near(Rgb a, Rgb b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

class Scene : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(open_gl_test_context(&gl_, 800, 600)); }
    void TearDown() override { close_gl_test_context(&gl_); }

    void prepare(int area_width = 800, int area_height = 500, double depth = 1.0) {
        area_width_ = area_width;
        area_height_ = area_height;
        set_up_drawing_area(gl_, area_width, area_height, depth);
        make_test_pictures();
    }

    Frame draw(uint32_t position) {
        TimelinePosition = position;
        draw_frame();
        return Frame{read_back_buffer(gl_), gl_.width, gl_.height, area_width_, area_height_};
    }

    // The second of two frames at one position: from then on every frame of
    // the context looks the same.
    Frame settled(uint32_t position) {
        draw(position);
        return draw(position);
    }

    GlTestContext gl_;
    int area_width_ = 800;
    int area_height_ = 500;
};

TEST(PanelStep, StepsBeginWhereTheConstantPutsThem) {
    struct Case {
        uint32_t position;
        int32_t index;
        bool past_half;
    };
    const Case cases[] = {
        {0, 0, false},         {9185, 0, true},     {9186, 1, false},    {146947, 15, true},
        {146948, 16, false},   {165316, 18, false}, {339814, 37, false}, {344405, 37, false},
        {344406, 37, true},    {348997, 37, true},  {348998, 38, false}, {538500, 58, true},
        {5345596, 582, false},
    };
    for (const Case& c : cases) {
        PanelStep step = panel_step(panel_position(c.position));
        EXPECT_EQ(step.index, c.index) << c.position;
        EXPECT_EQ(step.fraction >= 0.5f, c.past_half) << c.position;
        EXPECT_GE(step.fraction, 0.0f) << c.position;
        EXPECT_LT(step.fraction, 1.0f) << c.position;
    }
    // The low bit of the position is dropped.
    EXPECT_EQ(panel_position(9187), panel_position(9186));
    EXPECT_EQ(panel_position(9186), 18372.0f);

    // From 2^30 on the 32-bit panel position is negative; the step truncates
    // toward zero.
    EXPECT_EQ(panel_position(0x40000000u), -2147483648.0f);
    EXPECT_EQ(panel_step(panel_position(0x40000000u)).index, -116912);
    EXPECT_EQ(panel_step(panel_position(0x40061A80u)).index, -116869);
    EXPECT_EQ(panel_position(0xFFFFFFFFu), -4.0f);
    EXPECT_EQ(panel_step(-4.0f).index, 0);
    EXPECT_LT(panel_step(-4.0f).fraction, 0.0f);
    EXPECT_EQ(panel_position(0x80000000u), 0.0f);
}

TEST_F(Scene, PanelShowsThePictureOfEachStep) {
    prepare();
    struct Case {
        uint32_t position;
        Rgb picture;
    };
    const Case cases[] = {
        {0, kUp},
        {9185, kUp},
        {9186, kDown},
        {146947, kDown},
        {339814, kDemo2Right},
        {344405, kDemo2Right},
        {344406, kDemo2Left},
        {348998, kUp},
        {538499, kUp},
        {0x40000000u, kUp},    // step -116912: even
        {0x40061A80u, kDown},  // step -116869: odd in two's complement
    };
    for (const Case& c : cases) {
        Frame f = settled(c.position);
        // Points all over the panel but clear of the mono overlay, which the
        // positions from 2^30 on show as well.
        const double probes[][2] = {{-0.6, -0.5}, {-0.6, 0.0},  {-0.6, 0.5},
                                    {-0.45, 0.0}, {0.65, -0.5}, {0.65, 0.3},
                                    {0.0, -0.55}, {0.3, 0.55},  {-0.3, -0.55}};
        for (const auto& p : probes)
            EXPECT_EQ(f.at(p[0], p[1]), c.picture)
                << "P " << c.position << " at " << p[0] << "," << p[1];
        // Outside the panel the inverted black background is white.
        EXPECT_EQ(f.at(-0.8, 0.0), kWhite) << c.position;
        EXPECT_EQ(f.at(0.8, -0.3), kWhite) << c.position;
        EXPECT_EQ(f.at(0.95, 0.6), kWhite) << c.position;
    }
}

TEST_F(Scene, TrevakHalvesLieOverTheLowerPanelShiftedAndClipped) {
    prepare();
    struct Case {
        uint32_t position;
        Rgb overlay;
        double shift;  // in panel half-widths of 0.7
    };
    const Case cases[] = {
        {146948, kTrevakUpper, 0.2},   // step 16
        {165316, kTrevakLower, 0.15},  // step 18
    };
    for (const Case& c : cases) {
        Frame f = settled(c.position);
        const double left = (-1.0 + c.shift) * 0.7;
        const std::string at = "P " + std::to_string(c.position);
        // The upper half of the panel shows the picture alone.
        EXPECT_EQ(f.at(-0.2, -0.3), kUp) << at;
        // Lower half: the picture left of the shifted overlay, the overlay's
        // opaque half, then its clear half showing the picture.
        EXPECT_EQ(f.at(left - 0.03, 0.3), kUp) << at;
        EXPECT_EQ(f.at(left + 0.05, 0.3), c.overlay) << at;
        EXPECT_EQ(f.at(-0.2, 0.55), c.overlay) << at;
        EXPECT_EQ(f.at(0.4, 0.3), kUp) << at;
        // Past the panel's right edge the overlay is clipped by depth.
        EXPECT_EQ(f.at(0.72, 0.3), kWhite) << at;
        EXPECT_EQ(f.at(0.78, 0.5), kWhite) << at;
    }
    // The neighbouring steps have no overlay.
    Frame f = settled(146947);
    EXPECT_EQ(f.at(-0.2, 0.3), kDown);
    f = settled(178000);  // step 19
    EXPECT_EQ(f.at(-0.2, 0.3), kDown);
}

TEST_F(Scene, MonoOverlayFromItsThresholdOn) {
    prepare();
    Frame before = settled(kMonoOverlayFromTicks - 1);
    EXPECT_EQ(before.at(-0.2, 0.0), kUp);

    for (uint32_t position : {kMonoOverlayFromTicks, kStartTicks, 0xFFFFFFFFu}) {
        Frame f = settled(position);
        const std::string at = "P " + std::to_string(position);
        // The overlay spans x -0.385..0.595 and y -0.49..0.49 in view units.
        EXPECT_TRUE(near(f.at(-0.2, 0.0), kMono, 1)) << at << " " << f.at(-0.2, 0.0);
        EXPECT_TRUE(near(f.at(-0.35, -0.45), kMono, 1)) << at;
        // Half alpha over the red picture: 1 - (0.5 x texel + 0.5 x (1 - red)).
        EXPECT_TRUE(near(f.at(0.4, 0.0), Rgb{191, 64, 64}, 3)) << at << " " << f.at(0.4, 0.0);
        // Around the overlay the picture shows.
        EXPECT_EQ(f.at(-0.5, 0.0), kUp) << at;
        EXPECT_EQ(f.at(0.65, 0.0), kUp) << at;
        EXPECT_EQ(f.at(0.0, -0.55), kUp) << at;
        EXPECT_EQ(f.at(0.0, 0.55), kUp) << at;
        EXPECT_EQ(f.at(-0.8, 0.0), kWhite) << at;
    }
}

TEST_F(Scene, OddPositionDrawsTheFrameOfTheEvenOneBelow) {
    prepare();
    for (uint32_t even : {9186u, 146948u, 344406u, 538500u}) {
        Frame a = settled(even);
        Frame b = settled(even + 1);
        EXPECT_TRUE(a.pixels == b.pixels) << even;
    }
}

TEST_F(Scene, BarsStayBlackAndTheFirstFrameIsAlreadyRight) {
    prepare();
    Frame first = draw(146948);
    Frame second = draw(146948);
    EXPECT_TRUE(first.pixels == second.pixels);
    // Letterbox bars of 50 rows above and below the 800 x 500 drawing area.
    for (int px : {0, 400, 799}) {
        EXPECT_EQ(second.at_pixel(px, 0), kBlack);
        EXPECT_EQ(second.at_pixel(px, 49), kBlack);
        EXPECT_EQ(second.at_pixel(px, 550), kBlack);
        EXPECT_EQ(second.at_pixel(px, 599), kBlack);
    }
    EXPECT_EQ(second.at_pixel(0, 50), kWhite);
    EXPECT_EQ(second.at_pixel(799, 549), kWhite);
}

TEST_F(Scene, TallDrawingAreaLeavesRowsBeyondTheViewBlack) {
    prepare(400, 600);  // h/w = 1.5: y runs from -1.5 to 1.5
    Frame f = settled(0);
    EXPECT_EQ(f.at(0.0, -1.25), kBlack);
    EXPECT_EQ(f.at(0.0, 1.25), kBlack);
    EXPECT_EQ(f.at(0.0, -0.85), kWhite);
    EXPECT_EQ(f.at(0.0, 0.85), kWhite);
    EXPECT_EQ(f.at(0.0, 0.0), kUp);
    EXPECT_EQ(f.at(0.0, 0.65), kUp);
    EXPECT_EQ(f.at_pixel(100, 300), kBlack);  // bar left of the 400-wide area
    EXPECT_EQ(f.at_pixel(700, 300), kBlack);
}

TEST_F(Scene, DepthNearerThanEveryPlaneKeepsAllButThePanelBlack) {
    // What a context whose depth starts at 0 would show: the far panel quad
    // ignores depth and opens the panel, so the panel is drawn and inverted
    // as always, while the view area around it stays black.
    prepare(800, 500, 0.0);
    Frame f = settled(0);
    EXPECT_EQ(f.at(-0.8, 0.0), kBlack);
    EXPECT_EQ(f.at(0.8, 0.3), kBlack);
    EXPECT_EQ(f.at(0.0, 0.0), kUp);
}

TEST_F(Scene, FrameLeavesTheStateItFound) {
    prepare();
    for (uint32_t position : {0u, 146948u, 339814u, 5345596u}) {
        draw(position);
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)) << position;
        EXPECT_FALSE(glIsEnabled(GL_BLEND)) << position;
        EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST)) << position;
        GLint value = 0;
        glGetIntegerv(GL_DEPTH_FUNC, &value);
        EXPECT_EQ(value, GL_LEQUAL) << position;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &value);
        EXPECT_EQ(value, 1) << position;
        glGetIntegerv(GL_MATRIX_MODE, &value);
        EXPECT_EQ(value, GL_MODELVIEW) << position;
        GLboolean mask[4] = {GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE};
        glGetBooleanv(GL_COLOR_WRITEMASK, mask);
        EXPECT_TRUE(mask[0] && mask[1] && mask[2] && mask[3]) << position;
        GLfloat colour[4] = {0, 0, 0, 0};
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_EQ(colour[0] + colour[1] + colour[2], 3.0f) << position;
        GLdouble modelview[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(modelview[i], i % 5 == 0 ? 1.0 : 0.0) << i;
        // The whole view area ends the frame at one depth, inside the panel
        // and around it, so the next frame meets the same state.
        GLfloat inside = 0.0f, outside = 1.0f;
        glReadPixels(400, 300, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &inside);
        glReadPixels(20, 300, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &outside);
        EXPECT_EQ(inside, outside) << position;
        EXPECT_LT(inside, 0.01f) << position;  // near: the -1 plane
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << position;
    }
}

}  // namespace

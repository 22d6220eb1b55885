// The scene renderer: one frame of immediate-mode GL 1.1 from the timeline
// position, with no state of its own between frames.
//
// Depth planes (eye-space z, nearest first): -1 inversion, -2 background and
// depth reset, -10 mono overlay, -20 panel picture and trevak overlay,
// -1020 far panel quad. Outside the panel the depth stays at or in front of
// -2, so the overlays at -20 cannot spill over the panel's edges; inside it
// the far panel quad opens the depth for this frame and the reset closes it.
// The inversion quad writes the -1 plane over the whole view last, so the next
// frame's background quad fails its depth test; that changes nothing, since
// it draws the colour the buffer was just cleared to.
#include "video/scene.h"

#include <GL/gl.h>

#include <bit>

#include "config/presentation.h"
#include "resources/textures.h"
#include "timeline/timeline_position.h"

namespace {

constexpr float kZInversion = -1.0f;
constexpr float kZBackground = -2.0f;
constexpr float kZMono = -10.0f;
constexpr float kZPicture = -20.0f;
constexpr float kZFarPanel = -1020.0f;

constexpr float kPanelHalf = 0.7f;

// Steps per unit of panel position: one step is 18368.25 bytes of the music
// channel (0.104 s). The single-precision value is kept bit for bit and the
// product taken in double, which fixes on which position each step begins.
constexpr float kStepScale = std::bit_cast<float>(0x38645867u);

// Panel transform of a rectangle: centre and half-size.
struct PanelTransform {
    float cx, cy, sx, sy;
};

PanelTransform transform_of(PanelRect rect) {
    return PanelTransform{(rect.x0 + rect.x1) * 0.5f, (rect.y0 + rect.y1) * 0.5f,
                          (rect.x1 - rect.x0) * 0.5f, (rect.y1 - rect.y0) * 0.5f};
}

void enter_panel(const PanelTransform& t) {
    glTranslatef(t.cx, t.cy, 0.0f);
    glScalef(t.sx, t.sy, 1.0f);
}

bool shows_demo2(int32_t step) { return step == 37 || step == 41 || step == 45 || step == 49; }

// The trevak overlay: which steps, how far right, and which half of the
// picture (texture t at the panel's middle and at its bottom edge).
struct TrevakPlacement {
    bool shown;
    float shift;
    float t_middle;
    float t_bottom;
};

TrevakPlacement trevak_placement(int32_t step) {
    switch (step) {
        case 16:
        case 20:
        case 24:
            return TrevakPlacement{true, 0.2f, 0.0f, 0.5f};
        case 18:
        case 22:
        case 26:
            return TrevakPlacement{true, 0.15f, 0.5f, 1.0f};
        default:
            return TrevakPlacement{false, 0.0f, 0.0f, 0.0f};
    }
}

void draw_panel_picture(const PanelStep& step) {
    GLuint texture;
    float s0 = 0.0f;
    float s1 = 1.0f;
    if (shows_demo2(step.index)) {
        // The first half of the step shows the picture's right half, the
        // second its left half, each stretched over the whole panel.
        texture = TextureSet.pictures[kDemo2Picture];
        s0 = step.fraction < 0.5f ? 0.5f : 0.0f;
        s1 = s0 + 0.5f;
    } else {
        // Two's complement: a negative odd step also picks the down picture.
        texture = TextureSet.pictures[step.index & 1];
    }
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(s0, 1.0f);
    glVertex3f(-1.0f, 1.0f, kZPicture);
    glTexCoord2f(s1, 1.0f);
    glVertex3f(1.0f, 1.0f, kZPicture);
    glTexCoord2f(s1, 0.0f);
    glVertex3f(1.0f, -1.0f, kZPicture);
    glTexCoord2f(s0, 0.0f);
    glVertex3f(-1.0f, -1.0f, kZPicture);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

// Blend factors of both overlays: a texel's alpha keeps that much of the
// frame, and its colour fills the rest.
void begin_overlay(GLuint texture) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
}

void draw_trevak(const TrevakPlacement& trevak) {
    begin_overlay(TextureSet.trevakPicture);
    glTranslatef(trevak.shift, 0.0f, 0.0f);
    // The lower half of the panel; what the shift pushes past the panel's
    // right edge fails the depth test there.
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, trevak.t_bottom);
    glVertex3f(-1.0f, 1.0f, kZPicture);
    glTexCoord2f(1.0f, trevak.t_bottom);
    glVertex3f(1.0f, 1.0f, kZPicture);
    glTexCoord2f(1.0f, trevak.t_middle);
    glVertex3f(1.0f, 0.0f, kZPicture);
    glTexCoord2f(0.0f, trevak.t_middle);
    glVertex3f(-1.0f, 0.0f, kZPicture);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
}

void draw_mono(const PanelTransform& t) {
    // A fresh panel transform, without the trevak shift.
    glPopMatrix();
    glPushMatrix();
    enter_panel(t);
    begin_overlay(TextureSet.monoPicture);
    glTranslatef(0.15f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-kPanelHalf, kPanelHalf, kZMono);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(kPanelHalf, kPanelHalf, kZMono);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(kPanelHalf, -kPanelHalf, kZMono);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-kPanelHalf, -kPanelHalf, kZMono);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    // Blending stays on: invert_frame sets its own factors and switches it
    // off, and nothing writes colour in between.
}

void rect_quad(PanelRect rect, float z) {
    glBegin(GL_QUADS);
    glVertex3f(rect.x0, rect.y0, z);
    glVertex3f(rect.x1, rect.y0, z);
    glVertex3f(rect.x1, rect.y1, z);
    glVertex3f(rect.x0, rect.y1, z);
    glEnd();
}

void view_quad(float z) {
    glBegin(GL_QUADS);
    glVertex3f(-1.0f, -1.0f, z);
    glVertex3f(1.0f, -1.0f, z);
    glVertex3f(1.0f, 1.0f, z);
    glVertex3f(-1.0f, 1.0f, z);
    glEnd();
}

}  // namespace

PanelStep panel_step(float x) {
    double y = static_cast<double>(x) * static_cast<double>(kStepScale);
    // x is a 32-bit integer as a float, so |y| stays below 2^17 and the
    // truncation is always defined.
    int32_t index = static_cast<int32_t>(y);
    return PanelStep{index, static_cast<float>(y - static_cast<double>(index))};
}

float panel_position(uint32_t timeline) {
    // The channel's byte position rounded down to whole sample frames, read
    // as a signed 32-bit value: from 2^30 ticks on it is negative.
    uint32_t bytes = 4u * (timeline >> 1);
    return static_cast<float>(static_cast<int32_t>(bytes));
}

void draw_frame() {
    const uint32_t position = TimelinePosition;

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    glColor3f(0.0f, 0.0f, 0.0f);
    view_quad(kZBackground);

    glPushMatrix();
    const PanelRect panel = {-kPanelHalf, -kPanelHalf, kPanelHalf, kPanelHalf};

    // Opens the panel's depth whatever the previous frame left there.
    glDepthFunc(GL_ALWAYS);
    glColor3f(0.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex3f(panel.x0, panel.y0, kZFarPanel);
    glVertex3f(panel.x1, panel.y0, kZFarPanel);
    glVertex3f(panel.x1, panel.y1, kZFarPanel);
    glVertex3f(panel.x0, panel.y1, kZFarPanel);
    // White for every textured quad that follows (modulate leaves texels as
    // they are); it colours no vertex of this quad.
    glColor3f(1.0f, 1.0f, 1.0f);
    glEnd();
    glDepthFunc(GL_LEQUAL);

    draw_panel(panel, position);

    // Back to the -2 plane inside the panel, without touching colour, so the
    // next frame finds the same depth everywhere in the view area.
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    rect_quad(panel, kZBackground);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    glPopMatrix();
    invert_frame();
}

void draw_panel(PanelRect rect, uint32_t timeline) {
    const PanelTransform t = transform_of(rect);
    const PanelStep step = panel_step(panel_position(timeline));

    glPushMatrix();
    enter_panel(t);

    draw_panel_picture(step);

    const TrevakPlacement trevak = trevak_placement(step.index);
    if (trevak.shown) draw_trevak(trevak);

    if (timeline >= kMonoOverlayFromTicks) draw_mono(t);

    glPopMatrix();
}

void invert_frame() {
    glEnable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    // white x (1 - frame) + frame x 0: every channel v becomes 1 - v.
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ZERO);
    glColor3f(1.0f, 1.0f, 1.0f);
    view_quad(kZInversion);
    glDisable(GL_BLEND);
}

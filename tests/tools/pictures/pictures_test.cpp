// The default pictures against what the presentation does with them: the
// texture set turns pure greens white and reads only red from the masks, the
// renderer clips the trevak overlay's right tenth, and the PCX decoder must
// get back exactly what was drawn. The icons: the same emblem at every side,
// and PNG files that another reader gets back exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "pcx_writer.h"
#include "pictures.h"
#include "png_file.h"
#include "png_reader.h"
#include "resources/pcx_decoder.h"
#include "support/test_files.h"

namespace {

struct Drawn {
    const char* name;
    Canvas canvas;
};

const std::vector<Drawn>& pictures() {
    static const std::vector<Drawn> drawn = {
        {"up", draw_up()},         {"down", draw_down()}, {"demo2", draw_demo2()},
        {"trevak", draw_trevak()}, {"mono", draw_mono()},
    };
    return drawn;
}

const uint8_t* texel(const Canvas& c, int x, int y) {
    return &c.rgb[(static_cast<size_t>(y) * c.width + x) * 3];
}

TEST(Pictures, DecodeBackToWhatWasDrawn) {
    for (const Drawn& d : pictures()) {
        const Canvas& c = d.canvas;
        ASSERT_EQ(c.width, kPictureSide) << d.name;
        ASSERT_EQ(c.height, kPictureSide) << d.name;
        std::vector<uint8_t> pcx = encode_pcx_best(c.width, c.height, c.rgb.data());
        std::vector<uint32_t> pixels(static_cast<size_t>(c.width) * c.height + 1, 0);
        PcxImage image{0, 0, 0, pixels.data()};
        PcxDecodeResult result =
            decode_pcx_pixels(&image, pcx.data(), static_cast<uint32_t>(pcx.size()),
                              static_cast<uint32_t>(pixels.size()));
        ASSERT_EQ(result.fault, kPcxGood) << d.name;
        EXPECT_FALSE(result.paletteMisplaced) << d.name;
        ASSERT_EQ(image.width, static_cast<uint32_t>(c.width)) << d.name;
        ASSERT_EQ(image.height, static_cast<uint32_t>(c.height)) << d.name;
        size_t wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const uint8_t* p = texel(c, x, y);
                uint32_t expected = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                wrong += (pixels[static_cast<size_t>(y) * c.width + x] & 0xFFFFFFu) != expected;
            }
        EXPECT_EQ(wrong, 0u) << d.name;
    }
}

TEST(Pictures, ColourPicturesHaveNoPureGreenAndMasksAreGrey) {
    for (const Drawn& d : pictures()) {
        const std::string name = d.name;
        const bool is_mask = name == "trevak" || name == "mono";
        size_t pure_green = 0, not_grey = 0, ink = 0, clear = 0;
        for (int y = 0; y < d.canvas.height; ++y)
            for (int x = 0; x < d.canvas.width; ++x) {
                const uint8_t* p = texel(d.canvas, x, y);
                pure_green += p[0] == 0 && p[2] == 0 && p[1] != 0;
                not_grey += p[0] != p[1] || p[1] != p[2];
                ink += p[0] < 64;
                clear += p[0] == 255;
            }
        EXPECT_EQ(pure_green, 0u) << name;
        if (is_mask) {
            EXPECT_EQ(not_grey, 0u) << name;
            // Mostly clear, so the pictures underneath stay the subject.
            EXPECT_GT(clear, ink * 3) << name;
            EXPECT_GT(ink, 2000u) << name;
        }
    }
}

TEST(Pictures, CounterPhaseFramesAndOverlayLayout) {
    const Canvas& up = pictures()[0].canvas;
    const Canvas& down = pictures()[1].canvas;
    size_t differ = 0;
    for (size_t i = 0; i < up.rgb.size(); i += 3) {
        int change = 0;
        for (size_t k = 0; k < 3; ++k)
            change = std::max(change, std::abs(up.rgb[i + k] - down.rgb[i + k]));
        differ += change > 16;
    }
    // About a third of the picture changes between the two frames.
    EXPECT_GT(differ, up.rgb.size() / 3 / 4) << "up and down should alternate visibly";

    // The shift of up to 0.2 panel half-widths pushes the right tenth of the
    // trevak picture past the panel's edge, where it is clipped: no ink there.
    // Each half holds a word of its own.
    const Canvas& trevak = pictures()[3].canvas;
    const int clipped_from = trevak.width * 9 / 10;
    size_t ink_clipped = 0, ink_upper = 0, ink_lower = 0;
    for (int y = 0; y < trevak.height; ++y)
        for (int x = 0; x < trevak.width; ++x) {
            bool inked = texel(trevak, x, y)[0] < 128;
            if (x >= clipped_from) ink_clipped += inked;
            (y < trevak.height / 2 ? ink_upper : ink_lower) += inked;
        }
    EXPECT_EQ(ink_clipped, 0u);
    EXPECT_GT(ink_upper, 1000u);
    EXPECT_GT(ink_lower, 1000u);

    // The mono reticle's centre dot lies where the panel's centre falls on the
    // shifted overlay: 0.55 / 1.4 of the width, half the height.
    const Canvas& mono = pictures()[4].canvas;
    const int cx = static_cast<int>(0.55 / 1.4 * mono.width);
    EXPECT_EQ(texel(mono, cx, mono.height / 2)[0], 0);
    EXPECT_EQ(texel(mono, mono.width / 2 + 12, mono.height / 2 + 12)[0], 255);
}

// Mean of each channel over one quarter of a canvas (quarter 0 top left, 1 top
// right, 2 bottom left, 3 bottom right).
std::vector<double> quarter_means(const Canvas& c, int quarter) {
    const int x0 = (quarter & 1) * c.width / 2;
    const int y0 = (quarter >> 1) * c.height / 2;
    std::vector<double> sum(3, 0.0);
    for (int y = y0; y < y0 + c.height / 2; ++y)
        for (int x = x0; x < x0 + c.width / 2; ++x)
            for (int k = 0; k < 3; ++k) sum[k] += texel(c, x, y)[k];
    for (double& s : sum) s /= static_cast<double>(c.width / 2) * (c.height / 2);
    return sum;
}

TEST(Icon, IsTheUpEmblemAtEverySide) {
    EXPECT_EQ(draw_emblem(kPictureSide).rgb, pictures()[0].canvas.rgb);
    // Each quarter of a small icon averages to the same colour as that
    // quarter of the full picture: the whole design, scaled, not a corner
    // of it or a copy squeezed off centre.
    const Canvas& full = pictures()[0].canvas;
    for (int side : {16, 32, 48, 64, 128, 256}) {
        const Canvas icon = draw_emblem(side);
        ASSERT_EQ(icon.width, side);
        ASSERT_EQ(icon.height, side);
        for (int quarter = 0; quarter < 4; ++quarter) {
            const std::vector<double> small = quarter_means(icon, quarter);
            const std::vector<double> large = quarter_means(full, quarter);
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(small[k], large[k], 8.0) << side << " quarter " << quarter;
        }
    }
}

TEST(Icon, PngFileReadsBackExactlyAndFailuresAreNamed) {
    ScratchDir dir;
    for (int side : {16, 48, 256}) {
        const Canvas icon = draw_emblem(side);
        const std::string path = dir.file("icon-" + std::to_string(side) + ".png");
        std::string error;
        ASSERT_TRUE(write_png_file(path, icon, &error)) << error;
        RgbPicture back;
        ASSERT_TRUE(read_png(read_file(path), &back, &error)) << error;
        EXPECT_EQ(back.width, static_cast<uint32_t>(side));
        EXPECT_EQ(back.height, static_cast<uint32_t>(side));
        EXPECT_FALSE(back.hadAlpha);
        EXPECT_EQ(back.rgb, icon.rgb) << side;
        // The same drawing gives the same bytes: the package is reproducible.
        const std::string again = dir.file("again.png");
        ASSERT_TRUE(write_png_file(again, draw_emblem(side), &error)) << error;
        EXPECT_EQ(read_file(again), read_file(path));
    }
    std::string error;
    const std::string nowhere = dir.file("no-such-folder/icon.png");
    EXPECT_FALSE(write_png_file(nowhere, draw_emblem(16), &error));
    EXPECT_NE(error.find(nowhere), std::string::npos) << error;
    EXPECT_FALSE(write_png_file(dir.file("empty.png"), Canvas{}, &error));
    EXPECT_TRUE(read_file(dir.file("empty.png")).empty());
}

}  // namespace

#include "resources/pcx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/platform_fake.h"
#include "pcx_writer.h"
#include "support/test_files.h"

namespace {

Bytes header(int left, int top, int right, int bottom, int planes) {
    Bytes h(128, 0);
    h[0] = 10, h[1] = 5, h[2] = 1, h[3] = 8;
    auto put = [&](int at, int value) {
        h[at] = static_cast<uint8_t>(value);
        h[at + 1] = static_cast<uint8_t>(value >> 8);
    };
    put(4, left), put(6, top), put(8, right), put(10, bottom);
    h[65] = static_cast<uint8_t>(planes);
    put(66, right - left + 1);
    return h;
}

// Palette colour k is (k, 255 - k, k / 2), so a word shows which index it came from.
Bytes ramp_palette() {
    Bytes p;
    for (int k = 0; k < 256; ++k) p.insert(p.end(), {uint8_t(k), uint8_t(255 - k), uint8_t(k / 2)});
    return p;
}
uint32_t ramp(int k) { return uint32_t(k) << 16 | uint32_t(255 - k) << 8 | uint32_t(k / 2); }

Bytes one_plane(int width, int height, const Bytes& codes) {
    Bytes file = header(0, 0, width - 1, height - 1, 1);
    file.insert(file.end(), codes.begin(), codes.end());
    file.push_back(12);
    Bytes palette = ramp_palette();
    file.insert(file.end(), palette.begin(), palette.end());
    return file;
}

Bytes with(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Decoded {
    PcxImage image{};
    std::vector<uint32_t> pixels;
};

Decoded decode(const Bytes& file, size_t capacity = 64, uint32_t fill = 0xEEEEEEEE) {
    Decoded d;
    d.pixels.assign(capacity, fill);
    d.image.pixels = d.pixels.data();
    decode_pcx(&d.image, file.data(), static_cast<uint32_t>(file.size()),
               static_cast<uint32_t>(capacity));
    return d;
}

class Pcx : public ::testing::Test {
protected:
    void SetUp() override { fake_platform::reset(); }
};

TEST_F(Pcx, ThreePlanesFillRedGreenBlueAndKeepTheTopByte) {
    Bytes file = with(header(0, 0, 1, 0, 3), {0xC2, 200, 0xC2, 100, 0xC2, 50});
    Decoded d = decode(file, 4, 0xAB000000);
    EXPECT_EQ(d.image.width, 2u);
    EXPECT_EQ(d.image.height, 1u);
    EXPECT_EQ(d.image.bits, 24u);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0xABC86432, 0xABC86432, 0xAB000000, 0xAB000000}));
    EXPECT_EQ(fake_platform::console(), "[pcx img: 2x1 24]\n");
    EXPECT_TRUE(fake_platform::boxes().empty());

    // Two planes: blue keeps what the buffer held.
    fake_platform::reset();
    d = decode(with(header(0, 0, 0, 0, 2), {0xC1, 200, 100}), 2, 0x11223344);
    EXPECT_EQ(d.pixels[0], 0x11C86444u);
    // All data is used, with no palette and no size check.
    EXPECT_TRUE(fake_platform::boxes().empty());
}

TEST_F(Pcx, OnePlaneMapsThroughThePaletteReadWhereDecodingStopped) {
    Bytes palette(768, 0);
    palette[15] = 200, palette[16] = 100, palette[17] = 50;  // colour 5
    Bytes file = with(header(0, 0, 1, 1, 1), {0xC2, 5, 0xC2, 5, 12});
    file = with(file, palette);
    Decoded d = decode(file, 6);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d.pixels[i], 0x00C86432u) << i;
    // The palette marker lands, undecoded through the palette, just after the picture.
    EXPECT_EQ(d.pixels[4], 0xEE0CEEEEu);
    EXPECT_EQ(d.pixels[5], 0xEEEEEEEEu);
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_EQ(fake_platform::console(), "[pcx img: 2x2 24]\n");

    // A run code just before the palette takes the palette's first byte as its
    // value; the palette is then read one byte late and ends past the entry.
    fake_platform::reset();
    file = with(with(header(0, 0, 1, 0, 1), {0x01, 0xC1}), ramp_palette());
    d = decode(file, 4);
    const int size = static_cast<int>(file.size());
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], std::to_string(size + 1) + " / " + std::to_string(size) + " ");
    // Read one byte late, colour k is (255 - k, k / 2, k + 1); the second
    // pixel has index 0, the palette's first byte.
    EXPECT_EQ(d.pixels[0], 0xFE0002u);
    EXPECT_EQ(d.pixels[1], 0xFF0001u);
}

TEST_F(Pcx, RunCodesAndWindowBounds) {
    // C5 07: five 7s; C0 xx: nothing, two bytes; BF: one 191; C2 03: two 3s.
    Bytes codes = {0xC5, 7, 0xC0, 99, 0xBF, 0xC2, 3};
    Decoded d = decode(one_plane(8, 1, codes), 10);
    std::vector<uint32_t> expected = {ramp(7), ramp(7), ramp(7), ramp(7), ramp(7), ramp(191), ramp(3), ramp(3)};
    EXPECT_EQ(std::vector<uint32_t>(d.pixels.begin(), d.pixels.begin() + 8), expected);
    EXPECT_TRUE(fake_platform::boxes().empty());

    // Only the differences of the bounds matter.
    Bytes moved = one_plane(8, 1, codes);
    Bytes bounds = header(-300, 1000, -293, 1000, 1);
    std::copy(bounds.begin(), bounds.begin() + 12, moved.begin());
    Decoded e = decode(moved, 10);
    EXPECT_EQ(e.image.width, 8u);
    EXPECT_EQ(e.image.height, 1u);
    EXPECT_EQ(e.pixels, d.pixels);
}

TEST_F(Pcx, RunsOverhangTheLineAndDataRunsPastTheHeight) {
    // Width 2: a run of 3 spills one pixel into row 1, which row 1 then
    // overwrites; the third row of data lies past the height of 2.
    Bytes codes = {0xC3, 9, 4, 5, 6, 0xC2, 8};
    Decoded d = decode(one_plane(2, 2, codes), 8);
    EXPECT_EQ(d.pixels[0], ramp(9));
    EXPECT_EQ(d.pixels[1], ramp(9));
    EXPECT_EQ(d.pixels[2], ramp(4));
    EXPECT_EQ(d.pixels[3], ramp(5));
    // Past the picture only byte 2 is written and no palette is applied.
    EXPECT_EQ(d.pixels[4], 0xEE06EEEEu);
    EXPECT_EQ(d.pixels[5], 0xEE08EEEEu);
    EXPECT_EQ(d.pixels[6], 0xEE0CEEEEu);  // the marker
    EXPECT_EQ(d.pixels[7], 0xEEEEEEEEu);

    // Three planes: an overhang stays in its plane and line, not carried over.
    Bytes file = with(header(0, 0, 1, 1, 3), {0xC3, 1, 0xC2, 2, 0xC2, 3, 0xC2, 4, 0xC2, 5, 0xC2, 6});
    d = decode(file, 4, 0);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0x010203, 0x010203, 0x040506, 0x040506}));
}

TEST_F(Pcx, RefusedHeadersGiveAnEmptyPictureAndABox) {
    struct Case {
        const char* what;
        Bytes file;
        const char* problem;
    };
    Bytes good = with(header(0, 0, 1, 1, 3), {1, 2, 3});
    Bytes planes0 = good, planesMinus = good, planes4 = good;
    planes0[65] = 0, planesMinus[65] = 0xFF, planes4[65] = 4;
    const std::vector<Case> cases = {
        {"empty", {}, "128-byte"},
        {"127 bytes", Bytes(good.begin(), good.begin() + 127), "128-byte"},
        {"right below left", with(header(5, 0, 4, 1, 3), {1}), "right bound"},
        {"bottom below top", with(header(0, 0, 1, -1, 3), {1}), "bottom bound"},
        {"no planes", planes0, "plane count"},
        {"negative planes", planesMinus, "plane count"},
        {"four planes", planes4, "plane count"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_platform::reset();
        Decoded d = decode(c.file, 4);
        EXPECT_EQ(d.image.width, 0u);
        EXPECT_EQ(d.image.height, 0u);
        EXPECT_EQ(d.pixels, std::vector<uint32_t>(4, 0xEEEEEEEE));
        ASSERT_EQ(fake_platform::boxes().size(), 1u);
        EXPECT_NE(fake_platform::boxes()[0].find(c.problem), std::string::npos) << fake_platform::boxes()[0];
        EXPECT_EQ(fake_platform::console(), "[pcx img: 0x0 24]\n");
    }
    // A null entry (what the pack hands out when it has nothing) is refused too.
    fake_platform::reset();
    PcxImage image{};
    decode_pcx(&image, nullptr, 0, 0);
    EXPECT_EQ(fake_platform::boxes().size(), 1u);
}

TEST_F(Pcx, TruncatedDataAndSmallBuffersStayInBounds) {
    // Three planes cut inside a run code: its value reads as 0, the rest of
    // the picture keeps what the buffer held.
    Decoded d = decode(with(header(0, 0, 3, 0, 3), {0xC4, 9, 0xC4}), 4, 0x01010101);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(4, 0x01090001));

    // One plane shorter than header plus palette: no pixel data, the palette
    // starts at 128 and reads zeros past the end.
    Bytes shortFile = with(header(0, 0, 1, 0, 1), {0xC2, 7, 12, 1, 2, 3});
    d = decode(shortFile, 2, 0xAA333333);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0, 0}));
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], "896 / 134 ");

    // Data that ends inside the picture: pixels it never reached still go
    // through the palette, with whatever byte 2 the buffer held.
    d = decode(one_plane(4, 1, {0xC2, 5}), 4);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{ramp(5), ramp(5), ramp(12), ramp(0xEE)}));

    // A buffer smaller than the picture: writes past it are dropped (the
    // vector is exactly the capacity, so AddressSanitizer would see an overrun).
    fake_platform::reset();
    Bytes big = one_plane(16, 16, {0xFF, 1, 0xFF, 2, 0xFF, 3, 0xFF, 4, 0xC4, 5});
    d = decode(big, 3);
    EXPECT_EQ(d.image.width, 16u);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(3, ramp(1)));
    Bytes bigRgb = with(header(0, 0, 99, 99, 3), Bytes(3000, 0xC9));
    d = decode(bigRgb, 5, 0);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(5, 0xC9C9C9));
    d = decode(bigRgb, 0);
    EXPECT_EQ(d.image.height, 100u);
}

// Pixels as the test made them, rows from the top, 3 bytes each.
struct Picture {
    int width, height;
    Bytes rgb;
};

// Gradients, flat areas for runs, and bright values that need run codes.
Picture make_picture(int width, int height, int colours) {
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (colours > 256) {
                p.rgb.insert(p.rgb.end(), {uint8_t(x * 7 + y), uint8_t(y * 13 + x), uint8_t(x * y)});
                continue;
            }
            int k = (x / 5 + y * 3) % colours;
            if (y % 7 == 3) k = colours - 1;
            p.rgb.insert(p.rgb.end(), {uint8_t(k * 37), uint8_t(255 - k * 3), uint8_t(k + 190)});
        }
    return p;
}

Bytes ppm(const Picture& p) {
    std::string head = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    Bytes out(head.begin(), head.end());
    return with(out, p.rgb);
}

void expect_decodes_to(const Bytes& file, const Picture& p, const char* who) {
    SCOPED_TRACE(who);
    ASSERT_GT(file.size(), 128u);
    Decoded d = decode(file, size_t(p.width) * p.height + 1, 0);
    ASSERT_EQ(d.image.width, uint32_t(p.width));
    ASSERT_EQ(d.image.height, uint32_t(p.height));
    int wrong = 0;
    for (int i = 0; i < p.width * p.height; ++i) {
        const uint8_t* c = &p.rgb[size_t(i) * 3];
        uint32_t want = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
        if ((d.pixels[i] & 0xFFFFFF) != want && wrong++ < 5)
            ADD_FAILURE() << "pixel " << i << ": " << std::hex << d.pixels[i] << " != " << want;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(fake_platform::boxes().empty());
}

TEST_F(Pcx, DecodesWhatIndependentEncodersWrite) {
    ScratchDir dir;
    const Picture few = make_picture(64, 48, 200);
    const Picture many = make_picture(64, 48, 100000);
    write_file(dir.file("few.ppm"), ppm(few));
    write_file(dir.file("many.ppm"), ppm(many));

    auto run = [&](const std::string& command) { return std::system(command.c_str()); };
    ASSERT_EQ(run("ppmtopcx -8bit " + dir.file("few.ppm") + " > " + dir.file("netpbm1.pcx") + " 2>/dev/null"), 0);
    ASSERT_EQ(run("ppmtopcx -24bit " + dir.file("many.ppm") + " > " + dir.file("netpbm3.pcx") + " 2>/dev/null"), 0);
    // Pillow: an RGB picture gives three planes, a quantised one ('P') one plane
    // with its own palette, which must match the test's 200 colours exactly.
    const std::string script =
        "import sys\nfrom PIL import Image\n"
        "Image.open(sys.argv[1]).save(sys.argv[2])\n"
        "im = Image.open(sys.argv[3]).quantize(colors=256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)\n"
        "im.save(sys.argv[4])\n";
    write_file(dir.file("pil.py"), Bytes(script.begin(), script.end()));
    ASSERT_EQ(run("/usr/bin/python3 " + dir.file("pil.py") + " " + dir.file("many.ppm") + " " +
                  dir.file("pil3.pcx") + " " + dir.file("few.ppm") + " " + dir.file("pil1.pcx")), 0);

    Bytes netpbm1 = read_file(dir.file("netpbm1.pcx"));
    Bytes pil1 = read_file(dir.file("pil1.pcx"));
    ASSERT_GT(netpbm1.size(), 65u);
    ASSERT_GT(pil1.size(), 65u);
    EXPECT_EQ(netpbm1[65], 1);
    EXPECT_EQ(pil1[65], 1);
    expect_decodes_to(netpbm1, few, "ppmtopcx -8bit");
    expect_decodes_to(read_file(dir.file("netpbm3.pcx")), many, "ppmtopcx -24bit");
    expect_decodes_to(read_file(dir.file("pil3.pcx")), many, "Pillow RGB");
    expect_decodes_to(pil1, few, "Pillow palette");

    // Our own writer, odd width included (not padded), both layouts.
    const Picture odd = make_picture(37, 9, 100000);
    const Picture oddFew = make_picture(37, 5, 20);
    expect_decodes_to(encode_pcx_rgb(37, 9, odd.rgb.data()), odd, "writer, three planes");
    Bytes best = encode_pcx_best(37, 5, oddFew.rgb.data());
    EXPECT_EQ(best[65], 1);
    expect_decodes_to(best, oddFew, "writer, one plane");
    EXPECT_EQ(encode_pcx_best(37, 9, odd.rgb.data())[65], 3);
    EXPECT_TRUE(encode_pcx_rgb(0, 5, odd.rgb.data()).empty());
    EXPECT_TRUE(encode_pcx_rgb(32769, 1, odd.rgb.data()).empty());
}

}  // namespace

#include "resources/pcx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fakes/platform_fake.h"
#include "pcx_writer.h"
#include "resources/pack.h"
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

    // A run code just before the palette would take the palette's first byte
    // as its value and read the palette one byte late: without its marker the
    // palette block is missing, and the picture is refused whole.
    fake_platform::reset();
    file = with(with(header(0, 0, 1, 0, 1), {0x01, 0xC1}), ramp_palette());
    d = decode(file, 4);
    const int size = static_cast<int>(file.size());
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], "decode_pcx: picture of " + std::to_string(size) +
                                             " bytes refused: one plane without the 769-byte "
                                             "palette block at its end");
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(4, 0xEEEEEEEE));
}

TEST_F(Pcx, RunCodesAndWindowBounds) {
    // C5 07: five 7s; C0 xx: nothing, two bytes; BF: one 191; C2 03: two 3s.
    Bytes codes = {0xC5, 7, 0xC0, 99, 0xBF, 0xC2, 3};
    Decoded d = decode(one_plane(8, 1, codes), 10);
    std::vector<uint32_t> expected = {ramp(7), ramp(7),   ramp(7), ramp(7),
                                      ramp(7), ramp(191), ramp(3), ramp(3)};
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
    Bytes file =
        with(header(0, 0, 1, 1, 3), {0xC3, 1, 0xC2, 2, 0xC2, 3, 0xC2, 4, 0xC2, 5, 0xC2, 6});
    d = decode(file, 4, 0);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0x010203, 0x010203, 0x040506, 0x040506}));
}

Bytes cut(const Bytes& file, size_t length) { return Bytes(file.begin(), file.begin() + length); }

// Files written by independent encoders, in a scratch folder: netpbm's
// ppmtopcx, and Pillow through the system's Python.
struct RealFiles {
    ScratchDir dir;
    Bytes netpbm16, netpbm8, netpbm2, netpbmPalette, pillow1, pillowPalette, pillowRgb;
};

void write_real_files(RealFiles* real, const std::string& ppm16, const std::string& ppm8,
                      const std::string& ppm2, const std::string& ppmMany) {
    const ScratchDir& dir = real->dir;
    auto ppmtopcx = [&](const std::string& options, const std::string& ppm, const char* out) {
        write_file(dir.file("in.ppm"), Bytes(ppm.begin(), ppm.end()));
        std::string command = "ppmtopcx " + options + " " + dir.file("in.ppm") + " > " +
                              dir.file(out) + " 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return read_file(dir.file(out));
    };
    real->netpbm16 = ppmtopcx("", ppm16, "16.pcx");
    real->netpbm8 = ppmtopcx("", ppm8, "8.pcx");
    real->netpbm2 = ppmtopcx("", ppm2, "2.pcx");
    real->netpbmPalette = ppmtopcx("-8bit", ppm16, "p.pcx");
    write_file(dir.file("many.ppm"), Bytes(ppmMany.begin(), ppmMany.end()));
    const std::string script =
        "import sys\nfrom PIL import Image\n"
        "im = Image.open(sys.argv[1])\n"
        "im.convert('1').save(sys.argv[2])\n"
        "im.quantize(colors=64).save(sys.argv[3])\n"
        "im.save(sys.argv[4])\n";
    write_file(dir.file("pil.py"), Bytes(script.begin(), script.end()));
    std::string command = "/usr/bin/python3 " + dir.file("pil.py") + " " + dir.file("many.ppm") +
                          " " + dir.file("pil1.pcx") + " " + dir.file("pilp.pcx") + " " +
                          dir.file("pilrgb.pcx");
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    real->pillow1 = read_file(dir.file("pil1.pcx"));
    real->pillowPalette = read_file(dir.file("pilp.pcx"));
    real->pillowRgb = read_file(dir.file("pilrgb.pcx"));
}

std::string ppm_text(int width, int height, int colours) {
    std::string out = "P3\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int i = 0; i < width * height; ++i) {
        int k = (i * 7 + i / width) % colours;
        out += std::to_string(k * 255 / std::max(1, colours - 1)) + " " +
               std::to_string((k * 37) % 256) + " " + std::to_string(255 - k) + "\n";
    }
    return out;
}

TEST_F(Pcx, RefusedPicturesGiveAnEmptyPictureAndABox) {
    struct Case {
        const char* what;
        Bytes file;
        const char* problem;
    };
    Bytes good = with(header(0, 0, 1, 1, 3), {1, 2, 3});
    Bytes planes0 = good, planesMinus = good, planes4 = good;
    planes0[65] = 0, planesMinus[65] = 0xFF, planes4[65] = 4;

    // The bodies of a 4 x 2 picture, one plane and three.
    const Bytes onePlane = one_plane(4, 2, {0xC4, 1, 0xC4, 2});
    const Bytes threePlanes =
        with(header(0, 0, 3, 1, 3), Bytes{0xC4, 1, 0xC4, 2, 0xC4, 3, 0xC4, 4, 0xC4, 5, 0xC4, 6});
    Bytes bits1 = threePlanes, bits4 = onePlane, markerWrong = onePlane;
    bits1[3] = 1, bits4[3] = 4;
    markerWrong[markerWrong.size() - 769] = 11;
    Bytes valueIsMarker = with(with(header(0, 0, 1, 0, 1), {0x01, 0xC1, 12}), ramp_palette());
    Bytes bodyOfOneLine = one_plane(4, 2, {0xC4, 1});

    RealFiles real;
    write_real_files(&real, ppm_text(16, 8, 16), ppm_text(16, 8, 8), ppm_text(16, 8, 2),
                     ppm_text(33, 21, 300));
    ASSERT_GT(real.netpbm16.size(), 128u);
    ASSERT_EQ(real.netpbm16[65], 4);  // four planes of one bit, as ppmtopcx writes up to 16 colours
    ASSERT_EQ(real.netpbm8[65], 3);   // three planes of one bit
    ASSERT_GT(real.pillowPalette.size(), 128u + 769u);
    ASSERT_EQ(real.pillowPalette[65], 1);
    ASSERT_EQ(real.pillowRgb[65], 3);
    const size_t pillowBody = real.pillowPalette.size() - 769;

    const std::vector<Case> cases = {
        {"empty", {}, "128-byte"},
        {"127 bytes", Bytes(good.begin(), good.begin() + 127), "128-byte"},
        {"right below left", with(header(5, 0, 4, 1, 3), {1}), "right bound"},
        {"bottom below top", with(header(0, 0, 1, -1, 3), {1}), "bottom bound"},
        {"no planes", planes0, "plane count"},
        {"negative planes", planesMinus, "plane count"},
        {"four planes", planes4, "plane count"},
        {"one bit per plane", bits1, "bits per plane not 8"},
        {"four bits per plane", bits4, "bits per plane not 8"},
        {"ppmtopcx, 16 colours in four 1-bit planes", real.netpbm16, "bits per plane not 8"},
        {"ppmtopcx, 8 colours in three 1-bit planes", real.netpbm8, "bits per plane not 8"},
        {"ppmtopcx, 2 colours in one 1-bit plane", real.netpbm2, "bits per plane not 8"},
        {"Pillow, 1-bit picture", real.pillow1, "bits per plane not 8"},
        {"header only, three planes", cut(threePlanes, 128), "no picture data after the header"},
        {"header only, one plane", cut(onePlane, 128), "no picture data after the header"},
        {"header and palette, no data",
         with(cut(onePlane, 128), cut(Bytes(onePlane.end() - 769, onePlane.end()), 769)),
         "no picture data after the header"},
        {"one plane cut before its palette", cut(onePlane, onePlane.size() - 769),
         "769-byte palette block"},
        {"one plane, palette cut short", cut(onePlane, onePlane.size() - 1),
         "769-byte palette block"},
        {"palette marker not 12", markerWrong, "769-byte palette block"},
        {"ppmtopcx -8bit without its palette",
         cut(real.netpbmPalette, real.netpbmPalette.size() - 769), "769-byte palette block"},
        {"three planes cut inside a run code", cut(threePlanes, threePlanes.size() - 1),
         "ends before the picture is complete"},
        {"three planes cut after a line", cut(threePlanes, threePlanes.size() - 2),
         "ends before the picture is complete"},
        {"one plane, one line of two", bodyOfOneLine, "ends before the picture is complete"},
        {"a run whose value is the palette marker", valueIsMarker,
         "ends before the picture is complete"},
        {"Pillow palette picture, body cut in half",
         with(cut(real.pillowPalette, 128 + (pillowBody - 128) / 2),
              Bytes(real.pillowPalette.end() - 769, real.pillowPalette.end())),
         "ends before the picture is complete"},
        {"Pillow RGB picture cut in half", cut(real.pillowRgb, real.pillowRgb.size() / 2),
         "ends before the picture is complete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_platform::reset();
        Decoded d = decode(c.file, 4);
        EXPECT_EQ(d.image.width, 0u);
        EXPECT_EQ(d.image.height, 0u);
        EXPECT_EQ(d.pixels, std::vector<uint32_t>(4, 0xEEEEEEEE));
        ASSERT_EQ(fake_platform::boxes().size(), 1u);
        EXPECT_NE(fake_platform::boxes()[0].find(c.problem), std::string::npos)
            << fake_platform::boxes()[0];
        EXPECT_EQ(fake_platform::console(), "[pcx img: 0x0 24]\n");
    }
    // A null entry (what the pack hands out when it has nothing) is refused too.
    fake_platform::reset();
    PcxImage image{};
    decode_pcx(&image, nullptr, 0, 0);
    EXPECT_EQ(fake_platform::boxes().size(), 1u);
}

TEST_F(Pcx, TruncatedDataAndSmallBuffersStayInBounds) {
    // Three planes cut inside a run code: refused, and the buffer keeps what
    // it held.
    Decoded d = decode(with(header(0, 0, 3, 0, 3), {0xC4, 9, 0xC4}), 4, 0x01010101);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(4, 0x01010101));

    // One plane shorter than header plus palette: refused too.
    Bytes shortFile = with(header(0, 0, 1, 0, 1), {0xC2, 7, 12, 1, 2, 3});
    d = decode(shortFile, 2, 0xAA333333);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0xAA333333, 0xAA333333}));

    // Data that ends inside the picture: refused, nothing written.
    d = decode(one_plane(4, 1, {0xC2, 5}), 4);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(4, 0xEEEEEEEE));
    ASSERT_EQ(fake_platform::boxes().size(), 3u);
    EXPECT_NE(fake_platform::boxes()[0].find("ends before the picture is complete"),
              std::string::npos);
    EXPECT_NE(fake_platform::boxes()[1].find("palette block"), std::string::npos);
    EXPECT_NE(fake_platform::boxes()[2].find("ends before the picture is complete"),
              std::string::npos);

    // A buffer smaller than the picture: writes past it are dropped (the
    // vector is exactly the capacity, so AddressSanitizer would see an overrun).
    // Each run of 63 overhangs its line of 16.
    fake_platform::reset();
    Bytes lines;
    for (int y = 0; y < 16; ++y) lines.insert(lines.end(), {0xFF, uint8_t(y + 1)});
    Bytes big = one_plane(16, 16, lines);
    d = decode(big, 3);
    EXPECT_EQ(d.image.width, 16u);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(3, ramp(1)));
    EXPECT_TRUE(fake_platform::boxes().empty());
    // 100 lines of three planes, each of twelve runs of 9.
    Bytes bigRgb = with(header(0, 0, 99, 99, 3), Bytes(7200, 0xC9));
    d = decode(bigRgb, 5, 0);
    EXPECT_EQ(d.pixels, std::vector<uint32_t>(5, 0xC9C9C9));
    d = decode(bigRgb, 0);
    EXPECT_EQ(d.image.height, 100u);
}

// Pictures taken from the pack name their entry and the pack in the box,
// by the short name a user knows.
TEST_F(Pcx, BoxesOfPackPicturesNameTheEntry) {
    ScratchDir dir;
    const Bytes truncated = one_plane(4, 2, {0xC4, 1});
    write_file(dir.file("blob.dat"),
               make_pack({truncated, truncated, truncated, truncated, truncated}));
    set_pack_path(dir.file("blob.dat").c_str());
    ASSERT_EQ(read_pack(), 0);
    fake_platform::reset();
    std::vector<uint32_t> pixels(8, 0xEEEEEEEE);
    PcxImage image{};
    image.pixels = pixels.data();
    std::vector<std::string> expected;
    for (const char* name : {"up", "down", "demo2", "trevak", "mono"}) {
        load_picture(("pool/" + std::string(name) + ".pcx").c_str(), &image, 8);
        expected.push_back(
            "decode_pcx: picture of 899 bytes refused: the picture data ends before the picture "
            "is complete (entry `" +
            std::string(name) + "` of " + dir.file("blob.dat") + ")");
    }
    EXPECT_EQ(fake_platform::boxes(), expected);
    EXPECT_EQ(pixels, std::vector<uint32_t>(8, 0xEEEEEEEE));
    write_pack();
    set_pack_path(nullptr);

    // No name at all, and one too long for the label.
    char label[64];
    EXPECT_STREQ(entry_label(nullptr, label), "");
    EXPECT_EQ(std::string(entry_label(std::string(100, 'x').c_str(), label)), std::string(63, 'x'));
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
                p.rgb.insert(p.rgb.end(),
                             {uint8_t(x * 7 + y), uint8_t(y * 13 + x), uint8_t(x * y)});
                continue;
            }
            int k = (x / 5 + y * 3) % colours;
            if (y % 7 == 3) k = colours - 1;
            p.rgb.insert(p.rgb.end(), {uint8_t(k * 37), uint8_t(255 - k * 3), uint8_t(k + 190)});
        }
    return p;
}

Bytes ppm(const Picture& p) {
    std::string head =
        "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
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
    ASSERT_EQ(run("ppmtopcx -8bit " + dir.file("few.ppm") + " > " + dir.file("netpbm1.pcx") +
                  " 2>/dev/null"),
              0);
    ASSERT_EQ(run("ppmtopcx -24bit " + dir.file("many.ppm") + " > " + dir.file("netpbm3.pcx") +
                  " 2>/dev/null"),
              0);
    // Pillow: an RGB picture gives three planes, a quantised one ('P') one plane
    // with its own palette, which must match the test's 200 colours exactly.
    const std::string script =
        "import sys\nfrom PIL import Image\n"
        "Image.open(sys.argv[1]).save(sys.argv[2])\n"
        "im = Image.open(sys.argv[3]).quantize(colors=256, method=Image.Quantize.FASTOCTREE, "
        "dither=Image.Dither.NONE)\n"
        "im.save(sys.argv[4])\n";
    write_file(dir.file("pil.py"), Bytes(script.begin(), script.end()));
    ASSERT_EQ(run("/usr/bin/python3 " + dir.file("pil.py") + " " + dir.file("many.ppm") + " " +
                  dir.file("pil3.pcx") + " " + dir.file("few.ppm") + " " + dir.file("pil1.pcx")),
              0);

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

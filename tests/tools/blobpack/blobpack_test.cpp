// Runs the blobpack tool on pictures and music made here: PNGs written with
// libpng, PCX files with netpbm, an MP3 encoded with LAME.
#include <fcntl.h>
#include <lame/lame.h>
#include <png.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "pcx_writer.h"
#include "resources/pcx_decoder.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status;
    std::string output;  // standard output and error together
};

ToolRun blobpack(const std::string& arguments) {
    std::string command = std::string(BLOBPACK_PATH) + " " + arguments + " 2>&1";
    ToolRun run{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One second of a 440 Hz sine, stereo 44100 Hz, 128 kbit/s.
Bytes make_mp3() {
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 7);
    lame_init_params(lame);
    std::vector<short> left(44100), right(44100);
    for (int i = 0; i < 44100; ++i)
        left[i] = right[i] = static_cast<short>(8000 * std::sin(2 * M_PI * 440 * i / 44100.0));
    Bytes out(44100 * 5 / 4 + 7200 + 7200);
    int n = lame_encode_buffer(lame, left.data(), right.data(), 44100, out.data(),
                               static_cast<int>(out.size()));
    int tail = lame_encode_flush(lame, out.data() + n, static_cast<int>(out.size()) - n);
    lame_close(lame);
    out.resize(size_t(n) + size_t(tail));
    return out;
}

struct Rgb {
    uint32_t width, height;
    Bytes pixels;  // 3 bytes each
};

Rgb pattern(uint32_t width, uint32_t height, bool manyColours) {
    Rgb p{width, height, {}};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            if (manyColours)
                p.pixels.insert(p.pixels.end(), {uint8_t(x * 8), uint8_t(y * 16), uint8_t(x * y)});
            else
                p.pixels.insert(p.pixels.end(),
                                {uint8_t(x < width / 2 ? 250 : 10), uint8_t(y * 30), 200});
        }
    return p;
}

void write_png(const std::string& path, const Rgb& p, bool alpha) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = p.width;
    image.height = p.height;
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    Bytes data;
    for (size_t i = 0; i < p.pixels.size(); i += 3) {
        data.insert(data.end(), p.pixels.begin() + long(i), p.pixels.begin() + long(i) + 3);
        if (alpha) data.push_back(255);
    }
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, data.data(), 0, nullptr))
        << image.message;
}

void write_ppm(const std::string& path, const Rgb& p) {
    std::string head =
        "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    Bytes out(head.begin(), head.end());
    out.insert(out.end(), p.pixels.begin(), p.pixels.end());
    write_file(path, out);
}

void expect_picture(const Bytes& pcx, const Rgb& p, int planes) {
    ASSERT_GT(pcx.size(), 128u);
    EXPECT_EQ(pcx[65], planes);
    std::vector<uint32_t> buffer(size_t(p.width) * p.height + 1);
    PcxImage image{};
    image.pixels = buffer.data();
    PcxDecodeResult result =
        decode_pcx_pixels(&image, pcx.data(), uint32_t(pcx.size()), uint32_t(buffer.size()));
    EXPECT_FALSE(result.paletteMisplaced);
    ASSERT_EQ(image.width, p.width);
    ASSERT_EQ(image.height, p.height);
    for (size_t i = 0; i < size_t(p.width) * p.height; ++i) {
        uint32_t want = uint32_t(p.pixels[i * 3]) << 16 | uint32_t(p.pixels[i * 3 + 1]) << 8 |
                        p.pixels[i * 3 + 2];
        ASSERT_EQ(buffer[i] & 0xFFFFFF, want) << "pixel " << i;
    }
}

class Blobpack : public ::testing::Test {
protected:
    ScratchDir dir;
    Rgb few = pattern(8, 4, false);
    Rgb many = pattern(32, 16, true);
    Rgb odd = pattern(7, 4, true);

    std::string f(const std::string& name) { return dir.file(name); }

    // up and trevak from PNG, down from PNG with many colours, demo2 and mono
    // from netpbm's PCX, the music from LAME.
    std::string inputs() {
        write_png(f("up.png"), few, false);
        write_png(f("down.png"), many, false);
        write_png(f("trevak.png"), odd, true);
        write_ppm(f("few.ppm"), few);
        write_ppm(f("many.ppm"), many);
        EXPECT_EQ(
            std::system(("ppmtopcx -8bit " + f("few.ppm") + " > " + f("mono.pcx") + " 2>/dev/null")
                            .c_str()),
            0);
        EXPECT_EQ(std::system(
                      ("ppmtopcx -24bit " + f("many.ppm") + " > " + f("demo2.pcx") + " 2>/dev/null")
                          .c_str()),
                  0);
        write_file(f("music.mp3"), make_mp3());
        return f("up.png") + " " + f("down.png") + " " + f("demo2.pcx") + " " + f("trevak.png") +
               " " + f("mono.pcx") + " " + f("music.mp3");
    }
};

TEST_F(Blobpack, BuildsListsVerifiesAndExtracts) {
    ToolRun built = blobpack("build " + f("blob.dat") + " " + inputs());
    ASSERT_EQ(built.status, 0) << built.output;
    EXPECT_TRUE(contains(built.output, "odd width 7")) << built.output;
    EXPECT_TRUE(contains(built.output, "transparency is dropped")) << built.output;
    EXPECT_TRUE(contains(built.output, "7x4 are not powers of two")) << built.output;

    ToolRun listed = blobpack("list " + f("blob.dat"));
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_TRUE(contains(listed.output, "6 entries")) << listed.output;
    EXPECT_TRUE(contains(listed.output, "PCX 8x4, 1 plane (palette)")) << listed.output;
    EXPECT_TRUE(contains(listed.output, "PCX 32x16, 3 planes (RGB)")) << listed.output;
    EXPECT_TRUE(contains(listed.output, "MP3 1.0")) << listed.output;
    EXPECT_TRUE(contains(listed.output, "44100 Hz, stereo")) << listed.output;

    ToolRun verified = blobpack("verify " + f("blob.dat"));
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_TRUE(contains(verified.output, "good")) << verified.output;

    ToolRun extracted = blobpack("extract " + f("blob.dat") + " " + f("out"));
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    const char* names[6] = {"0-up.pcx",     "1-down.pcx", "2-demo2.pcx",
                            "3-trevak.pcx", "4-mono.pcx", "5-music.mp3"};
    std::vector<Bytes> entries;
    for (const char* name : names) {
        ASSERT_TRUE(fs::exists(f("out/") + name)) << name;
        entries.push_back(read_file(f("out/") + name));
    }
    // The pack is exactly its entries in the documented layout.
    EXPECT_EQ(make_pack(entries), read_file(f("blob.dat")));
    EXPECT_EQ(entries[2], read_file(f("demo2.pcx")));
    EXPECT_EQ(entries[4], read_file(f("mono.pcx")));
    EXPECT_EQ(entries[5], read_file(f("music.mp3")));
    // Converted pictures hold exactly the PNG's pixels.
    expect_picture(entries[0], few, 1);
    expect_picture(entries[1], many, 3);
    expect_picture(entries[3], odd, 1);
    EXPECT_EQ(entries[3][66], 7);  // bytes per line: the width, unpadded
}

TEST_F(Blobpack, VerifyNamesWhatIsWrong) {
    const std::string all = inputs();
    ASSERT_EQ(blobpack("build " + f("good.dat") + " " + all).status, 0);
    const Bytes good = read_file(f("good.dat"));
    std::vector<Bytes> entries;
    ASSERT_EQ(blobpack("extract " + f("good.dat") + " " + f("x")).status, 0);
    for (const char* name :
         {"0-up.pcx", "1-down.pcx", "2-demo2.pcx", "3-trevak.pcx", "4-mono.pcx", "5-music.mp3"})
        entries.push_back(read_file(f("x/") + name));

    // ppmtopcx without -8bit writes 16 colours as 1-bit planes, four of them.
    write_ppm(f("sixteen.ppm"), few);
    ASSERT_EQ(
        std::system(
            ("ppmtopcx " + f("sixteen.ppm") + " > " + f("planar.pcx") + " 2>/dev/null").c_str()),
        0);
    std::vector<uint8_t> huge(2048 * 1024, 1);
    uint8_t palette[768] = {};

    struct Case {
        const char* what;
        Bytes file;
        const char* message;
    };
    auto replaced = [&](size_t index, const Bytes& entry) {
        std::vector<Bytes> copy = entries;
        copy[index] = entry;
        return make_pack(copy);
    };
    std::vector<Bytes> five(entries.begin(), entries.begin() + 5);
    const std::vector<Case> cases = {
        {"five entries", make_pack(five), "holds 5 entries"},
        {"four planes", replaced(1, read_file(f("planar.pcx"))), "entry 1 (down)"},
        {"music is noise", replaced(5, Bytes(5000, 0x55)), "entry 5 (music): not a decodable MP3"},
        {"music is a picture", replaced(5, entries[0]), "entry 5 (music)"},
        {"picture too big", replaced(3, encode_pcx_indexed(2048, 1024, huge.data(), palette)),
         "do not fit"},
        {"picture is the music", replaced(0, entries[5]), "entry 0 (up)"},
        {"picture cut short", replaced(2, Bytes(entries[2].begin(), entries[2].begin() + 400)),
         "entry 2 (demo2)"},
        {"truncated", Bytes(good.begin(), good.end() - 3), "blobpack:"},
        {"tiny", Bytes{1, 2, 3}, "is truncated: 3 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(f("bad.dat"), c.file);
        ToolRun run = blobpack("verify " + f("bad.dat"));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(contains(run.output, c.message)) << run.output;
        EXPECT_FALSE(contains(run.output, "good")) << run.output;
    }
    ToolRun missing = blobpack("verify " + f("nothing.dat"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(contains(missing.output, "No such file")) << missing.output;
}

TEST_F(Blobpack, BadArgumentsNeverHurtFiles) {
    ToolRun none = blobpack("");
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(contains(none.output, "usage:"));
    ToolRun help = blobpack("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.output, "blobpack build FILE UP DOWN DEMO2 TREVAK MONO MUSIC"));
    EXPECT_EQ(blobpack("frobnicate x").status, 2);
    EXPECT_EQ(blobpack("list").status, 2);
    EXPECT_EQ(blobpack("extract " + f("a")).status, 2);

    const std::string all = inputs();
    ASSERT_EQ(blobpack("build " + f("blob.dat") + " " + all).status, 0);
    const Bytes pack = read_file(f("blob.dat"));
    const Bytes up = read_file(f("up.png"));

    // The output forgotten: six arguments are not seven.
    EXPECT_EQ(blobpack("build " + all).status, 2);
    EXPECT_EQ(read_file(f("up.png")), up);
    // The output named as one of the inputs, directly or by another path.
    ToolRun over = blobpack("build " + f("up.png") + " " + all);
    EXPECT_EQ(over.status, 1);
    EXPECT_TRUE(contains(over.output, "refusing")) << over.output;
    EXPECT_EQ(blobpack("build " + dir.path + "/./music.mp3 " + all).status, 1);
    EXPECT_EQ(read_file(f("up.png")), up);

    // A bad input leaves an existing pack as it was and no stray files.
    std::string missing = f("up.png") + " " + f("down.png") + " " + f("nope.pcx") + " " +
                          f("trevak.png") + " " + f("mono.pcx") + " " + f("music.mp3");
    ToolRun failed = blobpack("build " + f("blob.dat") + " " + missing);
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(contains(failed.output, "nope.pcx")) << failed.output;
    std::string notMusic = f("up.png") + " " + f("down.png") + " " + f("demo2.pcx") + " " +
                           f("trevak.png") + " " + f("mono.pcx") + " " + f("mono.pcx");
    EXPECT_EQ(blobpack("build " + f("blob.dat") + " " + notMusic).status, 1);
    write_file(f("text.pcx"), Bytes(300, 'a'));
    std::string notPicture = f("text.pcx") + " " + f("down.png") + " " + f("demo2.pcx") + " " +
                             f("trevak.png") + " " + f("mono.pcx") + " " + f("music.mp3");
    EXPECT_EQ(blobpack("build " + f("blob.dat") + " " + notPicture).status, 1);
    EXPECT_EQ(read_file(f("blob.dat")), pack);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path))
        files += contains(entry.path().string(), "blob.dat.");
    EXPECT_EQ(files, 0);

    // A file under the old fixed temporary name is someone else's: building
    // over the pack never touches it. While another writer holds the
    // folder's lock (a presentation putting its pack back), the build waits
    // for it before it renames.
    write_file(f("blob.dat.tmp"), up);
    const int folder = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(folder, LOCK_EX), 0);
    struct stat before {};
    stat(f("blob.dat").c_str(), &before);
    FILE* waiting = popen(
        (std::string(BLOBPACK_PATH) + " build " + f("blob.dat") + " " + all + " >/dev/null 2>&1")
            .c_str(),
        "r");
    ASSERT_NE(waiting, nullptr);
    // Its new pack written in full beside the old one, it is at the lock.
    auto written = [&] {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir.path))
            if (entry.path().filename().string().rfind(".blob.dat.", 0) == 0 &&
                entry.file_size(ec) == pack.size())
                return true;
        return false;
    };
    for (int i = 0; i < 600 && !written(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(written());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    struct stat during {};
    stat(f("blob.dat").c_str(), &during);
    EXPECT_EQ(during.st_ino, before.st_ino) << "replaced while the folder was locked";
    close(folder);
    EXPECT_EQ(pclose(waiting), 0);
    struct stat after {};
    stat(f("blob.dat").c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(read_file(f("blob.dat")), pack);
    EXPECT_EQ(read_file(f("blob.dat.tmp")), up);
    fs::remove(f("blob.dat.tmp"));
    files = 0;
    for (const auto& entry : fs::directory_iterator(dir.path))
        files += contains(entry.path().string(), "blob.dat.");
    EXPECT_EQ(files, 0);

    // Extracting into a path that is a file fails cleanly.
    EXPECT_EQ(blobpack("extract " + f("blob.dat") + " " + f("up.png")).status, 1);
    EXPECT_EQ(read_file(f("up.png")), up);
}

}  // namespace

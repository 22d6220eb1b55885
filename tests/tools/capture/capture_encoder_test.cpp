// The pieces of velkorandi-capture that feed ffmpeg: the frames converted for it,
// the command line it gets, what is read from its answers (the real
// program's), and the child process handling.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_content.h"
#include "encoder_process.h"
#include "ffmpeg_checks.h"
#include "video_format.h"
#include "yuv_frame.h"

namespace {

// The value after the last occurrence of an option, or "" when absent.
std::string value_of(const std::vector<std::string>& args, const std::string& option) {
    std::string found;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == option) found = args[i + 1];
    }
    return found;
}

}  // namespace

TEST(YuvFrame, ColoursGetTheirBt709ValuesAndEachBlockItsAverageChroma) {
    // Y, U, V in limited range for full-range RGB, as BT.709 gives them.
    struct Colour {
        uint8_t r, g, b, y, u, v;
    };
    const std::vector<Colour> colours = {
        {0, 0, 0, 16, 128, 128},        {255, 255, 255, 235, 128, 128}, {255, 0, 0, 63, 102, 240},
        {0, 255, 0, 173, 42, 26},       {0, 0, 255, 32, 240, 118},      {255, 255, 0, 219, 16, 138},
        {128, 128, 128, 126, 128, 128},
    };
    for (const Colour& c : colours) {
        YuvFrame frame = make_yuv_frame(2, 2, 2);
        const std::vector<uint8_t> bgra = {c.b, c.g, c.r, 255, c.b, c.g, c.r, 255,
                                           c.b, c.g, c.r, 255, c.b, c.g, c.r, 255};
        convert_band(&frame, bgra.data(), 0, 2);
        const int rgb[] = {c.r, c.g, c.b};
        EXPECT_EQ(frame.luma, std::vector<uint8_t>(4, c.y))
            << rgb[0] << "," << rgb[1] << "," << rgb[2];
        EXPECT_EQ(frame.chroma, (std::vector<uint8_t>{c.u, c.v})) << rgb[0] << "," << rgb[1];
    }

    // A 4 x 4 frame in two bands of two rows, read back bottom row first:
    // the top band is the upper half of the picture. Its left block is white
    // and black, averaging to mid grey; its right block pure blue.
    YuvFrame frame = make_yuv_frame(4, 4, 2);
    const auto pixel = [](uint8_t r, uint8_t g, uint8_t b) {
        return std::vector<uint8_t>{b, g, r, 255};
    };
    std::vector<uint8_t> band;  // picture rows 1 then 0
    for (const auto& p :
         {pixel(0, 0, 0), pixel(255, 255, 255), pixel(0, 0, 255), pixel(0, 0, 255),
          pixel(255, 255, 255), pixel(0, 0, 0), pixel(0, 0, 255), pixel(0, 0, 255)}) {
        band.insert(band.end(), p.begin(), p.end());
    }
    convert_band(&frame, band.data(), 0, 2);
    EXPECT_EQ(frame.luma, (std::vector<uint8_t>{235, 16, 32, 32, 16, 235, 32, 32}));
    // U plane then V plane, 2 x 2 each: only the top row of blocks is set.
    EXPECT_EQ(frame.chroma[0], 128);
    EXPECT_EQ(frame.chroma[1], 240);
    EXPECT_EQ(frame.chroma[4], 128);
    EXPECT_EQ(frame.chroma[5], 118);
    // The lower band lands in the second row of blocks.
    convert_band(&frame, std::vector<uint8_t>(4 * 2 * 4, 0).data(), 2, 2);
    EXPECT_EQ(frame.chroma, (std::vector<uint8_t>{128, 240, 128, 128, 128, 118, 128, 128}));
}

TEST(EncoderArguments, GivenSettingsReplaceTheDefaultsAndTheOutputComesLast) {
    EncodeJob job{OutputKind::kMp4, "libx264",      -1, nullptr, 640, 360, 30, "yuv420p", 3, 4,
                  "s16le",          "file:out.part"};
    const std::vector<std::string> defaults = encoder_arguments(job);
    EXPECT_EQ(value_of(defaults, "-crf"), "18");
    EXPECT_EQ(value_of(defaults, "-preset"), "veryfast");
    EXPECT_EQ(value_of(defaults, "-video_size"), "640x360");
    EXPECT_EQ(value_of(defaults, "-framerate"), "30");
    EXPECT_EQ(value_of(defaults, "-movflags"), "+faststart");
    // The frames come converted: nothing for ffmpeg to filter.
    EXPECT_EQ(value_of(defaults, "-vf"), "");
    EXPECT_EQ(value_of(defaults, "-colorspace"), "bt709");
    ASSERT_GE(defaults.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(defaults.end() - 3, defaults.end()),
              (std::vector<std::string>{"mp4", "-y", "file:out.part"}));

    job.crf = 30;
    job.preset = "slow";
    const std::vector<std::string> given = encoder_arguments(job);
    EXPECT_EQ(value_of(given, "-crf"), "30");
    EXPECT_EQ(std::count(given.begin(), given.end(), "-crf"), 1);
    EXPECT_EQ(value_of(given, "-preset"), "slow");
    EXPECT_EQ(std::count(given.begin(), given.end(), "-preset"), 1);

    // FFV1 is lossless: no quality setting, and the pixels read back stay
    // RGB, turned right way up.
    job = EncodeJob{OutputKind::kMkv, "ffv1",         -1, nullptr, 641, 361, 60, "bgra", 3, 4,
                    "s16le",          "file:out.part"};
    const std::vector<std::string> lossless = encoder_arguments(job);
    EXPECT_EQ(value_of(lossless, "-crf"), "");
    EXPECT_EQ(value_of(lossless, "-c:a"), "flac");
    EXPECT_EQ(value_of(lossless, "-vf"), "vflip,format=bgr0");
    EXPECT_FALSE(needs_even_sides("ffv1"));
    EXPECT_TRUE(needs_even_sides("libx264"));
}

TEST(FfmpegAnswers, TheEncodersAndTheirOptionsAreReadFromTheInstalledProgram) {
    std::string ffmpeg;
    ASSERT_TRUE(find_on_path("ffmpeg", &ffmpeg)) << "ffmpeg is installed by scripts/install-deps";
    char error[256] = "";
    std::string encoders;
    ASSERT_TRUE(
        run_for_output(ffmpeg, {"-hide_banner", "-encoders"}, &encoders, error, sizeof error))
        << error;
    for (const char* name : {"libx264", "aac", "ffv1", "flac", "libvpx-vp9", "libopus"}) {
        EXPECT_TRUE(encoder_listed(encoders, name)) << name;
    }
    // Neither a description's word nor a part of a name counts.
    for (const char* name : {"no-such-codec", "H.264", "libx26", "V....D", "------"}) {
        EXPECT_FALSE(encoder_listed(encoders, name)) << name;
    }

    std::string help;
    ASSERT_TRUE(run_for_output(ffmpeg, {"-hide_banner", "-h", "encoder=libx264"}, &help, error,
                               sizeof error))
        << error;
    EXPECT_TRUE(encoder_has_option(help, "crf"));
    EXPECT_TRUE(encoder_has_option(help, "preset"));
    EXPECT_FALSE(encoder_has_option(help, "cr"));
    ASSERT_TRUE(
        run_for_output(ffmpeg, {"-hide_banner", "-h", "encoder=ffv1"}, &help, error, sizeof error))
        << error;
    EXPECT_FALSE(encoder_has_option(help, "crf"));

    // A failing run names the program and what it said.
    EXPECT_FALSE(
        run_for_output(ffmpeg, {"-hide_banner", "-no-such-option"}, &help, error, sizeof error));
    EXPECT_NE(std::string(error).find("no-such-option"), std::string::npos) << error;
}

TEST(EncoderProcess, ProgramsAreFoundOnThePathAndTheirLogsShortened) {
    ScratchDir dir;
    write_file(dir.file("tool"), Bytes{'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
    const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    std::string found;
    setenv("PATH", ("/nonexistent:" + dir.path).c_str(), 1);
    EXPECT_FALSE(find_on_path("tool", &found)) << "not executable";
    ASSERT_EQ(chmod(dir.file("tool").c_str(), 0755), 0);
    EXPECT_TRUE(find_on_path("tool", &found));
    EXPECT_EQ(found, dir.file("tool"));
    EXPECT_FALSE(find_on_path("no-such-tool", &found));
    setenv("PATH", saved.c_str(), 1);

    EXPECT_EQ(log_tail("one\n\ntwo\r\nthree  \nfour\n", 3), "two; three; four");
    EXPECT_EQ(log_tail("only", 3), "only");
    EXPECT_EQ(log_tail("\n\n", 3), "no message");
}

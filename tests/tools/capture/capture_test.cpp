// velkorandi-capture run as a program on content made here, checked against the
// program's own renderer driven in this process, against the mpg123 command's
// decode, and for leaving the pack alone. Runs under a display (xvfb-run).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "capture_tool.h"
#include "frame_clock.h"

TEST(Capture, FramesArePixelIdenticalToDrawFrameAtTheirPositions) {
    ScratchDir dir;
    stage_presentation(dir, 2.0);
    // Three frames at 60 fps from step 16 (trevak overlay), and single pictures
    // of both halves of a demo2 step, each side of the mono threshold and the
    // program's start.
    const ToolRun sequence = run_tool(dir, "--start 146948 --duration 0.05 --fps 60 --out seq");
    ASSERT_EQ(sequence.status, 0) << sequence.out << sequence.err;
    EXPECT_NE(sequence.out.find("frame 3 / 3"), std::string::npos) << sequence.out;
    const std::vector<uint32_t> singles = {339814, 344406, 538499, 538500, 5345596};
    for (uint32_t position : singles) {
        const ToolRun one = run_tool(dir, "--at " + std::to_string(position) + " --out one");
        ASSERT_EQ(one.status, 0) << one.out << one.err;
    }

    // With no display at all the tool renders through Mesa's EGL instead.
    const ToolRun headless = run_tool(dir, "--at 5345596 --out headless", "env -u DISPLAY ");
    ASSERT_EQ(headless.status, 0) << headless.out << headless.err;
    EXPECT_NE(headless.out.find("offscreen without a display"), std::string::npos) << headless.out;

    ReferenceRenderer reference;
    ASSERT_TRUE(reference.open(dir));
    for (uint64_t k = 0; k < 3; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, "seq/frame-%05llu.png",
                      static_cast<unsigned long long>(k));
        const Picture captured = read_png(dir.file(name));
        ASSERT_EQ(captured.width, 400) << name;
        ASSERT_EQ(captured.height, 300) << name;
        const Picture drawn = reference.draw(static_cast<uint32_t>(frame_position(146948, k, 60)));
        EXPECT_EQ(differing_pixels(captured, drawn), 0u) << name;
    }
    EXPECT_FALSE(std::ifstream(dir.file("seq/frame-00003.png")).good());

    std::vector<Picture> pictures;
    for (uint32_t position : singles) {
        const std::string name = "one/position-" + std::to_string(position) + ".png";
        pictures.push_back(read_png(dir.file(name)));
        EXPECT_EQ(differing_pixels(pictures.back(), reference.draw(position)), 0u) << name;
    }
    // The comparisons above mean something only if the frames show content:
    // different positions give different pictures, and a frame is not flat.
    EXPECT_GT(differing_pixels(pictures[0], pictures[1]), 1000u);
    EXPECT_GT(differing_pixels(pictures[2], pictures[3]), 1000u);
    // The rows above the 400 x 250 drawing area stay black, the area outside the panel is white.
    const Picture& start = pictures[4];
    EXPECT_EQ(start.rgb[(10 * 400 + 200) * 3], 0);
    EXPECT_EQ(start.rgb[(30 * 400 + 20) * 3], 255);
    EXPECT_EQ(differing_pixels(read_png(dir.file("headless/position-5345596.png")), start), 0u);
    // The same position captured twice is the same picture.
    EXPECT_EQ(differing_pixels(pictures[0], reference.draw(339815)), 0u);
}

TEST(Capture, SoundEqualsTheMpg123DecodeOfTheFramesSpanAndThePackIsUntouched) {
    ScratchDir dir;
    stage_presentation(dir, 2.0);
    const Bytes pack_before = read_file(dir.file("blob.dat"));
    const std::vector<int16_t> reference = reference_decode(dir.file("music.mp3"));
    ASSERT_GT(reference.size(), 2u * 44100u);

    // 0.25 s at 24 fps (6 frames) from an odd start: sample frames 11025 .. 22050.
    const ToolRun run = run_tool(dir, "--start 22051 --duration 0.25 --fps 24 --out av");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const SampleRange range = capture_samples(22051, 6, 24);
    ASSERT_EQ(range.first, 11025u);
    ASSERT_EQ(range.count, 11025u);
    const std::vector<int16_t> captured = wav_samples(dir.file("av/audio.wav"));
    ASSERT_EQ(captured.size(), range.count * 2);
    const std::vector<int16_t> expected(reference.begin() + range.first * 2,
                                        reference.begin() + (range.first + range.count) * 2);
    EXPECT_EQ(captured, expected);
    EXPECT_NE(run.out.find("ffmpeg -framerate 24 -i av/frame-%05d.png -i av/audio.wav"),
              std::string::npos)
        << run.out;

    // A capture running past the end of the music: the music up to its end, then silence.
    const uint64_t music_frames = reference.size() / 2;
    const uint64_t start_frame = music_frames - 441;  // 10 ms before the end
    const ToolRun tail = run_tool(
        dir, "--start " + std::to_string(start_frame * 2) + " --duration 0.1 --fps 10 --out tail");
    ASSERT_EQ(tail.status, 0) << tail.out << tail.err;
    const std::vector<int16_t> tail_samples = wav_samples(dir.file("tail/audio.wav"));
    ASSERT_EQ(tail_samples.size(), 4410u * 2);
    EXPECT_TRUE(std::equal(tail_samples.begin(), tail_samples.begin() + 441 * 2,
                           reference.begin() + start_frame * 2));
    EXPECT_TRUE(std::all_of(tail_samples.begin() + 441 * 2, tail_samples.end(),
                            [](int16_t s) { return s == 0; }));

    EXPECT_EQ(read_file(dir.file("blob.dat")), pack_before);
}

TEST(Capture, BadFilesAndOptionsEndWithAMessageNeverACrash) {
    ScratchDir dir;
    stage_presentation(dir, 0.5);
    const Bytes pack = read_file(dir.file("blob.dat"));

    struct Case {
        std::string args;
        std::string message;
    };
    const std::vector<Case> option_cases = {
        {"--fps 0", "--fps"},
        {"--duration abc", "--duration"},
        {"--start", "needs a value"},
        {"--bogus", "unknown option"},
        {"--config missing.xml", "missing.xml"},
        {"--pack missing.dat", "missing.dat"},
        {"--pack .", "'.'"},
        {"--out blob.dat/frames", "blob.dat"},
    };
    for (const Case& c : option_cases) {
        const ToolRun run = run_tool(dir, c.args);
        EXPECT_TRUE(run.status == 1 || run.status == 2) << c.args << ": " << run.status << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
    }

    const ToolRun help = run_tool(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--duration SECONDS"), std::string::npos);

    // Broken packs: truncated, a directory pointing past the file, too few entries.
    const std::vector<std::pair<std::string, Bytes>> packs = {
        {"truncated", Bytes(pack.begin(), pack.begin() + pack.size() / 2)},
        {"empty", Bytes{}},
        {"two entries", make_pack({Bytes(10, 1), Bytes(20, 2)})},
        {"count only", Bytes{0x99, 0x09, 0x60, 0x66, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& [label, bytes] : packs) {
        write_file(dir.file("bad.dat"), bytes);
        const ToolRun run = run_tool(dir, "--pack bad.dat --duration 0.1");
        EXPECT_EQ(run.status, 1) << label << ": " << run.out << run.err;
        EXPECT_NE(run.err.find("velkorandi-capture: "), std::string::npos)
            << label << ": " << run.err;
        EXPECT_EQ(read_file(dir.file("bad.dat")), bytes) << label;
    }

    // Six entries whose music is not an MP3: the pictures render, the sound is refused.
    std::vector<Bytes> entries;
    for (int i = 0; i < 5; ++i) {
        Bytes rgb(8 * 8 * 3, static_cast<uint8_t>(i * 50));
        entries.push_back(make_pcx_rgb(8, 8, rgb));
    }
    entries.push_back(Bytes(1000, 0x55));
    write_file(dir.file("nomusic.dat"), make_pack(entries));
    const ToolRun no_music = run_tool(dir, "--pack nomusic.dat --duration 0.05 --out nm");
    EXPECT_EQ(no_music.status, 1) << no_music.out << no_music.err;
    EXPECT_NE(no_music.err.find("music"), std::string::npos) << no_music.err;

    // A config that does not parse.
    write_file(dir.file("bad.xml"), Bytes{'<', 'c', 'o', 'n', 'f', 'i', 'g', '>'});
    const ToolRun bad_config = run_tool(dir, "--config bad.xml");
    EXPECT_EQ(bad_config.status, 1) << bad_config.err;
    EXPECT_NE(bad_config.err.find("error: "), std::string::npos) << bad_config.err;
    EXPECT_NE(bad_config.err.find("bad.xml"), std::string::npos) << bad_config.err;

    EXPECT_EQ(read_file(dir.file("blob.dat")), pack);
}

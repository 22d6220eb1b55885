// The command line, the frame clock and the WAV writer of velkorandi-capture.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_content.h"
#include "capture_options.h"
#include "config/presentation.h"
#include "frame_clock.h"
#include "wav_writer.h"

namespace {

struct Parsed {
    bool ok;
    CaptureOptions options;
    std::string error;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "velkorandi-capture");
    Parsed parsed{};
    char error[kOptionErrorSize];
    parsed.ok =
        parse_capture_options(static_cast<int>(args.size()), args.data(), &parsed.options, error);
    parsed.error = error;
    return parsed;
}

uint32_t le32(const Bytes& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

}  // namespace

TEST(CaptureOptions, DefaultsAreTenSecondsAtSixtyFromTheProgramsStart) {
    const Parsed parsed = parse({});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_STREQ(parsed.options.config_path, "config.xml");
    EXPECT_STREQ(parsed.options.pack_path, "blob.dat");
    EXPECT_EQ(parsed.options.start, kStartTicks);
    EXPECT_EQ(parsed.options.fps, 60u);
    EXPECT_EQ(parsed.options.frames, 600u);
    EXPECT_FALSE(parsed.options.single);

    const Parsed given = parse({"--start", "100", "--fps=24", "--duration", "2.5", "--out", "x/y",
                                "--config=c.xml", "--pack", "p.dat"});
    ASSERT_TRUE(given.ok) << given.error;
    EXPECT_EQ(given.options.start, 100u);
    EXPECT_EQ(given.options.fps, 24u);
    EXPECT_EQ(given.options.frames, 60u);
    EXPECT_STREQ(given.options.out, "x/y");
    EXPECT_STREQ(given.options.config_path, "c.xml");
    EXPECT_STREQ(given.options.pack_path, "p.dat");

    // A tenth of a second at 30 fps is three frames, not two, despite 0.1 having no exact binary
    // value.
    EXPECT_EQ(parse({"--duration", "0.1", "--fps", "30"}).options.frames, 3u);

    const Parsed at = parse({"--at", "4294967295"});
    ASSERT_TRUE(at.ok) << at.error;
    EXPECT_TRUE(at.options.single);
    EXPECT_EQ(at.options.at, 4294967295u);
    EXPECT_TRUE(parse({"--out", "d", "--help"}).options.help);
}

TEST(CaptureOptions, EveryBadValueIsRefusedWithAMessageNamingIt) {
    const std::vector<std::vector<const char*>> bad = {
        {"--fps", "0"},
        {"--fps", "1001"},
        {"--fps", "60x"},
        {"--fps", "-5"},
        {"--fps", ""},
        {"--fps", " 6"},
        {"--start", "4294967296"},
        {"--start", "99999999999999999999999"},
        {"--duration", "0"},
        {"--duration", "3600.5"},
        {"--duration", "nan"},
        {"--duration", "inf"},
        {"--duration", "1e3"},
        {"--duration", "-1"},
        {"--duration", "0.001"},  // shorter than one frame at 60 fps
        {"--at", "x"},
        {"--out", ""},
        {"--out"},
        {"--frames", "3"},
        {"capture"},
        {"--at", "5", "--fps", "30"},
        {"--start", "4294967000", "--duration", "1"},  // runs past the last position
        {"--a-very-long-option-name-that-overflows=1"},
    };
    for (const auto& args : bad) {
        const Parsed parsed = parse(args);
        std::string shown;
        for (const char* arg : args) shown += std::string(arg) + " ";
        EXPECT_FALSE(parsed.ok) << shown;
        EXPECT_FALSE(parsed.error.empty()) << shown;
    }
    EXPECT_NE(parse({"--fps", "0"}).error.find("--fps"), std::string::npos);
    EXPECT_NE(parse({"--out"}).error.find("--out"), std::string::npos);
    EXPECT_NE(parse({"--frames", "3"}).error.find("--frames"), std::string::npos);
}

TEST(CaptureOptions, TheOutputsNameSaysWhatIsWrittenAndWhichSettingsGoWithIt) {
    struct Case {
        std::vector<const char*> args;
        OutputKind kind;
        const char* codec;  // resolved for a video
    };
    const std::vector<Case> accepted = {
        {{"--out", "clip.mp4"}, OutputKind::kMp4, "libx264"},
        {{"--out", "a.b/Clip.MKV"}, OutputKind::kMkv, "ffv1"},
        {{"--out", "clip.webm", "--crf", "40", "--size", "1920x1080"},
         OutputKind::kWebm,
         "libvpx-vp9"},
        {{"--out", "clip.mp4", "--codec", "libx265", "--preset", "slow"},
         OutputKind::kMp4,
         "libx265"},
        // FFV1 keeps RGB: any size will do.
        {{"--out", "clip.mkv", "--size", "801x601"}, OutputKind::kMkv, "ffv1"},
        {{"--out", "frames.v2/"}, OutputKind::kFrames, nullptr},
        {{"--out", ".hidden"}, OutputKind::kFrames, nullptr},
        {{"--at", "5", "--size", "33x17"}, OutputKind::kFrames, nullptr},
    };
    for (const Case& c : accepted) {
        const Parsed parsed = parse(c.args);
        ASSERT_TRUE(parsed.ok) << c.args[1] << ": " << parsed.error;
        EXPECT_EQ(parsed.options.kind, c.kind) << c.args[1];
        if (c.codec) {
            EXPECT_STREQ(parsed.options.codec, c.codec) << c.args[1];
        }
    }
    const Parsed sized = parse({"--size=3840x2160", "--crf=0", "--out=x.mp4"});
    ASSERT_TRUE(sized.ok) << sized.error;
    EXPECT_EQ(sized.options.width, 3840);
    EXPECT_EQ(sized.options.height, 2160);
    EXPECT_EQ(sized.options.crf, 0);
    EXPECT_EQ(parse({}).options.width, 0);  // the configured size
    EXPECT_EQ(parse({"--out", "x.mp4"}).options.crf, -1);

    const std::vector<std::pair<std::vector<const char*>, const char*>> refused = {
        {{"--size", "0x10"}, "--size"},
        {{"--size", "10"}, "--size"},
        {{"--size", "10x"}, "--size"},
        {{"--size", "x10"}, "--size"},
        {{"--size", "65537x2"}, "--size"},
        {{"--size", "10x10x10"}, "--size"},
        {{"--crf", "64"}, "--crf"},
        {{"--crf", "-1"}, "--crf"},
        {{"--preset", ""}, "--preset"},
        {{"--out", "clip.avi"}, "clip.avi"},
        {{"--out", "clip.mp4", "--size", "801x600"}, "even"},
        {{"--out", "clip.webm", "--size", "800x601"}, "even"},
        {{"--out", "frames", "--codec", "ffv1"}, "folder"},
        {{"--crf", "20"}, "folder"},
        {{"--at", "5", "--out", "x.mp4"}, "--at"},
    };
    for (const auto& [args, word] : refused) {
        const Parsed parsed = parse(args);
        EXPECT_FALSE(parsed.ok) << args[0] << " " << args[1];
        EXPECT_NE(parsed.error.find(word), std::string::npos) << parsed.error;
    }
}

TEST(FrameClock, FramesLandOnExactPositionsWithoutDrift) {
    const uint64_t start = kStartTicks;
    for (uint64_t k = 0; k < 10000; ++k) {
        ASSERT_EQ(frame_position(start, k, 60), start + k * 1470) << k;
        // 88200 / 24 = 3675 exactly; 88200 / 25 = 3528.
        ASSERT_EQ(frame_position(start, k, 24), start + k * 3675) << k;
        ASSERT_EQ(frame_position(start, k, 25), start + k * 3528) << k;
        // 88200 / 1000 = 88.2: positions round down, but never drift.
        ASSERT_EQ(frame_position(start, k, 1000), start + k * 882 / 10) << k;
    }
    // Past 48695 frames k * 88200 no longer fits 32 bits; the clock keeps counting.
    EXPECT_EQ(frame_position(0, 100000, 60), 147000000u);
    EXPECT_EQ(frame_position(0, 3600u * 1000u, 1000), 3600u * 88200u);

    // The sound of ten seconds at 60 fps from the start offset: 441000 sample frames.
    const SampleRange ten = capture_samples(start, 600, 60);
    EXPECT_EQ(ten.first, uint64_t{kStartSampleFrame});
    EXPECT_EQ(ten.count, 441000u);
    // An odd start drops its half sample frame; the end is the next frame's position.
    const SampleRange odd = capture_samples(101, 3, 7);
    EXPECT_EQ(odd.first, 50u);
    EXPECT_EQ(odd.count, (101 + 3 * 88200 / 7) / 2 - 50);
}

TEST(WavWriter, HeaderMatchesTheLengthAndShortMusicIsPaddedWithSilence) {
    ScratchDir dir;
    const std::string path = dir.file("audio.wav");
    char error[256] = "";
    WavFile wav;
    ASSERT_TRUE(wav_open(&wav, path.c_str(), 5, error, sizeof error)) << error;
    const int16_t samples[] = {1, -1, 256, -256, 32767, -32768};
    ASSERT_TRUE(wav_write(&wav, samples, 3, error, sizeof error)) << error;
    ASSERT_TRUE(wav_write(&wav, samples, 3, error, sizeof error)) << error;  // only 2 fit
    ASSERT_TRUE(wav_close(&wav, error, sizeof error)) << error;

    const Bytes file = read_file(path);
    ASSERT_EQ(file.size(), 44u + 5 * 4);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le32(file, 4), 36u + 20);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(file, 24), 44100u);
    EXPECT_EQ(le32(file, 28), 176400u);
    EXPECT_EQ(file[22], 2);
    EXPECT_EQ(file[34], 16);
    EXPECT_EQ(le32(file, 40), 20u);
    const Bytes data(file.begin() + 44, file.end());
    // Three frames, then only the two of the next three that still fit.
    const Bytes expected = {1, 0,    0xFF, 0xFF, 0,    1,    0, 0xFF, 0xFF, 0x7F,
                            0, 0x80, 1,    0,    0xFF, 0xFF, 0, 1,    0,    0xFF};
    EXPECT_EQ(data, expected);

    // One frame written of four: the other three are silence.
    ASSERT_TRUE(wav_open(&wav, path.c_str(), 4, error, sizeof error)) << error;
    ASSERT_TRUE(wav_write(&wav, samples + 4, 1, error, sizeof error)) << error;
    ASSERT_TRUE(wav_close(&wav, error, sizeof error)) << error;
    const Bytes padded = read_file(path);
    ASSERT_EQ(padded.size(), 44u + 16);
    EXPECT_EQ(le32(padded, 40), 16u);
    EXPECT_EQ(Bytes(padded.begin() + 44, padded.end()),
              (Bytes{0xFF, 0x7F, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    EXPECT_FALSE(wav_open(&wav, dir.file("no/such/folder.wav").c_str(), 1, error, sizeof error));
    EXPECT_NE(std::string(error).find("no/such/folder.wav"), std::string::npos);
    EXPECT_FALSE(wav_open(&wav, path.c_str(), 1ull << 31, error, sizeof error));
}

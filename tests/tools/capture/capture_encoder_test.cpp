// The pieces of demo-capture that talk to ffmpeg: the command line it gets,
// what is read from its answers (the real program's), and the child process
// handling.
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

TEST(EncoderArguments, GivenSettingsReplaceTheDefaultsAndTheOutputComesLast) {
    EncodeJob job{OutputKind::kMp4, "libx264", -1, nullptr, 640, 360, 30, "bgra",
                  3,                4,         "s16le",     "file:out.part"};
    const std::vector<std::string> defaults = encoder_arguments(job);
    EXPECT_EQ(value_of(defaults, "-crf"), "18");
    EXPECT_EQ(value_of(defaults, "-preset"), "veryfast");
    EXPECT_EQ(value_of(defaults, "-video_size"), "640x360");
    EXPECT_EQ(value_of(defaults, "-framerate"), "30");
    EXPECT_EQ(value_of(defaults, "-movflags"), "+faststart");
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

    // FFV1 is lossless: no quality setting, and the pixels stay RGB.
    job = EncodeJob{OutputKind::kMkv, "ffv1", -1,     nullptr, 641, 361, 60, "bgra",
                    3,                4,      "s16le", "file:out.part"};
    const std::vector<std::string> lossless = encoder_arguments(job);
    EXPECT_EQ(value_of(lossless, "-crf"), "");
    EXPECT_EQ(value_of(lossless, "-c:a"), "flac");
    EXPECT_NE(value_of(lossless, "-vf").find("bgr0"), std::string::npos);
    EXPECT_FALSE(needs_even_sides("ffv1"));
    EXPECT_TRUE(needs_even_sides("libx264"));
}

TEST(FfmpegAnswers, TheEncodersAndTheirOptionsAreReadFromTheInstalledProgram) {
    std::string ffmpeg;
    ASSERT_TRUE(find_on_path("ffmpeg", &ffmpeg)) << "ffmpeg is installed by scripts/install-deps";
    char error[256] = "";
    std::string encoders;
    ASSERT_TRUE(run_for_output(ffmpeg, {"-hide_banner", "-encoders"}, &encoders, error,
                               sizeof error))
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
    ASSERT_TRUE(run_for_output(ffmpeg, {"-hide_banner", "-h", "encoder=ffv1"}, &help, error,
                               sizeof error))
        << error;
    EXPECT_FALSE(encoder_has_option(help, "crf"));

    // A failing run names the program and what it said.
    EXPECT_FALSE(run_for_output(ffmpeg, {"-hide_banner", "-no-such-option"}, &help, error,
                                sizeof error));
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

// velkorandi-capture writing videos through the real ffmpeg: frames decoded back
// against the program's own renderer, the streams' timing as ffprobe reads
// it, the sound against the mpg123 command's decode, the same bytes from the
// same options, and what a stop or a failure leaves behind. Runs under a
// display (xvfb-run).
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture_tool.h"
#include "frame_clock.h"

namespace {

using Fields = std::map<std::string, std::string>;

// ffprobe's view of a file: the fields of its video and audio streams and of
// the container, frames counted by decoding.
struct Probe {
    Fields video, audio, format;
};

Probe probe(const ScratchDir& dir, const std::string& name) {
    const std::string listing = dir.file("probe.txt");
    const std::string command =
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,codec_name,nb_read_frames,start_time,duration:format=duration "
        "-of compact '" +
        dir.file(name) + "' > '" + listing + "'";
    Probe result;
    if (std::system(command.c_str()) != 0) return result;
    std::istringstream lines(read_text(listing));
    std::string line;
    while (std::getline(lines, line)) {
        Fields fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const size_t equals = part.find('=');
            if (equals != std::string::npos)
                fields[part.substr(0, equals)] = part.substr(equals + 1);
        }
        if (line.rfind("format", 0) == 0) result.format = fields;
        if (fields["codec_type"] == "video") result.video = fields;
        if (fields["codec_type"] == "audio") result.audio = fields;
    }
    return result;
}

double number(const Fields& fields, const char* name) {
    const auto found = fields.find(name);
    return found == fields.end() ? NAN : std::atof(found->second.c_str());
}

// How alike a lossy decode is to the reference over the reference's length:
// the correlation, and the RMS of the difference against the RMS of the
// reference.
struct Likeness {
    double correlation;
    double error_ratio;
};

Likeness likeness(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded) {
    double cross = 0, ref_energy = 0, dec_energy = 0, error = 0;
    for (size_t i = 0; i < reference.size() && i < decoded.size(); ++i) {
        const double r = reference[i], d = decoded[i];
        cross += r * d;
        ref_energy += r * r;
        dec_energy += d * d;
        error += (r - d) * (r - d);
    }
    if (decoded.size() < reference.size() || ref_energy == 0 || dec_energy == 0) return {0, 1};
    return {cross / std::sqrt(ref_energy * dec_energy), std::sqrt(error / ref_energy)};
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

// Processes whose command line mentions text: an encoder left running would.
int processes_mentioning(const std::string& text) {
    int count = 0;
    for (const std::string& pid : names_in("/proc")) {
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string command = read_text("/proc/" + pid + "/cmdline");
        for (char& c : command) c = c == '\0' ? ' ' : c;
        if (command.find(text) != std::string::npos && std::to_string(getpid()) != pid) ++count;
    }
    return count;
}

// Peak signal to noise of b against a, in dB over all channels.
double psnr(const Picture& a, const Picture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 0.0;
    double error = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = static_cast<double>(a.rgb[i]) - b.rgb[i];
        error += d * d;
    }
    if (error == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * a.rgb.size() / error);
}

}  // namespace

TEST(CaptureVideo, LosslessFramesEqualDrawFrameAtTheConfiguredAndAnotherSize) {
    ScratchDir dir;
    stage_presentation(dir, 2.0);
    // Three frames at 60 fps from step 16 (trevak overlay); the second video
    // in a folder that does not exist yet, at a square size, where the 16:10
    // drawing area sits between bars above and below.
    const std::string frames = "--start 146948 --duration 0.05 --fps 60 ";
    const ToolRun configured = run_tool(dir, frames + "--out a.mkv");
    ASSERT_EQ(configured.status, 0) << configured.out << configured.err;
    const ToolRun sized = run_tool(dir, frames + "--size 320x320 --out sized/b.mkv");
    ASSERT_EQ(sized.status, 0) << sized.out << sized.err;
    EXPECT_NE(sized.out.find("rendering 320x320 (drawing area 320x200)"), std::string::npos)
        << sized.out;

    // H.264 and VP9 get frames converted to BT.709 4:2:0 here: decoded as
    // the streams are tagged, they are close to the drawn frames (a flipped
    // picture or swapped colours would not be).
    const ToolRun lossy = run_tool(dir, frames + "--out a.mp4");
    ASSERT_EQ(lossy.status, 0) << lossy.out << lossy.err;
    const ToolRun webm = run_tool(dir, frames + "--out a.webm");
    ASSERT_EQ(webm.status, 0) << webm.out << webm.err;

    const std::vector<Picture> at_400 = decode_video_frames(dir.file("a.mkv"), 400, 300);
    const std::vector<Picture> h264 = decode_video_frames(dir.file("a.mp4"), 400, 300);
    const std::vector<Picture> vp9 = decode_video_frames(dir.file("a.webm"), 400, 300);
    ASSERT_EQ(h264.size(), 3u);
    ASSERT_EQ(vp9.size(), 3u);
    const std::vector<Picture> at_320 = decode_video_frames(dir.file("sized/b.mkv"), 320, 320);
    ASSERT_EQ(at_400.size(), 3u);
    ASSERT_EQ(at_320.size(), 3u);
    {
        ReferenceRenderer reference;
        ASSERT_TRUE(reference.open(dir));
        for (uint64_t k = 0; k < 3; ++k) {
            const auto position = static_cast<uint32_t>(frame_position(146948, k, 60));
            const Picture drawn = reference.draw(position);
            EXPECT_EQ(differing_pixels(at_400[k], drawn), 0u) << k;
            EXPECT_GT(psnr(drawn, h264[k]), 30.0) << k;
            EXPECT_GT(psnr(drawn, vp9[k]), 30.0) << k;
        }
        // What the bound above is worth: the right frame upside down, or
        // with its red and blue swapped, falls well below it.
        const Picture first = reference.draw(146948);
        Picture flipped = first, swapped = first;
        for (int y = 0; y < 300; ++y)
            std::copy_n(first.rgb.begin() + (299 - y) * 400 * 3, 400 * 3,
                        flipped.rgb.begin() + y * 400 * 3);
        for (size_t i = 0; i < swapped.rgb.size(); i += 3)
            std::swap(swapped.rgb[i], swapped.rgb[i + 2]);
        EXPECT_LT(psnr(flipped, h264[0]), 20.0);
        EXPECT_LT(psnr(swapped, h264[0]), 20.0);
    }
    ReferenceRenderer reference;
    ASSERT_TRUE(reference.open_sized(dir, 320, 320, 320, 200));
    for (uint64_t k = 0; k < 3; ++k) {
        const auto position = static_cast<uint32_t>(frame_position(146948, k, 60));
        EXPECT_EQ(differing_pixels(at_320[k], reference.draw(position)), 0u) << k;
    }
    // The bars stay black, the area outside the panel turns white: the
    // comparison above was of real content.
    EXPECT_EQ(at_320[0].rgb[(30 * 320 + 160) * 3], 0);
    EXPECT_EQ(at_320[0].rgb[(70 * 320 + 10) * 3], 255);
}

TEST(CaptureVideo, StreamsStartTogetherRunExactlyAndCarryTheMusicOfTheirSpan) {
    ScratchDir dir;
    stage_presentation(dir, 2.0);
    const std::vector<int16_t> reference = reference_decode(dir.file("music.mp3"));
    // 0.25 s at 24 fps (6 frames) from an odd start: sample frames 11025 .. 22050.
    const SampleRange range = capture_samples(22051, 6, 24);
    ASSERT_EQ(range.count, 11025u);
    ASSERT_GE(reference.size(), (range.first + range.count) * 2);
    const std::vector<int16_t> expected(reference.begin() + range.first * 2,
                                        reference.begin() + (range.first + range.count) * 2);

    struct Case {
        const char* name;
        const char* video_codec;
        const char* audio_codec;
        double audio_start;  // what ffprobe reads as the sound's start
        double min_correlation, max_error;
    };
    // Opus's first 312 samples at 48 kHz are dropped by its decoder; WebM
    // gives them a time before 0, in whole milliseconds.
    const std::vector<Case> cases = {
        {"v.mkv", "ffv1", "flac", 0.0, 1.0, 0.0},
        {"v.mp4", "h264", "aac", 0.0, 0.99, 0.1},
        {"v.webm", "vp9", "opus", -0.007, 0.98, 0.2},
    };
    for (const Case& c : cases) {
        const ToolRun run =
            run_tool(dir, std::string("--start 22051 --duration 0.25 --fps 24 --out ") + c.name);
        ASSERT_EQ(run.status, 0) << c.name << run.out << run.err;
        Probe found = probe(dir, c.name);
        EXPECT_EQ(found.video["codec_name"], c.video_codec) << c.name;
        EXPECT_EQ(found.audio["codec_name"], c.audio_codec) << c.name;
        EXPECT_EQ(found.video["nb_read_frames"], "6") << c.name;
        EXPECT_EQ(number(found.video, "start_time"), 0.0) << c.name;
        EXPECT_NEAR(number(found.audio, "start_time"), c.audio_start, 0.0005) << c.name;
        EXPECT_NEAR(number(found.format, "duration"), 0.25, c.audio_start < 0 ? 0.0125 : 1e-6)
            << c.name;
        if (found.video.count("duration") && found.video["duration"] != "N/A") {
            EXPECT_NEAR(number(found.video, "duration"), 0.25, 1e-6) << c.name;
            EXPECT_NEAR(number(found.audio, "duration"), 0.25, 1e-6) << c.name;
        }

        std::vector<int16_t> sound = decode_video_sound(dir.file(c.name));
        if (c.max_error == 0.0) {
            EXPECT_EQ(sound, expected) << c.name;
            continue;
        }
        // A lossy coder pads the last block; what the frames span comes first.
        ASSERT_GE(sound.size(), expected.size()) << c.name;
        sound.resize(expected.size());
        const Likeness alike = likeness(expected, sound);
        EXPECT_GE(alike.correlation, c.min_correlation) << c.name;
        EXPECT_LE(alike.error_ratio, c.max_error) << c.name;
    }
}

TEST(CaptureVideo, TheSameOptionsGiveTheSameBytes) {
    ScratchDir dir;
    stage_presentation(dir, 1.0);
    for (const char* kind : {"mp4", "mkv", "webm"}) {
        const std::string options = "--start 44100 --duration 0.1 --fps 30 --out ";
        const ToolRun first = run_tool(dir, options + "first." + kind);
        const ToolRun second = run_tool(dir, options + "second." + kind);
        ASSERT_EQ(first.status, 0) << first.err;
        ASSERT_EQ(second.status, 0) << second.err;
        const Bytes bytes = read_file(dir.file(std::string("first.") + kind));
        EXPECT_GT(bytes.size(), 1000u) << kind;
        EXPECT_EQ(bytes, read_file(dir.file(std::string("second.") + kind))) << kind;
    }
}

TEST(CaptureVideo, AStopLeavesNoFileAndNoEncoderBehind) {
    ScratchDir dir;
    stage_presentation(dir, 1.0);
    for (const int signal : {SIGINT, SIGTERM}) {
        // Far longer than the test waits.
        const pid_t pid = start_tool(dir, {"--duration", "600", "--out", dir.file("stop.mp4")});
        ASSERT_GT(pid, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (read_text(dir.file("tool.out")).find("encoding") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Some frames into the encoder, so that it has written part of a file.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(processes_mentioning(dir.path + "/.stop.mp4"), 1) << "the encoder runs";
        kill(pid, signal);
        const ToolRun run = finish_tool(dir, pid);
        EXPECT_EQ(run.status, 128 + signal) << run.out << run.err;
        EXPECT_NE(run.err.find(signal == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM"),
                  std::string::npos)
            << run.err;
        for (const std::string& name : names_in(dir.path)) {
            EXPECT_EQ(name.find("stop.mp4"), std::string::npos) << name << " is left";
        }
        EXPECT_EQ(processes_mentioning(dir.path + "/.stop.mp4"), 0) << "an encoder is left";
    }
}

TEST(CaptureVideo, EveryBadRequestEndsWithItsMessage) {
    ScratchDir dir;
    stage_presentation(dir, 0.5);
    struct Case {
        std::string args;
        std::string message;
        std::string prefix = "";
    };
    const std::vector<Case> cases = {
        {"--out x.avi", "unknown kind of video"},
        {"--out x.mp4 --size 401x300", "even width and height"},
        {"--out x.mp4 --size 20000x20000", "larger than"},
        {"--out x.mp4 --codec no-such-codec", "no encoder 'no-such-codec'"},
        {"--out x.mkv --crf 10", "the encoder ffv1 has no -crf option"},
        {"--out x.webm --preset fast", "the encoder libvpx-vp9 has no -preset option"},
        {"--out frames --crf 10", "for a video"},
        {"--out x.mp4 --at 5345596", "--at writes one picture"},
        {"--out x.mp4 --preset no-such-preset", "ffmpeg could not write x.mp4"},
        {"--out x.mp4", "no ffmpeg program on the PATH", "env PATH=/nonexistent "},
    };
    for (const Case& c : cases) {
        const ToolRun run = run_tool(dir, c.args, c.prefix);
        EXPECT_TRUE(run.status == 1 || run.status == 2) << c.args << ": " << run.status << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << ": " << run.err;
        for (const std::string& name : names_in(dir.path)) {
            EXPECT_EQ(name.find("x."), std::string::npos) << c.args << ": " << name << " is left";
        }
    }
    const ToolRun help = run_tool(dir, "--help");
    for (const char* option : {"--size WxH", "--crf N", "--preset NAME", "--codec NAME", ".webm"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
}

// A full disk: a 64 KiB tmpfs mounted in a user and mount namespace of the
// tool's own, where ffmpeg runs out of room on its first frames. What is
// left in it is listed before the namespace, and the mount, go.
TEST(CaptureVideo, AFullDiskIsReportedWithFfmpegsReasonAndLeavesNothing) {
    if (std::system("unshare --user --map-root-user --mount true 2> /dev/null") != 0) {
        GTEST_SKIP() << "no user and mount namespaces here to mount a small tmpfs in";
    }
    ScratchDir dir;
    stage_presentation(dir, 0.5);
    ASSERT_EQ(std::system(("mkdir '" + dir.file("full") + "'").c_str()), 0);
    const std::string prefix =
        "unshare --user --map-root-user --mount sh -c "
        "'mount -t tmpfs -o size=64k tmpfs full || exit 99; \"$0\" \"$@\"; status=$?; "
        "ls -A full > left.txt; exit $status' ";
    const ToolRun run = run_tool(dir, "--duration 0.5 --out full/x.mkv", prefix);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("ffmpeg could not write full/x.mkv"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    EXPECT_TRUE(std::ifstream(dir.file("left.txt")).good());
    EXPECT_EQ(read_text(dir.file("left.txt")), "");
}

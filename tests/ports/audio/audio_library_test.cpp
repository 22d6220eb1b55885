// The audio library against reality: SDL's disk driver writes every byte the
// device consumed to a file, paced in real time, and that file is compared
// with the mpg123 command's decode of the same MP3. Each test opens its own
// device (and file) and closes it again, so the file holds only its audio.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "audio/audio_probe.h"
#include "config/presentation.h"
#include "media_files.h"
#include "platform/audio_format.h"
#include "platform/audio_library.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kStartFrame = kStartSampleFrame;  // where the program starts its music
constexpr int64_t kFrameBytes = 4;

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Poll {
    double t;  // seconds
    QWORD position;
};

class AudioLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = scratch_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        device_file_ = dir_ + "/device.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", device_file_.c_str(), 1);
        ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr)) << BASS_ErrorGetCode();
    }
    void TearDown() override {
        BASS_Free();
        std::filesystem::remove_all(dir_);
    }

    // Closes the device so the file is complete, and returns its samples.
    std::vector<int16_t> played() {
        BASS_Free();
        std::vector<uint8_t> bytes = read_file(device_file_);
        std::vector<int16_t> samples(bytes.size() / 2);
        if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    HSTREAM open_stream(const std::vector<uint8_t>& file) {
        return BASS_StreamCreateFile(TRUE, file.data(), 0, file.size(), BASS_STREAM_PRESCAN);
    }

    // Polls the position every 2 ms for `seconds`.
    static std::vector<Poll> poll(HSTREAM stream, double seconds) {
        std::vector<Poll> polls;
        auto t0 = Clock::now();
        while (seconds_since(t0) < seconds) {
            polls.push_back({seconds_since(t0), BASS_ChannelGetPosition(stream)});
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return polls;
    }

    std::string dir_;
    std::string device_file_;
};

// Splits what the device played into runs of the reference: returns the
// source frame where each run starts and how long it is, skipping silence
// between runs. A stretch that matches nothing ends the scan.
struct PlayedRun {
    int64_t device_frame, source_frame, frames;
};

std::vector<PlayedRun> match_runs(const std::vector<int16_t>& device,
                                  const std::vector<int16_t>& reference,
                                  const std::vector<int64_t>& expected_starts, int64_t* unmatched) {
    std::vector<PlayedRun> runs;
    int64_t total = static_cast<int64_t>(device.size() / 2);
    int64_t d = 0;
    size_t next = 0;
    *unmatched = 0;
    auto silent = [&](int64_t f) { return device[f * 2] == 0 && device[f * 2 + 1] == 0; };
    while (d < total) {
        if (silent(d)) {
            ++d;
            continue;
        }
        if (next >= expected_starts.size()) {
            *unmatched = total - d;
            break;
        }
        int64_t s = expected_starts[next++];
        int64_t n = 0;
        while (d + n < total && (s + n) * 2 + 1 < static_cast<int64_t>(reference.size()) &&
               device[(d + n) * 2] == reference[(s + n) * 2] &&
               device[(d + n) * 2 + 1] == reference[(s + n) * 2 + 1])
            ++n;
        if (n == 0) {
            *unmatched = total - d;
            break;
        }
        runs.push_back({d, s, n});
        d += n;
    }
    return runs;
}

const std::vector<int16_t>& tone_reference() {
    static std::vector<int16_t> reference = reference_decode(media_path("tone70"));
    return reference;
}

TEST_F(AudioLibraryTest, PlaysFromTheStartOffsetExactlyWhatMpg123Decodes) {
    std::vector<uint8_t> file = read_file(media_path("tone70"));
    ASSERT_EQ(tone_reference().size(), 70u * 44100 * 2);
    HSTREAM stream = open_stream(file);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();

    // As the time source starts the music: play, then position at once.
    auto t0 = Clock::now();
    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * kStartFrame));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), QWORD{4 * kStartFrame});
    std::vector<Poll> polls = poll(stream, 1.0);

    // Refused positions change nothing: at the end, past it, and the wrapped
    // value a step back near the start asks for.
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 70ull * 44100 * 4));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 4294967294ull));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    std::vector<Poll> more = poll(stream, 1.0);
    polls.insert(polls.end(), more.begin(), more.end());
    for (size_t i = polls.size() - more.size(); i < polls.size(); ++i) polls[i].t += 1.0;
    QWORD last = BASS_ChannelGetPosition(stream);
    double elapsed = seconds_since(t0);
    int64_t buffer = audio_device_buffer_frames();
    std::vector<int16_t> device = played();

    // Silence, then the decode from the start frame without a break.
    int64_t unmatched = 0;
    std::vector<PlayedRun> runs = match_runs(device, tone_reference(), {kStartFrame}, &unmatched);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(unmatched, 0);
    EXPECT_GT(runs[0].frames, 44100 * 17 / 10) << "less than 1.7 s of the 2 s played";

    // Positions never go back, and track the time since Play: the first
    // buffer comes up to a period late, and on a busy machine the disk
    // driver's thread wakes late too (0.107 s seen with two sanitizer builds
    // running beside the test), so allow 0.15 s: a clock that stands still
    // or runs at another speed is still far outside it.
    for (size_t i = 1; i < polls.size(); ++i)
        ASSERT_GE(polls[i].position, polls[i - 1].position) << i;
    for (const Poll& p : polls) {
        double heard = (static_cast<double>(p.position) / kFrameBytes - kStartFrame) / kAudioRate;
        EXPECT_NEAR(heard, p.t, 0.15) << "at " << p.t << " s";
    }
    // The last position read is within a buffer of what reached the file.
    double played_frames = static_cast<double>(runs[0].frames);
    double reported_frames = static_cast<double>(last) / kFrameBytes - kStartFrame;
    EXPECT_NEAR(reported_frames, played_frames,
                2.0 * static_cast<double>(buffer) + 0.01 * 44100 * elapsed);
}

TEST_F(AudioLibraryTest, SeeksBothWaysWhilePlaying) {
    std::vector<uint8_t> file = read_file(media_path("tone70"));
    HSTREAM stream = open_stream(file);
    ASSERT_NE(stream, 0u);
    // Even a program that dawdles between Play and its first position lets
    // nothing from the beginning of the song through (checked below: the
    // file holds nothing but silence and the three runs).
    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * kStartFrame));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    // A quarter of a second forward, then back, as the arrow keys ask.
    QWORD forward = BASS_ChannelGetPosition(stream) + 44100;
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, forward));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), forward);
    std::vector<Poll> polls = poll(stream, 0.6);
    QWORD back = BASS_ChannelGetPosition(stream) - 44100;
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, back));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), back);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    for (size_t i = 1; i < polls.size(); ++i) ASSERT_GE(polls[i].position, polls[i - 1].position);
    EXPECT_GE(polls.front().position, forward);
    int64_t buffer = audio_device_buffer_frames();
    std::vector<int16_t> device = played();

    int64_t unmatched = 0;
    std::vector<PlayedRun> runs =
        match_runs(device, tone_reference(),
                   {kStartFrame, static_cast<int64_t>(forward / 4), static_cast<int64_t>(back / 4)},
                   &unmatched);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(unmatched, 0);
    // Each run was heard until the seek that ended it (give or take a buffer).
    EXPECT_NEAR(static_cast<double>(runs[0].source_frame + runs[0].frames),
                static_cast<double>(forward / 4 - 11025), 2.0 * buffer);
    EXPECT_NEAR(static_cast<double>(runs[1].source_frame + runs[1].frames),
                static_cast<double>(back / 4 + 11025), 2.0 * buffer);
    EXPECT_GT(runs[2].frames, 44100 / 2);
}

TEST_F(AudioLibraryTest, MonoAtHalfTheRatePlaysAsStereo44100) {
    std::vector<uint8_t> file = read_file(media_path("mono22"));
    std::vector<int16_t> source = reference_decode(media_path("mono22"));
    ASSERT_EQ(source.size(), 6u * 22050);
    HSTREAM stream = open_stream(file);
    ASSERT_NE(stream, 0u);
    // Six seconds at 44100 frames: the last frame can be set, the end cannot.
    EXPECT_TRUE(BASS_ChannelSetPosition(stream, (6 * 44100 - 1) * 4));
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 6 * 44100 * 4));
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 0));
    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    // With no call after Play, playback begins with the first device period
    // after the 250 ms grace (the disk driver's thread may wake late on a
    // busy machine, hence the margin).
    double heard = static_cast<double>(BASS_ChannelGetPosition(stream)) / 176400.0;
    EXPECT_GT(heard, 1.0 - 0.25 - 0.1);
    EXPECT_LT(heard, 1.0 - 0.25 + 0.005);
    std::vector<int16_t> device = played();

    // Find the first sound, then check both channels against the source.
    size_t first = 0;
    while (first < device.size() && device[first] == 0) ++first;
    first &= ~size_t{1};
    ASSERT_LT(first, device.size());
    size_t frames = (device.size() - first) / 2;
    ASSERT_GT(frames, 44100u / 2);
    int64_t far = 0, rounded = 0;
    // The device's first non-zero frame may be a little into the source if it starts quietly.
    size_t offset = 0;
    while (offset < 64 && (source[offset] == 0)) ++offset;
    for (size_t k = 0; k + 1 < frames && (k + offset * 2) / 2 < source.size(); k += 2) {
        int16_t left = device[first + 2 * k], right = device[first + 2 * k + 1];
        int step = std::abs(left - source[offset + k / 2]);
        if (left != right || step > 1) ++far;
        if (step == 1) ++rounded;
    }
    EXPECT_EQ(far, 0);
    EXPECT_LT(rounded, 50);
}

TEST_F(AudioLibraryTest, RefusesWhatItCannotPlay) {
    const char text[] = "this is not an MP3 file, only some words";
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, text, 0, sizeof text, BASS_STREAM_PRESCAN), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    std::vector<uint8_t> zeros(100000, 0);
    EXPECT_EQ(open_stream(zeros), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, nullptr, 0, 100, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, "music.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);

    // Handles that were never given, or were freed, are refused.
    for (DWORD bad : {DWORD{0}, DWORD{1}, DWORD{0x12345}}) {
        EXPECT_FALSE(BASS_ChannelPlay(bad, FALSE));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
        EXPECT_EQ(BASS_ChannelGetPosition(bad), static_cast<QWORD>(-1));
        EXPECT_FALSE(BASS_ChannelSetPosition(bad, 0));
        EXPECT_FALSE(BASS_ChannelStop(bad));
        EXPECT_FALSE(BASS_StreamFree(bad));
    }
    std::vector<uint8_t> file = read_file(media_path("short"));
    HSTREAM stream = open_stream(file);
    ASSERT_NE(stream, 0u);
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_FALSE(BASS_ChannelPlay(stream, FALSE));
    HSTREAM again = open_stream(file);
    EXPECT_NE(again, stream);  // the slot is reused, the handle is not
    EXPECT_FALSE(BASS_StreamFree(stream));
    EXPECT_TRUE(BASS_StreamFree(again));

    // Init twice, and other devices or rates.
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, 0, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0203u);
    BASS_Free();
    EXPECT_FALSE(BASS_Init(3, 44100, 0, 0, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    EXPECT_FALSE(BASS_Init(-1, 48000, 0, 0, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
    EXPECT_EQ(open_stream(file), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST_F(AudioLibraryTest, StopsByItselfAtTheEndAndStopKeepsThePosition) {
    std::vector<uint8_t> file = read_file(media_path("short"));
    std::vector<int16_t> reference = reference_decode(media_path("short"));
    const int64_t length = 66150;  // 1.5 s
    ASSERT_EQ(reference.size(), static_cast<size_t>(length) * 2);
    HSTREAM stream = open_stream(file);
    ASSERT_NE(stream, 0u);

    // Stopped, the position holds; Play resumes from there.
    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * 22050));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(BASS_ChannelStop(stream));
    QWORD stopped = BASS_ChannelGetPosition(stream);
    EXPECT_NEAR(static_cast<double>(stopped) / 176400.0, 0.5 + 0.2, 0.1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), stopped);

    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    std::vector<Poll> polls = poll(stream, 1.1);  // 0.8 s of music are left
    for (size_t i = 1; i < polls.size(); ++i) ASSERT_GE(polls[i].position, polls[i - 1].position);
    EXPECT_EQ(polls.back().position, QWORD{4 * length});
    for (const Poll& p : polls) ASSERT_LE(p.position, QWORD{4 * length});
    int64_t buffer = audio_device_buffer_frames();
    std::vector<int16_t> device = played();

    // The first run ends where the stop came (or a buffer later: what was
    // queued still played), the second runs to the last sample. The position
    // read at the stop trails the device by the clock's 4 ms jitter margin
    // and whatever the tracking loop is off by at that moment; allow 10 ms.
    int64_t unmatched = 0;
    std::vector<PlayedRun> runs =
        match_runs(device, reference, {22050, static_cast<int64_t>(stopped / 4)}, &unmatched);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(unmatched, 0);
    EXPECT_EQ(runs[1].source_frame + runs[1].frames, length);
    int64_t first_end = runs[0].source_frame + runs[0].frames;
    EXPECT_GE(first_end, static_cast<int64_t>(stopped / 4));
    EXPECT_LE(first_end, static_cast<int64_t>(stopped / 4) + buffer + 441);
}

}  // namespace

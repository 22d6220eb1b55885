// The audio library through a real sound server: a private PulseAudio or
// PipeWire server started for each test, its null sink's monitor recorded and
// dated by the server's own timing, the recording matched sample for sample
// against the mpg123 command's decode. What was heard, and when, is
// compared with the positions the library reported. On PipeWire the library
// plays natively, and again through the pulse socket alone, as in a sandbox.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "config/presentation.h"
#include "media_files.h"
#include "platform/audio_library.h"
#include "support/monitor_recorder.h"
#include "support/sound_server.h"
#include "support/track_matcher.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t kStartFrame = kStartSampleFrame;  // where the program starts its music
constexpr int64_t kQuarter = 11025;                 // what an arrow key moves, in frames

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

struct Poll {
    int64_t ns;
    int64_t frame;
};

// A stretch of the track heard without a seek: runs that go on where the one
// before stopped are one stretch (the sink ran dry for a moment, a busy
// machine having starved the main loop, and went on from the same place).
struct Stretch {
    int64_t recorded = 0, recorded_end = 0;  // in the recording
    int64_t track = 0, track_end = 0;
};

std::vector<Stretch> stretches(const std::vector<MatchedRun>& runs) {
    std::vector<Stretch> joined;
    for (const MatchedRun& r : runs) {
        if (joined.empty() || joined.back().track_end != r.track)
            joined.push_back({r.recorded, 0, r.track, 0});
        joined.back().recorded_end = r.recorded + r.frames;
        joined.back().track_end = r.track + r.frames;
    }
    return joined;
}

std::string described(const std::vector<Stretch>& heard) {
    std::string text;
    for (const Stretch& h : heard)
        text += " [recorded " + std::to_string(h.recorded) + "-" + std::to_string(h.recorded_end) +
                ": track " + std::to_string(h.track) + "-" + std::to_string(h.track_end) + "]";
    return text;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Which server, and how the library reaches it.
struct Setup {
    const char* name;
    bool pipewire;
    bool pulse_socket_only;
};

class PulseOutputTest : public ::testing::TestWithParam<Setup> {
protected:
    void SetUp() override {
        server_ = start_sound_server(GetParam().pipewire);
        if (!server_.running())
            GTEST_SKIP() << "no " << GetParam().name << " server can run here: " << server_.failure;
        if (GetParam().pulse_socket_only)
            use_pulse_socket_only(server_);
        else
            use_sound_server(server_);
        std::string why;
        recorder_ = start_recording(server_, "velkorandi", &why);
        ASSERT_NE(recorder_, nullptr) << why;
        ::testing::internal::CaptureStderr();
        initialised_ = BASS_Init(-1, 44100, 0, 0, nullptr);
        said_ = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(initialised_) << BASS_ErrorGetCode() << " " << said_;
    }
    void TearDown() override {
        if (initialised_) BASS_Free();
        if (recorder_) finish_recording(recorder_);
        if (server_.running()) stop_sound_server(server_);
    }

    // The test track, started as the time source starts the music: play,
    // then position at the start offset at once. The start counts as a move
    // when moves is given.
    void play_tone_from_start(HSTREAM* stream, std::vector<int64_t>* moves = nullptr) {
        tone_ = read_file(media_path("tone70"));
        *stream = BASS_StreamCreateFile(TRUE, tone_.data(), 0, tone_.size(), BASS_STREAM_PRESCAN);
        ASSERT_NE(*stream, 0u);
        if (moves) moves->push_back(steady_ns());
        ASSERT_TRUE(BASS_ChannelPlay(*stream, FALSE));
        ASSERT_TRUE(BASS_ChannelSetPosition(*stream, 4 * kStartFrame));
    }

    // Ends playback and the recording; the recording's runs of the track.
    std::vector<MatchedRun> heard_runs(const std::vector<int16_t>& track) {
        BASS_Free();
        initialised_ = false;
        recording_ = finish_recording(recorder_);
        recorder_ = nullptr;
        return match_recording(recording_.samples, track);
    }

    // Polls the position every 2 ms for `ms`.
    static void poll(HSTREAM stream, int ms, std::vector<Poll>* polls) {
        int64_t end = steady_ns() + int64_t{ms} * 1'000'000;
        while (steady_ns() < end) {
            polls->push_back(
                {steady_ns(), static_cast<int64_t>(BASS_ChannelGetPosition(stream) / 4)});
            sleep_ms(2);
        }
    }

    // |reported - heard| in ms for the polls outside the 50 ms after each of
    // `moves` (times in ns), where the sink was playing the track.
    std::vector<double> errors_ms(const std::vector<Poll>& polls,
                                  const std::vector<MatchedRun>& runs,
                                  const std::vector<int64_t>& moves) {
        std::vector<double> errors;
        for (const Poll& p : polls) {
            bool settling = std::any_of(moves.begin(), moves.end(), [&](int64_t m) {
                return p.ns >= m && p.ns < m + 50'000'000;
            });
            double recorded = 0;
            if (settling || !recorded_frame_at(recording_, p.ns, &recorded)) continue;
            int64_t heard = track_frame_at(runs, static_cast<int64_t>(recorded));
            if (heard < 0) continue;
            errors.push_back(std::abs(static_cast<double>(p.frame - heard)) * 1000.0 / 44100);
        }
        std::sort(errors.begin(), errors.end());
        return errors;
    }

    // The output the library is expected to play through on this setup.
    static bool native() { return GetParam().pipewire && !GetParam().pulse_socket_only; }

    SoundServer server_;
    MonitorRecorder* recorder_ = nullptr;
    Recording recording_;
    bool initialised_ = false;
    std::string said_;
    std::vector<uint8_t> tone_;  // the stream's bytes, kept until the library is freed
};

const std::vector<int16_t>& tone_reference() {
    static std::vector<int16_t> reference = reference_decode(media_path("tone70"));
    return reference;
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseOutputTest,
                         ::testing::Values(Setup{"PulseAudio", false, false},
                                           Setup{"PipeWire", true, false},
                                           Setup{"PipeWireThroughPulse", true, true}),
                         [](const ::testing::TestParamInfo<Setup>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(PulseOutputTest, SaysItPlaysThroughTheServer) {
    if (native()) {
        EXPECT_EQ(said_, "audio: playing through " + server_.name + " (native), sink velkorandi\n");
    } else {
        EXPECT_EQ(said_.find("audio: playing through the sound server ("), 0u) << said_;
    }
    if (!GetParam().pipewire) {
        EXPECT_EQ(said_, "audio: playing through the sound server (" + server_.name + ") at " +
                             server_.address + ", sink velkorandi\n");
    }
}

TEST_P(PulseOutputTest, StartsAtTheOffsetSeeksBothWaysAndReportsWhatIsHeard) {
    HSTREAM stream = 0;
    std::vector<Poll> polls;
    std::vector<int64_t> moves;
    ASSERT_NO_FATAL_FAILURE(play_tone_from_start(&stream, &moves));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), QWORD{4 * kStartFrame});
    poll(stream, 1000, &polls);

    // Refused positions change nothing: at the end, and the wrapped value a
    // step back near the start asks for.
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 70ull * 44100 * 4));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    EXPECT_FALSE(BASS_ChannelSetPosition(stream, 4294967294ull));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_POSITION);
    poll(stream, 500, &polls);

    // A quarter of a second forward, then back, as the arrow keys ask.
    int64_t forward = polls.back().frame + kQuarter;
    moves.push_back(steady_ns());
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * forward));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), QWORD(4 * forward));
    poll(stream, 800, &polls);
    int64_t back = polls.back().frame - kQuarter;
    moves.push_back(steady_ns());
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * back));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), QWORD(4 * back));
    poll(stream, 800, &polls);
    // Between seeks the position never goes back.
    for (size_t i = 1; i < polls.size(); ++i) {
        bool seek_between = std::any_of(moves.begin(), moves.end(), [&](int64_t m) {
            return polls[i - 1].ns < m && m <= polls[i].ns;
        });
        if (!seek_between) {
            ASSERT_GE(polls[i].frame, polls[i - 1].frame) << "went back at " << i;
        }
    }

    // The sink played silence, then exactly the three runs: nothing of the
    // song's beginning before the offset, nothing after a run but what the
    // sink already held when the seek came.
    std::vector<MatchedRun> runs = heard_runs(tone_reference());
    std::vector<Stretch> heard = stretches(runs);
    ASSERT_EQ(heard.size(), 3u) << described(heard) << " forward " << forward << " back " << back;
    EXPECT_EQ(heard[0].track, kStartFrame);
    EXPECT_EQ(heard[1].track, forward);
    EXPECT_EQ(heard[2].track, back);
    int64_t total = 0;
    for (const MatchedRun& r : runs) total += r.frames;
    int64_t sound = 0;
    for (size_t i = 0; i < recording_.samples.size(); i += 2)
        if (recording_.samples[i] != 0 || recording_.samples[i + 1] != 0) ++sound;
    EXPECT_GE(total, sound - 64) << "all that was heard is the track, bit for bit";
    for (int i = 1; i <= 2; ++i) {
        double at_seek = 0;
        ASSERT_TRUE(recorded_frame_at(recording_, moves[i], &at_seek));
        double old_after = static_cast<double>(heard[i - 1].recorded_end) - at_seek;
        EXPECT_LT(old_after, 0.030 * 44100) << "old audio after seek " << i;
    }

    // The position is the frame being heard (loose bounds: this runs under
    // the sanitizers beside other tests; bench/run measures it).
    std::vector<double> errors = errors_ms(polls, runs, moves);
    ASSERT_GT(errors.size(), polls.size() * 3 / 4);
    EXPECT_LT(errors[errors.size() / 2], 2.0) << "median";
    EXPECT_LT(errors.back(), 25.0) << "worst";
}

TEST_P(PulseOutputTest, AConnectionMadeAheadIsTakenByInitAndPlaysFromTheOffset) {
    // Opened again, this time connected ahead while the caller waits as a
    // program making its window would; Init takes that connection.
    BASS_Free();
    initialised_ = false;
    audio_library_prepare_output();
    audio_library_prepare_output();  // a second call changes nothing
    sleep_ms(150);
    ::testing::internal::CaptureStderr();
    initialised_ = BASS_Init(-1, 44100, 0, 0, nullptr);
    std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(initialised_) << said;
    EXPECT_EQ(said, said_);
    audio_library_prepare_output();  // after Init: nothing

    HSTREAM stream = 0;
    std::vector<int64_t> moves;
    ASSERT_NO_FATAL_FAILURE(play_tone_from_start(&stream, &moves));
    std::vector<Poll> polls;
    poll(stream, 700, &polls);

    // Nothing of the song's beginning, then the track from the offset, and
    // positions that are what was heard.
    std::vector<MatchedRun> runs = heard_runs(tone_reference());
    std::vector<Stretch> heard = stretches(runs);
    ASSERT_EQ(heard.size(), 1u) << described(heard);
    EXPECT_EQ(heard[0].track, kStartFrame);
    std::vector<double> errors = errors_ms(polls, runs, moves);
    ASSERT_GT(errors.size(), polls.size() / 2);
    EXPECT_LT(errors[errors.size() / 2], 2.0) << "median";
}

TEST_P(PulseOutputTest, PlaysToTheEndOnlyAsItIsHeardAndStopKeepsThePosition) {
    std::vector<uint8_t> file = read_file(media_path("short"));
    std::vector<int16_t> reference = reference_decode(media_path("short"));
    const int64_t length = 66150;  // 1.5 s
    ASSERT_EQ(reference.size(), static_cast<size_t>(length) * 2);
    HSTREAM stream = BASS_StreamCreateFile(TRUE, file.data(), 0, file.size(), BASS_STREAM_PRESCAN);
    ASSERT_NE(stream, 0u);

    // Stopped, the position holds where it was heard; Play resumes there.
    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * 22050));
    sleep_ms(300);
    int64_t stop_ns = steady_ns();
    ASSERT_TRUE(BASS_ChannelStop(stream));
    int64_t stopped = static_cast<int64_t>(BASS_ChannelGetPosition(stream) / 4);
    sleep_ms(100);
    EXPECT_EQ(BASS_ChannelGetPosition(stream), QWORD(4 * stopped));

    ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
    std::vector<Poll> polls;
    poll(stream, 1200, &polls);  // 1.2 s of the 1.5 s are left
    for (size_t i = 1; i < polls.size(); ++i) ASSERT_GE(polls[i].frame, polls[i - 1].frame) << i;
    EXPECT_EQ(polls.back().frame, length);
    auto end =
        std::find_if(polls.begin(), polls.end(), [&](const Poll& p) { return p.frame == length; });
    ASSERT_NE(end, polls.end());
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_FALSE(BASS_StreamFree(stream));

    // The first run ends where the stop came, give or take what the sink
    // held; the second runs from there to the last sample, and the position
    // reached the end only once that sample was heard.
    std::vector<Stretch> heard = stretches(heard_runs(reference));
    ASSERT_EQ(heard.size(), 2u) << described(heard);
    double at_stop = 0;
    ASSERT_TRUE(recorded_frame_at(recording_, stop_ns, &at_stop));
    EXPECT_LT(std::abs(static_cast<double>(heard[0].recorded_end) - at_stop), 0.030 * 44100);
    EXPECT_NEAR(static_cast<double>(heard[0].track_end), static_cast<double>(stopped),
                0.030 * 44100);
    EXPECT_EQ(heard[1].track, stopped);
    EXPECT_EQ(heard[1].track_end, length);
    double at_end = 0;
    ASSERT_TRUE(recorded_frame_at(recording_, end->ns, &at_end));
    EXPECT_GT(at_end, static_cast<double>(heard[1].recorded_end) - 0.010 * 44100)
        << "the end was reported before the last sample was heard";
}

TEST_P(PulseOutputTest, FollowsTheStreamToAnotherSink) {
    std::string why;
    MonitorRecorder* other = start_recording(server_, "velkorandi_other", &why);
    ASSERT_NE(other, nullptr) << why;
    HSTREAM stream = 0;
    std::vector<int64_t> moves;
    ASSERT_NO_FATAL_FAILURE(play_tone_from_start(&stream, &moves));
    std::vector<Poll> polls;
    poll(stream, 1000, &polls);
    moves.push_back(steady_ns());
    ASSERT_TRUE(move_stream_to_sink(server_, "velkorandi_other"));
    size_t before = polls.size();
    poll(stream, 1500, &polls);
    for (size_t i = 1; i < polls.size(); ++i) ASSERT_GE(polls[i].frame, polls[i - 1].frame) << i;

    // Before the move the first sink played it, after it the other: each
    // recording judges the positions of its part.
    Recording moved = finish_recording(other);
    std::vector<MatchedRun> runs = heard_runs(tone_reference());
    std::vector<Poll> first(polls.begin(), polls.begin() + static_cast<ptrdiff_t>(before));
    std::vector<Poll> second(polls.begin() + static_cast<ptrdiff_t>(before), polls.end());
    std::vector<double> errors = errors_ms(first, runs, moves);
    ASSERT_FALSE(runs.empty());
    recording_ = moved;
    std::vector<MatchedRun> moved_runs = match_recording(moved.samples, tone_reference());
    ASSERT_FALSE(moved_runs.empty()) << "nothing reached the other sink";
    std::vector<double> after = errors_ms(second, moved_runs, moves);
    ASSERT_GT(after.size(), second.size() / 2);
    EXPECT_LT(errors[errors.size() / 2], 2.0) << "median before the move";
    EXPECT_LT(after[after.size() / 2], 2.0) << "median after the move";
}

// PipeWire changes its graph's quantum as clients come and go; the position
// follows each change from the next cycle on.
TEST_P(PulseOutputTest, FollowsAChangeOfTheGraphsQuantum) {
    if (!GetParam().pipewire) GTEST_SKIP() << "only PipeWire's graph has a quantum to change";
    HSTREAM stream = 0;
    std::vector<int64_t> moves;
    std::vector<Poll> polls;
    ASSERT_NO_FATAL_FAILURE(play_tone_from_start(&stream, &moves));
    poll(stream, 600, &polls);
    for (int quantum : {1024, 256}) {
        std::string why;
        moves.push_back(steady_ns());
        ASSERT_TRUE(set_graph_clock(server_, quantum, 0, &why)) << why;
        moves.push_back(steady_ns());
        poll(stream, 600, &polls);
    }
    for (size_t i = 1; i < polls.size(); ++i) ASSERT_GE(polls[i].frame, polls[i - 1].frame) << i;
    std::vector<MatchedRun> runs = heard_runs(tone_reference());
    std::vector<double> errors = errors_ms(polls, runs, moves);
    ASSERT_GT(errors.size(), polls.size() / 2);
    EXPECT_LT(errors[errors.size() / 2], 2.0) << "median";
}

TEST_P(PulseOutputTest, AServerThatGoesAwayLeavesThePicturesOnTheClock) {
    HSTREAM stream = 0;
    ASSERT_NO_FATAL_FAILURE(play_tone_from_start(&stream));
    sleep_ms(500);
    ::testing::internal::CaptureStderr();
    stop_sound_server(server_);
    std::vector<Poll> polls;
    poll(stream, 1000, &polls);

    // The position goes on in real time, and a seek still lands.
    for (size_t i = 1; i < polls.size(); ++i) ASSERT_GE(polls[i].frame, polls[i - 1].frame) << i;
    double advanced = static_cast<double>(polls.back().frame - polls.front().frame) / 44100;
    double elapsed = static_cast<double>(polls.back().ns - polls.front().ns) / 1e9;
    EXPECT_NEAR(advanced, elapsed, 0.05);
    int64_t target = polls.back().frame + 5 * 44100;
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, 4 * target));
    EXPECT_EQ(BASS_ChannelGetPosition(stream), QWORD(4 * target));
    sleep_ms(300);
    EXPECT_NEAR(static_cast<double>(BASS_ChannelGetPosition(stream) / 4 - target) / 44100, 0.3,
                0.06);

    // Said once; nothing hangs.
    auto t0 = Clock::now();
    EXPECT_TRUE(BASS_StreamFree(stream));
    EXPECT_TRUE(BASS_Free());
    initialised_ = false;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 1.0);
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find(native() ? "audio: the PipeWire server went away ("
                                 : "audio: the sound server went away ("),
              0u)
        << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
}

// The library's own lines in what went to standard error (SDL and ALSA add
// theirs).
std::string audio_lines(const std::string& said) {
    std::string lines;
    for (size_t at = 0; at < said.size();) {
        size_t end = said.find('\n', at);
        end = end == std::string::npos ? said.size() : end + 1;
        if (said.compare(at, 7, "audio: ") == 0) lines += said.substr(at, end - at);
        at = end;
    }
    return lines;
}

// Without a server, or with SDL asked for, SDL plays, and the line says why.
TEST(OutputChoice, SaysWhySdlPlays) {
    const char* before = std::getenv("SDL_AUDIODRIVER");
    std::string kept = before ? before : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/native", 1);
    setenv("PIPEWIRE_REMOTE", "/nonexistent/pipewire-0", 1);
    unsetenv("SDL_AUDIODRIVER");
    // Connecting ahead to no server leaves the choice to Init, as without it.
    audio_library_prepare_output();
    ::testing::internal::CaptureStderr();
    auto t0 = Clock::now();
    bool opened = BASS_Init(-1, 44100, 0, 0, nullptr);
    double took = std::chrono::duration<double>(Clock::now() - t0).count();
    std::string said = audio_lines(::testing::internal::GetCapturedStderr());
    if (opened) BASS_Free();
    EXPECT_EQ(said.find("audio: no sound server ("), 0u) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    // A connection that waited for a time-out would take seconds; a busy
    // machine alone stretches the refusal to a good part of one.
    EXPECT_LT(took, 2.0) << "no server must not hold up the start";

    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
    said = audio_lines(::testing::internal::GetCapturedStderr());
    BASS_Free();
    EXPECT_EQ(said, "audio: SDL_AUDIODRIVER=disk is set: playing through SDL (its disk driver)\n");
    if (before)
        setenv("SDL_AUDIODRIVER", kept.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    unsetenv("PULSE_SERVER");
    unsetenv("PIPEWIRE_REMOTE");
}

}  // namespace

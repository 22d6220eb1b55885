// The time source against the recording audio library: call order, console
// notes and boxes of the set-up, both back ends, the stop rule and seeking.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "config/presentation.h"
#include "config/settings.h"
#include "fakes/audio_fake.h"
#include "fakes/platform_fake.h"
#include "resources/pack.h"
#include "timeline/time_source.h"

// The window record normally comes with the GL window code, which needs a
// whole program around it; the time source only reads the handle.

namespace {

constexpr HWND kWindow = 0x105;
uint8_t music_bytes[64] = {0xFF, 0xFB};

int64_t fake_ms = 0;
int64_t fake_clock() { return fake_ms; }

class TimeSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_audio::reset();
        fake_platform::reset();
        ResourcePack = ResourcePackRecord{};
        // Five pictures already taken; the music is the sixth entry.
        ResourcePack.entryData[5] = music_bytes;
        ResourcePack.entrySize[5] = sizeof music_bytes;
        ResourcePack.entryCount = 6;
        ResourcePack.entryCursor = 5;
        Settings = SettingsRecord{};
        Settings.audio_enabled = 1;
        Settings.okkie = 0;
        TimelinePosition = 0;
        ClockBase = 0;
        MusicChannel = 0;
        TimeSource = TimeSourceTable{};
        fake_ms = 0;
        ClockMilliseconds = fake_clock;
    }
    void TearDown() override { ClockMilliseconds = process_milliseconds; }

    static std::vector<std::string> library_calls() { return fake_audio::calls(); }

    // After a failure the pictures move on the clock, from the start offset,
    // with no further call into the library.
    static void expect_silent_clock(int64_t ms, uint32_t ticks) {
        fake_audio::clear_calls();
        TimeSource.start(kStartSampleFrame);
        fake_ms = ms;
        TimeSource.advance();
        EXPECT_EQ(TimelinePosition, kStartTicks + ticks);
        TimeSource.stop();
        TimeSource.release();
        EXPECT_TRUE(library_calls().empty());
    }
};

TEST_F(TimeSourceTest, AudioDisabledTakesTheEntryAndRunsOnTheClock) {
    Settings.audio_enabled = 0;
    prepare_time_source();  // no output is opened for settings without sound
    EXPECT_EQ(init_time_source(kWindow), 0);
    EXPECT_EQ(ResourcePack.entryCursor, 6u);
    TimeSource.start(kStartSampleFrame);
    fake_ms = 10;
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, kStartTicks + 882u);
    TimeSource.stop();
    TimeSource.release();
    EXPECT_TRUE(library_calls().empty());
    EXPECT_EQ(MusicChannel, 0u);
    EXPECT_EQ(fake_platform::console(), "");
}

TEST_F(TimeSourceTest, EnabledSetUpCallsTheLibraryInOrder) {
    // The output is prepared ahead without a word; the console and the
    // calls that follow are those of a set-up without it.
    prepare_time_source();
    EXPECT_EQ(fake_platform::console(), "");
    EXPECT_EQ(init_time_source(kWindow), 0);
    EXPECT_EQ(ResourcePack.entryCursor, 6u);
    std::vector<std::string> expected = {
        "audio_library_prepare_output()",
        "BASS_GetVersion()",
        "BASS_Init(-1,44100,0,261,NULL)",
        "BASS_StreamCreateFile(1,&,0,64,131072)",
    };
    EXPECT_EQ(library_calls(), expected);
    EXPECT_EQ(fake_audio::last_stream_data(), music_bytes);
    EXPECT_EQ(MusicChannel, fake_audio::kStream);
    EXPECT_EQ(fake_platform::console(), "BASS.DLL == 2.3.0.0 \n");
    EXPECT_TRUE(fake_platform::boxes().empty());

    // The music back end is installed: advance reads the channel.
    fake_audio::clear_calls();
    fake_audio::queue_positions({1000});
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, 500u);
    TimeSource.stop();
    TimeSource.release();
    expected = {"BASS_ChannelGetPosition(4097)", "BASS_ChannelStop(4097)", "BASS_StreamFree(4097)"};
    EXPECT_EQ(library_calls(), expected);
}

TEST_F(TimeSourceTest, WrongVersionWarnsAndGoesOn) {
    fake_audio::set_version(0x02040117);
    EXPECT_EQ(init_time_source(kWindow), 0);
    EXPECT_EQ(fake_platform::console(), "BASS.DLL == 2.4.1.23 \n");
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], "wrong BASSMOD dll?\n version conflict 2040117 302");
    EXPECT_EQ(fake_audio::calls_named({"BASS_StreamCreateFile"}).size(), 1u);
    EXPECT_EQ(MusicChannel, fake_audio::kStream);

    // Only the high 16 bits matter: 2.3.x.y is accepted.
    SetUp();
    fake_audio::set_version(0x0203FF01);
    init_time_source(kWindow);
    EXPECT_TRUE(fake_platform::boxes().empty());
}

TEST_F(TimeSourceTest, FailingInitLeavesTheClockWithoutAChannel) {
    fake_audio::fail_init(BASS_ERROR_DRIVER);
    EXPECT_EQ(init_time_source(kWindow), -2);
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], "Bass_Init(-1) oops? 3");
    EXPECT_TRUE(fake_audio::calls_named({"BASS_StreamCreateFile"}).empty());
    EXPECT_EQ(MusicChannel, 0u);
    EXPECT_EQ(ResourcePack.entryCursor, 6u);

    // Silent, on the clock, from the same start offset.
    expect_silent_clock(1, 88u);
}

TEST_F(TimeSourceTest, MusicThatCannotBePlayedSaysWhyAndRunsOnTheClock) {
    struct Case {
        const char* name;
        uint8_t* data;
        uint32_t size;
        int code;
        const char* reason;
    } cases[] = {
        {"not an MP3", music_bytes, sizeof music_bytes, BASS_ERROR_FILEFORM,
         "it is not an MP3 (no MPEG audio frames in it)"},
        {"empty entry", music_bytes, 0, BASS_ERROR_ILLPARAM, "it is empty"},
        {"no sixth entry", nullptr, 0, BASS_ERROR_ILLPARAM, "the pack has no such entry"},
        {"unplayable samples", music_bytes, sizeof music_bytes, BASS_ERROR_FORMAT,
         "its samples are in a format that cannot be played"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ResourcePack.entryData[5] = c.data;
        ResourcePack.entrySize[5] = c.size;
        fake_audio::set_stream(0, c.code);
        EXPECT_EQ(init_time_source(kWindow), -2);
        ASSERT_EQ(fake_platform::boxes().size(), 1u);
        EXPECT_EQ(
            fake_platform::boxes()[0],
            std::string("BASS_StreamCreateFile failed: the music, entry 6 of blob.dat, cannot "
                        "be played: ") +
                c.reason + "; the presentation goes on without sound");
        // The device that was opened for the music is closed again.
        EXPECT_EQ(fake_audio::calls_named({"BASS_Free"}).size(), 1u);
        EXPECT_EQ(MusicChannel, 0u);

        expect_silent_clock(10, 882u);
    }
}

TEST_F(TimeSourceTest, MusicStartPlaysThenPositions) {
    init_time_source(kWindow);
    fake_audio::clear_calls();
    TimeSource.start(0);
    std::vector<std::string> expected = {"BASS_ChannelPlay(4097,0)"};
    EXPECT_EQ(library_calls(), expected);

    fake_audio::clear_calls();
    TimeSource.start(kStartSampleFrame);
    expected = {"BASS_ChannelPlay(4097,0)", "BASS_ChannelSetPosition(4097,10691192)"};
    EXPECT_EQ(library_calls(), expected);
    EXPECT_EQ(fake_platform::console(), "BASS.DLL == 2.3.0.0 \n");

    // A refused start position is only noted; playback goes on.
    fake_audio::clear_calls();
    fake_audio::queue_set_position({FALSE}, BASS_ERROR_POSITION);
    TimeSource.start(kStartSampleFrame);
    expected = {"BASS_ChannelPlay(4097,0)", "BASS_ChannelSetPosition(4097,10691192)",
                "BASS_ErrorGetCode()"};
    EXPECT_EQ(library_calls(), expected);
    EXPECT_EQ(fake_platform::console(), "BASS.DLL == 2.3.0.0 \nsetpos 7 ");
    EXPECT_TRUE(fake_platform::boxes().empty());
}

TEST_F(TimeSourceTest, ClockStartSetsTheBaseOnly) {
    Settings.audio_enabled = 0;
    init_time_source(kWindow);
    TimeSource.start(kStartSampleFrame);
    EXPECT_EQ(static_cast<uint32_t>(ClockBase), kStartTicks);
    TimeSource.start(0);
    EXPECT_EQ(ClockBase, 0);
    EXPECT_TRUE(library_calls().empty());
}

TEST_F(TimeSourceTest, OkkieStopRuleAtTheThresholdAndEveryFrame) {
    init_time_source(kWindow);
    fake_audio::clear_calls();
    // 1077 bytes: the odd byte is dropped by the shift.
    fake_audio::queue_positions({1077, 1077199, 1077200, 1077201, 10691192});
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, 538u);
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, kMusicStopTicks - 1);
    EXPECT_TRUE(fake_audio::calls_named({"BASS_ChannelStop"}).empty());
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, kMusicStopTicks);
    TimeSource.advance();
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, kStartTicks);
    TimeSource.advance();  // the last position repeats: stopped again
    EXPECT_EQ(fake_audio::calls_named({"BASS_ChannelStop"}).size(), 4u);

    // okkie 1 lets the music play on.
    Settings.okkie = 1;
    fake_audio::clear_calls();
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, kStartTicks);
    EXPECT_TRUE(fake_audio::calls_named({"BASS_ChannelStop"}).empty());

    // The 64-bit position is shifted as a whole, then cut to 32 bits.
    fake_audio::queue_positions({0x300000002ull});
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, 0x80000001u);
}

TEST_F(TimeSourceTest, SeekAsksForTwicePositionPlusDelta) {
    init_time_source(kWindow);
    fake_audio::clear_calls();
    TimelinePosition = 1000000;
    seek(44100);
    seek(-44100);
    // Below a quarter second the step back wraps far past the end.
    TimelinePosition = 22049;
    seek(-44100);
    TimelinePosition = 22050;
    seek(-44100);
    std::vector<std::string> expected = {
        "BASS_ChannelSetPosition(4097,2044100)",
        "BASS_ChannelSetPosition(4097,1955900)",
        "BASS_ChannelSetPosition(4097,4294967294)",
        "BASS_ChannelSetPosition(4097,0)",
    };
    EXPECT_EQ(library_calls(), expected);
    EXPECT_EQ(TimelinePosition, 22050u);  // seek never writes the position

    // With the clock back end the channel is 0 and the timeline stays put.
    SetUp();
    Settings.audio_enabled = 0;
    init_time_source(kWindow);
    TimeSource.start(kStartSampleFrame);
    TimeSource.advance();
    seek(44100);
    EXPECT_EQ(library_calls(), std::vector<std::string>{"BASS_ChannelSetPosition(0,10735292)"});
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, kStartTicks);
}

TEST_F(TimeSourceTest, ClockArithmetic) {
    EXPECT_EQ(ticks_for_milliseconds(0, 5345596), 5345596u);
    EXPECT_EQ(ticks_for_milliseconds(1, 5345596), 5345596u + 88u);
    EXPECT_EQ(ticks_for_milliseconds(10, 5345596), 5345596u + 882u);
    EXPECT_EQ(ticks_for_milliseconds(1000, 5345596), 5345596u + 88200u);
    // The last reading whose 32-bit product fits, and the first that would not.
    EXPECT_EQ(ticks_for_milliseconds(2434788, 0), 214748301u);
    EXPECT_EQ(ticks_for_milliseconds(2434789, 0), 214748389u);
    EXPECT_EQ(ticks_for_milliseconds(50 * 60 * 1000, 5345596), 264600000u + 5345596u);
    // Past 2^32 ticks (13.5 hours) the low 32 bits are kept.
    EXPECT_EQ(ticks_for_milliseconds(50000000, 0), 4410000000u - 4294967296u);
    // A negative base (start offsets are signed) is subtracted.
    EXPECT_EQ(ticks_for_milliseconds(1000, -88200), 0u);

    // The back end uses the same arithmetic on the clock it is given.
    Settings.audio_enabled = 0;
    init_time_source(kWindow);
    TimeSource.start(kStartSampleFrame);
    fake_ms = 2434789;
    TimeSource.advance();
    EXPECT_EQ(TimelinePosition, 214748389u + kStartTicks);
}

TEST(ProcessClock, CountsWallTimeFromItsStart) {
    start_process_clock();
    int64_t before = process_milliseconds();
    EXPECT_GE(before, 0);
    EXPECT_LT(before, 1000);

    // Wall time, not CPU time: sleeping counts.
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    int64_t after = process_milliseconds();
    EXPECT_GE(after - before, 120);
    EXPECT_LT(after - before, 1000);
}

}  // namespace

// The driver against both recording layers: start-up and shutdown order, the
// failure paths, and the window procedure's key handling, in a temporary
// working directory with a small config.xml and blob.dat.
#include "app/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../tools/blobpack/pcx_writer.h"
#include "config/presentation.h"
#include "config/settings.h"
#include "fakes/audio_fake.h"
#include "fakes/platform_fake.h"
#include "resources/pack.h"
#include "support/test_files.h"
#include "timeline/time_source.h"
#include "video/gl_window.h"

namespace fs = std::filesystem;

namespace {

const char* const kFarewell = "demo attempt was a complete failure.. \n bye";

const char* const kConfig =
    "<config><window><width>800</width><height>600</height><caption>driver test</caption>"
    "<depth>32</depth><fullscreen>0</fullscreen><halign>1</halign><valign>1</valign></window>"
    "<viewport><width>16</width><height>10</height></viewport>"
    "<audio><enabled>1</enabled><okkie>1</okkie></audio></config>";

std::vector<uint8_t> make_pack() {
    std::vector<std::vector<uint8_t>> entries;
    uint8_t palette[768] = {};
    for (int i = 0; i < 256; ++i)
        palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = uint8_t(i);
    for (int p = 0; p < 5; ++p) {
        std::vector<uint8_t> indices(4 * 4, uint8_t(40 * p));
        entries.push_back(encode_pcx_indexed(4, 4, indices.data(), palette));
    }
    entries.push_back(std::vector<uint8_t>(1000, 0x55));  // the music: the fake never decodes it
    return serialise_pack(entries);
}

size_t index_of(const std::vector<std::string>& calls, const std::string& prefix) {
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].rfind(prefix, 0) == 0) return i;
    return calls.size();
}

size_t count_of(const std::vector<std::string>& calls, const std::string& prefix) {
    return size_t(std::count_if(calls.begin(), calls.end(),
                                [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

struct Key {
    UINT message;
    WPARAM key;
    LPARAM lparam;
};

class Driver : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("demo-driver-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        old = fs::current_path();
        fs::current_path(dir);
        std::ofstream(dir / "config.xml") << kConfig;
        pack = make_pack();
        std::ofstream(dir / "blob.dat", std::ios::binary)
            .write(reinterpret_cast<const char*>(pack.data()), std::streamsize(pack.size()));
        fake_platform::reset();
        fake_audio::reset();
        // The timeline reads back where start put the music: kStartTicks.
        fake_audio::queue_positions({10691192});
        ResourcePack = ResourcePackRecord{};
        WindowContext = WindowContextRecord{};
    }
    void TearDown() override {
        fs::current_path(old);
        fs::remove_all(dir);
    }

    // Feeds the keys one per frame to whatever window is current then, and
    // Escape after the last, so the run always ends.
    void play(std::vector<Key> keys) {
        keys.push_back({WM_KEYDOWN, VK_ESCAPE, 0});
        size_t next = 0;
        fake_platform::on_call([&keys, &next](const std::string& call) {
            if (call.rfind("SwapBuffers", 0) == 0 && next < keys.size()) {
                fake_platform::post(WindowContext.window, keys[next].message, keys[next].key,
                                    keys[next].lparam);
                ++next;
            }
        });
        EXPECT_EQ(run_presentation(), 0);
    }

    fs::path dir, old;
    std::vector<uint8_t> pack;
};

TEST_F(Driver, StartsUpRunsAndShutsDownInOrder) {
    // Snapshots of the audio calls made when certain platform calls happen,
    // to check the order across the two layers.
    std::vector<std::string> audio_at_window, audio_at_cursor, audio_at_teardown;
    size_t swaps = 0;
    fake_platform::on_call([&](const std::string& call) {
        if (call.rfind("CreateWindowExA", 0) == 0) audio_at_window = fake_audio::calls();
        if (call == "ShowCursor(0)") audio_at_cursor = fake_audio::calls();
        if (call.rfind("wglDeleteContext", 0) == 0) audio_at_teardown = fake_audio::calls();
        if (call.rfind("SwapBuffers", 0) == 0 && ++swaps == 3)
            fake_platform::post(WindowContext.window, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(run_presentation(), 0);

    const auto& calls = fake_platform::calls();
    EXPECT_LT(index_of(calls, "RegisterClassA"), index_of(calls, "ShowCursor(0)"));
    EXPECT_LT(index_of(calls, "ShowCursor(0)"), index_of(calls, "SwapBuffers"));
    EXPECT_LT(index_of(calls, "SwapBuffers"), index_of(calls, "wglDeleteContext"));
    EXPECT_EQ(count_of(calls, "ShowCursor"), 1u);
    EXPECT_EQ(count_of(calls, "CreateWindowExA"), 1u);
    // Three frames, each right after a pass that found the queue empty.
    EXPECT_EQ(count_of(calls, "SwapBuffers"), 3u);

    // The output is prepared before the pack is read and the window made; the music set-up
    // comes after the window and before the cursor; start comes after the
    // cursor; stop and release after the window is gone.
    EXPECT_EQ(audio_at_window, std::vector<std::string>{"audio_library_prepare_output()"});
    std::vector<std::string> setup = {"audio_library_prepare_output()", "BASS_GetVersion()",
                                      "BASS_Init(-1,44100,0,256,NULL)",
                                      "BASS_StreamCreateFile(1,&,0,1000,131072)"};
    EXPECT_EQ(audio_at_cursor, setup);
    EXPECT_EQ(count_of(audio_at_teardown, "BASS_ChannelStop"), 0u);
    const auto& audio = fake_audio::calls();
    EXPECT_EQ(audio[4], "BASS_ChannelPlay(4097,0)");
    EXPECT_EQ(audio[5], "BASS_ChannelSetPosition(4097,10691192)");
    // Stop and release after the window; the library's end last of all, after
    // the write-back.
    const std::vector<std::string> last(audio.end() - 3, audio.end());
    EXPECT_EQ(last, (std::vector<std::string>{"BASS_ChannelStop(4097)", "BASS_StreamFree(4097)",
                                              "audio_library_end()"}));
    EXPECT_EQ(TimelinePosition, kStartTicks);

    // The console from the settings to the write-back; the pack is written
    // last and is the file that was read.
    const std::string& console = fake_platform::console();
    EXPECT_EQ(console.rfind("window : 800 x 600 : 32b \n", 0), 0u);
    EXPECT_NE(console.find(" len 890882   io are go!\n[pcx img: 4x4 24]\n"), std::string::npos);
    EXPECT_NE(console.find("BASS.DLL == 2.3.0.0 \n"), std::string::npos);
    std::string tail =
        "io are out! " + std::to_string(pack.size() - 8 - 6 * 8) + " bytes read in 6 files,\n";
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail);
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_EQ(read_file(dir / "blob.dat"), pack);
}

TEST_F(Driver, ASettingsFailureEndsBeforeAnythingIsMade) {
    fs::remove(dir / "config.xml");
    EXPECT_EQ(run_presentation(), 0);
    ASSERT_EQ(fake_platform::boxes().size(), 2u);
    EXPECT_EQ(fake_platform::boxes()[0],
              "an xml errors occured FILE `config.xml` is missing or not readable :(\n ");
    EXPECT_EQ(fake_platform::boxes()[1], kFarewell);
    EXPECT_EQ(count_of(fake_platform::calls(), "CreateWindowExA"), 0u);
    EXPECT_EQ(fake_platform::console().find("io are go!"), std::string::npos);
    EXPECT_TRUE(fake_audio::calls().empty());
    EXPECT_EQ(read_file(dir / "blob.dat"), pack);
}

TEST_F(Driver, AnUnreadablePackEndsBeforeAnyWindowAndIsLeftAlone) {
    std::vector<uint8_t> truncated(pack.begin(), pack.begin() + 20);
    std::ofstream(dir / "blob.dat", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(truncated.data()), std::streamsize(truncated.size()));
    EXPECT_EQ(run_presentation(), 0);
    ASSERT_EQ(fake_platform::boxes().size(), 2u);
    EXPECT_NE(fake_platform::boxes()[0].find("blob.dat"), std::string::npos);
    EXPECT_EQ(fake_platform::boxes()[1], kFarewell);
    EXPECT_EQ(count_of(fake_platform::calls(), "CreateWindowExA"), 0u);
    // The output was asked to be prepared before the pack was read, and what
    // was prepared is ended; no time source was made.
    const std::vector<std::string> prepared_and_ended = {"audio_library_prepare_output()",
                                                         "audio_library_end()"};
    EXPECT_EQ(fake_audio::calls(), prepared_and_ended);
    EXPECT_EQ(read_file(dir / "blob.dat"), truncated);
}

TEST_F(Driver, AFailedFirstWindowEndsWithoutTimeSourceOrWriteBack) {
    fake_platform::fail("CreateWindowExA", 1400);
    EXPECT_EQ(run_presentation(), 0);
    std::vector<std::string> expected = {"CreateWindow() failed",
                                         "window creation failed \n exiting now -2", kFarewell};
    EXPECT_EQ(fake_platform::boxes(), expected);
    // The output was only prepared, and ended; no time source was made.
    EXPECT_EQ(fake_audio::calls(),
              (std::vector<std::string>{"audio_library_prepare_output()", "audio_library_end()"}));
    EXPECT_EQ(count_of(fake_platform::calls(), "ShowCursor"), 0u);
    EXPECT_NE(fake_platform::console().find("io are go!"), std::string::npos);
    EXPECT_EQ(fake_platform::console().find("io are out!"), std::string::npos);
    EXPECT_EQ(read_file(dir / "blob.dat"), pack);
}

TEST_F(Driver, F4TogglesOncePerPressAndArrowsSeekOnEveryRepeat) {
    const LPARAM repeat = KF_REPEAT_BIT;
    const LPARAM up = KF_REPEAT_BIT | KF_UP_BIT;
    play({
        {WM_KEYDOWN, VK_F4, 0},          // toggles to full screen
        {WM_KEYUP, VK_F4, up},           // nothing
        {WM_KEYDOWN, VK_F4, repeat},     // held: nothing
        {WM_KEYDOWN, VK_RIGHT, 0},       // +44100
        {WM_KEYDOWN, VK_RIGHT, repeat},  // +44100 again
        {WM_KEYUP, VK_RIGHT, up},        // nothing
        {WM_KEYDOWN, VK_LEFT, 0},        // -44100
        {WM_DESTROY, 0, 0},              // does not quit
        {WM_KEYDOWN, 'A', 0},            // other keys do nothing
    });
    const auto& calls = fake_platform::calls();
    EXPECT_EQ(count_of(calls, "CreateWindowExA"), 2u);
    EXPECT_EQ(Settings.fullscreen, 1);
    EXPECT_EQ(fake_platform::calls_named({"CreateWindowExA"})[1],
              "CreateWindowExA(0,VELKORANDIMUSTREPAX,F4 = toggle "
              "fullscreen,2147483648,0,0,800,600,0,0,16,NULL)");
    std::vector<std::string> seeks;
    for (const auto& c : fake_audio::calls())
        if (c.rfind("BASS_ChannelSetPosition", 0) == 0) seeks.push_back(c);
    std::vector<std::string> expected = {"BASS_ChannelSetPosition(4097,10691192)",  // start
                                         "BASS_ChannelSetPosition(4097,10735292)",
                                         "BASS_ChannelSetPosition(4097,10735292)",
                                         "BASS_ChannelSetPosition(4097,10647092)"};
    EXPECT_EQ(seeks, expected);
    // The F4 key-down goes on to default processing with the handle of the
    // window the toggle has just destroyed.
    EXPECT_EQ(count_of(calls, "DefWindowProcA(256,256,115,0)"), 1u);
    EXPECT_FALSE(fake_platform::window(0x100)->alive);
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_EQ(read_file(dir / "blob.dat"), pack);
}

TEST_F(Driver, EscapeKeyUpAloneQuits) {
    play({{WM_KEYUP, VK_ESCAPE, KF_REPEAT_BIT | KF_UP_BIT}, {WM_KEYDOWN, 'B', 0}});
    // Quit came from the key-up: the 'B' after it was never delivered.
    EXPECT_EQ(count_of(fake_platform::calls(), "DispatchMessageA"), 1u);
    EXPECT_NE(fake_platform::console().find("io are out!"), std::string::npos);
}

TEST_F(Driver, AltF4ClosesThroughDefaultProcessingWithoutToggling) {
    play({{WM_SYSKEYDOWN, VK_F4, KF_ALTDOWN_BIT}, {WM_KEYDOWN, 'B', 0}});
    EXPECT_EQ(count_of(fake_platform::calls(), "CreateWindowExA"), 1u);
    EXPECT_EQ(count_of(fake_platform::calls(), "PostQuitMessage"), 1u);
    // The close request was handled by the window procedure, not by default
    // processing: the window lived on until the orderly teardown.
    EXPECT_EQ(count_of(fake_platform::calls(), "DestroyWindow"), 1u);
    EXPECT_EQ(read_file(dir / "blob.dat"), pack);
}

TEST_F(Driver, CloseReturnsZeroWithoutDefaultProcessing) {
    EXPECT_EQ(window_proc(0x100, WM_CLOSE, 0, 0), 0);
    std::vector<std::string> expected = {"PostQuitMessage(0)"};
    EXPECT_EQ(fake_platform::calls(), expected);
}

TEST_F(Driver, AFailedToggleEndsTheRunAndStillWritesThePack) {
    size_t swaps = 0;
    fake_platform::on_call([&](const std::string& call) {
        if (call.rfind("SwapBuffers", 0) == 0 && ++swaps == 2) {
            fake_platform::fail("CreateWindowExA", 1400);
            fake_platform::post(WindowContext.window, WM_KEYDOWN, VK_F4, 0);
        }
    });
    EXPECT_EQ(run_presentation(), 0);
    // The shutdown's teardown finds nothing left to release and says nothing.
    std::vector<std::string> expected = {"CreateWindow() failed",
                                         "window creation failed \n exiting now -2"};
    EXPECT_EQ(fake_platform::boxes(), expected);
    EXPECT_EQ(swaps, 2u);  // no frame after the failure
    EXPECT_NE(fake_platform::console().find("io are out!"), std::string::npos);
    EXPECT_EQ(read_file(dir / "blob.dat"), pack);
}

}  // namespace

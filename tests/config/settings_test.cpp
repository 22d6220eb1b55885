#include "config/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "fakes/platform_fake.h"
#include "markup/markup.h"
#include "markup/markup_query.h"

namespace {

namespace fs = std::filesystem;

const std::string kGoodConfig =
    "<config>\n"
    "  <window>\n"
    "    <width>800</width>\n"
    "    <height>600</height>\n"
    "    <caption>A caption</caption>\n"
    "    <depth>32</depth>\n"
    "    <fullscreen>0</fullscreen>\n"
    "    <halign>1</halign>\n"
    "    <valign>1</valign>\n"
    "  </window>\n"
    "  <viewport><width>16</width><height>10</height></viewport>\n"
    "  <audio><enabled>1</enabled><okkie>1</okkie></audio>\n"
    "</config>\n";

const std::string kGoodConsole =
    "window : 800 x 600 : 32b \n"
    "area : 800 x 500 \n"
    " ALIGNment:1,1 \n"
    " len 890867  len 891049  len 890882   ";

// The good file with some of its text replaced.
std::string config_with(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::string text = kGoodConfig;
    for (const auto& [from, to] : changes) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
}

// Each case runs in a fresh temporary folder holding its config.xml, so the
// messages carry the short relative path the program itself uses.
class SettingsLoad : public ::testing::Test {
protected:
    fs::path dir;
    fs::path previous;

    // The loader runs once per process and never empties the document before
    // parsing, so every load in a test starts from a fresh state.
    static void fresh() {
        markup_reset();
        ErrorList = {};
        fake_platform::reset();
    }

    void SetUp() override {
        fresh();
        previous = fs::current_path();
        dir = fs::temp_directory_path() / ("settings_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(dir);
    }

    int load(const std::string& text) {
        std::ofstream("config.xml", std::ios::binary) << text;
        return load_settings("config.xml");
    }
    static const std::vector<std::string>& boxes() { return fake_platform::boxes(); }
};

TEST_F(SettingsLoad, AGoodFileFillsTheRecordsAndNotesThemExactly) {
    ASSERT_EQ(load(kGoodConfig), 0);
    EXPECT_EQ(fake_platform::console(), kGoodConsole);
    EXPECT_TRUE(boxes().empty());

    EXPECT_EQ(Settings.window_width, 800);
    EXPECT_EQ(Settings.window_height, 600);
    EXPECT_EQ(Settings.depth, 32);
    EXPECT_EQ(Settings.fullscreen, 0);
    EXPECT_EQ(Settings.audio_enabled, 1);
    EXPECT_EQ(Settings.okkie, 1);
    EXPECT_EQ(Settings.halign, 1);
    EXPECT_EQ(Settings.valign, 1);
    EXPECT_EQ(DisplayArea.area_width, 800);
    EXPECT_EQ(DisplayArea.area_height, 500);
    // The caption was copied out before the document was replaced.
    EXPECT_STREQ(Settings.caption, "A caption");

    // The document now holds the timeline: one channel of eleven parts.
    EXPECT_EQ(markup_query_int("channel>part<10>offset"), 8024957);
    EXPECT_EQ(markup_query_int("channel>part<0>offset"), 0);
    EXPECT_EQ(ErrorList.count, 0);
}

TEST_F(SettingsLoad, TheShippedConfigLoads) {
    const char* source = std::getenv("TEST_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "ctest sets TEST_SOURCE_DIR to the source tree";
    std::string path = (fs::path(source) / "assets" / "config.xml").string();
    ASSERT_EQ(load_settings(path.c_str()), 0);
    EXPECT_EQ(fake_platform::console(), kGoodConsole);
    EXPECT_TRUE(boxes().empty());
    EXPECT_STREQ(Settings.caption, "Velkorandi - press F4 for full screen, Esc to quit");
    EXPECT_EQ(Settings.fullscreen, 0);
    EXPECT_EQ(Settings.audio_enabled, 1);
    EXPECT_EQ(Settings.okkie, 1);
}

TEST_F(SettingsLoad, ValuesAreClampedNeverRefused) {
    ASSERT_EQ(load(config_with({{"<width>800", "<width>100"},
                                {"<height>600", "<height>5000"},
                                {"<depth>32", "<depth>0"},
                                {"<fullscreen>0", "<fullscreen>5"},
                                {"<halign>1", "<halign>-3"},
                                {"<valign>1", "<valign>7"},
                                {"<enabled>1", "<enabled>-1"},
                                {"<okkie>1", "<okkie>2"}})),
              0);
    EXPECT_EQ(Settings.window_width, 320);
    EXPECT_EQ(Settings.window_height, 2400);
    EXPECT_EQ(Settings.depth, 1);
    EXPECT_EQ(Settings.fullscreen, 1);
    EXPECT_EQ(Settings.halign, 0);
    EXPECT_EQ(Settings.valign, 2);
    EXPECT_EQ(Settings.audio_enabled, 0);
    EXPECT_EQ(Settings.okkie, 1);

    // Text that is not a number converts as atoi/atof do, silently.
    fresh();
    ASSERT_EQ(load(config_with({{"<width>800", "<width>wide"},
                                {"<height>600", "<height>600px"},
                                {"<depth>32", "<depth>200"},
                                {"<width>16", "<width>abc"},
                                {"<height>10", "<height>0"}})),
              0);
    EXPECT_EQ(Settings.window_width, 320);
    EXPECT_EQ(Settings.window_height, 600);
    EXPECT_EQ(Settings.depth, 128);
    // Both viewport values became 0.0625: a square area.
    EXPECT_EQ(DisplayArea.area_width, 320);
    EXPECT_EQ(DisplayArea.area_height, 320);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(fake_platform::console(),
              "window : 320 x 600 : 128b \narea : 320 x 320 \n ALIGNment:1,1 \n"
              " len 890867  len 891049  len 890882   ");

    // The largest width, and a caption as long as a token can be.
    fresh();
    std::string caption(254, 'c');
    ASSERT_EQ(load(config_with({{"<width>800", "<width>5000"}, {"A caption", caption}})), 0);
    EXPECT_EQ(Settings.window_width, 3200);
    EXPECT_EQ(std::string(Settings.caption), caption);

    // Quote marks stay in the caption.
    fresh();
    ASSERT_EQ(load(config_with({{"A caption", "'x < y'"}})), 0);
    EXPECT_STREQ(Settings.caption, "'x < y'");
}

// What a hostile or careless config.xml holds, and what it must give: values
// that load (saturated, clamped, passed on unchanged), and files that are
// refused with boxes that say what was wrong and where.
TEST_F(SettingsLoad, HostileFilesLoadSafelyOrSayWhatIsWrong) {
    const std::string huge = "99999999999999999999";
    const std::string dash = "Velkorandi \xE2\x80\x93 F4 \xF0\x9F\x8E\xB5 \xE9\xFF";
    auto repeated = [](const std::string& piece, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += piece;
        return out;
    };
    std::string distinct;  // eight different texts of 250 characters
    for (char c = 'a'; c < 'a' + 8; ++c) distinct += "<x>" + std::string(250, c) + "</x>";

    struct Loaded {
        const char* what;
        std::vector<std::pair<std::string, std::string>> changes;
        int width, height, depth, halign, valign, area_width, area_height;
    };
    const std::vector<Loaded> loaded = {
        {"beyond 32 bits, positive",
         {{"<width>800", "<width>" + huge},
          {"<halign>1", "<halign>" + huge},
          {"<depth>32", "<depth>4294967297"}},
         3200,
         600,
         128,
         2,
         1,
         960,
         600},
        {"beyond 32 bits, negative",
         {{"<height>600", "<height>-" + huge}, {"<valign>1", "<valign>-" + huge}},
         800,
         240,
         32,
         1,
         0,
         384,
         240},
        {"viewport 65536:16",
         {{"<width>16", "<width>65536"}, {"<height>10", "<height>16"}},
         800,
         600,
         32,
         1,
         1,
         800,
         1},
        {"viewport 16:inf", {{"<height>10", "<height>inf"}}, 800, 600, 32, 1, 1, 1, 600},
    };
    for (const Loaded& c : loaded) {
        SCOPED_TRACE(c.what);
        fresh();
        ASSERT_EQ(load(config_with(c.changes)), 0);
        EXPECT_TRUE(boxes().empty());
        EXPECT_EQ(Settings.window_width, c.width);
        EXPECT_EQ(Settings.window_height, c.height);
        EXPECT_EQ(Settings.depth, c.depth);
        EXPECT_EQ(Settings.halign, c.halign);
        EXPECT_EQ(Settings.valign, c.valign);
        EXPECT_EQ(DisplayArea.area_width, c.area_width);
        EXPECT_EQ(DisplayArea.area_height, c.area_height);
    }

    // A caption is passed on byte for byte, whatever its encoding.
    fresh();
    ASSERT_EQ(load(config_with({{"A caption", dash}})), 0);
    EXPECT_EQ(std::string(Settings.caption), dash);

    const std::string parse_failed = "1.parsing `config.xml` failed";
    struct Refused {
        const char* what;
        std::string text;
        int result;
        std::string box;
    };
    const std::vector<Refused> refused = {
        {"a run of 255 characters", config_with({{"A caption", std::string(255, 'c')}}), -1,
         "fatal:\n0.a run of over 254 characters on line 5\n" + parse_failed},
        {"about 200 elements",
         config_with({{"<viewport>", repeated("<x>1</x>", 120) + "<viewport>"}}), -1,
         "fatal:\n0.more than 253 elements and texts on line 11\n" + parse_failed},
        {"300 nested tags",
         config_with({{"<depth>32</depth>", repeated("<n>", 300) + repeated("</n>", 300)}}), -1,
         "fatal:\n0.more than 253 elements and texts on line 6\n" + parse_failed},
        {"texts beyond the pool", config_with({{"<viewport>", distinct + "<viewport>"}}), -1,
         "fatal:\n0.names and texts over 2048 bytes on line 11\n" + parse_failed},
        {"empty caption", config_with({{"A caption", ""}}), -2,
         "fatal in xml\nerror: node `CAPTION[0]` is empty "},
        {"blank depth", config_with({{"<depth>32", "<depth> \t "}}), -2,
         "fatal in xml\nerror: node `DEPTH[0]` is empty "},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(c.what);
        fresh();
        EXPECT_EQ(load(c.text), c.result);
        EXPECT_EQ(boxes(), std::vector<std::string>{c.box});
        EXPECT_EQ(ErrorList.count, 0);
    }

    // A folder where the file should be.
    fresh();
    fs::remove("config.xml");
    fs::create_directory("config.xml");
    EXPECT_EQ(load_settings("config.xml"), -1);
    EXPECT_EQ(boxes(), std::vector<std::string>{
                           "an xml errors occured fread(..) failure?? `config.xml` is a folder "});
}

TEST(SettingsClamp, BoundsAndNaN) {
    EXPECT_EQ(clamp_int(0, 2, -1), 0);
    EXPECT_EQ(clamp_int(0, 2, 0), 0);
    EXPECT_EQ(clamp_int(0, 2, 2), 2);
    EXPECT_EQ(clamp_int(0, 2, 3), 2);
    EXPECT_EQ(clamp_int(320, 3200, INT32_MIN), 320);
    EXPECT_EQ(clamp_int(320, 3200, INT32_MAX), 3200);

    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(clamp_real(0.0625, 65536.0, std::nan("")), 0.0625);
    EXPECT_EQ(clamp_real(0.0625, 65536.0, -inf), 0.0625);
    EXPECT_EQ(clamp_real(0.0625, 65536.0, inf), 65536.0);
    EXPECT_EQ(clamp_real(0.0625, 65536.0, 0.0625), 0.0625);
    EXPECT_EQ(clamp_real(0.0625, 65536.0, 0.0), 0.0625);
    EXPECT_EQ(clamp_real(0.0625, 65536.0, 16.5), 16.5);
}

TEST(SettingsLetterbox, LargestAreaOfTheViewportAspect) {
    auto area = [](int w, int h, double vw, double vh) {
        DisplayAreaRecord a = letterbox_area(w, h, vw, vh);
        return std::to_string(a.area_width) + "x" + std::to_string(a.area_height);
    };
    EXPECT_EQ(area(800, 600, 16, 10), "800x500");
    EXPECT_EQ(area(800, 600, 4, 3), "800x600");  // f == H takes the height branch
    EXPECT_EQ(area(800, 600, 1, 1), "600x600");
    EXPECT_EQ(area(1024, 768, 16, 9), "1024x576");
    // The short side never truncates below one pixel.
    EXPECT_EQ(area(800, 600, 0.0625, 65536), "1x600");
    EXPECT_EQ(area(800, 600, 65536, 0.0625), "800x1");
    EXPECT_EQ(area(320, 240, 65536, 16), "320x1");
    EXPECT_EQ(area(3200, 240, 16, 65536), "1x240");
    EXPECT_EQ(area(800, 600, 3, 1), "800x266");  // truncated, not rounded
    EXPECT_EQ(area(800, 600, 4, 3.5), "685x600");
}

TEST_F(SettingsLoad, TheLetterboxIsWorkedOutFromTheFile) {
    ASSERT_EQ(load(config_with({{"<width>800", "<width>1024"},
                                {"<height>600", "<height>768"},
                                {"<height>10", "<height>9"}})),
              0);
    EXPECT_EQ(DisplayArea.area_width, 1024);
    EXPECT_EQ(DisplayArea.area_height, 576);
    EXPECT_EQ(fake_platform::console(),
              "window : 1024 x 768 : 32b \narea : 1024 x 576 \n ALIGNment:1,1 \n"
              " len 890867  len 891049  len 890882   ");
}

TEST_F(SettingsLoad, FilesThatDoNotParseShowTheirBoxes) {
    // Missing: one box.
    EXPECT_EQ(load_settings("absent.xml"), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0],
              "an xml errors occured FILE `absent.xml` is missing or not readable :(\n ");
    EXPECT_EQ(fake_platform::box_captions()[0], "error");

    // An element left open, and a token too long.
    fresh();
    EXPECT_EQ(load("<config><window>"), -1);
    EXPECT_EQ(load("<config>" + std::string(255, 'x') + "</config>"), -1);
    EXPECT_EQ(
        boxes(),
        (std::vector<std::string>{
            "an xml errors occured parsing `config.xml` failed ",
            "fatal:\n0.a run of over 254 characters on line 1\n1.parsing `config.xml` failed"}));

    // A closer without opener: both messages in one box, the line's first.
    fresh();
    EXPECT_EQ(load("<config>\n<window>\n</config>\n"), -1);
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{
                  "fatal:\n0.no opener for </CONFIG> on line 3\n1.parsing `config.xml` failed"}));

    // Unreadable: a folder of that name.
    fresh();
    fs::create_directory("folder.xml");
    EXPECT_EQ(load_settings("folder.xml"), -1);
    EXPECT_EQ(boxes(), (std::vector<std::string>{
                           "an xml errors occured fread(..) failure?? `folder.xml` is a folder "}));

    // Each message was drained, nothing reached the console.
    EXPECT_EQ(ErrorList.count, 0);
    EXPECT_TRUE(fake_platform::console().empty());
}

TEST_F(SettingsLoad, AnOlderMessageChangesWhichBoxesShow) {
    // With one message already waiting, a mismatch leaves three: the newest is
    // shown alone, and the remaining two together.
    error_push("earlier trouble");
    EXPECT_EQ(load("</config>"), -1);
    EXPECT_EQ(boxes(), (std::vector<std::string>{
                           "an xml errors occured parsing `config.xml` failed ",
                           "fatal:\n0.earlier trouble1.no opener for </CONFIG> on line 1\n"}));
    EXPECT_EQ(ErrorList.count, 0);
}

TEST_F(SettingsLoad, MissingOrEmptyValuesShowTheLastFailure) {
    EXPECT_EQ(load(config_with({{"<okkie>1</okkie>", ""}})), -2);
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{"fatal in xml\nerror: node `OKKIE[0]` not found "}));
    EXPECT_TRUE(fake_platform::console().empty());

    // Two missing: only the later in reading order is shown; the values read
    // meanwhile are stored, clamped.
    fresh();
    EXPECT_EQ(load(config_with({{"<caption>A caption</caption>", ""},
                                {"<okkie>1</okkie>", ""},
                                {"<depth>32", "<depth>999"}})),
              -2);
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{"fatal in xml\nerror: node `OKKIE[0]` not found "}));
    EXPECT_EQ(Settings.caption[0], '\0');
    EXPECT_EQ(Settings.depth, 128);
    EXPECT_EQ(Settings.valign, 1);

    // An empty element is named as a missing one is.
    fresh();
    EXPECT_EQ(load(config_with({{"<height>600</height>", "<height></height>"}})), -2);
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{"fatal in xml\nerror: node `HEIGHT[0]` is empty "}));

    // Without the audio section both of its reads fail at their first step.
    fresh();
    EXPECT_EQ(load(config_with({{"<audio><enabled>1</enabled><okkie>1</okkie></audio>", ""}})), -2);
    EXPECT_EQ(boxes(),
              (std::vector<std::string>{"fatal in xml\nerror: node `AUDIO[0]` not found "}));
}

}  // namespace

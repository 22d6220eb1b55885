#include "config/settings.h"

#include <algorithm>
#include <cstring>

#include "markup/markup.h"
#include "markup/markup_query.h"
#include "platform/diagnostics.h"

// Until load_settings overwrites them, the records hold the values of the
// default configuration.
SettingsRecord Settings = {800, 600, {}, 32, 0, 0, 0, 1, 1};
DisplayAreaRecord DisplayArea = {800, 500};
ViewportRecord Viewport = {16.0, 10.0};

namespace {

// Where each section of the music starts, in ticks: one channel of eleven
// parts, offsets right-aligned in seven characters. Kept as it is although
// it is parsed only to print three lengths: stored logs and users' scripts
// read those " len " notes.
constexpr char kTimelineDocument[] =
    "<channel>"
    "<part><offset>      0</offset></part>"
    "<part><offset>   7308</offset></part>"
    "<part><offset> 898175</offset></part>"
    "<part><offset>1789224</offset></part>"
    "<part><offset>2680106</offset></part>"
    "<part><offset>3570816</offset></part>"
    "<part><offset>4461864</offset></part>"
    "<part><offset>5352074</offset></part>"
    "<part><offset>6243348</offset></part>"
    "<part><offset>7134350</offset></part>"
    "<part><offset>8024957</offset></part>"
    "</channel>";
constexpr uint32_t kTimelineLength = 426;
static_assert(sizeof kTimelineDocument == kTimelineLength + 1);

constexpr size_t kCaptionLimit = sizeof Settings.caption - 1;  // 254 characters

// Reports a file that did not parse. The reader leaves one message, or two
// when a closing tag had no opener (the tag's line, then the file); two are
// shown together, earlier first.
int report_parse_failure() {
    if (ErrorList.count != 2) {
        const char* message = error_pop();
        ErrorBox("an xml errors occured %s ", message != nullptr ? message : "");
        if (ErrorList.count != 2) return -1;
    }
    const char* later = error_pop();
    const char* earlier = error_pop();
    ErrorBox("fatal:\n0.%s1.%s", earlier, later);
    return -1;
}

void copy_caption(const char* text) {
    size_t n = 0;
    if (text != nullptr)
        while (n < kCaptionLimit && text[n] != '\0') {
            Settings.caption[n] = text[n];
            ++n;
        }
    Settings.caption[n] = '\0';
}

// Differences of section starts; wrapping instead of overflowing whatever
// the document held.
int32_t offset_difference(const char* later, const char* earlier) {
    uint32_t minuend = static_cast<uint32_t>(markup_query_int(later));
    uint32_t subtrahend = static_cast<uint32_t>(markup_query_int(earlier));
    return static_cast<int32_t>(minuend - subtrahend);
}

}  // namespace

int32_t clamp_int(int32_t lower, int32_t upper, int32_t value) {
    if (value < lower) return lower;
    if (value > upper) return upper;
    return value;
}

double clamp_real(double lower, double upper, double value) {
    if (!(value >= lower)) return lower;
    if (value > upper) return upper;
    return value;
}

DisplayAreaRecord letterbox_area(int32_t window_width, int32_t window_height, double viewport_width,
                                 double viewport_height) {
    // Multiplied before dividing, in double precision; an exact fit (800 x 600
    // at 4:3 gives f == 600) takes the height branch. The short side is at
    // least one pixel: an extreme aspect (65536:1/16) would truncate it to 0,
    // and a drawing area without pixels leaves nothing to draw into.
    double f = window_width * viewport_height / viewport_width;
    if (f < window_height) return {window_width, std::max(1, static_cast<int32_t>(f))};
    // Here f >= height, so this side is at most window_width: the cast fits.
    return {std::max(1, static_cast<int32_t>(window_height * viewport_width / viewport_height)),
            window_height};
}

int load_settings(const char* path) {
    if (markup_parse_file(path) != 0) return report_parse_failure();

    Settings.window_width = clamp_int(320, 3200, markup_query_int("config>window>width"));
    Settings.window_height = clamp_int(240, 2400, markup_query_int("config>window>height"));
    copy_caption(markup_query("config>window>caption"));
    Settings.depth = clamp_int(1, 128, markup_query_int("config>window>depth"));
    double viewport_width = clamp_real(0.0625, 65536.0, markup_query_real("config>viewport>width"));
    double viewport_height =
        clamp_real(0.0625, 65536.0, markup_query_real("config>viewport>height"));
    Viewport = ViewportRecord{viewport_width, viewport_height};
    DisplayArea = letterbox_area(Settings.window_width, Settings.window_height, viewport_width,
                                 viewport_height);
    Settings.fullscreen = clamp_int(0, 1, markup_query_int("config>window>fullscreen"));
    Settings.audio_enabled = clamp_int(0, 1, markup_query_int("config>audio>enabled"));
    Settings.okkie = clamp_int(0, 1, markup_query_int("config>audio>okkie"));
    Settings.halign = clamp_int(0, 2, markup_query_int("config<0>window>halign"));
    Settings.valign = clamp_int(0, 2, markup_query_int("config<0>window>valign"));

    // Only the last failure is shown: the last missing value in reading order.
    if (ErrorList.count != 0) {
        const char* message = error_pop();
        ErrorBox("fatal in xml\nerror: %s ", message != nullptr ? message : "");
        return -2;
    }

    ConsoleLine("window : %i x %i : %ib \n", Settings.window_width, Settings.window_height,
                Settings.depth);
    ConsoleLine("area : %i x %i \n", DisplayArea.area_width, DisplayArea.area_height);
    ConsoleLine(" ALIGNment:%i,%i \n", Settings.halign, Settings.valign);

    // The tokeniser upper-cases names in place, so it gets a writable copy.
    char timeline[kTimelineLength + 1];
    std::memcpy(timeline, kTimelineDocument, sizeof timeline);
    markup_reset();
    markup_parse_text(kTimelineLength, timeline);

    // These notes carry no line end: they run on as one line.
    ConsoleLine(" len %i ", offset_difference("channel>part<2>offset", "channel>part<1>offset"));
    ConsoleLine(" len %i ", offset_difference("channel>part<3>offset", "channel>part<2>offset"));
    ConsoleLine(" len %i ", offset_difference("channel>part<4>offset", "channel>part<3>offset"));
    ConsoleLine(" %s ", error_first_slot());
    return 0;
}

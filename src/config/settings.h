// The settings read from config.xml, clamped into their ranges, and the
// letterboxed drawing area worked out from them.
#pragma once

#include <cstdint>

struct SettingsRecord {
    int32_t window_width;   // 320..3200, client width in pixels
    int32_t window_height;  // 240..2400, client height in pixels
    char caption[255];      // window title; empty means none given
    int32_t depth;          // 1..128, colour bits per pixel
    int32_t fullscreen;     // 0 windowed, 1 full screen; flipped by F4
    int32_t audio_enabled;  // 0..1
    int32_t okkie;          // 0..1, 1 lets the music play to its end
    int32_t halign;         // 0 near edge, 1 centred, 2 far edge
    int32_t valign;
};

struct DisplayAreaRecord {
    int32_t area_width;
    int32_t area_height;
};

// The proportions the drawing area keeps (config>viewport, clamped), kept so
// that the area can be worked out again for a window of another size.
struct ViewportRecord {
    double width;
    double height;
};

extern SettingsRecord Settings;
extern DisplayAreaRecord DisplayArea;
extern ViewportRecord Viewport;

// 0 loaded; -1 the file did not parse; -2 a value was missing or empty.
// Failures are shown in error boxes; a good load notes the values on the
// console. Leaves the fixed timeline document in the markup document.
int load_settings(const char* path);

int32_t clamp_int(int32_t lower, int32_t upper, int32_t value);
// A NaN gives lower.
double clamp_real(double lower, double upper, double value);

// The largest rectangle of aspect viewport_width : viewport_height that fits a
// window_width x window_height window, each side truncated to whole pixels
// but never below one. The viewport values must already be clamped
// (positive, finite), and the window sides positive.
DisplayAreaRecord letterbox_area(int32_t window_width, int32_t window_height, double viewport_width,
                                 double viewport_height);

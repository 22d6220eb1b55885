// The presentation's fixed data: the unit its timeline counts in, where it
// starts in its music, the two moments that change it on the way, and the
// order of the resource pack's entries.
//
// None of this is a setting. The pictures' steps, the music and every
// blob.dat in use are made to these values, and stored captures and users'
// scripts count on them, so a different value would be a different
// presentation.
#pragma once

#include <cstdint>

// Timeline positions are counted in ticks: a tick is two bytes of the decoded
// 16-bit stereo music, so a sample frame is two ticks and a second is 88200.
// The scene's steps and the moments below are counted in ticks, so the unit
// is fixed with them.
constexpr uint32_t kTicksPerSampleFrame = 2;
constexpr uint32_t kTicksPerSecond = 88200;

// Where the presentation starts in its music, in sample frames (60.608 s in),
// and the same in ticks: step 582 of the pictures, where the music's main
// drop is made to begin.
constexpr int32_t kStartSampleFrame = 2672798;
constexpr uint32_t kStartTicks = kStartSampleFrame * kTicksPerSampleFrame;

// From this position on the mono overlay lies over the panel (6.105 s).
constexpr uint32_t kMonoOverlayFromTicks = 538500;
// From this position on the music is stopped unless the okkie setting is 1
// (6.107 s). A moment of its own, a hundred ticks after the mono overlay
// appears: the two are not to be merged.
constexpr uint32_t kMusicStopTicks = 538600;

// The resource pack's entries, in the order the program takes them: the
// texture set the five pictures first, then the time source the music. A pack
// stores no names, so an entry is what it is by its place alone.
enum PresentationEntry : uint32_t {
    kUpEntry = 0,
    kDownEntry = 1,
    kDemo2Entry = 2,
    kTrevakEntry = 3,
    kMonoEntry = 4,
    kMusicEntry = 5,
};
constexpr uint32_t kPictureEntries = 5;       // entries 0 to 4
constexpr uint32_t kPresentationEntries = 6;  // what a pack must hold at least

// The names the entries are taken under, by place. The first time through the
// pack hands out entries in order whatever the name; a second build of the
// textures, past the last entry, finds its pictures again by these names.
constexpr const char* kEntryNames[kPresentationEntries] = {
    "pool/up.pcx",     "pool/down.pcx", "pool/demo2.pcx",
    "pool/trevak.pcx", "pool/mono.pcx", "pool/trevak.mp3",
};

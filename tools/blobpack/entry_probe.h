// What a pack entry holds, as far as the presentation cares: a PCX picture
// its decoder handles, an MP3 that decodes, or something else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EntryKind { kPicture, kMusic, kUnknown };

struct EntryReport {
    EntryKind kind = EntryKind::kUnknown;
    std::string summary;                // one line for `list`
    std::vector<std::string> problems;  // why the presentation could not use it
    std::vector<std::string> warnings;  // usable, but worth knowing
    // Pictures.
    uint32_t width = 0, height = 0;
    int planes = 0;
    // Music.
    double seconds = 0;
    long rate = 0;
    int channels = 0;
};

// Looks at the bytes as a picture first (a PCX header is unmistakable),
// then as MP3.
EntryReport probe_entry(const std::vector<uint8_t>& bytes);
EntryReport probe_picture(const std::vector<uint8_t>& bytes);
EntryReport probe_music(const std::vector<uint8_t>& bytes);

bool is_power_of_two(uint32_t value);

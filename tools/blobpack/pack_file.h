// A pack file held whole in memory, for the tool. The format and its checks
// are the program's own (resources/pack_format.h); this adds what a tool
// that inspects packs wants: the entries' bytes and where each one lies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/pack_format.h"

struct PackFileEntry {
    uint32_t offset;        // as the directory says (not used to read)
    uint32_t actualOffset;  // where the entry really starts, counted from byte 4
    std::vector<uint8_t> bytes;
};

struct PackFile {
    uint32_t magic = 0;
    uint64_t fileSize = 0;
    uint64_t slack = 0;  // bytes between the last entry and the directory
    std::vector<PackFileEntry> entries;
};

// false with *error set ("PATH: problem") when the file cannot be read or is not a pack.
bool load_pack_file(const std::string& path, PackFile* pack, std::string* error);

bool read_whole_file(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

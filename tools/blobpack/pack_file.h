// A pack file held whole in memory, for the tool (the program's own reader,
// src/resources/pack, works on its global pack and reports in boxes).
// Loading applies the same checks as the program: at least 8 bytes, at most
// 32 entries, the directory and the entries inside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackFileEntry {
    uint32_t offset;            // as the directory says (not used to read)
    uint32_t actualOffset;      // where the entry really starts, from byte 4
    std::vector<uint8_t> bytes;
};

struct PackFile {
    uint32_t magic = 0;
    uint64_t fileSize = 0;
    uint64_t slack = 0;  // bytes between the last entry and the directory
    std::vector<PackFileEntry> entries;
};

// false with *error set when the file cannot be read or is not a pack.
bool load_pack_file(const std::string& path, PackFile* pack, std::string* error);

// The canonical layout: magic, entries, offsets from 0, count.
std::vector<uint8_t> serialise_pack(const std::vector<std::vector<uint8_t>>& entries);

// Writes bytes to a temporary file beside path, syncs it and renames it over
// path, so an existing file is either replaced whole or left alone.
bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error);

bool read_whole_file(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

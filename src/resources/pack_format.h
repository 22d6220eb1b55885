// The pack file format, read and written in one place: the program's pack,
// blobpack and every test that makes a pack go through here.
//
// Every number is an unsigned 32-bit little-endian word:
//   magic 0x66600999 | entry bytes back to back | N x (offset, size) | N
// The directory is found from the end of the file. Entries are located by
// their sizes alone, one after the other from byte 4: the stored offsets are
// reported but never used to read, so a pack whose writer got them wrong
// still reads.
//
// A pack is accepted only when its magic word, entries, directory and count
// account for every byte of the file. The program writes back exactly what it
// read, so a reader that believed a damaged count would cut the file down to
// the entries that count names: a count of 0 once turned a 5 MB pack into
// 8 bytes. Refusing such a file leaves it for the user to repair.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

constexpr uint32_t kPackMagic = 0x66600999u;
constexpr uint32_t kPackCapacity = 32;
// The magic word and the count: the smallest pack there is.
constexpr uint64_t kPackFrameBytes = 8;

struct PackIndexEntry {
    uint32_t stored_offset;  // as the directory says
    uint64_t start;          // where the entry really starts in the file
    uint32_t size;
};

struct PackIndex {
    uint32_t magic = 0;
    uint64_t file_size = 0;
    uint64_t directory_start = 0;
    uint64_t slack = 0;  // bytes between the last entry and the directory; 0 once accepted
    std::vector<PackIndexEntry> entries;
};

// Reads exactly size bytes at a file offset; false when it cannot.
using PackReadAt = std::function<bool(uint64_t at, uint8_t* out, uint64_t size)>;

// Indexes a pack of file_size bytes through read_at without reading its
// entries, so the caller decides where the entry bytes go. Every count and
// size is checked against the file's length before it is believed, and the
// file must hold nothing but the pack. On a refusal, *problem completes a
// sentence that starts with the file's name ("is truncated: ...", "looks
// truncated or damaged: ...", "is damaged: ...", "is not a pack: ...",
// "cannot be read: ...").
bool index_pack(uint64_t file_size, const PackReadAt& read_at, PackIndex* index,
                std::string* problem);

// The same for a pack held in memory.
bool index_pack(std::span<const uint8_t> file, PackIndex* index, std::string* problem);

// The directory and count that follow the entries, offsets counted from 0.
std::vector<uint8_t> pack_directory(std::span<const uint32_t> sizes);

// A whole pack in the canonical layout.
std::vector<uint8_t> serialise_pack(const std::vector<std::vector<uint8_t>>& entries);

void append_word(std::vector<uint8_t>& out, uint32_t value);
uint32_t word_at(const uint8_t* bytes);

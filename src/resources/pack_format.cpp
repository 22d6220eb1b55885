#include "resources/pack_format.h"

#include <cstdio>
#include <cstring>

void append_word(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t word_at(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

bool index_pack(uint64_t file_size, const PackReadAt& read_at, PackIndex* index,
                std::string* problem) {
    *index = PackIndex{};
    index->file_size = file_size;
    if (file_size < kPackFrameBytes) {
        *problem = "is truncated: " + std::to_string(file_size) +
                   " bytes, a pack has at least 8 (magic word and count)";
        return false;
    }
    uint8_t word[4];
    if (!read_at(file_size - 4, word, 4)) {
        *problem = "cannot be read: the entry count is unreadable";
        return false;
    }
    const uint32_t count = word_at(word);
    // A count past the capacity is no pack's: the file was cut short, or
    // grew, or its last word was overwritten, and the word read is whatever
    // lies there now. It is reported as the damage it is, not as a pack that
    // is too big.
    if (count > kPackCapacity) {
        *problem = "looks truncated or damaged: its last word, the entry count, reads " +
                   std::to_string(count) + " (a pack holds at most " +
                   std::to_string(kPackCapacity) + " entries)";
        return false;
    }
    const uint64_t directory = 8ull * count;
    if (kPackFrameBytes + directory > file_size) {
        *problem = "is truncated: its directory of " + std::to_string(count) + " entries needs " +
                   std::to_string(kPackFrameBytes + directory) + " bytes, the file has " +
                   std::to_string(file_size);
        return false;
    }
    index->directory_start = file_size - 4 - directory;

    std::vector<uint8_t> records(directory);
    if (!read_at(index->directory_start, records.data(), directory)) {
        *problem = "cannot be read: the directory is unreadable";
        return false;
    }
    uint64_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        PackIndexEntry entry{word_at(&records[8ull * i]), at, word_at(&records[8ull * i + 4])};
        index->entries.push_back(entry);
        at += entry.size;
    }
    const uint64_t room = index->directory_start - 4;
    if (at - 4 > room) {
        *problem = "is truncated: its entries need " + std::to_string(at - 4) + " bytes, only " +
                   std::to_string(room) + " lie between the magic word and the directory";
        return false;
    }
    index->slack = index->directory_start - at;
    if (index->slack != 0) {
        // Bytes no entry owns: the count or a size is wrong, and writing the
        // pack back from what was read would lose them.
        *problem = "is damaged: its magic word, " + std::to_string(count) + " entries of " +
                   std::to_string(at - 4) + " bytes, directory and count account for " +
                   std::to_string(file_size - index->slack) + " of its " +
                   std::to_string(file_size) + " bytes";
        return false;
    }
    if (!read_at(0, word, 4)) {
        *problem = "cannot be read: the magic word is unreadable";
        return false;
    }
    index->magic = word_at(word);
    // The layout alone can add up by chance for a file that is no pack at
    // all, and write-back replaces the whole file: the magic word is the one
    // positive sign that the file is ours to rewrite.
    if (index->magic != kPackMagic) {
        char found[11];
        std::snprintf(found, sizeof found, "0x%08x", index->magic);
        *problem = std::string("is not a pack: it starts with ") + found +
                   ", not the magic word 0x66600999";
        return false;
    }
    return true;
}

bool index_pack(std::span<const uint8_t> file, PackIndex* index, std::string* problem) {
    return index_pack(
        file.size(),
        [file](uint64_t at, uint8_t* out, uint64_t size) {
            if (at > file.size() || size > file.size() - at) return false;
            if (size) std::memcpy(out, file.data() + at, size);
            return true;
        },
        index, problem);
}

std::vector<uint8_t> pack_directory(std::span<const uint32_t> sizes) {
    std::vector<uint8_t> out;
    uint32_t offset = 0;
    for (uint32_t size : sizes) {
        append_word(out, offset);
        append_word(out, size);
        offset += size;
    }
    append_word(out, static_cast<uint32_t>(sizes.size()));
    return out;
}

std::vector<uint8_t> serialise_pack(const std::vector<std::vector<uint8_t>>& entries) {
    std::vector<uint8_t> out;
    append_word(out, kPackMagic);
    std::vector<uint32_t> sizes;
    for (const auto& entry : entries) {
        out.insert(out.end(), entry.begin(), entry.end());
        sizes.push_back(static_cast<uint32_t>(entry.size()));
    }
    std::vector<uint8_t> directory = pack_directory(sizes);
    out.insert(out.end(), directory.begin(), directory.end());
    return out;
}

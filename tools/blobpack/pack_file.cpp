#include "pack_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool read_whole_file(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = path + ": read error (is it a directory?)";
        return false;
    }
    return true;
}

bool load_pack_file(const std::string& path, PackFile* pack, std::string* error) {
    std::vector<uint8_t> b;
    if (!read_whole_file(path, &b, error)) return false;
    PackIndex index;
    std::string problem;
    if (!index_pack(b, &index, &problem)) {
        *error = path + " " + problem;
        return false;
    }
    *pack = PackFile{index.magic, index.file_size, index.slack, {}};
    for (const PackIndexEntry& e : index.entries) {
        auto first = b.begin() + static_cast<long>(e.start);
        pack->entries.push_back({e.stored_offset, static_cast<uint32_t>(e.start - 4),
                                 std::vector<uint8_t>(first, first + e.size)});
    }
    return true;
}

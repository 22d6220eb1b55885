// Small file utilities shared by the resource tests: a scratch folder that is
// removed afterwards, and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "resources-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path = made ? made : "";
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return (path / name).string(); }
};

inline void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void append_word(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A pack as write_pack lays it out: magic, entries, (offset, size) records, count.
inline Bytes make_pack(const std::vector<Bytes>& entries) {
    Bytes out;
    append_word(out, 0x66600999u);
    for (const Bytes& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
    uint32_t offset = 0;
    for (const Bytes& entry : entries) {
        append_word(out, offset);
        append_word(out, static_cast<uint32_t>(entry.size()));
        offset += static_cast<uint32_t>(entry.size());
    }
    append_word(out, static_cast<uint32_t>(entries.size()));
    return out;
}

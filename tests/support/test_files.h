// File helpers every test shares: a scratch folder that is removed
// afterwards, whole-file reads and writes, and packs made with the
// program's own pack codec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/pack_format.h"

using Bytes = std::vector<uint8_t>;

struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// The whole file, or nothing when it cannot be read.
Bytes read_file(const std::string& path);
std::string read_text(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);

// `mpg123 -q -s` of an MP3 file, the reference decoder (an independent build
// of the library the program decodes with): 16-bit samples in the file's own
// channels and rate; empty when the command fails.
std::vector<int16_t> reference_decode(const std::string& mp3_path);

// A pack as the program writes it: magic, entries, directory, count.
inline Bytes make_pack(const std::vector<Bytes>& entries) { return serialise_pack(entries); }

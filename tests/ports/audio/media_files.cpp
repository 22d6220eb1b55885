#include "media_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

std::string media_path(const std::string& name) { return std::string(AUDIO_MEDIA_DIR) + "/" + name + ".mp3"; }

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

std::vector<int16_t> reference_decode(const std::string& mp3_path) {
    std::string dir = scratch_dir("reference");
    std::string raw = dir + "/decoded.raw";
    std::string command = "mpg123 -q -s '" + mp3_path + "' > '" + raw + "'";
    std::vector<int16_t> samples;
    bool decoded = std::system(command.c_str()) == 0;
    std::vector<uint8_t> bytes = read_file(raw);
    std::filesystem::remove_all(dir);
    if (!decoded) return samples;
    samples.resize(bytes.size() / 2);  // host byte order, as the command writes it
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::string scratch_dir(const std::string& test_name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("audio-" + std::to_string(getpid()) + "-" + test_name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

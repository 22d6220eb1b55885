#include "support/test_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "demo-test-XXXXXX").string();
    const char* made = mkdtemp(pattern.data());
    path = made ? made : "";
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path) {
    Bytes bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<int16_t> reference_decode(const std::string& mp3_path) {
    ScratchDir dir;
    const std::string raw = dir.file("decoded.raw");
    const std::string command = "mpg123 -q -s '" + mp3_path + "' > '" + raw + "'";
    if (dir.path.empty() || std::system(command.c_str()) != 0) return {};
    const Bytes bytes = read_file(raw);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(bytes[i * 2] | (bytes[i * 2 + 1] << 8));
    }
    return samples;
}

#include "media_files.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

std::string media_path(const std::string& name) {
    return std::string(AUDIO_MEDIA_DIR) + "/" + name + ".mp3";
}

std::string scratch_dir(const std::string& test_name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("audio-" + std::to_string(getpid()) + "-" + test_name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// The test MP3 files made at build time, and reference decodes of them by the
// mpg123 command (an independent build of the same decoder library).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string media_path(const std::string& name);  // "tone70" -> .../tone70.mp3
std::vector<uint8_t> read_file(const std::string& path);
// `mpg123 -q -s` of the file: 16-bit samples in the file's own channels and
// rate; empty when the command fails.
std::vector<int16_t> reference_decode(const std::string& mp3_path);
// A fresh empty directory for one test's files; the test removes it.
std::string scratch_dir(const std::string& test_name);

// The test MP3 files made at build time; reference decodes and file reads
// come from the shared test helpers.
#pragma once

#include "support/test_files.h"

#include <cstdint>
#include <string>
#include <vector>

std::string media_path(const std::string& name);  // "tone70" -> .../tone70.mp3
// A fresh empty directory for one test's files; the test removes it.
std::string scratch_dir(const std::string& test_name);

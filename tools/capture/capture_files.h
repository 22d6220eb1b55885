// The files and folders a capture reads and writes.
#pragma once

#include <cstddef>
#include <string>

bool is_readable_file(const char* path);
// Makes dir and any missing parents; an existing folder is fine.
bool make_folder(const char* dir, char* error, size_t error_size);
// The folder part of a path ("." for a bare name).
std::string folder_of(const std::string& path);
// Makes an empty file with a hidden name beside final ("dir/.name.PID.part"),
// which no other run uses at the same time, and gives its name. false with
// the reason in error, e.g. when the folder cannot be written.
bool make_partial_file(const std::string& final, std::string* partial, char* error,
                       size_t error_size);

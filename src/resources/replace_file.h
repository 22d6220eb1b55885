// Replacing a file whole or not at all: the new content goes to a temporary
// file beside the old one ("NAME.tmp"), which is synced and then renamed over
// it, and the folder is synced so that the rename lasts too. Until the rename
// the old file is untouched; a failure at any step removes the temporary file.
//
// The pack's write-back streams its entries through it; blobpack writes whole
// buffers with replace_file_with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct FileReplacement {
    std::string path;  // the file to replace
    std::string temp;  // where the new content is written first
    int fd = -1;
    int error = 0;  // errno of the first failed step, 0 while all is well
};

// Creates the temporary file; false (with errno in error) when it cannot.
bool begin_replacement(const std::string& path, FileReplacement* replacement);
// Writes all of bytes, retrying short writes; returns how many were written
// (fewer than asked only on failure, with errno in error).
size_t write_replacement(FileReplacement* replacement, const void* bytes, size_t size);
// Syncs and closes the temporary file. False on failure; the temporary file
// is then removed.
bool finish_replacement(FileReplacement* replacement);
// Renames the finished temporary file over the file. False on failure; the
// temporary file is then removed.
bool commit_replacement(FileReplacement* replacement);
// Closes and removes the temporary file, leaving the file as it was.
void abandon_replacement(FileReplacement* replacement);

// All of the above for content held in memory; *error says what failed.
bool replace_file_with(const std::string& path, std::span<const uint8_t> bytes,
                       std::string* error);

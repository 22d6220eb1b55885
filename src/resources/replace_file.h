// Replacing a file whole or not at all: the new content goes to a temporary
// file beside the old one ("NAME.tmp"), which is synced and then renamed over
// it, and the folder is synced so that the rename lasts too. Until the rename
// the old file is untouched; a failure at any step removes the temporary file.
//
// The user's file is respected as it stands:
//   - a symbolic link is followed to the file it names, which is replaced in
//     its own folder (a rename is atomic only within one file system); the
//     link stays a link;
//   - the new file gets the old one's mode, and its owner and group where
//     the user may give them (as root; a group the user belongs to);
//   - a file the user may not write is not replaced, even though the folder
//     would allow the rename;
//   - only a regular file is replaced.
//
// The pack's write-back streams its entries through it; blobpack writes whole
// buffers with replace_file_with.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

enum class ReplacementStep {
    kNone,      // all is well so far
    kReadOnly,  // the file exists and the user may not write it
    kTarget,    // the file cannot be looked at or is not a regular file
    kCreate,    // the temporary file cannot be made ready
    kWrite,     // writing or syncing the temporary file failed
    kCommit,    // the rename failed
};

struct FileReplacement {
    std::string path;  // the file to replace: a symbolic link's final target
    std::string temp;  // where the new content is written first
    int fd = -1;
    int error = 0;  // errno of the first failed step, 0 while all is well
    ReplacementStep failed = ReplacementStep::kNone;
};

// Creates the temporary file; false (with errno in error and the step in
// failed) when the file must not or cannot be replaced.
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
bool replace_file_with(const std::string& path, std::span<const uint8_t> bytes, std::string* error);

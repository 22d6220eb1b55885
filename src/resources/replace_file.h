// Replacing a file whole or not at all: the new content goes to a temporary
// file beside the old one, which is synced and then renamed over it, and the
// folder is synced so that the rename lasts too. Until the rename the old
// file is untouched; a failure at any step removes the temporary file.
//
// Several writers may replace the same file at once (two instances of the
// program quitting together, blobpack rebuilding a pack a running program
// read):
//   - each temporary file has a name of its own (".NAME.XXXXXX", hidden,
//     created exclusively), so no writer ever writes into another's file and
//     an existing file of that name is never touched;
//   - the last step (comparing the file with what was read, then renaming)
//     runs under an advisory lock (flock) on the folder the file is renamed
//     in. The file itself cannot carry the lock: the rename replaces it, so a
//     writer that waited on it would then hold a lock on a file no longer in
//     place. The folder outlives every rename and needs no lock file left
//     beside the user's files. Where the folder cannot be locked (flock on
//     some network file systems) the comparison still runs, unlocked.
//
// The user's file is respected as it stands:
//   - a symbolic link is followed to the file it names, which is replaced in
//     its own folder (a rename is atomic only within one file system); the
//     link stays a link;
//   - the new file gets the old one's mode, and its owner and group where
//     the user may give them (as root; a group the user belongs to);
//   - a file the user may not write is not replaced, even though the folder
//     would allow the rename;
//   - only a regular file is replaced;
//   - given the identity of the file as it was read, a file that was put in
//     its place since then is kept (unless it already holds the new content,
//     in which case nothing is lost by leaving it).
//
// The pack's write-back streams its entries through it; blobpack writes whole
// buffers with replace_file_with.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

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
    kChanged,   // another file with other content took the file's place; it is kept
    kCommit,    // the rename failed
};

// Which file a path named when it was read. Device and inode change when the
// file is replaced by a rename; size, modification and status-change times
// change when it is written in place. The status-change time cannot be set
// by the user (as the modification time can, by cp -p or touch -r), so an
// in-place copy that keeps the old time and size still shows.
struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
};

FileIdentity identity_of(const struct stat& info);
bool same_identity(const FileIdentity& a, const FileIdentity& b);

struct FileReplacement {
    std::string path;  // the file to replace: a symbolic link's final target
    std::string temp;  // where the new content is written first; empty until made
    int fd = -1;
    int error = 0;  // errno of the first failed step, 0 while all is well
    ReplacementStep failed = ReplacementStep::kNone;
    // The commit found the file replaced by one that already holds the new
    // content, and left it.
    bool already_in_place = false;
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
// Renames the finished temporary file over the file, under the folder's lock.
// With read, only when the file is still the one read or is gone; a file that
// took its place is kept: silently when its content is the new content
// (already_in_place, true is returned), else with kChanged. False on failure;
// the temporary file is removed in every case but success.
bool commit_replacement(FileReplacement* replacement, const FileIdentity* read = nullptr);
// Closes and removes the temporary file, leaving the file as it was.
void abandon_replacement(FileReplacement* replacement);

// All of the above for content held in memory, replacing whatever file is
// there; *error says what failed.
bool replace_file_with(const std::string& path, std::span<const uint8_t> bytes, std::string* error);

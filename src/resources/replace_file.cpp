#include "resources/replace_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Links are followed at most this far, as the kernel does (ELOOP past it).
constexpr int kLinkHops = 40;

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes the rename durable too; a failure here only weakens durability.
void sync_folder_of(const std::string& path) {
    std::string dir = folder_of(path);
    if (dir.empty()) dir = ".";
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

bool fail(FileReplacement* r, ReplacementStep step) {
    if (r->error == 0) r->error = errno ? errno : EIO;
    if (r->failed == ReplacementStep::kNone) r->failed = step;
    return false;
}

bool fail_with(FileReplacement* r, ReplacementStep step, int error) {
    errno = error;
    return fail(r, step);
}

// The file a chain of symbolic links ends at, which need not exist yet. A
// relative link is read from the link's own folder.
bool final_target(const std::string& path, std::string* target) {
    std::string at = path;
    for (int hop = 0; hop <= kLinkHops; ++hop) {
        struct stat info;
        if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            *target = at;
            return true;
        }
        char link[PATH_MAX];
        ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
        if (n < 0) return false;
        link[n] = '\0';
        at = link[0] == '/' ? std::string(link) : folder_of(at) + link;
    }
    errno = ELOOP;
    return false;
}

// Whether the user may write the file. The kernel lets root write any file,
// but a file whose mode grants write access to nobody was made read-only on
// purpose, and root respects that here, as the kernel does for execute
// permission (root gets it only when some class has it). Anyone else gets
// the kernel's own answer for the effective user, which weighs the owner,
// group and other bits (and any access list) as they apply.
bool writable_by_user(const std::string& path, const struct stat& info) {
    if (geteuid() == 0) return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno != EACCES;
}

// Gives the new file the old one's owner, group and mode. Only the owner is
// optional: giving a file away needs privileges, and then the group alone is
// kept when the user belongs to it.
bool copy_attributes(int fd, const struct stat& old) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        if (errno != EPERM) return false;
        if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) return false;
    }
    return fchmod(fd, old.st_mode & 07777) == 0;
}

}  // namespace

bool begin_replacement(const std::string& path, FileReplacement* r) {
    *r = FileReplacement{path, path + ".tmp", -1, 0, ReplacementStep::kNone};
    if (!final_target(path, &r->path)) return fail(r, ReplacementStep::kTarget);
    r->temp = r->path + ".tmp";

    struct stat old;
    const bool exists = stat(r->path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return fail(r, ReplacementStep::kTarget);
    if (exists && !S_ISREG(old.st_mode))
        return fail_with(r, ReplacementStep::kTarget, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    if (exists && !writable_by_user(r->path, old))
        return fail_with(r, ReplacementStep::kReadOnly, EACCES);

    // Made private at first when it is to take an existing file's mode, so
    // that it is never readable by more people than the old file was.
    r->fd = open(r->temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, exists ? 0600 : 0666);
    if (r->fd < 0) return fail(r, ReplacementStep::kCreate);
    // A temporary name that leads to something other than a regular file
    // (a device, say) is written to as it is; its owner and mode are not ours
    // to change.
    struct stat made;
    if (exists && fstat(r->fd, &made) == 0 && S_ISREG(made.st_mode) &&
        !copy_attributes(r->fd, old)) {
        fail(r, ReplacementStep::kCreate);
        abandon_replacement(r);
        return false;
    }
    return true;
}

size_t write_replacement(FileReplacement* r, const void* bytes, size_t size) {
    const auto* at = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (done < size && r->fd >= 0) {
        ssize_t n = write(r->fd, at + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            fail(r, ReplacementStep::kWrite);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool finish_replacement(FileReplacement* r) {
    // The data must be on disk before the rename makes it the file.
    bool good = r->fd >= 0 && r->error == 0;
    if (good && fsync(r->fd) != 0) good = fail(r, ReplacementStep::kWrite);
    if (r->fd >= 0 && close(r->fd) != 0 && good) good = fail(r, ReplacementStep::kWrite);
    r->fd = -1;
    if (!good) unlink(r->temp.c_str());
    return good;
}

bool commit_replacement(FileReplacement* r) {
    if (std::rename(r->temp.c_str(), r->path.c_str()) != 0) {
        fail(r, ReplacementStep::kCommit);
        unlink(r->temp.c_str());
        return false;
    }
    sync_folder_of(r->path);
    return true;
}

void abandon_replacement(FileReplacement* r) {
    if (r->fd >= 0) close(r->fd);
    r->fd = -1;
    unlink(r->temp.c_str());
}

bool replace_file_with(const std::string& path, std::span<const uint8_t> bytes,
                       std::string* error) {
    FileReplacement r;
    if (!begin_replacement(path, &r)) {
        switch (r.failed) {
            case ReplacementStep::kReadOnly:
                *error = path + " is read-only: " + std::strerror(r.error);
                break;
            case ReplacementStep::kTarget:
                *error = "cannot replace " + path + ": " + std::strerror(r.error);
                break;
            default:
                *error = "cannot create " + r.temp + ": " + std::strerror(r.error);
        }
        return false;
    }
    write_replacement(&r, bytes.data(), bytes.size());
    if (!finish_replacement(&r)) {
        *error = "writing " + r.temp + " failed: " + std::strerror(r.error);
        return false;
    }
    if (!commit_replacement(&r)) {
        *error = "cannot replace " + path + ": " + std::strerror(r.error);
        return false;
    }
    return true;
}

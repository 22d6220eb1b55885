#include "resources/replace_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Links are followed at most this far, as the kernel does (ELOOP past it).
constexpr int kLinkHops = 40;
// Names tried for a temporary file before giving up: only another writer's
// file, or a stranger's, can be in the way, and six random characters make
// a second clash unlikely.
constexpr int kTempNameTries = 100;
// How long a writer waits for another to finish its rename. A writer holds
// the lock for a comparison and a rename only; past this the holder is
// stuck (stopped in a debugger, say), and quitting must not hang on it.
constexpr int kLockWaitMs = 10000;
constexpr int kLockPollMs = 5;

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int open_folder_of(const std::string& path) {
    std::string dir = folder_of(path);
    if (dir.empty()) dir = ".";
    return open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The folder's lock for the compare-and-rename step, as an open descriptor
// of the folder (also used to sync it); -1 when the folder cannot be opened.
// A folder that cannot be locked (flock is not supported everywhere) is
// still returned: the caller goes on unlocked rather than not at all.
int lock_folder_of(const std::string& path) {
    int fd = open_folder_of(path);
    if (fd < 0) return -1;
    for (int waited = 0; waited < kLockWaitMs;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) break;
        usleep(kLockPollMs * 1000);
        waited += kLockPollMs;
    }
    return fd;
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

// Six characters for a temporary name. The kernel's random bytes where it
// gives them; otherwise the process id, the clock and a counter, which still
// differ between writers.
std::string random_suffix() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        bits = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
               static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 30 ^
               ++counter * 0xBF58476D1CE4E5B9ull;
    }
    std::string out;
    for (int i = 0; i < 6; ++i, bits /= 62) out += kAlphabet[bits % 62];
    return out;
}

// Creates ".NAME.XXXXXX" beside the file, exclusively: a name that is taken
// (by another writer, or by anything at all, even a dangling link) is never
// opened, so nothing but this writer's own new file is ever written.
bool create_temporary(FileReplacement* r, mode_t mode) {
    const std::string dir = folder_of(r->path);
    const std::string stem = dir + "." + r->path.substr(dir.size()) + ".";
    for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
        std::string name = stem + random_suffix();
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            r->temp = name;
            r->fd = fd;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

// Whether two files hold the same bytes; false when either cannot be read.
bool same_content(const std::string& a, const std::string& b) {
    int fa = open(a.c_str(), O_RDONLY | O_CLOEXEC);
    int fb = open(b.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat sa, sb;
    bool same = fa >= 0 && fb >= 0 && fstat(fa, &sa) == 0 && fstat(fb, &sb) == 0 &&
                sa.st_size == sb.st_size;
    std::vector<char> bufA(same ? 65536 : 0), bufB(bufA.size());
    for (off_t at = 0; same && at < sa.st_size;) {
        size_t want = static_cast<size_t>(std::min<off_t>(sa.st_size - at, 65536));
        ssize_t na = pread(fa, bufA.data(), want, at);
        ssize_t nb = pread(fb, bufB.data(), want, at);
        if ((na < 0 || nb < 0) && errno == EINTR) continue;
        same = na > 0 && na == nb &&
               std::memcmp(bufA.data(), bufB.data(), static_cast<size_t>(na)) == 0;
        at += na;
    }
    if (fa >= 0) close(fa);
    if (fb >= 0) close(fb);
    return same;
}

}  // namespace

FileIdentity identity_of(const struct stat& info) {
    return FileIdentity{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool same_identity(const FileIdentity& a, const FileIdentity& b) {
    auto same_time = [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return a.known == b.known && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           same_time(a.modified, b.modified) && same_time(a.changed, b.changed);
}

bool begin_replacement(const std::string& path, FileReplacement* r) {
    *r = FileReplacement{path, std::string(), -1, 0, ReplacementStep::kNone, false};
    if (!final_target(path, &r->path)) return fail(r, ReplacementStep::kTarget);

    struct stat old;
    const bool exists = stat(r->path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return fail(r, ReplacementStep::kTarget);
    if (exists && !S_ISREG(old.st_mode))
        return fail_with(r, ReplacementStep::kTarget, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    if (exists && !writable_by_user(r->path, old))
        return fail_with(r, ReplacementStep::kReadOnly, EACCES);

    // Made private at first when it is to take an existing file's mode, so
    // that it is never readable by more people than the old file was.
    if (!create_temporary(r, exists ? 0600 : 0666)) return fail(r, ReplacementStep::kCreate);
    if (exists && !copy_attributes(r->fd, old)) {
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
    if (!good && !r->temp.empty()) unlink(r->temp.c_str());
    return good;
}

bool commit_replacement(FileReplacement* r, const FileIdentity* read) {
    // Held from the comparison to the rename, so that two writers that read
    // the same file cannot both find it unchanged and both rename.
    const int folder = lock_folder_of(r->path);
    bool good = true;
    if (read) {
        struct stat now;
        if (stat(r->path.c_str(), &now) != 0) {
            // Gone: nothing of anyone's is lost by writing it anew.
            if (errno != ENOENT) good = fail(r, ReplacementStep::kCommit);
        } else if (!same_identity(identity_of(now), *read)) {
            if (same_content(r->path, r->temp))
                r->already_in_place = true;
            else
                good = fail_with(r, ReplacementStep::kChanged, EEXIST);
        }
    }
    if (good && !r->already_in_place && std::rename(r->temp.c_str(), r->path.c_str()) != 0)
        good = fail(r, ReplacementStep::kCommit);
    if (!good || r->already_in_place) unlink(r->temp.c_str());
    // Makes the rename durable too; a failure here only weakens durability.
    if (good && !r->already_in_place && folder >= 0) fsync(folder);
    if (folder >= 0) close(folder);  // and with it the lock
    return good;
}

void abandon_replacement(FileReplacement* r) {
    if (r->fd >= 0) close(r->fd);
    r->fd = -1;
    if (!r->temp.empty()) unlink(r->temp.c_str());
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
                *error =
                    "cannot create a temporary file beside " + path + ": " + std::strerror(r.error);
        }
        return false;
    }
    write_replacement(&r, bytes.data(), bytes.size());
    if (!finish_replacement(&r)) {
        *error = "writing the new " + path + " failed: " + std::strerror(r.error);
        return false;
    }
    if (!commit_replacement(&r)) {
        *error = "cannot replace " + path + ": " + std::strerror(r.error);
        return false;
    }
    return true;
}

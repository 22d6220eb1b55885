#include "resources/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Makes the rename durable too; a failure here only weakens durability.
void sync_folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

bool fail(FileReplacement* r) {
    if (r->error == 0) r->error = errno ? errno : EIO;
    return false;
}

}  // namespace

bool begin_replacement(const std::string& path, FileReplacement* r) {
    *r = FileReplacement{path, path + ".tmp", -1, 0};
    r->fd = open(r->temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return r->fd >= 0 || fail(r);
}

size_t write_replacement(FileReplacement* r, const void* bytes, size_t size) {
    const auto* at = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (done < size && r->fd >= 0) {
        ssize_t n = write(r->fd, at + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            fail(r);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool finish_replacement(FileReplacement* r) {
    // The data must be on disk before the rename makes it the file.
    bool good = r->fd >= 0 && r->error == 0;
    if (good && fsync(r->fd) != 0) good = fail(r);
    if (r->fd >= 0 && close(r->fd) != 0 && good) good = fail(r);
    r->fd = -1;
    if (!good) unlink(r->temp.c_str());
    return good;
}

bool commit_replacement(FileReplacement* r) {
    if (std::rename(r->temp.c_str(), r->path.c_str()) != 0) {
        fail(r);
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
        *error = "cannot create " + r.temp + ": " + std::strerror(r.error);
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

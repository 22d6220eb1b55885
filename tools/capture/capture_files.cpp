#include "capture_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool is_readable_file(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool make_folder(const char* dir, char* error, size_t error_size) {
    std::string path(dir);
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            std::snprintf(error, error_size, "cannot make the folder %s: %s", part.c_str(),
                          std::strerror(errno));
            return false;
        }
    }
    struct stat info;
    if (stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::snprintf(error, error_size, "%s is not a folder", dir);
        return false;
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool make_partial_file(const std::string& final, std::string* partial, char* error,
                       size_t error_size) {
    const size_t slash = final.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : final.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? final : final.substr(slash + 1);
    // A name left by a run that was killed outright is skipped, not reused.
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, attempt ? ".%ld-%d.part" : ".%ld.part",
                      static_cast<long>(getpid()), attempt);
        *partial = folder;
        *partial += '.';
        *partial += name;
        *partial += suffix;
        const int fd = open(partial->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (errno != EEXIST) break;
    }
    std::snprintf(error, error_size, "cannot write beside %s: %s", final.c_str(),
                  std::strerror(errno));
    return false;
}

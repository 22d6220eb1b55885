#include "pack_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x66600999u;
constexpr uint32_t kCapacity = 32;

uint32_t word_at(const std::vector<uint8_t>& b, uint64_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

void append_word(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

bool read_whole_file(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = path + ": read error (is it a directory?)";
        return false;
    }
    return true;
}

bool load_pack_file(const std::string& path, PackFile* pack, std::string* error) {
    std::vector<uint8_t> b;
    if (!read_whole_file(path, &b, error)) return false;
    *pack = PackFile{};
    pack->fileSize = b.size();
    if (b.size() < 8) {
        *error = path + ": " + std::to_string(b.size()) +
                 " bytes is too short for a pack (at least 8: magic word and count)";
        return false;
    }
    pack->magic = word_at(b, 0);
    uint32_t count = word_at(b, b.size() - 4);
    if (count > kCapacity) {
        *error = path + ": holds " + std::to_string(count) + " entries, more than the " +
                 std::to_string(kCapacity) + " a pack can have (not a pack, or damaged)";
        return false;
    }
    uint64_t directory = b.size() - 4 - 8ull * count;
    if (8 + 8ull * count > b.size()) {
        *error = path + ": truncated: a directory of " + std::to_string(count) +
                 " entries does not fit in " + std::to_string(b.size()) + " bytes";
        return false;
    }
    uint64_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = word_at(b, directory + 8ull * i);
        uint32_t size = word_at(b, directory + 8ull * i + 4);
        if (at + size > directory) {
            *error = path + ": truncated: entry " + std::to_string(i) + " of " + std::to_string(size) +
                     " bytes reaches past the directory";
            return false;
        }
        PackFileEntry entry;
        entry.offset = offset;
        entry.actualOffset = static_cast<uint32_t>(at - 4);
        entry.bytes.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + size));
        pack->entries.push_back(std::move(entry));
        at += size;
    }
    pack->slack = directory - at;
    return true;
}

std::vector<uint8_t> serialise_pack(const std::vector<std::vector<uint8_t>>& entries) {
    std::vector<uint8_t> out;
    append_word(out, kMagic);
    for (const auto& entry : entries) out.insert(out.end(), entry.begin(), entry.end());
    uint32_t offset = 0;
    for (const auto& entry : entries) {
        append_word(out, offset);
        append_word(out, static_cast<uint32_t>(entry.size()));
        offset += static_cast<uint32_t>(entry.size());
    }
    append_word(out, static_cast<uint32_t>(entries.size()));
    return out;
}

bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error) {
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot create a temporary file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            *error = "writing " + temp + " failed: " + std::strerror(errno ? errno : EIO);
            close(fd);
            unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        *error = "writing " + temp + " failed: " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

#include "resources/pack.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "shell/diagnostics.h"

ResourcePackRecord ResourcePack;

namespace {

std::string gPath = "blob.dat";

// The name each entry was first handed out under, for the repeat rule.
std::string gTakenName[kPackCapacity];

void forget_entries() {
    for (uint32_t i = 0; i < kPackCapacity; ++i) {
        std::free(ResourcePack.entryData[i]);
        ResourcePack.entryData[i] = nullptr;
        ResourcePack.entrySize[i] = 0;
        gTakenName[i].clear();
    }
    ResourcePack.entryCursor = 0;
    ResourcePack.entryCount = 0;
    ResourcePack.loaded = false;
}

void put_word(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t get_word(const uint8_t* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

bool read_word(FILE* file, uint32_t* value) {
    uint8_t bytes[4];
    if (std::fread(bytes, 1, 4, file) != 4) return false;
    *value = get_word(bytes);
    return true;
}

bool write_word(FILE* file, uint32_t value) {
    uint8_t bytes[4];
    put_word(bytes, value);
    return std::fwrite(bytes, 1, 4, file) == 4;
}

// One box per failed read, naming the file and the problem; the pack is
// left empty so that nothing of it is handed out or written back.
int refuse(FILE* file, const std::string& problem) {
    ErrorBox("read_pack: %s %s", gPath.c_str(), problem.c_str());
    if (file) std::fclose(file);
    forget_entries();
    return -1;
}

// Makes the rename durable too; a failure here only weakens durability.
void sync_directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

void set_pack_path(const char* path) { gPath = path ? path : "blob.dat"; }

const char* pack_path() { return gPath.c_str(); }

int read_pack() {
    forget_entries();

    FILE* file = std::fopen(gPath.c_str(), "rb");
    if (!file) return refuse(nullptr, std::string("cannot be opened: ") + std::strerror(errno));

    // The directory is found from the end; the file's length bounds every
    // count and size before anything is allocated.
    if (std::fseek(file, 0, SEEK_END) != 0) return refuse(file, "cannot be read: seek failed");
    long end = std::ftell(file);
    if (end < 0) return refuse(file, "cannot be read: its length is unknown");
    uint64_t length = static_cast<uint64_t>(end);
    if (length < 8)
        return refuse(file, "is truncated: " + std::to_string(length) +
                                " bytes, a pack has at least 8 (magic word and count)");

    uint32_t count = 0;
    if (std::fseek(file, -4, SEEK_END) != 0 || !read_word(file, &count))
        return refuse(file, "cannot be read: the entry count is unreadable");
    if (count > kPackCapacity)
        return refuse(file, "holds " + std::to_string(count) + " entries, more than the " +
                                std::to_string(kPackCapacity) + " a pack can have");
    uint64_t directory = 8ull * count;
    if (8 + directory > length)
        return refuse(file, "is truncated: its directory of " + std::to_string(count) +
                                " entries needs " + std::to_string(8 + directory) +
                                " bytes, the file has " + std::to_string(length));

    if (std::fseek(file, -static_cast<long>(4 + directory), SEEK_END) != 0)
        return refuse(file, "cannot be read: seek to the directory failed");
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = 0;  // not used: entries are read back to back
        if (!read_word(file, &offset) || !read_word(file, &ResourcePack.entrySize[i]))
            return refuse(file, "cannot be read: the directory is unreadable");
        total += ResourcePack.entrySize[i];
    }
    uint64_t room = length - 8 - directory;
    if (total > room)
        return refuse(file, "is truncated: its entries need " + std::to_string(total) +
                                " bytes, only " + std::to_string(room) +
                                " lie between the magic word and the directory");

    // The magic word is not checked; the entries follow it back to back.
    if (std::fseek(file, 4, SEEK_SET) != 0) return refuse(file, "cannot be read: seek failed");
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t size = ResourcePack.entrySize[i];
        // One byte at least, so that an empty entry still has its own block.
        auto* block = static_cast<uint8_t*>(std::malloc(size ? size : 1));
        if (!block)
            return refuse(file, "cannot be read: no memory for entry " + std::to_string(i) +
                                    " of " + std::to_string(size) + " bytes");
        ResourcePack.entryData[i] = block;
        if (std::fread(block, 1, size, file) != size)
            return refuse(file, "cannot be read: entry " + std::to_string(i) + " is short");
    }
    std::fclose(file);

    ResourcePack.entryCount = count;
    ResourcePack.entryCursor = 0;
    ResourcePack.loaded = true;
    ConsoleLine("io are go!\n");
    return 0;
}

int take_entry(const char* name, PackEntry* entry) {
    uint32_t cursor = ResourcePack.entryCursor;
    if (cursor != UINT32_MAX) ResourcePack.entryCursor = cursor + 1;
    std::string wanted = name ? name : "";
    if (cursor < ResourcePack.entryCount) {
        gTakenName[cursor] = wanted;
        entry->data = ResourcePack.entryData[cursor];
        entry->size = ResourcePack.entrySize[cursor];
        return 0;
    }
    // Past the end: a rebuild asks for the same pictures again by name.
    for (uint32_t i = 0; i < ResourcePack.entryCount; ++i) {
        if (gTakenName[i] == wanted) {
            entry->data = ResourcePack.entryData[i];
            entry->size = ResourcePack.entrySize[i];
            return 0;
        }
    }
    entry->data = nullptr;
    entry->size = 0;
    return 0;
}

int release_entry(const char*, PackEntry*) { return 0; }

int write_pack() {
    if (!ResourcePack.loaded) {
        forget_entries();
        return 1;
    }
    const uint32_t count = ResourcePack.entryCount;
    const std::string temp = gPath + ".tmp";
    bool good = true;

    FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) {
        ErrorBox("write_pack: cannot create %s (%s); %s is left as it was", temp.c_str(),
                 std::strerror(errno), gPath.c_str());
        good = false;
    } else {
        good = write_word(file, kPackMagic);
        for (uint32_t i = 0; i < count; ++i) {
            size_t written = std::fwrite(ResourcePack.entryData[i], 1, ResourcePack.entrySize[i], file);
            if (written != ResourcePack.entrySize[i]) {
                ErrorBox("krr %i %i", static_cast<int>(written),
                         static_cast<int>(ResourcePack.entrySize[i]));
                good = false;
            }
        }
        uint32_t offset = 0;
        for (uint32_t i = 0; i < count; ++i) {
            good = write_word(file, offset) && good;
            good = write_word(file, ResourcePack.entrySize[i]) && good;
            offset += ResourcePack.entrySize[i];
        }
        good = write_word(file, count) && good;
        // The data must be on disk before the rename makes it the pack.
        good = std::fflush(file) == 0 && good;
        good = fsync(fileno(file)) == 0 && good;
        good = std::fclose(file) == 0 && good;
        if (!good) {
            ErrorBox("write_pack: writing %s failed; %s is left as it was", temp.c_str(),
                     gPath.c_str());
            std::remove(temp.c_str());
        } else if (std::rename(temp.c_str(), gPath.c_str()) != 0) {
            ErrorBox("write_pack: cannot replace %s (%s); it is left as it was", gPath.c_str(),
                     std::strerror(errno));
            std::remove(temp.c_str());
            good = false;
        } else {
            sync_directory_of(gPath);
        }
    }

    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        ConsoleLine("offset %i |\t size %i bytes\n", static_cast<int>(offset),
                    static_cast<int>(ResourcePack.entrySize[i]));
        offset += ResourcePack.entrySize[i];
    }
    ConsoleLine("io are out! %i bytes read in %i files,\n", static_cast<int>(offset),
                static_cast<int>(count));

    forget_entries();
    return good ? 0 : -1;
}

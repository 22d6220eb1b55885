#include "resources/pack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "resources/pack_format.h"
#include "resources/replace_file.h"

ResourcePackRecord ResourcePack;

namespace {

std::string PackPath = "blob.dat";

// The name each entry was first handed out under, for the repeat rule.
std::string TakenName[kPackCapacity];

// The file read_pack read (through a link: the file the link ends at), so
// that write_pack replaces it only while it is still that file.
FileIdentity ReadIdentity;

// Installed, the program runs through a launcher that says so in the
// environment and can put the default files back.
constexpr const char* kLauncherVariable = "VELKORANDI_LAUNCHER";
// Short enough that the longest refusal with it still fits a box (255
// characters).
constexpr const char* kResetHint =
    " Run `velkorandi --reset` to put the default files back (yours are moved to a backup "
    "folder).";

bool run_by_launcher() {
    const char* value = std::getenv(kLauncherVariable);
    return value && *value;
}

void forget_entries() {
    for (uint32_t i = 0; i < kPackCapacity; ++i) {
        std::free(ResourcePack.entryData[i]);
        ResourcePack.entryData[i] = nullptr;
        ResourcePack.entrySize[i] = 0;
        TakenName[i].clear();
    }
    ResourcePack.entryCursor = 0;
    ResourcePack.entryCount = 0;
    ResourcePack.loaded = false;
    ReadIdentity = FileIdentity{};
}

// One box per failed read, naming the file and the problem; the pack is
// left empty so that nothing of it is handed out or written back. A file
// that is missing, unreadable or damaged is one the launcher can replace,
// and the box says how when the launcher ran the program.
int refuse(int fd, const std::string& problem, bool the_files_fault = true) {
    ErrorBox("read_pack: %s %s%s", PackPath.c_str(), problem.c_str(),
             the_files_fault && run_by_launcher() ? kResetHint : "");
    if (fd >= 0) close(fd);
    forget_entries();
    return -1;
}

// The box for a pack that is not even begun to be written.
void refuse_write(const FileReplacement& file) {
    const char* reason = std::strerror(file.error);
    switch (file.failed) {
        case ReplacementStep::kReadOnly:
            ErrorBox("write_pack: %s is read-only for this user (%s); it is left as it was",
                     PackPath.c_str(), reason);
            break;
        case ReplacementStep::kTarget:
            ErrorBox("write_pack: cannot replace %s (%s); it is left as it was", PackPath.c_str(),
                     reason);
            break;
        default:
            ErrorBox(
                "write_pack: cannot create a temporary file beside %s (%s); it is left as it "
                "was",
                PackPath.c_str(), reason);
    }
}

// The box for a pack that was written but not put in place.
void refuse_commit(const FileReplacement& file) {
    if (file.failed == ReplacementStep::kChanged) {
        ErrorBox(
            "write_pack: %s was changed while the presentation ran; the new file is kept and "
            "the pack read at start-up is not written back",
            PackPath.c_str());
        return;
    }
    ErrorBox("write_pack: cannot replace %s (%s); it is left as it was", PackPath.c_str(),
             std::strerror(file.error));
}

bool read_fully_at(int fd, uint64_t at, uint8_t* out, uint64_t size) {
    while (size > 0) {
        ssize_t n = pread(fd, out, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        at += static_cast<uint64_t>(n);
        size -= static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

void set_pack_path(const char* path) { PackPath = path ? path : "blob.dat"; }

const char* pack_path() { return PackPath.c_str(); }

int read_pack() {
    forget_entries();

    int fd = open(PackPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return refuse(-1, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat info;
    if (fstat(fd, &info) != 0) return refuse(fd, "cannot be read: its length is unknown");
    const FileIdentity identity = identity_of(info);

    // The index checks every count and size against the file's length
    // before anything is allocated.
    PackIndex index;
    std::string problem;
    auto read_at = [fd](uint64_t at, uint8_t* out, uint64_t size) {
        return read_fully_at(fd, at, out, size);
    };
    if (!index_pack(static_cast<uint64_t>(info.st_size), read_at, &index, &problem))
        return refuse(fd, problem);

    const uint32_t count = static_cast<uint32_t>(index.entries.size());
    for (uint32_t i = 0; i < count; ++i) {
        const PackIndexEntry& entry = index.entries[i];
        ResourcePack.entrySize[i] = entry.size;
        // One byte at least, so that an empty entry still has its own block.
        auto* block = static_cast<uint8_t*>(std::malloc(entry.size ? entry.size : 1));
        if (!block)
            return refuse(fd,
                          "cannot be read: no memory for entry " + std::to_string(i) + " of " +
                              std::to_string(entry.size) + " bytes",
                          false);
        ResourcePack.entryData[i] = block;
        if (!read_fully_at(fd, entry.start, block, entry.size))
            return refuse(fd, "cannot be read: entry " + std::to_string(i) + " is short");
    }
    close(fd);

    ResourcePack.entryCount = count;
    ResourcePack.entryCursor = 0;
    ResourcePack.loaded = true;
    ReadIdentity = identity;
    ConsoleLine("io are go!\n");
    return 0;
}

// Always 0, even for an empty entry: kept so, callers go by the entry's size.
int take_entry(const char* name, PackEntry* entry) {
    uint32_t cursor = ResourcePack.entryCursor;
    if (cursor != UINT32_MAX) ResourcePack.entryCursor = cursor + 1;
    std::string wanted = name ? name : "";
    if (cursor < ResourcePack.entryCount) {
        TakenName[cursor] = wanted;
        entry->data = ResourcePack.entryData[cursor];
        entry->size = ResourcePack.entrySize[cursor];
        return 0;
    }
    // Past the end: a rebuild asks for the same pictures again by name.
    for (uint32_t i = 0; i < ResourcePack.entryCount; ++i) {
        if (TakenName[i] == wanted) {
            entry->data = ResourcePack.entryData[i];
            entry->size = ResourcePack.entrySize[i];
            return 0;
        }
    }
    entry->data = nullptr;
    entry->size = 0;
    return 0;
}

// Does nothing and returns 0, on purpose: entries stay the pack's until
// write_pack writes them back, and callers still pair it with take_entry.
int release_entry(const char*, PackEntry*) { return 0; }

int write_pack() {
    if (!ResourcePack.loaded) {
        forget_entries();
        return 1;
    }
    const uint32_t count = ResourcePack.entryCount;
    bool good = true;

    FileReplacement file;
    if (!begin_replacement(PackPath, &file)) {
        refuse_write(file);
        good = false;
    } else {
        std::vector<uint8_t> magic;
        append_word(magic, kPackMagic);
        write_replacement(&file, magic.data(), magic.size());
        for (uint32_t i = 0; i < count; ++i) {
            size_t written =
                write_replacement(&file, ResourcePack.entryData[i], ResourcePack.entrySize[i]);
            if (written != ResourcePack.entrySize[i]) {
                // Kept as it is: users' scripts and stored logs look for this line.
                ErrorBox("krr %i %i", static_cast<int>(written),
                         static_cast<int>(ResourcePack.entrySize[i]));
            }
        }
        std::vector<uint8_t> directory =
            pack_directory(std::span<const uint32_t>(ResourcePack.entrySize, count));
        write_replacement(&file, directory.data(), directory.size());
        if (!finish_replacement(&file)) {
            ErrorBox("write_pack: writing the new %s failed (%s); the old one is left as it was",
                     PackPath.c_str(), std::strerror(file.error));
            good = false;
        } else if (!commit_replacement(&file, &ReadIdentity)) {
            // Another instance that read the same pack and quit first leaves
            // the same bytes in place: the commit then succeeds, quietly.
            refuse_commit(file);
            good = false;
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

// The pack reader on arbitrary file contents: the bytes are written to a
// scratch file that read_pack opens, then entries are taken (past the end
// too) and the pack is written back. A pack that was read must write back
// into one that reads again with the same entries. The pack's notes and boxes
// go to standard output and standard error (the standard-streams platform);
// -close_fd_mask=3 keeps them off the terminal, while libFuzzer and the
// sanitizers still report.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/presentation.h"
#include "resources/pack.h"

namespace {

// A memory file system when there is one: write_pack syncs every file it
// writes, which costs a disk write per input elsewhere.
char gScratchDir[64];

void remove_scratch() {
    std::string pack = std::string(gScratchDir) + "/blob.dat";
    std::remove((pack + ".tmp").c_str());
    std::remove(pack.c_str());
    rmdir(gScratchDir);
}

const std::string& scratch_path() {
    static const std::string path = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(gScratchDir, sizeof gScratchDir, "%s/pack-fuzz-XXXXXX", base);
        if (!mkdtemp(gScratchDir)) std::abort();
        std::atexit(remove_scratch);
        return std::string(gScratchDir) + "/blob.dat";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratch_path();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    set_pack_path(path.c_str());

    bool read = read_pack() == 0;
    std::vector<std::vector<uint8_t>> taken;
    for (uint32_t i = 0; i < 16; ++i) {
        PackEntry entry{};
        take_entry(kEntryNames[i % kPresentationEntries], &entry);
        if (read && i < kPresentationEntries)
            taken.emplace_back(entry.data, entry.data + entry.size);
        // Touch every byte handed out, so an entry that is not fully owned shows.
        volatile uint8_t sum = 0;
        for (uint32_t k = 0; k < entry.size; ++k) sum = sum + entry.data[k];
        release_entry(kEntryNames[i % kPresentationEntries], &entry);
    }
    uint32_t count = ResourcePack.entryCount;
    int written = write_pack();
    if (read != (written != 1)) std::abort();

    if (written == 0) {
        if (read_pack() != 0 || ResourcePack.entryCount != count) std::abort();
        for (size_t i = 0; i < taken.size(); ++i) {
            PackEntry entry{};
            take_entry(kEntryNames[i], &entry);
            if (entry.size != taken[i].size() ||
                (entry.size && std::memcmp(entry.data, taken[i].data(), entry.size) != 0))
                std::abort();
        }
        write_pack();
    }
    return 0;
}

// The resource pack blob.dat: read whole at start-up, entries handed out in
// order (names are ignored), written back at exit.
#pragma once

#include <cstdint>

struct PackEntry {
    const uint8_t* data;  // owned by the pack until write_pack
    uint32_t size;
};

constexpr uint32_t kPackCapacity = 32;
constexpr uint32_t kPackMagic = 0x66600999u;

struct ResourcePackRecord {
    uint8_t* entryData[kPackCapacity];
    uint32_t entrySize[kPackCapacity];
    uint32_t entryCursor;  // entries handed out so far
};

extern ResourcePackRecord ResourcePack;

int read_pack();
int take_entry(const char* name, PackEntry* entry);
int release_entry(const char* name, PackEntry* entry);
int write_pack();

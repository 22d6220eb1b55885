// The resource pack blob.dat: read whole at start-up, entries handed out in
// order (names are ignored), written back at exit.
// The file format is pack_format.h's.
//
// Beyond the plain format the pack protects the program from bad files:
//   - read_pack refuses a missing, truncated or damaged file with one box
//     naming the file and the problem, and returns non-zero; run by the
//     installed launcher (VELKORANDI_LAUNCHER set), the box also says how to
//     get the default files back;
//   - taking past the entries read hands out again the entry first handed
//     out under the same name (a display-mode toggle rebuilds the textures
//     from the same five pictures), or an empty entry when there is none;
//   - read_pack accepts a file only when the pack accounts for every byte of
//     it (pack_format.h), so writing back what was read loses nothing;
//   - write_pack writes every entry that was read, once, in pack order, into
//     a temporary file beside the pack that is synced and then renamed over
//     it, so a failed write leaves the old file untouched. A pack that was
//     never read successfully is never written. A symbolic link is written
//     through, the file keeps its mode and owner, and a file the user may not
//     write is left alone with a box (replace_file.h);
//   - write_pack replaces only the file read_pack read. A pack the user put in
//     its place while the program ran is kept, with a box; one that already
//     holds what would be written (another instance of the program, quitting
//     first, wrote back the same pack) is left quietly.
#pragma once

#include <cstdint>

#include "resources/pack_format.h"

struct PackEntry {
    const uint8_t* data;  // owned by the pack until write_pack
    uint32_t size;
};

struct ResourcePackRecord {
    uint8_t* entryData[kPackCapacity];
    uint32_t entrySize[kPackCapacity];
    uint32_t entryCursor;  // entries handed out so far (keeps counting past the end)
    uint32_t entryCount;   // entries read from the file
    bool loaded;           // read_pack succeeded and write_pack has not run yet
};

extern ResourcePackRecord ResourcePack;

// 0 on success; -1 after a box naming the file and what is wrong with it.
int read_pack();
int take_entry(const char* name, PackEntry* entry);
int release_entry(const char* name, PackEntry* entry);
// 0 when the pack was written (or the same bytes were found in place), -1
// when writing failed, was not allowed or another pack took the file's place
// (the file there is kept, a box names the file, the reason and that it was
// kept),
// 1 when there was no successfully read pack to write.
// The console lines list the entries it wrote or tried to write; the entries
// are freed in every case.
int write_pack();

// The file read_pack and write_pack use; "blob.dat" in the current directory
// unless changed. nullptr restores the default. Tools and tests only.
void set_pack_path(const char* path);
const char* pack_path();

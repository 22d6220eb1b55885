#include "resources/pack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fakes/platform_fake.h"
#include "resources/replace_file.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

const char* const kPictureNames[5] = {"pool/up.pcx", "pool/down.pcx", "pool/demo2.pcx",
                                      "pool/trevak.pcx", "pool/mono.pcx"};

Bytes filled(size_t size, uint8_t first) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(first + i * 7);
    return out;
}

Bytes entry_bytes(const PackEntry& entry) {
    return entry.data ? Bytes(entry.data, entry.data + entry.size) : Bytes();
}

class Pack : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string path = dir.file("blob.dat");

    void SetUp() override {
        fake_platform::reset();
        set_pack_path(path.c_str());
    }
    void TearDown() override {
        write_pack();  // frees whatever a test left loaded
        set_pack_path(nullptr);
    }
};

TEST_F(Pack, ReadsTheTwoEntryExampleAndWritesItBackByteForByte) {
    Bytes file = make_pack({{0xA1, 0xA2, 0xA3}, {0xB1, 0xB2, 0xB3, 0xB4, 0xB5}});
    ASSERT_EQ(file.size(), 32u);
    write_file(path, file);

    EXPECT_EQ(read_pack(), 0);
    EXPECT_EQ(fake_platform::console(), "io are go!\n");
    PackEntry first{}, second{};
    take_entry("pool/up.pcx", &first);
    take_entry("pool/down.pcx", &second);
    EXPECT_EQ(entry_bytes(first), (Bytes{0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(entry_bytes(second), (Bytes{0xB1, 0xB2, 0xB3, 0xB4, 0xB5}));
    EXPECT_EQ(ResourcePack.entryCursor, 2u);

    fake_platform::reset();
    EXPECT_EQ(write_pack(), 0);
    EXPECT_EQ(read_file(path), file);
    EXPECT_EQ(fake_platform::console(),
              "offset 0 |\t size 3 bytes\noffset 3 |\t size 5 bytes\n"
              "io are out! 8 bytes read in 2 files,\n");
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST_F(Pack, EmptyPacksAndEmptyEntries) {
    write_file(path, make_pack({}));
    ASSERT_EQ(read_file(path).size(), 8u);
    EXPECT_EQ(read_pack(), 0);
    EXPECT_EQ(write_pack(), 0);
    EXPECT_EQ(read_file(path), (Bytes{0x99, 0x09, 0x60, 0x66, 0, 0, 0, 0}));
    EXPECT_EQ(fake_platform::console(), "io are go!\nio are out! 0 bytes read in 0 files,\n");

    fake_platform::reset();
    Bytes file = make_pack({{}, {1, 2, 3, 4}, {}});
    write_file(path, file);
    ASSERT_EQ(read_pack(), 0);
    PackEntry entry{};
    take_entry("a", &entry);
    EXPECT_EQ(entry.size, 0u);
    take_entry("b", &entry);
    EXPECT_EQ(entry_bytes(entry), (Bytes{1, 2, 3, 4}));
    take_entry("c", &entry);
    EXPECT_EQ(entry.size, 0u);
    EXPECT_EQ(write_pack(), 0);
    EXPECT_EQ(read_file(path), file);
    EXPECT_EQ(fake_platform::console(),
              "io are go!\noffset 0 |\t size 0 bytes\noffset 0 |\t size 4 bytes\n"
              "offset 4 |\t size 0 bytes\nio are out! 4 bytes read in 3 files,\n");
}

// A wrong magic word is refused (see the damaged packs below): the stored
// offsets are the one part of a pack a reader may ignore.
TEST_F(Pack, WrongOffsetsAreNotUsed) {
    Bytes canonical = make_pack({{1, 2, 3}, {4, 5, 6, 7, 8}});
    Bytes damaged = canonical;
    damaged[12] = 0x77;                // offset of entry 0
    damaged[20] = damaged[21] = 0xFF;  // offset of entry 1
    write_file(path, damaged);

    ASSERT_EQ(read_pack(), 0);
    PackEntry entry{};
    take_entry("x", &entry);
    EXPECT_EQ(entry_bytes(entry), (Bytes{1, 2, 3}));
    take_entry("y", &entry);
    EXPECT_EQ(entry_bytes(entry), (Bytes{4, 5, 6, 7, 8}));
    EXPECT_EQ(write_pack(), 0);
    EXPECT_EQ(read_file(path), canonical);
}

TEST_F(Pack, NamesAreIgnoredUntilTakingPassesTheEnd) {
    std::vector<Bytes> entries;
    for (int i = 0; i < 6; ++i) entries.push_back(filled(10 + i, static_cast<uint8_t>(i * 40)));
    write_file(path, make_pack(entries));
    ASSERT_EQ(read_pack(), 0);

    PackEntry entry{};
    take_entry("pool/mono.pcx", &entry);  // first take: entry 0, whatever the name
    EXPECT_EQ(entry_bytes(entry), entries[0]);
    for (int i = 1; i < 5; ++i) {
        take_entry(kPictureNames[i], &entry);
        EXPECT_EQ(entry_bytes(entry), entries[i]);
    }
    take_entry("pool/trevak.mp3", &entry);
    EXPECT_EQ(entry_bytes(entry), entries[5]);

    // Past the end, each name gets the entry first handed out under it.
    take_entry("pool/mono.pcx", &entry);
    EXPECT_EQ(entry_bytes(entry), entries[0]);
    take_entry("pool/demo2.pcx", &entry);
    EXPECT_EQ(entry_bytes(entry), entries[2]);
    take_entry("pool/trevak.mp3", &entry);
    EXPECT_EQ(entry_bytes(entry), entries[5]);
    take_entry("pool/up.pcx", &entry);  // never handed out under this name
    EXPECT_EQ(entry.data, nullptr);
    EXPECT_EQ(entry.size, 0u);
    take_entry(nullptr, &entry);
    EXPECT_EQ(entry.data, nullptr);
    EXPECT_EQ(release_entry("pool/up.pcx", &entry), 0);
}

TEST_F(Pack, WriteBackIsIdenticalAfterAnyNumberOfRebuilds) {
    std::vector<Bytes> entries;
    for (int i = 0; i < 6; ++i) entries.push_back(filled(100 * (i + 1), static_cast<uint8_t>(i)));
    const Bytes canonical = make_pack(entries);
    for (int rounds : {0, 1, 3}) {
        SCOPED_TRACE(rounds);
        write_file(path, canonical);
        fake_platform::reset();
        ASSERT_EQ(read_pack(), 0);
        PackEntry entry{};
        for (const char* name : kPictureNames) take_entry(name, &entry);
        take_entry("pool/trevak.mp3", &entry);
        for (int round = 0; round < rounds; ++round)
            for (int i = 0; i < 5; ++i) {
                take_entry(kPictureNames[i], &entry);
                EXPECT_EQ(entry_bytes(entry), entries[i]);
            }
        fake_platform::reset();
        EXPECT_EQ(write_pack(), 0);
        EXPECT_EQ(read_file(path), canonical);
        EXPECT_EQ(fake_platform::console(),
                  "offset 0 |\t size 100 bytes\noffset 100 |\t size 200 bytes\n"
                  "offset 300 |\t size 300 bytes\noffset 600 |\t size 400 bytes\n"
                  "offset 1000 |\t size 500 bytes\noffset 1500 |\t size 600 bytes\n"
                  "io are out! 2100 bytes read in 6 files,\n");
    }
    // Entries never taken are written back too.
    write_file(path, canonical);
    ASSERT_EQ(read_pack(), 0);
    EXPECT_EQ(write_pack(), 0);
    EXPECT_EQ(read_file(path), canonical);
}

TEST_F(Pack, DamagedPacksAreRefusedWithOneBoxAndNeverWrittenBack) {
    const Bytes example = make_pack({{0xA1, 0xA2, 0xA3}, {0xB1, 0xB2, 0xB3, 0xB4, 0xB5}});
    auto cut = [&](size_t length) { return Bytes(example.begin(), example.begin() + length); };
    Bytes count33(8 + 33 * 8, 0);
    count33[count33.size() - 4] = 33;
    Bytes countMax = example;
    countMax[28] = countMax[29] = countMax[30] = countMax[31] = 0xFF;
    Bytes sizesPastFile = example;
    sizesPastFile[24] = 6;  // 3 + 6 bytes, only 8 lie before the directory
    Bytes sizesWrap = example;
    sizesWrap[24] = sizesWrap[25] = sizesWrap[26] = sizesWrap[27] = 0xFF;
    // Damage that still fits the file: written back from what was read, each
    // of these would lose bytes (count 0 once cut a 5 MB pack to 8 bytes).
    auto with_count = [&](uint8_t count) {
        Bytes out = example;
        out[28] = count;
        return out;
    };
    Bytes sizeShort = example;
    sizeShort[24] = 4;  // the last entry's last byte belongs to nothing
    Bytes gap = example;
    gap.insert(gap.begin() + 12, {0xEE, 0xEE});  // between the entries and the directory
    Bytes badMagic = example;
    badMagic[0] = 0x12;  // every byte accounted for, but not a pack's first word
    Bytes zeros(32, 0);  // a file of zeros reads as a pack of no entries

    struct Case {
        const char* what;
        bool exists;
        Bytes bytes;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"missing", false, {}, "cannot be opened"},
        {"empty", true, {}, "is truncated"},
        {"cut in the magic word", true, cut(2), "is truncated"},
        {"seven bytes", true, cut(7), "is truncated"},
        {"cut in the entries", true, cut(10), "more than the 32"},
        {"cut in the directory", true, cut(24), "is truncated"},
        {"cut in the count", true, cut(31), "more than the 32"},
        {"count 33", true, count33, "holds 33 entries"},
        {"count 2^32-1", true, countMax, "holds 4294967295 entries"},
        {"sizes past the directory", true, sizesPastFile, "is truncated"},
        {"sizes past 2^32", true, sizesWrap, "is truncated"},
        {"count 0", true, with_count(0),
         "is damaged: its magic word, 0 entries of 0 bytes, directory and count account for 8 of "
         "its 32 bytes"},
        {"count 1 of 2", true, with_count(1), "account for 21 of its 32 bytes"},
        {"a size too small", true, sizeShort, "account for 31 of its 32 bytes"},
        {"bytes before the directory", true, gap, "account for 32 of its 34 bytes"},
        {"wrong magic word", true, badMagic,
         "is not a pack: it starts with 0x66600912, not the magic word 0x66600999"},
        {"zeros", true, zeros, "is damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path);
        if (c.exists) write_file(path, c.bytes);
        fake_platform::reset();

        EXPECT_NE(read_pack(), 0);
        ASSERT_EQ(fake_platform::boxes().size(), 1u);
        const std::string& box = fake_platform::boxes()[0];
        EXPECT_NE(box.find("blob.dat"), std::string::npos) << box;
        EXPECT_NE(box.find(c.problem), std::string::npos) << box;
        EXPECT_EQ(fake_platform::console(), "");

        PackEntry entry{};
        take_entry("pool/up.pcx", &entry);
        EXPECT_EQ(entry.data, nullptr);
        EXPECT_EQ(write_pack(), 1);
        EXPECT_EQ(fs::exists(path), c.exists);
        if (c.exists) {
            EXPECT_EQ(read_file(path), c.bytes);
        }
        EXPECT_FALSE(fs::exists(path + ".tmp"));
        EXPECT_EQ(fake_platform::boxes().size(), 1u);
    }
}

TEST_F(Pack, FailedWriteLeavesTheOldPackInPlace) {
    const Bytes old = make_pack({filled(100000, 3), {9}});

    // The temporary file cannot be created.
    write_file(path, old);
    ASSERT_EQ(read_pack(), 0);
    fs::create_directory(path + ".tmp");
    fake_platform::reset();
    EXPECT_EQ(write_pack(), -1);
    EXPECT_EQ(read_file(path), old);
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_NE(fake_platform::boxes()[0].find("blob.dat.tmp"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(path + ".tmp"));
    // The console still lists what was to be written.
    EXPECT_NE(fake_platform::console().find("io are out! 100001 bytes read in 2 files,\n"),
              std::string::npos);
    fs::remove(path + ".tmp");

    // The device fills up during the write: a short entry reports "krr".
    ASSERT_EQ(read_pack(), 0);
    fs::create_symlink("/dev/full", path + ".tmp");
    fake_platform::reset();
    EXPECT_EQ(write_pack(), -1);
    EXPECT_EQ(read_file(path), old);
    ASSERT_GE(fake_platform::boxes().size(), 2u);
    EXPECT_EQ(fake_platform::boxes()[0].rfind("krr ", 0), 0u);
    EXPECT_NE(fake_platform::boxes()[0].find(" 100000"), std::string::npos);
    EXPECT_NE(fake_platform::boxes().back().find("left as it was"), std::string::npos);
    EXPECT_EQ(fake_platform::boxes().back(), "write_pack: writing " + path +
                                                 ".tmp failed (No space left on device); " + path +
                                                 " is left as it was");
    EXPECT_FALSE(fs::exists(fs::symlink_status(path + ".tmp")));
}

// The pack is written through a symbolic link, keeps its mode and owner, and
// is left alone when the user may not write it.
TEST_F(Pack, WriteBackRespectsTheUsersFile) {
    const Bytes pack = make_pack({{1, 2, 3}, {4, 5}});
    fs::create_directory(dir.file("elsewhere"));
    const std::string target = dir.file("elsewhere/real.dat");

    struct Case {
        const char* what;
        const char* link;  // blob.dat links here (relative to its folder), or is the file
        fs::perms mode;
        bool writes;
    };
    const std::vector<Case> cases = {
        {"plain file, 0644", nullptr, fs::perms(0644), true},
        {"private file, 0600", nullptr, fs::perms(0600), true},
        {"group file, 0660", nullptr, fs::perms(0660), true},
        {"link to another folder", "elsewhere/real.dat", fs::perms(0640), true},
        {"link to a link", "hop", fs::perms(0600), true},
        {"read-only file", nullptr, fs::perms(0444), false},
        {"read-only file behind a link", "elsewhere/real.dat", fs::perms(0400), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path);
        fs::remove(dir.file("hop"));
        const std::string file = c.link ? target : path;
        write_file(file, pack);
        if (c.link) fs::create_symlink(c.link, path);
        if (c.link && std::string(c.link) == "hop")
            fs::create_symlink("elsewhere/real.dat", dir.file("hop"));
        fs::permissions(file, c.mode);
        // Given away, where the test may do so: write-back must give it back.
        const bool root = geteuid() == 0;
        if (root) {
            ASSERT_EQ(chown(file.c_str(), 4242, 4343), 0);
        }

        ASSERT_EQ(read_pack(), 0);
        PackEntry entry{};
        take_entry("pool/up.pcx", &entry);
        fake_platform::reset();
        EXPECT_EQ(write_pack(), c.writes ? 0 : -1);

        EXPECT_EQ(fs::is_symlink(path), c.link != nullptr);
        EXPECT_EQ(read_file(path), pack);
        EXPECT_EQ(fs::status(file).permissions(), c.mode);
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);
        if (root) {
            EXPECT_EQ(info.st_uid, 4242u);
            EXPECT_EQ(info.st_gid, 4343u);
        }
        EXPECT_FALSE(fs::exists(file + ".tmp"));
        EXPECT_FALSE(fs::exists(path + ".tmp"));
        if (c.writes) {
            EXPECT_TRUE(fake_platform::boxes().empty());
        } else {
            EXPECT_EQ(
                fake_platform::boxes(),
                std::vector<std::string>{"write_pack: " + path +
                                         " is read-only for this user (Permission denied); it is "
                                         "left as it was"});
        }
    }
}

// Root may write any file, so the read-only rule for root is the mode's; any
// other user gets the kernel's answer. Checked here as another user.
TEST_F(Pack, AnotherUserMayWriteOnlyWhatTheModeAllows) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    fs::permissions(dir.path, fs::perms(0777));
    const std::string mine = dir.file("root-0644.dat"), shared = dir.file("shared-0666.dat");
    write_file(mine, {1});
    write_file(shared, {1});
    fs::permissions(mine, fs::perms(0644));
    fs::permissions(shared, fs::perms(0666));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        FileReplacement r;
        if (begin_replacement(mine, &r) || r.failed != ReplacementStep::kReadOnly) _exit(11);
        if (!begin_replacement(shared, &r)) _exit(12);
        abandon_replacement(&r);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(shared + ".tmp"));
}

}  // namespace

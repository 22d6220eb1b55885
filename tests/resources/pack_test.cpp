#include "resources/pack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
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

using Names = std::vector<std::string>;

// What a folder holds, sorted: a write-back leaves nothing but the pack.
Names names_in(const std::string& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ino_t inode_of(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Lowers a resource limit for one scope, as the user's shell or a full disk
// might; the hard limit is left, so the old soft limit can be restored.
struct ScopedLimit {
    int resource;
    rlimit old{};
    ScopedLimit(int which, rlim_t soft) : resource(which) {
        getrlimit(resource, &old);
        rlimit lowered = old;
        lowered.rlim_cur = soft;
        setrlimit(resource, &lowered);
    }
    ~ScopedLimit() { setrlimit(resource, &old); }
};

// Holds the lock every writer of a folder takes around its compare-and-rename.
struct FolderLock {
    int fd;
    explicit FolderLock(const std::string& folder)
        : fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd >= 0) flock(fd, LOCK_EX);
    }
    ~FolderLock() { release(); }
    void release() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

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
    EXPECT_EQ(names_in(dir.path), Names{"blob.dat"});
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
        {"cut in the entries", true, cut(10),
         "blob.dat looks truncated or damaged: its last word, the entry count, reads 3014832547 "
         "(a pack holds at most 32 entries)"},
        {"cut in the directory", true, cut(24), "is truncated"},
        {"cut in the count", true, cut(31), "looks truncated or damaged"},
        {"count 33", true, count33,
         "looks truncated or damaged: its last word, the entry count, reads 33 "},
        {"count 2^32-1", true, countMax, "entry count, reads 4294967295 "},
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
    // Run by the installed launcher, every such box also says how to get
    // the default files back.
    const std::string hint =
        " Run `velkorandi --reset` to put the default files back (yours are moved to a backup "
        "folder).";
    for (bool launcher : {false, true}) {
        if (launcher) {
            setenv("VELKORANDI_LAUNCHER", "1", 1);
        } else {
            unsetenv("VELKORANDI_LAUNCHER");
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (launcher ? ", launcher" : ""));
            fs::remove(path);
            if (c.exists) write_file(path, c.bytes);
            fake_platform::reset();

            EXPECT_NE(read_pack(), 0);
            ASSERT_EQ(fake_platform::boxes().size(), 1u);
            const std::string& box = fake_platform::boxes()[0];
            EXPECT_EQ(box.rfind("read_pack: " + path + " ", 0), 0u) << box;
            EXPECT_NE(box.find(c.problem), std::string::npos) << box;
            const bool hinted = box.size() > hint.size() &&
                                box.compare(box.size() - hint.size(), hint.size(), hint) == 0;
            EXPECT_EQ(hinted, launcher) << box;
            EXPECT_EQ(fake_platform::console(), "");

            PackEntry entry{};
            take_entry("pool/up.pcx", &entry);
            EXPECT_EQ(entry.data, nullptr);
            EXPECT_EQ(write_pack(), 1);
            EXPECT_EQ(fs::exists(path), c.exists);
            if (c.exists) {
                EXPECT_EQ(read_file(path), c.bytes);
            }
            EXPECT_EQ(names_in(dir.path), c.exists ? Names{"blob.dat"} : Names{});
            EXPECT_EQ(fake_platform::boxes().size(), 1u);
        }
    }
    unsetenv("VELKORANDI_LAUNCHER");
}

TEST_F(Pack, FailedWriteLeavesTheOldPackInPlace) {
    const Bytes old = make_pack({filled(100000, 3), {9}});

    // The temporary file cannot be created: no descriptor is left for it.
    write_file(path, old);
    ASSERT_EQ(read_pack(), 0);
    fake_platform::reset();
    {
        const int lowest_free = dup(0);
        close(lowest_free);
        ScopedLimit files(RLIMIT_NOFILE, static_cast<rlim_t>(lowest_free));
        EXPECT_EQ(write_pack(), -1);
    }
    EXPECT_EQ(read_file(path), old);
    EXPECT_EQ(fake_platform::boxes(), Names{"write_pack: cannot create a temporary file beside " +
                                            path + " (Too many open files); it is left as it was"});
    // The console still lists what was to be written.
    EXPECT_NE(fake_platform::console().find("io are out! 100001 bytes read in 2 files,\n"),
              std::string::npos);
    EXPECT_EQ(names_in(dir.path), Names{"blob.dat"});

    // The file may not grow past 50000 bytes, as on a full disk: a short
    // entry reports "krr", and the half-written file is removed.
    ASSERT_EQ(read_pack(), 0);
    fake_platform::reset();
    {
        signal(SIGXFSZ, SIG_IGN);
        ScopedLimit size(RLIMIT_FSIZE, 50000);
        EXPECT_EQ(write_pack(), -1);
    }
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(read_file(path), old);
    EXPECT_EQ(fake_platform::boxes(),
              (Names{"krr 49996 100000", "krr 0 1",
                     "write_pack: writing the new " + path +
                         " failed (File too large); the old one is left as it was"}));
    EXPECT_EQ(names_in(dir.path), Names{"blob.dat"});
}

// Other files beside the pack are never written, whatever their names: two
// instances must not share a temporary file, and a file a user left under
// the old fixed name is theirs.
TEST_F(Pack, TemporaryFilesAreNewFilesOfTheirOwn) {
    const Bytes pack = make_pack({{1, 2, 3}, {4, 5}});
    const Bytes theirs = {7, 7, 7};
    write_file(path, pack);
    write_file(dir.file("blob.dat.tmp"), theirs);
    fs::create_symlink("/dev/full", dir.file(".blob.dat.tmp"));
    ASSERT_EQ(read_pack(), 0);
    fake_platform::reset();
    EXPECT_EQ(write_pack(), 0);
    EXPECT_TRUE(fake_platform::boxes().empty());
    EXPECT_EQ(read_file(path), pack);
    EXPECT_EQ(read_file(dir.file("blob.dat.tmp")), theirs);
    EXPECT_EQ(names_in(dir.path), (Names{".blob.dat.tmp", "blob.dat", "blob.dat.tmp"}));
}

// The pack is replaced only while it is the file that was read. A file put in
// its place meanwhile is kept, with a box unless it already holds the pack.
TEST_F(Pack, WriteBackReplacesOnlyTheFileItRead) {
    const Bytes pack = make_pack({{1, 2, 3}, {4, 5}});
    const Bytes other = make_pack({{1, 2, 3}, {4, 6}});  // same size, one byte differs
    const Bytes bigger = make_pack({{1, 2, 3}, {4, 5}, {6}});
    const std::string staged = dir.file("staged");
    auto put_in_place = [&](const Bytes& bytes) {
        write_file(staged, bytes);
        fs::rename(staged, path);
    };
    const std::string kept = "write_pack: " + path +
                             " was changed while the presentation ran; the new file is kept and "
                             "the pack read at start-up is not written back";

    struct Case {
        const char* what;
        std::function<void()> meanwhile;
        Bytes after;      // blob.dat once written back
        bool written;     // a new file of this run's was put in place
        const char* box;  // nullptr: none
    };
    const std::vector<Case> cases = {
        {"still the file read", [] {}, pack, true, nullptr},
        {"replaced by the same bytes", [&] { put_in_place(pack); }, pack, false, nullptr},
        {"replaced by another pack", [&] { put_in_place(bigger); }, bigger, false, kept.c_str()},
        {"rewritten in place", [&] { write_file(path, bigger); }, bigger, false, kept.c_str()},
        {"rewritten in place, same size and time",
         [&] {
             struct stat before {};
             stat(path.c_str(), &before);
             std::this_thread::sleep_for(std::chrono::milliseconds(20));
             write_file(path, other);
             const timespec times[2] = {before.st_atim, before.st_mtim};
             utimensat(AT_FDCWD, path.c_str(), times, 0);
         },
         other, false, kept.c_str()},
        {"only its mode changed", [&] { fs::permissions(path, fs::perms(0600)); }, pack, false,
         nullptr},
        {"removed", [&] { fs::remove(path); }, pack, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path);
        write_file(path, pack);
        ASSERT_EQ(read_pack(), 0);
        c.meanwhile();
        const ino_t before = inode_of(path);
        fake_platform::reset();

        EXPECT_EQ(write_pack(), c.box ? -1 : 0);
        EXPECT_EQ(read_file(path), c.after);
        EXPECT_EQ(inode_of(path) != before, c.written);
        EXPECT_EQ(fake_platform::boxes(), c.box ? Names{c.box} : Names{});
        EXPECT_EQ(names_in(dir.path), Names{"blob.dat"});
    }
}

// A writer waits while another holds the folder's lock for its
// compare-and-rename, and writers that race each other leave one whole pack,
// no temporary file and no box.
TEST_F(Pack, WritersTakeTurns) {
    const Bytes pack = make_pack({filled(300000, 1), filled(5000, 2), {3}});
    write_file(path, pack);
    ASSERT_EQ(read_pack(), 0);
    const ino_t first = inode_of(path);
    {
        FolderLock lock(dir.path);
        ASSERT_GE(lock.fd, 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(lock.fd);  // the lock is the parent's alone
            _exit(write_pack() == 0 && fake_platform::boxes().empty() ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_EQ(inode_of(path), first) << "replaced while another writer held the lock";
        lock.release();
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(inode_of(path), first);
        EXPECT_EQ(read_file(path), pack);
    }

    constexpr int kWriters = 4;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        write_file(dir.file("staged"), pack);
        fs::rename(dir.file("staged"), path);
        ASSERT_EQ(read_pack(), 0);
        // All children block on the pipe until the parent closes it: they
        // start writing back at one moment, as instances quitting together.
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < kWriters; ++i) {
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                close(gate[1]);
                char byte;
                while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
                }
                _exit(write_pack() == 0 && fake_platform::boxes().empty() ? 0 : 1);
            }
            children.push_back(child);
        }
        close(gate[0]);
        close(gate[1]);
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        EXPECT_EQ(read_file(path), pack);
        EXPECT_EQ(names_in(dir.path), Names{"blob.dat"});
    }
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
        for (const std::string& folder : {dir.path, dir.file("elsewhere")})
            for (const std::string& name : names_in(folder))
                EXPECT_NE(name[0], '.') << "a temporary file is left: " << name;
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
    EXPECT_EQ(names_in(dir.path), (Names{"root-0644.dat", "shared-0666.dat"}));
}

}  // namespace

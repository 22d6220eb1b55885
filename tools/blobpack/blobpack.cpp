// blobpack: makes, inspects and takes apart the presentation's resource pack
// (blob.dat): five PCX pictures (up, down, demo2, trevak, mono) and one MP3.
#include <cctype>
#include <cerrno>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/presentation.h"
#include "entry_probe.h"
#include "pack_file.h"
#include "pcx_writer.h"
#include "png_reader.h"
#include "resources/replace_file.h"

namespace {

namespace fs = std::filesystem;

// What each entry is to the presentation, by place.
const char* const kRoles[kPresentationEntries] = {"up", "down", "demo2", "trevak", "mono", "music"};

const char kUsage[] =
    "usage: blobpack COMMAND ...\n"
    "\n"
    "  blobpack list FILE      show each entry: offset, size and what it holds\n"
    "  blobpack verify FILE    check that FILE is what the presentation needs:\n"
    "                          five PCX pictures it can decode, then an MP3\n"
    "  blobpack extract FILE DIR\n"
    "                          write the entries to DIR as 0-up.pcx, 1-down.pcx,\n"
    "                          2-demo2.pcx, 3-trevak.pcx, 4-mono.pcx, 5-music.mp3\n"
    "  blobpack build FILE UP DOWN DEMO2 TREVAK MONO MUSIC\n"
    "                          write a new pack FILE; pictures may be PCX (taken\n"
    "                          as they are) or PNG (converted: one plane with a\n"
    "                          palette for 256 colours or fewer, else three);\n"
    "                          MUSIC is an MP3. FILE is replaced only once it\n"
    "                          has been written completely.\n"
    "  blobpack --help         this text\n"
    "\n"
    "Exit status: 0 success, 1 a file is missing, unreadable or not usable,\n"
    "2 bad arguments.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "blobpack: %s\n\n%s", message.c_str(), kUsage);
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "blobpack: %s\n", message.c_str());
    return 1;
}

std::string extension_for(EntryKind kind) {
    return kind == EntryKind::kPicture ? ".pcx" : kind == EntryKind::kMusic ? ".mp3" : ".bin";
}

std::string role_of(size_t index) { return index < kPresentationEntries ? kRoles[index] : "extra"; }

int list(const std::string& path) {
    PackFile pack;
    std::string error;
    if (!load_pack_file(path, &pack, &error)) return fail(error);
    std::printf("%s: %zu entries, %llu bytes\n", path.c_str(), pack.entries.size(),
                static_cast<unsigned long long>(pack.fileSize));
    std::printf("%3s %10s %10s  %s\n", "#", "offset", "size", "contents");
    for (size_t i = 0; i < pack.entries.size(); ++i) {
        const PackFileEntry& e = pack.entries[i];
        EntryReport report = probe_entry(e.bytes);
        std::printf("%3zu %10u %10zu  %s\n", i, e.actualOffset, e.bytes.size(),
                    report.summary.c_str());
        if (e.offset != e.actualOffset)
            std::printf("%25s  (the directory says offset %u; entries are read back to back)\n", "",
                        e.offset);
    }
    if (pack.magic != kPackMagic)
        std::printf("note: magic word is 0x%08x, not 0x66600999\n", pack.magic);
    if (pack.slack)
        std::printf("note: %llu unused bytes lie between the entries and the directory\n",
                    static_cast<unsigned long long>(pack.slack));
    return 0;
}

int verify(const std::string& path) {
    PackFile pack;
    std::string error;
    if (!load_pack_file(path, &pack, &error)) return fail(error);
    std::vector<std::string> problems, warnings;
    if (pack.entries.size() < kPresentationEntries)
        problems.push_back("holds " + std::to_string(pack.entries.size()) +
                           " entries; the presentation takes 6 (five pictures, then the music)");
    if (pack.entries.size() > kPresentationEntries)
        warnings.push_back(std::to_string(pack.entries.size() - kPresentationEntries) +
                           " entries after the sixth are never used (they are kept on write-back)");
    for (size_t i = 0; i < pack.entries.size() && i < kPresentationEntries; ++i) {
        const std::vector<uint8_t>& bytes = pack.entries[i].bytes;
        EntryReport report = i < kPictureEntries ? probe_picture(bytes) : probe_music(bytes);
        std::string who = "entry " + std::to_string(i) + " (" + kRoles[i] + ")";
        if (i == kMusicEntry && report.kind != EntryKind::kMusic) {
            problems.push_back(who + ": not a decodable MP3");
            continue;
        }
        for (const std::string& p : report.problems)
            problems.push_back(std::string(who).append(": ").append(p));
        for (const std::string& w : report.warnings)
            warnings.push_back(std::string(who).append(": ").append(w));
    }
    if (pack.magic != kPackMagic) warnings.push_back("the magic word is not 0x66600999");
    for (size_t i = 0; i < pack.entries.size(); ++i)
        if (pack.entries[i].offset != pack.entries[i].actualOffset) {
            warnings.push_back(
                "the directory's offsets are wrong (entries still read back to back)");
            break;
        }
    for (const std::string& w : warnings)
        std::fprintf(stderr, "blobpack: warning: %s: %s\n", path.c_str(), w.c_str());
    if (!problems.empty()) {
        for (const std::string& p : problems)
            std::fprintf(stderr, "blobpack: %s: %s\n", path.c_str(), p.c_str());
        std::fprintf(stderr, "blobpack: %s is not usable by the presentation (%zu problem%s)\n",
                     path.c_str(), problems.size(), problems.size() == 1 ? "" : "s");
        return 1;
    }
    std::printf("%s: good: 5 pictures and %s\n", path.c_str(),
                probe_music(pack.entries[kMusicEntry].bytes).summary.c_str());
    return 0;
}

int extract(const std::string& path, const std::string& dir) {
    PackFile pack;
    std::string error;
    if (!load_pack_file(path, &pack, &error)) return fail(error);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) return fail(dir + ": not a folder and cannot be made one");
    for (size_t i = 0; i < pack.entries.size(); ++i) {
        const std::vector<uint8_t>& bytes = pack.entries[i].bytes;
        EntryKind kind = probe_entry(bytes).kind;
        std::string name = std::to_string(i) + "-" + role_of(i) + extension_for(kind);
        std::string out = (fs::path(dir) / name).string();
        FILE* file = std::fopen(out.c_str(), "wb");
        if (!file) return fail(out + ": " + std::strerror(errno));
        bool good = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        good = std::fclose(file) == 0 && good;
        if (!good) return fail(out + ": write failed");
        std::printf("%s\n", out.c_str());
    }
    return 0;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

bool ends_with(const std::string& text, const char* tail) {
    size_t n = std::strlen(tail);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != tail[i])
            return false;
    return true;
}

// A picture entry from a PCX (checked, kept byte for byte) or a PNG (converted).
bool picture_entry(const std::string& path, const char* role, std::vector<uint8_t>* entry) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!read_whole_file(path, &bytes, &error)) return fail(error), false;
    bool png = bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
    if (png) {
        RgbPicture picture;
        if (!read_png(bytes, &picture, &error)) return fail(path + ": " + error), false;
        if (picture.hadAlpha)
            std::fprintf(stderr, "blobpack: warning: %s: transparency is dropped\n", path.c_str());
        if (picture.width % 2)
            std::fprintf(stderr,
                         "blobpack: warning: %s: odd width %u is written without padding, "
                         "as the presentation's decoder needs\n",
                         path.c_str(), picture.width);
        bytes = encode_pcx_best(picture.width, picture.height, picture.rgb.data());
        if (bytes.empty())
            return fail(path + ": " + std::to_string(picture.width) + "x" +
                        std::to_string(picture.height) +
                        " cannot be written as PCX (sides must be 1 to 32768)"),
                   false;
    } else if (!ends_with(path, ".pcx") && !(bytes.size() >= 128 && bytes[0] == 10)) {
        return fail(path + ": neither a PNG nor a PCX picture"), false;
    }
    EntryReport report = probe_picture(bytes);
    for (const std::string& w : report.warnings)
        std::fprintf(stderr, "blobpack: warning: %s (%s): %s\n", path.c_str(), role, w.c_str());
    if (!report.problems.empty()) {
        for (const std::string& p : report.problems)
            std::fprintf(stderr, "blobpack: %s (%s): %s\n", path.c_str(), role, p.c_str());
        return false;
    }
    std::printf("%-7s %s: %s%s\n", role, path.c_str(), report.summary.c_str(),
                png ? " (from PNG)" : "");
    *entry = std::move(bytes);
    return true;
}

int build(const std::string& out, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs)
        if (input == out || same_file(input, out))
            return fail("refusing to write the pack over its input " + input);
    std::vector<std::vector<uint8_t>> entries(kPresentationEntries);
    for (uint32_t i = 0; i < kPictureEntries; ++i)
        if (!picture_entry(inputs[i], kRoles[i], &entries[i])) return 1;
    const std::string& music_file = inputs[kMusicEntry];
    std::string error;
    if (!read_whole_file(music_file, &entries[kMusicEntry], &error)) return fail(error);
    EntryReport music = probe_music(entries[kMusicEntry]);
    if (music.kind != EntryKind::kMusic) return fail(music_file + ": not a decodable MP3");
    for (const std::string& w : music.warnings)
        std::fprintf(stderr, "blobpack: warning: %s: %s\n", music_file.c_str(), w.c_str());
    std::printf("%-7s %s: %s\n", "music", music_file.c_str(), music.summary.c_str());

    std::vector<uint8_t> pack = serialise_pack(entries);
    if (!replace_file_with(out, pack, &error)) return fail(error);
    std::printf("%s: 6 entries, %zu bytes\n", out.c_str(), pack.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage_error("no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    auto want = [&](size_t operands) { return args.size() == operands + 1; };
    if (command == "list") return want(1) ? list(args[1]) : usage_error("list takes one FILE");
    if (command == "verify")
        return want(1) ? verify(args[1]) : usage_error("verify takes one FILE");
    if (command == "extract")
        return want(2) ? extract(args[1], args[2]) : usage_error("extract takes FILE and DIR");
    if (command == "build") {
        if (!want(7))
            return usage_error(
                "build takes FILE and then six inputs (up down demo2 trevak mono music), got " +
                std::to_string(args.size() - 1) + " arguments");
        return build(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    return usage_error("unknown command '" + command + "'");
}

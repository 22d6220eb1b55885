// picture-maker: draws the five pictures of the default presentation and
// writes them as PCX files into a folder: up.pcx, down.pcx, demo2.pcx,
// trevak.pcx and mono.pcx, in the order the pack holds them. With --icon it
// draws the emblem as a PNG file of a given size instead, the program's icon
// in the desktop menu. The output is the same bytes on every run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pcx_writer.h"
#include "pictures.h"
#include "png_file.h"

namespace {

struct Picture {
    const char* file;
    Canvas (*draw)();
};

const Picture kPictures[] = {
    {"up.pcx", draw_up},         {"down.pcx", draw_down}, {"demo2.pcx", draw_demo2},
    {"trevak.pcx", draw_trevak}, {"mono.pcx", draw_mono},
};

// Icon themes use sides from 16 to 512; the upper bound only keeps a typing
// slip from drawing for minutes.
constexpr int kMinIconSide = 8;
constexpr int kMaxIconSide = 1024;

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: picture-maker FOLDER\n"
                 "       picture-maker --icon SIDE FILE\n"
                 "Draws the default pictures and writes up.pcx, down.pcx, demo2.pcx,\n"
                 "trevak.pcx and mono.pcx (512 x 512) into FOLDER, which must exist.\n"
                 "With --icon, draws the emblem SIDE pixels square (%d to %d) as the\n"
                 "PNG file FILE instead.\n",
                 kMinIconSide, kMaxIconSide);
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

int write_icon(const char* side_text, const std::string& path) {
    char* end = nullptr;
    const long side = std::strtol(side_text, &end, 10);
    if (end == side_text || *end != '\0' || side < kMinIconSide || side > kMaxIconSide) {
        std::fprintf(stderr, "picture-maker: the icon side must be %d to %d pixels, not '%s'\n",
                     kMinIconSide, kMaxIconSide, side_text);
        return 2;
    }
    const Canvas canvas = draw_emblem(static_cast<int>(side));
    std::string error;
    if (!write_png_file(path, canvas, &error)) {
        std::fprintf(stderr, "picture-maker: cannot write %s\n", error.c_str());
        return 1;
    }
    std::printf("%s: %lix%li\n", path.c_str(), side, side);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--icon") == 0) return write_icon(argv[2], argv[3]);
    if (argc != 2) {
        usage(stderr);
        return 2;
    }
    const std::string folder = argv[1];
    for (const Picture& picture : kPictures) {
        Canvas canvas = picture.draw();
        std::vector<uint8_t> pcx =
            encode_pcx_best(static_cast<uint32_t>(canvas.width),
                            static_cast<uint32_t>(canvas.height), canvas.rgb.data());
        const std::string path = folder + "/" + picture.file;
        if (pcx.empty() || !write_file(path, pcx)) {
            std::fprintf(stderr, "picture-maker: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %ix%i, %zu bytes\n", path.c_str(), canvas.width, canvas.height,
                    pcx.size());
    }
    return 0;
}

// picture-maker: draws the five pictures of the default presentation and
// writes them as PCX files into a folder: up.pcx, down.pcx, demo2.pcx,
// trevak.pcx and mono.pcx, in the order the pack holds them. The output is the
// same bytes on every run.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pcx_writer.h"
#include "pictures.h"

namespace {

struct Picture {
    const char* file;
    Canvas (*draw)();
};

const Picture kPictures[] = {
    {"up.pcx", draw_up},         {"down.pcx", draw_down}, {"demo2.pcx", draw_demo2},
    {"trevak.pcx", draw_trevak}, {"mono.pcx", draw_mono},
};

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: picture-maker FOLDER\n"
                 "Draws the default pictures and writes up.pcx, down.pcx, demo2.pcx,\n"
                 "trevak.pcx and mono.pcx (512 x 512) into FOLDER, which must exist.\n");
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
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

#include "capture_content.h"

#include <lame/lame.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/audio_format.h"

namespace {

void put16(Bytes& out, size_t at, int value) {
    out[at] = static_cast<uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

Bytes pcx_header(int width, int height, int planes) {
    Bytes header(128, 0);
    header[0] = 10;  // manufacturer
    header[1] = 5;   // version
    header[2] = 1;   // run-length encoded
    header[3] = 8;   // bits per plane
    put16(header, 8, width - 1);
    put16(header, 10, height - 1);
    header[65] = static_cast<uint8_t>(planes);
    put16(header, 66, width);  // bytes per line
    put16(header, 68, 1);
    return header;
}

// Runs of up to 63 within one plane line; a lone value of 192 or more is a run of one.
void encode_line(Bytes& out, const uint8_t* line, int length) {
    int x = 0;
    while (x < length) {
        int run = 1;
        while (x + run < length && run < 63 && line[x + run] == line[x]) ++run;
        if (run > 1 || line[x] >= 192) out.push_back(static_cast<uint8_t>(192 + run));
        out.push_back(line[x]);
        x += run;
    }
}

}  // namespace

Bytes make_pcx_rgb(int width, int height, const Bytes& rgb) {
    Bytes out = pcx_header(width, height, 3);
    std::vector<uint8_t> plane(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int channel = 0; channel < 3; ++channel) {
            for (int x = 0; x < width; ++x)
                plane[x] = rgb[(static_cast<size_t>(y) * width + x) * 3 + channel];
            encode_line(out, plane.data(), width);
        }
    }
    return out;
}

Bytes make_pcx_indexed(int width, int height, const Bytes& indices, const Bytes& palette) {
    Bytes out = pcx_header(width, height, 1);
    for (int y = 0; y < height; ++y)
        encode_line(out, &indices[static_cast<size_t>(y) * width], width);
    out.push_back(12);
    out.insert(out.end(), palette.begin(), palette.end());
    return out;
}

Bytes make_mp3(double seconds) {
    const int frames = static_cast<int>(seconds * kAudioRate);
    std::vector<short> pcm(static_cast<size_t>(frames) * 2);
    double phase = 0.0;
    for (int i = 0; i < frames; ++i) {
        // A rising sweep on the left and a steady tone on the right: every
        // stretch of the sound differs from every other.
        const double t = static_cast<double>(i) / kAudioRate;
        phase += 2.0 * M_PI * (220.0 + 200.0 * t) / kAudioRate;
        pcm[i * 2] = static_cast<short>(9000.0 * std::sin(phase));
        pcm[i * 2 + 1] = static_cast<short>(7000.0 * std::sin(2.0 * M_PI * 330.0 * t));
    }
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, kAudioRate);
    lame_set_out_samplerate(lame, kAudioRate);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 7);
    lame_init_params(lame);
    Bytes mp3(static_cast<size_t>(1.25 * frames + 7200) + 16384);
    int size = lame_encode_buffer_interleaved(lame, pcm.data(), frames, mp3.data(),
                                              static_cast<int>(mp3.size()));
    size += lame_encode_flush(lame, mp3.data() + size, static_cast<int>(mp3.size()) - size);
    mp3.resize(static_cast<size_t>(size));
    // The first frame is a placeholder for the LAME tag, which tells decoders
    // the encoder's delay and padding (gapless decoding).
    unsigned char tag[4096];
    const size_t tag_size = lame_get_lametag_frame(lame, tag, sizeof tag);
    if (tag_size > 0 && tag_size <= mp3.size()) std::copy(tag, tag + tag_size, mp3.begin());
    lame_close(lame);
    return mp3;
}

std::string make_config(int width, int height, int viewport_width, int viewport_height) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "<config><window><width>%d</width><height>%d</height>"
                  "<caption>capture test</caption><depth>32</depth><fullscreen>0</fullscreen>"
                  "<halign>1</halign><valign>1</valign></window>"
                  "<viewport><width>%d</width><height>%d</height></viewport>"
                  "<audio><enabled>1</enabled><okkie>1</okkie></audio></config>\n",
                  width, height, viewport_width, viewport_height);
    return text;
}

void stage_presentation(const ScratchDir& dir, double seconds) {
    constexpr int kSide = 64;
    std::vector<Bytes> entries;
    for (int picture = 0; picture < 5; ++picture) {
        Bytes rgb(kSide * kSide * 3);
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                uint8_t* p = &rgb[(static_cast<size_t>(y) * kSide + x) * 3];
                // Red grows to the right, blue downward, green marks the picture;
                // a bright block in the top-left corner breaks every symmetry.
                p[0] = static_cast<uint8_t>(x * 4);
                p[1] = static_cast<uint8_t>(40 * picture + 20);
                p[2] = static_cast<uint8_t>(y * 4);
                if (x < 12 && y < 8) p[0] = p[1] = p[2] = 250;
            }
        }
        if (picture == 4) {
            // The last one as a palette picture, the other layout the decoder reads.
            Bytes indices(kSide * kSide), palette(768);
            for (int i = 0; i < 256; ++i) {
                palette[i * 3] = static_cast<uint8_t>(i);
                palette[i * 3 + 1] = static_cast<uint8_t>(255 - i);
                palette[i * 3 + 2] = static_cast<uint8_t>((i * 7) & 0xFF);
            }
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x)
                    indices[y * kSide + x] = static_cast<uint8_t>(x * 3 + y);
            entries.push_back(make_pcx_indexed(kSide, kSide, indices, palette));
        } else {
            entries.push_back(make_pcx_rgb(kSide, kSide, rgb));
        }
    }
    entries.push_back(make_mp3(seconds));
    write_file(dir.file("blob.dat"), make_pack(entries));
    write_file(dir.file("music.mp3"), entries.back());
    const std::string config = make_config(400, 300, 16, 10);
    write_file(dir.file("config.xml"), Bytes(config.begin(), config.end()));
}

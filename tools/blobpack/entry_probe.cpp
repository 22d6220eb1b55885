#include "entry_probe.h"

#include <mpg123.h>

#include <sys/types.h>

#include <cstdio>
#include <cstring>

#include "platform/audio_format.h"
#include "resources/pcx_decoder.h"

namespace {

constexpr uint32_t kBufferWords = 1048576;  // the program's 4 MiB picture buffer

std::string format(const char* fmt, double a = 0, double b = 0, double c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

// mpg123 reads the entry from memory through these.
struct MemorySource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

mpg123_ssize_t read_memory(void* handle, void* out, size_t count) {
    auto* source = static_cast<MemorySource*>(handle);
    size_t left = source->size - source->pos;
    if (count > left) count = left;
    if (count) std::memcpy(out, source->data + source->pos, count);
    source->pos += count;
    return static_cast<mpg123_ssize_t>(count);
}

off_t seek_memory(void* handle, off_t offset, int whence) {
    auto* source = static_cast<MemorySource*>(handle);
    off_t base = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? off_t(source->pos)
                                      : off_t(source->size);
    off_t target = base + offset;
    if (target < 0 || target > off_t(source->size)) return -1;
    source->pos = static_cast<size_t>(target);
    return target;
}

}  // namespace

bool is_power_of_two(uint32_t value) { return value && !(value & (value - 1)); }

EntryReport probe_picture(const std::vector<uint8_t>& bytes) {
    EntryReport r;
    r.kind = EntryKind::kPicture;
    uint32_t size = bytes.size() > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes.size());
    PcxHeader h = read_pcx_header(bytes.data(), size);
    if (h.fault != kPcxGood) {
        r.summary = "PCX? (" + std::string(describe_pcx_fault(h.fault)) + ")";
        r.problems.push_back(describe_pcx_fault(h.fault));
        return r;
    }
    r.width = h.width, r.height = h.height, r.planes = h.planes;
    r.summary = "PCX " + std::to_string(h.width) + "x" + std::to_string(h.height) + ", " +
                (h.planes == 1 ? "1 plane (palette)" : std::to_string(h.planes) + " planes (RGB)");
    if (bytes[0] != 10) r.problems.push_back("not a PCX file (manufacturer byte is not 10)");
    if (h.planes == 2) r.problems.push_back("2 planes: only 1 (palette) or 3 (RGB) decode fully");
    if (h.bitsPerPlane != 8)
        r.problems.push_back(std::to_string(h.bitsPerPlane) +
                             " bits per plane, the decoder needs 8");
    if (h.bytesPerLine != static_cast<int>(h.width))
        r.problems.push_back("bytes per line " + std::to_string(h.bytesPerLine) +
                             " differ from the width " + std::to_string(h.width) +
                             " (padded lines would shear the picture)");
    uint64_t pixels = uint64_t(h.width) * h.height;
    if (pixels > kBufferWords) {
        r.problems.push_back(std::to_string(pixels) + " pixels do not fit the picture buffer of " +
                             std::to_string(kBufferWords));
    } else if (r.problems.empty()) {
        std::vector<uint32_t> buffer(kBufferWords);
        PcxImage image{};
        image.pixels = buffer.data();
        PcxDecodeResult result = decode_pcx_pixels(&image, bytes.data(), size, kBufferWords);
        // The program refuses what its decoder refuses; say so here first.
        if (result.fault != kPcxGood)
            r.problems.push_back(describe_pcx_fault(result.fault));
        else if (h.planes == 1 && result.paletteMisplaced)
            r.problems.push_back("the palette ends at byte " + std::to_string(result.paletteEnd) +
                                 " instead of the end of the entry, " + std::to_string(size));
    }
    if (!is_power_of_two(h.width) || !is_power_of_two(h.height))
        r.warnings.push_back("sides " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                             " are not powers of two, which OpenGL 1.1 cannot upload");
    return r;
}

EntryReport probe_music(const std::vector<uint8_t>& bytes) {
    EntryReport r;
    r.kind = EntryKind::kMusic;
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh) {
        r.kind = EntryKind::kUnknown;
        r.problems.push_back(std::string("libmpg123: ") + mpg123_plain_strerror(err));
        return r;
    }
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Random bytes can look like a frame header now and then; do not hunt far.
    mpg123_param(mh, MPG123_RESYNC_LIMIT, 2048, 0);
    MemorySource source{bytes.data(), bytes.size(), 0};
    long rate = 0;
    int channels = 0, encoding = 0;
    off_t samples = 0;
    bool ok = mpg123_replace_reader_handle(mh, read_memory, seek_memory, nullptr) == MPG123_OK &&
              mpg123_open_handle(mh, &source) == MPG123_OK && mpg123_scan(mh) == MPG123_OK &&
              mpg123_getformat(mh, &rate, &channels, &encoding) == MPG123_OK &&
              (samples = mpg123_length(mh)) > 0 && rate > 0;
    if (ok) {
        // Decode it all: a stream that only starts like MP3 is no use.
        unsigned char out[16384];
        size_t done = 0;
        int status;
        long reads = 0;
        while ((status = mpg123_read(mh, out, sizeof out, &done)) == MPG123_OK ||
               status == MPG123_NEW_FORMAT)
            ++reads;
        ok = status == MPG123_DONE && reads > 0;
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    if (!ok) {
        r.kind = EntryKind::kUnknown;
        r.summary = "unknown, " + std::to_string(bytes.size()) + " bytes";
        r.problems.push_back("not a decodable MP3");
        return r;
    }
    r.rate = rate, r.channels = channels;
    r.seconds = double(samples) / double(rate);
    r.summary = format("MP3 %.2f s, %.0f Hz, ", r.seconds, double(rate)) +
                (channels == 2   ? "stereo"
                 : channels == 1 ? "mono"
                                 : std::to_string(channels) + " channels");
    if (rate != kAudioRate || channels != kAudioChannels)
        r.warnings.push_back("the presentation plays 44100 Hz stereo; other formats are converted");
    return r;
}

EntryReport probe_entry(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 128 && bytes[0] == 10 && bytes[2] == 1) return probe_picture(bytes);
    EntryReport music = probe_music(bytes);
    if (music.kind == EntryKind::kMusic) return music;
    EntryReport unknown;
    unknown.summary = "unknown, " + std::to_string(bytes.size()) + " bytes";
    unknown.problems.push_back("neither a PCX picture nor a decodable MP3");
    return unknown;
}

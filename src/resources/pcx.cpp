#include "resources/pcx.h"

#include <cstring>

#include "platform/diagnostics.h"
#include "resources/pack.h"

void report_pcx(const PcxImage& image, PcxFault fault, uint32_t size, const char* entry) {
    if (fault != kPcxGood) {
        if (entry)
            ErrorBox("decode_pcx: picture of %i bytes refused: %s (entry `%s` of %s)",
                     static_cast<int>(size), describe_pcx_fault(fault), entry, pack_path());
        else
            ErrorBox("decode_pcx: picture of %i bytes refused: %s", static_cast<int>(size),
                     describe_pcx_fault(fault));
    }
    ConsoleLine("[pcx img: %ix%i %i]\n", static_cast<int>(image.width),
                static_cast<int>(image.height), static_cast<int>(image.bits));
}

void decode_pcx(PcxImage* image, const uint8_t* data, uint32_t size, uint32_t capacity,
                const char* entry) {
    PcxDecodeResult result = decode_pcx_pixels(image, data, size, capacity);
    report_pcx(*image, result.fault, size, entry);
}

// Always 0: kept so, a picture that fails is told by its report, not here.
int load_picture(const char* name, PcxImage* image, uint32_t capacity) {
    PackEntry entry{};
    take_entry(name, &entry);
    char label[64];
    decode_pcx(image, entry.data, entry.size, capacity, entry_label(name, label));
    release_entry(name, &entry);
    return 0;
}

const char* entry_label(const char* name, char (&out)[64]) {
    if (!name) name = "";
    const char* slash = std::strrchr(name, '/');
    const char* start = slash ? slash + 1 : name;
    const char* dot = std::strrchr(start, '.');
    size_t length = dot && dot != start ? static_cast<size_t>(dot - start) : std::strlen(start);
    if (length >= sizeof out) length = sizeof out - 1;
    std::memcpy(out, start, length);
    out[length] = '\0';
    return out;
}

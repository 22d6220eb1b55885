#include "resources/pcx.h"

#include "resources/pack.h"
#include "shell/diagnostics.h"

void decode_pcx(PcxImage* image, const uint8_t* data, uint32_t size, uint32_t capacity) {
    PcxDecodeResult result = decode_pcx_pixels(image, data, size, capacity);
    if (result.fault != kPcxGood) {
        ErrorBox("decode_pcx: picture of %i bytes refused: %s", static_cast<int>(size),
                 describe_pcx_fault(result.fault));
    } else if (result.planes == 1 && result.paletteMisplaced) {
        ErrorBox("%i / %i ", static_cast<int>(result.paletteEnd), static_cast<int>(size));
    }
    ConsoleLine("[pcx img: %ix%i %i]\n", static_cast<int>(image->width),
                static_cast<int>(image->height), static_cast<int>(image->bits));
}

int load_picture(const char* name, PcxImage* image, uint32_t capacity) {
    PackEntry entry{};
    take_entry(name, &entry);
    decode_pcx(image, entry.data, entry.size, capacity);
    release_entry(name, &entry);
    return 0;
}

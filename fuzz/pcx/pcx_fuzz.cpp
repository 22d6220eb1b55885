// decode_pcx on arbitrary bytes, into a buffer exactly as large as the
// capacity it is given, so that any write or read out of bounds is caught.
// The first two bytes (manufacturer and version, which the decoder does not
// read) choose the capacity, so small and large buffers are both exercised.
// The decoder's notes and boxes go to standard output and standard error
// (the standard-streams platform); -close_fd_mask=3 keeps them off the
// terminal, while libFuzzer and the sanitizers still report.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "resources/pcx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    uint32_t capacity = size >= 2 ? (data[0] | data[1] << 8) % 20000 : 16;
    std::vector<uint32_t> pixels(capacity, 0x5A5A5A5A);
    PcxImage image{};
    image.pixels = pixels.data();
    decode_pcx(&image, data, static_cast<uint32_t>(size), capacity);
    return 0;
}

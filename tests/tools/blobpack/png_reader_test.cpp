// The PNG reader of the pack tool keeps the file's own sample values: 16-bit
// samples scaled to 8 bits, transparency laid over black, every colour type
// expanded to RGB.
#include "png_reader.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Sink {
    std::vector<uint8_t> bytes;
};

void append_to_sink(png_structp png, png_bytep data, size_t count) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    sink->bytes.insert(sink->bytes.end(), data, data + count);
}

void flush(png_structp) {}

// One row of `width` samples of the given colour type and depth, no gamma chunk.
std::vector<uint8_t> make_png(uint32_t width, int colour_type, int depth,
                              std::vector<uint8_t> row) {
    Sink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &sink, append_to_sink, flush);
    png_set_IHDR(png, info, width, 1, depth, colour_type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return sink.bytes;
}

TEST(PngReader, KeepsTheFilesOwnValues) {
    RgbPicture picture;
    std::string error;

    // 16-bit grey 8000 of 65535 is 31 of 255, not a linear-light conversion.
    auto grey16 = make_png(2, PNG_COLOR_TYPE_GRAY, 16, {0x1F, 0x40, 0xFF, 0xFF});
    ASSERT_TRUE(read_png(grey16, &picture, &error)) << error;
    EXPECT_EQ(picture.rgb, (std::vector<uint8_t>{31, 31, 31, 255, 255, 255}));
    EXPECT_FALSE(picture.hadAlpha);

    // Grey with alpha is laid over black by a plain blend.
    auto grey_alpha = make_png(1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {16, 245});
    ASSERT_TRUE(read_png(grey_alpha, &picture, &error)) << error;
    EXPECT_EQ(picture.rgb, (std::vector<uint8_t>{15, 15, 15}));
    EXPECT_TRUE(picture.hadAlpha);

    // 16-bit RGB: v x 257 is exactly v in 8 bits.
    auto rgb16 = make_png(1, PNG_COLOR_TYPE_RGB, 16, {200, 200, 100, 100, 50, 50});
    ASSERT_TRUE(read_png(rgb16, &picture, &error)) << error;
    EXPECT_EQ(picture.rgb, (std::vector<uint8_t>{200, 100, 50}));
}

TEST(PngReader, RefusesDamagedFilesWithAReason) {
    RgbPicture picture;
    std::string error;
    auto good = make_png(2, PNG_COLOR_TYPE_GRAY, 8, {1, 2});
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    EXPECT_FALSE(read_png(cut, &picture, &error));
    EXPECT_NE(error.find("not a readable PNG"), std::string::npos);
    EXPECT_FALSE(read_png(std::vector<uint8_t>{'n', 'o', 'p', 'e'}, &picture, &error));
    EXPECT_FALSE(read_png({}, &picture, &error));
}

}  // namespace

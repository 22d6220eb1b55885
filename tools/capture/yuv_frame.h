// Frames for the lossy encoders as yuv420p (BT.709, limited range), made
// here from the pixels read back, a band of rows at a time: 1.5 bytes a
// pixel go down the pipe instead of BGRA's 4, and ffmpeg has no conversion
// left to do.
// Each 2 x 2 block of pixels gets the average of their colour differences
// (chroma sited at the block's centre).
//
// A frame goes out as its Y plane (rows from the top) and then its U and V
// planes, which are kept here until the last band: width x height / 2 bytes,
// against the width x height x 4 of a whole BGRA frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct YuvFrame {
    int width;  // both even
    int height;
    std::vector<uint8_t> luma;    // one band of Y rows
    std::vector<uint8_t> chroma;  // the whole U plane, then the whole V plane
};

YuvFrame make_yuv_frame(int width, int height, int band_rows);
// Converts rows first_row .. first_row + rows - 1 of the frame (counted from
// the top; first_row and rows even) from bgra, which holds them bottom row
// first as glReadPixels gives them, width * 4 bytes a row. Their Y rows go to
// frame->luma, their chroma into frame->chroma.
void convert_band(YuvFrame* frame, const uint8_t* bgra, int first_row, int rows);

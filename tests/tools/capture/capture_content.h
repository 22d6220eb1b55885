// Test content for velkorandi-capture: a scratch folder holding config.xml and a
// blob.dat of five small PCX pictures and a short MP3, all made here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

// A three-plane PCX (RLE, 8 bits a plane) of width x height; rgb holds the
// rows from the top.
Bytes make_pcx_rgb(int width, int height, const Bytes& rgb);
// A one-plane PCX with the 768-byte palette after the marker byte 12.
Bytes make_pcx_indexed(int width, int height, const Bytes& indices, const Bytes& palette);

// A stereo 44100 Hz MP3 (LAME, 128 kbit/s) of a tone sweep, `seconds` long.
Bytes make_mp3(double seconds);

std::string make_config(int width, int height, int viewport_width, int viewport_height);

// config.xml and blob.dat in dir: five 64 x 64 pictures that differ left from
// right and top from bottom (so a mirrored or flipped frame shows), the music
// of make_mp3(seconds), a 400 x 300 window with a 16:10 drawing area.
void stage_presentation(const ScratchDir& dir, double seconds);

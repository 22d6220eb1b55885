// The five textures made from the pack's pictures, rebuilt in every new GL
// context.
#pragma once

#include <cstdint>

struct TextureSetRecord {
    uint32_t pictures[3];   // upPicture, downPicture, demo2Picture, in that order
    uint32_t trevakPicture;
    uint32_t monoPicture;
};

enum PictureSlot { upPicture = 0, downPicture = 1, demo2Picture = 2 };

extern TextureSetRecord TextureSet;

// Needs a current GL context; takes the next five pack entries.
void build_textures();

// Stands in for the texture set where a test checks only when it is built:
// counts the builds instead of decoding pictures.
#include "video/texture_set_stub.h"

TextureSetRecord TextureSet = {{0, 0, 0}, 0, 0};

int texture_builds = 0;

void build_textures() { ++texture_builds; }

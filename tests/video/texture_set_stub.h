// A texture set that only counts how often it is built (texture_set_stub.cpp).
#pragma once

#include "resources/textures.h"

extern int texture_builds;

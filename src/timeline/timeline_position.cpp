#include "timeline/timeline_position.h"

uint32_t timeline_position = 0;

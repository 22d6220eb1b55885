// The timeline position alone, for renderer tests built without the time source.
#include "timeline/time_source.h"

uint32_t timeline_position = 0;

#include "timeline/timeline_position.h"

uint32_t TimelinePosition = 0;

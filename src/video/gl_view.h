// The GL state every frame relies on, for the window of the configured size:
// the letterboxed viewport, the orthographic projection with y growing
// downward, depth testing, and colour and depth buffers that start clear.
// Needs a current GL context; reads Settings and DisplayArea.
#pragma once

void set_up_view();

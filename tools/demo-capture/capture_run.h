// One run of demo-capture: settings and pack read (never written), the
// program's textures built in an offscreen GL context, frames drawn by the
// program's draw_frame at exact timeline positions and saved as PNG files,
// and the sound they span saved as a WAV file.
#pragma once

#include "capture_options.h"

// 0 when everything was written; 1 after a message on standard error.
int run_capture(const CaptureOptions& options);

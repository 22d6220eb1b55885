// One run of velkorandi-capture: settings and pack read (never written), the
// program's textures built in an offscreen GL context of the capture's size,
// frames drawn by the program's draw_frame at exact timeline positions, and
// with the sound they span either encoded into one video file or saved as
// PNG files and a WAV file.
#pragma once

#include "capture_options.h"

// 0 when everything was written; 1 after a message on standard error.
int run_capture(const CaptureOptions& options);

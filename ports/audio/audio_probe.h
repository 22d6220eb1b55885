// Measurement hooks into the audio library, beyond its contract: what the
// audio benchmark and the library's own tests look at to judge the position
// it reports. The program never calls them.
#pragma once

#include "platform/audio_library.h"

// The frames of one device buffer (0 before Init).
int audio_device_buffer_frames();
// The position of the start of the buffer being heard, in bytes, without the
// smoothing BASS_ChannelGetPosition applies between device periods;
// (QWORD)-1 for a bad handle.
QWORD audio_channel_buffer_position(DWORD handle);

// The recording audio library: implements the nine operations of
// platform/audio_library.h without any sound, logs each call with its
// arguments in order and returns what the test configured. Link it instead
// of audio_library.
//
// Calls are recorded as "Name(arg,arg,...)": integers and handles in decimal,
// a null pointer as NULL and any other pointer as &.
#pragma once

#include <string>
#include <vector>

#include "platform/audio_library.h"

namespace fake_audio {

// Defaults after reset(): version 2.3, Init succeeds, streams get kStream,
// every other call succeeds, positions read 0, error code BASS_OK.
constexpr DWORD kVersion = 0x02030000;
constexpr HSTREAM kStream = 0x1001;

void reset();

const std::vector<std::string>& calls();
std::vector<std::string> calls_named(const std::vector<std::string>& names);
void clear_calls();

void set_version(DWORD version);
// Init returns FALSE and BASS_ErrorGetCode then gives code.
void fail_init(int code);
// The handle StreamCreateFile returns (0 makes it fail with code).
void set_stream(HSTREAM handle, int code = BASS_ERROR_FILEOPEN);
// The next `results` SetPosition calls return these in turn (FALSE sets the
// error code given); after them every call succeeds again.
void queue_set_position(const std::vector<BOOL>& results, int code = BASS_ERROR_POSITION);
// GetPosition returns these values in turn; the last one repeats.
void queue_positions(const std::vector<QWORD>& positions);
// The code BASS_ErrorGetCode returns from now on (until a call sets another).
void set_error(int code);

// What StreamCreateFile was given.
const void* last_stream_data();
QWORD last_stream_length();

}  // namespace fake_audio

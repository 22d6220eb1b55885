// The audio library: the nine operations the time source calls, with the
// names and contracts of the BASS 2.3 interface the program was written for.
//
// Two implementations exist and the build picks one per executable:
//   ports/audio/               the real one: libmpg123 decodes, the sound server
//                              (libpulse) or SDL2 audio plays
//   tests/fakes/audio_fake     a recorder for tests
//
// Positions are byte counts of the decoded stream, always in the output
// format of platform/audio_format.h: 16-bit stereo at 44100 Hz (4 bytes per
// sample frame, 176400 per second).
//
// Error codes: every call sets the code BASS_ErrorGetCode returns, BASS_OK
// when it succeeds. The failures:
//   BASS_ERROR_MEM       StreamCreateFile: no memory, or all 16 stream slots in use
//   BASS_ERROR_DRIVER    Init: no sound server answered, and SDL has no audio
//                        driver or no device could be opened
//   BASS_ERROR_HANDLE    Channel*, StreamFree: not the handle of a live stream
//   BASS_ERROR_FORMAT    Init: a rate other than 44100;
//                        StreamCreateFile: MP3 frames libmpg123 cannot decode to 16 bits
//   BASS_ERROR_POSITION  ChannelSetPosition: at or past the end (nothing changes)
//   BASS_ERROR_INIT      StreamCreateFile, Free: Init has not succeeded (or Free ran)
//   BASS_ERROR_ALREADY   Init: already initialised
//   BASS_ERROR_ILLPARAM  StreamCreateFile: null data or zero length
//   BASS_ERROR_DEVICE    Init: a device other than -1 (the default) or 1 (the first)
//   BASS_ERROR_NOTAVAIL  StreamCreateFile: from a file name (only memory is
//                        supported), or a flag other than BASS_STREAM_PRESCAN
//   BASS_ERROR_FILEFORM  StreamCreateFile: the data holds no MP3 audio
#pragma once

#include <cstdint>

#include "platform/platform.h"

typedef uint64_t QWORD;
typedef DWORD HSTREAM;

#define BASS_STREAM_PRESCAN 0x20000

#define BASS_OK 0
#define BASS_ERROR_MEM 1
#define BASS_ERROR_FILEOPEN 2  // not set by this implementation (no files are opened)
#define BASS_ERROR_DRIVER 3
#define BASS_ERROR_HANDLE 5
#define BASS_ERROR_FORMAT 6
#define BASS_ERROR_POSITION 7
#define BASS_ERROR_INIT 8
#define BASS_ERROR_ALREADY 14
#define BASS_ERROR_ILLPARAM 20
#define BASS_ERROR_DEVICE 23
#define BASS_ERROR_NOTAVAIL 37
#define BASS_ERROR_FILEFORM 41
#define BASS_ERROR_UNKNOWN (-1)

// 0x02030000: version 2.3.
DWORD BASS_GetVersion();
// Opens the default output device (device -1) at 44100 Hz, 16-bit stereo.
// window and device_id are accepted and not used.
BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND window, const void* device_id);
int BASS_ErrorGetCode();
// A stream on length bytes at file + offset (mem must be TRUE). The bytes stay
// the caller's and must stay valid until BASS_StreamFree. The whole stream is
// always scanned, so positions and seeks are sample-exact with or without
// BASS_STREAM_PRESCAN. Returns 0 on failure.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
// Starts or resumes playback (restart: from the beginning). A stream that has
// played to its end starts again from the beginning. Playback begins with the
// device period after the caller's next call on the channel, or after 250 ms
// if none comes, so a position set right after Play is the first thing heard.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
// Moves to byte pos (rounded down to a whole sample frame); playing or not.
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos);
// The position being heard now, in bytes; (QWORD)-1 for a bad handle.
QWORD BASS_ChannelGetPosition(DWORD handle);
// Stops playback; the position stays where it was heard, and Play resumes there.
BOOL BASS_ChannelStop(DWORD handle);
BOOL BASS_StreamFree(HSTREAM handle);

// Beyond the nine, ours: starts opening the output device on a thread of the
// library's own (connecting to a sound server takes from one to tens of
// milliseconds), so that the caller can do other work before BASS_Init,
// which then takes the device so opened, or opens one itself as it would
// have without this call. Says nothing and sets no error code; what was
// opened ahead and never taken is closed by audio_library_end. Does nothing
// after Init.
void audio_library_prepare_output();

// Beyond the nine, ours: the end of the library, which a program calls last
// in its shutdown: frees what Init opened as BASS_Free does (the disk
// driver's file is then complete) and closes what was opened ahead and never
// taken, joining its thread. Harmless when there is nothing to end.
void audio_library_end();

// Beyond the nine: frees every stream and closes the device, so that what was
// played is complete wherever it goes (the disk driver's file is flushed).
BOOL BASS_Free();

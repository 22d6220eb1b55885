// The audio library: the nine operations the time source calls, with the
// names and contracts of the BASS 2.3 interface the program was written for.
//
// Two implementations exist and the build picks one per executable:
//   audio_library.cpp          the real one: libmpg123 decodes, SDL2 audio plays
//   tests/fakes/audio_fake     a recorder for tests
//
// Error codes returned by BASS_ErrorGetCode are listed below; the
// implementation documents which call sets which.
#pragma once

#include <cstdint>

#include "shell/platform.h"

typedef uint64_t QWORD;
typedef DWORD HSTREAM;

#define BASS_STREAM_PRESCAN 0x20000

#define BASS_OK 0
#define BASS_ERROR_MEM 1       // out of memory
#define BASS_ERROR_FILEOPEN 2  // the data cannot be read as a stream
#define BASS_ERROR_DRIVER 3    // no audio device could be opened
#define BASS_ERROR_HANDLE 5    // not a valid stream handle
#define BASS_ERROR_FORMAT 6    // the device cannot play the stream's format
#define BASS_ERROR_POSITION 7  // position out of range (at or past the end)
#define BASS_ERROR_INIT 8      // BASS_Init has not been called successfully
#define BASS_ERROR_ALREADY 14  // already initialised
#define BASS_ERROR_ILLPARAM 20 // an invalid parameter
#define BASS_ERROR_NOTAVAIL 37 // not available
#define BASS_ERROR_DECODE 38   // not an MP3 stream this library can decode
#define BASS_ERROR_UNKNOWN -1

DWORD BASS_GetVersion();
BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND window, const void* device_id);
int BASS_ErrorGetCode();
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos);
QWORD BASS_ChannelGetPosition(DWORD handle);
BOOL BASS_ChannelStop(DWORD handle);
BOOL BASS_StreamFree(HSTREAM handle);

// Beyond the nine: frees every stream and closes the device, so that what was
// played is complete wherever it goes (the disk driver's file is flushed).
// BASS_Init also arranges for it to run at exit.
BOOL BASS_Free();

// IMPLEMENTS
//   The audio contract (platform/audio_library.h), all nine calls, for tests.
// HOW
//   Each call is written down with its arguments (see audio_fake.h) and
//   answers what the test configured: a version, failures with their error
//   codes, a queue of positions and of seek results.
// LIMITATIONS
//   No sound and no clock: positions move only when the test says so.
// DEPENDENCIES
//   None beyond the standard library; linked only into tests.
#include "fakes/audio_fake.h"

#include "fakes/call_record.h"

#include <deque>
#include <sstream>
#include <type_traits>

namespace fake_audio {
namespace {

struct State {
    std::vector<std::string> calls;
    DWORD version = kVersion;
    bool init_fails = false;
    int init_code = BASS_OK;
    HSTREAM stream = kStream;
    int stream_code = BASS_ERROR_FILEOPEN;
    std::deque<BOOL> set_results;
    int set_code = BASS_ERROR_POSITION;
    std::deque<QWORD> positions;
    QWORD last_position = 0;
    int error = BASS_OK;
    const void* stream_data = nullptr;
    QWORD stream_length = 0;
};

State& state() {
    static State s;
    return s;
}

template <typename... Args>
void record(const char* name, Args... args) {
    const std::string line = fake_record::call(name, args...);
    state().calls.push_back(line);
}

}  // namespace

void reset() { state() = State{}; }
const std::vector<std::string>& calls() { return state().calls; }

std::vector<std::string> calls_named(const std::vector<std::string>& names) {
    return fake_record::named(state().calls, names);
}

void clear_calls() { state().calls.clear(); }
void set_version(DWORD version) { state().version = version; }

void fail_init(int code) {
    state().init_fails = true;
    state().init_code = code;
}

void set_stream(HSTREAM handle, int code) {
    state().stream = handle;
    state().stream_code = code;
}

void queue_set_position(const std::vector<BOOL>& results, int code) {
    state().set_results.assign(results.begin(), results.end());
    state().set_code = code;
}

void queue_positions(const std::vector<QWORD>& positions) {
    state().positions.assign(positions.begin(), positions.end());
}

void set_error(int code) { state().error = code; }
const void* last_stream_data() { return state().stream_data; }
QWORD last_stream_length() { return state().stream_length; }

}  // namespace fake_audio

using namespace fake_audio;

DWORD BASS_GetVersion() {
    record("BASS_GetVersion");
    return state().version;
}

BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND window, const void* device_id) {
    record("BASS_Init", device, freq, flags, window, device_id);
    auto& s = state();
    s.error = s.init_fails ? s.init_code : BASS_OK;
    return s.init_fails ? FALSE : TRUE;
}

int BASS_ErrorGetCode() {
    record("BASS_ErrorGetCode");
    return state().error;
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    record("BASS_StreamCreateFile", mem, file, offset, length, flags);
    auto& s = state();
    s.stream_data = file;
    s.stream_length = length;
    s.error = s.stream ? BASS_OK : s.stream_code;
    return s.stream;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    record("BASS_ChannelPlay", handle, restart);
    state().error = BASS_OK;
    return TRUE;
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    record("BASS_ChannelSetPosition", handle, pos);
    auto& s = state();
    BOOL result = TRUE;
    if (!s.set_results.empty()) {
        result = s.set_results.front();
        s.set_results.pop_front();
    }
    s.error = result ? BASS_OK : s.set_code;
    return result;
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    record("BASS_ChannelGetPosition", handle);
    auto& s = state();
    if (!s.positions.empty()) {
        s.last_position = s.positions.front();
        if (s.positions.size() > 1) s.positions.pop_front();
    }
    s.error = BASS_OK;
    return s.last_position;
}

BOOL BASS_ChannelStop(DWORD handle) {
    record("BASS_ChannelStop", handle);
    state().error = BASS_OK;
    return TRUE;
}

BOOL BASS_StreamFree(HSTREAM handle) {
    record("BASS_StreamFree", handle);
    state().error = BASS_OK;
    return TRUE;
}

void audio_library_prepare_output() { record("audio_library_prepare_output"); }

void audio_library_end() { record("audio_library_end"); }

BOOL BASS_Free() {
    record("BASS_Free");
    state().error = BASS_OK;
    return TRUE;
}

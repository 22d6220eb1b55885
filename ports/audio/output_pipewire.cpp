// The audio library's output on PipeWire, spoken to natively (see
// audio_output.h).
//
// IMPLEMENTS
//   audio_output.h (kPipeWireOutput): the device BASS_Init opens where a
//   PipeWire server answers on its own socket, and the frame being heard,
//   which BASS_ChannelGetPosition reports.
//
// HOW
//   One playback pw_stream at 44100 Hz 16-bit stereo on a pw_thread_loop,
//   asking for a 512-frame quantum (node.latency) and linked by the session
//   manager to the default sink. Its process callback runs on PipeWire's
//   real-time data thread once per graph cycle and is filled by the mixer
//   with exactly what the graph asks for (pw_buffer.requested), so the
//   stream never holds more than the cycle in flight.
//   The frame heard comes from the graph itself: in the process callback,
//   before the buffer is queued, pw_stream_get_time_n tells the delay to the
//   device and what the stream and its resampler still hold, which dates the
//   buffer's first frame exactly (pipewire_heard.h). Between callbacks the
//   position runs on by the monotonic clock at the stream's rate, past the
//   end of the last buffer by half a cycle at most: a graph that falls
//   behind, or a callback that is not given the processor in time, leaves
//   a cycle without our frames, and the position must not run through it.
//   The stream stays at 44100 Hz whatever rate the graph runs at: PipeWire
//   resamples, and counts the resampler's delay in pw_time.buffered. A move
//   to another sink or a change of quantum shows in the next callback's
//   figures.
//   A new position needs no flush: nothing of the old one is held beyond
//   the cycle the graph already took, which no flush could take back either,
//   so the output does not claim to drop what it holds, and the other
//   playing streams go on as they were.
//   Connecting can be started ahead on a thread of its own (prepare); when
//   no PipeWire answers there, that thread prepares the pulse output
//   instead, which is what open_chosen_output will try next.
//   If the server goes away, that is said once on standard error and a
//   timer on the loop goes on asking the mixer for buffers at the output
//   rate, throwing them away, while the heard frame follows the clock: the
//   pictures go on silently.
//
// LIMITATIONS
//   - Connects to the server the environment names (PIPEWIRE_REMOTE, or
//     pipewire-0 in the runtime folder), never starting one; gives up after
//     500 ms. Where no socket is found there, it fails at once, without
//     setting libpipewire up: a socket found elsewhere by a configuration of
//     libpipewire's own is not looked for.
//   - The sink named on standard error is the default one at open; the
//     session manager may link the stream elsewhere (a per-application rule).
//   - A server that comes back is not reconnected to.
//
// DEPENDENCIES
//   libpipewire-0.3; the library's steady clock (audio_streams.h),
//   pipewire_heard.h of this folder, and the pulse output, prepared in its
//   place when no PipeWire answers.
#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/json.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/audio_streams.h"
#include "audio/pipewire_heard.h"
#include "platform/audio_format.h"

namespace {

constexpr int kMaxBufferFrames = 8192;
constexpr int kSilentBufferFrames = 1024;
constexpr const char* kQuantum = "512/44100";
constexpr int64_t kConnectTimeoutNs = 500'000'000;
constexpr int64_t kSilentTickNs = 5'000'000;

struct PipeWireOutput {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_metadata* metadata = nullptr;
    pw_stream* stream = nullptr;
    spa_hook core_listener{};
    spa_hook registry_listener{};
    spa_hook metadata_listener{};
    spa_hook stream_listener{};
    spa_source* silent_timer = nullptr;

    // What open waits for, set on the loop's thread.
    int sync_seq = -1;
    int syncs_done = 0;
    std::string version;
    std::string sink;
    std::string failure;

    FillBuffer fill = nullptr;
    bool started = false;
    bool gone = false;
    std::vector<uint8_t> silent;  // the buffer thrown away once the server is gone

    // Held while the mixer fills a buffer: lock() keeps the callback out.
    std::mutex callback_lock;
    int64_t handed = 0;  // frames handed to the graph (or thrown away once it is gone)

    // The connection made ahead of open by prepare, on a thread of its own;
    // one that open never takes is ended by forget_prepared_pipewire.
    std::thread early;
    bool early_made = false;

    std::mutex heard_lock;
    HeardLine heard;
    // How far the line may run: a graph that stops (suspended, or the
    // server gone quiet) stops the position there.
    double heard_limit = 0;
};

PipeWireOutput PipeWireState;

void record_heard(const HeardLine& line, double limit) {
    std::lock_guard<std::mutex> guard(PipeWireState.heard_lock);
    PipeWireState.heard = line;
    PipeWireState.heard_limit = limit;
}

// The figures of pw_time that date the next buffer.
GraphTime graph_time(const pw_time& t) {
    return GraphTime{t.now, t.delay, t.rate.num, t.rate.denom, t.queued, t.buffered};
}

void on_process(void*) {
    pw_buffer* b = pw_stream_dequeue_buffer(PipeWireState.stream);
    if (!b) return;
    spa_data& d = b->buffer->datas[0];
    if (!d.data || !d.chunk) {
        pw_stream_queue_buffer(PipeWireState.stream, b);
        return;
    }
    uint32_t frames = d.maxsize / kAudioFrameBytes;
    if (b->requested > 0) frames = std::min<uint32_t>(frames, static_cast<uint32_t>(b->requested));
    frames = std::min<uint32_t>(frames, kMaxBufferFrames);
    // Dated before it is queued: queued and buffered count what is ahead of it.
    pw_time t{};
    bool dated = pw_stream_get_time_n(PipeWireState.stream, &t, sizeof t) == 0 && t.rate.denom != 0;
    int64_t first = 0;
    {
        std::lock_guard<std::mutex> guard(PipeWireState.callback_lock);
        first = PipeWireState.handed;
        // Nothing beyond this cycle is held, so a new position needs no drop.
        PipeWireState.fill(static_cast<uint8_t*>(d.data),
                           static_cast<int>(frames * kAudioFrameBytes));
        PipeWireState.handed += frames;
    }
    d.chunk->offset = 0;
    d.chunk->stride = kAudioFrameBytes;
    d.chunk->size = frames * kAudioFrameBytes;
    b->size = frames;
    if (dated)
        // The graph's clock says the next cycle's frames are heard from its
        // start, a moment before its callback hands them over: the line
        // runs on past this buffer, by half a cycle at most (see
        // pipewire_heard.h).
        record_heard(line_after_buffer(graph_time(t), first, kAudioRate),
                     limit_after_buffer(first, static_cast<int>(frames)));
    pw_stream_queue_buffer(PipeWireState.stream, b);
}

// Once the server is gone: buffers at the output rate, thrown away, a
// buffer ahead of the clock. The loop's thread.
void pump_silently(void*, uint64_t) {
    int64_t now = now_ns();
    std::lock_guard<std::mutex> guard(PipeWireState.callback_lock);
    HeardLine h;
    {
        std::lock_guard<std::mutex> heard_guard(PipeWireState.heard_lock);
        h = PipeWireState.heard;
    }
    while (static_cast<double>(PipeWireState.handed) <
           frame_on_line(h, now, kAudioRate, 1e300) + kSilentBufferFrames) {
        if (PipeWireState.fill(PipeWireState.silent.data(),
                               static_cast<int>(PipeWireState.silent.size())))
            h = HeardLine{true, now, static_cast<double>(PipeWireState.handed), true};
        PipeWireState.handed += kSilentBufferFrames;
        record_heard(h, static_cast<double>(PipeWireState.handed));
    }
}

// The loop's thread.
void go_silent(const std::string& why) {
    if (PipeWireState.gone || !PipeWireState.started) return;
    PipeWireState.gone = true;
    int64_t now = now_ns();
    {
        std::lock_guard<std::mutex> guard(PipeWireState.heard_lock);
        double frame =
            PipeWireState.heard.known
                ? frame_on_line(PipeWireState.heard, now, kAudioRate, PipeWireState.heard_limit)
                : static_cast<double>(PipeWireState.handed);
        PipeWireState.heard = HeardLine{true, now, frame, true};
    }
    std::fprintf(stderr,
                 "audio: the PipeWire server went away (%s): the music goes on silently, timed "
                 "by the clock\n",
                 why.c_str());
    pw_loop* loop = pw_thread_loop_get_loop(PipeWireState.loop);
    PipeWireState.silent_timer = pw_loop_add_timer(loop, pump_silently, nullptr);
    if (!PipeWireState.silent_timer) return;
    timespec every{0, kSilentTickNs};
    pw_loop_update_timer(loop, PipeWireState.silent_timer, &every, &every, false);
}

void on_stream_state(void*, pw_stream_state, pw_stream_state state, const char* error) {
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        if (PipeWireState.failure.empty())
            PipeWireState.failure = error ? error : "the stream was disconnected";
        go_silent(PipeWireState.failure);
    }
    pw_thread_loop_signal(PipeWireState.loop, false);
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = on_stream_state;
    e.process = on_process;
    return e;
}();

void on_core_info(void*, const pw_core_info* info) {
    if (info && info->version) PipeWireState.version = info->version;
}

void on_core_done(void*, uint32_t id, int seq) {
    if (id != PW_ID_CORE || seq != PipeWireState.sync_seq) return;
    // The first round trip brings the registry's globals (and binds the
    // default metadata), the second that metadata's properties.
    if (++PipeWireState.syncs_done == 1)
        PipeWireState.sync_seq = pw_core_sync(PipeWireState.core, PW_ID_CORE, 0);
    pw_thread_loop_signal(PipeWireState.loop, false);
}

void on_core_error(void*, uint32_t id, int, int res, const char* message) {
    if (id != PW_ID_CORE) return;
    std::string why = message && *message ? message : std::strerror(-res);
    if (PipeWireState.failure.empty()) PipeWireState.failure = why;
    go_silent(why);
    pw_thread_loop_signal(PipeWireState.loop, false);
}

const pw_core_events kCoreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.info = on_core_info;
    e.done = on_core_done;
    e.error = on_core_error;
    return e;
}();

// The default sink, from the "default" metadata: {"name":"alsa_output..."}.
int on_metadata_property(void*, uint32_t subject, const char* key, const char*, const char* value) {
    if (subject != PW_ID_CORE || !key || std::strcmp(key, "default.audio.sink") != 0) return 0;
    PipeWireState.sink.clear();
    if (!value) return 0;
    spa_json outer, object;
    spa_json_init(&outer, value, std::strlen(value));
    if (spa_json_enter_object(&outer, &object) <= 0) return 0;
    char name[256];
    while (spa_json_get_string(&object, name, sizeof name) > 0) {
        char text[1024];
        if (std::strcmp(name, "name") == 0 && spa_json_get_string(&object, text, sizeof text) > 0) {
            PipeWireState.sink = text;
            return 0;
        }
        const char* skipped = nullptr;
        if (spa_json_next(&object, &skipped) <= 0) return 0;
    }
    return 0;
}

const pw_metadata_events kMetadataEvents = [] {
    pw_metadata_events e{};
    e.version = PW_VERSION_METADATA_EVENTS;
    e.property = on_metadata_property;
    return e;
}();

void on_global(void*, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
    if (PipeWireState.metadata || std::strcmp(type, PW_TYPE_INTERFACE_Metadata) != 0 || !props)
        return;
    const char* name = spa_dict_lookup(props, PW_KEY_METADATA_NAME);
    if (!name || std::strcmp(name, "default") != 0) return;
    PipeWireState.metadata = static_cast<pw_metadata*>(pw_registry_bind(
        PipeWireState.registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    if (PipeWireState.metadata)
        pw_metadata_add_listener(PipeWireState.metadata, &PipeWireState.metadata_listener,
                                 &kMetadataEvents, nullptr);
}

const pw_registry_events kRegistryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = on_global;
    return e;
}();

// Ends whatever connect made, leaving the record as new. Not on the loop's thread.
void disconnect() {
    if (!PipeWireState.loop) return;
    pw_thread_loop_lock(PipeWireState.loop);
    // What ends now is no server going away.
    PipeWireState.started = false;
    if (PipeWireState.silent_timer)
        pw_loop_destroy_source(pw_thread_loop_get_loop(PipeWireState.loop),
                               PipeWireState.silent_timer);
    if (PipeWireState.stream) pw_stream_destroy(PipeWireState.stream);
    if (PipeWireState.metadata)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(PipeWireState.metadata));
    if (PipeWireState.registry)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(PipeWireState.registry));
    if (PipeWireState.core) pw_core_disconnect(PipeWireState.core);
    pw_thread_loop_unlock(PipeWireState.loop);
    pw_thread_loop_stop(PipeWireState.loop);
    if (PipeWireState.context) pw_context_destroy(PipeWireState.context);
    pw_thread_loop_destroy(PipeWireState.loop);
    PipeWireState.loop = nullptr;
    PipeWireState.context = nullptr;
    PipeWireState.core = nullptr;
    PipeWireState.registry = nullptr;
    PipeWireState.metadata = nullptr;
    PipeWireState.stream = nullptr;
    PipeWireState.silent_timer = nullptr;
}

// Whether the wait for the server is over: the round trips made and the
// stream set up (or refused).
bool connected_or_failed() {
    if (!PipeWireState.failure.empty()) return true;
    pw_stream_state state = pw_stream_get_state(PipeWireState.stream, nullptr);
    return PipeWireState.syncs_done >= 2 &&
           (state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING);
}

// Where PipeWire's socket would be, as libpipewire finds it: PIPEWIRE_REMOTE
// (a name, or a path) or "pipewire-0", in PIPEWIRE_RUNTIME_DIR or else
// XDG_RUNTIME_DIR. "" when there is no runtime folder to look in.
std::string socket_path() {
    const char* name = std::getenv("PIPEWIRE_REMOTE");
    if (!name || !*name) name = "pipewire-0";
    if (name[0] == '/') return name;
    const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
    if (!dir || !*dir) dir = std::getenv("XDG_RUNTIME_DIR");
    return dir && *dir ? std::string(dir) + "/" + name : "";
}

// Whether a PipeWire server may answer: its socket is there. Setting up
// libpipewire (its configuration, its modules) costs a few milliseconds, which
// a desktop running PulseAudio should not pay at every start.
std::string socket_missing() {
    std::string path = socket_path();
    if (path.empty()) return "no PipeWire server (no runtime folder)";
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return "no PipeWire server at " + path + " (" + std::strerror(errno) + ")";
    if (!S_ISSOCK(info.st_mode)) return "no PipeWire server at " + path + " (not a socket)";
    return "";
}

// Connects, sets the stream up (inactive: nothing is asked of the mixer
// until start) and learns the server's version and default sink, all before
// `deadline`. "" when ready, else the reason, and nothing stays open.
std::string connect(int64_t deadline) {
    if (std::string missing = socket_missing(); !missing.empty()) return missing;
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    PipeWireState.failure.clear();
    PipeWireState.version.clear();
    PipeWireState.sink.clear();
    PipeWireState.syncs_done = 0;
    PipeWireState.sync_seq = -1;
    PipeWireState.loop = pw_thread_loop_new("velkorandi-audio", nullptr);
    if (!PipeWireState.loop) return "cannot start PipeWire's loop";
    // client-rt.conf gives the data thread, where the process callback
    // runs, real-time priority (through RealtimeKit on a desktop), so that a
    // busy machine does not make the graph wait for the next buffer.
    PipeWireState.context =
        pw_context_new(pw_thread_loop_get_loop(PipeWireState.loop),
                       pw_properties_new(PW_KEY_APP_NAME, "Velkorandi", PW_KEY_CONFIG_NAME,
                                         "client-rt.conf", nullptr),
                       0);
    if (!PipeWireState.context || pw_thread_loop_start(PipeWireState.loop) != 0) {
        disconnect();
        return "cannot start PipeWire's loop";
    }
    pw_thread_loop_lock(PipeWireState.loop);
    PipeWireState.core = pw_context_connect(PipeWireState.context, nullptr, 0);
    if (!PipeWireState.core) {
        std::string why = std::string("no PipeWire server answers (") + std::strerror(errno) + ")";
        pw_thread_loop_unlock(PipeWireState.loop);
        disconnect();
        return why;
    }
    pw_core_add_listener(PipeWireState.core, &PipeWireState.core_listener, &kCoreEvents, nullptr);
    PipeWireState.registry = pw_core_get_registry(PipeWireState.core, PW_VERSION_REGISTRY, 0);
    if (PipeWireState.registry)
        pw_registry_add_listener(PipeWireState.registry, &PipeWireState.registry_listener,
                                 &kRegistryEvents, nullptr);
    PipeWireState.stream = pw_stream_new(
        PipeWireState.core, "music",
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                          PW_KEY_MEDIA_ROLE, "Music", PW_KEY_NODE_LATENCY, kQuantum, nullptr));
    if (PipeWireState.stream) {
        pw_stream_add_listener(PipeWireState.stream, &PipeWireState.stream_listener, &kStreamEvents,
                               nullptr);
        uint8_t space[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16_LE;
        info.rate = kAudioRate;
        info.channels = kAudioChannels;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        auto flags =
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                         PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE);
        if (pw_stream_connect(PipeWireState.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params,
                              1) < 0)
            PipeWireState.failure = "PipeWire refused the playback stream";
    } else {
        PipeWireState.failure = "PipeWire refused the playback stream";
    }
    PipeWireState.sync_seq = pw_core_sync(PipeWireState.core, PW_ID_CORE, 0);
    while (!connected_or_failed()) {
        int64_t left = deadline - now_ns();
        if (left <= 0) {
            PipeWireState.failure = "PipeWire did not answer within 500 ms";
            break;
        }
        timespec until{};
        pw_thread_loop_get_time(PipeWireState.loop, &until, left);
        pw_thread_loop_timed_wait_full(PipeWireState.loop, &until);
    }
    std::string why = PipeWireState.failure;
    pw_thread_loop_unlock(PipeWireState.loop);
    if (!why.empty()) disconnect();
    return why;
}

void prepare_pipewire() {
    if (PipeWireState.early_made) return;
    try {
        PipeWireState.early = std::thread([] {
            // Where no PipeWire answers, the pulse socket is what
            // open_chosen_output tries next: prepared here, not beside this
            // connection, so that it never leaves a second stream on a
            // PipeWire server.
            if (!connect(now_ns() + kConnectTimeoutNs).empty()) kPulseOutput.prepare();
        });
        PipeWireState.early_made = true;
    } catch (const std::system_error&) {
        // No thread to be had: open connects as without this call.
    }
}

void forget_prepared_pipewire() {
    if (!PipeWireState.early_made) return;
    PipeWireState.early.join();
    PipeWireState.early_made = false;
    disconnect();
}

bool open_pipewire(FillBuffer fill, int* buffer_frames, std::string* said) {
    std::string failure;
    if (PipeWireState.early_made) {
        // Made ahead: taken as it is, or its reason for failing is ours.
        PipeWireState.early.join();
        PipeWireState.early_made = false;
        failure = PipeWireState.loop ? "" : PipeWireState.failure;
        if (failure.empty() && !PipeWireState.loop) failure = "no PipeWire server answers";
    } else {
        failure = connect(now_ns() + kConnectTimeoutNs);
    }
    if (!failure.empty()) {
        *said = failure;
        return false;
    }
    pw_thread_loop_lock(PipeWireState.loop);
    PipeWireState.fill = fill;
    PipeWireState.started = false;
    PipeWireState.gone = false;
    PipeWireState.handed = 0;
    PipeWireState.silent.assign(static_cast<size_t>(kSilentBufferFrames) * kAudioFrameBytes, 0);
    record_heard(HeardLine{}, 0);
    *said =
        "PipeWire " +
        (PipeWireState.version.empty() ? std::string("(version unknown)") : PipeWireState.version) +
        " (native), sink " +
        (PipeWireState.sink.empty() ? std::string("(the default)") : PipeWireState.sink);
    pw_thread_loop_unlock(PipeWireState.loop);
    *buffer_frames = kMaxBufferFrames;
    return true;
}

void start_pipewire() {
    pw_thread_loop_lock(PipeWireState.loop);
    PipeWireState.started = true;
    // The server may have gone between Init's connecting and now.
    if (!PipeWireState.failure.empty())
        go_silent(PipeWireState.failure);
    else
        pw_stream_set_active(PipeWireState.stream, true);
    pw_thread_loop_unlock(PipeWireState.loop);
}

void lock_pipewire() { PipeWireState.callback_lock.lock(); }

void unlock_pipewire() { PipeWireState.callback_lock.unlock(); }

void close_pipewire() {
    disconnect();
    PipeWireState.gone = false;
}

bool heard_pipewire(int64_t now, double* frame) {
    std::lock_guard<std::mutex> guard(PipeWireState.heard_lock);
    if (!PipeWireState.heard.known) return false;
    *frame = frame_on_line(PipeWireState.heard, now, kAudioRate, PipeWireState.heard_limit);
    return true;
}

void hurry_pipewire() {
    // The graph asks once per cycle whatever happens: nothing to wake.
}

}  // namespace

const AudioOutput kPipeWireOutput = {
    .open = open_pipewire,
    .start = start_pipewire,
    .lock = lock_pipewire,
    .unlock = unlock_pipewire,
    .close = close_pipewire,
    .heard = heard_pipewire,
    .hurry = hurry_pipewire,
    .prepare = prepare_pipewire,
    .forget_prepared = forget_prepared_pipewire,
    .drops_held = false,
    .heard_runs_on = true,
};

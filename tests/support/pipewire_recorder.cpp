#include "support/pipewire_recorder.h"

#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

struct PipewireRecorder {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook core_listener{};
    spa_hook stream_listener{};
    spa_io_position* position = nullptr;  // the driver's, written by the graph
    std::string error;                    // set by the loop's thread
    std::atomic<int> quantum{0}, graph_rate{0};
    std::mutex mutex;  // the recording: filled on the graph's thread
    Recording recording;
};

namespace {

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Called on the graph's own thread (RT_PROCESS), in the cycle that delivers
// the buffer, so that the time read belongs to this buffer's cycle.
void on_process(void* data) {
    auto* r = static_cast<PipewireRecorder*>(data);
    pw_time time{};
    pw_stream_get_time_n(r->stream, &time, sizeof time);
    pw_buffer* b = pw_stream_dequeue_buffer(r->stream);
    if (!b) return;
    spa_data& d = b->buffer->datas[0];
    const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
    const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
    const spa_io_position* p = r->position;
    if (d.data && size >= 4 && p && time.rate.denom > 0 && p->clock.rate.denom > 0) {
        const int64_t delay_ns = time.delay * 1'000'000'000 * time.rate.num / time.rate.denom;
        const int64_t cycle_ns = static_cast<int64_t>(p->clock.duration) * 1'000'000'000 *
                                 p->clock.rate.num / p->clock.rate.denom;
        r->quantum = static_cast<int>(p->clock.duration);
        r->graph_rate = static_cast<int>(p->clock.rate.denom);
        const auto* samples =
            reinterpret_cast<const int16_t*>(static_cast<const uint8_t*>(d.data) + offset);
        std::lock_guard<std::mutex> lock(r->mutex);
        Recording& rec = r->recording;
        rec.blocks.push_back({rec.frames(), time.now - delay_ns - cycle_ns});
        rec.samples.insert(rec.samples.end(), samples, samples + size / sizeof(int16_t));
    }
    pw_stream_queue_buffer(r->stream, b);
    pw_thread_loop_signal(r->loop, false);
}

void on_io_changed(void* data, uint32_t id, void* area, uint32_t) {
    auto* r = static_cast<PipewireRecorder*>(data);
    if (id == SPA_IO_Position) r->position = static_cast<spa_io_position*>(area);
}

void on_state(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* r = static_cast<PipewireRecorder*>(data);
    if (state == PW_STREAM_STATE_ERROR) r->error = error ? error : "stream error";
    pw_thread_loop_signal(r->loop, false);
}

void on_core_error(void* data, uint32_t id, int, int res, const char* message) {
    auto* r = static_cast<PipewireRecorder*>(data);
    if (id == PW_ID_CORE || res == -EPIPE) r->error = message ? message : "connection lost";
    pw_thread_loop_signal(r->loop, false);
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = on_state;
    e.io_changed = on_io_changed;
    e.process = on_process;
    return e;
}();

const pw_core_events kCoreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = on_core_error;
    return e;
}();

// A connection to the socket itself: PIPEWIRE_REMOTE, when set, would
// override any name given to pw_context_connect.
int connect_socket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void release(PipewireRecorder* r) {
    if (r->loop) pw_thread_loop_stop(r->loop);
    if (r->stream) pw_stream_destroy(r->stream);
    if (r->core) pw_core_disconnect(r->core);
    if (r->context) pw_context_destroy(r->context);
    if (r->loop) pw_thread_loop_destroy(r->loop);
    delete r;
}

}  // namespace

PipewireRecorder* start_pipewire_recording(const std::string& runtime, const std::string& sink,
                                           int rate, std::string* why) {
    static const bool initialised = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)initialised;
    auto* r = new PipewireRecorder;
    r->recording.rate = rate;
    // Three minutes reserved, longer than any recording made: a vector that
    // grew on the graph's thread would copy everything recorded so far
    // within one cycle.
    r->recording.samples.reserve(static_cast<size_t>(rate) * 2 * 180);
    r->recording.blocks.reserve(static_cast<size_t>(rate) * 180 / 32);
    r->loop = pw_thread_loop_new("monitor recorder", nullptr);
    // Real-time priority for the data thread, as players have it: a busy
    // machine must not make the recorder miss a cycle.
    r->context = r->loop ? pw_context_new(
                               pw_thread_loop_get_loop(r->loop),
                               pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0)
                         : nullptr;
    if (!r->context) {
        *why = "cannot make a PipeWire context";
        release(r);
        return nullptr;
    }
    int fd = connect_socket(runtime + "/pipewire-0");
    if (fd < 0) {
        *why = "no PipeWire socket at " + runtime + "/pipewire-0: " + std::strerror(errno);
        release(r);
        return nullptr;
    }
    pw_thread_loop_lock(r->loop);
    pw_thread_loop_start(r->loop);
    r->core = pw_context_connect_fd(r->context, fd, nullptr, 0);
    bool ok = r->core != nullptr;
    if (ok) {
        pw_core_add_listener(r->core, &r->core_listener, &kCoreEvents, r);
        // The sink's monitor, at the format asked for: at the graph's rate
        // nothing is resampled, and 16-bit samples pass PipeWire's float
        // mixing unchanged.
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
            "Production", PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT, sink.c_str(),
            PW_KEY_NODE_DONT_RECONNECT, "true", PW_KEY_STREAM_DONT_REMIX, "true", nullptr);
        r->stream = pw_stream_new(r->core, "monitor recorder", props);
        ok = r->stream != nullptr;
    }
    if (ok) {
        pw_stream_add_listener(r->stream, &r->stream_listener, &kStreamEvents, r);
        uint8_t buffer[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S16_LE;
        info.rate = static_cast<uint32_t>(rate);
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[1] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        auto flags = static_cast<pw_stream_flags>(
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        ok = pw_stream_connect(r->stream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) >= 0;
    }
    // Recording once the first buffer is dated.
    const int64_t deadline = steady_ns() + 5'000'000'000;
    while (ok && r->error.empty() && steady_ns() < deadline) {
        {
            std::lock_guard<std::mutex> lock(r->mutex);
            if (!r->recording.blocks.empty()) break;
        }
        pw_thread_loop_timed_wait(r->loop, 1);
    }
    {
        std::lock_guard<std::mutex> lock(r->mutex);
        if (ok && r->recording.blocks.empty())
            *why = r->error.empty() ? "the monitor of " + sink + " delivered nothing for 5 s"
                                    : r->error;
        ok = ok && !r->recording.blocks.empty();
    }
    if (!ok && why->empty()) *why = "cannot connect a recording stream";
    pw_thread_loop_unlock(r->loop);
    if (ok) return r;
    release(r);
    return nullptr;
}

GraphClock recorded_graph_clock(PipewireRecorder* r) { return {r->quantum, r->graph_rate}; }

Recording finish_pipewire_recording(PipewireRecorder* r) {
    pw_thread_loop_lock(r->loop);
    pw_stream_disconnect(r->stream);
    pw_thread_loop_unlock(r->loop);
    Recording recording;
    {
        std::lock_guard<std::mutex> lock(r->mutex);
        recording = std::move(r->recording);
    }
    release(r);
    return recording;
}

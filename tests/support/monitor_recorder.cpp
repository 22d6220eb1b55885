#include "support/monitor_recorder.h"

#include <pulse/pulseaudio.h>

#include "support/pipewire_recorder.h"
#include "support/sound_server.h"

#include <algorithm>
#include <chrono>
#include <mutex>

struct MonitorRecorder {
    PipewireRecorder* native = nullptr;  // on PipeWire: all the rest unused
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* tick = nullptr;
    pa_operation* report = nullptr;
    int64_t report_ns = 0;  // when the server took the figures of the last report
    Recording recording;
};

namespace {

constexpr int kRate = 44100;

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void signal_loop(MonitorRecorder* r) { pa_threaded_mainloop_signal(r->loop, 0); }

constexpr pa_usec_t kTickUs = 5000;

// The recording stream's frame leaving the sink when the last report was
// taken: what the server has captured, plus what is on its way to us, less
// what the monitored sink still holds. False without a valid report.
bool leaving_at_report(pa_stream* s, double* frame) {
    const pa_timing_info* t = pa_stream_get_timing_info(s);
    if (!t || t->write_index_corrupt) return false;
    *frame =
        static_cast<double>(t->write_index) / 4 +
        (static_cast<double>(t->source_usec) - static_cast<double>(t->sink_usec)) * kRate / 1e6;
    return true;
}

void on_read(pa_stream* s, size_t, void* data) {
    auto* r = static_cast<MonitorRecorder*>(data);
    double leaving = 0;
    bool dated = leaving_at_report(s, &leaving);
    while (pa_stream_readable_size(s) > 0) {
        const void* bytes = nullptr;
        size_t n = 0;
        if (pa_stream_peek(s, &bytes, &n) < 0 || n == 0) break;
        int64_t first = r->recording.frames();
        size_t count = n / sizeof(int16_t);
        if (bytes) {
            const auto* samples = static_cast<const int16_t*>(bytes);
            r->recording.samples.insert(r->recording.samples.end(), samples, samples + count);
        } else {
            r->recording.samples.resize(r->recording.samples.size() + count, 0);  // a hole
        }
        if (dated) {
            double ahead = static_cast<double>(first) - leaving;
            r->recording.blocks.push_back(
                {first, r->report_ns + static_cast<int64_t>(ahead * 1e9 / kRate)});
        }
        pa_stream_drop(s);
    }
    pa_threaded_mainloop_signal(r->loop, 0);
}

void on_timing(pa_stream* s, void* data) {
    auto* r = static_cast<MonitorRecorder*>(data);
    // The server stamps its answer with the wall clock it shares with us.
    const pa_timing_info* t = pa_stream_get_timing_info(s);
    int64_t now = steady_ns();
    if (t && t->synchronized_clocks) {
        timeval wall;
        pa_gettimeofday(&wall);
        r->report_ns = now - static_cast<int64_t>(pa_timeval_diff(&wall, &t->timestamp)) * 1000;
    } else {
        r->report_ns = now - (t ? static_cast<int64_t>(t->transport_usec) * 1000 : 0);
    }
}

// A report every 5 ms, one at a time.
void on_tick(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* data) {
    auto* r = static_cast<MonitorRecorder*>(data);
    pa_context_rttime_restart(r->context, e, pa_rtclock_now() + kTickUs);
    pa_threaded_mainloop_signal(r->loop, 0);
    if (r->report && pa_operation_get_state(r->report) == PA_OPERATION_RUNNING) return;
    if (r->report) pa_operation_unref(r->report);
    r->report = pa_stream_update_timing_info(r->stream, nullptr, nullptr);
}

void on_state(pa_context*, void* data) { signal_loop(static_cast<MonitorRecorder*>(data)); }
void on_stream_state(pa_stream*, void* data) { signal_loop(static_cast<MonitorRecorder*>(data)); }

void release(MonitorRecorder* r) {
    if (r->loop) pa_threaded_mainloop_stop(r->loop);
    if (r->tick) pa_threaded_mainloop_get_api(r->loop)->time_free(r->tick);
    if (r->report) pa_operation_unref(r->report);
    if (r->stream) pa_stream_unref(r->stream);
    if (r->context) {
        pa_context_disconnect(r->context);
        pa_context_unref(r->context);
    }
    if (r->loop) pa_threaded_mainloop_free(r->loop);
    delete r;
}

}  // namespace

MonitorRecorder* start_recording(const std::string& address, const std::string& sink,
                                 std::string* why) {
    auto* r = new MonitorRecorder;
    r->loop = pa_threaded_mainloop_new();
    r->context = pa_context_new(pa_threaded_mainloop_get_api(r->loop), "monitor recorder");
    pa_context_set_state_callback(r->context, on_state, r);
    pa_threaded_mainloop_lock(r->loop);
    pa_threaded_mainloop_start(r->loop);
    bool ok = pa_context_connect(r->context, address.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    while (ok && pa_context_get_state(r->context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(r->context)))
            ok = false;
        else
            pa_threaded_mainloop_wait(r->loop);
    }
    if (ok) {
        pa_sample_spec spec = {PA_SAMPLE_S16NE, kRate, 2};
        r->stream = pa_stream_new(r->context, "monitor", &spec, nullptr);
        pa_stream_set_read_callback(r->stream, on_read, r);
        pa_stream_set_state_callback(r->stream, on_stream_state, r);
        pa_stream_set_latency_update_callback(r->stream, on_timing, r);
        // Fragments of 10 ms: many dated blocks. The latency asked for also
        // sets the null sink's own (it renders no later than its monitor
        // wants), the same for every output measured.
        pa_buffer_attr attr = {static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                               static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                               static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec))};
        auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        std::string monitor = sink + ".monitor";
        ok = pa_stream_connect_record(r->stream, monitor.c_str(), &attr, flags) >= 0;
        while (ok && pa_stream_get_state(r->stream) != PA_STREAM_READY) {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(r->stream)))
                ok = false;
            else
                pa_threaded_mainloop_wait(r->loop);
        }
    }
    if (ok) {
        r->tick = pa_context_rttime_new(r->context, pa_rtclock_now() + kTickUs, on_tick, r);
        // An idle null sink renders blocks of two seconds and takes the
        // monitor's latency only at the next one: the first data says it has.
        auto deadline = steady_ns() + 5'000'000'000;
        while (r->recording.blocks.empty() && steady_ns() < deadline)
            pa_threaded_mainloop_wait(r->loop);
        ok = !r->recording.blocks.empty();
        if (!ok) *why = "the monitor delivered nothing for 5 s";
    } else {
        *why = pa_strerror(pa_context_errno(r->context));
    }
    pa_threaded_mainloop_unlock(r->loop);
    if (ok) return r;
    release(r);
    return nullptr;
}

namespace {

// Each report dates its blocks to within a few milliseconds: the server's
// figures for a monitor come from two threads and jitter by about one of its
// chunks. The sink plays on at its rate, so every block's date less its
// frames' duration is the same offset wherever it plays without a gap: the
// median over the 21 blocks around each (some 200 ms) takes the jitter out
// and still follows a gap or a change of latency within 100 ms.
void steady_dates(Recording& recording) {
    const std::vector<RecordedBlock> dated = recording.blocks;
    auto offset = [](const RecordedBlock& b) {
        return b.left_ns - static_cast<int64_t>(static_cast<double>(b.first) * 1e9 / kRate);
    };
    std::vector<int64_t> window;
    for (size_t i = 0; i < dated.size(); ++i) {
        size_t from = i >= 10 ? i - 10 : 0, to = std::min(dated.size(), i + 11);
        window.clear();
        for (size_t j = from; j < to; ++j) window.push_back(offset(dated[j]));
        std::nth_element(window.begin(), window.begin() + static_cast<ptrdiff_t>(window.size() / 2),
                         window.end());
        recording.blocks[i].left_ns =
            window[window.size() / 2] +
            static_cast<int64_t>(static_cast<double>(dated[i].first) * 1e9 / kRate);
    }
}

}  // namespace

MonitorRecorder* start_recording(const SoundServer& server, const std::string& sink,
                                 std::string* why) {
    if (!server.pipewire) return start_recording(server.address, sink, why);
    PipewireRecorder* native =
        start_pipewire_recording(server.runtime, sink, server.graph_rate, why);
    if (!native) return nullptr;
    auto* r = new MonitorRecorder;
    r->native = native;
    return r;
}

Recording finish_recording(MonitorRecorder* r) {
    if (r->native) {
        Recording recording = finish_pipewire_recording(r->native);
        delete r;
        return recording;
    }
    pa_threaded_mainloop_lock(r->loop);
    pa_stream_set_read_callback(r->stream, nullptr, nullptr);
    pa_stream_disconnect(r->stream);
    Recording recording = std::move(r->recording);
    pa_threaded_mainloop_unlock(r->loop);
    release(r);
    steady_dates(recording);
    return recording;
}

bool recorded_frame_at(const Recording& recording, int64_t ns, double* frame) {
    auto after = std::upper_bound(recording.blocks.begin(), recording.blocks.end(), ns,
                                  [](int64_t t, const RecordedBlock& b) { return t < b.left_ns; });
    if (after == recording.blocks.begin()) return false;
    const RecordedBlock& b = *(after - 1);
    *frame =
        static_cast<double>(b.first) + static_cast<double>(ns - b.left_ns) * recording.rate / 1e9;
    return true;
}

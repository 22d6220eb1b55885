// Connecting to the sound server (see pulse_connection.h).
//
// IMPLEMENTS
//   The sound server's side of BASS_Init and BASS_Free on the sound-server
//   output (output_pulse.cpp): connecting, and letting go.
//
// HOW
//   The context and the stream are connected from the program's thread with
//   the main loop locked, waiting on the main loop's condition; a timer on
//   the main loop wakes the wait at the deadline, as do the state changes.
//   No server, or none at the address, fails at once; a server that accepts
//   the connection and then says nothing fails at the deadline.
//
// LIMITATIONS
//   - The server is asked for its name and version only once connected; a
//     server that does not answer that in time is named "sound server".
//
// DEPENDENCIES
//   libpulse; the library's steady clock (audio_streams.h); the output
//   format (platform/audio_format.h).
#include "audio/pulse_connection.h"

#include "audio/audio_streams.h"
#include "platform/audio_format.h"

namespace {

void signal_loop(void* loop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

void on_context_state(pa_context*, void* loop) { signal_loop(loop); }

void on_stream_state(pa_stream*, void* loop) { signal_loop(loop); }

void on_deadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* loop) {
    signal_loop(loop);
}

struct ServerAnswer {
    PulseConnection* connection;
    bool answered = false;
};

void on_server_info(pa_context*, const pa_server_info* info, void* data) {
    auto* answer = static_cast<ServerAnswer*>(data);
    if (info) {
        std::string name = info->server_name ? info->server_name : "sound server";
        answer->connection->server = (name == "pulseaudio" ? "PulseAudio" : name) + " " +
                                     (info->server_version ? info->server_version : "");
    }
    answer->answered = true;
    signal_loop(answer->connection->loop);
}

// Waits, the main loop locked, until done() or the deadline; false then.
template <class Done>
bool wait_until(PulseConnection& c, Done done, int64_t deadline) {
    int64_t left_us = (deadline - now_ns()) / 1000;
    if (left_us <= 0) return done();
    pa_time_event* timer = pa_context_rttime_new(
        c.context, pa_rtclock_now() + static_cast<pa_usec_t>(left_us), on_deadline, c.loop);
    bool answered = true;
    while (!done()) {
        if (now_ns() >= deadline) {
            answered = false;
            break;
        }
        pa_threaded_mainloop_wait(c.loop);
    }
    pa_threaded_mainloop_get_api(c.loop)->time_free(timer);
    return answered;
}

std::string why(const PulseConnection& c) { return pa_strerror(pa_context_errno(c.context)); }

// The connecting itself, the main loop locked.
std::string connect_locked(PulseConnection& c, const pa_buffer_attr& attr, pa_stream_flags_t flags,
                           int64_t deadline) {
    c.context = pa_context_new(pa_threaded_mainloop_get_api(c.loop), "Velkorandi");
    if (!c.context) return "libpulse could not make a context";
    pa_context_set_state_callback(c.context, on_context_state, c.loop);
    if (pa_context_connect(c.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return why(c);
    auto context_settled = [&c] {
        pa_context_state_t s = pa_context_get_state(c.context);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    };
    if (!wait_until(c, context_settled, deadline)) return "it did not answer in time";
    if (pa_context_get_state(c.context) != PA_CONTEXT_READY) return why(c);

    c.server = "sound server";
    ServerAnswer answer{&c};
    if (pa_operation* o = pa_context_get_server_info(c.context, on_server_info, &answer)) {
        wait_until(
            c, [&answer] { return answer.answered; }, deadline);
        if (!answer.answered) pa_operation_cancel(o);
        pa_operation_unref(o);
    }

    pa_sample_spec spec = {PA_SAMPLE_S16NE, kAudioRate, kAudioChannels};
    c.stream = pa_stream_new(c.context, "music", &spec, nullptr);
    if (!c.stream) return why(c);
    pa_stream_set_state_callback(c.stream, on_stream_state, c.loop);
    if (pa_stream_connect_playback(c.stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        return why(c);
    auto stream_settled = [&c] {
        pa_stream_state_t s = pa_stream_get_state(c.stream);
        return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
    };
    if (!wait_until(c, stream_settled, deadline))
        return "the playback stream was not set up in time";
    if (pa_stream_get_state(c.stream) != PA_STREAM_READY) return why(c);
    return "";
}

}  // namespace

std::string pulse_connect(PulseConnection& c, const pa_buffer_attr& attr, pa_stream_flags_t flags,
                          int64_t deadline) {
    c = PulseConnection{};
    c.loop = pa_threaded_mainloop_new();
    if (!c.loop) return "libpulse could not make a main loop";
    pa_threaded_mainloop_lock(c.loop);
    std::string failure = pa_threaded_mainloop_start(c.loop) < 0
                              ? "libpulse could not start its main loop"
                              : connect_locked(c, attr, flags, deadline);
    pa_threaded_mainloop_unlock(c.loop);
    if (!failure.empty()) pulse_disconnect(c);
    return failure;
}

void pulse_disconnect(PulseConnection& c) {
    if (!c.loop) return;
    pa_threaded_mainloop_lock(c.loop);
    if (c.stream) {
        pa_stream_set_state_callback(c.stream, nullptr, nullptr);
        pa_stream_set_write_callback(c.stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(c.stream, nullptr, nullptr);
        pa_stream_set_moved_callback(c.stream, nullptr, nullptr);
        if (pa_stream_get_state(c.stream) == PA_STREAM_READY) pa_stream_disconnect(c.stream);
        pa_stream_unref(c.stream);
    }
    if (c.context) {
        pa_context_set_state_callback(c.context, nullptr, nullptr);
        pa_context_disconnect(c.context);
        pa_context_unref(c.context);
    }
    pa_threaded_mainloop_unlock(c.loop);
    pa_threaded_mainloop_stop(c.loop);
    pa_threaded_mainloop_free(c.loop);
    c = PulseConnection{};
}

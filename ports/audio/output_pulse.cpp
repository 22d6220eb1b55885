// The audio library's output on the sound server (see audio_output.h).
//
// IMPLEMENTS
//   audio_output.h (kPulseOutput): the device BASS_Init opens and leaves
//   running, BASS_StreamFree locks out and BASS_Free closes, and the frame
//   leaving the server's sink, which BASS_ChannelGetPosition reports.
//
// HOW
//   libpulse's threaded main loop runs one playback stream at 44100 Hz
//   16-bit stereo, 100 ms of target latency, automatic timing updates. The
//   server splits the target between its sink (about a third) and the
//   stream's queue; the queue is what carries the sound over a busy moment
//   of the machine, and costs nothing on a seek (it is flushed), the sink's
//   part is what a seek cannot take back. Each request of the server
//   is filled by the mixer on the main loop's thread, in buffers of at most
//   1024 frames.
//   The frame heard is read off the server's timing reports, one asked for
//   every 5 ms: what the server had read from the stream less what its sink
//   held, at the time the server stamped its answer (it shares our wall
//   clock), turned into frames handed over by pulse_timeline.h. A report
//   the server was slow to answer is passed over: its stamp is late by an
//   unknown amount. (pa_stream_get_time is not used: its interpolation runs
//   on while a just-started sink has not played yet, and being monotonic it
//   then stands still for as long once the sink starts.) The program's
//   thread never waits for the main loop: the main loop writes the heard
//   frame with its time to a record under a lock of its own, and the
//   program's thread carries it on at the output rate from there. A change
//   of the server's latency (a stream moved to another sink) shows in the
//   next report, within 5 ms.
//   PipeWire's PulseAudio service (known by its name, "PulseAudio (on
//   PipeWire ...)") takes a stream's figures once per cycle of its graph, at
//   the cycle's start, when the read index already counts the whole quantum
//   the sink took, and stamps its answer when it sends it: its report's
//   frame runs ahead of the sound by up to a quantum (6 ms at 256 frames,
//   23 ms at 1024). There every report is taken and the frame is read off
//   the line of the last half second's reports (pulse_cycle_position.h):
//   the one stamped nearest its cycle's start, less one quantum. The line
//   starts anew at a stall, a flush and a move to another sink (and where
//   the graph slipped a cycle on a busy machine); until its first report the
//   last report less a quantum stands. The reports are asked for at
//   intervals spread over 3 to 6 ms, so that they do not fall in step with
//   the cycles and some come near a cycle's start.
//   When the mixer says a stream was positioned anew, the stream's queue is
//   flushed before the new buffer is written, and topped up at once, so the
//   new place is heard after what the sink itself holds; the library's
//   hurry wakes the main loop through an eventfd so this does not wait for
//   the server's next request. Playback starts again with the first frame
//   that arrives (the server's prebuffering is set to one frame).
//   If the server goes away, that is said once on standard error and the
//   main loop goes on asking the mixer for buffers at the output rate,
//   throwing them away, while the heard frame follows the clock: the
//   pictures go on silently.
//
// LIMITATIONS
//   - Connects to the default server only (PULSE_SERVER, or the user's),
//     never starting one; gives up after 500 ms.
//   - The heard frame is carried on at exactly 44100 frames a second between
//     reports, at most 50 ms past the last; a sink whose clock drifts is
//     followed at each report.
//   - A server that comes back is not reconnected to.
//   - On PipeWire the frame reads a little behind, by how late the best
//     report of the last half second was stamped (a fraction of a
//     millisecond on a quiet machine), more just after a seek; a quantum
//     that grows is followed after half a second, reading ahead meanwhile.
//
// DEPENDENCIES
//   libpulse (pulse/pulseaudio.h), Linux's eventfd; the library's steady
//   clock (audio_streams.h), pulse_connection.h, pulse_cycle_position.h and
//   pulse_timeline.h of this folder.
#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/audio_streams.h"
#include "audio/pulse_connection.h"
#include "audio/pulse_cycle_position.h"
#include "audio/pulse_timeline.h"
#include "platform/audio_format.h"

namespace {

constexpr int kBufferFrames = 1024;
constexpr pa_usec_t kTargetLatencyUs = 100'000;
constexpr int64_t kConnectTimeoutNs = 500'000'000;
constexpr pa_usec_t kTickUs = 5'000;
constexpr int64_t kLongestCarryNs = 50'000'000;
constexpr pa_usec_t kSlowReportUs = 300;
constexpr int64_t kStaleReportNs = 25'000'000;

// A timing report of the server: the stream's frame leaving the sink, when.
struct Report {
    bool taken = false;
    int64_t ns = 0;
    double leaving = 0;  // in the server's count of the stream's frames
    bool playing = false;
};

// The heard frame as the main loop last read it; under its own lock.
struct HeardReading {
    bool known = false;
    int64_t ns = 0;
    double frame = 0;  // in frames handed over
    bool advancing = false;
    bool clock_only = false;  // the server went away: carried on without end
};

// A connection made ahead of open on a thread of its own (prepare_pulse).
// The stream starts corked and nothing asks it for data until open takes
// it. One that is never taken is closed by forget_prepared_pulse, which the
// library's end calls.
struct EarlyConnection {
    std::thread thread;
    PulseConnection c;
    std::string failure;

    // Connecting (or connected, or failed) and not yet taken by open.
    bool started() const { return thread.joinable() || c.loop; }
    // Waits for the connecting thread; the connection is then c (or failure).
    void finish() {
        if (thread.joinable()) thread.join();
    }
};

struct Pulse {
    PulseConnection c;
    pa_time_event* tick = nullptr;
    pa_io_event* wake = nullptr;
    int wake_fd = -1;
    pa_operation* asked = nullptr;  // the timing report asked for last
    Report report;                  // the last one taken
    FillBuffer fill = nullptr;
    std::vector<uint8_t> buffer;
    size_t target_bytes = 0;
    bool started = false;
    bool gone = false;
    int64_t handed = 0;  // frames handed to the server (or thrown away once it is gone)
    PulseTimeline timeline = new_pulse_timeline();
    bool cycles = false;  // the server counts once per cycle: PipeWire's
    CyclePosition cycle;  // its reports, when it does
    int ticks = 0;        // (spreads its report times)
    std::mutex heard_lock;
    HeardReading heard;
    EarlyConnection early;  // made ahead of open, not yet taken
};

Pulse PulseState;

double carried(const HeardReading& h, int64_t now) {
    int64_t elapsed = now - h.ns;
    if (!h.clock_only) elapsed = std::min(elapsed, kLongestCarryNs);
    return h.advancing ? h.frame + static_cast<double>(elapsed) * kAudioRate / 1e9 : h.frame;
}

void record_heard(const HeardReading& reading) {
    std::lock_guard<std::mutex> guard(PulseState.heard_lock);
    PulseState.heard = reading;
}

// When the server took the figures of a timing report, on the library's
// clock: a server on this machine stamps its answer with the same wall clock
// as ours, which is more exact than guessing from the round trip (the main
// loop may take the answer late).
int64_t report_time(const pa_timing_info* timing) {
    int64_t now = now_ns();
    if (!timing) return now;
    if (!timing->synchronized_clocks)
        return now - static_cast<int64_t>(timing->transport_usec) * 1000;
    timeval wall;
    pa_gettimeofday(&wall);
    return now - static_cast<int64_t>(pa_timeval_diff(&wall, &timing->timestamp)) * 1000;
}

// Records the frame leaving the sink at the time of the last report taken,
// in frames handed over. Main loop.
void read_heard() {
    if (PulseState.gone || !PulseState.c.stream) return;
    const pa_timing_info* timing = pa_stream_get_timing_info(PulseState.c.stream);
    if (timing && !timing->write_index_corrupt)
        timeline_place(PulseState.timeline, PulseState.handed,
                       timing->write_index / kAudioFrameBytes);
    if (!PulseState.report.taken) return;
    double leaving = PulseState.report.leaving;
    // On PipeWire the report's frame is ahead by up to a quantum: the line
    // of its reports instead, or, when none has come since it was cleared,
    // the last report less a whole quantum (behind rather than ahead).
    if (PulseState.cycles && PulseState.report.playing &&
        !cycle_leaving(PulseState.cycle, PulseState.report.ns, &leaving))
        leaving -= static_cast<double>(PulseState.cycle.quantum);
    HeardReading reading;
    reading.ns = PulseState.report.ns;
    reading.known = timeline_handed_frame(PulseState.timeline, leaving, &reading.frame);
    reading.advancing = PulseState.report.playing;
    record_heard(reading);
}

// Fills what the server asks for; at least one buffer when `at_least_one`
// (a stream was positioned anew and the server has not asked yet).
void write_buffers(bool at_least_one) {
    if (!PulseState.started || PulseState.gone) return;
    size_t frame_bytes = kAudioFrameBytes;
    size_t writable = pa_stream_writable_size(PulseState.c.stream);
    if (writable == static_cast<size_t>(-1)) return;
    if (at_least_one) writable = std::max(writable, PulseState.buffer.size());
    while (writable >= frame_bytes) {
        size_t bytes = std::min(writable, PulseState.buffer.size()) / frame_bytes * frame_bytes;
        writable -= bytes;
        if (PulseState.fill(PulseState.buffer.data(), static_cast<int>(bytes))) {
            // Flushed before this buffer is written: the server plays it
            // right after what its sink already holds. Topped up at once to
            // the target, so the sink does not run dry meanwhile.
            if (pa_operation* o = pa_stream_flush(PulseState.c.stream, nullptr, nullptr))
                pa_operation_unref(o);
            timeline_drop(PulseState.timeline, PulseState.handed);
            cycle_clear(PulseState.cycle);
            writable = std::max(writable,
                                PulseState.target_bytes - std::min(bytes, PulseState.target_bytes));
        }
        if (pa_stream_write(PulseState.c.stream, PulseState.buffer.data(), bytes, nullptr, 0,
                            PA_SEEK_RELATIVE) < 0)
            return;
        PulseState.handed += static_cast<int64_t>(bytes / frame_bytes);
    }
    read_heard();
}

// Once the server is gone: buffers at the output rate, thrown away, a
// buffer ahead of the clock.
void pump_silently() {
    HeardReading h;
    {
        std::lock_guard<std::mutex> guard(PulseState.heard_lock);
        h = PulseState.heard;
    }
    int64_t now = now_ns();
    while (static_cast<double>(PulseState.handed) < carried(h, now) + kBufferFrames) {
        int bytes = static_cast<int>(PulseState.buffer.size());
        if (PulseState.fill(PulseState.buffer.data(), bytes)) {
            // Nothing is held any more: a new place is heard from now on.
            h = HeardReading{true, now, static_cast<double>(PulseState.handed), true, true};
            record_heard(h);
        }
        PulseState.handed += kBufferFrames;
    }
}

void go_silent(const char* why) {
    if (PulseState.gone) return;
    PulseState.gone = true;
    int64_t now = now_ns();
    std::lock_guard<std::mutex> guard(PulseState.heard_lock);
    HeardReading& h = PulseState.heard;
    double frame = h.known ? carried(h, now) : static_cast<double>(PulseState.handed);
    h = HeardReading{true, now, frame, true, true};
    std::fprintf(stderr,
                 "audio: the sound server went away (%s): the music goes on silently, timed by "
                 "the clock\n",
                 why);
}

// 5 ms; on PipeWire spread over 3 to 6 ms, so that the reports do not fall
// in step with the graph's cycles: a report stamped late in every cycle for
// long would leave the line behind, or look like a slip of the graph.
pa_usec_t tick_interval() {
    if (!PulseState.cycles) return kTickUs;
    PulseState.ticks = (PulseState.ticks + 1) % 30;
    return kTickUs - 2'000 + PulseState.ticks * 1'300 % 3'000;
}

void on_tick(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void*) {
    pa_context_rttime_restart(PulseState.c.context, e, pa_rtclock_now() + tick_interval());
    if (!PulseState.started) return;
    if (PulseState.gone) {
        pump_silently();
        return;
    }
    // One report asked for at a time; each answer calls on_timing.
    if (PulseState.asked && pa_operation_get_state(PulseState.asked) == PA_OPERATION_RUNNING)
        return;
    if (PulseState.asked) pa_operation_unref(PulseState.asked);
    PulseState.asked = pa_stream_update_timing_info(PulseState.c.stream, nullptr, nullptr);
}

void on_wake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void*) {
    uint64_t count = 0;
    if (read(fd, &count, sizeof count) < 0) return;
    if (PulseState.gone)
        pump_silently();
    else
        write_buffers(true);
}

void on_context_state(pa_context* c, void*) {
    pa_context_state_t state = pa_context_get_state(c);
    if (!PA_CONTEXT_IS_GOOD(state) && PulseState.started)
        go_silent(pa_strerror(pa_context_errno(c)));
    pa_threaded_mainloop_signal(PulseState.c.loop, 0);
}

void on_stream_state(pa_stream* s, void*) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)) && PulseState.started)
        go_silent(pa_strerror(pa_context_errno(PulseState.c.context)));
    pa_threaded_mainloop_signal(PulseState.c.loop, 0);
}

void on_writable(pa_stream*, size_t, void*) { write_buffers(false); }

void on_timing(pa_stream* s, void*) {
    // A report the server was slow to answer (its main thread was put aside
    // between taking its figures and stamping the answer) is dated late, so
    // it would put the position behind: passed over while the last one is
    // recent, as there is no telling how late. (On PipeWire every report is
    // late, and the line of the last half second's reports passes over the
    // later ones by itself.)
    const pa_timing_info* timing = pa_stream_get_timing_info(s);
    int64_t now = now_ns();
    if (!timing || timing->read_index_corrupt) return;
    // (A report that the stream stopped playing, a sink run dry, is taken
    // all the same: carrying the position on would be wrong by more.)
    if (!PulseState.cycles && timing->synchronized_clocks &&
        timing->transport_usec > kSlowReportUs && now - PulseState.report.ns < kStaleReportNs &&
        timing->playing)
        return;
    // What the server has read from the stream, less what its sink holds.
    PulseState.report = {true, report_time(timing),
                         static_cast<double>(timing->read_index) / kAudioFrameBytes -
                             static_cast<double>(timing->sink_usec) * kAudioRate / 1e6,
                         timing->playing != 0};
    if (PulseState.cycles) {
        // A stall starts a new line: what was read before it says nothing
        // of when the sound resumed.
        if (PulseState.report.playing)
            cycle_take(PulseState.cycle, PulseState.report.ns,
                       timing->read_index / kAudioFrameBytes, PulseState.report.leaving);
        else
            cycle_clear(PulseState.cycle);
    }
    read_heard();
}

void on_moved(pa_stream* s, void*) {
    // Another sink, another latency: its reports make a line of their own.
    cycle_clear(PulseState.cycle);
    if (pa_operation* o = pa_stream_update_timing_info(s, nullptr, nullptr)) pa_operation_unref(o);
}

void close_pulse() {
    if (!PulseState.c.loop) return;
    pa_threaded_mainloop_lock(PulseState.c.loop);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(PulseState.c.loop);
    if (PulseState.tick) api->time_free(PulseState.tick);
    if (PulseState.asked) pa_operation_unref(PulseState.asked);
    if (PulseState.wake) api->io_free(PulseState.wake);
    pa_threaded_mainloop_unlock(PulseState.c.loop);
    pulse_disconnect(PulseState.c);
    if (PulseState.wake_fd >= 0) close(PulseState.wake_fd);
    PulseState.tick = nullptr;
    PulseState.asked = nullptr;
    PulseState.wake = nullptr;
    PulseState.wake_fd = -1;
}

// The stream's buffering, the same for a connection made ahead and one made
// at open. Playback starts (and after a drop, starts again) with the first
// frame that arrives: the server's default waits for a whole target's worth,
// which with an adjusted latency it may never ask for.
pa_buffer_attr stream_attributes() {
    pa_sample_spec spec = {PA_SAMPLE_S16NE, kAudioRate, kAudioChannels};
    const auto target = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &spec));
    return pa_buffer_attr{static_cast<uint32_t>(-1), target,
                          static_cast<uint32_t>(kAudioFrameBytes), static_cast<uint32_t>(-1),
                          static_cast<uint32_t>(-1)};
}

constexpr auto kStreamFlags = static_cast<pa_stream_flags_t>(
    PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);

void prepare_pulse() {
    if (PulseState.early.started()) return;
    try {
        PulseState.early.thread = std::thread([] {
            PulseState.early.failure = pulse_connect(PulseState.early.c, stream_attributes(),
                                                     kStreamFlags, now_ns() + kConnectTimeoutNs);
        });
    } catch (const std::system_error&) {
        // No thread to be had: open connects as without this call.
    }
}

void forget_prepared_pulse() {
    PulseState.early.finish();
    pulse_disconnect(PulseState.early.c);
    PulseState.early.c = PulseConnection{};
    PulseState.early.failure.clear();
}

bool open_pulse(FillBuffer fill, int* buffer_frames, std::string* said) {
    PulseState.fill = fill;
    PulseState.buffer.assign(static_cast<size_t>(kBufferFrames) * kAudioFrameBytes, 0);
    PulseState.started = false;
    PulseState.gone = false;
    PulseState.handed = 0;
    PulseState.asked = nullptr;
    PulseState.report = Report{};
    PulseState.timeline = new_pulse_timeline();
    PulseState.cycle = CyclePosition{};
    record_heard(HeardReading{});

    const pa_buffer_attr attr = stream_attributes();
    PulseState.target_bytes = attr.tlength;
    std::string failure;
    if (PulseState.early.started()) {
        // Made ahead: taken as it is, or its reason for failing is ours.
        PulseState.early.finish();
        PulseState.c = PulseState.early.c;
        PulseState.early.c = PulseConnection{};
        failure = PulseState.early.failure;
    } else {
        failure = pulse_connect(PulseState.c, attr, kStreamFlags, now_ns() + kConnectTimeoutNs);
    }
    if (!failure.empty()) {
        *said = failure;
        return false;
    }
    // "PulseAudio (on PipeWire 0.3.65) 15.0.0": PipeWire's PulseAudio
    // service names itself so.
    PulseState.cycles = PulseState.c.server.find("PipeWire") != std::string::npos;

    pa_threaded_mainloop_lock(PulseState.c.loop);
    pa_context_set_state_callback(PulseState.c.context, on_context_state, nullptr);
    pa_stream_set_state_callback(PulseState.c.stream, on_stream_state, nullptr);
    pa_stream_set_write_callback(PulseState.c.stream, on_writable, nullptr);
    pa_stream_set_latency_update_callback(PulseState.c.stream, on_timing, nullptr);
    pa_stream_set_moved_callback(PulseState.c.stream, on_moved, nullptr);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(PulseState.c.loop);
    PulseState.wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (PulseState.wake_fd >= 0)
        PulseState.wake = api->io_new(api, PulseState.wake_fd, PA_IO_EVENT_INPUT, on_wake, nullptr);
    PulseState.tick =
        pa_context_rttime_new(PulseState.c.context, pa_rtclock_now() + kTickUs, on_tick, nullptr);
    *said = "the sound server (" + PulseState.c.server + ") at " +
            pa_context_get_server(PulseState.c.context) + ", sink " +
            pa_stream_get_device_name(PulseState.c.stream);
    pa_threaded_mainloop_unlock(PulseState.c.loop);
    *buffer_frames = kBufferFrames;
    return true;
}

void start_pulse() {
    pa_threaded_mainloop_lock(PulseState.c.loop);
    PulseState.started = true;
    // The server may have gone between Init's connecting and now.
    if (!PulseState.gone && pa_stream_get_state(PulseState.c.stream) != PA_STREAM_READY)
        go_silent(pa_strerror(pa_context_errno(PulseState.c.context)));
    if (!PulseState.gone) {
        if (pa_operation* o = pa_stream_cork(PulseState.c.stream, 0, nullptr, nullptr))
            pa_operation_unref(o);
        write_buffers(false);
    }
    pa_threaded_mainloop_unlock(PulseState.c.loop);
}

void lock_pulse() { pa_threaded_mainloop_lock(PulseState.c.loop); }

void unlock_pulse() { pa_threaded_mainloop_unlock(PulseState.c.loop); }

bool heard_pulse(int64_t now, double* frame) {
    std::lock_guard<std::mutex> guard(PulseState.heard_lock);
    if (!PulseState.heard.known) return false;
    *frame = carried(PulseState.heard, now);
    return true;
}

void hurry_pulse() {
    uint64_t one = 1;
    if (PulseState.wake_fd >= 0 && write(PulseState.wake_fd, &one, sizeof one) < 0) {
        // Full (it never is: the main loop empties it): the next request comes anyway.
    }
}

}  // namespace

const AudioOutput kPulseOutput = {
    .open = open_pulse,
    .start = start_pulse,
    .lock = lock_pulse,
    .unlock = unlock_pulse,
    .close = close_pulse,
    .heard = heard_pulse,
    .hurry = hurry_pulse,
    .prepare = prepare_pulse,
    .forget_prepared = forget_prepared_pulse,
    .drops_held = true,
    .heard_runs_on = false,
};

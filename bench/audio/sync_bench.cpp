// sync_bench: how far the position the audio library reports lies from what
// the sound server's sink plays at the same instant, in milliseconds.
//
//   sync_bench [--quick] [--verbose] [--pipewire [--quantum N] [--rate R]] [track.mp3]
//
// Starts a private PulseAudio server (scripts/sound-server), then for each
// output plays the track through the audio library as the presentation does
// (Play, then the start offset at once) for 30 s (--quick: 8 s) with four
// seeks (a quarter second forward and back, 3 s forward, 5 s back) and,
// halfway, a move of the stream to the server's other sink (pactl
// move-sink-input: the latency changes), polling the position every 2 ms.
// Meanwhile it records both null sinks' monitors, dates every recorded block
// by when it left the sink (see monitor_recorder.h), finds each block in the
// track decoded with libmpg123 and compares the polled positions with the
// track frame heard at the same instants. The 50 ms after each seek (and
// after the start, and the move) are left out: there the sink still plays
// what it held, and the position holds the new place. On PipeWire so is the
// graph cycle before each: a null sink has no delay, so a cycle's sound is
// dated from its start, before the callback that fills it, and a seek made
// in that moment is heard from before it was asked for.
//
// On PulseAudio two outputs, on the same server: "server", the library's
// own choice, and "sdl", SDL's pulseaudio driver (SDL_AUDIODRIVER=pulseaudio),
// the baseline. With --pipewire the server is PipeWire (with its PulseAudio
// service), its graph run at --quantum N frames and --rate R Hz (default:
// let go, 44100 Hz), and three outputs: "native", the library's own choice
// (its native PipeWire output where it has one), "pulse", its libpulse
// output through the PulseAudio service (the native socket hidden, as a
// sandbox that exposes only PulseAudio's does), and "sdl". pactl moves
// native streams too: the PulseAudio service lists them as sink inputs.
//
// At 44100 Hz the null sink changes no sample, and recorded blocks are found
// in the track sample for sample; with the graph at 48000 Hz the track is
// resampled on its way, and the recording is found by correlation with the
// track around where the library said it was (within 0.1 ms: see
// pipewire_recorder_test). One line each:
//   output NAME audio: playing through ...   (what the library said it chose)
//   sync NAME median M ms worst W ms bias B ms polls N left-out L unheard U unsure S exact X %
//     unrecorded R
// bias is the median of reported - heard (positive: ahead of the sound);
// unheard counts polls while the sink played nothing of the track (a gap),
// unsure those whose call took over 0.2 ms (the poller was put aside, so
// its instant is not known to better than that); exact is the share of the
// recorded sound that was found in the track; unrecorded counts polls in a
// graph cycle the native recorder missed (its thread was kept off the
// processor for longer than a cycle, and that cycle's sound is lost to it):
// no one knows what was heard then. And for each output:
//   init NAME T ms
// the time BASS_Init takes to open it (median of five), which the program's
// start waits for, and
//   move NAME heard on the other sink M, on the first F polls
// which says whether the move took: the polls after it, by the sink they
// were heard on, and
//   stalls NAME longest L ms, over 3 ms N times (a real-time timer every 1 ms
//     on each of C processors); away from them worst W ms of P polls
// how long the machine kept a real-time thread off the processor meanwhile
// (stalls of a graph cycle or more explain worst errors no output can
// avoid) and the worst error of the polls away from every stall over 2 ms.
// --verbose also prints every poll more than 1 ms off, with its time since
// the last seek, to standard error.
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/mp3_stream.h"
#include "config/presentation.h"
#include "platform/audio_format.h"
#include "platform/audio_library.h"
#include "support/monitor_recorder.h"
#include "support/sound_server.h"
#include "support/test_files.h"
#include "support/track_matcher.h"

namespace {

constexpr int64_t kStartFrame = kStartSampleFrame;  // where the presentation starts its music
constexpr int64_t kSettleNs = 50'000'000;
constexpr int64_t kSureCallNs = 200'000;
constexpr int64_t kReach = kAudioRate / 10;  // where a resampled recording is looked for
bool verbose = false;

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Poll {
    int64_t ns;
    int64_t frame;
};

// How long the machine keeps a real-time thread off the processor while the
// outputs are measured: a thread at the priority PipeWire gives its data
// threads wakes every millisecond and notes how late it woke. A stall as
// long as a graph cycle makes the server, the output or the recorder miss
// one, which no output can follow exactly; the worst errors are read
// against this.
struct Stall {
    int64_t from_ns, to_ns;  // when the thread was due, when it woke
};
constexpr int64_t kStallNs = 2'000'000;  // a wakeup later than this is a stall
// The polls left out around each stall for the worst error away from them:
// time for every output to have taken a report made after it and for the
// sound to have caught up with a position held meanwhile.
constexpr int64_t kBeforeStallNs = 10'000'000, kAfterStallNs = 100'000'000;
struct StallProbe {
    int cpu = 0;  // the processor it keeps to: a stall may hold up one only
    std::atomic<bool> stop{false};
    bool real_time = false;
    int64_t longest_ns = 0;
    int over_3ms = 0;
    std::vector<Stall> stalls;  // those over 2 ms, reserved: the thread must not allocate
    std::thread thread;
};

int64_t ns_of(const timespec& t) { return t.tv_sec * 1'000'000'000 + t.tv_nsec; }

void probe_stalls(StallProbe* probe) {
    sched_param param{};
    param.sched_priority = 88;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(probe->cpu, &one);
    probe->real_time = pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0 &&
                       pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    while (!probe->stop) {
        due.tv_nsec += 1'000'000;
        if (due.tv_nsec >= 1'000'000'000) {
            due.tv_nsec -= 1'000'000'000;
            ++due.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        timespec woke{};
        clock_gettime(CLOCK_MONOTONIC, &woke);
        const int64_t late = ns_of(woke) - ns_of(due);
        probe->longest_ns = std::max(probe->longest_ns, late);
        if (late > 3'000'000) ++probe->over_3ms;
        if (late > kStallNs && probe->stalls.size() < probe->stalls.capacity())
            probe->stalls.push_back({ns_of(due), ns_of(woke)});
        if (late > 1'000'000) due = woke;  // no burst of wakeups to catch up
    }
}

// One probe per processor this process may run on, started.
std::vector<std::unique_ptr<StallProbe>> start_stall_probes() {
    std::vector<std::unique_ptr<StallProbe>> probes;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    sched_getaffinity(0, sizeof cpus, &cpus);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &cpus)) continue;
        probes.push_back(std::make_unique<StallProbe>());
        probes.back()->cpu = cpu;
        probes.back()->stalls.reserve(100'000);
        probes.back()->thread = std::thread(probe_stalls, probes.back().get());
    }
    return probes;
}

struct Figures {
    bool ran = false;
    std::string output;  // what the library said it plays through
    double init_ms = 0;  // BASS_Init, median of five
    double median = 0, worst = 0, bias = 0, exact = 0;
    size_t polls = 0, left_out = 0, unheard = 0, unsure = 0, unrecorded = 0;
    size_t moved = 0, stayed = 0;  // polls after the move heard on the other sink, the first
    bool probe_real_time = false;  // the stall probe's, while the track played
    double longest_stall_ms = 0;
    int stalls_over_3ms = 0;
    int probe_cpus = 0;
    double worst_calm = 0;  // of the polls away from every stall
    size_t calm_polls = 0;
};

// Stops the probes; their figures go into f, their stalls are returned.
std::vector<Stall> end_stall_probes(std::vector<std::unique_ptr<StallProbe>>& probes, Figures* f) {
    std::vector<Stall> stalls;
    f->probe_real_time = true;
    for (auto& probe : probes) {
        probe->stop = true;
        probe->thread.join();
        f->probe_real_time = f->probe_real_time && probe->real_time;
        f->longest_stall_ms =
            std::max(f->longest_stall_ms, static_cast<double>(probe->longest_ns) / 1e6);
        f->stalls_over_3ms += probe->over_3ms;
        stalls.insert(stalls.end(), probe->stalls.begin(), probe->stalls.end());
    }
    f->probe_cpus = static_cast<int>(probes.size());
    return stalls;
}

std::vector<int16_t> decode(const std::vector<uint8_t>& file) {
    Mp3Stream stream;
    std::vector<int16_t> pcm;
    if (mp3_open(&stream, file.data(), file.size()) != kMp3Ok) return pcm;
    pcm.resize(static_cast<size_t>(stream.length) * 2);
    pcm.resize(static_cast<size_t>(mp3_read(&stream, pcm.data(), stream.length)) * 2);
    mp3_close(&stream);
    return pcm;
}

// BASS_Init, with what it writes to standard error (the output it chose)
// caught as well as passed on.
bool init_telling(std::string* said) {
    std::fflush(stderr);
    FILE* caught = std::tmpfile();
    int saved = dup(STDERR_FILENO);
    if (caught) dup2(fileno(caught), STDERR_FILENO);
    bool opened = BASS_Init(-1, kAudioRate, 0, 0, nullptr);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    if (caught) {
        std::rewind(caught);
        char line[512];
        while (std::fgets(line, sizeof line, caught)) {
            std::fputs(line, stderr);
            if (said->empty() && std::strncmp(line, "audio:", 6) == 0)
                *said = std::string(line, std::strcspn(line, "\n"));
        }
        std::fclose(caught);
    }
    return opened;
}

// Moves the one playing stream to the other sink, as a user switching
// outputs does; when the move was asked for and when it was done.
void move_to_other_sink(const SoundServer& server, int64_t* asked, int64_t* done) {
    *asked = steady_ns();
    move_stream_to_sink(server, "velkorandi_other");
    *done = steady_ns();
}

// Plays with four seeks and, halfway, a move to the other sink, polling; the
// times of the seeks (and the start), and of the move.
std::vector<Poll> play(const SoundServer& server, HSTREAM stream, double seconds,
                       std::vector<int64_t>* moves, int64_t* move_asked, int64_t* move_done) {
    const int64_t steps[] = {11025, -11025, int64_t{3} * 44100, int64_t{-5} * 44100};
    std::vector<Poll> polls;
    int64_t t0 = steady_ns();
    moves->push_back(t0);
    BASS_ChannelPlay(stream, FALSE);
    BASS_ChannelSetPosition(stream, 4 * kStartFrame);
    int next = 0;
    std::thread mover;
    while (steady_ns() - t0 < static_cast<int64_t>(seconds * 1e9)) {
        // A poll is dated by the middle of the call; one that took longer
        // than 0.2 ms (the thread was put aside) has no sure date.
        int64_t before = steady_ns();
        int64_t frame = static_cast<int64_t>(BASS_ChannelGetPosition(stream) / 4);
        int64_t now = steady_ns();
        polls.push_back({now - before > kSureCallNs ? -1 : (before + now) / 2, frame});
        if (next < 4 && now - t0 >= static_cast<int64_t>(seconds * 1e9 * (next + 1) / 5)) {
            moves->push_back(steady_ns());
            BASS_ChannelSetPosition(stream, static_cast<QWORD>(4 * (frame + steps[next++])));
        }
        if (!mover.joinable() && now - t0 >= static_cast<int64_t>(seconds * 1e9) / 2)
            mover = std::thread(move_to_other_sink, std::cref(server), move_asked, move_done);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (mover.joinable()) mover.join();
    return polls;
}

// When recorded frame `frame` left the sink, by the block it is in.
int64_t left_at(const Recording& recording, int64_t frame) {
    auto after = std::upper_bound(recording.blocks.begin(), recording.blocks.end(), frame,
                                  [](int64_t f, const RecordedBlock& b) { return f < b.first; });
    if (after == recording.blocks.begin()) return -1;
    const RecordedBlock& b = *(after - 1);
    return b.left_ns + (frame - b.first) * 1'000'000'000 / recording.rate;
}

// Whether time ns lies in a stretch that was recorded. The native recorder
// dates each graph cycle's block by the graph's clock, so a block that
// starts later than the one before it ends follows cycles it never got:
// reading on from the block before would make up what was heard there.
bool recorded_through(const Recording& recording, int64_t ns) {
    constexpr int64_t kSlackNs = 100'000;  // the dates' rounding, well within it
    auto after = std::upper_bound(recording.blocks.begin(), recording.blocks.end(), ns,
                                  [](int64_t t, const RecordedBlock& b) { return t < b.left_ns; });
    if (after == recording.blocks.begin() || after == recording.blocks.end()) return true;
    const RecordedBlock& b = *(after - 1);
    return ns <= b.left_ns + (after->first - b.first) * 1'000'000'000 / recording.rate + kSlackNs;
}

// The length of a graph cycle in a native recording (one block each), or 0.
int64_t cycle_ns(const Recording& recording) {
    if (recording.blocks.size() < 2) return 0;
    return (recording.blocks[1].first - recording.blocks[0].first) * 1'000'000'000 / recording.rate;
}

// The position polled nearest to time ns (within 10 ms), or -1.
double polled_at(const std::vector<Poll>& polls, int64_t ns) {
    auto at = std::lower_bound(polls.begin(), polls.end(), ns,
                               [](const Poll& p, int64_t t) { return p.ns < t; });
    if (at == polls.end() || at->ns < 0 || std::abs(at->ns - ns) > 10'000'000) return -1;
    return static_cast<double>(at->frame);
}

Figures measure(const char* name, const SoundServer& server, const std::vector<uint8_t>& file,
                const std::vector<int16_t>& track, double seconds) {
    Figures f;
    std::string why;
    MonitorRecorder* recorder = start_recording(server, "velkorandi", &why);
    MonitorRecorder* other = recorder ? start_recording(server, "velkorandi_other", &why) : nullptr;
    if (!other) {
        if (recorder) finish_recording(recorder);
        std::fprintf(stderr, "sync_bench: cannot record the sinks: %s\n", why.c_str());
        return f;
    }
    // What opening the output costs the program's start: connecting and
    // setting up the stream (the rest of Init is the same for both).
    std::vector<double> inits;
    if (init_telling(&f.output)) BASS_Free();
    for (int i = 0; i < 5; ++i) {
        int64_t t0 = steady_ns();
        bool opened = BASS_Init(-1, kAudioRate, 0, 0, nullptr);
        inits.push_back(static_cast<double>(steady_ns() - t0) / 1e6);
        if (opened) BASS_Free();
    }
    std::sort(inits.begin(), inits.end());
    f.init_ms = inits[inits.size() / 2];
    std::vector<Poll> polls;
    std::vector<Stall> stalls;
    std::vector<int64_t> moves;
    int64_t move_asked = INT64_MAX, move_done = INT64_MAX;
    if (BASS_Init(-1, kAudioRate, 0, 0, nullptr)) {
        HSTREAM stream =
            BASS_StreamCreateFile(TRUE, file.data(), 0, file.size(), BASS_STREAM_PRESCAN);
        if (stream) {
            std::vector<std::unique_ptr<StallProbe>> probes = start_stall_probes();
            polls = play(server, stream, seconds, &moves, &move_asked, &move_done);
            stalls = end_stall_probes(probes, &f);
        }
        BASS_Free();
    }
    // Before the move the first sink plays the track, after it the other.
    const Recording recordings[2] = {finish_recording(recorder), finish_recording(other)};
    if (polls.empty()) return f;
    // Where each sink's recording lies in the track: sample for sample at
    // the track's rate, else by correlation around the polled position.
    std::vector<MatchedRun> runs[2];
    std::vector<LocatedRun> located[2];
    std::vector<Poll> sure;
    std::copy_if(polls.begin(), polls.end(), std::back_inserter(sure),
                 [](const Poll& p) { return p.ns >= 0; });
    int64_t sound = 0, matched = 0;
    for (int k = 0; k < 2; ++k) {
        const Recording& recording = recordings[k];
        for (int64_t i = 0; i < recording.frames(); ++i)
            if (recording.samples[2 * i] != 0 || recording.samples[2 * i + 1] != 0) ++sound;
        if (recording.rate == kAudioRate) {
            runs[k] = match_recording(recording.samples, track);
            for (const MatchedRun& r : runs[k]) matched += r.frames;
        } else {
            auto expected = [&](int64_t frame) {
                return polled_at(sure, left_at(recording, frame));
            };
            located[k] =
                locate_recording(recording.samples, recording.rate, track, expected, kReach);
            for (const LocatedRun& r : located[k]) matched += r.frames;
        }
    }
    f.exact = sound ? 100.0 * static_cast<double>(std::min(matched, sound)) / sound : 0;
    auto track_heard = [&](int k, double recorded) {
        const int rate = recordings[k].rate;
        const auto whole = static_cast<int64_t>(std::floor(recorded));
        if (rate == kAudioRate) return static_cast<double>(track_frame_at(runs[k], whole));
        double at = located_frame_at(located[k], rate, whole);
        return at < 0 ? at : at + (recorded - static_cast<double>(whole)) * kAudioRate / rate;
    };

    const int64_t lead = server.pipewire ? cycle_ns(recordings[0]) : 0;
    std::vector<double> errors;
    for (const Poll& p : polls) {
        if (p.ns < 0) {
            ++f.unsure;
            continue;
        }
        bool settling = std::any_of(moves.begin(), moves.end(), [&](int64_t m) {
            return p.ns >= m - lead && p.ns < m + kSettleNs;
        });
        if (settling || (p.ns >= move_asked - lead && p.ns < move_done + kSettleNs)) {
            ++f.left_out;
            continue;
        }
        const int sink = p.ns < move_asked ? 0 : 1;
        if (server.pipewire && !recorded_through(recordings[sink], p.ns)) {
            ++f.unrecorded;
            continue;
        }
        // After the move the other sink plays it (if the server moved it).
        double heard = -1;
        for (int k : {sink, 0}) {
            double recorded = 0;
            if (heard < 0 && recorded_frame_at(recordings[k], p.ns, &recorded)) {
                heard = track_heard(k, recorded);
                if (heard >= 0 && p.ns >= move_done) ++(k == 1 ? f.moved : f.stayed);
            }
        }
        if (heard < 0) {
            ++f.unheard;
            continue;
        }
        errors.push_back((static_cast<double>(p.frame) - heard) * 1000.0 / kAudioRate);
        if (std::none_of(stalls.begin(), stalls.end(), [&](const Stall& s) {
                return p.ns >= s.from_ns - kBeforeStallNs && p.ns < s.to_ns + kAfterStallNs;
            })) {
            f.worst_calm = std::max(f.worst_calm, std::abs(errors.back()));
            ++f.calm_polls;
        }
        if (verbose && std::abs(errors.back()) > 1.0) {
            std::vector<int64_t> events = moves;
            events.push_back(move_done);
            int64_t last =
                *std::max_element(events.begin(), events.end(), [&](int64_t a, int64_t b) {
                    return (a <= p.ns ? a : INT64_MIN) < (b <= p.ns ? b : INT64_MIN);
                });
            std::fprintf(stderr, "%s off %+.2f ms at %.3f s, %.0f ms after a seek\n", name,
                         errors.back(), static_cast<double>(p.ns - moves[0]) / 1e9,
                         static_cast<double>(p.ns - last) / 1e6);
        }
    }
    f.polls = errors.size();
    if (errors.empty()) return f;
    std::vector<double> sizes(errors.size());
    std::transform(errors.begin(), errors.end(), sizes.begin(),
                   [](double e) { return std::abs(e); });
    std::sort(sizes.begin(), sizes.end());
    std::sort(errors.begin(), errors.end());
    f.median = sizes[sizes.size() / 2];
    f.worst = sizes.back();
    f.bias = errors[errors.size() / 2];
    f.ran = true;
    return f;
}

void print(const char* name, const Figures& f) {
    std::printf("output %s %s\n", name,
                f.output.empty() ? "(the library said nothing)" : f.output.c_str());
    if (!f.ran) {
        std::printf("sync %s failed\n", name);
        return;
    }
    std::printf(
        "sync %s median %.2f ms worst %.2f ms bias %+.2f ms polls %zu left-out %zu unheard %zu "
        "unsure %zu exact %.1f %% unrecorded %zu\n",
        name, f.median, f.worst, f.bias, f.polls, f.left_out, f.unheard, f.unsure, f.exact,
        f.unrecorded);
    std::printf("init %s %.2f ms\n", name, f.init_ms);
    std::printf(
        "stalls %s longest %.2f ms, over 3 ms %d times (a %s timer every 1 ms on each of %d "
        "processors); away from them worst %.2f ms of %zu polls\n",
        name, f.longest_stall_ms, f.stalls_over_3ms,
        f.probe_real_time ? "real-time" : "NOT real-time", f.probe_cpus, f.worst_calm,
        f.calm_polls);
    std::printf("move %s heard on the other sink %zu, on the first %zu polls\n", name, f.moved,
                f.stayed);
}

// An output to measure: its name and how the process is set up for it.
struct Output {
    const char* name;
    void (*use)(const SoundServer& server);
};

void use_sdl_pulseaudio(const SoundServer& server) {
    use_sound_server(server);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, pipewire = false;
    int quantum = 0, rate = 0;
    const char* path = DEFAULT_TRACK;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--verbose") == 0)
            verbose = true;
        else if (std::strcmp(argv[i], "--pipewire") == 0)
            pipewire = true;
        else if (std::strcmp(argv[i], "--quantum") == 0 && i + 1 < argc)
            quantum = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc)
            rate = std::atoi(argv[++i]);
        else
            path = argv[i];
    }
    std::vector<uint8_t> file = read_file(path);
    std::vector<int16_t> track = decode(file);
    if (track.size() < static_cast<size_t>(2 * (kStartFrame + int64_t{40} * kAudioRate))) {
        std::fprintf(stderr, "sync_bench: %s is not a track of at least 100 s\n", path);
        return 1;
    }
    SoundServer server = start_sound_server(pipewire);
    if (!server.running()) {
        std::printf("sync skipped: no %s server can run here: %s\n",
                    pipewire ? "PipeWire" : "PulseAudio", server.failure.c_str());
        return 0;
    }
    std::printf("server %s\n", server.name.c_str());
    if (pipewire) {
        std::string why;
        if (!set_graph_clock(server, quantum, rate, &why)) {
            std::printf("sync skipped: the graph cannot run at quantum %d and %d Hz: %s\n", quantum,
                        rate, why.c_str());
            stop_sound_server(server);
            return 0;
        }
        std::printf("graph quantum %s rate %d\n",
                    quantum ? std::to_string(quantum).c_str() : "free", server.graph_rate);
    }
    std::fflush(stdout);
    const double seconds = quick ? 8 : 30;
    std::vector<Output> outputs;
    if (pipewire)
        outputs = {{"native", use_sound_server},
                   {"pulse", use_pulse_socket_only},
                   {"sdl", use_sdl_pulseaudio}};
    else
        outputs = {{"server", use_sound_server}, {"sdl", use_sdl_pulseaudio}};
    std::vector<Figures> figures;
    for (const Output& output : outputs) {
        output.use(server);
        figures.push_back(measure(output.name, server, file, track, seconds));
    }
    stop_sound_server(server);
    bool all = true;
    for (size_t i = 0; i < outputs.size(); ++i) {
        print(outputs[i].name, figures[i]);
        all = all && figures[i].ran;
    }
    return all ? 0 : 1;
}

// The native recorder's dates against a native player's own: a playback
// stream on a private PipeWire server plays a signal that never repeats and
// dates each buffer it queues by the graph's clock (its first frame is heard
// at the cycle's time plus the stream's delay plus what is queued before
// it); the recorder, on the sink's monitor, must date the same frames the
// same, to a tenth of a millisecond. At the signal's rate it must record
// them sample for sample; with the graph at 48000 Hz the recording is found
// in the signal by correlation, which must be as close.
#include <gtest/gtest.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "support/monitor_recorder.h"
#include "support/sound_server.h"
#include "support/track_matcher.h"

namespace {

constexpr int kRate = 44100;

struct DatedBuffer {
    int64_t first = 0;     // its first frame in the signal
    int64_t heard_ns = 0;  // when that frame leaves the sink
};

// Plays `signal`, then silence, to the default sink, dating every buffer.
struct Player {
    const std::vector<int16_t>* signal = nullptr;
    pw_thread_loop* loop = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    std::atomic<int64_t> played{0};  // frames queued, silence too
    std::mutex mutex;
    std::vector<DatedBuffer> dated;
};

void on_play(void* data) {
    auto* p = static_cast<Player*>(data);
    pw_time time{};
    pw_stream_get_time_n(p->stream, &time, sizeof time);
    pw_buffer* b = pw_stream_dequeue_buffer(p->stream);
    if (!b) return;
    spa_data& d = b->buffer->datas[0];
    int64_t frames = d.maxsize / 4;
    if (b->requested) frames = std::min<int64_t>(frames, static_cast<int64_t>(b->requested));
    auto* out = static_cast<int16_t*>(d.data);
    const int64_t first = p->played, length = static_cast<int64_t>(p->signal->size() / 2);
    for (int64_t i = 0; i < frames * 2; ++i)
        out[i] = first * 2 + i < length * 2 ? (*p->signal)[static_cast<size_t>(first * 2 + i)] : 0;
    if (time.rate.denom > 0) {
        // The delay counts at the graph's rate, what is queued at ours.
        const int64_t delay_ns = time.delay * 1'000'000'000 * time.rate.num / time.rate.denom;
        const auto ahead = static_cast<int64_t>(time.queued + time.buffered);
        std::lock_guard<std::mutex> lock(p->mutex);
        p->dated.push_back({first, time.now + delay_ns + ahead * 1'000'000'000 / kRate});
    }
    d.chunk->offset = 0;
    d.chunk->stride = 4;
    d.chunk->size = static_cast<uint32_t>(frames * 4);
    b->size = static_cast<uint64_t>(frames);  // what time.queued counts
    p->played += frames;
    pw_stream_queue_buffer(p->stream, b);
}

const pw_stream_events kPlayerEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.process = on_play;
    return e;
}();

// Starts playing through the server found by XDG_RUNTIME_DIR
// (use_sound_server); false when it cannot.
bool start_player(Player* p) {
    pw_init(nullptr, nullptr);
    p->loop = pw_thread_loop_new("player", nullptr);
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                          PW_KEY_TARGET_OBJECT, "velkorandi", nullptr);
    pw_thread_loop_lock(p->loop);
    pw_thread_loop_start(p->loop);
    p->stream = pw_stream_new_simple(pw_thread_loop_get_loop(p->loop), "dated player", props,
                                     &kPlayerEvents, p);
    uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16_LE;
    info.rate = kRate;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[1] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    auto flags = static_cast<pw_stream_flags>(
        PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    bool ok = p->stream &&
              pw_stream_connect(p->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) >= 0;
    pw_thread_loop_unlock(p->loop);
    return ok;
}

void stop_player(Player* p) {
    pw_thread_loop_stop(p->loop);
    if (p->stream) pw_stream_destroy(p->stream);
    pw_thread_loop_destroy(p->loop);
}

// Noise that never repeats within the signal, so that every stretch of it
// is found in one place only; low-passed, as music is, so that a resampler
// keeps most of it.
std::vector<int16_t> noise(int64_t frames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames * 2));
    uint32_t state = 12345;
    double low[2] = {0, 0};
    for (size_t i = 0; i < samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        double& y = low[i % 2];
        y += 0.3 * (static_cast<double>(static_cast<int32_t>(state >> 16) - 32768) - y);
        samples[i] = static_cast<int16_t>(y);
    }
    return samples;
}

// The signal frame leaving the sink at time ns by the player's dates; -1
// before the first.
double played_at(const std::vector<DatedBuffer>& dated, int64_t ns) {
    auto after = std::upper_bound(dated.begin(), dated.end(), ns,
                                  [](int64_t t, const DatedBuffer& b) { return t < b.heard_ns; });
    if (after == dated.begin()) return -1;
    const DatedBuffer& b = *(after - 1);
    return static_cast<double>(b.first) + static_cast<double>(ns - b.heard_ns) * kRate / 1e9;
}

// The stretches of time around a cycle one side missed: where the dates of
// two neighbouring buffers lie further apart than the frames between them,
// widened by a cycle before and two after, on both sides. A buffer queued
// late may be played a cycle late or dropped, and neither side's clock
// tells which, so no date there can be checked.
struct Gap {
    int64_t from_ns, to_ns;
};

std::vector<Gap> missed_cycles(const std::vector<DatedBuffer>& played, const Recording& recording,
                               int64_t cycle_ns) {
    std::vector<Gap> gaps;
    auto add = [&](const auto& dated, int rate, auto date) {
        for (size_t i = 1; i < dated.size(); ++i) {
            const int64_t was = date(dated[i - 1]), is = date(dated[i]);
            if (is - was - (dated[i].first - dated[i - 1].first) * 1'000'000'000 / rate >
                cycle_ns / 2)
                gaps.push_back({was - cycle_ns, is + 2 * cycle_ns});
        }
    };
    add(played, kRate, [](const DatedBuffer& b) { return b.heard_ns; });
    add(recording.blocks, recording.rate, [](const RecordedBlock& b) { return b.left_ns; });
    return gaps;
}

bool in_gap(const std::vector<Gap>& gaps, int64_t ns) {
    return std::any_of(gaps.begin(), gaps.end(),
                       [ns](const Gap& g) { return ns >= g.from_ns && ns <= g.to_ns; });
}

// The signal frame of each recorded block's first frame (-1: none): sample
// for sample at the signal's rate, where every recorded sound outside the
// gaps must be the signal's (within one, a stretch too short to be found
// may lie between silences); by correlation around the player's place at
// another rate.
std::vector<double> signal_frames(const Recording& recording, const std::vector<int16_t>& signal,
                                  const std::vector<DatedBuffer>& dated,
                                  const std::vector<Gap>& gaps) {
    std::vector<double> frames;
    if (recording.rate == kRate) {
        const std::vector<MatchedRun> runs = match_recording(recording.samples, signal);
        int64_t foreign = 0;
        for (size_t i = 0; i < recording.blocks.size(); ++i) {
            if (in_gap(gaps, recording.blocks[i].left_ns)) continue;
            const int64_t end = i + 1 < recording.blocks.size() ? recording.blocks[i + 1].first
                                                                : recording.frames();
            for (int64_t f = recording.blocks[i].first; f < end; ++f)
                if (track_frame_at(runs, f) < 0 &&
                    (recording.samples[static_cast<size_t>(2 * f)] ||
                     recording.samples[static_cast<size_t>(2 * f + 1)]))
                    ++foreign;
        }
        EXPECT_EQ(foreign, 0) << "recorded frames that are not the signal's";
        for (const RecordedBlock& b : recording.blocks)
            frames.push_back(static_cast<double>(track_frame_at(runs, b.first)));
        return frames;
    }
    auto expected = [&](int64_t frame) {
        auto after =
            std::upper_bound(recording.blocks.begin(), recording.blocks.end(), frame,
                             [](int64_t f, const RecordedBlock& b) { return f < b.first; });
        if (after == recording.blocks.begin()) return -1.0;
        return played_at(dated, (after - 1)->left_ns);
    };
    const std::vector<LocatedRun> runs =
        locate_recording(recording.samples, recording.rate, signal, expected, kRate / 20);
    for (const RecordedBlock& b : recording.blocks)
        frames.push_back(located_frame_at(runs, recording.rate, b.first));
    return frames;
}

struct Clocking {
    int quantum;
    int rate;
};

TEST(PipewireRecorderTest, DatesWhatANativePlayerDatesAtEveryQuantumAndRate) {
    SoundServer server = start_sound_server(true);
    if (!server.running()) GTEST_SKIP() << "no PipeWire server can run here: " << server.failure;
    use_sound_server(server);
    const std::vector<int16_t> signal = noise(kRate);
    for (const Clocking& clocking :
         {Clocking{128, 44100}, Clocking{256, 44100}, Clocking{1024, 44100}, Clocking{256, 48000},
          Clocking{1024, 48000}}) {
        SCOPED_TRACE("quantum " + std::to_string(clocking.quantum) + " at " +
                     std::to_string(clocking.rate) + " Hz");
        std::string why;
        ASSERT_TRUE(set_graph_clock(server, clocking.quantum, clocking.rate, &why)) << why;
        MonitorRecorder* recorder = start_recording(server, "velkorandi", &why);
        ASSERT_NE(recorder, nullptr) << why;
        Player player;
        player.signal = &signal;
        ASSERT_TRUE(start_player(&player));
        // Until the signal and half a second of silence after it are played.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (player.played < kRate * 3 / 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop_player(&player);
        const Recording recording = finish_recording(recorder);
        ASSERT_GE(player.played, kRate * 3 / 2) << "the player stalled";
        ASSERT_EQ(recording.rate, clocking.rate);

        // A busy machine may make the player or the recorder miss a cycle
        // (the sink plays silence there, or the recorder loses a buffer):
        // most of the signal, not all, is compared.
        const std::vector<Gap> gaps = missed_cycles(
            player.dated, recording, int64_t{clocking.quantum} * 1'000'000'000 / clocking.rate);
        const std::vector<double> frames = signal_frames(recording, signal, player.dated, gaps);
        double worst = 0;
        int64_t compared = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            // The player's first buffer is dated before its resampler
            // holds anything: from its second on.
            const double played = played_at(player.dated, recording.blocks[i].left_ns);
            if (frames[i] < 0 || played < static_cast<double>(player.dated.at(1).first) ||
                in_gap(gaps, recording.blocks[i].left_ns))
                continue;
            worst = std::max(worst, std::abs(frames[i] - played) * 1e6 / kRate);
            ++compared;
        }
        std::printf("%d at %d Hz: %ld blocks, %zu missed cycles, worst %.1f us\n", clocking.quantum,
                    clocking.rate, (long)compared, gaps.size(), worst);
        EXPECT_GE(compared, static_cast<int64_t>(clocking.rate / clocking.quantum) * 3 / 4);
        EXPECT_LE(worst, 100.0) << "the recorder's dates are off by up to " << worst << " us";
    }
    stop_sound_server(server);
}

}  // namespace

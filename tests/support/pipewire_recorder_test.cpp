// The native recorder's dates against a native player's own: a playback
// stream on a private PipeWire server plays a signal that never repeats and
// dates each buffer it queues by the graph's clock (its first frame is heard
// at the cycle's time plus the stream's delay plus what is queued before
// it); the recorder, on the sink's monitor, must date the same frames the
// same, to a tenth of a millisecond, and record them sample for sample.
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
// is found in one place only.
std::vector<int16_t> noise(int64_t frames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames * 2));
    uint32_t state = 12345;
    for (int16_t& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<int16_t>(static_cast<int32_t>(state >> 16) - 32768);
    }
    return samples;
}

// The date of signal frame `frame` by the player's buffers.
int64_t heard_at(const std::vector<DatedBuffer>& dated, int64_t frame) {
    auto after = std::upper_bound(dated.begin(), dated.end(), frame,
                                  [](int64_t f, const DatedBuffer& b) { return f < b.first; });
    const DatedBuffer& b = *(after - 1);
    return b.heard_ns + (frame - b.first) * 1'000'000'000 / kRate;
}

TEST(PipewireRecorderTest, DatesWhatANativePlayerDatesAtEveryQuantum) {
    SoundServer server = start_sound_server(true);
    if (!server.running()) GTEST_SKIP() << "no PipeWire server can run here: " << server.failure;
    use_sound_server(server);
    const std::vector<int16_t> signal = noise(kRate);
    for (int quantum : {128, 256, 1024}) {
        SCOPED_TRACE("quantum " + std::to_string(quantum));
        std::string why;
        ASSERT_TRUE(set_graph_clock(server, quantum, 0, &why)) << why;
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

        const std::vector<MatchedRun> runs = match_recording(recording.samples, signal);
        // Bit for bit: every recorded sound is the signal's. A busy machine
        // may make the player miss a cycle (the sink plays silence there).
        int64_t matched = 0, foreign = 0;
        for (const MatchedRun& r : runs) matched += r.frames;
        for (int64_t f = 0; f < recording.frames(); ++f)
            if (track_frame_at(runs, f) < 0 && (recording.samples[static_cast<size_t>(2 * f)] ||
                                                recording.samples[static_cast<size_t>(2 * f + 1)]))
                ++foreign;
        EXPECT_EQ(foreign, 0) << "recorded frames that are not the signal's";
        EXPECT_GE(matched, kRate * 9 / 10);
        int64_t worst = 0, compared = 0;
        for (const RecordedBlock& b : recording.blocks) {
            const int64_t frame = track_frame_at(runs, b.first);
            if (frame < 0) continue;
            worst = std::max(worst, std::abs(b.left_ns - heard_at(player.dated, frame)));
            ++compared;
        }
        EXPECT_GE(compared, kRate / quantum - 2);
        EXPECT_LE(worst, 100'000) << "the recorder's dates are off by up to " << worst << " ns";
    }
    stop_sound_server(server);
}

}  // namespace

// The MP3 decoder against the mpg123 command: lengths, sample-exact seeks,
// other rates and channel counts, and data that is not an MP3.
#include <gtest/gtest.h>
#include <algorithm>

#include <cstdlib>
#include <cstring>

#include "audio/mp3_stream.h"
#include "config/presentation.h"
#include "media_files.h"

namespace {

constexpr int64_t kStartFrame = kStartSampleFrame;  // where the program starts its music

std::vector<int16_t> read_all(Mp3Stream* s) {
    std::vector<int16_t> pcm(static_cast<size_t>(s->length + 10) * 2);
    int64_t got = mp3_read(s, pcm.data(), s->length + 10);
    pcm.resize(static_cast<size_t>(got) * 2);
    return pcm;
}

// Frames [frame, frame + count) read after a seek.
std::vector<int16_t> read_at(Mp3Stream* s, int64_t frame, int64_t count) {
    std::vector<int16_t> pcm(static_cast<size_t>(count) * 2);
    if (mp3_seek(s, frame) != kMp3Ok) return {};
    pcm.resize(static_cast<size_t>(mp3_read(s, pcm.data(), count)) * 2);
    return pcm;
}

bool same_as(const std::vector<int16_t>& got, const std::vector<int16_t>& all, int64_t frame) {
    if (got.empty() ||
        frame * 2 + static_cast<int64_t>(got.size()) > static_cast<int64_t>(all.size()))
        return false;
    return std::memcmp(got.data(), all.data() + frame * 2, got.size() * 2) == 0;
}

TEST(Mp3Stream, DecodesAndSeeksExactlyAsTheMpg123Command) {
    std::vector<uint8_t> file = read_file(media_path("tone70"));
    std::vector<int16_t> reference = reference_decode(media_path("tone70"));
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(reference.size(), 70u * 44100 * 2) << "mpg123 missing or not gapless";

    Mp3Stream s;
    ASSERT_EQ(mp3_open(&s, file.data(), file.size()), kMp3Ok);
    EXPECT_EQ(s.length, 70 * 44100);
    EXPECT_EQ(read_all(&s), reference);
    EXPECT_EQ(mp3_read(&s, reference.data(), 100), 0);  // at the end: nothing more

    // Back and forth, across MPEG frame boundaries (1152 samples) and at the
    // program's start offset.
    for (int64_t frame : {kStartFrame, int64_t{1}, int64_t{1151}, int64_t{1152},
                          kStartFrame + 11025, kStartFrame - 11025, s.length - 500, int64_t{0}})
        EXPECT_TRUE(same_as(read_at(&s, frame, 3000), reference, frame)) << "seek to " << frame;
    EXPECT_EQ(read_at(&s, s.length - 10, 100).size(), 20u);  // cut at the end
    EXPECT_EQ(mp3_seek(&s, s.length), kMp3Ok);
    EXPECT_EQ(mp3_seek(&s, s.length + 1), kMp3SeekFailed);
    EXPECT_EQ(mp3_seek(&s, -1), kMp3SeekFailed);
    mp3_close(&s);
    EXPECT_EQ(s.decoder, nullptr);
    EXPECT_EQ(mp3_read(&s, reference.data(), 10), 0);  // closed: reads nothing
}

TEST(Mp3Stream, OtherRatesAndMonoBecomeStereo44100) {
    // Mono 22050 Hz: twice as many frames; every even frame is a source
    // sample, doubled to both channels. libmpg123 rounds a handful of samples
    // of low-rate streams one step differently depending on where decoding
    // began, so "the same" allows one step on a few samples.
    std::vector<uint8_t> file = read_file(media_path("mono22"));
    std::vector<int16_t> source = reference_decode(media_path("mono22"));
    ASSERT_EQ(source.size(), 6u * 22050);
    Mp3Stream s;
    ASSERT_EQ(mp3_open(&s, file.data(), file.size()), kMp3Ok);
    EXPECT_EQ(s.length, 6 * 44100);
    std::vector<int16_t> pcm = read_all(&s);
    ASSERT_EQ(pcm.size(), 6u * 44100 * 2);
    int64_t mismatches = 0, rounded = 0, odd_outside = 0;
    for (size_t k = 0; k < pcm.size() / 2; ++k) {
        if (pcm[2 * k] != pcm[2 * k + 1]) ++mismatches;
        int step = k % 2 == 0 ? std::abs(pcm[2 * k] - source[k / 2]) : 0;
        if (step > 1) ++mismatches;
        if (step == 1) ++rounded;
        // Odd frames lie between their neighbours, give or take the curve.
        if (k % 2 == 1 && k / 2 + 1 < source.size()) {
            int lo = std::min(source[k / 2], source[k / 2 + 1]),
                hi = std::max(source[k / 2], source[k / 2 + 1]);
            if (pcm[2 * k] < lo - 600 || pcm[2 * k] > hi + 600) ++odd_outside;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_LT(rounded, 100);  // of 132300
    EXPECT_EQ(odd_outside, 0);
    // Seeks into a resampled stream give what reading through gives, up to
    // libmpg123's own rounding just after a seek in a mono stream.
    std::vector<int16_t> at = read_at(&s, 100001, 2000);
    ASSERT_EQ(at.size(), 4000u);
    for (size_t i = 0; i < at.size(); ++i) ASSERT_NEAR(at[i], pcm[100001 * 2 + i], 2) << i;
    mp3_close(&s);

    // Stereo 48000 Hz comes down to 44100 with the same length in seconds;
    // MPEG-1 stereo seeks are bit-exact, so resampled seeks are too.
    file = read_file(media_path("stereo48"));
    ASSERT_EQ(mp3_open(&s, file.data(), file.size()), kMp3Ok);
    EXPECT_EQ(s.length, 3 * 44100);
    pcm = read_all(&s);
    EXPECT_EQ(pcm.size(), 3u * 44100 * 2);
    for (int64_t frame : {int64_t{7}, int64_t{44100}, int64_t{99999}})
        EXPECT_TRUE(same_as(read_at(&s, frame, 5000), pcm, frame)) << "seek to " << frame;
    mp3_close(&s);
}

TEST(Mp3Stream, RefusesWhatIsNotAnMp3AndSurvivesDamage) {
    Mp3Stream s;
    const char text[] = "<config><audio><enabled>1</enabled></audio></config>";
    EXPECT_EQ(mp3_open(&s, text, sizeof text), kMp3NotMp3);
    std::vector<uint8_t> zeros(65536, 0);
    EXPECT_EQ(mp3_open(&s, zeros.data(), zeros.size()), kMp3NotMp3);
    std::vector<uint8_t> noise(65536);
    uint32_t x = 1;
    for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    EXPECT_EQ(mp3_open(&s, noise.data(), noise.size()), kMp3NotMp3);
    EXPECT_EQ(mp3_open(&s, nullptr, 100), kMp3NotMp3);
    EXPECT_EQ(mp3_open(&s, text, 0), kMp3NotMp3);
    EXPECT_EQ(s.decoder, nullptr);

    // Cut short, or with its middle overwritten: opens (or not) and decodes
    // without reading outside the data (AddressSanitizer watches), and never
    // delivers more than the length it reported.
    std::vector<uint8_t> file = read_file(media_path("short"));
    ASSERT_GT(file.size(), 8000u);
    for (size_t cut : {size_t{3}, size_t{200}, size_t{5000}, file.size() - 1}) {
        std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<ptrdiff_t>(cut));
        if (mp3_open(&s, part.data(), part.size()) == kMp3Ok) {
            std::vector<int16_t> pcm = read_all(&s);
            EXPECT_LE(static_cast<int64_t>(pcm.size() / 2), s.length);
            mp3_close(&s);
        }
    }
    // A track cut in half plays what there is: its first half. libmpg123
    // keeps the encoder's delay at the start when the stream is shorter than
    // its header says, so the sound may come up to that delay (1105 frames,
    // 2210 samples) late, never otherwise shifted.
    std::vector<uint8_t> half(file.begin(), file.begin() + static_cast<ptrdiff_t>(file.size() / 2));
    ASSERT_EQ(mp3_open(&s, half.data(), half.size()), kMp3Ok);
    const std::vector<int16_t> heard = read_all(&s);
    mp3_close(&s);
    const std::vector<int16_t> whole = reference_decode(media_path("short"));
    ASSERT_GT(heard.size(), whole.size() / 3);
    const ptrdiff_t middle = static_cast<ptrdiff_t>(heard.size() / 2);
    const auto found = std::search(whole.begin(), whole.end(), heard.begin() + middle,
                                   heard.begin() + middle + 1000);
    ASSERT_NE(found, whole.end());
    EXPECT_LE(middle - (found - whole.begin()), 2210);
    EXPECT_GE(middle - (found - whole.begin()), 0);

    std::vector<uint8_t> damaged = file;
    for (size_t i = 3000; i < 6000; ++i) damaged[i] = noise[i];
    ASSERT_EQ(mp3_open(&s, damaged.data(), damaged.size()), kMp3Ok);
    std::vector<int16_t> pcm = read_all(&s);
    EXPECT_LE(static_cast<int64_t>(pcm.size() / 2), s.length);
    EXPECT_GT(pcm.size(), 0u);
    mp3_close(&s);
}

}  // namespace

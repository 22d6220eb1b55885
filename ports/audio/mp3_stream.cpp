// MP3 decoding from memory on libmpg123 (see mp3_stream.h).
//
// IMPLEMENTS
//   mp3_stream.h: mp3_open, mp3_seek, mp3_read, mp3_close; the decoding
//   behind BASS_StreamCreateFile and every stream the audio library plays,
//   and the reference velkorandi-capture writes its sound from.
//
// HOW
//   The reader is libmpg123's replaceable I/O, pointed at the caller's bytes:
//   unlike feed mode, it lets libmpg123 seek back and forth in the data, which
//   the full scan and the sample-exact seeks need. Sources at the output rate
//   are read straight through; others go through a window of decoded source
//   frames and cubic interpolation, computed the same way however a frame is
//   reached.
//
// LIMITATIONS
//   - 16-bit output only; a stream whose rate or channels change part-way
//     ends there; damaged data ends decoding early.
//   - One thread per stream at a time; the stream must not move in memory.
//
// DEPENDENCIES
//   libmpg123 (any version: mpg123_init is called once for those before 1.27).
#include "audio/mp3_stream.h"

#include <mpg123.h>

#include <sys/types.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

// libmpg123 before 1.27 needs one call to mpg123_init before any handle
// exists; later versions accept it and do nothing.
void init_library_once() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

ssize_t read_memory(void* handle, void* buffer, size_t count) {
    auto* stream = static_cast<Mp3Stream*>(handle);
    size_t left = stream->cursor < stream->size ? stream->size - stream->cursor : 0;
    size_t n = count < left ? count : left;
    if (n > 0) std::memcpy(buffer, stream->data + stream->cursor, n);
    stream->cursor += n;
    return static_cast<ssize_t>(n);
}

off_t seek_memory(void* handle, off_t offset, int whence) {
    auto* stream = static_cast<Mp3Stream*>(handle);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<int64_t>(stream->cursor);
    else if (whence == SEEK_END)
        base = static_cast<int64_t>(stream->size);
    else if (whence != SEEK_SET)
        return -1;
    int64_t target = base + static_cast<int64_t>(offset);
    if (target < 0 || target > static_cast<int64_t>(stream->size)) return -1;
    stream->cursor = static_cast<size_t>(target);
    return static_cast<off_t>(target);
}

int fail(Mp3Stream* stream, int result) {
    mp3_close(stream);
    return result;
}

// Reads up to `frames` source frames at the decoder's position, as stereo.
// Stops early at the end, on an error, or where the format changes.
int64_t decode(Mp3Stream* stream, int16_t* out, int64_t frames) {
    // Mono is read into the upper half of out and spread over both channels
    // afterwards: libmpg123's own mono-to-stereo path rounds a few samples
    // differently from its mono decode, and mono is what other decoders give.
    int channels = stream->source_channels;
    int16_t* target = channels == 1 ? out + frames : out;
    auto* bytes = reinterpret_cast<unsigned char*>(target);
    size_t frame_bytes = static_cast<size_t>(channels) * 2;
    size_t wanted = static_cast<size_t>(frames) * frame_bytes;
    size_t have = 0;
    while (have < wanted) {
        size_t done = 0;
        int result = mpg123_read(stream->decoder, bytes + have, wanted - have, &done);
        have += done;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int now_channels = 0, encoding = 0;
            mpg123_getformat(stream->decoder, &rate, &now_channels, &encoding);
            if (rate != stream->source_rate || now_channels != channels) break;
            continue;
        }
        // No progress without an error would spin: treat it as the end.
        if (result != MPG123_OK || done == 0) break;
    }
    int64_t got = static_cast<int64_t>(have / frame_bytes);
    if (channels == 1)
        for (int64_t i = 0; i < got; ++i) out[2 * i] = out[2 * i + 1] = target[i];
    return got;
}

// Source frame index and fraction for output frame k, in exact integers.
void source_point(const Mp3Stream* stream, int64_t k, int64_t* index, double* fraction) {
    int64_t scaled = k * stream->source_rate;
    *index = scaled / kAudioRate;
    *fraction = static_cast<double>(scaled % kAudioRate) / kAudioRate;
}

// Makes the window hold source frames first..last (as far as the source has
// them), decoding forward or seeking back as needed.
void fill_window(Mp3Stream* stream, int64_t first, int64_t last) {
    int64_t have_end = stream->window_start + static_cast<int64_t>(stream->window.size() / 2);
    constexpr int64_t kDecodeAheadLimit = 1 << 16;  // beyond this a seek is cheaper
    if (first < stream->window_start || first > have_end + kDecodeAheadLimit) {
        stream->window.clear();
        stream->window_start = first;
        stream->source_ended = false;
        if (mpg123_seek(stream->decoder, static_cast<off_t>(first), SEEK_SET) !=
            static_cast<off_t>(first))
            stream->source_ended = true;
        have_end = first;
    } else if (first > stream->window_start) {
        size_t drop = static_cast<size_t>(std::min(first, have_end) - stream->window_start) * 2;
        stream->window.erase(stream->window.begin(),
                             stream->window.begin() + static_cast<ptrdiff_t>(drop));
        stream->window_start += static_cast<int64_t>(drop / 2);
    }
    while (have_end <= last && !stream->source_ended) {
        int64_t want = std::max<int64_t>(last + 1 - have_end, 1152);
        size_t old = stream->window.size();
        stream->window.resize(old + static_cast<size_t>(want) * 2);
        int64_t got = decode(stream, stream->window.data() + old, want);
        stream->window.resize(old + static_cast<size_t>(got) * 2);
        have_end += got;
        if (got < want) stream->source_ended = true;
    }
}

int16_t window_sample(const Mp3Stream* stream, int64_t index, int channel) {
    int64_t available = static_cast<int64_t>(stream->window.size() / 2);
    if (available == 0) return 0;
    int64_t i = std::clamp<int64_t>(index - stream->window_start, 0, available - 1);
    return stream->window[static_cast<size_t>(i * 2 + channel)];
}

// Catmull-Rom interpolation: smooth, passes through the source samples, and
// needs only the four source frames around the point.
int16_t interpolate(const Mp3Stream* stream, int64_t index, double t, int channel) {
    double p0 = window_sample(stream, std::max<int64_t>(index - 1, 0), channel);
    double p1 = window_sample(stream, index, channel);
    double p2 = window_sample(stream, std::min(index + 1, stream->source_length - 1), channel);
    double p3 = window_sample(stream, std::min(index + 2, stream->source_length - 1), channel);
    double v =
        p1 +
        0.5 * t * (p2 - p0 + t * (2 * p0 - 5 * p1 + 4 * p2 - p3 + t * (3 * (p1 - p2) + p3 - p0)));
    return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

int64_t read_resampled(Mp3Stream* stream, int16_t* out, int64_t frames) {
    constexpr int64_t kChunk = 4096;  // keeps the window small for large reads
    int64_t done = 0;
    while (done < frames) {
        int64_t n = std::min(kChunk, frames - done);
        int64_t first_index, last_index;
        double unused;
        source_point(stream, stream->next_frame, &first_index, &unused);
        source_point(stream, stream->next_frame + n - 1, &last_index, &unused);
        fill_window(stream, std::max<int64_t>(first_index - 1, 0),
                    std::min(last_index + 2, stream->source_length - 1));
        int64_t window_end = stream->window_start + static_cast<int64_t>(stream->window.size() / 2);
        for (int64_t i = 0; i < n; ++i) {
            int64_t index;
            double t;
            source_point(stream, stream->next_frame, &index, &t);
            // Decoding ended early (damaged data): the stream ends there.
            if (index >= window_end) return done;
            for (int c = 0; c < 2; ++c) out[(done * 2) + c] = interpolate(stream, index, t, c);
            ++done;
            ++stream->next_frame;
        }
    }
    return done;
}

}  // namespace

int mp3_open(Mp3Stream* stream, const void* data, size_t size) {
    *stream = Mp3Stream{};
    if (!data || size == 0) return kMp3NotMp3;
    init_library_once();

    int error = MPG123_OK;
    mpg123_handle* decoder = mpg123_new(nullptr, &error);
    if (!decoder) return kMp3NoMemory;
    stream->decoder = decoder;
    stream->data = static_cast<const uint8_t*>(data);
    stream->size = size;

    // Gapless is libmpg123's default; asked for anyway because lengths and
    // positions depend on it. Quiet: damaged data is our caller's business,
    // not something to print. No automatic resampling: see the header.
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_NO_FRANKENSTEIN,
                 0);
    mpg123_param(decoder, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0);
    // 16 bits, in the source's own rate and channels.
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; ++i)
        mpg123_format(decoder, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_replace_reader_handle(decoder, read_memory, seek_memory, nullptr) != MPG123_OK)
        return fail(stream, kMp3NoMemory);
    if (mpg123_open_handle(decoder, stream) != MPG123_OK) return fail(stream, kMp3NotMp3);

    // The scan reads every frame header, so the length is exact and seeks
    // can go straight to the right frame.
    if (mpg123_scan(decoder) != MPG123_OK) return fail(stream, kMp3NotMp3);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(decoder, &rate, &channels, &encoding) != MPG123_OK)
        return fail(stream, kMp3NotMp3);
    if (rate <= 0 || (channels != 1 && channels != 2) || encoding != MPG123_ENC_SIGNED_16)
        return fail(stream, kMp3BadFormat);
    off_t length = mpg123_length(decoder);
    if (length <= 0) return fail(stream, kMp3NotMp3);
    if (mpg123_seek(decoder, 0, SEEK_SET) != 0) return fail(stream, kMp3NotMp3);
    stream->source_rate = rate;
    stream->source_channels = channels;
    stream->source_length = length;
    // Output frame k reads source point k × rate / 44100; the last output
    // frame is the last whose point lies inside the source.
    stream->length = (static_cast<int64_t>(length) * kAudioRate + rate - 1) / rate;
    return kMp3Ok;
}

int mp3_seek(Mp3Stream* stream, int64_t frame) {
    if (!stream->decoder || frame < 0 || frame > stream->length) return kMp3SeekFailed;
    if (stream->source_rate != kAudioRate) {
        stream->next_frame = frame;  // the window follows on the next read
        return kMp3Ok;
    }
    off_t reached = mpg123_seek(stream->decoder, static_cast<off_t>(frame), SEEK_SET);
    if (reached != static_cast<off_t>(frame)) {
        // Where the decoder is now is unknown: start over from the beginning.
        mpg123_seek(stream->decoder, 0, SEEK_SET);
        stream->next_frame = 0;
        return kMp3SeekFailed;
    }
    stream->next_frame = frame;
    return kMp3Ok;
}

int64_t mp3_read(Mp3Stream* stream, int16_t* out, int64_t frames) {
    if (!stream->decoder || frames <= 0) return 0;
    // Never past the scanned length, so positions derived from reads stay
    // inside the stream even if a damaged tail decodes longer.
    frames = std::min(frames, stream->length - stream->next_frame);
    if (frames <= 0) return 0;
    if (stream->source_rate != kAudioRate) return read_resampled(stream, out, frames);
    int64_t got = decode(stream, out, frames);
    stream->next_frame += got;
    return got;
}

void mp3_close(Mp3Stream* stream) {
    if (stream->decoder) {
        mpg123_close(stream->decoder);
        mpg123_delete(stream->decoder);
    }
    *stream = Mp3Stream{};
}

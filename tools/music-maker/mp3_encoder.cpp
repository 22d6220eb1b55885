#include "mp3_encoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>

bool encode_mp3(const int16_t* samples, int64_t frames, int rate, int channels, int kbps,
                std::vector<uint8_t>* out) {
    out->clear();
    if (channels < 1 || channels > 2 || frames < 0) return false;
    lame_t lame = lame_init();
    if (!lame) return false;
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, kbps);
    lame_set_VBR(lame, vbr_off);
    lame_set_quality(lame, 5);  // LAME's default speed/quality balance
    // No ID3 tag: nothing in the program reads one, and it would only shift
    // where the LAME tag has to be written back.
    lame_set_write_id3tag_automatic(lame, 0);
    lame_set_bWriteVbrTag(lame, 1);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return false;
    }

    constexpr int kChunk = 8192;
    std::vector<unsigned char> buffer(kChunk * 5 / 4 + 7200);
    std::vector<int16_t> mono_copy;
    bool ok = true;
    for (int64_t done = 0; done < frames && ok; done += kChunk) {
        int n = static_cast<int>(std::min<int64_t>(kChunk, frames - done));
        int bytes;
        if (channels == 2) {
            // LAME takes a non-const pointer but does not write through it.
            bytes = lame_encode_buffer_interleaved(lame, const_cast<short*>(samples + done * 2), n,
                                                   buffer.data(), static_cast<int>(buffer.size()));
        } else {
            mono_copy.assign(samples + done, samples + done + n);
            bytes = lame_encode_buffer(lame, mono_copy.data(), mono_copy.data(), n, buffer.data(),
                                       static_cast<int>(buffer.size()));
        }
        if (bytes < 0)
            ok = false;
        else
            out->insert(out->end(), buffer.begin(), buffer.begin() + bytes);
    }
    if (ok) {
        int bytes = lame_encode_flush(lame, buffer.data(), static_cast<int>(buffer.size()));
        if (bytes < 0)
            ok = false;
        else
            out->insert(out->end(), buffer.begin(), buffer.begin() + bytes);
    }
    if (ok) {
        // The first frame was reserved for the LAME tag; it is known only now.
        size_t tag = lame_get_lametag_frame(lame, buffer.data(), buffer.size());
        if (tag > 0 && tag <= out->size()) std::memcpy(out->data(), buffer.data(), tag);
    }
    lame_close(lame);
    if (!ok) out->clear();
    return ok;
}

#include "resources/textures.h"

#include <GL/gl.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/diagnostics.h"
#include "resources/pack.h"
#include "resources/pcx.h"

TextureSetRecord TextureSet;

namespace {

PictureBufferAllocator AllocatePicture = std::malloc;

struct PictureSource {
    const char* name;
    uint32_t* slot;
    bool alpha;  // trevak and mono are drawn as masks: alpha from the red channel
};

const PictureSource kSources[kTexturePictures] = {
    {"pool/up.pcx", &TextureSet.pictures[kUpPicture], false},
    {"pool/down.pcx", &TextureSet.pictures[kDownPicture], false},
    {"pool/demo2.pcx", &TextureSet.pictures[kDemo2Picture], false},
    {"pool/trevak.pcx", &TextureSet.trevakPicture, true},
    {"pool/mono.pcx", &TextureSet.monoPicture, true},
};

uint64_t pixel_count(const PcxImage* image) { return uint64_t(image->width) * image->height; }

// The one texel a picture without an image gets: in memory red, green, blue
// 0 and alpha 255 (see textures.h for how it looks).
constexpr uint32_t kEmptyTexel = 0xFF000000u;

// One picture decoded and turned into texels, with what its lines and boxes
// will say. Made without a GL context and without reporting, so that it can
// be made on another thread; reported and uploaded on the GL thread.
struct PreparedPicture {
    PackEntry entry{};
    PcxImage image{};
    PcxFault fault = kPcxGood;
    bool fits = true;
    ColourRange range{};
    size_t failed_bytes = 0;  // its buffer could not be had
};

// The five pictures, each made by whichever thread claims it first: the
// worker started by prepare_textures, or build_textures when it gets there
// before the worker is through.
struct Preparation {
    PreparedPicture pictures[kTexturePictures];
    std::atomic<int> next{0};  // the first picture nobody has claimed
    std::atomic<bool> done[kTexturePictures] = {};
};

void free_pixels(Preparation& preparation) {
    for (PreparedPicture& p : preparation.pictures) {
        std::free(p.image.pixels);
        p.image.pixels = nullptr;
    }
}

// Each picture gets a buffer of its own size, up to the picture buffer's
// capacity; a picture larger than that is decoded without one (its size and
// faults are still found) and refused when reported.
void prepare_picture(PreparedPicture& p, bool alpha) {
    const PcxHeader header = read_pcx_header(p.entry.data, p.entry.size);
    const uint64_t words = header.fault == kPcxGood ? uint64_t(header.width) * header.height : 0;
    uint32_t* pixels = nullptr;
    if (words > 0 && words <= kPictureBufferWords) {
        pixels = static_cast<uint32_t*>(AllocatePicture(words * sizeof(uint32_t)));
        if (!pixels) {
            p.failed_bytes = words * sizeof(uint32_t);
            return;
        }
    }
    p.image.pixels = pixels;
    p.fault =
        decode_pcx_pixels(&p.image, p.entry.data, p.entry.size, static_cast<uint32_t>(words)).fault;
    p.fits = pixel_count(&p.image) <= kPictureBufferWords;
    if (p.fits) {
        p.range = negate_colours(&p.image, pixels);
        if (alpha) grey_to_alpha(&p.image, pixels);
    }
}

// Claims and makes pictures until none is left unclaimed.
void prepare_unclaimed(Preparation& preparation) {
    for (;;) {
        const int i = preparation.next.fetch_add(1);
        if (i >= kTexturePictures) return;
        prepare_picture(preparation.pictures[i], kSources[i].alpha);
        preparation.done[i].store(true, std::memory_order_release);
        preparation.done[i].notify_all();
    }
}

void lower_thread_priority() {
    // The worker runs beside the making of the window, which waits on the
    // display server; on a machine with two cores the worker would take
    // the server's core. At the lowest priority it takes what is idle, and
    // build_textures makes whatever it has not started by then itself.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

// A preparation started ahead of the GL context, waiting for build_textures.
// Its worker is joined before the pack's memory it reads can go, in the
// caller's own order: by build_textures, or by discard_prepared_textures on
// a path that never builds.
struct PendingPreparation {
    std::thread worker;
    std::unique_ptr<Preparation> preparation;  // null when none is pending

    // Waits for the worker; the preparation stays.
    void finish() {
        if (worker.joinable()) worker.join();
    }
    void discard() {
        finish();
        if (preparation) free_pixels(*preparation);
        preparation.reset();
    }
};

PendingPreparation PendingTextures;

void take_pictures(Preparation& preparation) {
    for (int i = 0; i < kTexturePictures; ++i)
        take_entry(kSources[i].name, &preparation.pictures[i].entry);
}

// Makes what nobody has claimed and waits for the rest.
void complete(Preparation& preparation) {
    prepare_unclaimed(preparation);
    for (std::atomic<bool>& done : preparation.done) done.wait(false, std::memory_order_acquire);
}

void report_and_upload(Preparation& prepared) {
    for (const PreparedPicture& p : prepared.pictures) {
        if (p.failed_bytes == 0) continue;
        ErrorBox("build_textures(): no memory for the %i-byte picture buffer; no textures made\n",
                 static_cast<int>(p.failed_bytes));
        TextureSet = TextureSetRecord{};
        for (int i = 0; i < kTexturePictures; ++i)
            release_entry(kSources[i].name, &prepared.pictures[i].entry);
        return;
    }
    for (int i = 0; i < kTexturePictures; ++i) {
        const PictureSource& source = kSources[i];
        PreparedPicture& p = prepared.pictures[i];
        char label[64];
        report_pcx(p.image, p.fault, p.entry.size, entry_label(source.name, label));
        release_entry(source.name, &p.entry);
        if (!p.fits) {
            ErrorBox(
                "build_textures(): %s is %ix%i, more than the %i pixels of the picture buffer; "
                "not uploaded (entry `%s` of %s)\n",
                source.name, static_cast<int>(p.image.width), static_cast<int>(p.image.height),
                static_cast<int>(kPictureBufferWords), label, pack_path());
        } else {
            ConsoleLine(" range [%i,%i] \n", static_cast<int>(p.range.smallest),
                        static_cast<int>(p.range.largest));
        }
        GLuint name = 0;
        glGenTextures(1, &name);
        *source.slot = name;
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        if (p.fits && pixel_count(&p.image) != 0)
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(p.image.width),
                         static_cast<GLsizei>(p.image.height), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         p.image.pixels);
        else
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         &kEmptyTexel);
        // The driver keeps its own copy.
        std::free(p.image.pixels);
        p.image.pixels = nullptr;
    }
    if (glGetError() != GL_NO_ERROR) ErrorBox("build_textures() errors\n");
}

}  // namespace

void set_picture_buffer_allocator(PictureBufferAllocator allocate) {
    AllocatePicture = allocate ? allocate : std::malloc;
}

// The range and the negative come from one pass: the range depends only on
// the colours before the change, so the line printed is the same.
ColourRange negate_colours(const PcxImage* image, uint32_t* pixels) {
    ColourRange range;
    const uint64_t count = pixel_count(image);
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t word = pixels[i];
        uint32_t red = (word >> 16) & 0xFF, green = (word >> 8) & 0xFF, blue = word & 0xFF;
        range.smallest = std::min({range.smallest, red, green, blue});
        range.largest = std::max({range.largest, red, green, blue});
        // In memory the word's bytes are the texel's red, green, blue, alpha:
        // the low byte becomes the texel's red.
        if (red == 0 && blue == 0 && green != 0)
            pixels[i] = 0;
        else
            pixels[i] = (255 - blue) << 16 | (255 - green) << 8 | (255 - red);
    }
    return range;
}

void grey_to_alpha(const PcxImage* image, uint32_t* pixels) {
    const uint64_t count = pixel_count(image);
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t v = pixels[i] & 0xFF;
        pixels[i] = (255 - v) << 24 | v * 0x010101u;
    }
}

void discard_prepared_textures() { PendingTextures.discard(); }

void prepare_textures() {
    // A preparation never built from was made from entries that may be gone.
    PendingTextures.discard();
    PendingTextures.preparation = std::make_unique<Preparation>();
    Preparation* preparation = PendingTextures.preparation.get();
    take_pictures(*preparation);
    try {
        PendingTextures.worker = std::thread([preparation] {
            lower_thread_priority();
            prepare_unclaimed(*preparation);
        });
    } catch (const std::system_error&) {
        // No thread to be had (a process limit): build_textures makes them all.
    }
}

void build_textures() {
    std::unique_ptr<Preparation> preparation = std::move(PendingTextures.preparation);
    if (preparation) {
        complete(*preparation);
        PendingTextures.finish();
    } else {
        preparation = std::make_unique<Preparation>();
        take_pictures(*preparation);
        complete(*preparation);
    }
    report_and_upload(*preparation);
    free_pixels(*preparation);
}

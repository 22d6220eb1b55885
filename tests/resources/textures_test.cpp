// Runs in a real GL context (Mesa under Xvfb) made directly with SDL2, and
// reads every texture back to compare its texels.
#include "resources/textures.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "config/presentation.h"
#include "fakes/platform_fake.h"
#include "pcx_writer.h"
#include "resources/pack.h"
#include "support/test_files.h"

namespace {

using Texel = std::array<uint8_t, 4>;

// What a picture without an image gets: black, alpha 255.
constexpr Texel kEmpty = {0, 0, 0, 255};

struct Row {
    uint8_t r, g, b;
    Texel plain;  // up, down, demo2
    Texel mask;   // trevak, mono
};

// The table of picture colours and the texels they must become.
const Row kTable[8] = {
    {0, 0, 0, {255, 255, 255, 0}, {255, 255, 255, 0}},
    {255, 255, 255, {0, 0, 0, 0}, {0, 0, 0, 255}},
    {255, 0, 0, {0, 255, 255, 0}, {0, 0, 0, 255}},
    {0, 255, 0, {0, 0, 0, 0}, {0, 0, 0, 255}},
    {0, 0, 255, {255, 255, 0, 0}, {255, 255, 255, 0}},
    {128, 128, 128, {127, 127, 127, 0}, {127, 127, 127, 128}},
    {200, 100, 50, {55, 155, 205, 0}, {55, 55, 55, 200}},
    {1, 255, 0, {254, 0, 255, 0}, {254, 254, 254, 1}},
};

// A 4 x 2 picture of the eight colours, in the one- or three-plane layout.
Bytes table_picture(bool threePlanes) {
    Bytes rgb;
    for (const Row& row : kTable) rgb.insert(rgb.end(), {row.r, row.g, row.b});
    if (threePlanes) return encode_pcx_rgb(4, 2, rgb.data());
    uint8_t palette[768] = {};
    Bytes indices;
    for (int i = 0; i < 8; ++i) {
        int index = 255 - i * 9;  // anything but the identity
        palette[index * 3] = kTable[i].r, palette[index * 3 + 1] = kTable[i].g,
                        palette[index * 3 + 2] = kTable[i].b;
        indices.push_back(static_cast<uint8_t>(index));
    }
    return encode_pcx_indexed(4, 2, indices.data(), palette);
}

Bytes flat_picture(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Bytes rgb;
    for (int i = 0; i < width * height; ++i) rgb.insert(rgb.end(), {r, g, b});
    return encode_pcx_rgb(width, height, rgb.data());
}

struct TexImage {
    GLint width = 0, height = 0;
    std::vector<Texel> texels;
};

TexImage read_texture(GLuint name) {
    TexImage out;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &out.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &out.height);
    out.texels.resize(size_t(out.width) * out.height);
    if (!out.texels.empty())
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, out.texels.data());
    return out;
}

void* no_memory(size_t) { return nullptr; }

class Textures : public ::testing::Test {
protected:
    static SDL_Window* window;
    static SDL_GLContext context;
    ScratchDir dir;

    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window = SDL_CreateWindow("textures", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
    }
    static void TearDownTestSuite() {
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        SDL_Quit();
    }
    void SetUp() override {
        ASSERT_NE(context, nullptr);
        fake_platform::reset();
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override {
        write_pack();
        set_pack_path(nullptr);
        set_picture_buffer_allocator(nullptr);
    }
    void load(const std::vector<Bytes>& pictures) {
        std::vector<Bytes> entries = pictures;
        entries.push_back(Bytes{0xFF, 0xFB, 0x90, 0x00});  // the music, never decoded here
        write_file(dir.file("blob.dat"), make_pack(entries));
        set_pack_path(dir.file("blob.dat").c_str());
        ASSERT_EQ(read_pack(), 0);
        fake_platform::reset();
    }
};
SDL_Window* Textures::window = nullptr;
SDL_GLContext Textures::context = nullptr;

std::vector<GLuint> names() {
    return {TextureSet.pictures[kUpPicture], TextureSet.pictures[kDownPicture],
            TextureSet.pictures[kDemo2Picture], TextureSet.trevakPicture, TextureSet.monoPicture};
}

void expect_table_texels(bool rebuilt) {
    SCOPED_TRACE(rebuilt ? "after a rebuild" : "first build");
    std::vector<GLuint> all = names();
    for (int t = 0; t < 5; ++t) {
        SCOPED_TRACE(t);
        TexImage image = read_texture(all[t]);
        ASSERT_EQ(image.width, 4);
        ASSERT_EQ(image.height, 2);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(image.texels[i], t < 3 ? kTable[i].plain : kTable[i].mask) << i;
        GLint filter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
        EXPECT_EQ(filter, GL_LINEAR);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
        EXPECT_EQ(filter, GL_LINEAR);
    }
}

TEST_F(Textures, TexelsFollowTheTableInEveryLayoutAndRebuild) {
    // One- and three-plane pictures alternate, so three-plane pictures are
    // decoded over the remains of palette pictures.
    load({table_picture(false), table_picture(true), table_picture(true), table_picture(false),
          table_picture(true)});
    build_textures();
    EXPECT_TRUE(fake_platform::boxes().empty());
    std::string once;
    for (int i = 0; i < 5; ++i) once += "[pcx img: 4x2 24]\n range [0,255] \n";
    EXPECT_EQ(fake_platform::console(), once);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), TextureSet.monoPicture);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    expect_table_texels(false);

    // A toggle builds again past the six entries and gets the same pictures.
    std::vector<GLuint> first = names();
    PackEntry music{};
    take_entry("pool/trevak.mp3", &music);
    build_textures();
    EXPECT_NE(names(), first);
    EXPECT_EQ(fake_platform::console(), once + once);
    expect_table_texels(true);
}

TEST_F(Textures, EveryEntryIsFoundAgainUnderItsName) {
    // Past the last entry the pack hands out again what was first taken
    // under the name asked for: a rebuild and the music find theirs only
    // when the textures took their five under the names that go with them.
    load(std::vector<Bytes>(kPictureEntries, flat_picture(1, 1, 0, 0, 0)));
    build_textures();
    PackEntry entry{};
    take_entry(kEntryNames[kMusicEntry], &entry);
    ASSERT_EQ(ResourcePack.entryCursor, kPresentationEntries);
    for (uint32_t i = 0; i < kPresentationEntries; ++i) {
        take_entry(kEntryNames[i], &entry);
        EXPECT_EQ(entry.data, ResourcePack.entryData[i]) << kEntryNames[i];
    }
}

TEST_F(Textures, RangesGreensAndEmptyPictures) {
    Bytes empty = table_picture(true);
    empty[65] = 0;  // refused header: a 0x0 picture
    load({flat_picture(2, 2, 0, 0, 0), flat_picture(2, 2, 0, 1, 0), flat_picture(2, 2, 0, 255, 1),
          empty, flat_picture(1, 1, 7, 9, 11)});
    build_textures();
    EXPECT_EQ(fake_platform::console(),
              "[pcx img: 2x2 24]\n range [0,0] \n"
              "[pcx img: 2x2 24]\n range [0,1] \n"
              "[pcx img: 2x2 24]\n range [0,255] \n"
              "[pcx img: 0x0 24]\n range [255,0] \n"
              "[pcx img: 1x1 24]\n range [7,11] \n");
    ASSERT_EQ(fake_platform::boxes().size(), 1u);  // the refused header, naming its entry
    EXPECT_EQ(fake_platform::boxes()[0],
              "decode_pcx: picture of " + std::to_string(empty.size()) +
                  " bytes refused: plane count not 1, 2 or 3 (entry `trevak` of " +
                  dir.file("blob.dat") + ")");
    EXPECT_EQ(read_texture(TextureSet.pictures[kUpPicture]).texels,
              std::vector<Texel>(4, Texel{255, 255, 255, 0}));
    EXPECT_EQ(read_texture(TextureSet.pictures[kDownPicture]).texels,
              std::vector<Texel>(4, Texel{0, 0, 0, 0}));
    EXPECT_EQ(read_texture(TextureSet.pictures[kDemo2Picture]).texels,
              std::vector<Texel>(4, Texel{255, 0, 254, 0}));
    // A refused picture gets the one empty texel: transparent as drawn.
    EXPECT_EQ(read_texture(TextureSet.trevakPicture).texels, std::vector<Texel>(1, kEmpty));
    EXPECT_EQ(read_texture(TextureSet.monoPicture).texels,
              std::vector<Texel>(1, Texel{248, 248, 248, 7}));
}

TEST_F(Textures, OversizedPicturesErrorsAndMissingMemory) {
    // 1024 x 1024 one-plane fills the buffer exactly (the palette marker past
    // it is dropped); 2048 x 1024 does not fit and is refused.
    std::vector<uint8_t> indices(2048 * 1024, 3);
    uint8_t palette[768] = {};
    palette[9] = 255;
    Bytes exact = encode_pcx_indexed(1024, 1024, indices.data(), palette);
    Bytes huge = encode_pcx_indexed(2048, 1024, indices.data(), palette);
    Bytes small = flat_picture(2, 2, 0, 0, 0);
    load({exact, huge, small, small, small});
    build_textures();
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_NE(fake_platform::boxes()[0].find("pool/down.pcx is 2048x1024"), std::string::npos)
        << fake_platform::boxes()[0];
    EXPECT_NE(fake_platform::boxes()[0].find("not uploaded (entry `down` of " +
                                             dir.file("blob.dat") + ")\n"),
              std::string::npos)
        << fake_platform::boxes()[0];
    TexImage up = read_texture(TextureSet.pictures[kUpPicture]);
    ASSERT_EQ(up.width, 1024);
    EXPECT_EQ(up.texels.back(), (Texel{0, 255, 255, 0}));
    EXPECT_NE(TextureSet.pictures[kDownPicture], 0u);
    EXPECT_EQ(read_texture(TextureSet.pictures[kDownPicture]).texels,
              std::vector<Texel>(1, kEmpty));
    EXPECT_NE(fake_platform::console().find("[pcx img: 2048x1024 24]\n[pcx img: 2x2 24]\n"),
              std::string::npos);

    // A GL error pending after the uploads is reported once, without a code.
    PackEntry music{};
    take_entry("pool/trevak.mp3", &music);
    fake_platform::reset();
    glEnable(0x1234);
    build_textures();
    ASSERT_EQ(fake_platform::boxes().size(), 2u);
    EXPECT_EQ(fake_platform::boxes()[1], "build_textures() errors\n");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // Without its buffer nothing is built, but the five pictures are still
    // taken, so the music remains the next entry.
    fake_platform::reset();
    set_picture_buffer_allocator(no_memory);
    uint32_t cursor = ResourcePack.entryCursor;
    build_textures();
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_NE(fake_platform::boxes()[0].find("no memory"), std::string::npos);
    EXPECT_EQ(ResourcePack.entryCursor, cursor + 5);
    EXPECT_EQ(names(), std::vector<GLuint>(5, 0));
    EXPECT_EQ(fake_platform::console(), "");
}

TEST_F(Textures, PreparedAheadTheyReportAndUploadAsOnTheSpot) {
    // Every kind of outcome: a refused picture, one too large to upload, a
    // mask, and good ones in both layouts.
    std::vector<uint8_t> indices(2048 * 1024, 3);
    uint8_t palette[768] = {};
    Bytes huge = encode_pcx_indexed(2048, 1024, indices.data(), palette);
    Bytes refused = table_picture(true);
    refused[65] = 0;
    const std::vector<Bytes> pictures = {table_picture(false), huge, refused, table_picture(true),
                                         flat_picture(3, 1, 9, 8, 7)};

    load(pictures);
    build_textures();
    const std::string console = fake_platform::console();
    const std::vector<std::string> boxes = fake_platform::boxes();
    ASSERT_EQ(boxes.size(), 2u);
    std::vector<TexImage> expected;
    for (GLuint name : names()) expected.push_back(read_texture(name));
    write_pack();

    // Ahead of the GL work the entries are taken and nothing is said; the
    // build says and uploads exactly what the build on the spot did.
    load(pictures);
    prepare_textures();
    EXPECT_EQ(ResourcePack.entryCursor, 5u);
    EXPECT_EQ(fake_platform::console(), "");
    EXPECT_TRUE(fake_platform::boxes().empty());
    build_textures();
    EXPECT_EQ(ResourcePack.entryCursor, 5u);
    EXPECT_EQ(fake_platform::console(), console);
    EXPECT_EQ(fake_platform::boxes(), boxes);
    std::vector<GLuint> built = names();
    for (int t = 0; t < 5; ++t) {
        TexImage image = read_texture(built[t]);
        EXPECT_EQ(image.width, expected[t].width) << t;
        EXPECT_EQ(image.texels, expected[t].texels) << t;
    }
    // The next build (a display-mode toggle) decodes on the spot again.
    PackEntry music{};
    take_entry("pool/trevak.mp3", &music);
    fake_platform::reset();
    build_textures();
    EXPECT_EQ(fake_platform::console(), console);
}

TEST_F(Textures, APreparationNotBuiltFromIsDiscardedAndNoMemoryMakesNothing) {
    // A preparation dropped (the window could not be made) and one made anew
    // for another pack: the build shows the new pack's pictures.
    load({flat_picture(2, 2, 0, 0, 0), flat_picture(2, 2, 0, 0, 0), flat_picture(2, 2, 0, 0, 0),
          flat_picture(2, 2, 0, 0, 0), flat_picture(2, 2, 0, 0, 0)});
    prepare_textures();
    discard_prepared_textures();
    write_pack();
    load({table_picture(true), table_picture(false), table_picture(true), table_picture(false),
          table_picture(true)});
    prepare_textures();
    build_textures();
    expect_table_texels(false);

    // A buffer that cannot be had while preparing ahead: one box, no
    // textures, and the five entries stay taken.
    write_pack();
    load({table_picture(true), table_picture(false), table_picture(true), table_picture(false),
          table_picture(true)});
    set_picture_buffer_allocator(no_memory);
    prepare_textures();
    build_textures();
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0],
              "build_textures(): no memory for the 32-byte picture buffer; no textures made\n");
    EXPECT_EQ(fake_platform::console(), "");
    EXPECT_EQ(names(), std::vector<GLuint>(5, 0));
    EXPECT_EQ(ResourcePack.entryCursor, 5u);
}

}  // namespace

#include <gtest/gtest.h>

#include "flash/flash_recorder.h"
#include "flash/frame_index.h"
#include "flash/swf_header.h"
#include "flash/swf_writer.h"
#include "platform/temp.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifdef NIMBREL_HAVE_LZMA
#include <lzma.h>
#endif

namespace nimbrel::flash {
namespace {

using testing::MakeMovie;
using testing::MoviePlan;

TEST(SwfHeader, PlainAndCompressedMoviesGiveTheSameHeader) {
    MoviePlan plan;
    plan.width = 801;  // 16020 twips: a stage that needs more than 15 bits a value
    plan.height = 600;
    plan.frameRate = 24;
    plan.background = 0x123456;
    plan.shapeX = {0, 5, 10, 15, 20, 25, 30};
    for (bool compressed : {false, true}) {
        plan.compressed = compressed;
        const auto bytes = MakeMovie(plan);
        const SwfInfo info = ReadSwfInfo(bytes);
        EXPECT_EQ(info.compression, compressed ? 'C' : 'F');
        EXPECT_EQ(info.version, 8);
        EXPECT_EQ(info.width, 801);
        EXPECT_EQ(info.height, 600);
        EXPECT_DOUBLE_EQ(info.frameRate, 24);
        EXPECT_EQ(info.frameCount, 7);
        EXPECT_EQ(info.showFrames, 7);
        EXPECT_TRUE(info.hasBackground);
        EXPECT_EQ(info.background, 0x123456u);
        EXPECT_FALSE(info.scripted);
        EXPECT_FALSE(info.effects);
        EXPECT_TRUE(info.tagsComplete);
        EXPECT_EQ(FramesToRecord(info, 20), 7);
    }
}

#ifdef NIMBREL_HAVE_LZMA
// The LZMA form: the plain movie's body packed by liblzma's ".lzma" writer, whose 13-byte header
// (properties, then the 8-byte length) becomes the 4-byte packed length and the properties.
TEST(SwfHeader, LzmaCompressedMoviesAreReadToo) {
    MoviePlan plan;
    plan.background = 0x445566;
    const auto plain = MakeMovie(plan);
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_stream stream = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_alone_encoder(&stream, &options), LZMA_OK);
    std::vector<std::uint8_t> packed(plain.size() + 1024);
    stream.next_in = plain.data() + 8;
    stream.avail_in = plain.size() - 8;
    stream.next_out = packed.data();
    stream.avail_out = packed.size();
    ASSERT_EQ(lzma_code(&stream, LZMA_FINISH), LZMA_STREAM_END);
    packed.resize(packed.size() - stream.avail_out);
    lzma_end(&stream);
    std::vector<std::uint8_t> movie{'Z', 'W', 'S', plain[3], plain[4], plain[5], plain[6], plain[7]};
    const std::uint32_t body = static_cast<std::uint32_t>(packed.size() - 13);
    for (int i = 0; i < 4; ++i) movie.push_back(static_cast<std::uint8_t>(body >> (8 * i)));
    movie.insert(movie.end(), packed.begin(), packed.begin() + 5);
    movie.insert(movie.end(), packed.begin() + 13, packed.end());
    const SwfInfo info = ReadSwfInfo(movie);
    EXPECT_EQ(info.compression, 'Z');
    EXPECT_EQ(info.width, 200);
    EXPECT_EQ(info.frameCount, 4);
    EXPECT_EQ(info.background, 0x445566u);
    EXPECT_TRUE(info.tagsComplete);
}
#endif

TEST(SwfHeader, ScriptedOrStillMoviesAreRecordedForTheFixedLength) {
    MoviePlan plan;
    plan.frameRate = 12.5;  // 8.8 fixed point keeps the half
    plan.extraTags = testing::EndlessScriptTag();
    SwfInfo info = ReadSwfInfo(MakeMovie(plan));
    EXPECT_TRUE(info.scripted);
    EXPECT_DOUBLE_EQ(info.frameRate, 12.5);
    EXPECT_EQ(FramesToRecord(info, 20), 250);
    EXPECT_EQ(FramesToRecord(info, 1000), 1500);  // at most two minutes

    EXPECT_TRUE(info.effects);

    plan.extraTags.clear();
    plan.shapeX = {0};
    info = ReadSwfInfo(MakeMovie(plan));
    EXPECT_FALSE(info.scripted);
    EXPECT_EQ(FramesToRecord(info, 3), 38);  // 3 s at 12.5 frames a second, rounded

    // A sprite that places its child with PlaceObject3 (which carries filters and blend modes):
    // the movie may draw effects, though its own timeline holds no code.
    std::vector<std::uint8_t> sprite{9, 0, 1, 0};
    testing::Tag(sprite, 70, {0x02, 0x00, 1, 0, 1, 0});  // character 1 at depth 1
    testing::Tag(sprite, 1, {});
    testing::Tag(sprite, 0, {});
    plan.extraTags.clear();
    testing::Tag(plan.extraTags, 39, sprite);
    info = ReadSwfInfo(MakeMovie(plan));
    EXPECT_FALSE(info.scripted);
    EXPECT_TRUE(info.effects);
}

TEST(SwfHeader, BadBytesRaiseErrorsThatSayWhy) {
    auto message = [](std::vector<std::uint8_t> bytes) {
        try {
            ReadSwfInfo(bytes);
        } catch (const SwfError& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_NE(message({'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}).find("not a Flash movie"),
              std::string::npos);
    EXPECT_NE(message({'F', 'W'}).find("not a Flash movie"), std::string::npos);
    EXPECT_NE(message({'F', 'W', 'S', 8, 0}).find("truncated"), std::string::npos);
    EXPECT_NE(message({'F', 'W', 'S', 8, 4, 0, 0, 0}).find("below 8"), std::string::npos);
    // A stage rectangle whose bits run past the end.
    EXPECT_NE(message({'F', 'W', 'S', 8, 100, 0, 0, 0, 0xF8}).find("truncated"), std::string::npos);
    // A compressed body that is no zlib stream.
    EXPECT_NE(message({'C', 'W', 'S', 8, 100, 0, 0, 0, 1, 2, 3, 4}).find("truncated"), std::string::npos);
    // A stage without area.
    EXPECT_NE(message({'F', 'W', 'S', 8, 30, 0, 0, 0, 0x08, 0, 0, 0, 0}).find("no area"), std::string::npos);

    // Every prefix of a good movie is read without a fault: an error, or what there is.
    MoviePlan plan;
    plan.compressed = true;
    const auto whole = MakeMovie(plan);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            const SwfInfo info = ReadSwfInfo(cut);
            EXPECT_FALSE(info.tagsComplete) << n;
        } catch (const SwfError&) {
        }
    }
}

TEST(SwfHeader, HugeDeclaredLengthsAndTagLengthsStayBounded) {
    MoviePlan plan;
    auto bytes = MakeMovie(plan);
    bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0xFF;  // 4 GB stated
    SwfInfo info = ReadSwfInfo(bytes);
    EXPECT_EQ(info.width, 200);
    EXPECT_FALSE(info.tagsComplete);

    // A tag that claims more bytes than follow ends the walk.
    bytes = MakeMovie(plan);
    std::vector<std::uint8_t> tag{0x3F, 0x02, 0xFF, 0xFF, 0xFF, 0x7F};  // tag 8, 2 GB long
    bytes.insert(bytes.begin() + 20, tag.begin(), tag.end());           // the first tag
    info = ReadSwfInfo(bytes);
    EXPECT_FALSE(info.tagsComplete);
}

TEST(SwfHeader, TheEditorsLineSaysSizeRateLengthAndWhetherItIsRecorded) {
    platform::TempDirectory dir("swf-describe");
    MoviePlan plan;
    plan.width = 320;
    plan.height = 240;
    plan.frameRate = 24;
    plan.shapeX.assign(48, 0);
    const auto bytes = MakeMovie(plan);
    std::ofstream(dir.File("m.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(dir.File("bad.swf")) << "hello";
    const RecorderSetup ready{"/browser", "/ruffle", ""};
    const RecorderSetup missing{"", "", "Chromium is not installed"};
    EXPECT_EQ(DescribeMovie(dir.File("m.swf"), ready, 20),
              "320 x 240, 24 frames a second, 48 frames (2.0 s); recorded at compile");
    EXPECT_EQ(
        DescribeMovie(dir.File("m.swf"), missing, 20),
        "320 x 240, 24 frames a second, 48 frames (2.0 s); will not be recorded: Chromium is not installed");
    plan.shapeX = {0};
    const auto still = MakeMovie(plan);
    std::ofstream(dir.File("still.swf"), std::ios::binary)
        .write(reinterpret_cast<const char*>(still.data()), static_cast<std::streamsize>(still.size()));
    EXPECT_EQ(DescribeMovie(dir.File("still.swf"), ready, 5),
              "320 x 240, 24 frames a second, 120 frames (5.0 s, a fixed length); recorded at compile");
    EXPECT_EQ(DescribeMovie(dir.File("bad.swf"), ready, 20)
                  .rfind("Not a movie that can be played: is not a Flash movie", 0),
              0u);
}

TEST(FlashRecorderSetup, ThePlayerPackageIsFoundBesideTheProgramsOrInTheirParentFolder) {
#ifndef _WIN32
    unsetenv("NIMBREL_RUFFLE_DIR");  // the tests' own override would win over every folder
#endif
    platform::TempDirectory dir("recorder-setup");
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::create_directories(dir.File("ruffle"));
    std::ofstream(dir.File("ruffle/ruffle.js")) << "//";
    for (const std::string& programs : {dir.File("bin"), dir.File("bin") + "/"})
        EXPECT_EQ(std::filesystem::path(FindRecorder(programs).playerDir),
                  std::filesystem::path(dir.File("ruffle")))
            << programs;
    std::filesystem::create_directories(dir.File("bin/ruffle"));
    std::ofstream(dir.File("bin/ruffle/ruffle.js")) << "//";
    EXPECT_EQ(std::filesystem::path(FindRecorder(dir.File("bin")).playerDir),
              std::filesystem::path(dir.File("bin/ruffle")));
    EXPECT_TRUE(FindRecorder(dir.File("nowhere/bin")).playerDir.empty());
}

// Frames are captured at the stage's size unless a 1920 x 1080 screen would have to shrink them
// or enlarge them more than twice; the aspect stays.
TEST(FlashRecorderSetup, CaptureSizeFitsLargeStagesAndEnlargesSmallOnes) {
    auto size = [](int w, int h) {
        SwfInfo info;
        info.width = w, info.height = h;
        int width = 0, height = 0;
        CaptureSize(info, width, height);
        return std::pair{width, height};
    };
    EXPECT_EQ(size(800, 600), std::pair(800, 600));  // the screen enlarges it 1.8 times
    EXPECT_EQ(size(960, 540), std::pair(960, 540));  // exactly twice
    EXPECT_EQ(size(400, 300), std::pair(720, 540));  // 3.6 times: drawn at 1.8
    EXPECT_EQ(size(200, 100), std::pair(960, 480));
    EXPECT_EQ(size(3840, 2160), std::pair(1920, 1080));
    EXPECT_EQ(size(4000, 1000), std::pair(1920, 480));
    EXPECT_EQ(size(10, 2000), std::pair(5, 1080));
}

TEST(FlashRecorderSetup, FramesLookTheSameDespiteNoiseButNotWhenAnythingMoved) {
    imaging::Image a(200, 100, imaging::MakePixel(0, 0, 255));
    for (int y = 40; y < 60; ++y)
        for (int x = 10; x < 30; ++x) a.Set(x, y, imaging::MakePixel(255, 0, 0));
    imaging::Image noisy = a;
    for (int i = 0; i < 200 * 100; i += 7) noisy.Data()[i] ^= 0x010203;  // JPEG-like noise
    noisy.Set(0, 0, imaging::kOpaqueWhite);                              // and one stray pixel
    EXPECT_TRUE(LooksTheSame(a, noisy));
    imaging::Image moved(200, 100, imaging::MakePixel(0, 0, 255));
    for (int y = 40; y < 60; ++y)
        for (int x = 11; x < 31; ++x) moved.Set(x, y, imaging::MakePixel(255, 0, 0));
    EXPECT_FALSE(LooksTheSame(a, moved));  // one pixel to the right
    EXPECT_FALSE(LooksTheSame(a, imaging::Image(200, 101, imaging::MakePixel(0, 0, 255))));
    EXPECT_FALSE(LooksTheSame(imaging::Image(), imaging::Image()));  // frames that could not be read
}

TEST(FrameIndex, RoundTripsAndRejectsDamage) {
    FrameIndex index;
    index.width = 640;
    index.height = 480;
    index.frameRate = 23.976;
    index.background = 0xA0B0C0;
    index.frames = {"f00000.jpg", "f00000.jpg", "f00001.jpg", "f00000.jpg"};
    const std::string text = WriteFrameIndex(index);
    const auto back = ReadFrameIndex(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width, 640);
    EXPECT_EQ(back->height, 480);
    EXPECT_NEAR(back->frameRate, 23.976, 1e-9);
    EXPECT_EQ(back->background, 0xA0B0C0u);
    EXPECT_EQ(back->frames, index.frames);

    for (const std::string& bad :
         {std::string(""), std::string("NimbrelFrames 2\r\n"), text.substr(0, text.find("Rate")),
          std::string("NimbrelFrames 1\nSize=0x5\nRate=10\nBackground=000000\na 1\n"),
          std::string("NimbrelFrames 1\nSize=5x5\nRate=999\nBackground=000000\na 1\n"),
          std::string("NimbrelFrames 1\nSize=5x5\nRate=10\nBackground=000000\na 99999\n"),
          std::string("NimbrelFrames 1\nSize=5x5\nRate=10\nBackground=000000\na -1\n"),
          std::string("NimbrelFrames 1\nSize=5x5\nRate=10\nBackground=000000\n")})
        EXPECT_FALSE(ReadFrameIndex(bad)) << bad;
}

}  // namespace
}  // namespace nimbrel::flash

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "archive/archive_reader.h"
#include "pipeline/build_pipeline.h"
#include "pipeline/picture_conversion.h"
#include "codecs/codecs.h"
#include "imaging/picture_decoder.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/temp.h"
#include "project/project_file.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs::testing;
using pipeline::ConvertPicture;
using pipeline::FitOptions;

namespace {

const double kDisplayP3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};

imaging::Image Decode(const std::vector<std::uint8_t>& bytes) {
    auto source = codecs::MakeLibraryDecoder()->Open("converted", bytes, {});
    if (!source) throw Error("not decodable");
    return imaging::ReadWholePicture(*source);
}

// Red, with a blue block in the top left corner.
imaging::Image Marked(int width, int height, imaging::Pixel fill = imaging::MakePixel(255, 0, 0)) {
    imaging::Image image(width, height, fill);
    for (int y = 0; y < height / 4; ++y)
        for (int x = 0; x < width / 4; ++x) image.Set(x, y, imaging::MakePixel(0, 0, 255));
    return image;
}

TEST(ConvertPicture, HeicFromAPhoneBecomesAnUprightSrgbJpeg) {
    const Bytes heic = MakeHeif(Marked(128, 96), false, codecs::MakeRgbProfile(kDisplayP3), 6);
    const pipeline::ConvertedPicture converted = ConvertPicture("IMG_0001.HEIC", heic, {});
    ASSERT_TRUE(converted.converted);
    EXPECT_EQ(converted.format, "jpeg");
    EXPECT_EQ(codecs::DetectFormat("IMG_0001.HEIC", converted.bytes), "jpeg");
    const imaging::Image image = Decode(converted.bytes);
    ASSERT_EQ(image.Width(), 96);
    ASSERT_EQ(image.Height(), 128);
    EXPECT_LE(ChannelDistance(image.At(90, 4), imaging::MakePixel(0, 0, 255)), 16)
        << "the corner turned right";
    EXPECT_LE(ChannelDistance(image.At(20, 100), imaging::MakePixel(255, 0, 0)), 10) << "P3 red as sRGB red";
}

TEST(ConvertPicture, TransparencyGivesPngAndOtherFormatsGiveJpeg) {
    imaging::Image clear = Marked(64, 64);
    for (int y = 32; y < 64; ++y)
        for (int x = 0; x < 64; ++x) clear.Set(x, y, 0);
    const pipeline::ConvertedPicture avif = ConvertPicture("clear.avif", MakeHeif(clear, true), {});
    ASSERT_TRUE(avif.converted);
    EXPECT_EQ(avif.format, "png");
    EXPECT_EQ(imaging::AlphaOf(Decode(avif.bytes).At(5, 60)), 0);

    // A lossless WebP with an alpha channel that is opaque everywhere is a JPEG.
    const pipeline::ConvertedPicture webp = ConvertPicture("flat.webp", MakeWebpLossless(Marked(40, 40)), {});
    ASSERT_TRUE(webp.converted);
    EXPECT_EQ(webp.format, "jpeg");
    EXPECT_LE(ChannelDistance(Decode(webp.bytes).At(30, 30), imaging::MakePixel(255, 0, 0)), 8);

    // A 16-bit scan stored on its side with the Orientation tag 6.
    const pipeline::ConvertedPicture tiff = ConvertPicture("scan.tif", MakeTiff16(Marked(80, 40), 6), {});
    ASSERT_TRUE(tiff.converted);
    EXPECT_EQ(tiff.width, 40);
    EXPECT_EQ(tiff.height, 80);
    EXPECT_LE(ChannelDistance(Decode(tiff.bytes).At(36, 4), imaging::MakePixel(0, 0, 255)), 16);

    // An ordinary Targa (24-bit, bottom-up, no footer) of 16 x 8: red above, blue below.
    Bytes tga(18, 0);
    tga[2] = 2, tga[12] = 16, tga[14] = 8, tga[16] = 24;
    for (int i = 0; i < 16 * 8; ++i) {
        const bool bottom = i < 16 * 4;
        tga.insert(tga.end(), {static_cast<std::uint8_t>(bottom ? 255 : 0), 0, static_cast<std::uint8_t>(bottom ? 0 : 255)});
    }
    const pipeline::ConvertedPicture targa = ConvertPicture("logo.tga", tga, {});
    ASSERT_TRUE(targa.converted);
    EXPECT_EQ(targa.format, "jpeg");
    EXPECT_LE(ChannelDistance(Decode(targa.bytes).At(8, 1), imaging::MakePixel(255, 0, 0)), 16);
    EXPECT_LE(ChannelDistance(Decode(targa.bytes).At(8, 6), imaging::MakePixel(0, 0, 255)), 16);
}

TEST(ConvertPicture, WhatThePlayersReadIsKeptUnlessTooLargeForTheScreen) {
    const Bytes jpeg = codecs::EncodeJpeg(Marked(400, 300));
    EXPECT_FALSE(ConvertPicture("a.jpg", jpeg, {}).converted);
    EXPECT_FALSE(ConvertPicture("a.jpg", jpeg, {true, 400, 300}).converted) << "fits exactly";
    EXPECT_FALSE(ConvertPicture("notes.txt", Bytes{'h', 'i'}, {true, 10, 10}).converted);

    const pipeline::ConvertedPicture fitted = ConvertPicture("a.jpg", jpeg, {true, 200, 200});
    ASSERT_TRUE(fitted.converted);
    EXPECT_EQ(fitted.format, "jpeg");
    const imaging::Image image = Decode(fitted.bytes);
    EXPECT_EQ(image.Width(), 200);
    EXPECT_EQ(image.Height(), 150);
    EXPECT_LE(ChannelDistance(image.At(10, 10), imaging::MakePixel(0, 0, 255)), 12);

    // Turned upright before fitting: stored 600 x 400 with orientation 6 stands 400 x 600.
    const Bytes turned = WithExifOrientation(codecs::EncodeJpeg(Marked(600, 400)), 6);
    const pipeline::ConvertedPicture upright = ConvertPicture("b.jpg", turned, {true, 300, 300});
    ASSERT_TRUE(upright.converted);
    EXPECT_EQ(upright.width, 200);
    EXPECT_EQ(upright.height, 300);
    EXPECT_LE(ChannelDistance(Decode(upright.bytes).At(190, 10), imaging::MakePixel(0, 0, 255)), 16);

    // A large transparent PNG stays a PNG when shrunk.
    const pipeline::ConvertedPicture png =
        ConvertPicture("c.png", codecs::EncodePng(Gradient(500, 100, true)), {true, 100, 100});
    ASSERT_TRUE(png.converted);
    EXPECT_EQ(png.format, "png");
    EXPECT_EQ(png.width, 100);
    EXPECT_EQ(png.height, 20);
}

TEST(ConvertPicture, PicturesThatCannotBeDecodedAreNamedWithAReason) {
    Bytes heic = MakeHeif(Marked(128, 96), false);
    heic.resize(heic.size() / 2);
    try {
        ConvertPicture("cut.heic", heic, {});
        FAIL() << "a truncated HEIC converted";
    } catch (const Error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot be decoded"), std::string::npos);
    }
    // A PNG header claiming 100,000 x 100,000 pixels is refused when "Fit" has to look at it.
    Bytes bomb = codecs::EncodePng(Gradient(4, 4));
    for (std::size_t at : {16u, 20u})
        bomb[at] = 0, bomb[at + 1] = 1, bomb[at + 2] = 0x86, bomb[at + 3] = 0xA0;
    EXPECT_THROW(ConvertPicture("bomb.png", bomb, {true, 3840, 2160}), Error);
    EXPECT_FALSE(ConvertPicture("bomb.png", bomb, {}).converted) << "without Fit it is packed as before";
}

TEST(ConvertPicture, DecompressionBombsAreLeftOutWithTheirReason) {
    for (const auto& [name, bytes] : DecompressionBombs()) {
        try {
            ConvertPicture(name, bytes, {true, 3840, 2160});
            ADD_FAILURE() << name << " was converted";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()).rfind("cannot be decoded", 0), 0u)
                << name << ": " << error.what();
        }
    }
}

TEST(ConvertPicture, GifBeyondTheWholePictureLimitIsShrunkRowByRow) {
    const pipeline::ConvertedPicture fitted =
        ConvertPicture("wide.gif", MakeGif(9000, 8000, 0, 0, 64, 64, -1), {true, 3840, 2160});
    ASSERT_TRUE(fitted.converted);
    EXPECT_EQ(fitted.width, 2430);
    EXPECT_EQ(fitted.height, 2160);
    EXPECT_EQ(fitted.format, "png") << "the canvas around the frame is transparent";
}

// Linux keeps a process's peak resident size, which can be reset: the growth of that peak over
// one call. Not measured under the sanitizers, whose allocators keep freed memory.
#if defined(__SANITIZE_ADDRESS__)
#define NIMBREL_TEST_PEAK_MEMORY 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NIMBREL_TEST_PEAK_MEMORY 0
#endif
#endif
#ifndef NIMBREL_TEST_PEAK_MEMORY
#define NIMBREL_TEST_PEAK_MEMORY 1
#endif

double StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field));
    return -1;
}

TEST(ConvertPicture, HeicGridBeyondTheWholePictureLimitIsShrunkTileRowByTileRow) {
    // 9000 x 8000 (72 megapixels) as 5 x 4 tiles of 2048 x 2048, the last column and row
    // cropped, turned a quarter anticlockwise by the container as a phone held upright does.
    const imaging::Pixel colours[] = {imaging::MakePixel(220, 30, 30), imaging::MakePixel(30, 200, 40),
                                      imaging::MakePixel(40, 50, 210), imaging::MakePixel(230, 210, 40)};
    std::vector<HeifTile> tiles;
    for (imaging::Pixel colour : colours)
        tiles.push_back(TakeHeifTile(MakeHeif(imaging::Image(2048, 2048, colour), false)));
    HeifGridLayout layout;
    layout.rows = 4, layout.columns = 5;
    layout.width = 9000, layout.height = 8000;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) layout.cells.push_back((r + 3 * c) % 4);
    layout.rotation = 1;
    const Bytes grid = MakeHeifGrid(tiles, layout);
    ASSERT_FALSE(imaging::ImageSizeAllowed(9000, 8000));

    std::ofstream("/proc/self/clear_refs") << "5";
    const double before = StatusKiB("VmRSS:");
    const pipeline::ConvertedPicture fitted = ConvertPicture("big.heic", grid, {true, 3840, 2160});
    const double peakGrowthMiB = (StatusKiB("VmHWM:") - before) / 1024;
    ASSERT_TRUE(fitted.converted);
    EXPECT_EQ(fitted.format, "jpeg");
    // Stored 9000 x 8000 fits as 2160 x 1920, upright 1920 x 2160.
    EXPECT_EQ(fitted.width, 1920);
    EXPECT_EQ(fitted.height, 2160);
    const imaging::Image image = Decode(fitted.bytes);
    ASSERT_EQ(image.Width(), 1920);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) {
            // The cell's middle as stored, shrunk, then turned: stored (x, y) is upright (y, W - 1 - x).
            const double x = c * 2048 + std::min(2048, 9000 - c * 2048) / 2.0;
            const double y = r * 2048 + std::min(2048, 8000 - r * 2048) / 2.0;
            const int ux = static_cast<int>(y * 1920 / 8000), uy = 2159 - static_cast<int>(x * 2160 / 9000);
            EXPECT_LE(
                ChannelDistance(image.At(ux, uy), colours[layout.cells[static_cast<std::size_t>(r * 5 + c)]]),
                10)
                << "row " << r << ", column " << c;
        }
#if NIMBREL_TEST_PEAK_MEMORY
    // Whole, the picture alone would take 275 MiB; a row of tiles takes 70 MiB.
    EXPECT_LT(peakGrowthMiB, 160) << "peak growth in MiB";
#endif
    std::printf("peak memory growth converting the grid: %.0f MiB\n", peakGrowthMiB);
}

TEST(PreparePictures, ConvertsInParallelReportingEveryPictureOnce) {
    platform::TempDirectory dir("nbconvert");
    std::vector<std::string> paths;
    auto write = [&](const std::string& name, const Bytes& bytes) {
        std::ofstream(dir.File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        paths.push_back(dir.File(name));
    };
    const Bytes webp = MakeWebpLossless(Marked(30, 20));
    write("one.webp", webp);
    write("kept.jpg", codecs::EncodeJpeg(Marked(30, 20)));
    Bytes cut = MakeHeif(Marked(64, 64), false);
    cut.resize(cut.size() / 2);
    write("cut.heic", cut);
    std::filesystem::create_directory(dir.File("sub"));
    write("sub/one.webp", webp);  // the same bare name from another folder
    paths.push_back(dir.File("missing.webp"));

    std::vector<int> done;
    const auto prepared = pipeline::PreparePictures(paths, {}, dir.File("work"), 3,
                                                 [&](int d, int total, const pipeline::PreparedPicture&) {
                                                     EXPECT_EQ(total, 5);
                                                     done.push_back(d);
                                                 });
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_EQ(prepared.size(), 5u);
    EXPECT_TRUE(prepared[0].converted);
    EXPECT_EQ(std::filesystem::path(prepared[0].path).filename(), "one.webp") << "the bare name is kept";
    EXPECT_FALSE(prepared[1].converted);
    EXPECT_EQ(prepared[1].path, paths[1]);
    EXPECT_FALSE(prepared[2].leftOutReason.empty());
    EXPECT_TRUE(prepared[3].converted);
    EXPECT_NE(prepared[3].path, prepared[0].path);
    EXPECT_FALSE(prepared[4].leftOutReason.empty());
    std::ifstream original(paths[0], std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(original), {}), webp) << "the user's file is untouched";
}

}  // namespace

namespace {

struct Recorder : pipeline::BuildReporter {
    std::vector<int> progress;
    std::vector<std::string> pictures;
    void Progress(int percent) override { progress.push_back(percent); }
    void Notice(const std::string&) override {}
    void PictureProgress(const std::string& path, int, int) override { pictures.push_back(path); }
};

class CompileWithPictures : public ::testing::Test {
protected:
    void SetUp() override {
        folder = dir.Path();
        Write("stub.bin", Bytes{'M', 'Z', 's', 't', 'u', 'b'});
        request.projectFileName = folder + "Show.nssp";
        request.values.slideShow.showName = "Photos";
        request.stubPath = folder + "stub.bin";
        request.flashStubPath = folder + "stub.bin";
    }
    std::string Write(const std::string& name, const Bytes& bytes) {
        std::ofstream(folder + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return folder + name;
    }
    std::string ReadText(const std::string& path) { return platform::ReadWholeFile(path); }

    platform::TempDirectory dir{"nbcompilepics"};
    std::string folder;
    pipeline::BuildRequest request;
    Recorder reporter;
};

TEST_F(CompileWithPictures, NewFormatsAreConvertedUnderTheirOwnNamesAndBrokenOnesNamed) {
    const Bytes jpeg = codecs::EncodeJpeg(Marked(60, 40));
    Bytes cut = MakeHeif(Marked(128, 96), false);
    cut.resize(cut.size() / 2);
    request.values.files = {Write("IMG_1.HEIC", MakeHeif(Marked(128, 96), false, {}, 6)),
                            Write("keep.jpg", jpeg), Write("broken.heic", cut),
                            Write("web.webp", MakeWebpLossless(Marked(20, 10)))};
    const pipeline::BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    ASSERT_EQ(result.leftOutFiles.size(), 1u);
    EXPECT_EQ(result.leftOutFiles[0].path, folder + "broken.heic");
    EXPECT_EQ(result.leftOutFiles[0].reason.rfind("cannot be decoded", 0), 0u)
        << result.leftOutFiles[0].reason;
    EXPECT_NE(result.completionText.find("broken.heic"), std::string::npos);
    EXPECT_EQ(reporter.pictures.size(), 4u);

    const std::string scr = ReadText(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    ASSERT_EQ(reader.Members().size(), 5u);
    EXPECT_EQ(reader.Members()[2].name, "IMG_1.HEIC");
    EXPECT_EQ(reader.Members()[3].name, "keep.jpg");
    EXPECT_EQ(reader.Members()[4].name, "web.webp");
    const std::string heicMember = reader.Extract(2);
    const Bytes heicBytes(heicMember.begin(), heicMember.end());
    EXPECT_EQ(codecs::DetectFormat("IMG_1.HEIC", heicBytes), "jpeg");
    const imaging::Image upright = Decode(heicBytes);
    EXPECT_EQ(upright.Width(), 96);
    EXPECT_EQ(upright.Height(), 128);
    EXPECT_EQ(reader.Extract(3), std::string(jpeg.begin(), jpeg.end())) << "packed byte for byte";
    // The project still names the user's files; nothing of theirs changed.
    EXPECT_NE(reader.Extract(0).find("IMG_1.HEIC"), std::string::npos);

    request.strict = true;
    try {
        pipeline::CompileProject(request, reporter);
        FAIL() << "strict compile went on";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()).rfind(folder + "broken.heic cannot be decoded", 0), 0u);
    }
}

TEST_F(CompileWithPictures, FitShrinksOnlyWhatIsLargerThanTheBox) {
    const Bytes small = codecs::EncodeJpeg(Marked(300, 200));
    request.values.files = {Write("big.jpg", codecs::EncodeJpeg(Marked(1000, 800))),
                            Write("small.jpg", small)};
    request.values.slideShow.fitPictures = true;
    request.values.slideShow.fitWidth = 500;
    request.values.slideShow.fitHeight = 500;
    const pipeline::BuildResult result = pipeline::CompileProject(request, reporter);
    ASSERT_TRUE(result.built);
    const std::string scr = ReadText(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    const std::string big = reader.Extract(2);
    const imaging::Image image = Decode(Bytes(big.begin(), big.end()));
    EXPECT_EQ(image.Width(), 500);
    EXPECT_EQ(image.Height(), 400);
    EXPECT_EQ(reader.Extract(3), std::string(small.begin(), small.end()));
    // While packing (between 40 and 60) the bar shows the converted picture done.
    const auto packing = std::find(reporter.progress.begin(), reporter.progress.end(), 40);
    EXPECT_NE(std::find(packing, reporter.progress.end(), 100), reporter.progress.end());
    // A converted picture is stored as it is, the others as before.
    EXPECT_TRUE(reader.Members()[2].stored);
    EXPECT_EQ(reader.Members()[2].level, 0);
    EXPECT_NE(reader.Extract(0).find("[Pictures]\r\nFit=1\r\nFitWidth=500\r\nFitHeight=500\r\n"),
              std::string::npos);
}

TEST_F(CompileWithPictures, EveryPictureIsReportedOnceInListOrder) {
    // Pictures of very different sizes finish on the workers out of order; the reports do not.
    request.values.files = {Write("large.webp", MakeWebpLossless(Marked(900, 700))),
                            Write("tiny.webp", MakeWebpLossless(Marked(8, 8))),
                            Write("kept.jpg", codecs::EncodeJpeg(Marked(40, 30))),
                            Write("mid.tif", MakeTiff16(Marked(300, 200), 1)),
                            Write("small.webp", MakeWebpLossless(Marked(16, 16)))};
    struct Ordered : Recorder {
        std::vector<std::pair<int, int>> counts;
        void PictureProgress(const std::string& path, int done, int total) override {
            pictures.push_back(path);
            counts.emplace_back(done, total);
        }
    } ordered;
    const pipeline::BuildResult result = pipeline::CompileProject(request, ordered);
    ASSERT_TRUE(result.built);
    EXPECT_EQ(ordered.pictures, request.values.files);
    EXPECT_EQ(ordered.counts, (std::vector<std::pair<int, int>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
    EXPECT_TRUE(result.leftOutFiles.empty());
    const std::string scr = ReadText(result.outputPath);
    archive::ArchiveReader reader(reinterpret_cast<const unsigned char*>(scr.data()), scr.size());
    ASSERT_EQ(reader.Members().size(), 7u);
    for (std::size_t i = 2; i < 7; ++i)
        EXPECT_EQ(reader.Members()[i].name, std::filesystem::path(request.values.files[i - 2]).filename());
}

TEST(ConvertPicture, ReportsTheRowsReadUpToTheWholePicture) {
    std::vector<int> seen;
    const pipeline::ConvertedPicture converted =
        ConvertPicture("tall.tif", MakeTiff16(Marked(60, 400), 1), {true, 30, 100},
                       [&](int percent) { seen.push_back(percent); });
    ASSERT_TRUE(converted.converted);
    ASSERT_GE(seen.size(), 5u) << "a report for each band of rows";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 100);
    EXPECT_LT(seen.front(), 50);
}

TEST(PicturesSection, WrittenOnlyOnceUsedAndKeptWhenTurnedOff) {
    platform::TempDirectory dir("nbpictures");
    const std::string path = dir.File("Show.nssp");
    project::ProjectValues values;
    values.files = {"a.jpg"};
    project::SaveProject(path, values);
    EXPECT_EQ(platform::ReadWholeFile(path).find("Pictures"), std::string::npos);
    EXPECT_FALSE(project::LoadProject(path).slideShow.fitPictures);

    values.slideShow.fitPictures = true;
    values.slideShow.fitWidth = 1920;
    values.slideShow.fitHeight = 1080;
    project::SaveProject(path, values);
    project::LoadedProject loaded = project::LoadProject(path);
    EXPECT_TRUE(loaded.slideShow.fitPictures);
    EXPECT_EQ(loaded.slideShow.fitWidth, 1920);
    EXPECT_EQ(loaded.slideShow.fitHeight, 1080);

    values.slideShow.fitPictures = false;
    project::SaveProject(path, values);
    loaded = project::LoadProject(path);
    EXPECT_FALSE(loaded.slideShow.fitPictures) << "turning it off is saved too";
    EXPECT_NE(platform::ReadWholeFile(path).find("Fit=0"), std::string::npos);
}

}  // namespace

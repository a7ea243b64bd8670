#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <utility>

#include "codecs/codecs.h"
#include "imaging/picture_format.h"
#include "imaging/exif.h"
#include "platform/error.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs;
using namespace nimbrel::codecs::testing;

namespace {

// Opens a copy of the bytes that lives as long as the test (a source reads from its bytes).
std::unique_ptr<imaging::PictureSource> Open(const Bytes& bytes, imaging::DecodeHint hint = {},
                                             std::string_view name = "picture") {
    static auto decoder = MakeLibraryDecoder();
    static std::vector<std::unique_ptr<Bytes>> kept;
    kept.push_back(std::make_unique<Bytes>(bytes));
    return decoder->Open(name, *kept.back(), hint);
}

// The largest channel difference over all pixels of two pictures of the same size.
int MostDifference(const imaging::Image& a, const imaging::Image& b) {
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(a.Height(), b.Height());
    int most = 0;
    for (int y = 0; y < std::min(a.Height(), b.Height()); ++y)
        for (int x = 0; x < std::min(a.Width(), b.Width()); ++x)
            most = std::max(most, ChannelDistance(a.At(x, y), b.At(x, y)));
    return most;
}

TEST(LibraryDecoder, DetectsFormatsByContentNotByName) {
    const imaging::Image picture = Gradient(8, 8);
    EXPECT_EQ(DetectFormat("photo.png", EncodeJpeg(picture)), "jpeg");
    EXPECT_EQ(DetectFormat("photo.jpg", EncodePng(picture)), "png");
    EXPECT_EQ(DetectFormat("a.bmp", MakeGif(4, 4, 0, 0, 4, 4, -1)), "gif");
    EXPECT_EQ(DetectFormat("a.gif", MakeBmp24(picture)), "bmp");
    EXPECT_EQ(DetectFormat("notes.txt", Bytes{'h', 'e', 'l', 'l', 'o'}), "");
    EXPECT_EQ(DetectFormat("empty", Bytes{}), "");
    // WBMP has no signature: only the name lets it through.
    const Bytes wbmp = {0, 0, 8, 2, 0xF0, 0x0F};
    EXPECT_EQ(DetectFormat("tiny.wbmp", wbmp), "wbmp");
    EXPECT_EQ(DetectFormat("tiny.bin", wbmp), "");
    EXPECT_TRUE(PlayersDecode("jpeg"));
    EXPECT_FALSE(PlayersDecode("heif"));
    EXPECT_FALSE(PlayersDecode("tiff"));
}

TEST(LibraryDecoder, JpegRoundTripKeepsColoursAndReadsInBands) {
    const imaging::Image picture = Gradient(100, 70);
    auto source = Open(EncodeJpeg(picture, 95));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Info().format, "jpeg");
    EXPECT_EQ(source->Info().orientation, 1);
    EXPECT_FALSE(source->Info().hasAlpha);
    // Rows may be read in uneven bands and skipped over.
    std::vector<imaging::Pixel> rows(100 * 3);
    ASSERT_TRUE(source->ReadRows(10, 3, rows.data()));
    EXPECT_LE(ChannelDistance(rows[100 * 2 + 50], picture.At(50, 12)), 12);
    EXPECT_FALSE(source->ReadRows(0, 1, rows.data())) << "rows before those read are gone";

    auto again = Open(EncodeJpeg(picture, 95));
    EXPECT_LE(MostDifference(imaging::ReadWholePicture(*again), picture), 24);
}

TEST(JpegRowEncoder, GrowsPastItsFirstRoomAndWantsEveryRowOnce) {
    // Grey noise at quality 100 takes about two bytes a pixel, more than the room made at first.
    imaging::Image noise(96, 80);
    std::mt19937 random(3);
    for (int y = 0; y < noise.Height(); ++y)
        for (int x = 0; x < noise.Width(); ++x) {
            const auto v = static_cast<std::uint8_t>(random());
            noise.Set(x, y, imaging::MakePixel(v, v, v));
        }
    JpegRowEncoder encoder(noise.Width(), noise.Height(), 100);
    for (int y = 0; y < noise.Height(); ++y) encoder.WriteRow(noise.Row(y));
    EXPECT_THROW(encoder.WriteRow(noise.Row(0)), Error) << "a row too many";
    const Bytes jpeg = encoder.Finish();
    EXPECT_GT(jpeg.size(), static_cast<std::size_t>(noise.Width() * noise.Height()));
    auto source = Open(jpeg);
    ASSERT_NE(source, nullptr);
    EXPECT_LE(MostDifference(imaging::ReadWholePicture(*source), noise), 8);

    JpegRowEncoder cut(8, 8);
    cut.WriteRow(noise.Row(0));
    EXPECT_THROW(cut.Finish(), Error) << "rows missing";
}

TEST(LibraryDecoder, JpegScalesDownToTheHintTakingOrientationIntoAccount) {
    const Bytes jpeg = EncodeJpeg(Gradient(800, 600));
    auto full = Open(jpeg);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->RowWidth(), 800);

    auto quarter = Open(jpeg, {200, 150});
    ASSERT_NE(quarter, nullptr);
    EXPECT_EQ(quarter->RowWidth(), 200);
    EXPECT_EQ(quarter->RowHeight(), 150);
    EXPECT_EQ(quarter->Info().width, 800) << "the info keeps the stored size";

    // 201 wide needs more than a quarter: the half covers it (not 3/8). Above a half, the
    // smallest eighth that covers: 401 wide takes 5/8, 701 the whole picture.
    auto larger = Open(jpeg, {201, 600});
    ASSERT_NE(larger, nullptr);
    EXPECT_EQ(larger->RowWidth(), 400);
    for (auto [wanted, width] : {std::pair{401, 500}, std::pair{501, 600}, std::pair{700, 700}, std::pair{701, 800}}) {
        auto eighths = Open(jpeg, {wanted, 600});
        ASSERT_NE(eighths, nullptr);
        EXPECT_EQ(eighths->RowWidth(), width) << wanted;
        EXPECT_EQ(eighths->RowHeight(), width * 3 / 4) << wanted;
        EXPECT_LE(MostDifference(imaging::ReadWholePicture(*eighths), Gradient(width, width * 3 / 4)), 24) << wanted;
    }

    // Turned by EXIF orientation 6 the picture stands 600 x 800; a 300 x 400 box is half of it.
    auto turned = Open(WithExifOrientation(jpeg, 6), {300, 400});
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(turned->Info().orientation, 6);
    EXPECT_EQ(turned->RowWidth(), 400);
    EXPECT_EQ(turned->RowHeight(), 300);
    const imaging::Image rows = imaging::ReadWholePicture(*turned);
    EXPECT_EQ(imaging::ApplyOrientation(rows, 6).Width(), 300);
}

TEST(LibraryDecoder, TruncatedOrBrokenJpegIsDamagedNotGrey) {
    Bytes jpeg = EncodeJpeg(Gradient(64, 256));
    jpeg.resize(jpeg.size() / 2);
    auto source = Open(jpeg);
    ASSERT_NE(source, nullptr) << "the header is whole";
    EXPECT_THROW(imaging::ReadWholePicture(*source), Error);

    Bytes headerOnly(jpeg.begin(), jpeg.begin() + 20);
    EXPECT_EQ(Open(headerOnly), nullptr);
}

TEST(LibraryDecoder, PngRoundTripIsExactWithAndWithoutAlpha) {
    const imaging::Image opaque = Gradient(33, 17);
    auto source = Open(EncodePng(opaque));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Info().format, "png");
    EXPECT_FALSE(source->Info().hasAlpha) << "an opaque picture is written as RGB";
    EXPECT_EQ(imaging::ReadWholePicture(*source), opaque);

    const imaging::Image clear = Gradient(33, 17, true);
    auto withAlpha = Open(EncodePng(clear));
    ASSERT_NE(withAlpha, nullptr);
    EXPECT_TRUE(withAlpha->Info().hasAlpha);
    EXPECT_EQ(imaging::ReadWholePicture(*withAlpha), clear);

    Bytes cut = EncodePng(opaque);
    cut.resize(cut.size() - 30);
    auto damaged = Open(cut);
    ASSERT_NE(damaged, nullptr);
    EXPECT_THROW(imaging::ReadWholePicture(*damaged), Error);
}

TEST(LibraryDecoder, GifFirstFrameLiesOnATransparentCanvas) {
    auto source = Open(MakeGif(6, 5, 2, 1, 3, 2, 0));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Info().format, "gif");
    EXPECT_TRUE(source->Info().hasAlpha);
    const imaging::Image image = imaging::ReadWholePicture(*source);
    ASSERT_EQ(image.Width(), 6);
    EXPECT_EQ(image.At(0, 0), 0u) << "outside the frame";
    EXPECT_EQ(image.At(2, 1), imaging::MakePixel(255, 0, 0));
    EXPECT_EQ(image.At(2, 2), imaging::MakePixel(0, 255, 0));
    EXPECT_EQ(imaging::AlphaOf(image.At(3, 2)), 0) << "the transparent index";

    auto opaque = Open(MakeGif(4, 4, 0, 0, 4, 4, -1));
    ASSERT_NE(opaque, nullptr);
    EXPECT_FALSE(opaque->Info().hasAlpha);
}

TEST(LibraryDecoder, BitmapsOfEveryLayout) {
    const imaging::Image picture = Gradient(7, 5);
    auto bmp = Open(MakeBmp24(picture));
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(imaging::ReadWholePicture(*bmp), picture);

    // The same bitmap without its file header is a DIB, known by its name.
    Bytes full = MakeBmp24(picture);
    Bytes dib(full.begin() + 14, full.end());
    auto bare = Open(dib, {}, "clip.dib");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(imaging::ReadWholePicture(*bare), picture);

    // 8 bits, top-down, RLE8: a run of 2 of index 1, 3 literal pixels, end of line; 5 of index 2; end.
    Bytes rle = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes header(40, 0);
    header[0] = 40, header[4] = 5, header[8] = 0xFE, header[9] = 0xFF, header[10] = 0xFF,
    header[11] = 0xFF;  // -2
    header[12] = 1, header[14] = 8, header[16] = 1, header[32] = 3;
    rle.insert(rle.end(), header.begin(), header.end());
    const Bytes palette = {0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
    rle.insert(rle.end(), palette.begin(), palette.end());
    rle[10] = static_cast<std::uint8_t>(rle.size());
    const Bytes runs = {2, 1, 0, 3, 2, 1, 2, 0, 0, 0, 5, 2, 0, 1};
    rle.insert(rle.end(), runs.begin(), runs.end());
    auto rleSource = Open(rle);
    ASSERT_NE(rleSource, nullptr);
    const imaging::Image rleImage = imaging::ReadWholePicture(*rleSource);
    EXPECT_EQ(rleImage.At(0, 0), imaging::MakePixel(255, 0, 0));
    EXPECT_EQ(rleImage.At(2, 0), imaging::MakePixel(0, 0, 255));
    EXPECT_EQ(rleImage.At(3, 0), imaging::MakePixel(255, 0, 0));
    EXPECT_EQ(rleImage.At(4, 1), imaging::MakePixel(0, 0, 255));

    // Pixel data cut short: the header opens, the missing rows fail.
    Bytes cut = MakeBmp24(Gradient(40, 40));
    cut.resize(cut.size() / 2);
    auto damaged = Open(cut);
    ASSERT_NE(damaged, nullptr);
    EXPECT_THROW(imaging::ReadWholePicture(*damaged), Error);
}

TEST(LibraryDecoder, OwnDecodersServePcxAndWbmp) {
    const Bytes wbmp = {0, 0, 8, 2, 0xF0, 0x0F};
    auto source = Open(wbmp, {}, "tiny.WBMP");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->Info().format, "wbmp");
    const imaging::Image image = imaging::ReadWholePicture(*source);
    EXPECT_EQ(image.At(0, 0), imaging::kOpaqueWhite);
    EXPECT_EQ(image.At(0, 1), imaging::kOpaqueBlack);
}

TEST(LibraryDecoder, DecompressionBombsAreRefusedBeforeAnyAllocation) {
    // A PNG header claiming 100,000 x 100,000 pixels.
    Bytes png = EncodePng(Gradient(4, 4));
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) png[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put32(16, 100000);
    put32(20, 100000);
    EXPECT_EQ(Open(png), nullptr);

    EXPECT_EQ(Open(MakeGif(65535, 65535, 0, 0, 2, 2, -1)), nullptr);

    Bytes bmp = MakeBmp24(Gradient(2, 2));
    bmp[18] = 0xA0, bmp[19] = 0x86, bmp[20] = 0x01;  // 100,000 wide
    bmp[22] = 0xA0, bmp[23] = 0x86, bmp[24] = 0x01;
    EXPECT_EQ(Open(bmp), nullptr);
}

TEST(LibraryDecoder, RefusalsNameTheirReason) {
    auto decoder = MakeLibraryDecoder();
    auto refusal = [&](const std::string& name, const Bytes& bytes) {
        EXPECT_EQ(decoder->Open(name, bytes), nullptr) << name;
        return decoder->Refusal();
    };
    for (const auto& [name, bomb] : DecompressionBombs()) {
        if (name == "bomb.pcx" || name == "bomb.wbmp") continue;  // our own decoders say nothing
        const std::string why = refusal(name, bomb);
        EXPECT_NE(why.find("too large ("), std::string::npos) << name << ": " << why;
    }
    EXPECT_EQ(refusal("notes.txt", Bytes{'h', 'i'}), "not a picture this program can read");
    const Bytes jpeg = EncodeJpeg(Gradient(16, 16));
    EXPECT_EQ(refusal("cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + 20)), "damaged");
    // A good picture after a refusal leaves nothing behind.
    ASSERT_NE(decoder->Open("good.jpg", jpeg), nullptr);
    EXPECT_EQ(decoder->Refusal(), "");
}

TEST(LibraryDecoder, JpegReducedAfterItsHeaderDecodesAsWithTheHint) {
    // Opening reads the header only: the scale may still be chosen, and a progressive picture
    // is then taken in once, at that scale.
    for (bool progressive : {false, true}) {
        const Bytes jpeg = progressive ? MakeProgressiveJpeg(Gradient(800, 600), false) : EncodeJpeg(Gradient(800, 600));
        auto reduced = Open(jpeg);
        ASSERT_NE(reduced, nullptr);
        EXPECT_EQ(reduced->RowWidth(), 800);
        EXPECT_TRUE(reduced->ReduceTo({200, 150}));
        EXPECT_EQ(reduced->RowWidth(), 200);
        EXPECT_EQ(reduced->RowHeight(), 150);
        // Until rows are read the scale may be settled again, also larger (as "Fit" asks for
        // twice the size it shows a picture shrunk 4 times or more).
        EXPECT_TRUE(reduced->ReduceTo({400, 300}));
        EXPECT_EQ(reduced->RowWidth(), 400);
        EXPECT_TRUE(reduced->ReduceTo({200, 150}));
        auto hinted = Open(jpeg, {200, 150});
        EXPECT_EQ(MostDifference(imaging::ReadWholePicture(*reduced), imaging::ReadWholePicture(*hinted)), 0);
        EXPECT_FALSE(reduced->ReduceTo({100, 75})) << "the rows have been read";
        EXPECT_EQ(reduced->RowWidth(), 200);
    }
}

TEST(LibraryDecoder, JpegScansAreBoundedAndADecodeCanBeStopped) {
    const imaging::Image picture = Gradient(48, 40);
    auto many = Open(MakeProgressiveJpeg(picture, true));
    ASSERT_NE(many, nullptr) << "the header is sound";
    std::vector<imaging::Pixel> row(48);
    EXPECT_FALSE(many->ReadRows(0, 1, row.data()));
    EXPECT_NE(many->Failure().find("too many scans"), std::string::npos) << many->Failure();

    const Bytes usual = MakeProgressiveJpeg(picture, false);
    EXPECT_LE(MostDifference(imaging::ReadWholePicture(*Open(usual)), picture), 24);

    std::atomic<bool> stop{true};
    imaging::DecodeHint stopped;
    stopped.stop = &stop;
    auto abandoned = Open(usual, stopped);
    ASSERT_NE(abandoned, nullptr);
    EXPECT_FALSE(abandoned->ReadRows(0, 1, row.data()));
    EXPECT_NE(abandoned->Failure().find("stopped"), std::string::npos) << abandoned->Failure();
}

TEST(DeclaredPictureSize, ReadsTheSizeEachHeaderClaims) {
    std::int64_t width = 0, height = 0;
    auto declared = [&](const std::string& name, const Bytes& bytes) {
        width = height = 0;
        return imaging::DeclaredPictureSize(name, bytes, width, height);
    };
    for (const auto& [name, bomb] : DecompressionBombs()) {
        if (!declared(name, bomb)) continue;  // HEIF and such: left to their decoders
        EXPECT_GT(width * height, imaging::kMaxImagePixels) << name;
    }
    const imaging::Image picture = Gradient(37, 23);
    Bytes jpeg = WithExifOrientation(EncodeJpeg(picture), 6);
    // Metadata before the frame header, as a camera writes it.
    const Bytes comment = {0xFF, 0xFE, 0x10, 0x02};
    jpeg.insert(jpeg.begin() + 2, comment.begin(), comment.end());
    jpeg.insert(jpeg.begin() + 6, 0x1000, 'x');
    for (const auto& [name, bytes] : {std::pair<std::string, Bytes>{"a.jpg", jpeg}, {"a.png", EncodePng(picture)},
                                      {"a.bmp", MakeBmp24(picture)}, {"a.webp", MakeWebpLossless(picture)}}) {
        EXPECT_TRUE(declared(name, bytes)) << name;
        EXPECT_EQ(width, 37) << name;
        EXPECT_EQ(height, 23) << name;
    }
    EXPECT_TRUE(declared("a.gif", MakeGif(70, 50, 0, 0, 2, 2, -1)));
    EXPECT_EQ(width, 70);
    EXPECT_FALSE(declared("cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + 100)));
    EXPECT_FALSE(declared("notes.txt", Bytes{'h', 'i'}));
}

TEST(SrgbConverter, DisplayP3BecomesSrgbAndSrgbIsLeftAlone) {
    const double p3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    SrgbConverter fromP3(MakeRgbProfile(p3));
    ASSERT_TRUE(fromP3.Active());
    imaging::Pixel pixels[] = {imaging::MakePixel(200, 60, 60, 77), imaging::MakePixel(128, 128, 128),
                               imaging::MakePixel(255, 0, 0)};
    fromP3.Apply(pixels, 3);
    // P3 (200, 60, 60) is about sRGB (218, 42, 52); grey stays grey; alpha is kept.
    EXPECT_LE(ChannelDistance(pixels[0], imaging::MakePixel(218, 42, 52, 77)), 3);
    EXPECT_LE(ChannelDistance(pixels[1], imaging::MakePixel(128, 128, 128)), 2);
    EXPECT_LE(ChannelDistance(pixels[2], imaging::MakePixel(255, 0, 0)), 3);

    const double srgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    EXPECT_FALSE(SrgbConverter(MakeRgbProfile(srgb)).Active());
    const Bytes junk = {1, 2, 3, 4, 5};
    EXPECT_FALSE(SrgbConverter(junk).Active());
}

}  // namespace

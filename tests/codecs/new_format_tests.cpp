#include <gtest/gtest.h>

#include "codecs/codecs.h"
#include "imaging/exif.h"
#include "platform/error.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs;
using namespace nimbrel::codecs::testing;

namespace {

const double kDisplayP3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};

struct Opened {
    Bytes bytes;
    std::unique_ptr<imaging::PictureSource> source;
};

Opened Open(Bytes bytes, imaging::DecodeHint hint = {}) {
    Opened o{std::move(bytes), nullptr};
    o.source = MakeLibraryDecoder()->Open("picture", o.bytes, hint);
    return o;
}

// Red on the left half, (200, 60, 60) on the right, a blue block in the top left corner.
imaging::Image Marked(int width, int height) {
    imaging::Image image(width, height, imaging::MakePixel(255, 0, 0));
    for (int y = 0; y < height; ++y)
        for (int x = width / 2; x < width; ++x) image.Set(x, y, imaging::MakePixel(200, 60, 60));
    for (int y = 0; y < height / 4; ++y)
        for (int x = 0; x < width / 4; ++x) image.Set(x, y, imaging::MakePixel(0, 0, 255));
    return image;
}

TEST(NewFormats, HeicInDisplayP3TurnedByTheContainerComesOutUprightInSrgb) {
    // Stored 128 x 96, rotated 90 degrees clockwise for showing: the blue corner lands top right.
    Opened heic = Open(MakeHeif(Marked(128, 96), false, MakeRgbProfile(kDisplayP3), 6));
    ASSERT_NE(heic.source, nullptr);
    EXPECT_EQ(DetectFormat("x", heic.bytes), "heif");
    const imaging::PictureInfo& info = heic.source->Info();
    EXPECT_EQ(info.format, "heif");
    EXPECT_EQ(info.orientation, 1) << "libheif turns it already";
    EXPECT_EQ(info.width, 96);
    EXPECT_EQ(info.height, 128);
    EXPECT_TRUE(info.hasColorProfile);
    imaging::Image image = imaging::ReadWholePicture(*heic.source);
    SrgbConverter toSrgb(heic.source->ColorProfile());
    ASSERT_TRUE(toSrgb.Active());
    toSrgb.Apply(image.Data(), static_cast<std::size_t>(image.Width()) * image.Height());
    EXPECT_LE(ChannelDistance(image.At(90, 5), imaging::MakePixel(0, 0, 255)), 12)
        << "blue corner, top right";
    EXPECT_LE(ChannelDistance(image.At(40, 20), imaging::MakePixel(255, 0, 0)), 8) << "P3 red is sRGB red";
    EXPECT_LE(ChannelDistance(image.At(40, 100), imaging::MakePixel(218, 42, 52)), 8);
}

TEST(NewFormats, AvifKeepsItsTransparency) {
    imaging::Image picture = Marked(64, 64);
    for (int y = 32; y < 64; ++y)
        for (int x = 0; x < 64; ++x) picture.Set(x, y, imaging::MakePixel(0, 255, 0, 0));
    Opened avif = Open(MakeHeif(picture, true));
    ASSERT_NE(avif.source, nullptr);
    EXPECT_EQ(avif.source->Info().format, "avif");
    EXPECT_TRUE(avif.source->Info().hasAlpha);
    const imaging::Image image = imaging::ReadWholePicture(*avif.source);
    EXPECT_EQ(imaging::AlphaOf(image.At(10, 50)), 0);
    EXPECT_EQ(imaging::AlphaOf(image.At(10, 10)), 255);
    EXPECT_LE(ChannelDistance(image.At(40, 5), imaging::MakePixel(200, 60, 60)), 12);
}

TEST(NewFormats, TruncatedHeicIsRefusedOrFailsToDecode) {
    Bytes heic = MakeHeif(Marked(128, 96), false);
    for (std::size_t keep : {heic.size() / 2, heic.size() - 40, std::size_t{40}}) {
        Opened cut = Open(Bytes(heic.begin(), heic.begin() + static_cast<std::ptrdiff_t>(keep)));
        if (cut.source) {
            EXPECT_THROW(imaging::ReadWholePicture(*cut.source), Error) << keep;
        }
    }
}

TEST(NewFormats, LosslessWebpIsExactAndScaledOnlyWhenTooLarge) {
    const imaging::Image picture = Gradient(50, 30, true);
    Opened webp = Open(MakeWebpLossless(picture), {10, 10});
    ASSERT_NE(webp.source, nullptr);
    EXPECT_EQ(webp.source->Info().format, "webp");
    EXPECT_TRUE(webp.source->Info().hasAlpha);
    EXPECT_EQ(webp.source->RowWidth(), 50) << "small enough to be shrunk in linear light by the caller";
    const imaging::Image image = imaging::ReadWholePicture(*webp.source);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x)
            if (imaging::AlphaOf(picture.At(x, y)) != 0) {
                ASSERT_EQ(image.At(x, y), picture.At(x, y)) << x << "," << y;
            }

    Bytes cut = MakeWebpLossless(Gradient(300, 300));
    cut.resize(cut.size() / 2);
    Opened damaged = Open(cut);
    if (damaged.source) {
        EXPECT_THROW(imaging::ReadWholePicture(*damaged.source), Error);
    }
}

TEST(NewFormats, SixteenBitTiffReadsInBandsWithItsOrientation) {
    const imaging::Image picture = Gradient(40, 30);
    Opened tiff = Open(MakeTiff16(picture, 6));
    ASSERT_NE(tiff.source, nullptr);
    EXPECT_EQ(tiff.source->Info().format, "tiff");
    EXPECT_EQ(tiff.source->Info().orientation, 6);
    EXPECT_FALSE(tiff.source->Info().hasAlpha);
    // Bands that start inside a strip of 7 rows.
    imaging::Image image(40, 30);
    for (int y = 0; y < 30; y += 4) {
        ASSERT_TRUE(tiff.source->ReadRows(y, std::min(4, 30 - y), image.Row(y))) << y;
    }
    EXPECT_EQ(image, picture);

    Bytes cut = MakeTiff16(Gradient(200, 200));
    cut.resize(cut.size() / 3);
    Opened damaged = Open(cut);
    if (damaged.source) {
        EXPECT_THROW(imaging::ReadWholePicture(*damaged.source), Error);
    }
}

TEST(NewFormats, DecompressionBombsOfEveryFormatAreRefusedBeforeDecoding) {
    const auto bombs = DecompressionBombs();
    EXPECT_EQ(bombs.size(), 11u);
    for (const auto& [name, bytes] : bombs) {
        for (imaging::DecodeHint hint : {imaging::DecodeHint{}, imaging::DecodeHint{3840, 2160}}) {
            // Refused at the header: nothing is decoded, nothing of the claimed size allocated.
            EXPECT_EQ(MakeLibraryDecoder()->Open(name, bytes, hint), nullptr) << name << " " << hint.maxWidth;
        }
    }
}

TEST(NewFormats, GifLargerThanAWholePictureIsReadRowByRow) {
    // 9000 x 8000 is beyond what is ever held whole; its rows still come, band by band.
    const Bytes gif = MakeGif(9000, 8000, 100, 50, 64, 64, -1);
    Opened big = Open(gif);
    ASSERT_NE(big.source, nullptr);
    EXPECT_FALSE(imaging::ImageSizeAllowed(9000, 8000));
    EXPECT_THROW(imaging::ReadWholePicture(*big.source), Error);

    Opened rows = Open(gif);
    ASSERT_NE(rows.source, nullptr);
    std::vector<imaging::Pixel> band(9000 * 16);
    ASSERT_TRUE(rows.source->ReadRows(48, 16, band.data()));
    EXPECT_EQ(band[0 * 9000 + 100], imaging::Pixel{0}) << "row 48 is above the frame";
    EXPECT_EQ(imaging::AlphaOf(band[2 * 9000 + 100]), 255) << "row 50 is the frame's first";
    EXPECT_EQ(band[2 * 9000 + 99], imaging::Pixel{0}) << "left of the frame";
    EXPECT_FALSE(rows.source->ReadRows(0, 1, band.data())) << "rows only come forward";
}

}  // namespace

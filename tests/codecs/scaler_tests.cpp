#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "codecs/codecs.h"
#include "imaging/wide_vectors.h"
#include "platform/error.h"
#include "test_pictures.h"

using namespace nimbrel;
using namespace nimbrel::codecs;

namespace {

imaging::Image Scale(const imaging::Image& source, int width, int height) {
    LinearAreaScaler scaler(source.Width(), source.Height(), width, height);
    for (int y = 0; y < source.Height(); ++y) scaler.PushRow(source.Row(y));
    EXPECT_TRUE(scaler.Done());
    return scaler.Take();
}

TEST(LinearAreaScaler, FineDetailKeepsItsBrightness) {
    // One-pixel black and white stripes average to half the light, which sRGB writes as 188,
    // not the 128 that averaging the stored values would give.
    imaging::Image stripes(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            stripes.Set(x, y, (x + y) % 2 ? imaging::kOpaqueWhite : imaging::kOpaqueBlack);
    const imaging::Image half = Scale(stripes, 16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_NEAR(imaging::RedOf(half.At(x, y)), 188, 1);
            EXPECT_EQ(imaging::AlphaOf(half.At(x, y)), 255);
        }
}

TEST(LinearAreaScaler, UnevenRatiosKeepFlatColoursAndCoverTheWholeSource) {
    const imaging::Image flat(1000, 777, imaging::MakePixel(90, 160, 30));
    const imaging::Image small = Scale(flat, 333, 101);
    ASSERT_EQ(small.Width(), 333);
    for (int y : {0, 50, 100})
        for (int x : {0, 166, 332})
            EXPECT_LE(codecs::testing::ChannelDistance(small.At(x, y), flat.At(0, 0)), 1);

    // A left half red and right half blue keeps the halves where they were.
    imaging::Image halves(10, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x)
            halves.Set(x, y, x < 5 ? imaging::MakePixel(255, 0, 0) : imaging::MakePixel(0, 0, 255));
    const imaging::Image two = Scale(halves, 2, 1);
    EXPECT_EQ(two.At(0, 0), imaging::MakePixel(255, 0, 0));
    EXPECT_EQ(two.At(1, 0), imaging::MakePixel(0, 0, 255));
}

TEST(LinearAreaScaler, EveryTargetRowGetsTheWholeWeightOfItsSourceRows) {
    // Row boundaries that fall on a source row's edge only up to rounding, such as 8000 rows
    // into 1920, must neither lose a source row nor leave a target row unwritten.
    int wrong = 0;
    const imaging::Pixel grey = imaging::MakePixel(90, 90, 90);
    for (int height : {8000, 1000, 999, 777, 300}) {
        const std::vector<imaging::Pixel> row(2, grey);
        for (int target = 1; target < height && target <= 2000; target += target < 300 ? 1 : 37) {
            LinearAreaScaler scaler(2, height, 1, target);
            for (int y = 0; y < height; ++y) scaler.PushRow(row.data());
            const imaging::Image small = scaler.Take();
            for (int y = 0; y < target; ++y)
                if (small.At(0, y) != grey && ++wrong < 10)
                    ADD_FAILURE() << height << " into " << target << ": row " << y;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(LinearAreaScaler, TransparentPixelsLendNoColour) {
    imaging::Image mixed(2, 1);
    mixed.Set(0, 0, imaging::MakePixel(255, 0, 0, 0));  // invisible red
    mixed.Set(1, 0, imaging::MakePixel(0, 0, 255));
    const imaging::Image one = Scale(mixed, 1, 1);
    EXPECT_EQ(imaging::RedOf(one.At(0, 0)), 0);
    EXPECT_EQ(imaging::BlueOf(one.At(0, 0)), 255);
    EXPECT_NEAR(imaging::AlphaOf(one.At(0, 0)), 128, 1);
}

// The area average in linear light worked out in double precision, pixel by pixel, as the
// scaler's definition: what its single-precision, vectorised paths must match up to rounding.
imaging::Pixel ReferencePixel(const imaging::Image& source, int width, int height, int tx, int ty) {
    auto toLinear = [](unsigned c) {
        const double v = c / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    auto toSrgb = [](double l) {
        l = std::clamp(l, 0.0, 1.0);
        const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
        return static_cast<std::uint8_t>(std::clamp(c * 255.0 + 0.5, 0.0, 255.0));
    };
    const double sx = static_cast<double>(source.Width()) / width, sy = static_cast<double>(source.Height()) / height;
    double r = 0, g = 0, b = 0, a = 0;
    for (int y = static_cast<int>(ty * sy); y < std::min<double>(source.Height(), (ty + 1) * sy); ++y) {
        const double wy = std::min<double>(y + 1, (ty + 1) * sy) - std::max<double>(y, ty * sy);
        for (int x = static_cast<int>(tx * sx); x < std::min<double>(source.Width(), (tx + 1) * sx); ++x) {
            const double wx = std::min<double>(x + 1, (tx + 1) * sx) - std::max<double>(x, tx * sx);
            const imaging::Pixel p = source.At(x, y);
            const double w = wx * wy * imaging::AlphaOf(p) / 255.0;
            r += w * toLinear(imaging::RedOf(p));
            g += w * toLinear(imaging::GreenOf(p));
            b += w * toLinear(imaging::BlueOf(p));
            a += w;
        }
    }
    a /= sx * sy;
    if (a <= 0.5 / 255) return 0;
    const double scale = 1 / (a * sx * sy);
    return imaging::MakePixel(toSrgb(r * scale), toSrgb(g * scale), toSrgb(b * scale),
                              static_cast<std::uint8_t>(std::min(255.0, a * 255.0 + 0.5)));
}

TEST(LinearAreaScaler, OpaqueAndTranslucentRowsMatchTheExactAverage) {
    // Noise at uneven ratios; in the second picture a band of translucent rows shares target
    // rows with opaque ones, so that both paths meet in one target row.
    std::mt19937 random(11);
    for (bool translucentBand : {false, true}) {
        imaging::Image noise(157, 93);
        for (int y = 0; y < noise.Height(); ++y)
            for (int x = 0; x < noise.Width(); ++x) {
                const unsigned n = random();
                const bool translucent = translucentBand && y >= 40 && y < 47;
                noise.Set(x, y,
                          imaging::MakePixel(n & 255, (n >> 8) & 255, (n >> 16) & 255,
                                             translucent ? static_cast<std::uint8_t>((n >> 24) & 255) : 255));
            }
        for (auto [width, height] : {std::pair{61, 29}, std::pair{100, 93}, std::pair{13, 7}}) {
            const imaging::Image small = Scale(noise, width, height);
            int worst = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    worst = std::max(worst, codecs::testing::ChannelDistance(
                                                small.At(x, y), ReferencePixel(noise, width, height, x, y)));
            EXPECT_LE(worst, 1) << width << " x " << height << (translucentBand ? " with translucent rows" : "");
        }
    }
}

TEST(LinearAreaScaler, OpaquePicturesMatchTheExactAverageAtAnyNumberOfTaps) {
    // Opaque rows take a fixed-point path with taps in pairs: one tap padded to two, odd counts,
    // many taps, rows too narrow for a pair, a target row made of one source row. Two pairs (up
    // to four taps) have an AVX2 path that must give the very same pixels.
    std::mt19937 random(5);
    struct Case {
        int sourceWidth, sourceHeight, width, height;
    };
    for (const Case c : {Case{1, 9, 1, 4}, Case{2, 5, 1, 5}, Case{3, 3, 2, 1}, Case{37, 23, 37, 11},
                         Case{37, 23, 20, 23}, Case{75, 10, 33, 7}, Case{101, 61, 29, 17}, Case{101, 61, 9, 5}}) {
        imaging::Image noise(c.sourceWidth, c.sourceHeight);
        for (int y = 0; y < c.sourceHeight; ++y)
            for (int x = 0; x < c.sourceWidth; ++x) {
                const unsigned n = random();
                noise.Set(x, y, imaging::MakePixel(n & 255, (n >> 8) & 255, (n >> 16) & 255));
            }
        const imaging::Image small = Scale(noise, c.width, c.height);
        int worst = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                worst = std::max(worst, codecs::testing::ChannelDistance(
                                            small.At(x, y), ReferencePixel(noise, c.width, c.height, x, y)));
        EXPECT_LE(worst, 1) << c.sourceWidth << " x " << c.sourceHeight << " into " << c.width << " x " << c.height;
        imaging::AllowWideVectors(false);
        EXPECT_EQ(Scale(noise, c.width, c.height), small) << "the baseline path gives other pixels";
        imaging::AllowWideVectors(true);

        // The same rows handed to a sink, in order, instead of a picture.
        imaging::Image sunk(c.width, c.height, 0);
        int next = 0;
        LinearAreaScaler scaler(c.sourceWidth, c.sourceHeight, c.width, c.height,
                                [&](int row, const imaging::Pixel* pixels) {
                                    EXPECT_EQ(row, next++);
                                    std::copy(pixels, pixels + c.width, sunk.Row(row));
                                });
        for (int y = 0; y < c.sourceHeight; ++y) scaler.PushRow(noise.Row(y));
        EXPECT_EQ(next, c.height);
        EXPECT_TRUE(scaler.Take().Empty());
        EXPECT_EQ(sunk, small);
    }
}

TEST(LinearAreaScaler, RefusesToEnlarge) {
    EXPECT_THROW(LinearAreaScaler(10, 10, 11, 10), Error);
    EXPECT_THROW(LinearAreaScaler(10, 10, 0, 10), Error);
}

}  // namespace

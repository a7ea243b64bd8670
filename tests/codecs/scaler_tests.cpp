#include <gtest/gtest.h>

#include "codecs/codecs.h"
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

TEST(LinearAreaScaler, RefusesToEnlarge) {
    EXPECT_THROW(LinearAreaScaler(10, 10, 11, 10), Error);
    EXPECT_THROW(LinearAreaScaler(10, 10, 0, 10), Error);
}

}  // namespace

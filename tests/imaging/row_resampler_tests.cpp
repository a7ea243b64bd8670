#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "imaging/exif.h"
#include "imaging/row_resampler.h"
#include "platform/error.h"

using namespace nimbrel::imaging;

namespace {

Image RandomImage(int w, int h, unsigned seed, bool opaque = true) {
    std::mt19937 random(seed);
    Image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.Set(x, y,
                      MakePixel(static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                                static_cast<std::uint8_t>(random()),
                                opaque ? 255 : static_cast<std::uint8_t>(random())));
    return image;
}

Image Resample(const Image& source, int w, int h, Rect crop, Pixel background = kOpaqueBlack) {
    RowResampler resampler(source.Width(), source.Height(), w, h, crop, background);
    for (int y = 0; y < source.Height(); ++y) resampler.PushRow(y, source.Row(y));
    EXPECT_TRUE(resampler.Done());
    return resampler.Take();
}

Image Resample(const Image& source, int w, int h) {
    return Resample(source, w, h, Rect{0, 0, w, h});
}

Image Crop(const Image& image, const Rect& r) {
    Image out(r.width, r.height);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) out.Set(x, y, image.At(r.x + x, r.y + y));
    return out;
}

int MaxChannelDifference(Pixel a, Pixel b) {
    return std::max(
        {std::abs(RedOf(a) - RedOf(b)), std::abs(GreenOf(a) - GreenOf(b)), std::abs(BlueOf(a) - BlueOf(b))});
}

TEST(RowResampler, ShrinkingAveragesTheAreaEachPixelCovers) {
    // Halving: each target pixel is the mean of a 2 x 2 block.
    Image source(4, 2);
    const std::uint8_t values[2][4] = {{0, 40, 100, 100}, {80, 120, 0, 200}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) source.Set(x, y, MakePixel(values[y][x], 0, 255 - values[y][x]));
    Image half = Resample(source, 2, 1);
    EXPECT_EQ(half.At(0, 0), MakePixel(60, 0, 195));
    EXPECT_EQ(half.At(1, 0), MakePixel(100, 0, 155));

    // A third of a pixel's share at uneven ratios: 3 pixels into 2 weighs them 2/3, 1/3 and 1/3, 2/3.
    Image row(3, 1);
    row.Set(0, 0, MakePixel(0, 0, 0));
    row.Set(1, 0, MakePixel(90, 90, 90));
    row.Set(2, 0, MakePixel(180, 180, 180));
    Image two = Resample(row, 2, 1);
    EXPECT_EQ(RedOf(two.At(0, 0)), 30);
    EXPECT_EQ(RedOf(two.At(1, 0)), 150);

    // Whatever the ratio, a flat picture stays flat and the mean of a picture is kept.
    Image flat(997, 613, MakePixel(12, 200, 77));
    for (auto [w, h] : {std::pair{640, 480}, std::pair{13, 7}, std::pair{1, 1}, std::pair{996, 612}}) {
        Image out = Resample(flat, w, h);
        for (int y = 0; y < h; y += 3)
            for (int x = 0; x < w; x += 5) ASSERT_EQ(out.At(x, y), MakePixel(12, 200, 77)) << w << "x" << h;
    }
    Image noisy = RandomImage(300, 200, 7);
    Image small = Resample(noisy, 71, 43);
    double before = 0, after = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) before += GreenOf(noisy.At(x, y));
    for (int y = 0; y < 43; ++y)
        for (int x = 0; x < 71; ++x) after += GreenOf(small.At(x, y));
    EXPECT_NEAR(before / (300 * 200), after / (71 * 43), 0.6);
}

TEST(RowResampler, EnlargingInterpolatesLikeTheBilinearScaler) {
    Image row(2, 1);
    row.Set(0, 0, MakePixel(0, 0, 0));
    row.Set(1, 0, MakePixel(200, 200, 200));
    Image wide = Resample(row, 4, 1);
    EXPECT_EQ(RedOf(wide.At(0, 0)), 0);
    EXPECT_EQ(RedOf(wide.At(1, 0)), 50);
    EXPECT_EQ(RedOf(wide.At(2, 0)), 150);
    EXPECT_EQ(RedOf(wide.At(3, 0)), 200);

    Image source = RandomImage(23, 17, 3);
    Image ours = Resample(source, 100, 61);
    Image reference = ScaleBilinear(source, 100, 61);  // 8-bit weights, truncated twice
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_LE(MaxChannelDifference(ours.At(x, y), reference.At(x, y)), 2) << x << "," << y;

    // One side shrinks, the other grows.
    Image mixed = Resample(source, 5, 80);
    EXPECT_EQ(mixed.Width(), 5);
    EXPECT_EQ(mixed.Height(), 80);
}

TEST(RowResampler, SameSizeCopiesAndACropIsPartOfTheWhole) {
    Image source = RandomImage(50, 40, 11);
    Image copy = Resample(source, 50, 40);
    EXPECT_EQ(copy, source);
    // A picture larger than the screen: only the part on screen is made, pixel for pixel.
    Rect visible{10, 5, 20, 30};
    EXPECT_EQ(Resample(source, 50, 40, visible), Crop(source, visible));
    // Scaled: the crop equals the same part of the whole result.
    Image whole = Resample(source, 31, 27);
    Rect part{4, 9, 17, 11};
    EXPECT_EQ(Resample(source, 31, 27, part), Crop(whole, part));
    // A crop reaching past the target is clipped to it.
    EXPECT_EQ(Resample(source, 31, 27, Rect{-5, 20, 100, 100}), Crop(whole, Rect{0, 20, 31, 7}));

    // Same size with a row that is partly transparent among opaque ones: the opaque rows as
    // they are, the other laid over the background as it would be on its own.
    const Pixel blue = MakePixel(0, 0, 200);
    Image mixed = source;
    const Image seeThrough = RandomImage(50, 1, 3, false);
    std::copy(seeThrough.Row(0), seeThrough.Row(0) + 50, mixed.Row(7));
    const Image out = Resample(mixed, 50, 40, Rect{0, 0, 50, 40}, blue);
    EXPECT_EQ(Crop(out, Rect{0, 0, 50, 7}), Crop(source, Rect{0, 0, 50, 7}));
    EXPECT_EQ(Crop(out, Rect{0, 8, 50, 32}), Crop(source, Rect{0, 8, 50, 32}));
    EXPECT_EQ(Crop(out, Rect{0, 7, 50, 1}), Resample(seeThrough, 50, 1, Rect{0, 0, 50, 1}, blue));
}

TEST(RowResampler, RowsOutsideTheNeededRangeDoNotMatter) {
    Image source = RandomImage(40, 100, 5);
    Rect part{0, 10, 20, 5};
    RowResampler first(40, 100, 20, 50, part, kOpaqueBlack);
    ASSERT_LE(first.FirstNeededRow(), 20);
    ASSERT_GE(first.LastNeededRow(), 30);
    ASSERT_LT(first.LastNeededRow() - first.FirstNeededRow(), 14);
    Image garbage = RandomImage(40, 100, 99);
    for (int y = 0; y < 100; ++y) {
        bool needed = y >= first.FirstNeededRow() && y < first.LastNeededRow();
        first.PushRow(y, needed ? source.Row(y) : garbage.Row(y));
    }
    EXPECT_TRUE(first.Done());
    EXPECT_EQ(first.Take(), Crop(Resample(source, 20, 50), part));
    // Only the needed rows, nothing else.
    RowResampler second(40, 100, 20, 50, part, kOpaqueBlack);
    for (int y = second.FirstNeededRow(); y < second.LastNeededRow(); ++y) second.PushRow(y, source.Row(y));
    EXPECT_TRUE(second.Done());
    EXPECT_EQ(second.Take(), Crop(Resample(source, 20, 50), part));
}

TEST(RowResampler, TransparencyShowsTheBackgroundAndASourceEndingEarlyLeavesIt) {
    const Pixel blue = MakePixel(0, 0, 200);
    Image source(2, 1);
    source.Set(0, 0, MakePixel(255, 0, 0, 0));    // invisible red
    source.Set(1, 0, MakePixel(200, 0, 0, 128));  // half red
    Image out = Resample(source, 2, 1, Rect{0, 0, 2, 1}, blue);
    EXPECT_EQ(out.At(0, 0), blue);
    EXPECT_LE(MaxChannelDifference(out.At(1, 0), MakePixel(100, 0, 100)), 1);
    // Shrunk, the invisible pixel's colour does not bleed into its neighbour.
    Image mean = Resample(source, 1, 1, Rect{0, 0, 1, 1}, blue);
    EXPECT_LE(MaxChannelDifference(mean.At(0, 0), MakePixel(50, 0, 150)), 1);

    Image tall = RandomImage(10, 10, 1);
    RowResampler partial(10, 10, 10, 10, Rect{0, 0, 10, 10}, blue);
    for (int y = 0; y < 4; ++y) partial.PushRow(y, tall.Row(y));
    EXPECT_FALSE(partial.Done());
    Image result = partial.Take();
    EXPECT_EQ(result.At(3, 3), tall.At(3, 3));
    EXPECT_EQ(result.At(3, 8), blue);

    // A crop outside the target makes nothing and is done at once.
    for (Rect outside : {Rect{-20, 0, 10, 10}, Rect{0, 3, 0, 5}, Rect{2, 2, 5, 0}}) {
        RowResampler none(10, 10, 10, 10, outside, blue);
        EXPECT_TRUE(none.Done());
        EXPECT_TRUE(none.Take().Empty());
    }

    EXPECT_THROW(RowResampler(0, 10, 10, 10, Rect{0, 0, 10, 10}, blue), nimbrel::Error);
    EXPECT_THROW(RowResampler(10, 10, 10, -1, Rect{0, 0, 10, 10}, blue), nimbrel::Error);
}

TEST(RowResampler, WritesIntoTheCallersRowsWhatItWouldTakeOtherwise) {
    // Into a larger picture at an offset, alpha cleared: scaled, same size (opaque and partly
    // transparent), and a source that ends early.
    const Pixel blue = MakePixel(0, 0, 200), marker = MakePixel(1, 2, 3, 4);
    const Image opaque = RandomImage(50, 40, 11), seeThrough = RandomImage(50, 40, 12, false);
    struct Case {
        const Image* source;
        int w, h, rows;
    };
    for (const Case& c : {Case{&opaque, 23, 17, 40}, Case{&opaque, 50, 40, 40}, Case{&seeThrough, 50, 40, 40},
                          Case{&seeThrough, 31, 27, 40}, Case{&opaque, 23, 17, 20}}) {
        const Rect crop{3, 2, c.w - 5, c.h - 4};
        RowResampler own(50, 40, c.w, c.h, crop, blue);
        RowResampler into(50, 40, c.w, c.h, crop, blue);
        Image canvas(60, 50, marker);
        into.WriteInto(canvas.Row(4) + 6, 60, 0x00FFFFFFu);
        for (int y = 0; y < c.rows; ++y) {
            own.PushRow(y, c.source->Row(y));
            into.PushRow(y, c.source->Row(y));
        }
        EXPECT_TRUE(into.Take().Empty());
        const Image expected = own.Take();
        int produced = 0;
        for (int y = 0; y < crop.height; ++y) {
            bool written = canvas.At(6, 4 + y) != marker;
            produced += written ? 1 : 0;
            for (int x = 0; x < crop.width && written; ++x)
                ASSERT_EQ(canvas.At(6 + x, 4 + y), expected.At(x, y) & 0x00FFFFFFu) << x << "," << y;
        }
        EXPECT_EQ(produced == crop.height, c.rows == 40) << "rows never produced are left as they were";
        EXPECT_GT(produced, 0);
        // Nothing written outside the crop's place.
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 60; ++x) {
                if (x < 6 || x >= 6 + crop.width || y < 4 || y >= 4 + crop.height) {
                    ASSERT_EQ(canvas.At(x, y), marker) << x << "," << y;
                }
            }
    }
}

TEST(StoredRect, CroppingBeforeTurningEqualsCroppingAfter) {
    Image stored = RandomImage(7, 5, 21);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        Image upright = ApplyOrientation(stored, orientation);
        Rect part{1, 2, upright.Width() - 3, upright.Height() - 2};
        Rect source = StoredRect(part, orientation, stored.Width(), stored.Height());
        EXPECT_EQ(ApplyOrientation(Crop(stored, source), orientation), Crop(upright, part)) << orientation;
    }
}

}  // namespace

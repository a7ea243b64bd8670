#include <gtest/gtest.h>

#include "imaging/image.h"
#include "platform/error.h"

using namespace nimbrel::imaging;

TEST(Image, PixelLayoutIsBgraInMemory) {
    Image img(3, 2, MakePixel(1, 2, 3));
    EXPECT_EQ(img.Stride(), 12);
    const auto* bytes = reinterpret_cast<const unsigned char*>(img.Data());
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[1], 2);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[3], 255);
    img.Set(2, 1, kOpaqueWhite);
    EXPECT_EQ(img.Row(1)[2], kOpaqueWhite);
    EXPECT_THROW(Image(kMaxImageSide + 1, 1), nimbrel::Error);
    EXPECT_THROW(Image(20000, 20000), nimbrel::Error);
}

TEST(Image, BlendEndsAreExact) {
    Pixel a = MakePixel(10, 200, 30, 255), b = MakePixel(250, 0, 99, 128);
    EXPECT_EQ(BlendPixels(a, b, 0), a);
    EXPECT_EQ(BlendPixels(a, b, 256), b);
    Pixel m = BlendPixels(MakePixel(0, 0, 0), MakePixel(200, 100, 50), 128);
    EXPECT_EQ(m, MakePixel(100, 50, 25));
}

TEST(Image, NearestAndBilinearScaling) {
    Image src(2, 2);
    src.Set(0, 0, MakePixel(0, 0, 0));
    src.Set(1, 0, MakePixel(200, 0, 0));
    src.Set(0, 1, MakePixel(0, 200, 0));
    src.Set(1, 1, MakePixel(0, 0, 200));
    Image n = ScaleNearest(src, 4, 4);
    EXPECT_EQ(n.At(0, 0), src.At(0, 0));
    EXPECT_EQ(n.At(1, 1), src.At(0, 0));
    EXPECT_EQ(n.At(2, 0), src.At(1, 0));
    EXPECT_EQ(n.At(3, 3), src.At(1, 1));
    EXPECT_EQ(ScaleNearest(src, 2, 2), src);
    EXPECT_EQ(ScaleBilinear(src, 2, 2), src);

    Image row(2, 1);
    row.Set(0, 0, MakePixel(0, 0, 0));
    row.Set(1, 0, MakePixel(200, 200, 200));
    Image b = ScaleBilinear(row, 4, 1);
    // Output centres at source 0, 0.25, 0.75, 1 (clamped): 0, 50, 150, 200.
    EXPECT_EQ(RedOf(b.At(0, 0)), 0);
    EXPECT_EQ(RedOf(b.At(1, 0)), 50);
    EXPECT_EQ(RedOf(b.At(2, 0)), 150);
    EXPECT_EQ(RedOf(b.At(3, 0)), 200);
    Image down = ScaleBilinear(Image(100, 50, kOpaqueWhite), 7, 3);
    EXPECT_EQ(down, Image(7, 3, kOpaqueWhite));
    EXPECT_TRUE(ScaleNearest(src, 0, 5).Empty());
}

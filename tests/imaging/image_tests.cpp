#include <gtest/gtest.h>

#include <vector>

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
    // The rows' blends (several pixels at a time) give BlendPixels' pixels, at every weight and
    // for rows of any length.
    std::vector<Pixel> x(23), y(23), out(23), with(23);
    std::uint32_t s = 7;
    for (int round = 0; round < 40; ++round) {
        for (std::size_t i = 0; i < x.size(); ++i) {
            s = s * 1664525u + 1013904223u;
            x[i] = s;
            s = s * 1664525u + 1013904223u;
            y[i] = round % 4 == 0 ? 0xFFFFFFFFu : s;
        }
        for (std::uint32_t w : {0u, 1u, 127u, 128u, 255u, 256u, 97u + static_cast<std::uint32_t>(round)}) {
            const int count = 1 + round % 23;
            BlendRow(x.data(), y.data(), w, out.data(), count);
            BlendRowWith(x.data(), y[0], w, with.data(), count);
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(out[i], BlendPixels(x[i], y[i], w)) << w << " " << i;
                ASSERT_EQ(with[i], BlendPixels(x[i], y[0], w)) << w << " " << i;
            }
        }
    }
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

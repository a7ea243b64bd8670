#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <jpeglib.h>

#include "codecs/jpeg_idct.h"
#include "test_pictures.h"

using namespace nimbrel::codecs::detail;

namespace {

// The N x N block of 8x8 coefficients in double precision, rounded and limited to 0..255.
int Reference(const JCOEF* block, const float* quant, int size, int y, int x) {
    const double pi = std::acos(-1.0);
    double sum = 128;
    for (int v = 0; v < std::min(size, 8); ++v)
        for (int u = 0; u < std::min(size, 8); ++u) {
            const double av = v == 0 ? 1 / (2 * std::sqrt(2.0)) : 0.5, au = u == 0 ? 1 / (2 * std::sqrt(2.0)) : 0.5;
            sum += av * au * block[v * 8 + u] * quant[v * 8 + u] * std::cos((2 * y + 1) * v * pi / (2 * size)) *
                   std::cos((2 * x + 1) * u * pi / (2 * size));
        }
    return static_cast<int>(std::lround(std::clamp(sum, 0.0, 255.0)));
}

// Pixels to compress: noise over a slope, so that every coefficient has something to carry.
nimbrel::imaging::Image Noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    nimbrel::imaging::Image picture(width, height);
    auto level = [&](int i) {
        return static_cast<std::uint8_t>(std::clamp<int>(i % 251 + static_cast<int>(random() % 97) - 48, 0, 255));
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int i = 3 * (y * width + x);
            picture.Row(y)[x] = nimbrel::imaging::MakePixel(level(i), level(i + 1), level(i + 2));
        }
    return picture;
}

// The picture decoded at scale/8 by libjpeg, its transforms taken over or not; `taken` is how
// many components were.
std::vector<JSAMPLE> Decompress(const std::vector<unsigned char>& jpeg, int scale, bool takeOver, int& taken) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = static_cast<unsigned>(scale);
    cinfo.scale_denom = 8;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    ScaledIdct idct;
    taken = takeOver ? idct.TakeOver(cinfo) : 0;
    const std::size_t stride = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components;
    std::vector<JSAMPLE> pixels(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

}  // namespace

// Blocks with coefficients up to beyond what 8-bit pictures hold (so that outputs saturate),
// one to eight at a time, each written to its own rows and column and nowhere else.
TEST(ScaledIdct, EveryHandledSizeIsTheCosineSumWhicheverVectorsDoIt) {
    std::mt19937 random(7);
    float quant[64];
    for (float& q : quant) q = static_cast<float>(1 + random() % 40);
    for (int size : {5, 6, 7, 10, 12, 14}) {
        for (int count : {1, 3, 8}) {
            JCOEF blocks[ScaledIdct::kBatch][64];
            for (auto& block : blocks)
                for (int k = 0; k < 64; ++k) {
                    const int spread = k == 0 ? 1000 : 300 / (1 + k / 8 + k % 8);
                    block[k] = static_cast<JCOEF>(static_cast<int>(random() % (2 * spread + 1)) - spread);
                }
            if (count == 8) blocks[7][0] = 2047, blocks[6][0] = -2048;  // far beyond white and black
            // Each block's rows in a picture of its own, with room around it that must stay as it is.
            constexpr int kWidth = 40;
            std::vector<std::vector<JSAMPLE>> pictures[2];
            std::vector<std::vector<JSAMPROW>> rowPointers[2];
            for (int wide = 0; wide < 2; ++wide) {
                std::vector<JSAMPARRAY> rows;
                std::vector<JDIMENSION> columns;
                pictures[wide].assign(count, std::vector<JSAMPLE>(kWidth * (size + 2), 0xA5));
                rowPointers[wide].resize(count);
                for (int b = 0; b < count; ++b) {
                    for (int y = 0; y < size; ++y)
                        rowPointers[wide][b].push_back(pictures[wide][b].data() + (y + 1) * kWidth);
                    rows.push_back(rowPointers[wide][b].data());
                    columns.push_back(static_cast<JDIMENSION>(3 + b));
                }
                ASSERT_TRUE(ScaledInverseDct(size, blocks, count, quant, rows.data(), columns.data(), wide == 1));
            }
            for (int b = 0; b < count; ++b) {
                const std::vector<JSAMPLE>& picture = pictures[0][b];
                EXPECT_EQ(picture, pictures[1][b]) << "size " << size << ", block " << b;
                int most = 0;
                for (int row = 0; row < size + 2; ++row)
                    for (int x = 0; x < kWidth; ++x) {
                        const int y = row - 1, column = x - 3 - b;
                        const int got = picture[row * kWidth + x];
                        if (y < 0 || y >= size || column < 0 || column >= size)
                            ASSERT_EQ(got, 0xA5) << "size " << size << " wrote outside its block at " << x << "," << row;
                        else
                            most = std::max(most, std::abs(got - Reference(blocks[b], quant, size, y, column)));
                    }
                EXPECT_LE(most, 1) << "size " << size << ", block " << b << " of " << count;
            }
        }
    }
    EXPECT_FALSE(ScaledInverseDct(8, nullptr, 1, quant, nullptr, nullptr, false)) << "8x8 is libjpeg's own";
}

// Taken over inside libjpeg, the transforms give the picture libjpeg's own give (to the rounding
// of a level or two): sequential and progressive files, 4:2:0 and 4:4:4 chroma and grey, sizes that
// end inside a block, at each scale that uses them.
TEST(ScaledIdct, DecodesWhatLibjpegDecodesWhenItTakesOver) {
    struct Case {
        int width, height;
        bool gray;
        int chromaStep;
        bool progressive;
    };
    for (const Case& c : {Case{333, 211, false, 2, false}, Case{64, 48, false, 1, false},
                          Case{171, 97, false, 2, true}, Case{99, 131, true, 1, false}}) {
        const std::vector<unsigned char> jpeg = nimbrel::codecs::testing::MakeJpeg(
            Noise(c.width, c.height, 11),
            {.quality = 95, .gray = c.gray, .chromaStep = c.chromaStep, .progressive = c.progressive});
        for (int scale : {5, 6, 7}) {
            int taken = 0, none = 0;
            const std::vector<JSAMPLE> own = Decompress(jpeg, scale, false, none);
            const std::vector<JSAMPLE> ours = Decompress(jpeg, scale, true, taken);
            EXPECT_EQ(taken, c.gray ? 1 : 3) << c.width << "x" << c.height << " at " << scale << "/8";
            ASSERT_EQ(own.size(), ours.size());
            int most = 0;
            double total = 0;
            for (std::size_t i = 0; i < own.size(); ++i) {
                const int d = std::abs(static_cast<int>(own[i]) - static_cast<int>(ours[i]));
                most = std::max(most, d);
                total += d;
            }
            EXPECT_LE(most, 3) << c.width << "x" << c.height << " at " << scale << "/8";
            EXPECT_LT(total / static_cast<double>(own.size()), 0.4) << c.width << "x" << c.height << " at " << scale << "/8";
        }
    }
}

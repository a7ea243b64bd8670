#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/exif.h"

using namespace nimbrel::imaging;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The start of a JPEG: SOI, optionally an APP0, then an APP1 Exif block whose IFD0 holds
// `entries` (tag, type, value) in the given byte order; then the start of scan.
Bytes MakeJpeg(bool bigEndian, const std::vector<std::array<unsigned, 3>>& entries, bool withApp0 = true) {
    Bytes tiff;
    auto u16 = [&](unsigned v) {
        if (bigEndian) {
            tiff.push_back(static_cast<std::uint8_t>(v >> 8));
            tiff.push_back(static_cast<std::uint8_t>(v));
        } else {
            tiff.push_back(static_cast<std::uint8_t>(v));
            tiff.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    };
    auto u32 = [&](unsigned v) {
        if (bigEndian) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF);
            u16(v >> 16);
        }
    };
    tiff.push_back(bigEndian ? 'M' : 'I');
    tiff.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    u16(static_cast<unsigned>(entries.size()));
    for (const auto& [tag, type, value] : entries) {
        u16(tag);
        u16(type);
        u32(1);
        if (type == 3) {
            u16(value);
            u16(0);
        } else {
            u32(value);
        }
    }
    u32(0);
    Bytes jpeg = {0xFF, 0xD8};
    if (withApp0) {
        Bytes app0 = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
        jpeg.insert(jpeg.end(), app0.begin(), app0.end());
    }
    const std::size_t length = 2 + 6 + tiff.size();
    Bytes app1 = {0xFF,
                  0xE1,
                  static_cast<std::uint8_t>(length >> 8),
                  static_cast<std::uint8_t>(length),
                  'E',
                  'x',
                  'i',
                  'f',
                  0,
                  0};
    jpeg.insert(jpeg.end(), app1.begin(), app1.end());
    jpeg.insert(jpeg.end(), tiff.begin(), tiff.end());
    Bytes sos = {0xFF, 0xDA, 0, 2};
    jpeg.insert(jpeg.end(), sos.begin(), sos.end());
    return jpeg;
}

int Read(const Bytes& b) {
    return ReadExifOrientation(b.data(), b.size());
}

}  // namespace

TEST(Exif, ReadsOrientationInBothByteOrders) {
    for (unsigned o = 1; o <= 8; ++o) {
        EXPECT_EQ(Read(MakeJpeg(false, {{0x010F, 2, 0}, {0x0112, 3, o}})), static_cast<int>(o));
        EXPECT_EQ(Read(MakeJpeg(true, {{0x0112, 3, o}, {0x0131, 2, 0}}, false)), static_cast<int>(o));
    }
    EXPECT_EQ(Read(MakeJpeg(true, {{0x0112, 4, 6}})), 6);  // stored as LONG by some writers
}

TEST(Exif, MissingOrMalformedGivesOne) {
    EXPECT_EQ(Read(MakeJpeg(false, {{0x010F, 2, 0}})), 1);  // no orientation tag
    EXPECT_EQ(Read(MakeJpeg(false, {{0x0112, 3, 9}})), 1);  // out of range
    EXPECT_EQ(Read(MakeJpeg(false, {{0x0112, 3, 0}})), 1);
    EXPECT_EQ(Read(MakeJpeg(false, {{0x0112, 5, 6}})), 1);  // wrong type
    EXPECT_EQ(Read({0x89, 'P', 'N', 'G'}), 1);              // not a JPEG
    EXPECT_EQ(ReadExifOrientation(nullptr, 0), 1);

    const Bytes good = MakeJpeg(false, {{0x0112, 3, 6}});
    ASSERT_EQ(Read(good), 6);
    // Every truncation is read safely; cut inside the block, the tag is not found.
    for (std::size_t n = 0; n < good.size() - 4; ++n)
        EXPECT_EQ(Read(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))), 1) << n;

    // Offsets below: SOI 0-1, APP0 2-19, APP1 marker 20-23, "Exif" 24-29, TIFF header from 30.
    Bytes bad = good;
    bad[35] = 0xFF;  // IFD0 offset far outside the block
    EXPECT_EQ(Read(bad), 1);
    bad = MakeJpeg(false, {{0x010F, 2, 0}});
    bad[38] = 0xFF;  // entry count far beyond the block
    bad[39] = 0xFF;
    EXPECT_EQ(Read(bad), 1);
    bad = good;
    bad[30] = 'X';  // broken byte-order mark
    EXPECT_EQ(Read(bad), 1);
    bad = good;
    bad[4] = 0xFF;  // segment length running past the end
    bad[5] = 0xFF;
    EXPECT_EQ(Read(bad), 1);
    bad = good;
    bad[4] = 0;  // segment length below 2
    bad[5] = 1;
    EXPECT_EQ(Read(bad), 1);
    // An Exif block after the start of scan is image data, not metadata.
    Bytes late = {0xFF, 0xD8, 0xFF, 0xDA, 0, 2};
    late.insert(late.end(), good.begin() + 2, good.end());
    EXPECT_EQ(Read(late), 1);
}

TEST(Exif, EachOrientationPutsTheStoredFirstRowAndColumnWhereTheTagSays) {
    // Stored picture 3 x 2 with distinct pixels: stored(x, y) = x + 10 y.
    Image stored(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) stored.Set(x, y, static_cast<Pixel>(x + 10 * y));
    // The tag names where the stored 0th row and 0th column lie in the upright picture.
    enum Side { Top, Bottom, Left, Right };
    const Side rowSide[9] = {Top, Top, Top, Bottom, Bottom, Left, Right, Right, Left};
    const Side colSide[9] = {Left, Left, Right, Right, Left, Top, Top, Bottom, Bottom};
    for (int o = 1; o <= 8; ++o) {
        Image up = ApplyOrientation(stored, o);
        const bool swapped = o >= 5;
        ASSERT_EQ(up.Width(), swapped ? 2 : 3) << o;
        ASSERT_EQ(up.Height(), swapped ? 3 : 2) << o;
        const int cornerX = (rowSide[o] == Right || colSide[o] == Right) ? up.Width() - 1 : 0;
        const int cornerY = (rowSide[o] == Bottom || colSide[o] == Bottom) ? up.Height() - 1 : 0;
        EXPECT_EQ(up.At(cornerX, cornerY), 0u) << o;  // stored (0, 0)
        // The stored row 0 runs along its side, away from the column side.
        const bool rowAlongX = rowSide[o] == Top || rowSide[o] == Bottom;
        const int stepX = rowAlongX ? (cornerX == 0 ? 1 : -1) : 0;
        const int stepY = rowAlongX ? 0 : (cornerY == 0 ? 1 : -1);
        EXPECT_EQ(up.At(cornerX + stepX, cornerY + stepY), 1u) << o;
        EXPECT_EQ(up.At(cornerX + 2 * stepX, cornerY + 2 * stepY), 2u) << o;
    }
    EXPECT_EQ(ApplyOrientation(stored, 0), stored);
    EXPECT_EQ(ApplyOrientation(stored, 9), stored);
    EXPECT_EQ(ApplyOrientation(ApplyOrientation(stored, 6), 8), stored);
}

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/decoders.h"
#include "platform/error.h"

using namespace nimbrel::imaging;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A tiny PCX writer: header, then every scan line (all planes) RLE-encoded line by line.
struct PcxSpec {
    int width = 0, height = 0, bits = 8, planes = 1, bytesPerLine = 0;
    bool rle = true;
};

void PutWord(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void EncodeRle(Bytes& out, const Bytes& line) {
    for (std::size_t i = 0; i < line.size();) {
        std::size_t run = 1;
        while (i + run < line.size() && line[i + run] == line[i] && run < 63) ++run;
        if (run > 1 || line[i] >= 0xC0) {
            out.push_back(static_cast<std::uint8_t>(0xC0 | run));
        }
        out.push_back(line[i]);
        i += run;
    }
}

Bytes MakePcx(const PcxSpec& s, const std::vector<Bytes>& lines, const Bytes& headerPalette = {}) {
    Bytes b(128, 0);
    b[0] = 0x0A;
    b[1] = 5;
    b[2] = s.rle ? 1 : 0;
    b[3] = static_cast<std::uint8_t>(s.bits);
    PutWord(b, 4, 10);  // xMin, yMin not zero: only the difference counts
    PutWord(b, 6, 20);
    PutWord(b, 8, 10 + s.width - 1);
    PutWord(b, 10, 20 + s.height - 1);
    for (std::size_t i = 0; i < headerPalette.size() && i < 48; ++i) b[16 + i] = headerPalette[i];
    b[65] = static_cast<std::uint8_t>(s.planes);
    PutWord(b, 66, s.bytesPerLine);
    for (const Bytes& line : lines) {
        if (s.rle) {
            EncodeRle(b, line);
        } else {
            b.insert(b.end(), line.begin(), line.end());
        }
    }
    return b;
}

Image Pcx(const Bytes& b) {
    return DecodePcx(b.data(), b.size());
}
Image Wbmp(const Bytes& b) {
    return DecodeWbmp(b.data(), b.size());
}

}  // namespace

TEST(Pcx, EightBitWithPaletteAtTheEndAndOddLinePadding) {
    // 3 pixels wide, 4 bytes a line (the padding byte is ignored).
    PcxSpec s{3, 2, 8, 1, 4};
    Bytes file = MakePcx(s, {{0, 1, 1, 9}, {2, 0xC5, 0xC5, 0}});
    file.push_back(0x0C);
    Bytes pal(768, 0);
    auto setPal = [&](int i, int r, int g, int bl) {
        pal[3 * i] = static_cast<std::uint8_t>(r);
        pal[3 * i + 1] = static_cast<std::uint8_t>(g);
        pal[3 * i + 2] = static_cast<std::uint8_t>(bl);
    };
    setPal(0, 10, 20, 30);
    setPal(1, 255, 0, 0);
    setPal(2, 0, 255, 0);
    setPal(0xC5, 1, 2, 3);
    file.insert(file.end(), pal.begin(), pal.end());
    Image img = Pcx(file);
    ASSERT_EQ(img.Width(), 3);
    ASSERT_EQ(img.Height(), 2);
    EXPECT_EQ(img.At(0, 0), MakePixel(10, 20, 30));
    EXPECT_EQ(img.At(1, 0), MakePixel(255, 0, 0));
    EXPECT_EQ(img.At(2, 0), MakePixel(255, 0, 0));
    EXPECT_EQ(img.At(0, 1), MakePixel(0, 255, 0));
    EXPECT_EQ(img.At(1, 1), MakePixel(1, 2, 3));  // a literal >= 0xC0 travels as a run of 1
    EXPECT_EQ(img.At(2, 1), MakePixel(1, 2, 3));
}

TEST(Pcx, EightBitWithoutPaletteIsGrey) {
    PcxSpec s{2, 1, 8, 1, 2};
    Image img = Pcx(MakePcx(s, {{7, 200}}));
    EXPECT_EQ(img.At(0, 0), MakePixel(7, 7, 7));
    EXPECT_EQ(img.At(1, 0), MakePixel(200, 200, 200));
}

TEST(Pcx, TwentyFourBitAsThreePlanes) {
    PcxSpec s{2, 2, 8, 3, 2};
    // Each line: the red plane, then green, then blue.
    Image img = Pcx(MakePcx(s, {{1, 2, 3, 4, 5, 6}, {9, 9, 9, 9, 0, 255}}));
    EXPECT_EQ(img.At(0, 0), MakePixel(1, 3, 5));
    EXPECT_EQ(img.At(1, 0), MakePixel(2, 4, 6));
    EXPECT_EQ(img.At(0, 1), MakePixel(9, 9, 0));
    EXPECT_EQ(img.At(1, 1), MakePixel(9, 9, 255));
    // The same picture stored without compression.
    s.rle = false;
    EXPECT_EQ(Pcx(MakePcx(s, {{1, 2, 3, 4, 5, 6}, {9, 9, 9, 9, 0, 255}})), img);
}

TEST(Pcx, RunsMayCrossScanLines) {
    PcxSpec s{4, 2, 8, 1, 4};
    Bytes file = MakePcx(s, {});
    file.push_back(0xC8);  // one run of 8 covers both lines
    file.push_back(77);
    Image img = Pcx(file);
    EXPECT_EQ(img.At(3, 1), MakePixel(77, 77, 77));
}

TEST(Pcx, MonochromeAndEgaPlanes) {
    PcxSpec mono{10, 1, 1, 1, 2};
    Image m = Pcx(MakePcx(mono, {{0b10100000, 0b01000000}}));
    EXPECT_EQ(m.At(0, 0), kOpaqueWhite);
    EXPECT_EQ(m.At(1, 0), kOpaqueBlack);
    EXPECT_EQ(m.At(2, 0), kOpaqueWhite);
    EXPECT_EQ(m.At(8, 0), kOpaqueBlack);
    EXPECT_EQ(m.At(9, 0), kOpaqueWhite);

    Bytes pal(48, 0);
    for (int i = 0; i < 16; ++i) {
        pal[3 * i] = static_cast<std::uint8_t>(i * 16);
        pal[3 * i + 1] = static_cast<std::uint8_t>(255 - i);
        pal[3 * i + 2] = static_cast<std::uint8_t>(i);
    }
    // 3 pixels, 4 planes of 1 byte: pixel 0 has bits in planes 0 and 2 (index 5), pixel 1 in
    // plane 3 (index 8), pixel 2 in all planes (index 15).
    PcxSpec ega{3, 1, 1, 4, 1};
    Image e = Pcx(MakePcx(ega, {{0b10100000, 0b00100000, 0b10100000, 0b01100000}}, pal));
    EXPECT_EQ(e.At(0, 0), MakePixel(5 * 16, 250, 5));
    EXPECT_EQ(e.At(1, 0), MakePixel(8 * 16, 247, 8));
    EXPECT_EQ(e.At(2, 0), MakePixel(15 * 16, 240, 15));

    PcxSpec packed{3, 1, 4, 1, 2};
    Image p = Pcx(MakePcx(packed, {{0x1F, 0x20}}, pal));
    EXPECT_EQ(p.At(0, 0), MakePixel(16, 254, 1));
    EXPECT_EQ(p.At(1, 0), MakePixel(240, 240, 15));
    EXPECT_EQ(p.At(2, 0), MakePixel(32, 253, 2));
}

TEST(Pcx, HostileInputsRaiseErrors) {
    PcxSpec s{3, 2, 8, 3, 4};
    Bytes good = MakePcx(s, {Bytes(12, 1), Bytes(12, 2)});
    ASSERT_NO_THROW(Pcx(good));
    // Every truncation either decodes less than the whole picture (an error) or fails the header.
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_THROW(Pcx(cut), nimbrel::Error) << n;
    }
    EXPECT_THROW(DecodePcx(nullptr, 0), nimbrel::Error);

    Bytes bad = good;
    bad[0] = 0x0B;  // not a PCX
    EXPECT_THROW(Pcx(bad), nimbrel::Error);
    bad = good;
    PutWord(bad, 8, 5);  // xMax below xMin
    EXPECT_THROW(Pcx(bad), nimbrel::Error);
    bad = good;
    PutWord(bad, 66, 1);  // scan line too short for the width
    EXPECT_THROW(Pcx(bad), nimbrel::Error);
    bad = good;
    bad[3] = 5;  // five bits a pixel
    EXPECT_THROW(Pcx(bad), nimbrel::Error);
    bad = good;
    bad[65] = 7;
    EXPECT_THROW(Pcx(bad), nimbrel::Error);

    // A huge picture in a tiny file is refused before anything is allocated.
    bad = good;
    PutWord(bad, 4, 0);
    PutWord(bad, 6, 0);
    PutWord(bad, 8, 0xFFFF);
    PutWord(bad, 10, 0xFFFF);
    EXPECT_THROW(Pcx(bad), nimbrel::Error);
    PutWord(bad, 8, 30000);
    PutWord(bad, 10, 30000);
    PutWord(bad, 66, 30000);
    EXPECT_THROW(Pcx(bad), nimbrel::Error);
    try {
        Pcx(bad);
    } catch (const nimbrel::Error& e) {
        EXPECT_STRNE(e.what(), "");
    }
}

TEST(Wbmp, DecodesPixelsAndMultiByteSizes) {
    // 10 x 2: rows of 2 bytes, 1 is white.
    Bytes b = {0, 0, 10, 2, 0b10000000, 0b01000000, 0b11111111, 0b11000000};
    Image img = Wbmp(b);
    ASSERT_EQ(img.Width(), 10);
    ASSERT_EQ(img.Height(), 2);
    EXPECT_EQ(img.At(0, 0), kOpaqueWhite);
    EXPECT_EQ(img.At(1, 0), kOpaqueBlack);
    EXPECT_EQ(img.At(9, 0), kOpaqueWhite);
    EXPECT_EQ(img.At(8, 0), kOpaqueBlack);
    EXPECT_EQ(img.At(9, 1), kOpaqueWhite);

    // Width 200 = 0x81 0x48 in the multi-byte form, height 1.
    Bytes wide = {0, 0, 0x81, 0x48, 1};
    wide.resize(wide.size() + 25, 0);
    wide.back() = 0x01;
    Image w = Wbmp(wide);
    EXPECT_EQ(w.Width(), 200);
    EXPECT_EQ(w.At(199, 0), kOpaqueWhite);
    EXPECT_EQ(w.At(198, 0), kOpaqueBlack);
}

TEST(Wbmp, HostileInputsRaiseErrors) {
    Bytes good = {0, 0, 10, 2, 1, 2, 3, 4};
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_THROW(Wbmp(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n))),
                     nimbrel::Error);
    EXPECT_THROW(Wbmp({1, 0, 1, 1, 0}), nimbrel::Error);                                // type 1
    EXPECT_THROW(Wbmp({0, 0x80, 1, 1, 0}), nimbrel::Error);                             // extension headers
    EXPECT_THROW(Wbmp({0, 0, 0, 1, 0}), nimbrel::Error);                                // zero width
    EXPECT_THROW(Wbmp({0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1}), nimbrel::Error);  // endless size
    EXPECT_THROW(Wbmp({0, 0, 0x82, 0x80, 0x01, 0x82, 0x80, 0x01, 0}), nimbrel::Error);  // 32769 wide
    EXPECT_THROW(Wbmp({0, 0, 0x81, 0x80, 0x00, 0x81, 0x80, 0x00, 0}), nimbrel::Error);  // no pixel data
}

namespace {

// A Targa file: the 18-byte header, an optional palette (24-bit entries), the pixel bytes and,
// when asked, the TGA 2.0 footer.
Bytes MakeTga(std::uint8_t type, int width, int height, std::uint8_t depth, std::uint8_t descriptor,
              const Bytes& pixels, const Bytes& palette = {}, bool footer = false) {
    Bytes b(18, 0);
    b[0] = 3;  // an image ID of three bytes, skipped
    b[1] = palette.empty() ? 0 : 1;
    b[2] = type;
    PutWord(b, 5, static_cast<unsigned>(palette.size() / 3));
    b[7] = palette.empty() ? 0 : 24;
    PutWord(b, 12, static_cast<unsigned>(width));
    PutWord(b, 14, static_cast<unsigned>(height));
    b[16] = depth;
    b[17] = descriptor;
    b.insert(b.end(), {'i', 'd', '!'});
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    if (footer) {
        const char tail[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
        b.insert(b.end(), tail, tail + sizeof tail);
    }
    return b;
}

}  // namespace

TEST(Tga, PlainTrueColourRowsFromTheBottomOrTheTop) {
    // Stored blue, green, red: the first stored row is the bottom one unless bit 5 says top.
    const Bytes pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
    const Bytes plain = MakeTga(2, 2, 2, 24, 0, pixels);
    Image up = DecodeTga(plain.data(), plain.size());
    EXPECT_EQ(up.At(0, 1), MakePixel(0, 0, 255));
    EXPECT_EQ(up.At(1, 1), MakePixel(0, 255, 0));
    EXPECT_EQ(up.At(0, 0), MakePixel(255, 0, 0));
    EXPECT_EQ(up.At(1, 0), MakePixel(9, 9, 9));
    const Bytes down = MakeTga(2, 2, 2, 24, 0x20, pixels, {}, true);
    Image top = DecodeTga(down.data(), down.size());
    EXPECT_EQ(top.At(0, 0), MakePixel(0, 0, 255));
    EXPECT_EQ(top.At(1, 1), MakePixel(9, 9, 9));

    // 32-bit keeps its alpha; one whose alpha is 0 everywhere is opaque.
    const Bytes alpha = MakeTga(2, 1, 1, 32, 0x28, {1, 2, 3, 128, 4, 5, 6, 0});
    EXPECT_EQ(DecodeTga(alpha.data(), alpha.size()).At(0, 0), MakePixel(3, 2, 1, 128));
    const Bytes unfilled = MakeTga(2, 1, 1, 32, 0, {1, 2, 3, 0, 4, 5, 6, 0});
    EXPECT_EQ(DecodeTga(unfilled.data(), unfilled.size()).At(0, 0), MakePixel(3, 2, 1));
}

TEST(Tga, RunLengthPacketsAcrossRowsMappedAndGrey) {
    // 3x2 top-down: a run of four across the row end, then two raw pixels; with a footer after.
    const Bytes rle = {0x83, 10, 20, 30, 0x01, 1, 2, 3, 4, 5, 6};
    for (bool footer : {false, true}) {
        const Bytes file = MakeTga(10, 3, 2, 24, 0x20, rle, {}, footer);
        Image image = DecodeTga(file.data(), file.size());
        EXPECT_EQ(image.At(2, 0), MakePixel(30, 20, 10));
        EXPECT_EQ(image.At(0, 1), MakePixel(30, 20, 10));
        EXPECT_EQ(image.At(1, 1), MakePixel(3, 2, 1));
        EXPECT_EQ(image.At(2, 1), MakePixel(6, 5, 4));
    }
    // Colour-mapped RLE and greyscale plain, both 2x1.
    const Bytes mapped = MakeTga(9, 2, 1, 8, 0, {0x00, 1, 0x00, 0}, {0, 0, 255, 0, 255, 0});
    Image m = DecodeTga(mapped.data(), mapped.size());
    EXPECT_EQ(m.At(0, 0), MakePixel(0, 255, 0));
    EXPECT_EQ(m.At(1, 0), MakePixel(255, 0, 0));
    const Bytes grey = MakeTga(3, 2, 1, 8, 0x10, {40, 80});  // right to left
    EXPECT_EQ(DecodeTga(grey.data(), grey.size()).At(0, 0), MakePixel(80, 80, 80));
}

TEST(Tga, HostileInputsRaiseErrors) {
    auto fails = [](const Bytes& b) {
        EXPECT_THROW(DecodeTga(b.data(), b.size()), nimbrel::Error);
    };
    fails({});
    fails(MakeTga(2, 2, 2, 24, 0, Bytes(11, 0)));               // one byte short
    fails(MakeTga(2, 0, 2, 24, 0, {}));                         // no width
    fails(MakeTga(4, 1, 1, 24, 0, {1, 2, 3}));                  // no such type
    fails(MakeTga(2, 1, 1, 12, 0, {1, 2}));                     // no such depth
    fails(MakeTga(10, 4, 4, 24, 0, {0x8E, 1, 2, 3}));           // runs end early
    fails(MakeTga(9, 1, 1, 8, 0, {0x00, 7}, {0, 0, 0}));        // index beyond the palette
    // 65535 x 65535 from a few bytes of RLE: refused before anything is allocated.
    fails(MakeTga(10, 65535, 65535, 24, 0, {0xFF, 1, 2, 3}));
    // A raw packet that runs into the footer.
    fails(MakeTga(10, 3, 1, 24, 0, {0x02, 1, 2, 3}, {}, true));
}

#include <gtest/gtest.h>

#include <string>

#include "simple_decoders.h"
#include "transition.h"

namespace nimbrel::player {
namespace {

std::string PcxHeader(int width, int height, int bits, int planes, int lineBytes) {
    std::string h(128, '\0');
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = static_cast<char>(bits);
    h[8] = static_cast<char>((width - 1) & 0xFF);
    h[9] = static_cast<char>((width - 1) >> 8);
    h[10] = static_cast<char>((height - 1) & 0xFF);
    h[11] = static_cast<char>((height - 1) >> 8);
    h[65] = static_cast<char>(planes);
    h[66] = static_cast<char>(lineBytes);
    return h;
}

TEST(Pcx, EightBitWithPaletteAndRunLengths) {
    std::string file = PcxHeader(3, 2, 8, 1, 4);
    // Row 0: a run of three 1s and a pad byte; row 1: literal 2, a run of 2 with a byte above 0xC0.
    file += std::string("\xC3\x01\x00", 3);
    file += std::string("\x02\xC2\xC5\x00", 4);
    std::string palette(768, '\0');
    palette[3] = '\x10', palette[4] = '\x20', palette[5] = '\x30';                               // 1
    palette[6] = '\x40', palette[7] = '\x50', palette[8] = '\x60';                               // 2
    palette[0xC5 * 3] = '\x7F', palette[0xC5 * 3 + 1] = '\x00', palette[0xC5 * 3 + 2] = '\x01';  // 0xC5
    file += '\x0C' + palette;
    DecodedPicture p = DecodePcx(file);
    ASSERT_EQ(p.width, 3);
    ASSERT_EQ(p.height, 2);
    EXPECT_EQ(p.pixels[0], 0x102030u);
    EXPECT_EQ(p.pixels[2], 0x102030u);
    EXPECT_EQ(p.pixels[3], 0x405060u);
    EXPECT_EQ(p.pixels[4], 0x7F0001u);
    EXPECT_EQ(p.pixels[5], 0x7F0001u);
}

TEST(Pcx, TrueColourPlanesAndDamagedFiles) {
    std::string file = PcxHeader(2, 1, 8, 3, 2);
    // Red plane (0xFF written as a run of one), green plane, blue plane.
    file += std::string("\xC1\xFF\x01\x80\x02\x00\x03", 7);
    DecodedPicture p = DecodePcx(file);
    ASSERT_EQ(p.width, 2);
    EXPECT_EQ(p.pixels[0], 0xFF8000u);
    EXPECT_EQ(p.pixels[1], 0x010203u);
    EXPECT_TRUE(DecodePcx(file.substr(0, file.size() - 1)).pixels.empty()) << "cut short";
    EXPECT_TRUE(DecodePcx(file.substr(0, 100)).pixels.empty());
    std::string huge = PcxHeader(65535, 65535, 8, 1, 255);
    huge[66] = '\xFF', huge[67] = '\xFF';
    EXPECT_TRUE(DecodePcx(huge + std::string(1000, '\0')).pixels.empty()) << "too large to allocate";
    std::string wrongBits = PcxHeader(2, 1, 2, 1, 2) + std::string(10, '\0');
    EXPECT_TRUE(DecodePcx(wrongBits).pixels.empty());
}

TEST(Pcx, MonochromeAndSixteenColours) {
    std::string mono = PcxHeader(9, 1, 1, 1, 2);
    mono += std::string("\x80\x80", 2);  // pixel 0 and pixel 8 white
    DecodedPicture p = DecodePcx(mono);
    ASSERT_EQ(p.width, 9);
    EXPECT_EQ(p.pixels[0], 0xFFFFFFu);
    EXPECT_EQ(p.pixels[1], 0u);
    EXPECT_EQ(p.pixels[8], 0xFFFFFFu);

    std::string ega = PcxHeader(1, 1, 1, 4, 1);
    ega[16 + 5 * 3] = '\x11', ega[17 + 5 * 3] = '\x22', ega[18 + 5 * 3] = '\x33';
    ega += std::string("\x80\x00\x80\x00", 4);  // planes 0 and 2 set: index 5
    DecodedPicture q = DecodePcx(ega);
    ASSERT_EQ(q.width, 1);
    EXPECT_EQ(q.pixels[0], 0x112233u);
}

TEST(Wbmp, BlackAndWhiteRows) {
    std::string file("\x00\x00\x0A\x02", 4);  // type 0, header, 10 x 2
    file += std::string("\x80\x40\xFF\xC0", 4);
    DecodedPicture p = DecodeWbmp(file);
    ASSERT_EQ(p.width, 10);
    ASSERT_EQ(p.height, 2);
    EXPECT_EQ(p.pixels[0], 0xFFFFFFu);
    EXPECT_EQ(p.pixels[1], 0u);
    EXPECT_EQ(p.pixels[9], 0xFFFFFFu);
    EXPECT_EQ(p.pixels[10], 0xFFFFFFu);
    EXPECT_EQ(p.pixels[19], 0xFFFFFFu);
    std::string wide("\x00\x00\x81\x00\x01", 5);  // multi-byte width 128
    wide += std::string(16, '\0');
    EXPECT_EQ(DecodeWbmp(wide).width, 128);
    EXPECT_TRUE(DecodeWbmp(file.substr(0, 7)).pixels.empty()) << "cut short";
    EXPECT_TRUE(DecodeWbmp(std::string("\x01\x00\x02\x02\x00\x00", 6)).pixels.empty()) << "other type";
    EXPECT_TRUE(DecodeWbmp(std::string("\x00\x00\xFF\xFF\xFF\xFF\x7F\x01", 8)).pixels.empty());
    // Both sides huge: their product must not overflow on the way to being refused.
    EXPECT_TRUE(
        DecodeWbmp(std::string("\x00\x00\xEA\x80\x90\x90\x0A\xEA\x80\x90\x90\x0A", 12)).pixels.empty());
}

TEST(Transition, IndexesRandomAndNone) {
    EXPECT_EQ(ResolveTransition(0, 999), 0);
    EXPECT_EQ(ResolveTransition(127, 5), 127);
    EXPECT_EQ(ResolveTransition(128, 130), 2);
    EXPECT_EQ(ResolveTransition(129, 1), -1);
    EXPECT_EQ(ResolveTransition(-1, 1), -1);
    EXPECT_EQ(ResolveTransition(500, 1), -1);
}

TEST(Transition, EveryEffectStartsAtTheOldAndEndsAtTheNewPicture) {
    const int w = 8, h = 6;
    std::vector<std::uint32_t> from(w * h, 0x000000FF), to(w * h, 0x00FF0000), out(w * h);
    for (int effect = 0; effect < kTransitionCount; ++effect) {
        RenderTransition(effect, from.data(), to.data(), out.data(), w, h, 0.0);
        EXPECT_EQ(out, from) << effect;
        RenderTransition(effect, from.data(), to.data(), out.data(), w, h, 1.0);
        EXPECT_EQ(out, to) << effect;
        RenderTransition(effect, from.data(), to.data(), out.data(), w, h, 0.5);
        EXPECT_NE(out, from) << effect;
        EXPECT_NE(out, to) << effect;
    }
}

}  // namespace
}  // namespace nimbrel::player

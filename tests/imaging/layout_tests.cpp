#include <gtest/gtest.h>

#include "imaging/layout.h"

using namespace nimbrel::imaging;

namespace {
LayoutOptions Opt(bool center, bool autoSize, bool stretch, bool keepAspect) {
    return {center, autoSize, stretch, keepAspect};
}
}  // namespace

TEST(Layout, NaturalSizeCentredOrTopLeft) {
    EXPECT_EQ(LayoutPicture(800, 600, 200, 100, Opt(true, false, false, false)), (Rect{300, 250, 200, 100}));
    EXPECT_EQ(LayoutPicture(800, 600, 200, 100, Opt(false, false, false, false)), (Rect{0, 0, 200, 100}));
    // A larger picture keeps its size: centred it shows its middle.
    EXPECT_EQ(LayoutPicture(800, 600, 1000, 601, Opt(true, false, false, false)),
              (Rect{-100, -1, 1000, 601}));
    // KeepAspect alone changes nothing.
    EXPECT_EQ(LayoutPicture(800, 600, 1000, 601, Opt(false, false, false, true)), (Rect{0, 0, 1000, 601}));
}

TEST(Layout, AutoSizeShrinksOnlyLargerPictures) {
    // Fits: untouched, with or without KeepAspect.
    for (bool keep : {false, true})
        EXPECT_EQ(LayoutPicture(800, 600, 200, 100, Opt(true, true, false, keep)),
                  (Rect{300, 250, 200, 100}));
    // 1600 x 600 on 800 x 600: only the width is too large.
    EXPECT_EQ(LayoutPicture(800, 600, 1600, 600, Opt(true, true, false, true)), (Rect{0, 150, 800, 300}));
    EXPECT_EQ(LayoutPicture(800, 600, 1600, 600, Opt(true, true, false, false)), (Rect{0, 0, 800, 600}));
    EXPECT_EQ(LayoutPicture(800, 600, 1600, 300, Opt(false, true, false, false)), (Rect{0, 0, 800, 300}));
    // A tall picture: the height decides.
    EXPECT_EQ(LayoutPicture(800, 600, 300, 1200, Opt(true, true, false, true)), (Rect{325, 0, 150, 600}));
    // A sliver keeps at least one pixel.
    EXPECT_EQ(LayoutPicture(800, 600, 10000, 1, Opt(false, true, false, true)), (Rect{0, 0, 800, 1}));
}

TEST(Layout, StretchScalesEveryPictureToTheScreen) {
    for (bool autoSize : {false, true}) {
        EXPECT_EQ(LayoutPicture(800, 600, 200, 100, Opt(true, autoSize, true, false)),
                  (Rect{0, 0, 800, 600}));
        EXPECT_EQ(LayoutPicture(800, 600, 200, 100, Opt(true, autoSize, true, true)),
                  (Rect{0, 100, 800, 400}));
        EXPECT_EQ(LayoutPicture(800, 600, 200, 100, Opt(false, autoSize, true, true)),
                  (Rect{0, 0, 800, 400}));
        EXPECT_EQ(LayoutPicture(800, 600, 3000, 3000, Opt(true, autoSize, true, true)),
                  (Rect{100, 0, 600, 600}));
    }
    // Rounded to the nearest pixel: 1024 x 768 from 333 x 100 is 1024 x 307.5 -> 308.
    EXPECT_EQ(LayoutPicture(1024, 768, 333, 100, Opt(false, false, true, true)).height, 308);
    EXPECT_EQ(LayoutPicture(1024, 768, 0, 100, Opt(true, false, true, true)), Rect{});
}

TEST(Layout, ShowSpeedAndBackground) {
    EXPECT_EQ(ShowDurationMs(10), 10000);
    EXPECT_EQ(ShowDurationMs(1), 1000);
    EXPECT_EQ(ShowDurationMs(240), 240000);
    EXPECT_EQ(ShowDurationMs(0), 1000);
    EXPECT_EQ(ShowDurationMs(-5), 1000);
    EXPECT_EQ(ShowDurationMs(500), 240000);
    EXPECT_EQ(BackgroundPixel(255), MakePixel(255, 0, 0));
    EXPECT_EQ(BackgroundPixel(0x00336699), MakePixel(0x99, 0x66, 0x33));
    EXPECT_EQ(BackgroundPixel(-2147483633), kOpaqueBlack);  // a system colour
}

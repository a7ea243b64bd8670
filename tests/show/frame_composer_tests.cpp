// The slideshow's frames: pictures placed on every monitor of the virtual screen, turned upright,
// scaled or cut off, over the background.
#include <gtest/gtest.h>

#include "imaging/exif.h"
#include "show/frame_composer.h"

namespace nimbrel::show {
namespace {

using imaging::MakePixel;
using imaging::Pixel;

constexpr Pixel kBack = MakePixel(10, 20, 30);

std::uint32_t At(const Frame& frame, int x, int y) {
    return frame.At(x, y);
}

std::uint32_t Rgb(Pixel p) {
    return p & 0x00FFFFFFu;
}

// A picture whose every pixel tells where it came from: red is x, green is y.
imaging::Image Coordinates(int w, int h) {
    imaging::Image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.Set(x, y, MakePixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 200));
    return image;
}

FrameSettings TwoMonitors(imaging::LayoutOptions layout) {
    // A 640 x 480 monitor on the left, an 800 x 600 one on the right 100 pixels higher: the
    // virtual screen is 1440 x 600 with the left monitor at (0, 100).
    FrameSettings settings;
    settings.width = 1440;
    settings.height = 600;
    settings.monitors = {{0, 100, 640, 480}, {640, 0, 800, 600}};
    settings.layout = layout;
    settings.background = kBack;
    return settings;
}

TEST(FrameComposer, EachMonitorShowsThePictureCentredOnItself) {
    auto frame = ComposeImage(Coordinates(100, 50), TwoMonitors({true, false, false, false}));
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->Width(), 1440);
    // Left monitor: (270..370, 100 + 215..265). Right monitor: (640 + 350..450, 275..325).
    EXPECT_EQ(At(*frame, 270, 315), Rgb(MakePixel(0, 0, 200)));
    EXPECT_EQ(At(*frame, 369, 364), Rgb(MakePixel(99, 49, 200)));
    EXPECT_EQ(At(*frame, 990, 275), Rgb(MakePixel(0, 0, 200)));
    EXPECT_EQ(At(*frame, 1089, 324), Rgb(MakePixel(99, 49, 200)));
    for (auto [x, y] : {std::pair{269, 315}, std::pair{370, 315}, std::pair{320, 50}, std::pair{989, 275},
                        std::pair{1090, 300}, std::pair{700, 10}, std::pair{0, 0}})
        EXPECT_EQ(At(*frame, x, y), Rgb(kBack)) << x << "," << y;
}

TEST(FrameComposer, StretchingKeepsProportionsOnMonitorsOfDifferentShapes) {
    imaging::Image flat(200, 100, MakePixel(250, 0, 0));
    auto frame = ComposeImage(flat, TwoMonitors({true, false, true, true}));
    ASSERT_TRUE(frame);
    // Left: 640 x 320 at y 100 + 80..400. Right: 800 x 400 at y 100..500.
    EXPECT_EQ(At(*frame, 0, 180), Rgb(MakePixel(250, 0, 0)));
    EXPECT_EQ(At(*frame, 639, 499), Rgb(MakePixel(250, 0, 0)));
    EXPECT_EQ(At(*frame, 320, 179), Rgb(kBack));
    EXPECT_EQ(At(*frame, 320, 500), Rgb(kBack));
    EXPECT_EQ(At(*frame, 640, 100), Rgb(MakePixel(250, 0, 0)));
    EXPECT_EQ(At(*frame, 1439, 499), Rgb(MakePixel(250, 0, 0)));
    EXPECT_EQ(At(*frame, 1000, 99), Rgb(kBack));
    EXPECT_EQ(At(*frame, 1000, 500), Rgb(kBack));
}

TEST(FrameComposer, ALargerPictureShowsItsMiddleAndOnlyThoseRowsAreRead) {
    FrameSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.monitors = {{0, 0, 64, 48}};
    settings.layout = {true, false, false, false};
    settings.background = kBack;
    const imaging::Image big = Coordinates(200, 150);
    int lowest = 1 << 30, highest = -1;
    RowReader read = [&](int first, int count, Pixel* into) {
        lowest = std::min(lowest, first);
        highest = std::max(highest, first + count);
        std::copy(big.Row(first), big.Row(first) + static_cast<std::size_t>(count) * 200, into);
        return true;
    };
    auto frame = ComposeRows(200, 150, 1, read, settings);
    ASSERT_TRUE(frame);
    // The middle: x 68..132, y 51..99.
    EXPECT_EQ(At(*frame, 0, 0), Rgb(MakePixel(68, 51, 200)));
    EXPECT_EQ(At(*frame, 63, 47), Rgb(MakePixel(131, 98, 200)));
    EXPECT_EQ(lowest, 51);
    EXPECT_EQ(highest, 99);

    // A decoder that fails gives no frame.
    RowReader failing = [](int, int, Pixel*) { return false; };
    EXPECT_EQ(ComposeRows(200, 150, 1, failing, settings), nullptr);
}

TEST(FrameComposer, PhotosAreTurnedUprightByTheirOrientation) {
    FrameSettings settings;
    settings.width = 40;
    settings.height = 40;
    settings.monitors = {{0, 0, 40, 40}};
    settings.layout = {false, false, false, false};  // top left, own size
    settings.background = kBack;
    const imaging::Image stored = Coordinates(30, 10);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        RowReader read = [&](int first, int count, Pixel* into) {
            std::copy(stored.Row(first), stored.Row(first) + static_cast<std::size_t>(count) * 30, into);
            return true;
        };
        auto frame = ComposeRows(30, 10, orientation, read, settings);
        ASSERT_TRUE(frame);
        imaging::Image upright = imaging::ApplyOrientation(stored, orientation);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                bool inside = x < upright.Width() && y < upright.Height();
                ASSERT_EQ(At(*frame, x, y), inside ? Rgb(upright.At(x, y)) : Rgb(kBack))
                    << "orientation " << orientation << " at " << x << "," << y;
            }
    }
}

TEST(FrameComposer, APictureOffEveryMonitorLeavesTheBackground) {
    FrameSettings settings;
    settings.width = 100;
    settings.height = 100;
    settings.monitors = {{0, 0, 100, 100}};
    settings.layout = {true, false, false, false};
    settings.background = kBack;
    auto frame = ComposeImage(imaging::Image(1, 1, MakePixel(1, 2, 3, 0)), settings);  // invisible
    ASSERT_TRUE(frame);
    for (int y = 0; y < frame->Height(); ++y)
        for (int x = 0; x < frame->Width(); ++x) ASSERT_EQ(At(*frame, x, y), Rgb(kBack));
    settings.monitors.clear();  // no monitor at all
    frame = ComposeImage(imaging::Image(5, 5, MakePixel(255, 0, 0)), settings);
    ASSERT_TRUE(frame);
    for (int y = 0; y < frame->Height(); ++y)
        for (int x = 0; x < frame->Width(); ++x) ASSERT_EQ(At(*frame, x, y), Rgb(kBack));
}

}  // namespace
}  // namespace nimbrel::show

// Pan and zoom, and the show over several monitors: the frames the engine gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "imaging/pan_zoom.h"
#include "imaging/wide_vectors.h"
#include "show/picture_sources.h"
#include "show/show.h"

namespace nimbrel::show {
namespace {

using imaging::MakePixel;
using imaging::Pixel;
using imaging::Rect;

constexpr Pixel kBack = MakePixel(10, 20, 30);

// "w h k" in the bytes is a w x h picture with detail everywhere (its blue never below 100, so
// never the background's); k tells pictures apart.
class PatternDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        int w = 0, h = 0, k = 0;
        if (!(in >> w >> h >> k) || w < 1 || h < 1) return nullptr;
        imaging::Image image(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double wave = std::sin(x / 3.0 + k) * std::cos(y / 4.0);
                image.Set(x, y,
                          MakePixel(static_cast<std::uint8_t>(x * 255 / w), static_cast<std::uint8_t>(y * 255 / h),
                                    static_cast<std::uint8_t>(170 + 60 * wave + 10 * k)));
            }
        return std::make_unique<ImageSource>(std::move(image), "pattern");
    }
};

class Pictures : public PictureList {
public:
    explicit Pictures(std::vector<std::string> bytes) : bytes_(std::move(bytes)) {}
    std::size_t Count() const override { return bytes_.size(); }
    std::string Name(std::size_t) const override { return "p.bmp"; }
    std::string Bytes(std::size_t i) const override { return bytes_.at(i); }

private:
    std::vector<std::string> bytes_;
};

project::SlideShowValues Moving(int showSpeed = 5, int transition = 0) {
    project::SlideShowValues v;
    v.center = true;
    v.showSpeed = showSpeed;
    v.transition = transition;
    v.show.motion = true;
    return v;
}

std::unique_ptr<Show> MakeShow(const project::SlideShowValues& values, PatternDecoder& decoder,
                               const Screen& screen, std::vector<std::string> pictures = {"100 60 0", "90 70 1"},
                               std::uint64_t seed = 5) {
    std::vector<std::size_t> order(pictures.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    return std::make_unique<Show>(values, kBack, screen, std::make_shared<Pictures>(std::move(pictures)), order,
                                  decoder, seed);
}

// The mean difference of the channels of two frames, per channel and pixel.
double MeanDifference(const Frame& a, const Frame& b) {
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            for (int shift : {0, 8, 16})
                sum += std::abs(static_cast<int>((a.At(x, y) >> shift) & 255) - static_cast<int>((b.At(x, y) >> shift) & 255));
    return sum / (3.0 * a.Width() * a.Height());
}

// True when exactly the pixels inside `area` differ from the background.
bool CoversExactly(const Frame& frame, const Rect& area) {
    for (int y = 0; y < frame.Height(); ++y)
        for (int x = 0; x < frame.Width(); ++x) {
            const bool inside = x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
            if (inside == ((frame.At(x, y) & 0xFFFFFF) == (kBack & 0xFFFFFF))) return false;
        }
    return true;
}

TEST(PanZoom, TheViewStaysInsideTheRectangleAndGrowsSmoothly) {
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        const imaging::PanZoomPath path = imaging::ChoosePanZoom(seed);
        const double most = std::max(path.zoomFrom, path.zoomTo);
        ASSERT_GE(most, imaging::kMinPanZoom);
        ASSERT_LE(most, imaging::kMaxPanZoom);
        ASSERT_EQ(std::min(path.zoomFrom, path.zoomTo), 1.0);
        imaging::PanZoomView last = path.At(0, 300, 200);
        for (int step = 1; step <= 100; ++step) {
            const imaging::PanZoomView view = path.At(step / 100.0, 300, 200);
            ASSERT_GE(view.left, 0);
            ASSERT_GE(view.top, 0);
            ASSERT_LE(view.left + 300 / view.zoom, 300 + 1e-9);
            ASSERT_LE(view.top + 200 / view.zoom, 200 + 1e-9);
            // No jumps: a hundredth of the time moves the view by well under a pixel or two.
            ASSERT_LT(std::abs(view.left - last.left) + std::abs(view.top - last.top), 2.0) << seed;
            last = view;
        }
    }
    EXPECT_NE(imaging::ChoosePanZoom(1).focusX, imaging::ChoosePanZoom(2).focusX);
}

TEST(Motion, FramesMoveALittleFromFrameToFrameAndALotOverSecondsWithoutUncoveringBackground) {
    PatternDecoder decoder;
    auto show = MakeShow(Moving(), decoder, Screen{160, 90, {}});
    const Rect area{30, 15, 100, 60};  // the first picture, centred
    Frame a, b, far;
    show->Render(1000, a);
    show->Render(1040, b);
    show->Render(4000, far);
    const double little = MeanDifference(a, b), lot = MeanDifference(a, far);
    EXPECT_GT(little, 0.0);
    EXPECT_LT(little, 1.5);
    EXPECT_GT(lot, 5 * little);
    EXPECT_GT(lot, 2.0);
    // Through the picture's time, the change away from it included, it covers what it covered
    // when still and nothing more.
    for (std::int64_t ms : {0, 700, 2500, 4999, 5000}) {
        show->Render(ms, a);
        EXPECT_TRUE(CoversExactly(a, area)) << ms;
    }
    // The first frame is the still picture.
    project::SlideShowValues still = Moving();
    still.show.motion = false;
    PatternDecoder other;
    auto stillShow = MakeShow(still, other, Screen{160, 90, {}});
    stillShow->Render(0, b);
    show->Render(0, a);
    EXPECT_EQ(a, b);
    // Without motion, a picture's frames are all the same.
    stillShow->Render(4000, far);
    EXPECT_EQ(far, b);
}

TEST(Motion, TheSameSeedGivesTheSameFramesAndTheChangeBlendsMovingPictures) {
    PatternDecoder d1, d2, d3;
    auto one = MakeShow(Moving(2, 0), d1, Screen{120, 80, {}});
    auto again = MakeShow(Moving(2, 0), d2, Screen{120, 80, {}});
    auto other = MakeShow(Moving(2, 0), d3, Screen{120, 80, {}}, {"100 60 0", "90 70 1"}, 6);
    Frame a, b, c;
    int differ = 0;
    for (std::int64_t ms : {6400, 300, 1999, 2500, 3100, 5200}) {
        one->Render(ms, a);
        again->Render(ms, b);
        EXPECT_EQ(a, b) << ms;
        other->Render(ms, c);
        differ += !(a == c);
    }
    EXPECT_GE(differ, 4) << "another seed moves the pictures otherwise";
    // Half way through the fade, the frame is the mean of the two moving pictures, not of the
    // still ones: the frames around it move.
    Frame before, after;
    one->Render(2480, before);
    one->Render(2520, after);
    EXPECT_GT(MeanDifference(before, after), 0.0);
}

// A frame over two megapixels is shared out in bands between threads; one whose drawing finds the
// helpers busy draws alone. Either way the pixels are the same, still and through changes of each
// kind (blends, masks, moves, zooms); and so they are with or without the processor's widest
// vectors, on a large frame (stored past the cache) and on a small one of odd width.
TEST(Motion, FramesAreTheSameWhicheverThreadsAndVectorsDrawThem) {
    PatternDecoder decoder;
    project::SlideShowValues values = Moving(2, 0);
    values.stretch = true;
    for (const Screen& screen : {Screen{2200, 1000, {}}, Screen{317, 181, {}}}) {
        const std::string size = std::to_string(screen.width) + " " + std::to_string(screen.height);
        for (int effect : {0, 3, 17, 26, 111, 118}) {
            values.transition = effect;
            auto show = MakeShow(values, decoder, screen, {size + " 0", size + " 1"});
            ASSERT_TRUE(show->Prepare(0));
            ASSERT_TRUE(show->Prepare(1));
            for (std::int64_t ms : {700, 2100, 2300}) {
                const Moment moment = show->Clock().At(ms);
                Frame alone, one, two, narrow;
                ASSERT_TRUE(show->Draw(moment, alone));
                std::thread other([&] { show->Draw(moment, two); });
                show->Draw(moment, one);
                other.join();
                imaging::AllowWideVectors(false);
                show->Draw(moment, narrow);
                imaging::AllowWideVectors(true);
                ASSERT_EQ(one, alone) << effect << " at " << ms;
                ASSERT_EQ(two, alone) << effect << " at " << ms;
                ASSERT_EQ(narrow, alone) << screen.width << " " << effect << " at " << ms;
            }
        }
    }
}

TEST(Monitors, ASpannedPictureRunsAcrossTheSeam) {
    project::SlideShowValues values = Moving();
    values.show.motion = false;
    values.stretch = true;
    values.show.monitors = project::kMonitorsSpan;
    const Screen two{160, 60, {{0, 0, 80, 60}, {80, 0, 80, 60}}};
    PatternDecoder d1, d2;
    auto spanned = MakeShow(values, d1, two, {"160 60 0"});
    values.show.monitors = project::kMonitorsSame;
    auto same = MakeShow(values, d2, two, {"160 60 0"});
    Frame a, b;
    spanned->Render(0, a);
    same->Render(0, b);
    auto seam = [](const Frame& f, int y) {
        return std::abs(static_cast<int>(imaging::RedOf(f.At(79, y))) - static_cast<int>(imaging::RedOf(f.At(80, y))));
    };
    for (int y : {0, 30, 59}) {
        EXPECT_LE(seam(a, y), 3) << "the red ramp goes on across the seam";
        EXPECT_GT(seam(b, y), 200) << "each monitor starts the picture again";
    }
    // With motion the spanned picture moves as one.
    values.show.monitors = project::kMonitorsSpan;
    values.show.motion = true;
    PatternDecoder d3;
    auto moving = MakeShow(values, d3, two, {"160 60 0"});
    moving->Render(3000, a);
    for (int y : {0, 30, 59}) EXPECT_LE(seam(a, y), 3);
}

}  // namespace
}  // namespace nimbrel::show

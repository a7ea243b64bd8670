#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "imaging/row_bands.h"
#include "imaging/transitions.h"
#include "platform/error.h"

using namespace nimbrel::imaging;

namespace {

// Noise that differs at every position, so that any move, mirror or mask shows in a frame.
Image Pattern(int w, int h, std::uint32_t seed) {
    Image img(w, h);
    std::uint32_t s = seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            img.Set(x, y,
                    MakePixel(static_cast<std::uint8_t>(s >> 24), static_cast<std::uint8_t>(s >> 16),
                              static_cast<std::uint8_t>(s >> 8)));
        }
    return img;
}

// Sizes that don't divide evenly by the effects' counts, to catch gaps at the edges.
const int kSizes[][2] = {{64, 48}, {67, 41}, {1, 1}, {3, 7}};

}  // namespace

TEST(Transitions, CatalogueHas128DistinctNames) {
    ASSERT_EQ(TransitionCount(), 128);
    std::set<std::string> names;
    for (int i = 0; i < TransitionCount(); ++i) {
        EXPECT_FALSE(TransitionName(i).empty()) << i;
        names.insert(TransitionName(i));
        EXPECT_FALSE(TransitionFamilyName(TransitionFamilyOf(i)).empty());
    }
    EXPECT_EQ(names.size(), 128u);
    EXPECT_EQ(TransitionName(128), "");
    EXPECT_EQ(TransitionName(-1), "");
}

TEST(Transitions, EveryEffectStartsAtFromAndEndsAtTo) {
    for (const auto& size : kSizes) {
        Image from = Pattern(size[0], size[1], 1), to = Pattern(size[0], size[1], 2);
        Image out;
        for (int i = 0; i < TransitionCount(); ++i) {
            RenderTransition(i, from, to, 0.0, out);
            EXPECT_EQ(out, from) << TransitionName(i) << " " << size[0] << "x" << size[1];
            RenderTransition(i, from, to, 1.0, out);
            EXPECT_EQ(out, to) << TransitionName(i) << " " << size[0] << "x" << size[1];
            RenderTransition(i, from, to, 0.37, out);  // in between: only the size is checked here
            EXPECT_EQ(out.Width(), size[0]);
        }
    }
}

TEST(Transitions, MaskEffectsCoverMoreAsTimeGoesOn) {
    for (const auto& size : kSizes) {
        const int w = size[0], h = size[1];
        Image from = Pattern(w, h, 3), to = Pattern(w, h, 4);
        for (int i = 0; i < TransitionCount(); ++i) {
            if (!TransitionIsMask(i)) continue;
            std::vector<bool> shown(static_cast<std::size_t>(w) * h, false);
            Image out;
            for (int step = 0; step <= 40; ++step) {
                RenderTransition(i, from, to, step / 40.0, out);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const Pixel p = out.At(x, y);
                        ASSERT_TRUE(p == from.At(x, y) || p == to.At(x, y)) << TransitionName(i);
                        const bool isTo = p == to.At(x, y) && p != from.At(x, y);
                        auto cell = shown[static_cast<std::size_t>(y) * w + x];
                        ASSERT_FALSE(cell && !isTo) << TransitionName(i) << " pixel " << x << "," << y
                                                    << " went back at step " << step;
                        cell = isTo;
                    }
            }
        }
    }
}

TEST(Transitions, EffectsAreDistinct) {
    // Half-way, a clock wipe from 12 and a wipe from the right show the same half, so the
    // comparison uses a frame off the middle, where no two effects of the catalogue agree.
    Image from = Pattern(128, 96, 5), to = Pattern(128, 96, 6);
    std::vector<Image> frames(static_cast<std::size_t>(TransitionCount()));
    for (int i = 0; i < TransitionCount(); ++i) {
        RenderTransition(i, from, to, 0.4, frames[static_cast<std::size_t>(i)]);
        EXPECT_NE(frames[static_cast<std::size_t>(i)], from) << TransitionName(i);
        EXPECT_NE(frames[static_cast<std::size_t>(i)], to) << TransitionName(i);
    }
    for (int i = 0; i < TransitionCount(); ++i)
        for (int j = i + 1; j < TransitionCount(); ++j)
            EXPECT_NE(frames[static_cast<std::size_t>(i)], frames[static_cast<std::size_t>(j)])
                << TransitionName(i) << " and " << TransitionName(j);
    // Half-way frames are not all the same either.
    std::set<std::vector<Pixel>> half;
    Image out;
    for (int i = 0; i < TransitionCount(); ++i) {
        RenderTransition(i, from, to, 0.5, out);
        half.insert(std::vector<Pixel>(out.Data(), out.Data() + 128 * 96));
    }
    EXPECT_GT(half.size(), 100u);
}

TEST(Transitions, SpotChecks) {
    Image black(10, 4, kOpaqueBlack), white(10, 4, kOpaqueWhite), out;
    const auto index = [](const std::string& name) {
        for (int i = 0; i < TransitionCount(); ++i)
            if (TransitionName(i) == name) return i;
        return -1;
    };
    RenderTransition(index("Wipe From Left"), black, white, 0.3, out);
    EXPECT_EQ(out.At(2, 0), kOpaqueWhite);
    EXPECT_EQ(out.At(3, 0), kOpaqueBlack);
    RenderTransition(index("Wipe From Right"), black, white, 0.3, out);
    EXPECT_EQ(out.At(7, 3), kOpaqueWhite);
    EXPECT_EQ(out.At(6, 3), kOpaqueBlack);
    RenderTransition(index("Fade"), black, white, 0.5, out);
    EXPECT_EQ(out.At(5, 2), MakePixel(127, 127, 127));  // 255 * 128 / 256, truncated
    RenderTransition(index("Fade Through White"), black, black, 0.5, out);
    EXPECT_EQ(out.At(0, 0), kOpaqueWhite);

    Image from = Pattern(10, 4, 7), to = Pattern(10, 4, 8);
    RenderTransition(index("Push From Left"), from, to, 0.3, out);
    EXPECT_EQ(out.At(0, 1), to.At(7, 1));
    EXPECT_EQ(out.At(3, 1), from.At(0, 1));
    RenderTransition(index("Slide In From Top"), from, to, 0.5, out);
    EXPECT_EQ(out.At(4, 0), to.At(4, 2));
    EXPECT_EQ(out.At(4, 2), from.At(4, 2));
}

TEST(Transitions, CutsRandomAndBadInput) {
    RandomSource random(42);
    std::set<int> seen;
    for (int n = 0; n < 5000; ++n) {
        const int r = ResolveTransition(kTransitionRandom, random);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, TransitionCount());
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 128u);
    EXPECT_EQ(ResolveTransition(5, random), 5);
    EXPECT_EQ(ResolveTransition(127, random), 127);
    for (int none : {kTransitionNone, -1, 200, -7}) EXPECT_EQ(ResolveTransition(none, random), kNoTransition);

    Image from = Pattern(8, 8, 1), to = Pattern(8, 8, 2), out;
    RenderTransition(kNoTransition, from, to, 0.99, out);
    EXPECT_EQ(out, from);
    RenderTransition(kNoTransition, from, to, 1.0, out);
    EXPECT_EQ(out, to);
    RenderTransition(0, from, to, -3.0, out);  // clamped
    EXPECT_EQ(out, from);
    EXPECT_THROW(RenderTransition(0, from, Pattern(8, 9, 2), 0.5, out), nimbrel::Error);
    // Rendering into one of the inputs works like rendering elsewhere.
    Image expected;
    RenderTransition(40, from, to, 0.6, expected);
    Image same = from;
    RenderTransition(40, same, to, 0.6, same);
    EXPECT_EQ(same, expected);
}

namespace nimbrel::imaging {
namespace {

TEST(Transitions, DissolvesTurnWholeBlocksAndAboutTheirShareOfThePicture) {
    const Image from(203, 101, MakePixel(255, 0, 0)), to(203, 101, MakePixel(0, 0, 255));
    Image out;
    const int blocks[] = {1, 2, 4, 8, 16, 32};
    for (int i = 0; i < 6; ++i) {
        const int block = blocks[i];
        for (double t : {0.25, 0.5, 0.75}) {
            RenderTransition(3 + i, from, to, t, out);
            int turned = 0;
            for (int y = 0; y < out.Height(); ++y) {
                for (int x = 0; x < out.Width(); ++x) {
                    const bool isTo = out.At(x, y) == to.At(x, y);
                    turned += isTo;
                    // Every pixel of a block goes with the block's first pixel.
                    ASSERT_EQ(isTo, out.At(x - x % block, y - y % block) == to.At(0, 0))
                        << TransitionName(3 + i) << " at " << x << "," << y;
                }
            }
            if (block <= 4) {
                EXPECT_NEAR(turned / (203.0 * 101.0), t, 0.05) << TransitionName(3 + i);
            }
            // The same frame again, now from the kept order of the cells.
            Image again;
            RenderTransition(3 + i, from, to, t, again);
            EXPECT_EQ(again, out);
        }
    }
}

}  // namespace
}  // namespace nimbrel::imaging

namespace nimbrel::imaging {
namespace {

// A frame drawn a band of rows at a time, on one thread or several, is the frame drawn whole:
// from whole pictures, and from bands that hold only the rows TransitionRowsRead names (the rest
// of each band's memory is garbage, so a read outside them shows).
TEST(Transitions, FramesDrawnInBandsAreTheWholeFrames) {
    const int w = 67, h = 41;
    const Image from = Pattern(w, h, 3), to = Pattern(w, h, 4);
    for (int i = -1; i < TransitionCount(); ++i)
        for (double t : {0.0, 0.13, 0.5, 0.77, 1.0}) {
            Image whole, rows(w, h), banded(w, h);
            RenderTransition(i, from, to, t, whole);
            RunInBands(h, 5, 4, [&](int first, int last) { RenderTransitionRows(i, from, to, t, rows, first, last); });
            ASSERT_EQ(rows, whole) << TransitionName(i) << " at " << t;
            for (int first = 0; first < h; first += 6) {
                const int last = std::min(h, first + 6);
                RowRange a, b;
                TransitionRowsRead(i, t, w, h, first, last, a, b);
                ASSERT_LE(0, a.first);
                ASSERT_LE(a.last, h);
                ASSERT_LE(0, b.first);
                ASSERT_LE(b.last, h);
                auto band = [&](const Image& picture, const RowRange& r) {
                    std::vector<Pixel> pixels(static_cast<std::size_t>(w) * (r.last - r.first + 2), 0xDEADBEEFu);
                    if (r.last > r.first)
                        std::copy(picture.Row(r.first), picture.Row(r.first) + static_cast<std::size_t>(w) * (r.last - r.first),
                                  pixels.begin() + w);
                    return pixels;
                };
                const std::vector<Pixel> fromBand = band(from, a), toBand = band(to, b);
                // The band of the frame is drawn apart, then put in its place; an effect that
                // writes each pixel once stores it in its place past the cache.
                std::vector<Pixel> outBand(static_cast<std::size_t>(w) * (last - first));
                const bool direct = TransitionWritesOnce(i);
                RenderTransitionBand(i, {fromBand.data() + w, w, h, a.first}, {toBand.data() + w, w, h, b.first}, t,
                                     {direct ? banded.Row(first) : outBand.data(), w, first, direct}, first, last);
                if (!direct) StreamPixels(outBand.data(), banded.Row(first), outBand.size());
            }
            ASSERT_EQ(banded, whole) << TransitionName(i) << " at " << t;
        }
    // Large enough to be shared between threads.
    const Image bigFrom = Pattern(2000, 1100, 5), bigTo = Pattern(2000, 1100, 6);
    for (int i : {0, 3, 20, 110}) {
        Image shared, alone(2000, 1100);
        RenderTransition(i, bigFrom, bigTo, 0.4, shared);
        RenderTransitionRows(i, bigFrom, bigTo, 0.4, alone, 0, 1100);
        EXPECT_EQ(shared, alone) << TransitionName(i);
    }
}

TEST(RowBands, EveryRowOnceWhateverTheThreadsAndCallers) {
    for (int threads : {1, 2, 4})
        for (int band : {1, 7, 1000}) {
            std::vector<std::atomic<int>> seen(1000);
            RunInBands(1000, band, threads, [&](int first, int last) {
                for (int y = first; y < last; ++y) ++seen[static_cast<std::size_t>(y)];
            });
            for (const auto& n : seen) ASSERT_EQ(n.load(), 1) << threads << " " << band;
        }
    // Callers at once: one has the pool, the others do their work themselves.
    std::vector<std::atomic<int>> seen(4 * 500);
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&seen, c] {
            for (int round = 0; round < 50; ++round)
                RunInBands(500, 3, 4, [&seen, c](int first, int last) {
                    for (int y = first; y < last; ++y) ++seen[static_cast<std::size_t>(c * 500 + y)];
                });
        });
    for (std::thread& t : callers) t.join();
    for (const auto& n : seen) ASSERT_EQ(n.load(), 50);
}

}  // namespace
}  // namespace nimbrel::imaging

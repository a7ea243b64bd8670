// A recorded movie played as a show: which frame shows when, and where it goes on the screen.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "show/picture_sources.h"
#include "show/recorded_movie.h"

namespace nimbrel::show {
namespace {

// "W H r g b" is a solid picture of that size.
class SolidPictures : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        int w = 0, h = 0, r = 0, g = 0, b = 0;
        if (!(in >> w >> h >> r >> g >> b)) return nullptr;
        imaging::Image image(w, h,
                             imaging::MakePixel(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                                static_cast<std::uint8_t>(b)));
        return std::make_unique<ImageSource>(std::move(image), "solid");
    }
};

flash::FrameIndex Index(double rate, std::vector<std::string> frames) {
    flash::FrameIndex index;
    index.width = 200;
    index.height = 100;
    index.frameRate = rate;
    index.background = 0x0000FF;
    index.frames = std::move(frames);
    return index;
}

TEST(RecordedMovie, FramesLoopAtTheMoviesRateAndEachChangeIsFoundExactly) {
    const flash::FrameIndex ten = Index(10, {"a", "a", "b", "c"});
    EXPECT_EQ(MovieFrameAt(ten, -5), 0u);
    EXPECT_EQ(MovieFrameAt(ten, 99), 0u);
    EXPECT_EQ(MovieFrameAt(ten, 100), 1u);
    EXPECT_EQ(MovieFrameAt(ten, 350), 3u);
    EXPECT_EQ(MovieFrameAt(ten, 400), 0u) << "round again";
    EXPECT_EQ(NextMovieChange(ten, 0), 100);
    EXPECT_EQ(NextMovieChange(ten, 399), 400);
    // At an awkward rate the next change is the first millisecond of the next frame, over an
    // hour as at the start, so a front end that sleeps until then never wakes early or late.
    const flash::FrameIndex film = Index(23.976, std::vector<std::string>(7, "x"));
    for (std::int64_t t : {0LL, 41LL, 42LL, 1000LL, 3600000LL, 3600041LL}) {
        const std::int64_t next = NextMovieChange(film, t);
        EXPECT_GT(next, t);
        EXPECT_NE(MovieFrameAt(film, next), MovieFrameAt(film, next - 1)) << t;
        EXPECT_EQ(MovieFrameAt(film, next - 1), MovieFrameAt(film, t)) << t;
    }
}

TEST(RecordedMovie, EachMonitorShowsTheFrameFittedOnTheBackgroundAndABadFrameKeepsTheLast) {
    SolidPictures decoder;
    std::map<std::string, std::string> files{
        {"red", "200 100 255 0 0"}, {"green", "200 100 0 255 0"}, {"bad", "damaged"}};
    int reads = 0;
    RecordedMovie movie(
        Index(10, {"red", "red", "green", "bad"}),
        [&](const std::string& name) {
            ++reads;
            return files.at(name);
        },
        decoder);
    // Two monitors side by side: 400 x 300 (the frame 400 x 200 at y 50) and 100 x 100 (100 x 50
    // at y 25); the screen below the shorter monitor is background too.
    const Screen screen{500, 300, {{0, 0, 400, 300}, {400, 0, 100, 100}}};
    Frame out;
    ASSERT_TRUE(movie.Draw(0, screen, out));
    ASSERT_EQ(out.Width(), 500);
    auto rgb = [&](int x, int y) { return out.At(x, y) & 0xFFFFFFu; };
    EXPECT_EQ(rgb(200, 150), 0xFF0000u);
    EXPECT_EQ(rgb(200, 49), 0x0000FFu);
    EXPECT_EQ(rgb(200, 50), 0xFF0000u);
    EXPECT_EQ(rgb(200, 249), 0xFF0000u);
    EXPECT_EQ(rgb(200, 250), 0x0000FFu);
    EXPECT_EQ(rgb(450, 24), 0x0000FFu);
    EXPECT_EQ(rgb(450, 25), 0xFF0000u);
    EXPECT_EQ(rgb(450, 74), 0xFF0000u);
    EXPECT_EQ(rgb(450, 75), 0x0000FFu);
    EXPECT_EQ(rgb(450, 200), 0x0000FFu);
    // The same frame file again: nothing to draw, nothing read.
    EXPECT_FALSE(movie.Draw(150, screen, out));
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(movie.Draw(200, screen, out));
    EXPECT_EQ(rgb(200, 150), 0x00FF00u);
    // A frame that does not decode leaves the one before on screen.
    EXPECT_FALSE(movie.Draw(300, screen, out));
    EXPECT_EQ(rgb(200, 150), 0x00FF00u);
    EXPECT_TRUE(movie.Draw(400, screen, out)) << "round again";
    EXPECT_EQ(rgb(200, 150), 0xFF0000u);
}

}  // namespace
}  // namespace nimbrel::show

// The show engine: its clock, and the frames a show of pictures gives at given times.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "imaging/transitions.h"
#include "show/picture_sources.h"
#include "show/show.h"

namespace nimbrel::show {
namespace {

using imaging::MakePixel;
using imaging::Pixel;

TEST(ShowClock, StillThenOneSecondOfChangeWithATransitionAndCutsTakeNoTime) {
    ShowClock faded(3, 0, 1);
    EXPECT_EQ(faded.StillMilliseconds(), 3000);
    EXPECT_EQ(faded.ChangeMilliseconds(), 1000);
    Moment m = faded.At(2999);
    EXPECT_EQ(m.slide, 0);
    EXPECT_EQ(m.phase, Phase::Still);
    m = faded.At(3250);
    EXPECT_EQ(m.slide, 0);
    EXPECT_EQ(m.phase, Phase::Change);
    EXPECT_DOUBLE_EQ(m.progress, 0.25);
    EXPECT_EQ(m.effect, 0);
    m = faded.At(4000);
    EXPECT_EQ(m.slide, 1);
    EXPECT_EQ(m.phase, Phase::Still);
    EXPECT_EQ(faded.At(-50).slide, 0);
    EXPECT_EQ(faded.ChangeStart(2), 11000);

    for (int none : {129, -1, 200, -7}) {
        ShowClock cut(2, none, 1);
        EXPECT_EQ(cut.ChangeMilliseconds(), 0) << none;
        EXPECT_EQ(cut.At(4100).slide, 2) << none;
        EXPECT_EQ(cut.At(4100).phase, Phase::Still) << none;
    }
    // ShowSpeed outside 1..240 is taken as the nearest end.
    EXPECT_EQ(ShowClock(0, 129, 1).StillMilliseconds(), 1000);
    EXPECT_EQ(ShowClock(999, 129, 1).StillMilliseconds(), 240000);
}

TEST(ShowClock, RandomEffectsAreFixedBySeedAndDifferBetweenChanges) {
    ShowClock a(1, imaging::kTransitionRandom, 42), b(1, imaging::kTransitionRandom, 42),
        other(1, imaging::kTransitionRandom, 43);
    std::set<int> effects;
    int differ = 0;
    for (int k = 0; k < 200; ++k) {
        int e = a.EffectOf(k);
        ASSERT_GE(e, 0);
        ASSERT_LT(e, imaging::TransitionCount());
        EXPECT_EQ(e, b.EffectOf(k));
        EXPECT_EQ(a.At(a.ChangeStart(k) + 10).effect, e);
        effects.insert(e);
        differ += other.EffectOf(k) != e;
    }
    EXPECT_GT(effects.size(), 60u);
    EXPECT_GT(differ, 150);
}

TEST(LiveClock, WaitsAtAChangeForALatePictureAndGoesOnFromThere) {
    ShowClock clock(2, 0, 1);  // slide k at 3000 k, change from 3000 k + 2000
    LiveClock live(clock);
    live.Start(10000);
    EXPECT_EQ(live.Now(11500, 1), 1500);
    // Slide 1 is not ready: the show holds before its change.
    EXPECT_EQ(live.Now(12500, 0), 1999);
    EXPECT_EQ(live.Now(14000, 0), 1999);
    EXPECT_EQ(clock.At(1999).phase, Phase::Still);
    // Ready: the change runs from its start.
    EXPECT_EQ(live.Now(14000, 1), 1999);
    EXPECT_EQ(live.Now(14401, 1), 2400);
    EXPECT_EQ(live.Now(16001, 1), 4000);
    EXPECT_EQ(live.Now(15000, 1), 4000) << "the show never runs backwards";
    EXPECT_EQ(live.Now(30000, 1), 4999) << "slide 2 is not ready either";
}

// A decoder for the tests: "w h r g b" in the bytes is a solid picture; anything else is damaged.
class SolidDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        ++opened;
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        int w = 0, h = 0, r = 0, g = 0, b = 0;
        if (!(in >> w >> h >> r >> g >> b) || w < 1 || h < 1) return nullptr;
        return std::make_unique<ImageSource>(
            imaging::Image(w, h,
                           MakePixel(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                     static_cast<std::uint8_t>(b))),
            "solid");
    }
    std::atomic<int> opened{0};
};

class MemoryPictures : public PictureList {
public:
    explicit MemoryPictures(std::vector<std::pair<std::string, std::string>> pictures)
        : pictures_(std::move(pictures)) {}
    std::size_t Count() const override { return pictures_.size(); }
    std::string Name(std::size_t i) const override { return pictures_.at(i).first; }
    std::string Bytes(std::size_t i) const override { return pictures_.at(i).second; }

private:
    std::vector<std::pair<std::string, std::string>> pictures_;
};

constexpr Pixel kBack = MakePixel(10, 20, 30);
constexpr std::uint32_t kRed = 0xE01010, kGreen = 0x10C020, kBlue = 0x1020E0;

std::string Solid(std::uint32_t rgb, int w = 8, int h = 6) {
    return std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(rgb >> 16) + " " +
           std::to_string((rgb >> 8) & 255) + " " + std::to_string(rgb & 255);
}

project::SlideShowValues Values(int showSpeed, int transition, bool random = false) {
    project::SlideShowValues v;
    v.center = true;
    v.stretch = true;
    v.showSpeed = showSpeed;
    v.transition = transition;
    v.random = random;
    return v;
}

struct Fixture {
    Fixture(std::vector<std::pair<std::string, std::string>> pictures, const project::SlideShowValues& values,
            std::uint64_t seed = 7, Screen screen = {64, 48, {}}) {
        auto list = std::make_shared<MemoryPictures>(std::move(pictures));
        std::vector<std::size_t> order(list->Count());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        show = std::make_unique<Show>(values, kBack, screen, list, order, decoder, seed);
    }
    std::uint32_t CentreAt(std::int64_t ms) {
        show->Render(ms, frame);
        return frame.At(frame.Width() / 2, frame.Height() / 2) & 0xFFFFFF;
    }
    SolidDecoder decoder;
    std::unique_ptr<Show> show;
    Frame frame;
};

TEST(Show, EachPictureInTurnAndTheFadeBetweenThem) {
    Fixture f({{"a.bmp", Solid(kRed)}, {"b.bmp", Solid(kGreen)}, {"c.bmp", Solid(kBlue)}}, Values(2, 0));
    EXPECT_EQ(f.CentreAt(0), kRed);
    EXPECT_EQ(f.CentreAt(1999), kRed);
    EXPECT_EQ(f.CentreAt(3000), kGreen);
    EXPECT_EQ(f.CentreAt(6100), kBlue);
    EXPECT_EQ(f.CentreAt(9000), kRed) << "the show starts again";
    // Half way through the fade from blue to red, every pixel is the mean of the two.
    f.show->Render(8500, f.frame);
    const Pixel half = imaging::BlendPixels(kBlue, kRed, 128) & 0xFFFFFF;
    EXPECT_EQ(f.frame.At(0, 0) & 0xFFFFFF, half);
    EXPECT_EQ(f.frame.At(63, 47) & 0xFFFFFF, half);
    EXPECT_EQ(f.frame.Width(), 64);
}

TEST(Show, PlacesPicturesOnEveryMonitorOverTheBackground) {
    project::SlideShowValues values = Values(5, 129);
    values.stretch = false;
    Fixture f({{"a.bmp", Solid(kRed, 10, 10)}}, values, 1,
              Screen{100, 40, {{0, 0, 50, 40}, {50, 0, 50, 40}}});
    f.show->Render(0, f.frame);
    EXPECT_EQ(f.frame.At(25, 20) & 0xFFFFFF, kRed);
    EXPECT_EQ(f.frame.At(75, 20) & 0xFFFFFF, kRed);
    EXPECT_EQ(f.frame.At(50, 20) & 0xFFFFFF, kBack & 0xFFFFFF);
    EXPECT_EQ(f.frame.At(0, 0) & 0xFFFFFF, kBack & 0xFFFFFF);
}

TEST(Show, DamagedPicturesAreLeftOutAndTakeNoTime) {
    Fixture f({{"a.bmp", Solid(kRed)}, {"bad.jpg", "garbage"}, {"b.bmp", Solid(kGreen)}, {"empty.png", ""}},
              Values(1, 129));
    std::vector<std::uint32_t> seen;
    for (int s = 0; s < 6; ++s) seen.push_back(f.CentreAt(s * 1000 + 500));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{kRed, kGreen, kRed, kGreen, kRed, kGreen}));
    EXPECT_FALSE(f.show->Empty());
    EXPECT_EQ(f.show->Problem(), "");
    ASSERT_EQ(f.show->LeftOut().size(), 2u);
    EXPECT_NE(f.show->LeftOut()[0].find("bad.jpg"), std::string::npos);
    // Each damaged picture was tried once only.
    const int opened = f.decoder.opened;
    for (int s = 6; s < 12; ++s) f.CentreAt(s * 1000 + 500);
    EXPECT_LE(f.decoder.opened - opened, 6);
}

// Large "photos" of one colour, as a decoder that reads the header on opening and can still
// choose a smaller scale (as libjpeg does): "huge" is refused, "cut" fails part way.
class ReducingDecoder : public imaging::PictureDecoder {
public:
    class Source : public imaging::PictureSource {
    public:
        Source(bool cut, ReducingDecoder& owner) : cut_(cut), owner_(owner) {
            info_.width = 800;
            info_.height = 600;
            info_.format = "jpeg";
        }
        const imaging::PictureInfo& Info() const override { return info_; }
        int RowWidth() const override { return rowWidth_; }
        int RowHeight() const override { return rowHeight_; }
        bool ReduceTo(const imaging::DecodeHint& hint) override {
            if (read_) return false;
            while (rowWidth_ / 2 >= hint.maxWidth && rowHeight_ / 2 >= hint.maxHeight && rowWidth_ > 100)
                rowWidth_ /= 2, rowHeight_ /= 2;
            owner_.reducedTo = rowWidth_;
            return rowWidth_ != 800;
        }
        bool ReadRows(int first, int count, Pixel* into) override {
            read_ = true;
            if (cut_ && first + count > rowHeight_ / 2) return false;
            std::fill(into, into + static_cast<std::size_t>(count) * rowWidth_, MakePixel(0xE0, 0x10, 0x10));
            return true;
        }
        std::string Failure() const override { return "the picture is damaged: its file ends early"; }

    private:
        bool cut_, read_ = false;
        ReducingDecoder& owner_;
        imaging::PictureInfo info_;
        int rowWidth_ = 800, rowHeight_ = 600;
    };
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        ++opened;
        const std::string text(bytes.begin(), bytes.end());
        refusal_ = text == "huge" ? "too large (70000 x 70000 pixels)" : "";
        if (!refusal_.empty()) return nullptr;
        return std::make_unique<Source>(text == "cut", *this);
    }
    std::string Refusal() const override { return refusal_; }
    int opened = 0;
    int reducedTo = 0;

private:
    std::string refusal_;
};

TEST(Show, APhotoIsOpenedOnceAndDecodedSmallerAndWhatIsLeftOutSaysWhy) {
    ReducingDecoder decoder;
    auto list = std::make_shared<MemoryPictures>(
        std::vector<std::pair<std::string, std::string>>{{"huge.jpg", "huge"}, {"cut.jpg", "cut"}, {"a.jpg", "a"}});
    Show show(Values(5, 129), kBack, Screen{64, 48, {}}, list, {0, 1, 2}, decoder, 1);
    Frame frame;
    show.Render(0, frame);
    EXPECT_EQ(frame.At(32, 24) & 0xFFFFFF, kRed);
    EXPECT_EQ(decoder.opened, 3) << "each picture opened once";
    EXPECT_EQ(decoder.reducedTo, 200) << "a quarter, leaving at least 2x of the shrink to 64 x 48";
    const std::vector<std::string> leftOut = show.LeftOut();
    ASSERT_EQ(leftOut.size(), 2u);
    EXPECT_EQ(leftOut[0], "huge.jpg: too large (70000 x 70000 pixels)");
    EXPECT_EQ(leftOut[1], "cut.jpg: the picture is damaged: its file ends early");
}

TEST(Show, WithNothingShowableTheBackgroundStaysAndTheProblemIsNamed) {
    Fixture f({{"a.jpg", "broken"}, {"b.png", "also broken"}}, Values(1, 0));
    EXPECT_EQ(f.CentreAt(0), kBack & 0xFFFFFF);
    EXPECT_EQ(f.CentreAt(5500), kBack & 0xFFFFFF);
    EXPECT_TRUE(f.show->Empty());
    EXPECT_NE(f.show->Problem().find("None of the show's 2 pictures can be shown"), std::string::npos)
        << f.show->Problem();
    EXPECT_NE(f.show->Problem().find("a.jpg"), std::string::npos);

    Fixture none({}, Values(1, 0));
    EXPECT_EQ(none.CentreAt(100), kBack & 0xFFFFFF);
    EXPECT_EQ(none.show->Problem(), "The show has no pictures.");
}

TEST(Show, APictureLeftAloneStaysStillThroughItsChanges) {
    // Push would move a picture into itself; a show left with one picture shows it still.
    Fixture f({{"a.bmp", Solid(kRed)}, {"bad.bmp", "x"}}, Values(1, 25));
    for (int ms : {0, 1200, 1500, 1900, 2600}) EXPECT_EQ(f.CentreAt(ms), kRed) << ms;
}

TEST(Show, TheSameSeedGivesTheSameFramesInAnyOrderOfAsking) {
    std::vector<std::pair<std::string, std::string>> pictures;
    const std::uint32_t colours[] = {kRed, kGreen, kBlue, 0x808080, 0xFFFF00, 0x00FFFF};
    for (std::uint32_t c : colours) pictures.push_back({"p.bmp", Solid(c, 7 + static_cast<int>(c % 5), 5)});
    pictures.insert(pictures.begin() + 2, {"broken.gif", "?"});
    Fixture a(pictures, Values(1, imaging::kTransitionRandom, true), 99);
    Fixture b(pictures, Values(1, imaging::kTransitionRandom, true), 99);
    Fixture other(pictures, Values(1, imaging::kTransitionRandom, true), 100);
    std::vector<std::int64_t> times;
    for (int i = 0; i < 40; ++i) times.push_back(i * 773 % 30000);
    std::vector<Frame> forward;
    for (std::int64_t t : times) {
        a.show->Render(t, a.frame);
        forward.push_back(a.frame);
    }
    int differ = 0;
    for (std::size_t i = times.size(); i-- > 0;) {
        b.show->Render(times[i], b.frame);
        EXPECT_EQ(b.frame, forward[i]) << "t = " << times[i];
        other.show->Render(times[i], other.frame);
        differ += !(other.frame == forward[i]);
    }
    EXPECT_GT(differ, 10) << "another seed gives another show";
}

TEST(Show, KeepsAtMostTwoDecodedPicturesAndDrawNeverDecodes) {
    Fixture f({{"a.bmp", Solid(kRed)}, {"b.bmp", Solid(kGreen)}, {"c.bmp", Solid(kBlue)}}, Values(1, 0));
    Frame out;
    EXPECT_FALSE(f.show->Draw(f.show->Clock().At(0), out)) << "nothing decoded yet";
    ASSERT_TRUE(f.show->Prepare(0));
    ASSERT_TRUE(f.show->Prepare(1));
    const int opened = f.decoder.opened;
    EXPECT_TRUE(f.show->Draw(f.show->Clock().At(1500), out));  // the change from 0 to 1
    EXPECT_FALSE(f.show->Draw(f.show->Clock().At(3500), out)) << "slide 2 is not decoded";
    EXPECT_EQ(f.decoder.opened, opened);
    ASSERT_TRUE(f.show->Prepare(2));
    EXPECT_FALSE(f.show->Ready(0));
    EXPECT_TRUE(f.show->Ready(1));
    EXPECT_TRUE(f.show->Ready(2));
}

TEST(Show, PicturesPredecodedOnOtherThreadsGiveTheSameFramesAndAreNotDecodedAgain) {
    // Damaged pictures among good ones, in a random order: the walk the predecoding guesses
    // must come back to the show's own when a picture turns out bad.
    std::vector<std::pair<std::string, std::string>> pictures;
    const std::uint32_t colours[] = {kRed, kGreen, kBlue, 0x808080, 0xFFFF00};
    for (std::uint32_t c : colours) pictures.push_back({"p.bmp", Solid(c, 5 + static_cast<int>(c % 7), 4)});
    pictures.insert(pictures.begin() + 1, {"broken.gif", "?"});
    pictures.insert(pictures.begin() + 4, {"broken.png", "!"});
    const project::SlideShowValues values = Values(1, imaging::kTransitionRandom, true);
    Fixture plain(pictures, values, 3), ahead(pictures, values, 3);
    std::vector<std::int64_t> times;
    for (int i = 0; i < 30; ++i) times.push_back(i * 650);
    // Two threads predecode the slides of the times, as nimbrel-cli render does.
    std::vector<std::int64_t> slides;
    for (std::int64_t t : times) {
        const Moment m = ahead.show->Clock().At(t);
        for (std::int64_t s : {m.slide, m.slide + 1})
            if (slides.empty() || slides.back() < s) slides.push_back(s);
    }
    std::atomic<std::size_t> next{0};
    SolidDecoder helperDecoders[2];
    std::vector<std::thread> helpers;
    for (SolidDecoder& decoder : helperDecoders)
        helpers.emplace_back([&] {
            for (std::size_t i; (i = next++) < slides.size();) ahead.show->Predecode(slides[i], decoder);
        });
    for (std::int64_t t : times) {
        plain.show->Render(t, plain.frame);
        ahead.show->Render(t, ahead.frame);
        EXPECT_EQ(ahead.frame, plain.frame) << "t = " << t;
    }
    for (std::thread& helper : helpers) helper.join();
    EXPECT_EQ(ahead.show->LeftOut(), plain.show->LeftOut());

    // Predecoded first, on this thread: the show decodes none of them again, the damaged ones
    // included (they are known to be damaged from their predecoding).
    Fixture first(pictures, Values(1, 0), 3);
    SolidDecoder helper;
    for (std::int64_t slide = 0; slide < 4; ++slide) first.show->Predecode(slide, helper);
    EXPECT_EQ(helper.opened, 6) << "four slides and the two damaged pictures among them";
    for (std::int64_t t : {0, 1500, 2500, 3200, 5900}) plain.CentreAt(t), first.CentreAt(t);
    EXPECT_EQ(first.decoder.opened, 0);
    EXPECT_EQ(first.show->LeftOut().size(), 2u);
    EXPECT_EQ(first.CentreAt(2500), kGreen) << "slide 1 is the picture after the damaged one";
}

TEST(FrameComposer, RowsAScaledDecoderGaveArePlacedByThePicturesOwnSize) {
    // A 400 x 100 picture whose decoder gave 100 x 25 rows, at its own size on a 200 x 200 screen:
    // it is placed as 400 x 100 (its middle shows), scaled up from the rows.
    FrameSettings settings;
    settings.width = settings.height = 200;
    settings.monitors = {{0, 0, 200, 200}};
    settings.layout = {true, false, false, false};
    settings.background = kBack;
    imaging::Image rows(100, 25);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 100; ++x) rows.Set(x, y, x < 50 ? MakePixel(200, 0, 0) : MakePixel(0, 0, 200));
    RowReader read = [&](int first, int count, Pixel* into) {
        std::copy(rows.Row(first), rows.Row(first) + static_cast<std::size_t>(count) * 100, into);
        return true;
    };
    auto frame = ComposeScaledRows(400, 100, 100, 25, 1, read, settings);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->At(10, 100) & 0xFFFFFF, 0xC80000u);
    EXPECT_EQ(frame->At(190, 100) & 0xFFFFFF, 0x0000C8u);
    EXPECT_EQ(frame->At(100, 5) & 0xFFFFFF, kBack & 0xFFFFFF)
        << "100 high, centred: rows 0..49 are background";
}

}  // namespace
}  // namespace nimbrel::show

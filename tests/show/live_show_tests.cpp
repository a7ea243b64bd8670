// A running show: what a live front end draws on each call and when it is to call again.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "show/live_show.h"
#include "show/picture_sources.h"

namespace nimbrel::show {
namespace {

// "r g b" is a small solid picture.
class SolidColours : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        int r = 0, g = 0, b = 0;
        if (!(in >> r >> g >> b)) return nullptr;
        imaging::Image image(16, 12);
        // A little detail, so that a moving picture changes from frame to frame.
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                image.Set(x, y, imaging::MakePixel(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g + x * 8),
                                                   static_cast<std::uint8_t>(b)));
        return std::make_unique<ImageSource>(std::move(image), "solid");
    }
};

class Colours : public PictureList {
public:
    explicit Colours(std::vector<std::string> bytes) : bytes_(std::move(bytes)) {}
    std::size_t Count() const override { return bytes_.size(); }
    std::string Name(std::size_t) const override { return "p.bmp"; }
    std::string Bytes(std::size_t i) const override { return bytes_.at(i); }

private:
    std::vector<std::string> bytes_;
};

struct Running {
    explicit Running(std::vector<std::string> pictures, bool motion = false, std::int64_t delay = 0) {
        project::SlideShowValues values;
        values.stretch = true;
        values.showSpeed = 1;  // slide k from 2000 k, its change to k + 1 from 2000 k + 1000
        values.transition = 0;
        values.show.motion = motion;
        std::vector<std::size_t> order(pictures.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        show = std::make_unique<Show>(values, imaging::kOpaqueBlack, Screen{64, 48, {}},
                                      std::make_shared<Colours>(std::move(pictures)), order, decoder, 3);
        live = std::make_unique<LiveShow>(*show, 15, DecodeAhead::ReadyCallback{}, delay);
    }
    // Waits (at most a minute, so that a fault fails rather than hangs) for the worker.
    bool WaitReady(std::int64_t slide) {
        for (int i = 0; i < 60000 && live->ReadySlide() < slide; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return live->ReadySlide() >= slide;
    }
    std::uint32_t Red() const { return imaging::RedOf(frame.At(0, 0)); }
    SolidColours decoder;
    std::unique_ptr<Show> show;
    std::unique_ptr<LiveShow> live;
    Frame frame;
};

TEST(LiveShow, DrawsTheFirstPictureWhenReadyThenWakesAtEachChangeAndEveryFrameThroughIt) {
    Running r({"200 0 0", "100 0 0"});
    ASSERT_TRUE(r.WaitReady(0));
    LiveShow::Step step = r.live->Update(10000, r.frame);
    ASSERT_TRUE(step.drew);
    EXPECT_EQ(r.Red(), 200u);
    ASSERT_TRUE(step.wakeAt);
    EXPECT_EQ(*step.wakeAt, 11000) << "the change to the next picture";
    ASSERT_TRUE(r.WaitReady(1));
    step = r.live->Update(10500, r.frame);
    EXPECT_FALSE(step.drew) << "nothing changed";
    EXPECT_EQ(*step.wakeAt, 11000);
    step = r.live->Update(11500, r.frame);
    EXPECT_TRUE(step.drew);
    EXPECT_EQ(step.showTime, 1500);
    EXPECT_EQ(*step.wakeAt, 11515) << "a frame later, during the change";
    EXPECT_EQ(r.Red(), 150u);
    step = r.live->Update(12100, r.frame);
    EXPECT_TRUE(step.drew);
    EXPECT_EQ(r.Red(), 100u);
    // Slide 2 was asked for once slide 1 showed. Long after, with slide 3 not ready, the show
    // holds before the change to it, and the worker's report calls again.
    ASSERT_TRUE(r.WaitReady(2));
    step = r.live->Update(30000, r.frame);
    EXPECT_EQ(r.Red(), 200u);
    EXPECT_FALSE(step.wakeAt);
}

TEST(LiveShow, AMovingPictureIsDrawnEveryFrameAndAStillLonePictureOnce) {
    Running moving({"200 0 0"}, true);
    ASSERT_TRUE(moving.WaitReady(0));
    ASSERT_TRUE(moving.live->Update(0, moving.frame).drew);
    const Frame first = moving.frame;
    LiveShow::Step step = moving.live->Update(400, moving.frame);
    EXPECT_TRUE(step.drew);
    EXPECT_EQ(*step.wakeAt, 415);
    EXPECT_FALSE(moving.frame == first);

    Running still({"200 0 0"});
    ASSERT_TRUE(still.WaitReady(0));
    step = still.live->Update(0, still.frame);
    EXPECT_TRUE(step.drew);
    EXPECT_FALSE(step.wakeAt) << "nothing more to do";
    EXPECT_FALSE(still.live->Update(5000, still.frame).drew);
}

TEST(LiveShow, ADelayedShowHoldsItsFirstMomentThenRunsBehind) {
    Running r({"200 0 0", "100 0 0"}, false, 700);
    ASSERT_TRUE(r.WaitReady(0));
    LiveShow::Step step = r.live->Update(1000, r.frame);
    ASSERT_TRUE(step.drew);
    EXPECT_EQ(*step.wakeAt, 1700) << "the show's time starts then";
    ASSERT_TRUE(r.WaitReady(1));
    step = r.live->Update(1700, r.frame);
    EXPECT_EQ(*step.wakeAt, 2700) << "and its change comes 700 ms after an undelayed show's";
    step = r.live->Update(3200, r.frame);
    EXPECT_EQ(step.showTime, 1500);
}

}  // namespace
}  // namespace nimbrel::show

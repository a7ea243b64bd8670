// Decoding ahead: the worker the players and the editor's preview share.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "show/decode_ahead.h"
#include "show/picture_sources.h"

namespace nimbrel::show {
namespace {

using namespace std::chrono_literals;

// Pictures named by their bytes: "red", "green", "blue" are small solid pictures, "tall" a
// 64 x 1000000 picture read slowly a band at a time, "gate" a picture whose rows wait until the
// test opens the gate; anything else is damaged.
class TestDecoder : public imaging::PictureDecoder {
public:
    std::unique_ptr<imaging::PictureSource> Open(std::string_view, std::span<const std::uint8_t> bytes,
                                                 imaging::DecodeHint) override {
        const std::string what(bytes.begin(), bytes.end());
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++opened;
            changed.notify_all();
        }
        if (what == "red") return Solid(imaging::MakePixel(255, 0, 0));
        if (what == "green") return Solid(imaging::MakePixel(0, 255, 0));
        if (what == "blue") return Solid(imaging::MakePixel(0, 0, 255));
        if (what == "tall" || what == "gate") return std::make_unique<Slow>(*this, what == "gate");
        return nullptr;
    }

    void OpenGate() {
        std::lock_guard<std::mutex> lock(mutex);
        gateOpen = true;
        changed.notify_all();
    }
    // Waits (at most a minute, so that a fault fails rather than hangs) until `done` holds.
    template <typename Done>
    bool WaitFor(Done done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 60s, done);
    }

    std::atomic<int> opened{0};
    std::mutex mutex;
    std::condition_variable changed;
    int bandsRead = 0;  // of the slow pictures
    bool gateOpen = false;
    bool waitingAtGate = false;

private:
    static std::unique_ptr<imaging::PictureSource> Solid(imaging::Pixel colour) {
        return std::make_unique<ImageSource>(imaging::Image(16, 12, colour), "solid");
    }

    class Slow : public imaging::PictureSource {
    public:
        Slow(TestDecoder& owner, bool gate) : owner_(owner), gate_(gate) {
            info_.width = 64;
            info_.height = gate ? 64 : 1000000;
            info_.format = "slow";
        }
        const imaging::PictureInfo& Info() const override { return info_; }
        bool ReadRows(int, int count, imaging::Pixel* into) override {
            std::fill(into, into + static_cast<std::size_t>(count) * 64, imaging::MakePixel(9, 9, 9));
            std::unique_lock<std::mutex> lock(owner_.mutex);
            ++owner_.bandsRead;
            if (gate_) {
                owner_.waitingAtGate = true;
                owner_.changed.notify_all();
                owner_.changed.wait(lock, [&] { return owner_.gateOpen; });
            } else {
                owner_.changed.notify_all();
                lock.unlock();
                std::this_thread::sleep_for(10ms);
            }
            return true;
        }

    private:
        TestDecoder& owner_;
        bool gate_;
        imaging::PictureInfo info_;
    };
};

class Pictures : public PictureList {
public:
    explicit Pictures(std::vector<std::string> bytes) : bytes_(std::move(bytes)) {}
    std::size_t Count() const override { return bytes_.size(); }
    std::string Name(std::size_t i) const override { return "p" + std::to_string(i) + ".bmp"; }
    std::string Bytes(std::size_t i) const override { return bytes_.at(i); }

private:
    std::vector<std::string> bytes_;
};

struct Ahead {
    explicit Ahead(std::vector<std::string> pictures, bool screenLater = false) {
        project::SlideShowValues values;
        values.stretch = true;
        values.showSpeed = 1;
        values.transition = 0;  // a fade: each change needs both pictures
        std::vector<std::size_t> order(pictures.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        auto list = std::make_shared<Pictures>(std::move(pictures));
        show = screenLater ? std::make_unique<Show>(values, imaging::MakePixel(1, 2, 3), ScreenLater{}, list,
                                                    order, decoder, 5)
                           : std::make_unique<Show>(values, imaging::MakePixel(1, 2, 3), Screen{32, 24, {}},
                                                    list, order, decoder, 5);
        ahead = std::make_unique<DecodeAhead>(*show, [this](std::int64_t slide) {
            std::lock_guard<std::mutex> lock(decoder.mutex);
            reported.push_back(slide);
            decoder.changed.notify_all();
        });
    }
    bool WaitForReport(std::int64_t slide) {
        return decoder.WaitFor([&] {
            for (std::int64_t r : reported)
                if (r == slide) return true;
            return false;
        });
    }
    int Kept() const {
        int kept = 0;
        for (std::int64_t s = 0; s < 8; ++s) kept += show->Ready(s);
        return kept;
    }

    TestDecoder decoder;
    std::unique_ptr<Show> show;
    std::vector<std::int64_t> reported;  // guarded by decoder.mutex
    std::unique_ptr<DecodeAhead> ahead;
};

TEST(DecodeAhead, DecodesOnlyWhatIsAskedForAndKeepsAtMostTwoPictures) {
    Ahead a({"red", "green", "blue", "red"});
    EXPECT_EQ(a.ahead->ReadySlide(), -1);
    a.ahead->Request(0);
    ASSERT_TRUE(a.WaitForReport(0));
    EXPECT_EQ(a.ahead->ReadySlide(), 0);
    EXPECT_TRUE(a.show->Ready(0));
    EXPECT_FALSE(a.show->Ready(1)) << "the next picture waits until it is asked for";
    EXPECT_EQ(a.decoder.opened, 1);
    for (std::int64_t slide = 1; slide < 6; ++slide) {
        a.ahead->Request(slide);
        ASSERT_TRUE(a.WaitForReport(slide));
        EXPECT_EQ(a.ahead->ReadySlide(), slide);
        EXPECT_TRUE(a.show->Ready(slide - 1)) << "the slide that shows stays";
        EXPECT_LE(a.Kept(), 2) << "after slide " << slide;
    }
    a.ahead->Request(3);  // behind: nothing more
    a.ahead->Stop();
    {
        std::lock_guard<std::mutex> lock(a.decoder.mutex);
        EXPECT_EQ(a.reported, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5}));
    }
    EXPECT_FALSE(a.ahead->Failed());
}

TEST(DecodeAhead, TheNextPictureIsDecodedWhileTheCurrentOneShows) {
    Ahead a({"red", "gate", "green"});
    a.ahead->Request(0);
    ASSERT_TRUE(a.WaitForReport(0));
    a.ahead->Request(1);
    ASSERT_TRUE(a.decoder.WaitFor([&] { return a.decoder.waitingAtGate; }));
    // The worker is inside the next picture's decoder; drawing the current one does not wait.
    Frame frame;
    EXPECT_TRUE(a.show->Draw(a.show->Clock().At(500), frame));
    EXPECT_EQ(frame.At(16, 12) & 0xFFFFFF, 0xFF0000u);
    EXPECT_FALSE(a.show->Draw(a.show->Clock().At(1500), frame)) << "the change needs the next picture";
    EXPECT_EQ(a.ahead->ReadySlide(), 0);
    a.decoder.OpenGate();
    ASSERT_TRUE(a.WaitForReport(1));
    EXPECT_TRUE(a.show->Draw(a.show->Clock().At(1500), frame));
}

TEST(DecodeAhead, StopAbandonsALargePictureBetweenBandsOfRows) {
    Ahead a({"tall", "red"});
    a.ahead->Request(0);
    ASSERT_TRUE(a.decoder.WaitFor([&] { return a.decoder.bandsRead > 0; }));
    a.ahead->Stop();
    int bands = 0;
    {
        std::lock_guard<std::mutex> lock(a.decoder.mutex);
        bands = a.decoder.bandsRead;
        EXPECT_TRUE(a.reported.empty()) << "a stopped worker reports nothing";
    }
    // A million rows of 64 pixels come in 245 bands of 1 MB: read whole, well over two seconds.
    EXPECT_LT(bands, 31);
    EXPECT_EQ(a.ahead->ReadySlide(), -1);
    EXPECT_TRUE(a.show->LeftOut().empty()) << "an abandoned picture is not a damaged one";
    EXPECT_FALSE(a.show->Prepare(1)) << "the show is done with once stopped";
    a.ahead->Stop();  // again: nothing happens
}

TEST(DecodeAhead, TheFirstPictureDecodesWhileTheScreenIsMeasuredAndWaitsOnlyToBePlaced) {
    Ahead a({"red", "green"}, true);
    a.ahead->Request(0);
    ASSERT_TRUE(a.decoder.WaitFor([&] { return a.decoder.opened.load() == 1; }));
    EXPECT_FALSE(a.show->Ready(0)) << "placed on a screen not known yet";
    a.show->SetScreen(Screen{40, 30, {{0, 0, 20, 30}, {20, 0, 20, 30}}});
    ASSERT_TRUE(a.WaitForReport(0));
    Frame frame;
    ASSERT_TRUE(a.show->Draw(a.show->Clock().At(100), frame));
    EXPECT_EQ(frame.Width(), 40);
    EXPECT_EQ(frame.Height(), 30);
    // Stretched over each of the two monitors.
    EXPECT_EQ(frame.At(5, 15) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(frame.At(35, 15) & 0xFFFFFF, 0xFF0000u);
    a.ahead->Request(1);
    ASSERT_TRUE(a.WaitForReport(1));
    EXPECT_EQ(a.show->Settings().monitors.size(), 2u);

    // Stopped before the screen is known: the worker leaves, nothing is reported or left out.
    Ahead b({"red"}, true);
    b.ahead->Request(0);
    ASSERT_TRUE(b.decoder.WaitFor([&] { return b.decoder.opened.load() == 1; }));
    b.ahead->Stop();
    EXPECT_EQ(b.ahead->ReadySlide(), -1);
    EXPECT_TRUE(b.show->LeftOut().empty());
    std::lock_guard<std::mutex> lock(b.decoder.mutex);
    EXPECT_TRUE(b.reported.empty());
}

TEST(DecodeAhead, ADamagedPictureIsLeftOutAndNothingShowableIsReported) {
    Ahead a({"red", "broken", "green"});
    a.ahead->Request(1);
    ASSERT_TRUE(a.WaitForReport(1));
    Frame frame;
    ASSERT_TRUE(a.show->Draw(a.show->Clock().At(2500), frame));
    EXPECT_EQ(frame.At(16, 12) & 0xFFFFFF, 0x00FF00u) << "slide 1 is the picture after the damaged one";
    ASSERT_EQ(a.show->LeftOut().size(), 1u);
    EXPECT_NE(a.show->LeftOut()[0].find("p1.bmp"), std::string::npos);
    EXPECT_FALSE(a.ahead->Failed());

    Ahead none({"broken", "also broken"});
    none.ahead->Request(0);
    ASSERT_TRUE(none.WaitForReport(-1));
    EXPECT_TRUE(none.ahead->Failed());
    EXPECT_EQ(none.ahead->ReadySlide(), -1);
    EXPECT_NE(none.show->Problem().find("p0.bmp"), std::string::npos);
}

}  // namespace
}  // namespace nimbrel::show

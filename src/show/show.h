#pragma once
// The show engine: from the project's values, the pictures and a seed, what is on the screen at
// any time of the show. The players, the editor's preview and nimbrel-cli render are front ends
// over it: each brings its own picture decoder and its own way to put pixels on a screen, and
// all of them show the same frame at the same time for the same values, pictures, seed and size.
//
// - Order: the pictures' order (ShowOrder for a screensaver's members, the file list for a
//   project) walked by ShowSequence, reshuffled every round when Random.
// - Time: ShowClock; a live front end runs it through a LiveClock.
// - Pictures: slide k is the k-th picture of the walk that decodes. A picture that cannot be read
//   or decoded is left out for good, taking no time, as if it were not in the show; with none
//   left the background stays and Problem() says why.
// - Decoding ahead: at most two decoded pictures are kept, the slide that shows and the next.
//   A live front end calls Prepare(k + 1) on a worker thread while slide k shows, and draws with
//   Draw(), which never decodes; Render() prepares what a time needs and draws it, for front ends
//   that render single frames.
//
// Room to grow: the screen is a FrameSettings, a list of monitors in one frame. A different
// picture on each monitor becomes one ShowSequence and one slide cache per monitor (a "lane"),
// each composed onto its monitor's rectangle by the same Draw; one picture spanning every
// monitor is a FrameSettings whose only monitor is the whole area; captions are a pass after the
// transition in Draw, with the text drawn by a small interface the front end brings (as it
// brings its decoder), so the engine keeps no fonts.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/pan_zoom.h"
#include "imaging/picture_decoder.h"
#include "project/project_file.h"
#include "show/captions.h"
#include "show/frame_composer.h"
#include "show/show_clock.h"
#include "show/show_options.h"
#include "show/show_order.h"

namespace nimbrel::show {

// The pictures of a show, by index.
class PictureList {
public:
    virtual ~PictureList() = default;
    virtual std::size_t Count() const = 0;
    // The picture's file name (its extension breaks a decoder's ties).
    virtual std::string Name(std::size_t index) const = 0;
    // The picture's bytes; raises nimbrel::Error when they cannot be read. Called from the
    // thread that prepares slides.
    virtual std::string Bytes(std::size_t index) const = 0;
    // The picture's bytes to be read as the decoder goes, where the list can give them so (an
    // archive's members); null where Bytes is the way. Raises nimbrel::Error as Bytes does.
    virtual std::shared_ptr<imaging::PictureStream> Stream(std::size_t) const { return nullptr; }
};

// Pictures in files on disk (a project's file list), in list order.
class FilePictureList : public PictureList {
public:
    explicit FilePictureList(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    std::size_t Count() const override { return paths_.size(); }
    std::string Name(std::size_t index) const override;
    std::string Bytes(std::size_t index) const override;

private:
    std::vector<std::string> paths_;
};

// The screen a show is drawn on: its size and its monitors, in frame coordinates.
struct Screen {
    int width = 0;
    int height = 0;
    std::vector<imaging::Rect> monitors;  // empty: one monitor over the whole screen
};

// For a show whose screen is measured while its first picture decodes (see SetScreen).
struct ScreenLater {};

// The upright size a picture shows at on the screen (the largest over its monitors, keeping
// its proportions): the size hint for decoders that can decode smaller or draw larger.
imaging::DecodeHint ShownSize(const imaging::PictureInfo& info, const FrameSettings& settings);

class Show {
public:
    // The show of `pictures` in `order` (indexes into `pictures`), with the slideshow values of
    // a project (Center, AutoSize, Stretch, KeepAspect, Random, ShowSpeed, Transition, colour).
    // `background` is the colour already turned into a pixel (the players know system colours).
    Show(const project::SlideShowValues& values, imaging::Pixel background, const Screen& screen,
         std::shared_ptr<const PictureList> pictures, std::vector<std::size_t> order,
         imaging::PictureDecoder& decoder, std::uint64_t seed);
    // The same before the screen is known: pictures decode until they are to be placed on it,
    // and wait there for SetScreen (or a stop), so that a front end can measure the screen,
    // which may take a while, as the first picture decodes. SetScreen must come before Draw,
    // DrawBackground and Settings.
    Show(const project::SlideShowValues& values, imaging::Pixel background, ScreenLater,
         std::shared_ptr<const PictureList> pictures, std::vector<std::size_t> order,
         imaging::PictureDecoder& decoder, std::uint64_t seed);
    // Once, for a show made with ScreenLater.
    void SetScreen(const Screen& screen);

    const ShowClock& Clock() const { return clock_; }
    // Pan and zoom, captions and monitors, from the project's values.
    const ShowOptions& Options() const { return options_; }
    const FrameSettings& Settings() const { return settings_; }
    std::size_t PictureCount() const { return order_.size(); }

    // Decodes slide `slide` (and finds out which pictures before it decode, where that is not
    // known yet), keeping it and the slide before. False when the show has no picture that can
    // be shown. One thread at a time prepares; Draw may run meanwhile. When `stop` turns true,
    // a decode under way is abandoned at its next band of rows and Prepare returns false, now
    // and from then on (a front end that stops is done with the show).
    bool Prepare(std::int64_t slide, const std::atomic<bool>* stop = nullptr);
    // True when slide `slide` is decoded and kept.
    bool Ready(std::int64_t slide) const;
    // True once it is known that no picture of the show can be shown.
    bool Empty() const;
    // Why nothing shows ("" while something does).
    std::string Problem() const;
    // The names of the pictures left out so far, each with its reason.
    std::vector<std::string> LeftOut() const;

    // Draws the screen at `moment` from the kept slides into `out` (resized to the screen):
    // the background before any slide is ready or when the show is empty. False when a slide the
    // moment needs is not ready (`out` is then left as it was).
    bool Draw(const Moment& moment, Frame& out) const;
    // Prepares what show time `ms` needs and draws it.
    void Render(std::int64_t ms, Frame& out);

    // For a front end that renders single frames on several cores: decodes, on the calling
    // thread with `decoder` (the thread's own), the picture slide `slide` shows when every
    // picture before it not tried yet turns out good, and keeps it for the Prepare that comes
    // to it, which waits for it rather than decoding it again. Any number of threads may
    // predecode at once, beside Prepare. A picture kept for a slide the show has left behind
    // is dropped, so a caller that predecodes a few slides ahead holds a few pictures at most.
    void Predecode(std::int64_t slide, imaging::PictureDecoder& decoder);
    // The background alone.
    void DrawBackground(Frame& out) const;

    // The captions drawn over the pictures (by member index); none before this is called. Call
    // before the first Draw.
    void SetCaptions(std::shared_ptr<const CaptionLayer> captions) { captions_ = std::move(captions); }

private:
    enum class Status { Unknown, Good, Bad };
    // The member shown as slide `slide`, finding out as needed; -1 when none is left.
    long Resolve(std::int64_t slide);
    bool PrepareSlide(std::int64_t slide);
    // The member's picture, predecoded or decoded now with the show's decoder.
    std::shared_ptr<const Composed> Decode(std::size_t member, std::string* why);
    std::shared_ptr<const Composed> DecodeWith(imaging::PictureDecoder& decoder, std::size_t member,
                                            const std::atomic<bool>* stop, std::string* why) const;
    // Thrown out of a decode when the front end stops (not an error: nothing is left out).
    struct Abandoned {};
    // Pan and zoom: slide k's path.
    imaging::PanZoomPath MotionOf(std::int64_t slide) const;
    // Returns once the screen is known; raises Abandoned when `stop` turns true first.
    void WaitForScreen(const std::atomic<bool>* stop) const;

    std::shared_ptr<const CaptionLayer> captions_;
    ShowOptions options_;
    // Lock order: prepareMutex_ is the outermost and may be held while any other is taken;
    // screenMutex_, keptMutex_ and predecodeMutex_ are leaves: none is held while another of the
    // show's mutexes is taken (a step that needs two takes them one after the other).
    FrameSettings settings_;  // its size and monitors written once, by SetScreen for ScreenLater
    mutable std::mutex screenMutex_;
    mutable std::condition_variable screenSet_;
    bool screenKnown_ = true;
    ShowClock clock_;
    std::uint64_t seed_;
    std::shared_ptr<const PictureList> pictures_;
    std::vector<std::size_t> order_;
    imaging::PictureDecoder& decoder_;

    std::mutex prepareMutex_;   // held while preparing: the walk and the decoder
    const ShowSequence start_;  // the walk before its first step
    ShowSequence sequence_;
    std::vector<Status> status_;               // by member index
    std::vector<std::size_t> slides_;          // the member of each slide found so far
    const std::atomic<bool>* stop_ = nullptr;  // the Prepare under way's, if it has one
    bool abandoned_ = false;

    struct KeptSlide {
        std::size_t member;
        std::shared_ptr<const Composed> frame;
    };
    mutable std::mutex keptMutex_;  // the kept slides and what Draw reads
    std::map<std::int64_t, KeptSlide> kept_;
    bool empty_ = false;
    std::vector<std::string> leftOut_;
    std::string firstFailure_;

    // Predecoding: the walk as it goes when every picture not known to be bad is good.
    struct Predecoded {
        std::int64_t slide = 0;
        bool done = false;
        std::shared_ptr<const Composed> frame;  // null: it did not decode
        std::string why;
    };
    long Guess(std::int64_t slide);  // the member, or -1; predecodeMutex_ held
    std::mutex predecodeMutex_;
    std::condition_variable predecodeDone_;
    ShowSequence guess_;
    std::vector<std::size_t> guessSlides_;
    std::vector<bool> knownBad_;                    // by member
    bool guessStale_ = false;                       // a picture turned out bad: walk again
    std::map<std::size_t, Predecoded> predecoded_;  // by member
};

}  // namespace nimbrel::show

namespace nimbrel::show {

// The paths of a project's file list as files on this machine: a relative path is taken from
// the project's own folder.
std::vector<std::string> PicturePaths(const std::vector<std::string>& files, const std::string& projectPath);

// The order of a project's pictures: the file list's, without entries that name no file.
std::vector<std::size_t> ProjectOrder(const std::vector<std::string>& paths);

// The show of a project's pictures on disk, in the file list's order or in `order` (what the
// editor's preview and nimbrel-cli render play).
std::unique_ptr<Show> MakeProjectShow(const project::SlideShowValues& values,
                                      const std::vector<std::string>& paths, const Screen& screen,
                                      imaging::PictureDecoder& decoder, std::uint64_t seed);
std::unique_ptr<Show> MakeProjectShow(const project::SlideShowValues& values,
                                      const std::vector<std::string>& paths, const Screen& screen,
                                      imaging::PictureDecoder& decoder, std::uint64_t seed,
                                      std::vector<std::size_t> order);

}  // namespace nimbrel::show

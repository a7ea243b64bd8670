#include "show/show.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <span>

#include "imaging/pan_zoom.h"
#include "imaging/row_bands.h"
#include "imaging/transitions.h"
#include "platform/error.h"
#include "platform/files.h"
#include "project/project_paths.h"

namespace nimbrel::show {

std::string FilePictureList::Name(std::size_t index) const {
    return BareName(paths_.at(index));
}

std::string FilePictureList::Bytes(std::size_t index) const {
    return platform::ReadWholeFile(paths_.at(index));
}

namespace {

// A kept slide's picture moved to where it is at one moment: the background around its areas as
// it is, and each area from its view, drawn a band of rows at a time.
class MovingPicture {
public:
    MovingPicture(const Composed& still, const imaging::PanZoomPath& path, double progress) : still_(still) {
        for (const imaging::Rect& area : still.areas)
            areas_.emplace_back(still.frame, area, path.At(progress, area.width, area.height));
    }

    // Rows [first, last) of a frame of the picture's size, into a band of its rows whose first
    // is row `bandFirst`.
    // `stream`: the picture's rows go to memory past the cache (see PanZoomDrawing).
    void DrawRows(imaging::Pixel* band, int bandFirst, int first, int last, bool stream = false) const {
        const Frame& frame = still_.frame;
        const auto width = static_cast<std::size_t>(frame.Width());
        for (int y = first; y < last; ++y) {
            const imaging::Pixel* in = frame.Row(y);
            imaging::Pixel* into = band + static_cast<std::size_t>(y - bandFirst) * width;
            int x = 0;
            for (const imaging::Rect& area : still_.areas) {
                if (y < area.y || y >= area.y + area.height || area.x < x) continue;
                std::copy(in + x, in + area.x, into + x);
                x = area.x + area.width;
            }
            std::copy(in + x, in + frame.Width(), into + x);
        }
        for (const imaging::PanZoomDrawing& area : areas_) area.DrawRows(band, bandFirst, first, last, stream);
    }

private:
    const Composed& still_;
    std::vector<imaging::PanZoomDrawing> areas_;
};

FrameSettings MakeSettings(const project::SlideShowValues& values, imaging::Pixel background,
                           const Screen& screen) {
    FrameSettings settings;
    settings.width = std::max(screen.width, 1);
    settings.height = std::max(screen.height, 1);
    settings.monitors = screen.monitors;
    if (settings.monitors.empty()) settings.monitors.push_back({0, 0, settings.width, settings.height});
    settings.layout =
        imaging::LayoutOptions{values.center, values.autoSize, values.stretch, values.keepAspect};
    settings.background = background | 0xFF000000u;
    return settings;
}

// One picture over the whole frame, the bounding rectangle of every monitor.
void Span(FrameSettings& settings) {
    settings.monitors.assign(1, imaging::Rect{0, 0, settings.width, settings.height});
}

// Formats whose decoders draw or decode at the size a hint asks for.
bool RescalingDecoder(const std::string& format) {
    return format == "jpeg" || format == "webp" || format == "metafile";
}

}  // namespace

imaging::DecodeHint ShownSize(const imaging::PictureInfo& info, const FrameSettings& settings) {
    const bool turned = info.orientation >= 5 && info.orientation <= 8;
    const int uprightWidth = turned ? info.height : info.width;
    const int uprightHeight = turned ? info.width : info.height;
    if (uprightWidth < 1 || uprightHeight < 1) return {};
    // The largest scale any monitor shows the picture at, across or down: a decoder that keeps
    // the proportions must give at least that many pixels both ways.
    double scale = 0;
    for (const imaging::Rect& monitor : settings.monitors) {
        const imaging::Rect place = imaging::LayoutPicture(monitor.width, monitor.height, uprightWidth,
                                                           uprightHeight, settings.layout);
        scale = std::max({scale, static_cast<double>(place.width) / uprightWidth,
                          static_cast<double>(place.height) / uprightHeight});
    }
    if (scale <= 0) return {};
    imaging::DecodeHint hint;
    hint.maxWidth = std::max(1, static_cast<int>(std::ceil(uprightWidth * scale)));
    hint.maxHeight = std::max(1, static_cast<int>(std::ceil(uprightHeight * scale)));
    return hint;
}

Show::Show(const project::SlideShowValues& values, imaging::Pixel background, const Screen& screen,
           std::shared_ptr<const PictureList> pictures, std::vector<std::size_t> order,
           imaging::PictureDecoder& decoder, std::uint64_t seed)
    : options_(ShowOptions::From(values)),
      settings_(MakeSettings(values, background, screen)),
      clock_(values.showSpeed, values.transition, seed),
      seed_(seed),
      pictures_(std::move(pictures)),
      order_(std::move(order)),
      decoder_(decoder),
      start_(order_, values.random, seed),
      sequence_(start_),
      status_(pictures_->Count(), Status::Unknown),
      guess_(start_),
      knownBad_(pictures_->Count(), false) {
    if (options_.monitors == Monitors::Span) Span(settings_);
    std::lock_guard<std::mutex> lock(keptMutex_);
    empty_ = sequence_.Empty();
}

Show::Show(const project::SlideShowValues& values, imaging::Pixel background, ScreenLater,
           std::shared_ptr<const PictureList> pictures, std::vector<std::size_t> order,
           imaging::PictureDecoder& decoder, std::uint64_t seed)
    : Show(values, background, Screen{}, std::move(pictures), std::move(order), decoder, seed) {
    screenKnown_ = false;
}

void Show::SetScreen(const Screen& screen) {
    {
        std::lock_guard<std::mutex> lock(screenMutex_);
        const FrameSettings measured = MakeSettings({}, 0, screen);
        settings_.width = measured.width;
        settings_.height = measured.height;
        settings_.monitors = measured.monitors;
        if (options_.monitors == Monitors::Span) Span(settings_);
        screenKnown_ = true;
    }
    screenSet_.notify_all();
}

void Show::WaitForScreen(const std::atomic<bool>* stop) const {
    std::unique_lock<std::mutex> lock(screenMutex_);
    // The stop flag is the front end's and wakes nobody: looked at now and then.
    while (!screenSet_.wait_for(lock, std::chrono::milliseconds(20), [this] { return screenKnown_; }))
        if (stop != nullptr && stop->load()) throw Abandoned{};
}

std::shared_ptr<const Composed> Show::Decode(std::size_t member, std::string* why) {
    {
        std::unique_lock<std::mutex> lock(predecodeMutex_);
        auto it = predecoded_.find(member);
        if (it != predecoded_.end()) {
            predecodeDone_.wait(lock, [&] { return it->second.done; });
            Predecoded taken = std::move(it->second);
            predecoded_.erase(it);
            if (!taken.frame) *why = taken.why;
            return taken.frame;
        }
    }
    return DecodeWith(decoder_, member, stop_, why);
}

std::shared_ptr<const Composed> Show::DecodeWith(imaging::PictureDecoder& decoder, std::size_t member,
                                              const std::atomic<bool>* stop, std::string* why) const {
    try {
        const std::shared_ptr<imaging::PictureStream> stream = pictures_->Stream(member);
        const std::string bytes = stream ? std::string() : pictures_->Bytes(member);
        const std::string name = pictures_->Name(member);
        auto data =
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        auto open = [&](const imaging::DecodeHint& hint) {
            return stream ? decoder.OpenStream(name, stream, hint) : decoder.Open(name, data, hint);
        };
        imaging::DecodeHint plain;
        plain.stop = stop;
        std::unique_ptr<imaging::PictureSource> source = open(plain);
        WaitForScreen(stop);
        if (source) {
            // A large photo shrinks as it is decoded: by the decoder's own scale where it can
            // settle it after the header (any decoder may), or opened again with the size it
            // shows at (those that draw at a size given to Open). From a shrink of 2 the decoder
            // halves; from 4 on it leaves at least 2 to the area average that follows, whose
            // result is smoother than a decoder's coarse steps.
            const imaging::PictureInfo& info = source->Info();
            const bool metafile = info.format == "metafile";
            imaging::DecodeHint hint = ShownSize(info, settings_);
            hint.stop = stop;
            const int uprightWidth = info.orientation >= 5 && info.orientation <= 8 ? info.height : info.width;
            const double shrink = hint.maxWidth > 0 ? static_cast<double>(uprightWidth) / hint.maxWidth : 1.0;
            if (shrink >= 4 && !metafile) {
                hint.maxWidth *= 2;
                hint.maxHeight *= 2;
            }
            if (hint.maxWidth > 0 && (shrink >= 2 || metafile) && !source->ReduceTo(hint) &&
                RescalingDecoder(info.format))
                if (auto scaled = open(hint)) source = std::move(scaled);
        }
        if (!source) {
            *why = decoder.Refusal();
            if (why->empty()) *why = "not a picture this program can read";
            return nullptr;
        }
        const imaging::PictureInfo& info = source->Info();
        RowReader read = [&source, stop](int first, int count, imaging::Pixel* into) {
            if (stop != nullptr && stop->load()) throw Abandoned{};
            const bool good = source->ReadRows(first, count, into);
            if (!good && stop != nullptr && stop->load()) throw Abandoned{};
            return good;
        };
        std::unique_ptr<Frame> frame =
            ComposeScaledRows(info.width, info.height, source->RowWidth(), source->RowHeight(),
                              info.orientation, read, settings_);
        if (!frame) {
            *why = source->Failure();
            if (why->empty()) *why = "the picture is damaged";
            return nullptr;
        }
        auto composed = std::make_shared<Composed>();
        composed->frame = std::move(*frame);
        composed->areas = PlacedAreas(info.width, info.height, info.orientation, settings_);
        return composed;
    } catch (const std::exception& e) {
        *why = e.what();
        return nullptr;
    }
}

long Show::Resolve(std::int64_t slide) {
    while (static_cast<std::int64_t>(slides_.size()) <= slide) {
        if (sequence_.Empty()) return -1;
        const std::size_t member = sequence_.Next();
        if (status_[member] == Status::Unknown) {
            std::string why;
            std::shared_ptr<const Composed> frame = Decode(member, &why);
            status_[member] = frame ? Status::Good : Status::Bad;
            if (!frame) {
                sequence_.Drop(member);
                {
                    std::lock_guard<std::mutex> lock(predecodeMutex_);
                    if (!knownBad_[member]) guessStale_ = true;
                    knownBad_[member] = true;
                }
                std::lock_guard<std::mutex> lock(keptMutex_);
                const std::string name = pictures_->Name(member);
                leftOut_.push_back(name + ": " + why);
                if (firstFailure_.empty()) firstFailure_ = "\"" + name + "\": " + why;
                if (sequence_.Empty()) empty_ = true;
                continue;
            }
            const auto index = static_cast<std::int64_t>(slides_.size());
            slides_.push_back(member);
            // A picture decoded to find out whether it shows is kept when it is one asked for.
            if (index >= slide - 1) {
                std::lock_guard<std::mutex> lock(keptMutex_);
                kept_[index] = KeptSlide{member, frame};
            }
            continue;
        }
        slides_.push_back(member);
    }
    return static_cast<long>(slides_[static_cast<std::size_t>(slide)]);
}

bool Show::Prepare(std::int64_t slide, const std::atomic<bool>* stop) {
    if (slide < 0) slide = 0;
    std::lock_guard<std::mutex> prepare(prepareMutex_);
    if (abandoned_ || (stop != nullptr && stop->load())) return false;
    stop_ = stop;
    try {
        if (!PrepareSlide(slide)) return false;
        WaitForScreen(stop);
        // The change that leads to the slide draws its first frame as quickly as the others.
        if (slide > 0)
            imaging::PrepareTransition(clock_.EffectOf(slide - 1), settings_.width, settings_.height);
        return true;
    } catch (const Abandoned&) {
        // The walk may be part way through a picture: it cannot go on from here.
        abandoned_ = true;
        return false;
    }
}

bool Show::PrepareSlide(std::int64_t slide) {
    {
        // Pictures predecoded for slides left behind will not be asked for.
        std::lock_guard<std::mutex> lock(predecodeMutex_);
        for (auto it = predecoded_.begin(); it != predecoded_.end();)
            it = it->second.done && it->second.slide < slide - 1 ? predecoded_.erase(it) : std::next(it);
    }
    const long member = Resolve(slide);
    if (member < 0) return false;
    std::shared_ptr<const Composed> frame;
    {
        std::lock_guard<std::mutex> lock(keptMutex_);
        // Keep the slide and the one before it; a slide of the same picture shares its frame.
        for (auto it = kept_.begin(); it != kept_.end();)
            it = it->first == slide || it->first == slide - 1 ? std::next(it) : kept_.erase(it);
        auto have = kept_.find(slide);
        if (have != kept_.end()) return true;
        for (const auto& [index, kept] : kept_)
            if (kept.member == static_cast<std::size_t>(member)) frame = kept.frame;
    }
    if (!frame) {
        std::string why;
        frame = Decode(static_cast<std::size_t>(member), &why);
        // It decoded before; should it fail now, its slide shows the background.
        if (!frame) {
            WaitForScreen(stop_);
            auto blank = std::make_shared<Composed>();
            blank->frame = std::move(*BlankFrame(settings_));
            frame = std::move(blank);
        }
    }
    std::lock_guard<std::mutex> lock(keptMutex_);
    kept_[slide] = KeptSlide{static_cast<std::size_t>(member), std::move(frame)};
    return true;
}

bool Show::Ready(std::int64_t slide) const {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return kept_.count(slide) != 0;
}

bool Show::Empty() const {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return empty_;
}

std::string Show::Problem() const {
    std::lock_guard<std::mutex> lock(keptMutex_);
    if (!empty_) return "";
    if (order_.empty()) return "The show has no pictures.";
    if (order_.size() == 1) return "The show's only picture cannot be shown: " + firstFailure_ + ".";
    return "None of the show's " + std::to_string(order_.size()) + " pictures can be shown (" +
           firstFailure_ + ").";
}

std::vector<std::string> Show::LeftOut() const {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return leftOut_;
}

void Show::DrawBackground(Frame& out) const {
    out.Resize(settings_.width, settings_.height);
    out.Fill(settings_.background & 0x00FFFFFFu);
}

bool Show::Draw(const Moment& moment, Frame& out) const {
    KeptSlide from{}, to{};
    bool haveFrom = false, haveTo = false;
    {
        std::lock_guard<std::mutex> lock(keptMutex_);
        if (empty_) {
            DrawBackground(out);
            return true;
        }
        auto a = kept_.find(moment.slide);
        if (a != kept_.end()) {
            from = a->second;
            haveFrom = true;
        }
        if (moment.phase == Phase::Change) {
            auto b = kept_.find(moment.slide + 1);
            if (b != kept_.end()) {
                to = b->second;
                haveTo = true;
            }
        }
    }
    if (!haveFrom) return false;
    if (moment.phase == Phase::Change && !haveTo) return false;
    // The captions go over the pictures; one caption fades into the next as the pictures change.
    const auto drawCaptions = [&](bool change) {
        if (!captions_) return;
        if (!change || to.member == from.member) {
            captions_->Draw(from.member, settings_.monitors, 256, out);
            return;
        }
        const int in = std::clamp(static_cast<int>(std::lround(moment.progress * 256)), 0, 256);
        captions_->Draw(from.member, settings_.monitors, 256 - in, out);
        captions_->Draw(to.member, settings_.monitors, in, out);
    };
    if (options_.motion) {
        // Drawn in bands of rows, on a few threads for a large frame.
        const Frame& still = from.frame->frame;
        const int width = still.Width(), height = still.Height();
        const int threads = imaging::BandThreadsFor(static_cast<long long>(width) * height);
        const int band = std::max(8, (1 << 16) / std::max(width, 1));
        // A frame shared by threads is larger than the cache: it goes straight to memory.
        const bool stream = threads > 1;
        const bool change = moment.phase == Phase::Change && moment.effect >= 0;
        if (change && (to.frame->frame.Width() != width || to.frame->frame.Height() != height)) return false;
        const MovingPicture moving(*from.frame, MotionOf(moment.slide), clock_.OnScreen(moment.slide, moment.time));
        out.Resize(width, height);
        if (!change) {
            imaging::RunInBands(height, band, threads,
                                [&](int first, int last) { moving.DrawRows(out.Data(), 0, first, last, stream); });
            drawCaptions(false);
            return true;
        }
        // Both pictures move through the change (a show of one picture blends its motion's end
        // into its start).
        const MovingPicture next(*to.frame, MotionOf(moment.slide + 1), clock_.OnScreen(moment.slide + 1, moment.time));
        // Each band of the change is drawn from the rows of the two moving pictures it reads
        // (for most effects the band's own), made just before into the drawing thread's own
        // buffers, which stay in its cache.
        imaging::RunInBands(height, band, threads, [&](int first, int last) {
            imaging::RowRange fromRows, toRows;
            imaging::TransitionRowsRead(moment.effect, moment.progress, width, height, first, last, fromRows, toRows);
            const auto rowsOf = [width](const imaging::RowRange& r) {
                return static_cast<std::size_t>(width) * static_cast<std::size_t>(std::max(r.last - r.first, 0));
            };
            thread_local std::vector<imaging::Pixel> bands;
            const std::size_t rows = static_cast<std::size_t>(width) * static_cast<std::size_t>(last - first);
            // A large frame's band goes to memory past the cache: straight from a fade, otherwise
            // drawn in the cache first.
            const bool direct = stream && imaging::TransitionWritesOnce(moment.effect);
            const bool staged = stream && !direct;
            bands.resize(rowsOf(fromRows) + rowsOf(toRows) + (staged ? rows : 0));
            imaging::Pixel* const fromBand = bands.data();
            imaging::Pixel* const toBand = fromBand + rowsOf(fromRows);
            moving.DrawRows(fromBand, fromRows.first, fromRows.first, fromRows.last);
            next.DrawRows(toBand, toRows.first, toRows.first, toRows.last);
            imaging::Pixel* const outBand = staged ? toBand + rowsOf(toRows) : out.Row(first);
            imaging::RenderTransitionBand(moment.effect, {fromBand, width, height, fromRows.first},
                                          {toBand, width, height, toRows.first}, moment.progress,
                                          {outBand, width, first, direct}, first, last);
            if (staged) imaging::StreamPixels(outBand, out.Row(first), rows);
            // A zoom's small picture may take every row of its picture for one band: that much is
            // not kept for the frames that follow.
            if (bands.size() > 4 * rows) {
                bands.clear();
                bands.shrink_to_fit();
            }
        });
        drawCaptions(true);
        return true;
    }
    // A change to the same picture (a show left with one picture) shows nothing moving.
    if (moment.phase == Phase::Change && to.member != from.member && moment.effect >= 0) {
        imaging::RenderTransition(moment.effect, from.frame->frame, to.frame->frame, moment.progress, out);
        drawCaptions(true);
        return true;
    }
    out = from.frame->frame;
    drawCaptions(false);
    return true;
}

imaging::PanZoomPath Show::MotionOf(std::int64_t slide) const {
    return imaging::ChoosePanZoom(seed_ ^ (static_cast<std::uint64_t>(slide + 1) * 0x9E3779B97F4A7C15ull) ^
                                  0x5A17C0FFEEull);
}

long Show::Guess(std::int64_t slide) {
    if (guessStale_) {
        guess_ = start_;
        guessSlides_.clear();
        guessStale_ = false;
    }
    // Far ahead, the guess would hold a long walk of its own beside the show's: not worth it.
    constexpr std::int64_t kFarthest = 1 << 16;
    if (slide - static_cast<std::int64_t>(guessSlides_.size()) > kFarthest) return -1;
    // As the walk goes: a bad picture is dropped where it is first met.
    while (static_cast<std::int64_t>(guessSlides_.size()) <= slide) {
        if (guess_.Empty()) return -1;
        const std::size_t member = guess_.Next();
        if (knownBad_[member]) {
            guess_.Drop(member);
            continue;
        }
        guessSlides_.push_back(member);
    }
    return static_cast<long>(guessSlides_[static_cast<std::size_t>(slide)]);
}

void Show::Predecode(std::int64_t slide, imaging::PictureDecoder& decoder) {
    if (slide < 0) return;
    // Until a picture decodes: one that turns out damaged moves the later slides along.
    for (;;) {
        long member = -1;
        {
            std::lock_guard<std::mutex> lock(predecodeMutex_);
            member = Guess(slide);
        }
        if (member < 0) return;
        const auto index = static_cast<std::size_t>(member);
        {
            // Decoded for the slide already: nothing to do.
            std::lock_guard<std::mutex> lock(keptMutex_);
            auto kept = kept_.find(slide);
            if (kept != kept_.end() && kept->second.member == index) return;
        }
        {
            std::lock_guard<std::mutex> lock(predecodeMutex_);
            if (knownBad_[index]) continue;
            if (!predecoded_.emplace(index, Predecoded{slide, false, nullptr, {}}).second) return;
        }
        std::string why;
        std::shared_ptr<const Composed> frame = DecodeWith(decoder, index, nullptr, &why);
        const bool good = frame != nullptr;
        {
            std::lock_guard<std::mutex> lock(predecodeMutex_);
            Predecoded& entry = predecoded_[index];
            entry.done = true;
            entry.frame = std::move(frame);
            entry.why = std::move(why);
            if (!good && !knownBad_[index]) {
                knownBad_[index] = true;
                guessStale_ = true;
            }
        }
        predecodeDone_.notify_all();
        if (good) return;
    }
}

void Show::Render(std::int64_t ms, Frame& out) {
    const Moment moment = clock_.At(ms);
    if (!Prepare(moment.slide) || (moment.phase == Phase::Change && !Prepare(moment.slide + 1)) ||
        !Draw(moment, out))
        DrawBackground(out);
}

}  // namespace nimbrel::show

namespace nimbrel::show {

std::vector<std::string> PicturePaths(const std::vector<std::string>& files, const std::string& projectPath) {
    std::vector<std::string> paths;
    for (const std::string& file : files) paths.push_back(project::ResolveProjectPath(file, projectPath));
    return paths;
}

std::vector<std::size_t> ProjectOrder(const std::vector<std::string>& paths) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (!paths[i].empty()) order.push_back(i);
    return order;
}

std::unique_ptr<Show> MakeProjectShow(const project::SlideShowValues& values,
                                      const std::vector<std::string>& paths, const Screen& screen,
                                      imaging::PictureDecoder& decoder, std::uint64_t seed) {
    return MakeProjectShow(values, paths, screen, decoder, seed, ProjectOrder(paths));
}

std::unique_ptr<Show> MakeProjectShow(const project::SlideShowValues& values,
                                      const std::vector<std::string>& paths, const Screen& screen,
                                      imaging::PictureDecoder& decoder, std::uint64_t seed,
                                      std::vector<std::size_t> order) {
    return std::make_unique<Show>(values, imaging::BackgroundPixel(values.backgroundColor), screen,
                                  std::make_shared<FilePictureList>(paths), std::move(order), decoder, seed);
}

}  // namespace nimbrel::show

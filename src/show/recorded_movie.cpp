#include "show/recorded_movie.h"

#include <cmath>
#include <span>

#include "imaging/layout.h"

namespace nimbrel::show {

namespace {

// Whole frames since the start, counted from the time itself so that nothing drifts over a long
// run.
std::uint64_t FramesSinceStart(const flash::FrameIndex& index, std::int64_t ms) {
    if (ms < 0) ms = 0;
    return static_cast<std::uint64_t>(std::floor(static_cast<double>(ms) * index.frameRate / 1000.0));
}

bool SameScreen(const Screen& a, const Screen& b) {
    if (a.width != b.width || a.height != b.height || a.monitors.size() != b.monitors.size()) return false;
    for (std::size_t i = 0; i < a.monitors.size(); ++i) {
        const imaging::Rect &m = a.monitors[i], &n = b.monitors[i];
        if (m.x != n.x || m.y != n.y || m.width != n.width || m.height != n.height) return false;
    }
    return true;
}

}  // namespace

std::size_t MovieFrameAt(const flash::FrameIndex& index, std::int64_t ms) {
    if (index.frames.empty() || !(index.frameRate > 0)) return 0;
    return static_cast<std::size_t>(FramesSinceStart(index, ms) % index.frames.size());
}

std::int64_t NextMovieChange(const flash::FrameIndex& index, std::int64_t ms) {
    if (!(index.frameRate > 0)) return ms + 1000;
    const std::uint64_t next = FramesSinceStart(index, ms) + 1;
    // The first millisecond that counts `next` frames.
    auto at = static_cast<std::int64_t>(std::ceil(static_cast<double>(next) * 1000.0 / index.frameRate));
    while (at > 0 && FramesSinceStart(index, at - 1) >= next) --at;
    while (FramesSinceStart(index, at) < next) ++at;
    return std::max(at, ms + 1);
}

void ComposeMovieScreen(const imaging::Image& picture, std::uint32_t background, const Screen& screen,
                        Frame& out) {
    out.Resize(screen.width, screen.height);
    out.Fill(imaging::MakePixel((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
    if (picture.Empty()) return;
    std::vector<imaging::Rect> monitors = screen.monitors;
    if (monitors.empty()) monitors.push_back({0, 0, screen.width, screen.height});
    imaging::Image scaled;
    for (const imaging::Rect& monitor : monitors) {
        const imaging::Rect place =
            imaging::LayoutPicture(monitor.width, monitor.height, picture.Width(), picture.Height(),
                                   imaging::LayoutOptions{true, false, true, true});
        if (place.width < 1 || place.height < 1) continue;
        // Monitors of one size share one scaling.
        if (scaled.Width() != place.width || scaled.Height() != place.height)
            scaled = imaging::ScaleBilinear(picture, place.width, place.height);
        for (int y = 0; y < place.height; ++y) {
            const int to = monitor.y + place.y + y;
            if (to < 0 || to >= out.Height()) continue;
            imaging::Pixel* row = out.Row(to);
            const imaging::Pixel* from = scaled.Row(y);
            for (int x = 0; x < place.width; ++x) {
                const int tx = monitor.x + place.x + x;
                if (tx >= 0 && tx < out.Width()) row[tx] = from[x] | 0xFF000000u;
            }
        }
    }
}

RecordedMovie::RecordedMovie(flash::FrameIndex index, FrameBytes bytes, imaging::PictureDecoder& decoder)
    : index_(std::move(index)), bytes_(std::move(bytes)), decoder_(decoder) {}

bool RecordedMovie::Draw(std::int64_t ms, const Screen& screen, Frame& out) {
    const std::string* name = index_.frames.empty() ? nullptr : &index_.frames[FrameAt(ms)];
    if (name != nullptr && *name != shownName_) {
        try {
            const std::string data = bytes_(*name);
            auto source = decoder_.Open(
                *name, std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
            if (source) {
                picture_ = imaging::ReadWholePicture(*source);
                shownName_ = *name;
            }
        } catch (const std::exception&) {
            // The picture shown before stays.
        }
    }
    if (drawn_ && drawnName_ == shownName_ && SameScreen(drawnScreen_, screen) &&
        out.Width() == screen.width && out.Height() == screen.height)
        return false;
    ComposeMovieScreen(picture_, index_.background, screen, out);
    drawn_ = true;
    drawnName_ = shownName_;
    drawnScreen_ = screen;
    return true;
}

}  // namespace nimbrel::show

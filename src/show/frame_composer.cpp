#include "show/frame_composer.h"

#include <algorithm>

#include "imaging/exif.h"
#include "imaging/row_resampler.h"

namespace nimbrel::show {

std::unique_ptr<Frame> BlankFrame(const FrameSettings& settings) {
    return std::make_unique<Frame>(std::max(settings.width, 1), std::max(settings.height, 1),
                                   settings.background & 0x00FFFFFFu);
}

std::vector<imaging::Rect> PlacedAreas(int width, int height, int orientation, const FrameSettings& settings) {
    const bool turned = orientation >= 5 && orientation <= 8;
    const int uprightWidth = turned ? height : width, uprightHeight = turned ? width : height;
    std::vector<imaging::Rect> areas;
    if (uprightWidth < 1 || uprightHeight < 1) return areas;
    for (const imaging::Rect& monitor : settings.monitors) {
        const imaging::Rect place = imaging::LayoutPicture(monitor.width, monitor.height, uprightWidth,
                                                           uprightHeight, settings.layout);
        const int x0 = std::max({0, place.x, -monitor.x}), y0 = std::max({0, place.y, -monitor.y});
        const int x1 = std::min({monitor.width, place.x + place.width, settings.width - monitor.x});
        const int y1 = std::min({monitor.height, place.y + place.height, settings.height - monitor.y});
        if (x1 > x0 && y1 > y0) areas.push_back({monitor.x + x0, monitor.y + y0, x1 - x0, y1 - y0});
    }
    return areas;
}

std::unique_ptr<Frame> ComposeRows(int width, int height, int orientation, const RowReader& read,
                                   const FrameSettings& settings) {
    return ComposeScaledRows(width, height, width, height, orientation, read, settings);
}

std::unique_ptr<Frame> ComposeScaledRows(int width, int height, int rowWidth, int rowHeight, int orientation,
                                         const RowReader& read, const FrameSettings& settings) {
    if (orientation < 1 || orientation > 8) orientation = 1;
    const bool turned = orientation >= 5;
    const int uprightWidth = turned ? height : width, uprightHeight = turned ? width : height;
    auto frame = BlankFrame(settings);
    struct Part {
        imaging::RowResampler resampler;
        int left, top;  // where the part that shows goes in the frame
        bool inFrame;   // scaled straight into the frame's rows
    };
    std::vector<Part> parts;
    for (const imaging::Rect& monitor : settings.monitors) {
        imaging::Rect place = imaging::LayoutPicture(monitor.width, monitor.height, uprightWidth,
                                                     uprightHeight, settings.layout);
        // The part of the placed picture on this monitor, in the scaled picture's coordinates.
        int x0 = std::max(0, place.x), y0 = std::max(0, place.y);
        int x1 = std::min(monitor.width, place.x + place.width),
            y1 = std::min(monitor.height, place.y + place.height);
        if (x1 <= x0 || y1 <= y0) continue;
        imaging::Rect shown{x0 - place.x, y0 - place.y, x1 - x0, y1 - y0};
        int scaledWidth = turned ? place.height : place.width;
        int scaledHeight = turned ? place.width : place.height;
        imaging::Rect stored = imaging::StoredRect(shown, orientation, scaledWidth, scaledHeight);
        Part part{imaging::RowResampler(rowWidth, rowHeight, scaledWidth, scaledHeight, stored,
                                        settings.background),
                  monitor.x + x0, monitor.y + y0, false};
        // An upright picture is scaled into the frame itself, without a picture of its own to
        // copy (a screenful of fresh memory costs more than the scaling on some systems).
        part.inFrame = orientation == 1 && part.left >= 0 && part.top >= 0 &&
                       part.left + shown.width <= frame->Width() &&
                       part.top + shown.height <= frame->Height();
        if (part.inFrame)
            part.resampler.WriteInto(frame->Row(part.top) + part.left,
                                     static_cast<std::size_t>(frame->Width()), 0x00FFFFFFu);
        parts.push_back(std::move(part));
    }
    if (parts.empty()) return frame;
    int first = rowHeight, last = 0;
    for (const Part& part : parts) {
        first = std::min(first, part.resampler.FirstNeededRow());
        last = std::max(last, part.resampler.LastNeededRow());
    }
    // Bands of about 1 MB: each is read and scaled while it is still in the cache.
    const int band =
        std::clamp(static_cast<int>((1u << 20) / (static_cast<unsigned>(rowWidth) * 4u)), 1, rowHeight);
    std::vector<imaging::Pixel> rows(static_cast<std::size_t>(band) * static_cast<std::size_t>(rowWidth));
    for (int y = first; y < last; y += band) {
        int count = std::min(band, last - y);
        if (!read(y, count, rows.data())) return nullptr;
        for (int k = 0; k < count; ++k)
            for (Part& part : parts)
                part.resampler.PushRow(
                    y + k, rows.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(rowWidth));
    }
    for (Part& part : parts) {
        if (part.inFrame) continue;
        imaging::Image taken = part.resampler.Take();
        // Upright already for most photos: no copy of a screenful.
        const imaging::Image shown =
            orientation == 1 ? std::move(taken) : imaging::ApplyOrientation(taken, orientation);
        for (int y = 0; y < shown.Height(); ++y) {
            int fy = part.top + y;
            if (fy < 0 || fy >= frame->Height()) continue;
            const imaging::Pixel* in = shown.Row(y);
            imaging::Pixel* out = frame->Row(fy);
            for (int x = 0; x < shown.Width(); ++x) {
                int fx = part.left + x;
                if (fx >= 0 && fx < frame->Width()) out[fx] = in[x] & 0x00FFFFFFu;
            }
        }
    }
    return frame;
}

std::unique_ptr<Frame> ComposeImage(const imaging::Image& picture, const FrameSettings& settings) {
    RowReader read = [&picture](int first, int count, imaging::Pixel* into) {
        std::copy(picture.Row(first), picture.Row(first) + static_cast<std::size_t>(count) * picture.Width(),
                  into);
        return true;
    };
    return ComposeRows(picture.Width(), picture.Height(), 1, read, settings);
}

std::unique_ptr<Frame> ComposePicture(imaging::PictureSource& source, const FrameSettings& settings) {
    const imaging::PictureInfo& info = source.Info();
    RowReader read = [&source](int first, int count, imaging::Pixel* into) {
        return source.ReadRows(first, count, into);
    };
    return ComposeScaledRows(info.width, info.height, source.RowWidth(), source.RowHeight(), info.orientation,
                             read, settings);
}

}  // namespace nimbrel::show

#include "imaging/pan_zoom.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/random_source.h"

namespace nimbrel::imaging {

PanZoomView PanZoomPath::At(double progress, int width, int height) const {
    progress = std::clamp(progress, 0.0, 1.0);
    PanZoomView view;
    view.zoom = std::max(1.0, zoomFrom + (zoomTo - zoomFrom) * progress);
    const double most = std::max(zoomFrom, zoomTo);
    // The pan goes with the zoom: at zoom 1 the view is the whole rectangle.
    const double pan = most > 1 ? (view.zoom - 1) / (most - 1) : 0;
    const double viewWidth = width / view.zoom, viewHeight = height / view.zoom;
    const double centreX = width * (0.5 + (focusX - 0.5) * pan);
    const double centreY = height * (0.5 + (focusY - 0.5) * pan);
    view.left = std::clamp(centreX - viewWidth / 2, 0.0, width - viewWidth);
    view.top = std::clamp(centreY - viewHeight / 2, 0.0, height - viewHeight);
    return view;
}

PanZoomPath ChoosePanZoom(std::uint64_t seed) {
    RandomSource random(seed);
    random.Next();
    auto fraction = [&random] { return static_cast<double>(random.Next() >> 11) / 9007199254740992.0; };
    PanZoomPath path;
    const double zoom = kMinPanZoom + (kMaxPanZoom - kMinPanZoom) * fraction();
    // Zooming in and out alike; the point of interest away from the very edges, where a photo's
    // subject seldom is.
    if (random.Next() & 1) {
        path.zoomTo = zoom;
    } else {
        path.zoomFrom = zoom;
    }
    path.focusX = 0.2 + 0.6 * fraction();
    path.focusY = 0.2 + 0.6 * fraction();
    return path;
}

namespace {

// A source coordinate split into the pixel before it and the weight (0..256) of the one after.
struct Tap {
    int index;
    std::uint32_t weight;
};

Tap MakeTap(double position, int size) {
    position = std::clamp(position, 0.0, static_cast<double>(size - 1));
    int index = std::min(static_cast<int>(position), std::max(size - 2, 0));
    auto weight = static_cast<std::uint32_t>(std::lround((position - index) * 256));
    if (size == 1) weight = 0;
    return {index, std::min<std::uint32_t>(weight, 256)};
}

}  // namespace

void DrawPanZoom(const Image& still, const Rect& area, const PanZoomView& view, Image& out, int fromRow,
                 int toRow) {
    const int x0 = std::max(area.x, 0), y0 = std::max(area.y, 0);
    const int x1 = std::min(area.x + area.width, still.Width()), y1 = std::min(area.y + area.height, still.Height());
    if (x1 <= x0 || y1 <= y0 || out.Width() != still.Width() || out.Height() != still.Height()) return;
    const int width = x1 - x0, height = y1 - y0;
    const double step = 1 / std::max(view.zoom, 1.0);
    // Columns: where each output pixel's centre falls in the still picture's part.
    std::vector<Tap> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) columns[static_cast<std::size_t>(x)] = MakeTap(view.left + (x + 0.5) * step - 0.5, width);
    const int first = columns.front().index;
    const int last = std::min(columns.back().index + 1, width - 1);
    std::vector<Pixel> blended(static_cast<std::size_t>(width));
    // The area's rows are counted from its top, before clipping to the picture.
    const int firstRow = std::max(fromRow - (y0 - area.y), 0), endRow = std::min(toRow - (y0 - area.y), height);
    for (int y = firstRow; y < endRow; ++y) {
        const Tap row = MakeTap(view.top + (y + 0.5) * step - 0.5, height);
        const Pixel* above = still.Row(y0 + row.index) + x0;
        const Pixel* below = still.Row(y0 + std::min(row.index + 1, height - 1)) + x0;
        // Down first, over the columns the view takes, then across.
        if (row.weight == 0) {
            std::copy(above + first, above + last + 1, blended.data() + first);
        } else {
            for (int x = first; x <= last; ++x) blended[static_cast<std::size_t>(x)] = BlendPixels(above[x], below[x], row.weight);
        }
        Pixel* into = out.Row(y0 + y) + x0;
        const Pixel* from = blended.data();
        const int lastIndex = width - 1;
        for (int x = 0; x < width; ++x) {
            const Tap& c = columns[static_cast<std::size_t>(x)];
            const Pixel a = from[c.index];
            into[x] = c.weight == 0 ? a : BlendPixels(a, from[std::min(c.index + 1, lastIndex)], c.weight);
        }
    }
}

}  // namespace nimbrel::imaging

#include "imaging/pan_zoom.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

// Blends two rows: out = (above * (256 - w) + below * w) / 256 per channel, as BlendPixels does.
void BlendRows(const Pixel* above, const Pixel* below, std::uint32_t w, Pixel* out, int count) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i wb = _mm_set1_epi16(static_cast<short>(w)), wa = _mm_set1_epi16(static_cast<short>(256 - w));
    for (; x + 4 <= count; x += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + x));
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), wa),
                                                        _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wb)), 8);
        const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), wa),
                                                        _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wb)), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < count; ++x) out[x] = BlendPixels(above[x], below[x], w);
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
    for (int x = 0; x < width; ++x)
        columns[static_cast<std::size_t>(x)] = MakeTap(view.left + (x + 0.5) * step - 0.5, width);
    const int first = columns.front().index;
    const int last = std::min(columns.back().index + 1, width - 1);
#if defined(__SSE2__)
    // Each column's two weights, four times each, for the channels of the pixel pair it blends.
    struct Weights {
        std::int16_t lanes[8];
    };
    std::vector<Weights> weights(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        const auto w = static_cast<std::int16_t>(columns[static_cast<std::size_t>(x)].weight);
        const auto iw = static_cast<std::int16_t>(256 - w);
        weights[static_cast<std::size_t>(x)] = Weights{{iw, iw, iw, iw, w, w, w, w}};
    }
    auto weightsOf = [&weights](int x) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights[static_cast<std::size_t>(x)].lanes));
    };
    const __m128i zero = _mm_setzero_si128();
#endif
    // One more than the row, so that the pixel after the last is always there to read.
    std::vector<Pixel> blended(static_cast<std::size_t>(width) + 1);
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
            BlendRows(above + first, below + first, row.weight, blended.data() + first, last - first + 1);
        }
        blended[static_cast<std::size_t>(last) + 1] = blended[static_cast<std::size_t>(last)];
        Pixel* into = out.Row(y0 + y) + x0;
        const Pixel* from = blended.data();
        int x = 0;
#if defined(__SSE2__)
        for (; x + 2 <= width; x += 2) {
            const __m128i p0 = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + columns[static_cast<std::size_t>(x)].index)), zero);
            const __m128i p1 = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + columns[static_cast<std::size_t>(x) + 1].index)),
                zero);
            const __m128i m0 = _mm_mullo_epi16(p0, weightsOf(x));
            const __m128i m1 = _mm_mullo_epi16(p1, weightsOf(x + 1));
            // The first pixel's two halves in the low lanes, the second's in the high ones.
            const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(m0, m1), _mm_unpackhi_epi64(m0, m1));
            const __m128i pixels = _mm_srli_epi16(sum, 8);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(into + x), _mm_packus_epi16(pixels, pixels));
        }
#endif
        for (; x < width; ++x) {
            const Tap& c = columns[static_cast<std::size_t>(x)];
            into[x] = BlendPixels(from[c.index], from[c.index + 1], c.weight);
        }
    }
}

}  // namespace nimbrel::imaging

#include "imaging/pan_zoom.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/random_source.h"
#include "imaging/row_bands.h"
#include "imaging/wide_vectors.h"

#if defined(NIMBREL_WIDE_VECTORS)
#include <immintrin.h>
#endif

namespace nimbrel::imaging {

namespace {

#if defined(NIMBREL_WIDE_VECTORS)
// Output pixels `at` and `at` + 1, each one's two source pixels widened to 16-bit lanes (in its
// own 128-bit half) and weighed by that column's two weights.
NIMBREL_TARGET_AVX2 inline __m256i WeighedPairs(const Pixel* blended, const PanZoomDrawing::Tap* columns,
                                                const std::int16_t* weights, int at) {
    __m128i pairs = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blended + columns[at].index));
    pairs = _mm_castpd_si128(
        _mm_loadh_pd(_mm_castsi128_pd(pairs), reinterpret_cast<const double*>(blended + columns[at + 1].index)));
    return _mm256_mullo_epi16(_mm256_cvtepu8_epi16(pairs),
                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + at * 8)));
}

// The step across a row, eight output pixels at a time, with the narrow path's arithmetic: returns
// how many pixels it drew (the rest are left to the narrow path).
NIMBREL_TARGET_AVX2 int AcrossWide(const Pixel* blended, const PanZoomDrawing::Tap* columns,
                                   const std::int16_t* weights, Pixel* into, int width, bool stream) {
    int x = 0;
    if (stream) {
        for (; x < width && (reinterpret_cast<std::uintptr_t>(into + x) & 31) != 0; ++x)
            into[x] = BlendPixels(blended[columns[x].index], blended[columns[x].index + 1], columns[x].weight);
    }
    // After the packing, the low halves hold pixels 0, 2, 4, 6 and the high ones 1, 3, 5, 7.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (; x + 8 <= width; x += 8) {
        const __m256i m01 = WeighedPairs(blended, columns, weights, x);
        const __m256i m23 = WeighedPairs(blended, columns, weights, x + 2);
        const __m256i m45 = WeighedPairs(blended, columns, weights, x + 4);
        const __m256i m67 = WeighedPairs(blended, columns, weights, x + 6);
        const __m256i p0213 =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_unpacklo_epi64(m01, m23), _mm256_unpackhi_epi64(m01, m23)), 8);
        const __m256i p4657 =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_unpacklo_epi64(m45, m67), _mm256_unpackhi_epi64(m45, m67)), 8);
        const __m256i pixels = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p0213, p4657), order);
        if (stream) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(into + x), pixels);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(into + x), pixels);
        }
    }
    return x;
}
#endif

}  // namespace

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

PanZoomDrawing::Tap PanZoomDrawing::MakeTap(double position, int size) {
    position = std::clamp(position, 0.0, static_cast<double>(size - 1));
    int index = std::min(static_cast<int>(position), std::max(size - 2, 0));
    auto weight = static_cast<std::uint32_t>(std::lround((position - index) * 256));
    if (size == 1) weight = 0;
    return {index, std::min<std::uint32_t>(weight, 256)};
}

PanZoomDrawing::PanZoomDrawing(const Image& still, const Rect& area, const PanZoomView& view)
    : still_(still), view_(view) {
    x0_ = std::max(area.x, 0);
    y0_ = std::max(area.y, 0);
    const int x1 = std::min(area.x + area.width, still.Width()), y1 = std::min(area.y + area.height, still.Height());
    if (x1 <= x0_ || y1 <= y0_) return;
    empty_ = false;
    width_ = x1 - x0_;
    height_ = y1 - y0_;
    step_ = 1 / std::max(view.zoom, 1.0);
    // Columns: where each output pixel's centre falls in the still picture's part.
    columns_.resize(static_cast<std::size_t>(width_));
    weights_.resize(static_cast<std::size_t>(width_) * 8);
    for (int x = 0; x < width_; ++x) {
        const Tap tap = MakeTap(view.left + (x + 0.5) * step_ - 0.5, width_);
        columns_[static_cast<std::size_t>(x)] = tap;
        const auto w = static_cast<std::int16_t>(tap.weight);
        const auto iw = static_cast<std::int16_t>(256 - w);
        std::int16_t* lanes = weights_.data() + static_cast<std::size_t>(x) * 8;
        for (int k = 0; k < 4; ++k) {
            lanes[k] = iw;
            lanes[k + 4] = w;
        }
    }
    first_ = columns_.front().index;
    last_ = std::min(columns_.back().index + 1, width_ - 1);
}

void PanZoomDrawing::DrawRows(Image& out, int fromRow, int toRow) const {
    if (out.Width() != still_.Width() || out.Height() != still_.Height()) return;
    DrawRows(out.Data(), 0, std::max(fromRow, 0), std::min(toRow, out.Height()));
}

void PanZoomDrawing::DrawRows(Pixel* band, int bandFirst, int fromRow, int toRow, bool stream) const {
    static_cast<void>(stream);  // without SSE2 every store goes through the cache
    if (empty_) return;
    const int begin = std::max(fromRow, y0_) - y0_, end = std::min(toRow, y0_ + height_) - y0_;
    if (begin >= end) return;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const auto* weights = reinterpret_cast<const __m128i*>(weights_.data());
#endif
    // One more than the row, so that the pixel after the last is always there to read.
    thread_local std::vector<Pixel> scratch;
    scratch.resize(static_cast<std::size_t>(width_) + 1);
    Pixel* blended = scratch.data();
    const bool prefetch = static_cast<long long>(still_.Width()) * still_.Height() > kSharedFramePixels;
    static_cast<void>(prefetch);  // without SSE2 the processor finds the rows by itself
    const Tap* columns = columns_.data();
    const bool wide = WideVectors();
    static_cast<void>(wide);  // without AVX2 in the build, the narrow path draws every row
    for (int y = begin; y < end; ++y) {
        const Tap row = MakeTap(view_.top + (y + 0.5) * step_ - 0.5, height_);
        const Pixel* above = still_.Row(y0_ + row.index) + x0_;
        const Pixel* below = still_.Row(y0_ + std::min(row.index + 1, height_ - 1)) + x0_;
#if defined(__SSE2__)
        // The row two on is asked for now, so that it is on its way from memory while this one is
        // drawn (a picture this large is not in the cache).
        if (prefetch && row.index + 2 < height_) {
            const auto* ahead = reinterpret_cast<const char*>(still_.Row(y0_ + row.index + 2) + x0_ + first_);
            const auto* aheadEnd = reinterpret_cast<const char*>(still_.Row(y0_ + row.index + 2) + x0_ + last_ + 1);
            for (; ahead < aheadEnd; ahead += 64) _mm_prefetch(ahead, _MM_HINT_T0);
        }
#endif
        // Down first, over the columns the view takes, then across.
        if (row.weight == 0) {
            std::copy(above + first_, above + last_ + 1, blended + first_);
        } else {
            BlendRow(above + first_, below + first_, row.weight, blended + first_, last_ - first_ + 1);
        }
        blended[last_ + 1] = blended[last_];
        Pixel* into = band + static_cast<std::size_t>(y0_ + y - bandFirst) * still_.Width() + x0_;
        int x = 0;
#if defined(NIMBREL_WIDE_VECTORS)
        if (wide) x = AcrossWide(blended, columns, weights_.data(), into, width_, stream);
#endif
#if defined(__SSE2__)
        // Two pixels' channels as 16-bit lanes: the first's in the low half, the second's in the high.
        const auto two = [&](int at) {
            const __m128i p0 =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(blended + columns[at].index)), zero);
            const __m128i p1 = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(blended + columns[at + 1].index)), zero);
            const __m128i m0 = _mm_mullo_epi16(p0, _mm_loadu_si128(weights + at));
            const __m128i m1 = _mm_mullo_epi16(p1, _mm_loadu_si128(weights + at + 1));
            return _mm_srli_epi16(_mm_add_epi16(_mm_unpacklo_epi64(m0, m1), _mm_unpackhi_epi64(m0, m1)), 8);
        };
        if (stream) {
            // Up to a 16-byte boundary, then four pixels at a time straight to memory, past the
            // cache: a frame this large leaves the cache before anything reads it again.
            for (; x < width_ && (reinterpret_cast<std::uintptr_t>(into + x) & 15) != 0; ++x) {
                const Tap& c = columns[x];
                into[x] = BlendPixels(blended[c.index], blended[c.index + 1], c.weight);
            }
            for (; x + 4 <= width_; x += 4)
                _mm_stream_si128(reinterpret_cast<__m128i*>(into + x), _mm_packus_epi16(two(x), two(x + 2)));
        }
        for (; x + 4 <= width_; x += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(into + x), _mm_packus_epi16(two(x), two(x + 2)));
        for (; x + 2 <= width_; x += 2) {
            const __m128i pixels = two(x);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(into + x), _mm_packus_epi16(pixels, pixels));
        }
#endif
        for (; x < width_; ++x) {
            const Tap& c = columns[x];
            into[x] = BlendPixels(blended[c.index], blended[c.index + 1], c.weight);
        }
    }
#if defined(__SSE2__)
    if (stream) _mm_sfence();
#endif
}

void DrawPanZoom(const Image& still, const Rect& area, const PanZoomView& view, Image& out, int fromRow,
                 int toRow) {
    // The area's rows counted from its top, as frame rows.
    const auto frameRow = [&area](int row) {
        return static_cast<int>(std::clamp<long long>(static_cast<long long>(area.y) + row,
                                                      std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    };
    const int from = frameRow(fromRow), to = frameRow(toRow);
    PanZoomDrawing(still, area, view).DrawRows(out, from, to);
}

}  // namespace nimbrel::imaging

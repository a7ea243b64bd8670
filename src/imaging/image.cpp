#include "imaging/image.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>

#include "imaging/wide_vectors.h"
#include "platform/error.h"

#if defined(NIMBREL_WIDE_VECTORS)
#include <immintrin.h>
#endif

namespace nimbrel::imaging {

namespace {

#if defined(__SSE2__)
// Four pixels of a and b blended as BlendPixels does: each channel's a * (256 - w) + b * w is at
// most 255 * 256, so it fits a 16-bit lane, and the shift keeps its high byte.
inline __m128i Blend4(__m128i a, __m128i b, __m128i wa, __m128i wb) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), wa),
                                                    _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wb)), 8);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), wa),
                                                    _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wb)), 8);
    return _mm_packus_epi16(lo, hi);
}
#endif

#if defined(NIMBREL_WIDE_VECTORS)
// Blend4 over eight pixels: the unpacking and packing stay within each 128-bit half, so the
// pixels keep their order.
NIMBREL_TARGET_AVX2 int BlendRowWide(const Pixel* a, const Pixel* b, std::uint32_t w, Pixel* out, int count,
                                     bool stream) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i wb = _mm256_set1_epi16(static_cast<short>(w)), wa = _mm256_set1_epi16(static_cast<short>(256 - w));
    int x = 0;
    if (stream)
        for (; x < count && (reinterpret_cast<std::uintptr_t>(out + x) & 31) != 0; ++x) out[x] = BlendPixels(a[x], b[x], w);
    for (; x + 8 <= count; x += 8) {
        const __m256i pa = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x));
        const __m256i pb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + x));
        const __m256i lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(pa, zero), wa),
                                                              _mm256_mullo_epi16(_mm256_unpacklo_epi8(pb, zero), wb)),
                                             8);
        const __m256i hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(pa, zero), wa),
                                                              _mm256_mullo_epi16(_mm256_unpackhi_epi8(pb, zero), wb)),
                                             8);
        if (stream) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + x), _mm256_packus_epi16(lo, hi));
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_packus_epi16(lo, hi));
        }
    }
    return x;
}
#endif

std::atomic<bool> wideAllowed{true};

}  // namespace

bool WideVectors() {
#if defined(NIMBREL_WIDE_VECTORS)
    static const bool present = __builtin_cpu_supports("avx2");
    return present && wideAllowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void AllowWideVectors(bool allow) {
    wideAllowed.store(allow, std::memory_order_relaxed);
}

void BlendRow(const Pixel* a, const Pixel* b, std::uint32_t w, Pixel* out, int count, bool stream) {
    int x = 0;
#if defined(NIMBREL_WIDE_VECTORS)
    if (WideVectors()) x = BlendRowWide(a, b, w, out, count, stream);
#endif
#if defined(__SSE2__)
    const __m128i wb = _mm_set1_epi16(static_cast<short>(w)), wa = _mm_set1_epi16(static_cast<short>(256 - w));
    if (stream) {
        for (; x < count && (reinterpret_cast<std::uintptr_t>(out + x) & 15) != 0; ++x)
            out[x] = BlendPixels(a[x], b[x], w);
        for (; x + 4 <= count; x += 4) {
            const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
            const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + x), Blend4(pa, pb, wa, wb));
        }
        _mm_sfence();
    }
    for (; x + 4 <= count; x += 4) {
        const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), Blend4(pa, pb, wa, wb));
    }
#endif
    for (; x < count; ++x) out[x] = BlendPixels(a[x], b[x], w);
}

void BlendRowWith(const Pixel* a, Pixel b, std::uint32_t w, Pixel* out, int count, bool stream) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i wb = _mm_set1_epi16(static_cast<short>(w)), wa = _mm_set1_epi16(static_cast<short>(256 - w));
    const __m128i pb = _mm_set1_epi32(static_cast<int>(b));
    if (stream) {
        for (; x < count && (reinterpret_cast<std::uintptr_t>(out + x) & 15) != 0; ++x) out[x] = BlendPixels(a[x], b, w);
        for (; x + 4 <= count; x += 4) {
            const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + x), Blend4(pa, pb, wa, wb));
        }
        _mm_sfence();
    }
    for (; x + 4 <= count; x += 4) {
        const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), Blend4(pa, pb, wa, wb));
    }
#endif
    for (; x < count; ++x) out[x] = BlendPixels(a[x], b, w);
}

void StreamPixels(const Pixel* from, Pixel* to, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i < count && (reinterpret_cast<std::uintptr_t>(to + i) & 15) != 0; ++i) to[i] = from[i];
    for (; i + 4 <= count; i += 4)
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
    _mm_sfence();
#endif
    for (; i < count; ++i) to[i] = from[i];
}

bool ImageSizeAllowed(std::int64_t width, std::int64_t height) {
    return width >= 0 && height >= 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= kMaxImagePixels;
}

Image::Image(int width, int height, Pixel fill) {
    Resize(width, height);
    Fill(fill);
}

void Image::Fill(Pixel p) {
    std::fill(pixels_.begin(), pixels_.end(), p);
}

void Image::Resize(int width, int height) {
    if (!ImageSizeAllowed(width, height)) throw Error("The picture is too large");
    width_ = width;
    height_ = height;
    pixels_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
}

Image ScaleNearest(const Image& source, int width, int height) {
    Image out(width, height);
    if (out.Empty() || source.Empty()) return out;
    std::vector<int> xs(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        xs[x] = static_cast<int>((static_cast<std::int64_t>(2 * x + 1) * source.Width()) / (2 * width));
    for (int y = 0; y < height; ++y) {
        int sy = static_cast<int>((static_cast<std::int64_t>(2 * y + 1) * source.Height()) / (2 * height));
        const Pixel* src = source.Row(sy);
        Pixel* dst = out.Row(y);
        for (int x = 0; x < width; ++x) dst[x] = src[xs[x]];
    }
    return out;
}

namespace {

// One axis of a bilinear scale: the two source indexes and the weight (0..256) of the second.
struct Tap {
    int i0, i1, w;
};

std::vector<Tap> Taps(int sourceSize, int size) {
    std::vector<Tap> taps(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        double pos = (i + 0.5) * sourceSize / size - 0.5;
        pos = std::clamp(pos, 0.0, static_cast<double>(sourceSize - 1));
        int i0 = static_cast<int>(pos);
        int i1 = std::min(i0 + 1, sourceSize - 1);
        taps[i] = {i0, i1, static_cast<int>((pos - i0) * 256.0 + 0.5)};
    }
    return taps;
}

}  // namespace

Image ScaleBilinear(const Image& source, int width, int height) {
    Image out(width, height);
    if (out.Empty() || source.Empty()) return out;
    std::vector<Tap> xt = Taps(source.Width(), width);
    std::vector<Tap> yt = Taps(source.Height(), height);
    for (int y = 0; y < height; ++y) {
        const Pixel* r0 = source.Row(yt[y].i0);
        const Pixel* r1 = source.Row(yt[y].i1);
        auto wy = static_cast<std::uint32_t>(yt[y].w);
        Pixel* dst = out.Row(y);
        for (int x = 0; x < width; ++x) {
            const Tap& t = xt[x];
            auto wx = static_cast<std::uint32_t>(t.w);
            dst[x] =
                BlendPixels(BlendPixels(r0[t.i0], r0[t.i1], wx), BlendPixels(r1[t.i0], r1[t.i1], wx), wy);
        }
    }
    return out;
}

}  // namespace nimbrel::imaging

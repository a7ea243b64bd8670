// The blending families: the fade, and the dissolve whose cells turn in a fixed random order.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/transition_effects.h"

namespace nimbrel::imaging::detail {

namespace {

// The dissolve's cells in the order they turn: each cell's Hash01 as a 24-bit key, worked out
// once for a size and block and kept for the frames that follow (the hashing is most of a
// dissolve's cost). A cell shows the new picture once its key is below t * 2^24, exactly where
// Hash01 < t.
struct DissolveKeys {
    int width = 0, height = 0, block = 0;
    int cols = 0;
    std::vector<std::uint32_t> keys;  // by cell row, then cell column
};

// Hash01's 24 bits as an integer, for a row of cells at once (the compiler vectorises it).
void HashRow(std::uint32_t row, std::uint32_t seed, int cols, std::uint32_t* keys) {
    const std::uint32_t base = row * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    for (int c = 0; c < cols; ++c) {
        std::uint32_t h = static_cast<std::uint32_t>(c) * 0x8DA6B343u ^ base;
        h ^= h >> 16;
        h *= 0x7FEB352Du;
        h ^= h >> 15;
        h *= 0x846CA68Bu;
        h ^= h >> 16;
        keys[c] = h >> 8;
    }
}

std::shared_ptr<const DissolveKeys> KeysFor(int w, int h, int block) {
    // The tables of the last two dissolves: the one being drawn and the one prepared next.
    static std::mutex mutex;
    static std::array<std::shared_ptr<DissolveKeys>, 2> recent;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& keys : recent)
        if (keys && keys->width == w && keys->height == h && keys->block == block) return keys;
    // The older table's memory is reused when no frame is being drawn from it: a new allocation
    // of screen size costs more in page faults than the hashing.
    std::shared_ptr<DissolveKeys> made =
        recent[1] && recent[1].use_count() == 1 ? std::move(recent[1]) : std::make_shared<DissolveKeys>();
    made->width = w;
    made->height = h;
    made->block = block;
    made->cols = (w + block - 1) / block;
    const int rows = (h + block - 1) / block;
    made->keys.resize(static_cast<std::size_t>(made->cols) * static_cast<std::size_t>(rows));
    const auto seed = static_cast<std::uint32_t>(1 + block);
    for (int r = 0; r < rows; ++r)
        HashRow(static_cast<std::uint32_t>(r), seed, made->cols,
                made->keys.data() + static_cast<std::size_t>(r) * made->cols);
    recent[1] = std::move(recent[0]);
    recent[0] = made;
    return made;
}

}  // namespace

void PrepareDissolve(int width, int height, int block) {
    KeysFor(width, height, block);
}

template <class Rows>
void RenderDissolve(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1) {
    const int w = from.Width(), h = from.Height(), block = e.a;
    const auto keys = KeysFor(w, h, block);
    const auto threshold = static_cast<std::uint32_t>(std::ceil(t * 16777216.0));
    std::vector<std::uint32_t> expanded(block > 1 ? static_cast<std::size_t>(w) : 0);
    for (int y = y0; y < y1; ++y) {
        const std::uint32_t* cells = keys->keys.data() + static_cast<std::size_t>(y / block) * keys->cols;
        const std::uint32_t* key = cells;
        if (block > 1) {
            if (y % block == 0 || y == y0) {
                if ((block & (block - 1)) == 0) {
                    // The blocks are powers of two: each pixel's cell by a shift.
                    const int shift = std::countr_zero(static_cast<unsigned>(block));
                    for (int x = 0; x < w; ++x) expanded[static_cast<std::size_t>(x)] = cells[x >> shift];
                } else {
                    for (int c = 0, x = 0; x < w; ++c, x += block)
                        std::fill(expanded.begin() + x, expanded.begin() + std::min(w, x + block), cells[c]);
                }
            }
            key = expanded.data();
        }
        const Pixel* a = from.Row(y);
        const Pixel* b = to.Row(y);
        Pixel* dst = out.Row(y);
        // Without branches: at half way every other pixel would be a mispredicted jump.
        int x = 0;
#if defined(__SSE2__)
        // The keys have 24 bits and the threshold at most 2^24, so the signed compare is exact.
        const __m128i limit = _mm_set1_epi32(static_cast<int>(threshold));
        for (; x + 4 <= w; x += 4) {
            const __m128i take =
                _mm_cmpgt_epi32(limit, _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + x)));
            const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
            const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                             _mm_or_si128(_mm_and_si128(take, pb), _mm_andnot_si128(take, pa)));
        }
#endif
        for (; x < w; ++x) {
            const Pixel take = 0u - static_cast<Pixel>(key[x] < threshold);
            dst[x] = (b[x] & take) | (a[x] & ~take);
        }
    }
}

template <class Rows>
void RenderFade(const Effect& e, const Rows& from, const Rows& to, double t, const FrameRows& out, int y0, int y1) {
    const int w = from.Width();
    const Pixel through = e.a == 2 ? kOpaqueWhite : kOpaqueBlack;
    for (int y = y0; y < y1; ++y) {
        const Pixel* a = from.Row(y);
        const Pixel* b = to.Row(y);
        Pixel* dst = out.Row(y);
        if (e.a == 0) {
            BlendRow(a, b, static_cast<std::uint32_t>(std::lround(t * 256)), dst, w, out.stream);
        } else if (t < 0.5) {
            BlendRowWith(a, through, static_cast<std::uint32_t>(std::lround(t * 512)), dst, w, out.stream);
        } else {
            // through * (256 - k) + b * k, the same sum as b blended toward `through` by 256 - k.
            const auto k = static_cast<std::uint32_t>(std::lround((t - 0.5) * 512));
            BlendRowWith(b, through, 256 - k, dst, w, out.stream);
        }
    }
}

template void RenderDissolve(const Effect&, const Image&, const Image&, double, const FrameRows&, int, int);
template void RenderDissolve(const Effect&, const PictureBand&, const PictureBand&, double, const FrameRows&, int, int);
template void RenderFade(const Effect&, const Image&, const Image&, double, const FrameRows&, int, int);
template void RenderFade(const Effect&, const PictureBand&, const PictureBand&, double, const FrameRows&, int, int);

}  // namespace nimbrel::imaging::detail

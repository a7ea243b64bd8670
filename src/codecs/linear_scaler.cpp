#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "codecs/codecs.h"
#include "imaging/wide_vectors.h"
#include "platform/error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The opaque rows' taps across also have an AVX2 path where the processor has it (see
// imaging/wide_vectors.h), with the same integer arithmetic as the baseline: the same pixels. (The
// table look-ups stay scalar: gathers were slower than them.)
#if defined(NIMBREL_WIDE_VECTORS)
#include <immintrin.h>
#endif

namespace nimbrel::codecs {

namespace {

// A pixel's four channels as one value, so that the shrink's sums run as vector operations.
#if defined(__GNUC__)
typedef float Float4 __attribute__((vector_size(16)));
#else
struct Float4 {
    float v[4];
    Float4& operator+=(const Float4& o) {
        for (int i = 0; i < 4; ++i) v[i] += o.v[i];
        return *this;
    }
    friend Float4 operator*(float w, const Float4& a) {
        Float4 r;
        for (int i = 0; i < 4; ++i) r.v[i] = w * a.v[i];
        return r;
    }
};
#endif

Float4 Load(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void Store(float* p, const Float4& v) {
    std::memcpy(p, &v, sizeof v);
}

struct Tables {
    std::array<float, 256> toLinear{};
    std::array<std::uint8_t, 4097> toSrgb{};
    Tables() {
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            toLinear[i] = static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        for (int i = 0; i <= 4096; ++i) {
            const double l = i / 4096.0;
            const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            toSrgb[i] = static_cast<std::uint8_t>(std::clamp(c * 255.0 + 0.5, 0.0, 255.0));
        }
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

// The opaque path works in integers: linear light as 0..kLinearOne, the weights of one target
// pixel (across, then down) adding up to exactly kWeightOne, so that a flat colour comes back
// unchanged and every sum stays below 2^29.
constexpr int kLinearOne = 32767;
constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;
constexpr int kHalfWeight = kWeightOne / 2;
static_assert(std::endian::native == std::endian::little, "a pixel's 16-bit lanes are filled as one 64-bit value");

struct FixedTables {
    // A channel's linear value placed in its lane of a pixel's four 16-bit lanes (blue, green,
    // red, 0: the order of the pixel's bytes), so that three loads and two ORs make the pixel.
    std::array<std::uint64_t, 256> blue{}, green{}, red{};
    // The nearest sRGB level of every linear value.
    std::array<std::uint8_t, kLinearOne + 1> toSrgb{};
    FixedTables() {
        auto toLinear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint64_t>(std::lround(toLinear(i / 255.0) * kLinearOne));
            blue[i] = v;
            green[i] = v << 16;
            red[i] = v << 32;
        }
        // Level c + 1 begins where the sRGB value reaches c + 0.5 (rounding halves up).
        int level = 0;
        double next = toLinear(0.5 / 255) * kLinearOne;
        for (int l = 0; l <= kLinearOne; ++l) {
            while (level < 255 && l >= next) {
                ++level;
                next = level < 255 ? toLinear((level + 0.5) / 255) * kLinearOne : 1e9;
            }
            toSrgb[l] = static_cast<std::uint8_t>(level);
        }
    }
};

const FixedTables& GetFixedTables() {
    static const FixedTables tables;
    return tables;
}

// A target pixel's taps across, a pair at a time: the source pixels at `in` and the next one,
// channel by channel, times the pair's weights, as 32-bit sums for blue, green, red and 0.
#if defined(__SSE2__)
inline __m128i PairTimes(const std::uint16_t* in, const std::int16_t* weights) {
    const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    return _mm_madd_epi16(_mm_unpacklo_epi16(two, _mm_srli_si128(two, 8)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights)));
}
#endif

// A row of 16-bit linear values scaled across: `pairs` pairs of taps for each of `width`
// target pixels, starting at start[t] with eight weights a pair (the two repeated four times).
template <int Pairs>
void AcrossFixed(const std::uint16_t* linear, const int* start, const std::int16_t* weights, int pairs,
                 std::uint16_t* out, int width) {
    if constexpr (Pairs > 0) pairs = Pairs;
    for (int t = 0; t < width; ++t, out += 4, weights += 8 * pairs) {
        const std::uint16_t* in = linear + static_cast<std::size_t>(start[t]) * 4;
#if defined(__SSE2__)
        __m128i sum = PairTimes(in, weights);
        for (int k = 1; k < pairs; ++k) sum = _mm_add_epi32(sum, PairTimes(in + 8 * k, weights + 8 * k));
        sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(kHalfWeight)), kWeightBits);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(sum, sum));
#else
        for (int c = 0; c < 3; ++c) {
            std::int32_t sum = 0;
            for (int k = 0; k < pairs; ++k)
                sum += in[8 * k + c] * weights[8 * k] + in[8 * k + 4 + c] * weights[8 * k + 1];
            out[c] = static_cast<std::uint16_t>((sum + kHalfWeight) >> kWeightBits);
        }
        out[3] = 0;
#endif
    }
}

// sums[i] = w * across[i] (start) or sums[i] += w * across[i], over `count` values (a multiple of 4).
void GatherFixed(std::int32_t* sums, const std::uint16_t* across, std::size_t count, int w, bool start) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i weight = _mm_set1_epi32(w), zero = _mm_setzero_si128();
    auto add = [&](std::int32_t* at, __m128i v) {
        __m128i* p = reinterpret_cast<__m128i*>(at);
        _mm_storeu_si128(p, start ? v : _mm_add_epi32(_mm_loadu_si128(p), v));
    };
    for (; i + 8 <= count; i += 8) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(across + i));
        add(sums + i, _mm_madd_epi16(_mm_unpacklo_epi16(h, zero), weight));
        add(sums + i + 4, _mm_madd_epi16(_mm_unpackhi_epi16(h, zero), weight));
    }
#endif
    for (; i < count; ++i) sums[i] = (start ? 0 : sums[i]) + w * across[i];
}

// A target row from its sums so far (null for none) and `across` weighed by `w`, into sRGB.
void EmitFixed(imaging::Pixel* out, const std::int32_t* sums, const std::uint16_t* across, int w, int width) {
    const std::uint8_t* toSrgb = GetFixedTables().toSrgb.data();
    int t = 0;
#if defined(__SSE2__)
    const __m128i weight = _mm_set1_epi32(w), zero = _mm_setzero_si128(), half = _mm_set1_epi32(kHalfWeight);
    for (; t + 2 <= width; t += 2) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(across + 4 * t));
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(h, zero), weight);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(h, zero), weight);
        if (sums != nullptr) {
            lo = _mm_add_epi32(lo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 4 * t)));
            hi = _mm_add_epi32(hi, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 4 * t + 4)));
        }
        lo = _mm_srai_epi32(_mm_add_epi32(lo, half), kWeightBits);
        hi = _mm_srai_epi32(_mm_add_epi32(hi, half), kWeightBits);
        // (The indexes through memory: loads are cheaper than extracting each from the register.)
        alignas(16) std::uint16_t l[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(l), _mm_packs_epi32(lo, hi));
        out[t] = imaging::MakePixel(toSrgb[l[2]], toSrgb[l[1]], toSrgb[l[0]]);
        out[t + 1] = imaging::MakePixel(toSrgb[l[6]], toSrgb[l[5]], toSrgb[l[4]]);
    }
#endif
    for (; t < width; ++t) {
        std::uint8_t c[3];
        for (int i = 0; i < 3; ++i) {
            const std::int32_t v = (sums != nullptr ? sums[4 * t + i] : 0) + w * across[4 * t + i];
            c[i] = toSrgb[(v + kHalfWeight) >> kWeightBits];
        }
        out[t] = imaging::MakePixel(c[2], c[1], c[0]);
    }
}

// One pixel's linear red, green and blue (scaled by `scale`) back to sRGB, with `alpha` on top:
// the same rounding as ToSrgb, four channels at once where the processor has SSE2.
imaging::Pixel PixelToSrgb(const std::uint8_t* toSrgb, const float* rgba, float scale, std::uint8_t alpha) {
#if defined(__SSE2__)
    __m128 v = _mm_mul_ps(_mm_loadu_ps(rgba), _mm_set1_ps(scale));
    v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    const __m128i index = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(4096.0f)), _mm_set1_ps(0.5f)));
    alignas(16) std::int32_t i[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(i), index);
    return imaging::MakePixel(toSrgb[i[0]], toSrgb[i[1]], toSrgb[i[2]], alpha);
#else
    auto ToSrgb = [](const std::uint8_t* table, float linear) {
        const float clamped = linear < 0.0f ? 0.0f : linear > 1.0f ? 1.0f : linear;
        return table[static_cast<int>(clamped * 4096.0f + 0.5f)];
    };
    return imaging::MakePixel(ToSrgb(toSrgb, rgba[0] * scale), ToSrgb(toSrgb, rgba[1] * scale),
                              ToSrgb(toSrgb, rgba[2] * scale), alpha);
#endif
}

// An opaque pixel's linear red, green and blue back to sRGB.
imaging::Pixel OpaqueToSrgb(const std::uint8_t* toSrgb, Float4 rgb) {
#if defined(__SSE2__)
    __m128 v;
    std::memcpy(&v, &rgb, sizeof v);
    v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    const __m128i index = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(4096.0f)), _mm_set1_ps(0.5f)));
    const int r = _mm_cvtsi128_si32(index);
    const int g = _mm_cvtsi128_si32(_mm_srli_si128(index, 4));
    const int b = _mm_cvtsi128_si32(_mm_srli_si128(index, 8));
    return imaging::MakePixel(toSrgb[r], toSrgb[g], toSrgb[b], 255);
#else
    alignas(16) float rgba[4];
    Store(rgba, rgb);
    return PixelToSrgb(toSrgb, rgba, 1.0f, 255);
#endif
}

#if defined(NIMBREL_WIDE_VECTORS)
// Target pixel t's two pairs of taps: the first pair's sums in the low half, the second's in the high.
NIMBREL_TARGET_AVX2 inline __m256i TwoPairsAvx2(const std::uint16_t* linear, const int* start,
                                                            const std::int16_t* weights, int t) {
    const __m256i four =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(linear + static_cast<std::size_t>(start[t]) * 4));
    return _mm256_madd_epi16(_mm256_unpacklo_epi16(four, _mm256_srli_si256(four, 8)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 16 * t)));
}

// AcrossFixed for two pairs of taps, two target pixels at a time; returns how many it did.
NIMBREL_TARGET_AVX2 int AcrossTwoPairsAvx2(const std::uint16_t* linear, const int* start,
                                                       const std::int16_t* weights, std::uint16_t* out, int width) {
    const __m256i half = _mm256_set1_epi32(kHalfWeight);
    int t = 0;
    for (; t + 2 <= width; t += 2) {
        const __m256i a = TwoPairsAvx2(linear, start, weights, t), b = TwoPairsAvx2(linear, start, weights, t + 1);
        __m256i sum = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
        sum = _mm256_srai_epi32(_mm256_add_epi32(sum, half), kWeightBits);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(sum, sum), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * t), _mm256_castsi256_si128(packed));
    }
    return t;
}

#endif

}  // namespace

LinearAreaScaler::LinearAreaScaler(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                                   RowSink sink)
    : sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      targetWidth_(targetWidth),
      targetHeight_(targetHeight),
      sink_(std::move(sink)) {
    if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 1 || targetHeight < 1 ||
        targetWidth > sourceWidth || targetHeight > sourceHeight ||
        !imaging::ImageSizeAllowed(targetWidth, targetHeight))
        throw Error("The picture's size is not supported.");
    const double sx = static_cast<double>(sourceWidth) / targetWidth;
    columnStart_.resize(targetWidth);
    columnCount_.resize(targetWidth);
    for (int tx = 0; tx < targetWidth; ++tx) {
        const double left = tx * sx, right = std::min<double>((tx + 1) * sx, sourceWidth);
        const int first = static_cast<int>(left);
        const int last = std::min(sourceWidth - 1, static_cast<int>(std::ceil(right)) - 1);
        columnStart_[tx] = first;
        columnCount_[tx] = std::max(1, last - first + 1);
        for (int x = first; x < first + columnCount_[tx]; ++x) {
            const double overlap = std::min<double>(x + 1, right) - std::max<double>(x, left);
            columnWeights_.push_back(static_cast<float>(std::max(0.0, overlap) / sx));
        }
    }
    // The same taps, every column given as many (the extra ones weighing nothing, and kept
    // inside the row), so that the sums run as fixed, unrolled loops.
    const int most = *std::max_element(columnCount_.begin(), columnCount_.end());
    if (most <= 4 && most <= sourceWidth) {
        std::vector<float> padded(static_cast<std::size_t>(targetWidth) * most, 0.0f);
        std::size_t from = 0;
        for (int tx = 0; tx < targetWidth; ++tx) {
            const int start = std::min(columnStart_[tx], sourceWidth - most);
            for (int i = 0; i < columnCount_[tx]; ++i)
                padded[static_cast<std::size_t>(tx) * most + (columnStart_[tx] - start) + i] = columnWeights_[from + i];
            from += columnCount_[tx];
            columnStart_[tx] = start;
            columnCount_[tx] = most;
        }
        columnWeights_ = std::move(padded);
        fixedTaps_ = most;
    }
    // The opaque path's taps: the same spans, each column's weights in integers that add up to
    // exactly kWeightOne, padded to an even number of taps that stays inside the row.
    const int pairs = (*std::max_element(columnCount_.begin(), columnCount_.end()) + 1) / 2;
    if (2 * pairs <= sourceWidth) {
        pairs_ = pairs;
        pairStart_.resize(targetWidth);
        pairWeights_.assign(static_cast<std::size_t>(targetWidth) * pairs * 8, 0);
        for (int tx = 0; tx < targetWidth; ++tx) {
            const double left = tx * sx, right = std::min<double>((tx + 1) * sx, sourceWidth);
            const int first = static_cast<int>(left);
            const int last = std::min(sourceWidth - 1, static_cast<int>(std::ceil(right)) - 1);
            const int start = std::min(first, sourceWidth - 2 * pairs);
            pairStart_[tx] = start;
            double covered = 0;
            int given = 0;
            for (int x = first; x <= std::max(first, last); ++x) {
                covered += std::max(0.0, std::min<double>(x + 1, right) - std::max<double>(x, left));
                const int upTo = x == std::max(first, last) ? kWeightOne
                                                             : static_cast<int>(std::lround(covered / (right - left) * kWeightOne));
                const int tap = x - start;
                std::int16_t* pair = &pairWeights_[(static_cast<std::size_t>(tx) * pairs + tap / 2) * 8];
                for (int lane = tap % 2; lane < 8; lane += 2) pair[lane] = static_cast<std::int16_t>(upTo - given);
                given = upTo;
            }
        }
        linear16_.resize(static_cast<std::size_t>(sourceWidth) * 4);
        across16_.resize(static_cast<std::size_t>(targetWidth) * 4);
        sums32_[0].resize(across16_.size());
        sums32_[1].resize(across16_.size());
        fixed_ = true;
    } else {
        LeaveFixed();
    }
    if (sink_)
        sinkRow_.resize(static_cast<std::size_t>(targetWidth));
    else
        result_.Resize(targetWidth, targetHeight);  // (transparent black, as the vector clears it)
}

void LinearAreaScaler::LeaveFixed() {
    fixed_ = false;
    across_.resize(static_cast<std::size_t>(targetWidth_) * 4);
    linear_.resize(static_cast<std::size_t>(sourceWidth_) * 4);
    for (int slot = 0; slot < 2; ++slot) {
        sums_[slot].resize(across_.size());
        if (sumRow_[slot] < 0) continue;
        // The opaque rows gathered so far, in the general path's units and order (red, green,
        // blue, alpha, where alpha is their weight).
        const float scale = 1.0f / (static_cast<float>(kWeightOne) * kLinearOne);
        for (std::size_t i = 0; i < sums_[slot].size(); i += 4) {
            for (int c = 0; c < 3; ++c) sums_[slot][i + c] = static_cast<float>(sums32_[slot][i + 2 - c]) * scale;
            sums_[slot][i + 3] = static_cast<float>(sumWeight_[slot]) / kWeightOne;
        }
        sumOpaque_[slot] = true;
    }
}

void LinearAreaScaler::PushOpaqueRow(int r) {
    const int pairs = pairs_, width = targetWidth_;
    int done = 0;  // target pixels done by the AVX2 path
#if defined(NIMBREL_WIDE_VECTORS)
    if (pairs == 2 && imaging::WideVectors())
        done = AcrossTwoPairsAvx2(linear16_.data(), pairStart_.data(), pairWeights_.data(), across16_.data(), width);
#endif
    {
        const int* start = pairStart_.data() + done;
        const std::int16_t* weights = pairWeights_.data() + static_cast<std::size_t>(done) * pairs * 8;
        std::uint16_t* out = across16_.data() + static_cast<std::size_t>(done) * 4;
        switch (pairs) {
            case 1: AcrossFixed<1>(linear16_.data(), start, weights, pairs, out, width - done); break;
            case 2: AcrossFixed<2>(linear16_.data(), start, weights, pairs, out, width - done); break;
            default: AcrossFixed<0>(linear16_.data(), start, weights, pairs, out, width - done);
        }
    }
    // Down as in PushRow, each source row's share of a target row in integers: the shares of a
    // target row's source rows add up to exactly kWeightOne.
    const std::int64_t T = targetHeight_, H = sourceHeight_;
    const std::int64_t top = r * T, bottom = (r + 1) * T;
    auto upTo = [&](std::int64_t units) { return static_cast<int>((units * kWeightOne + H / 2) / H); };
    for (int ty = static_cast<int>(top / H); ty < targetHeight_; ++ty) {
        const std::int64_t lo = ty * H, hi = (ty + 1) * H;
        if (lo >= bottom) break;
        const int w = upTo(std::min(bottom, hi) - lo) - upTo(std::max(top, lo) - lo);
        const int slot = ty & 1;
        const bool first = sumRow_[slot] != ty, last = hi <= bottom;
        if (first) {
            sumRow_[slot] = ty;
            sumWeight_[slot] = 0;
        }
        sumWeight_[slot] += w;
        std::int32_t* sums = sums32_[slot].data();
        const std::uint16_t* across = across16_.data();
        if (last) {
            EmitFixed(TargetRow(ty), first ? nullptr : sums, across, w, width);
            Finished(ty);
            sumRow_[slot] = -1;
        } else {
            GatherFixed(sums, across, across16_.size(), w, first);
        }
    }
}

template <int Taps>
void LinearAreaScaler::Across() {
    const float* weight = columnWeights_.data();
    const int* start = columnStart_.data();
    const float* linear = linear_.data();
    float* out = across_.data();
    for (int tx = 0, width = targetWidth_; tx < width; ++tx, out += 4, weight += Taps) {
        const float* in = linear + static_cast<std::size_t>(start[tx]) * 4;
        Float4 sum = weight[0] * Load(in);
        if constexpr (Taps > 1) sum += weight[1] * Load(in + 4);
        if constexpr (Taps > 2) sum += weight[2] * Load(in + 8);
        if constexpr (Taps > 3) sum += weight[3] * Load(in + 12);
        Store(out, sum);
    }
}

void LinearAreaScaler::PushRow(const imaging::Pixel* row) {
    if (Done()) return;
    const int r = nextSource_++;
    if (fixed_) {
        // Into 16-bit linear light while the alphas are gathered: photos never leave this path.
        const FixedTables& tables = GetFixedTables();
        std::uint16_t* lin = linear16_.data();
        imaging::Pixel alphas = 0xFF000000u;
        // (The channels read as bytes, which saves the shifts and masks.)
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(row);
        for (int x = 0, width = sourceWidth_; x < width; ++x, lin += 4, bytes += 4) {
            alphas &= row[x];
            const std::uint64_t v = tables.blue[bytes[0]] | tables.green[bytes[1]] | tables.red[bytes[2]];
            std::memcpy(lin, &v, sizeof v);
        }
        if ((alphas >> 24) == 0xFFu) {
            PushOpaqueRow(r);
            return;
        }
        LeaveFixed();
    }
    // Each source pixel into linear light, weighted by its alpha, once; then the taps. Photos
    // are opaque: their rows skip the weighting, and their target rows the division by alpha.
    const float* linear = GetTables().toLinear.data();
    float* lin = linear_.data();
    // Taken as opaque while the alphas are gathered on the way; done again for the rare row
    // that turns out not to be.
    imaging::Pixel alphas = 0xFF000000u;
    for (int x = 0, width = sourceWidth_; x < width; ++x, lin += 4) {
        const imaging::Pixel p = row[x];
        alphas &= p;
        Store(lin, Float4{linear[(p >> 16) & 0xFF], linear[(p >> 8) & 0xFF], linear[p & 0xFF], 1.0f});
    }
    const bool opaque = (alphas >> 24) == 0xFFu;
    allOpaque_ = allOpaque_ && opaque;
    if (!opaque) {
        lin = linear_.data();
        for (int x = 0; x < sourceWidth_; ++x, lin += 4) {
            const imaging::Pixel p = row[x];
            const float a = static_cast<float>(imaging::AlphaOf(p)) / 255.0f;
            lin[0] = a * linear[imaging::RedOf(p)];
            lin[1] = a * linear[imaging::GreenOf(p)];
            lin[2] = a * linear[imaging::BlueOf(p)];
            lin[3] = a;
        }
    }
    switch (fixedTaps_) {
        case 1: Across<1>(); break;
        case 2: Across<2>(); break;
        case 3: Across<3>(); break;
        case 4: Across<4>(); break;
        default: {
            const float* weight = columnWeights_.data();
            float* out = across_.data();
            for (int tx = 0; tx < targetWidth_; ++tx, out += 4) {
                Float4 sum{};
                const float* in = linear_.data() + static_cast<std::size_t>(columnStart_[tx]) * 4;
                for (int i = columnCount_[tx]; i > 0; --i, in += 4) sum += *weight++ * Load(in);
                Store(out, sum);
            }
        }
    }
    // In units of 1 / targetHeight_ of a source row, source row r spans [r T, (r + 1) T) and
    // target row ty spans [ty H, (ty + 1) H) exactly: no row boundary is lost to rounding.
    const std::int64_t T = targetHeight_, H = sourceHeight_;
    const std::int64_t top = r * T, bottom = (r + 1) * T;
    for (int ty = static_cast<int>(top / H); ty < targetHeight_; ++ty) {
        const std::int64_t lo = ty * H, hi = (ty + 1) * H;
        if (lo >= bottom) break;
        const std::int64_t overlap = std::min(bottom, hi) - std::max(top, lo);
        const int slot = ty & 1;
        const bool first = sumRow_[slot] != ty, last = hi <= bottom;
        if (first) {
            sumRow_[slot] = ty;
            sumOpaque_[slot] = true;
        }
        sumOpaque_[slot] = sumOpaque_[slot] && opaque;
        const float w = static_cast<float>(static_cast<double>(overlap) / static_cast<double>(H));
        // A target row's first source row starts its sums, its last one is added as the row is
        // written out: each row of sums is written once and read once.
        float* sum = sums_[slot].data();
        const float* across = across_.data();
        const std::size_t size = across_.size();
        if (last) {
            EmitRow(ty, first ? nullptr : sum, across, w);
        } else if (first) {
            for (std::size_t i = 0; i < size; i += 4) Store(sum + i, w * Load(across + i));
        } else {
            for (std::size_t i = 0; i < size; i += 4) {
                Float4 total = Load(sum + i);
                total += w * Load(across + i);
                Store(sum + i, total);
            }
        }
    }
}

void LinearAreaScaler::EmitRow(int targetRow, const float* sum, const float* across, float w) {
    imaging::Pixel* out = TargetRow(targetRow);
    const std::uint8_t* toSrgb = GetTables().toSrgb.data();
    // The row's sums so far (none when this source row is its only one) and this row's share.
    auto total = [&](int tx) {
        Float4 v = w * Load(across + tx * 4);
        if (sum != nullptr) v += Load(sum + tx * 4);
        return v;
    };
    if (sumOpaque_[targetRow & 1]) {
        // Every tap opaque: the alpha sum is 1 up to rounding, nothing to divide.
        for (int tx = 0; tx < targetWidth_; ++tx) out[tx] = OpaqueToSrgb(toSrgb, total(tx));
    } else {
        for (int tx = 0; tx < targetWidth_; ++tx) {
            alignas(16) float rgba[4];
            Store(rgba, total(tx));
            const float alpha = rgba[3];
            if (alpha <= 0.5f / 255) {
                out[tx] = 0;
                continue;
            }
            out[tx] = PixelToSrgb(toSrgb, rgba, 1.0f / alpha,
                                  static_cast<std::uint8_t>(std::min(255.0f, alpha * 255.0f + 0.5f)));
        }
    }
    sumRow_[targetRow & 1] = -1;
    Finished(targetRow);
}

}  // namespace nimbrel::codecs

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/codecs.h"
#include "platform/error.h"

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

}  // namespace

LinearAreaScaler::LinearAreaScaler(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight)
    : sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      targetWidth_(targetWidth),
      targetHeight_(targetHeight) {
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
    across_.resize(static_cast<std::size_t>(targetWidth) * 4);
    linear_.resize(static_cast<std::size_t>(sourceWidth) * 4);
    sums_[0].resize(across_.size());
    sums_[1].resize(across_.size());
    // (Transparent black, as the vector clears it: no second pass.)
    result_.Resize(targetWidth, targetHeight);
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
    imaging::Pixel* out = result_.Row(targetRow);
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
}

}  // namespace nimbrel::codecs

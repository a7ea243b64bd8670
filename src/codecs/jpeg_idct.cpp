// Reduced-size inverse DCTs eight blocks at a time (see jpeg_idct.h).
//
// An N x N block is made from the first K = min(N, 8) rows and columns of the 8x8 coefficients
// with the N-point cosine basis at the 8-point scale, so that a flat block keeps its level:
//   f(y, x) = sum over v, u < K of a(v) a(u) F(v, u) cos((2y+1)v pi / 2N) cos((2x+1)u pi / 2N)
// with a(0) = 1 / (2 sqrt 2) and a(k) = 1/2, plus 128. Each pass uses the basis' symmetry: the
// point N-1-i takes the even terms of point i with the odd ones negated.
#include "codecs/jpeg_idct.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "imaging/wide_vectors.h"

#if defined(__GNUC__) && defined(__SSE2__)
#include <emmintrin.h>
#define NIMBREL_SCALED_IDCT 1
#endif

namespace nimbrel::codecs::detail {

namespace {

#if JPEG_LIB_VERSION >= 70
int ScaledSize(const jpeg_component_info& component) {
    return component.DCT_h_scaled_size == component.DCT_v_scaled_size ? component.DCT_h_scaled_size : 0;
}
#else
int ScaledSize(const jpeg_component_info& component) {
    return component.DCT_scaled_size;
}
#endif

// The sizes handled: those libjpeg-turbo does in plain C when a picture is decoded at 5/8, 6/8
// or 7/8, for the full-resolution components and for chroma at half resolution.
constexpr std::array<int, 6> kSizes = {5, 6, 7, 10, 12, 14};

bool Handled(int size) {
    return std::find(kSizes.begin(), kSizes.end(), size) != kSizes.end();
}

#if defined(NIMBREL_SCALED_IDCT)

// The vectors (GCC's own) hold one value of each of the eight blocks. They pass only between
// functions that are always inlined, so their ABI never matters (GCC warns about it at the end
// of the file, hence the whole file).
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float Lanes __attribute__((vector_size(32)));
typedef std::int32_t IntLanes __attribute__((vector_size(32)));
typedef float Half __attribute__((vector_size(16)));
typedef std::int16_t Short8 __attribute__((vector_size(16)));

#define NIMBREL_INLINE inline __attribute__((always_inline))

// The basis at each size, fixed when compiled: at[i][k] = a(k) cos((2i+1)k pi / 2N), i < N, k < K.
constexpr double kPi = 3.14159265358979323846264338327950288;

constexpr double Cosine(double x) {
    while (x > kPi) x -= 2 * kPi;
    double term = 1, sum = 1;
    for (int n = 1; n < 40; ++n) {
        term *= -x * x / ((2 * n - 1) * (2 * n));
        sum += term;
    }
    return sum;
}

template <int N>
struct Basis {
    float at[N][8] = {};
};

template <int N>
constexpr Basis<N> MakeBasis() {
    Basis<N> made;
    for (int i = 0; i < N; ++i)
        for (int k = 0; k < (N < 8 ? N : 8); ++k)
            made.at[i][k] = static_cast<float>((k == 0 ? 0.353553390593273762200422181052424520 : 0.5) *
                                               Cosine((2 * i + 1) * k * kPi / (2 * N)));
    return made;
}

template <int N>
inline constexpr Basis<N> kBasis = MakeBasis<N>();

// One N-point pass over K inputs (each a vector of the eight blocks, `inStride` apart) into N
// outputs (`outStride` apart), `bias` added to each. Outputs i and N-1-i share the even terms
// and take the odd ones with opposite signs; for an even N the even terms are themselves the
// N/2-point pass over the even inputs, which saves a quarter of the multiplications.
template <int N, int K, int inStride, int outStride>
NIMBREL_INLINE void Pass(const Lanes* in, Lanes* out, float bias) {
    if constexpr (N % 2 == 0 && K > 2) {
        Lanes even[N / 2];
        Pass<N / 2, (K + 1) / 2, 2 * inStride, 1>(in, even, bias);
#pragma GCC unroll 8
        for (int i = 0; i < N / 2; ++i) {
            Lanes odd = in[inStride] * kBasis<N>.at[i][1];
#pragma GCC unroll 8
            for (int k = 3; k < K; k += 2) odd += in[k * inStride] * kBasis<N>.at[i][k];
            out[i * outStride] = even[i] + odd;
            out[(N - 1 - i) * outStride] = even[i] - odd;
        }
    } else {
        const Lanes level = in[0] * kBasis<N>.at[0][0] + bias;
#pragma GCC unroll 8
        for (int i = 0; i < (N + 1) / 2; ++i) {
            Lanes even = level;
#pragma GCC unroll 8
            for (int k = 2; k < K; k += 2) even += in[k * inStride] * kBasis<N>.at[i][k];
            // (The middle point of an odd N has no odd terms: their cosines are 0.)
            if (N - 1 - i == i || K < 2) {
                out[i * outStride] = even;
                if (N - 1 - i != i) out[(N - 1 - i) * outStride] = even;
                continue;
            }
            Lanes odd = in[inStride] * kBasis<N>.at[i][1];
#pragma GCC unroll 8
            for (int k = 3; k < K; k += 2) odd += in[k * inStride] * kBasis<N>.at[i][k];
            out[i * outStride] = even + odd;
            out[(N - 1 - i) * outStride] = even - odd;
        }
    }
}

// The 8x8 transpose of 16-bit values: rows[r] holds row r, afterwards column r.
NIMBREL_INLINE void Transpose16(__m128i* rows) {
    const __m128i a0 = _mm_unpacklo_epi16(rows[0], rows[1]), a1 = _mm_unpackhi_epi16(rows[0], rows[1]);
    const __m128i a2 = _mm_unpacklo_epi16(rows[2], rows[3]), a3 = _mm_unpackhi_epi16(rows[2], rows[3]);
    const __m128i a4 = _mm_unpacklo_epi16(rows[4], rows[5]), a5 = _mm_unpackhi_epi16(rows[4], rows[5]);
    const __m128i a6 = _mm_unpacklo_epi16(rows[6], rows[7]), a7 = _mm_unpackhi_epi16(rows[6], rows[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    rows[0] = _mm_unpacklo_epi64(b0, b4), rows[1] = _mm_unpackhi_epi64(b0, b4);
    rows[2] = _mm_unpacklo_epi64(b1, b5), rows[3] = _mm_unpackhi_epi64(b1, b5);
    rows[4] = _mm_unpacklo_epi64(b2, b6), rows[5] = _mm_unpackhi_epi64(b2, b6);
    rows[6] = _mm_unpacklo_epi64(b3, b7), rows[7] = _mm_unpackhi_epi64(b3, b7);
}

// Eight 16-bit values as floats.
NIMBREL_INLINE Lanes Widen(__m128i values) {
    return __builtin_convertvector(__builtin_convertvector((Short8)values, IntLanes), Lanes);
}

// Up to eight outputs of one row (a vector of the eight blocks each) rounded, limited to 0..255
// and turned around: the result holds each block's pixels as 8 bytes, block after block.
template <int Count>
NIMBREL_INLINE void RowBytes(const Lanes* values, std::uint8_t* blocks) {
    __m128i words[8];
#pragma GCC unroll 8
    for (int x = 0; x < 8; ++x) {
        if (x >= Count) {
            words[x] = _mm_setzero_si128();
            continue;
        }
        const Half low = __builtin_shufflevector(values[x], values[x], 0, 1, 2, 3);
        const Half high = __builtin_shufflevector(values[x], values[x], 4, 5, 6, 7);
        // (Rounded to nearest; values far out of range, from damaged data, saturate.)
        words[x] = _mm_packs_epi32(_mm_cvtps_epi32((__m128)low), _mm_cvtps_epi32((__m128)high));
    }
    // Each pair of outputs as bytes, then interleaved to 2, 4 and 8 outputs a block.
    const __m128i p0 = _mm_packus_epi16(words[0], words[1]), p1 = _mm_packus_epi16(words[2], words[3]);
    const __m128i p2 = _mm_packus_epi16(words[4], words[5]), p3 = _mm_packus_epi16(words[6], words[7]);
    const __m128i s0 = _mm_unpacklo_epi8(p0, _mm_srli_si128(p0, 8));
    const __m128i s1 = _mm_unpacklo_epi8(p1, _mm_srli_si128(p1, 8));
    const __m128i s2 = _mm_unpacklo_epi8(p2, _mm_srli_si128(p2, 8));
    const __m128i s3 = _mm_unpacklo_epi8(p3, _mm_srli_si128(p3, 8));
    const __m128i q0 = _mm_unpacklo_epi16(s0, s1), q1 = _mm_unpackhi_epi16(s0, s1);
    const __m128i q2 = _mm_unpacklo_epi16(s2, s3), q3 = _mm_unpackhi_epi16(s2, s3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blocks), _mm_unpacklo_epi32(q0, q2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blocks + 16), _mm_unpackhi_epi32(q0, q2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blocks + 32), _mm_unpacklo_epi32(q1, q3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blocks + 48), _mm_unpackhi_epi32(q1, q3));
}

template <int N>
NIMBREL_INLINE void Transform(const JCOEF (*blocks)[64], int count, const float* quant, JSAMPARRAY const* rows,
                              const JDIMENSION* columns) {
    constexpr int K = N < 8 ? N : 8;
    // The coefficients, dequantised, a vector of the eight blocks each (missing blocks repeat
    // the last one).
    Lanes coefficients[K][K];
#pragma GCC unroll 8
    for (int v = 0; v < K; ++v) {
        __m128i lines[8];
#pragma GCC unroll 8
        for (int b = 0; b < ScaledIdct::kBatch; ++b)
            lines[b] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[std::min(b, count - 1)] + v * 8));
        Transpose16(lines);
#pragma GCC unroll 8
        for (int u = 0; u < K; ++u) coefficients[v][u] = Widen(lines[u]) * quant[v * 8 + u];
    }
    // Down the columns, then along each row.
    Lanes down[N][K];
#pragma GCC unroll 8
    for (int u = 0; u < K; ++u) Pass<N, K, K, K>(&coefficients[0][u], &down[0][u], 0.0f);
    alignas(16) std::uint8_t bytes[2][64];
#pragma GCC unroll 2
    for (int y = 0; y < N; ++y) {
        Lanes out[N];
        Pass<N, K, 1, 1>(down[y], out, 128.0f);
        RowBytes<std::min(N, 8)>(out, bytes[0]);
        if constexpr (N > 8) RowBytes<N - 8>(out + 8, bytes[1]);
        for (int b = 0; b < count; ++b) {
            JSAMPLE* row = rows[b][y] + columns[b];
            std::memcpy(row, bytes[0] + 8 * b, std::min(N, 8));
            if constexpr (N > 8) std::memcpy(row + 8, bytes[1] + 8 * b, N - 8);
        }
    }
}

template <int N>
void TransformNarrow(const JCOEF (*blocks)[64], int count, const float* quant, JSAMPARRAY const* rows,
                     const JDIMENSION* columns) {
    Transform<N>(blocks, count, quant, rows, columns);
}

#if defined(NIMBREL_WIDE_VECTORS)
template <int N>
NIMBREL_TARGET_AVX2 void TransformWide(const JCOEF (*blocks)[64], int count, const float* quant,
                                       JSAMPARRAY const* rows, const JDIMENSION* columns) {
    Transform<N>(blocks, count, quant, rows, columns);
}
#endif

template <int N>
void TransformAt(bool wide, const JCOEF (*blocks)[64], int count, const float* quant, JSAMPARRAY const* rows,
                 const JDIMENSION* columns) {
#if defined(NIMBREL_WIDE_VECTORS)
    if (wide) return TransformWide<N>(blocks, count, quant, rows, columns);
#endif
    TransformNarrow<N>(blocks, count, quant, rows, columns);
}

// libjpeg's table of transforms (internal to the library; checked before use, see TakeOver).
using InverseDct = void (*)(j_decompress_ptr, jpeg_component_info*, JCOEFPTR, JSAMPARRAY, JDIMENSION);
struct TransformTable {
    void (*startPass)(j_decompress_ptr);
    InverseDct inverse[MAX_COMPONENTS];
};

void TakenOver(j_decompress_ptr cinfo, jpeg_component_info* component, JCOEFPTR coefficients, JSAMPARRAY rows,
               JDIMENSION column) {
    static_cast<ScaledIdct*>(cinfo->client_data)->Add(*component, coefficients, rows, column);
}

// libjpeg-turbo's own transform of a size, found by its exported name (null when there is none).
void* LibraryTransform(int size) {
    static const std::array<void*, 17> found = [] {
        std::array<void*, 17> each{};
        for (int n : kSizes) {
            const std::string name = "jpeg_idct_" + std::to_string(n) + "x" + std::to_string(n);
            each[static_cast<std::size_t>(n)] = dlsym(RTLD_DEFAULT, name.c_str());
        }
        return each;
    }();
    return size >= 0 && size < 17 ? found[static_cast<std::size_t>(size)] : nullptr;
}

#endif  // NIMBREL_SCALED_IDCT

}  // namespace

bool ScaledInverseDct(int size, const JCOEF (*blocks)[64], int count, const float* quant, JSAMPARRAY const* rows,
                      const JDIMENSION* columns, bool wide) {
#if defined(NIMBREL_SCALED_IDCT)
    if (count < 1 || count > ScaledIdct::kBatch) return false;
    switch (size) {
        case 5: return TransformAt<5>(wide, blocks, count, quant, rows, columns), true;
        case 6: return TransformAt<6>(wide, blocks, count, quant, rows, columns), true;
        case 7: return TransformAt<7>(wide, blocks, count, quant, rows, columns), true;
        case 10: return TransformAt<10>(wide, blocks, count, quant, rows, columns), true;
        case 12: return TransformAt<12>(wide, blocks, count, quant, rows, columns), true;
        case 14: return TransformAt<14>(wide, blocks, count, quant, rows, columns), true;
        default: return false;
    }
#else
    (void)size, (void)blocks, (void)count, (void)quant, (void)rows, (void)columns, (void)wide;
    return false;
#endif
}

int ScaledIdct::TakeOver(jpeg_decompress_struct& cinfo) {
    int taken = 0;
#if defined(NIMBREL_SCALED_IDCT)
    if (cinfo.idct == nullptr) return 0;
    auto* table = reinterpret_cast<TransformTable*>(cinfo.idct);
    for (int ci = 0; ci < cinfo.num_components && ci < MAX_COMPONENTS; ++ci) {
        jpeg_component_info& component = cinfo.comp_info[ci];
        const int size = ScaledSize(component);
        if (!Handled(size) || component.component_index != ci) continue;
        void* own = LibraryTransform(size);
        if (own == nullptr || reinterpret_cast<void*>(table->inverse[ci]) != own) continue;
        Pending& pending = pending_[ci];
        pending.size = size;
        pending.count = 0;
        pending.lastColumn = static_cast<int>(component.width_in_blocks - 1) * size;
        // (A component no scan carried has no table: libjpeg makes it flat grey, and so do we.)
        for (int k = 0; k < 64; ++k)
            pending.quant[k] = component.quant_table != nullptr ? component.quant_table->quantval[k] : 0.0f;
        table->inverse[ci] = TakenOver;
        ++taken;
    }
    if (taken > 0) cinfo.client_data = this;
#else
    (void)cinfo;
#endif
    return taken;
}

void ScaledIdct::Add(jpeg_component_info& component, const JCOEF* coefficients, JSAMPARRAY rows, JDIMENSION column) {
    Pending& pending = pending_[component.component_index];
    std::memcpy(pending.blocks[pending.count], coefficients, sizeof pending.blocks[0]);
    pending.rows[pending.count] = rows;
    pending.columns[pending.count] = column;
    ++pending.count;
    // libjpeg reads the pixels of a row of blocks once its last block is done.
    if (pending.count == kBatch || static_cast<int>(column) >= pending.lastColumn) Flush(pending);
}

void ScaledIdct::Flush(Pending& pending) {
    if (pending.count == 0) return;
    ScaledInverseDct(pending.size, pending.blocks, pending.count, pending.quant, pending.rows, pending.columns,
                     imaging::WideVectors());
    pending.count = 0;
}

}  // namespace nimbrel::codecs::detail

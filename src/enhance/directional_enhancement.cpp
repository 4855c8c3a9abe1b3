#include "enhance/directional_enhancement.h"

#include <cstring>

#include "enhance/segment_rows.h"

namespace zp {


namespace {

constexpr std::int32_t kFrame = segments::kFrame;
constexpr std::int32_t kBlockShift = segments::kBlockShift;
constexpr std::int32_t kRadius = 3;
// Results of row y wait in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 8;
// Sums are scaled back by the kernels' total, 512.
constexpr std::int32_t kScaleShift = 9;
// Each kernel is unchanged by a half turn, so the 49 taps fold into the
// centre and 24 pairs (dx, dy) / (-dx, -dy) sharing a weight.
constexpr std::int32_t kPairs = 24;

constexpr bool halfTurnSymmetric() {
    for (const EnhancementKernel& k : kEnhancementKernels)
        for (std::int32_t r = 0; r < 7; ++r)
            for (std::int32_t c = 0; c < 7; ++c)
                if (k[r][c] != k[6 - r][6 - c]) return false;
    return true;
}
static_assert(halfTurnSymmetric(), "the folded filter needs kernels unchanged by a half turn");

struct FoldedKernel {
    std::int16_t centre = 0;
    std::array<std::int16_t, kPairs> weights{};
    std::array<std::int32_t, kPairs> offsets{};  // (dy * width + dx) of the first tap
    // Weights of taps 2m (low half) and 2m + 1 (high half) as one word, for
    // the vectors' multiply-add of neighbouring 16-bit lanes; the last word
    // pairs the centre with nothing.
    std::array<std::int32_t, kPairs / 2 + 1> pairedWeights{};
};

struct Enhancement {
    using Entry = FoldedKernel;

    // Filters the n <= 8 pixels from p on with one folded kernel, into out.
    // All eight lanes are computed (the reads stay inside the rows below) so
    // that the loop has a fixed length.
    static void run(const std::uint8_t* p, std::uint8_t* out, const FoldedKernel& k, std::int32_t n) {
        constexpr std::int32_t N = segments::kLength;
        std::int32_t acc[N];
        for (std::int32_t i = 0; i < N; ++i) acc[i] = k.centre * p[i];
        for (std::int32_t t = 0; t < kPairs; ++t) {
            const std::uint8_t* a = p + k.offsets[t];
            const std::uint8_t* b = p - k.offsets[t];
            const std::int32_t w = k.weights[t];
            for (std::int32_t i = 0; i < N; ++i) {
                // |w| <= 42 and a pair sums to at most 510: the product fits 16 bits.
                acc[i] += static_cast<std::int16_t>(w * (a[i] + b[i]));
            }
        }
        for (std::int32_t i = 0; i < n; ++i) {
            const std::int32_t v = acc[i] <= 0 ? 0 : acc[i] >> kScaleShift;
            out[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        }
    }

#if defined(ZP_VECTOR_PATHS)
    // The vector paths sum the same products exactly: a pair of taps is one
    // 16-bit lane (at most 510), two pairs' weights multiply neighbouring
    // lanes into one 32-bit sum. The final shift, then saturation to 16 and
    // to 8 bits, gives 0 for sums up to 511 and for every negative one, 255
    // from 256 x 512 on.
    static __m128i pairSumSse2(const std::uint8_t* p, std::int32_t offset) {
        const __m128i zero = _mm_setzero_si128();
        return _mm_add_epi16(_mm_unpacklo_epi8(segments::loadEight(p + offset), zero),
                             _mm_unpacklo_epi8(segments::loadEight(p - offset), zero));
    }

    static void runSse2(const std::uint8_t* p, std::uint8_t* out, const FoldedKernel& k, std::int32_t n) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i centre = _mm_unpacklo_epi8(segments::loadEight(p), zero);
        const __m128i cw = _mm_set1_epi32(k.pairedWeights[kPairs / 2]);
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(centre, zero), cw);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(centre, zero), cw);
        for (std::int32_t t = 0; t < kPairs; t += 2) {
            const __m128i u0 = pairSumSse2(p, k.offsets[t]);
            const __m128i u1 = pairSumSse2(p, k.offsets[t + 1]);
            const __m128i w = _mm_set1_epi32(k.pairedWeights[t / 2]);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(u0, u1), w));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(u0, u1), w));
        }
        const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo, kScaleShift), _mm_srai_epi32(hi, kScaleShift));
        segments::storeSegment(_mm_packus_epi16(words, zero), out, n);
    }

    // Tap pair sums of both segments, the first in the low 16 bytes; with
    // one kernel for both, each tap is a single 16-byte read.
    template <bool kSame>
    __attribute__((target("avx2"))) static __m256i pairSumAvx2(const std::uint8_t* p, std::int32_t ok,
                                                               std::int32_t om) {
        __m128i a;
        __m128i b;
        if constexpr (kSame) {
            a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + ok));
            b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - ok));
        } else {
            a = _mm_unpacklo_epi64(segments::loadEight(p + ok), segments::loadEight(p + segments::kLength + om));
            b = _mm_unpacklo_epi64(segments::loadEight(p - ok), segments::loadEight(p + segments::kLength - om));
        }
        return _mm256_add_epi16(_mm256_cvtepu8_epi16(a), _mm256_cvtepu8_epi16(b));
    }

    template <bool kSame>
    __attribute__((target("avx2"))) static __m256i weightsAvx2(const FoldedKernel& k, const FoldedKernel& m,
                                                               std::int32_t i) {
        if constexpr (kSame) return _mm256_set1_epi32(k.pairedWeights[i]);
        return _mm256_setr_m128i(_mm_set1_epi32(k.pairedWeights[i]), _mm_set1_epi32(m.pairedWeights[i]));
    }

    template <bool kSame>
    __attribute__((target("avx2"))) static void runTwoAvx2(const std::uint8_t* p, std::uint8_t* out,
                                                           const FoldedKernel& k, const FoldedKernel& m,
                                                           std::int32_t secondLength) {
        const __m256i zero = _mm256_setzero_si256();
        const __m256i centre = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m256i cw = weightsAvx2<kSame>(k, m, kPairs / 2);
        __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(centre, zero), cw);
        __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(centre, zero), cw);
        for (std::int32_t t = 0; t < kPairs; t += 2) {
            const __m256i u0 = pairSumAvx2<kSame>(p, k.offsets[t], m.offsets[t]);
            const __m256i u1 = pairSumAvx2<kSame>(p, k.offsets[t + 1], m.offsets[t + 1]);
            const __m256i w = weightsAvx2<kSame>(k, m, t / 2);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(u0, u1), w));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(u0, u1), w));
        }
        // Unpacking and packing keep to each 16-byte half: the first
        // segment's bytes end up in the low half, the second's in the high one.
        const __m256i words =
            _mm256_packs_epi32(_mm256_srai_epi32(lo, kScaleShift), _mm256_srai_epi32(hi, kScaleShift));
        const __m256i bytes = _mm256_packus_epi16(words, zero);
        segments::storeSegment(_mm256_castsi256_si128(bytes), out, segments::kLength);
        segments::storeSegment(_mm256_extracti128_si256(bytes, 1), out + segments::kLength, secondLength);
    }
#endif
};

}  // namespace

void directionalEnhancement(std::uint8_t* image, std::int32_t width, std::int32_t height,
                            const std::uint8_t* blockMap) {
    directionalEnhancement(image, width, height, blockMap, bestVectorPath());
}

void directionalEnhancement(std::uint8_t* image, std::int32_t width, std::int32_t height,
                            const std::uint8_t* blockMap, VectorPath path) {
    if (width < 1 || height < 12) return;

    std::array<FoldedKernel, 8> kernels{};
    for (std::size_t code = 0; code < kernels.size(); ++code) {
        const EnhancementKernel& k = kEnhancementKernels[code];
        FoldedKernel& f = kernels[code];
        f.centre = k[kRadius][kRadius];
        std::int32_t t = 0;
        // The first 24 taps in row order lie before the centre; their
        // partners lie after it.
        for (std::int32_t dy = -kRadius; dy <= kRadius && t < kPairs; ++dy) {
            for (std::int32_t dx = -kRadius; dx <= kRadius && t < kPairs; ++dx) {
                f.weights[t] = k[kRadius + dy][kRadius + dx];
                f.offsets[t] = dy * width + dx;
                ++t;
            }
        }
        for (std::int32_t m = 0; m < kPairs / 2; ++m) {
            f.pairedWeights[m] = static_cast<std::uint16_t>(f.weights[2 * m]) | (f.weights[2 * m + 1] * 65536);
        }
        f.pairedWeights[kPairs / 2] = static_cast<std::uint16_t>(f.centre);
    }
    const segments::RowFunction<Enhancement> filterRow = segments::rowFunctionFor<Enhancement>(path);

    const auto rowBytes = static_cast<std::size_t>(width);
    // Rows 4..7 are overwritten by parked results; keep them at the bottom.
    std::memcpy(image + (height - 4) * width, image + 4 * width, 4 * rowBytes);

    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* row = image + y * width;
        std::uint8_t* out = image + (y - kDelay) * width;
        std::memcpy(out, row, rowBytes);
        filterRow(row, out, blockMap + (y >> kBlockShift) * columns, width, kernels);
    }

    if (height > 2 * kDelay) {
        std::memmove(image + kDelay * width, image, static_cast<std::size_t>(height - 2 * kDelay) * rowBytes);
    }
    std::memcpy(image + 4 * width, image + (height - 4) * width, 4 * rowBytes);
}

}  // namespace zp

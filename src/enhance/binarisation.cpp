#include "enhance/binarisation.h"

#include <cstring>

#include "enhance/segment_rows.h"

namespace zp {
namespace {

constexpr std::int32_t kFrame = segments::kFrame;
constexpr std::int32_t kBlockShift = segments::kBlockShift;
// Results of row y wait in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 4;
// Threshold = flank sum x 205 / 2048, a little over the mean of ten.
constexpr std::int32_t kMeanFactor = 205;
constexpr std::int32_t kMeanShift = 11;
constexpr std::int32_t kFlanks = 10;

using Flanks = std::array<std::int32_t, kFlanks>;  // offsets dy * width + dx

struct Binarisation {
    using Entry = Flanks;

    // Decides the n <= 8 pixels from p on. All eight lanes are computed
    // (reads stay inside the rows around), only n are stored.
    static void run(const std::uint8_t* p, std::uint8_t* out, const Flanks& flank, std::int32_t n) {
        constexpr std::int32_t N = segments::kLength;
        std::int32_t sum[N];
        for (std::int32_t i = 0; i < N; ++i) sum[i] = 0;
        for (std::int32_t f = 0; f < kFlanks; ++f) {
            const std::uint8_t* q = p + flank[f];
            for (std::int32_t i = 0; i < N; ++i) sum[i] += q[i];
        }
        std::uint8_t result[N];
        for (std::int32_t i = 0; i < N; ++i) {
            const std::int32_t threshold = (kMeanFactor * sum[i]) >> kMeanShift;
            result[i] = static_cast<std::uint8_t>(p[i] >= threshold && p[i] >= 1 ? 1 : 0);
        }
        std::memcpy(out, result, static_cast<std::size_t>(n));
    }

#if defined(ZP_VECTOR_PATHS)
    // The vector paths: a flank sum (at most 2550) fits a 16-bit lane, and
    // the high half of sum x (205 x 32) is (205 x sum) >> 11 exactly. A
    // pixel is ridge where max(pixel, threshold) is the pixel and it is not 0.
    static constexpr std::int16_t kMeanFactorHigh = kMeanFactor << (16 - kMeanShift);

    static void runSse2(const std::uint8_t* p, std::uint8_t* out, const Flanks& flank, std::int32_t n) {
        const __m128i zero = _mm_setzero_si128();
        __m128i sum = zero;
        for (std::int32_t f = 0; f < kFlanks; ++f) {
            sum = _mm_add_epi16(sum, _mm_unpacklo_epi8(segments::loadEight(p + flank[f]), zero));
        }
        const __m128i threshold = _mm_mulhi_epu16(sum, _mm_set1_epi16(kMeanFactorHigh));
        const __m128i pixels = _mm_unpacklo_epi8(segments::loadEight(p), zero);
        const __m128i atLeast = _mm_cmpeq_epi16(_mm_max_epi16(pixels, threshold), pixels);
        const __m128i ridge = _mm_and_si128(_mm_andnot_si128(_mm_cmpeq_epi16(pixels, zero), atLeast), _mm_set1_epi16(1));
        segments::storeSegment(_mm_packus_epi16(ridge, zero), out, n);
    }

    // Both segments' flank sums, the first in the low half; with one flank
    // set for both, each flank is a single 16-byte read.
    template <bool kSame>
    __attribute__((target("avx2"))) static void runTwoAvx2(const std::uint8_t* p, std::uint8_t* out, const Flanks& f,
                                                           const Flanks& g, std::int32_t secondLength) {
        __m256i sum = _mm256_setzero_si256();
        for (std::int32_t k = 0; k < kFlanks; ++k) {
            const __m128i bytes =
                kSame ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + f[k]))
                      : _mm_unpacklo_epi64(segments::loadEight(p + f[k]), segments::loadEight(p + segments::kLength + g[k]));
            sum = _mm256_add_epi16(sum, _mm256_cvtepu8_epi16(bytes));
        }
        const __m256i threshold = _mm256_mulhi_epu16(sum, _mm256_set1_epi16(kMeanFactorHigh));
        const __m256i pixels = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m256i atLeast = _mm256_cmpeq_epi16(_mm256_max_epi16(pixels, threshold), pixels);
        const __m256i ridge = _mm256_and_si256(
            _mm256_andnot_si256(_mm256_cmpeq_epi16(pixels, _mm256_setzero_si256()), atLeast), _mm256_set1_epi16(1));
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(ridge), _mm256_extracti128_si256(ridge, 1));
        segments::storeSegment(bytes, out, segments::kLength);
        segments::storeSegment(_mm_srli_si128(bytes, segments::kLength), out + segments::kLength, secondLength);
    }
#endif
};

}  // namespace

void binarise(std::int32_t classCode, std::uint8_t* image, std::int32_t width, std::int32_t height,
              const std::uint8_t* blockMap) {
    binarise(classCode, image, width, height, blockMap, bestVectorPath());
}

void binarise(std::int32_t /*classCode*/, std::uint8_t* image, std::int32_t width, std::int32_t height,
              const std::uint8_t* blockMap, VectorPath path) {
    if (width < 1 || height < 1) return;
    const auto rowBytes = static_cast<std::size_t>(width);
    if (height < 2 * kFrame) {
        // Nothing but frame.
        std::memset(image, 0, static_cast<std::size_t>(height) * rowBytes);
        return;
    }

    std::array<Flanks, 8> offsets{};
    for (std::size_t code = 0; code < offsets.size(); ++code) {
        for (std::size_t i = 0; i < offsets[code].size(); ++i) {
            offsets[code][i] = kFlankSets[code][i].dy * width + kFlankSets[code][i].dx;
        }
    }

    const segments::RowFunction<Binarisation> binariseRow = segments::rowFunctionFor<Binarisation>(path);
    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* row = image + y * width;
        std::uint8_t* out = image + (y - kDelay) * width;
        std::memset(out, 0, rowBytes);
        binariseRow(row, out, blockMap + (y >> kBlockShift) * columns, width, offsets);
    }
    std::memset(image + (height - kFrame) * width, 0, kFrame * rowBytes);
    if (height - 12 > kDelay) {
        std::memmove(image + kFrame * width, image + kDelay * width,
                     static_cast<std::size_t>(height - 12 - kDelay) * rowBytes);
    }
    std::memset(image, 0, kFrame * rowBytes);
}

}  // namespace zp

#include "match/pairing_score.h"

#include <array>
#include <bit>
#include <cstdint>

#include "math/integer_math.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {
namespace {

// Positions of the aligned model's minutiae, padded to whole blocks of eight,
// as 16-bit values held to the 16-bit range. Held positions still lie 7 or
// more from every minutia of model A (whose coordinates are small), so the
// box test gives the same answer as on the exact positions.
inline constexpr std::int32_t kPaddedMinutiae = 64;
struct Positions {
    alignas(16) std::array<std::int16_t, kPaddedMinutiae> x;
    alignas(16) std::array<std::int16_t, kPaddedMinutiae> y;
};

inline std::int16_t heldTo16Bits(std::int32_t v) {
    return static_cast<std::int16_t>(v < INT16_MIN ? INT16_MIN : (v > INT16_MAX ? INT16_MAX : v));
}

// Bit j set when minutia j (below count) lies less than kPairDistanceLimit
// from (x, y) in both x and y: the box test of the second pass, for every j
// at once. x and y lie within the 16-bit range.
std::uint64_t nearMask(std::int32_t x, std::int32_t y, const Positions& p, std::int32_t count) {
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    // A difference g lies in -6..6 when g + 6, saturated, is 0..12: then
    // (g + 6) - 12 saturates to 0 as an unsigned value, and only then.
    const __m128i cx = _mm_set1_epi16(static_cast<std::int16_t>(x));
    const __m128i cy = _mm_set1_epi16(static_cast<std::int16_t>(y));
    const __m128i below = _mm_set1_epi16(kPairDistanceLimit - 1);
    const __m128i span = _mm_set1_epi16(2 * (kPairDistanceLimit - 1));
    const __m128i zero = _mm_setzero_si128();
    for (std::int32_t j = 0; j < count; j += 8) {
        const __m128i dx = _mm_subs_epi16(cx, _mm_load_si128(reinterpret_cast<const __m128i*>(p.x.data() + j)));
        const __m128i dy = _mm_subs_epi16(cy, _mm_load_si128(reinterpret_cast<const __m128i*>(p.y.data() + j)));
        const __m128i outX = _mm_subs_epu16(_mm_adds_epi16(dx, below), span);
        const __m128i outY = _mm_subs_epu16(_mm_adds_epi16(dy, below), span);
        const __m128i near = _mm_cmpeq_epi16(_mm_or_si128(outX, outY), zero);
        const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(near, zero)));
        mask |= static_cast<std::uint64_t>(bits) << j;
    }
    mask &= (std::uint64_t{1} << count) - 1;
#else
    for (std::int32_t j = 0; j < count; ++j) {
        const std::int32_t dx = x - p.x[static_cast<std::size_t>(j)];
        const std::int32_t dy = y - p.y[static_cast<std::size_t>(j)];
        if (dx > -kPairDistanceLimit && dx < kPairDistanceLimit && dy > -kPairDistanceLimit &&
            dy < kPairDistanceLimit) {
            mask |= std::uint64_t{1} << j;
        }
    }
#endif
    return mask;
}

#if defined(ZP_VECTOR_PATHS)
#define ZP_NEAR_AVX512 __attribute__((target("avx512f,avx512bw")))
// Per 16-bit lane: 0 when c - v lies in -6..6, as nearMask tests it.
ZP_NEAR_AVX512 inline __m512i outsideBox(__m512i c, __m512i v) {
    const __m512i below = _mm512_set1_epi16(kPairDistanceLimit - 1);
    const __m512i span = _mm512_set1_epi16(2 * (kPairDistanceLimit - 1));
    return _mm512_subs_epu16(_mm512_adds_epi16(_mm512_subs_epi16(c, v), below), span);
}

// The same test, 32 aligned minutiae per register, all of them held in four.
ZP_NEAR_AVX512 void nearMasksAvx512(const MatchingModel& a, const Positions& p, std::int32_t count,
                                    std::array<std::uint64_t, kMaxMinutiae>& near) {
    static_assert(kPaddedMinutiae == 64);
    const __m512i x0 = _mm512_loadu_si512(p.x.data());
    const __m512i x1 = _mm512_loadu_si512(p.x.data() + 32);
    const __m512i y0 = _mm512_loadu_si512(p.y.data());
    const __m512i y1 = _mm512_loadu_si512(p.y.data() + 32);
    const std::uint64_t real = count < 64 ? (std::uint64_t{1} << count) - 1 : ~std::uint64_t{0};
    for (std::int32_t i = 0; i < a.count; ++i) {
        const MinutiaRecord& m = a.minutiae[static_cast<std::size_t>(i)];
        const __m512i cx = _mm512_set1_epi16(static_cast<std::int16_t>(m.x));
        const __m512i cy = _mm512_set1_epi16(static_cast<std::int16_t>(m.y));
        const __m512i out0 = _mm512_or_si512(outsideBox(cx, x0), outsideBox(cy, y0));
        const __m512i out1 = _mm512_or_si512(outsideBox(cx, x1), outsideBox(cy, y1));
        const std::uint64_t low = _mm512_testn_epi16_mask(out0, out0);
        const std::uint64_t high = _mm512_testn_epi16_mask(out1, out1);
        near[static_cast<std::size_t>(i)] = (low | (high << 32)) & real;
    }
}
#undef ZP_NEAR_AVX512
#endif

// Pairs need d = isqrt(dx² + dy²) below 7, that is dx² + dy² below 49:
// kPairDistance[n] = isqrt(n) for the squares that can pair.
constexpr std::int32_t kPairableSquares = kPairDistanceLimit * kPairDistanceLimit;
constexpr std::array<std::uint8_t, kPairableSquares> makePairDistances() {
    std::array<std::uint8_t, kPairableSquares> out{};
    for (std::int32_t n = 0; n < kPairableSquares; ++n) {
        out[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(constIsqrt(n));
    }
    return out;
}
constexpr std::array<std::uint8_t, kPairableSquares> kPairDistance = makePairDistances();

}  // namespace

std::int32_t anchorScore(const MatchingModel& a, const MatchingModel& aligned,
                         const CandidatePairList& pairs, std::int32_t expectedOverlap) {
    return anchorScore(a, aligned, pairs, expectedOverlap, bestVectorPath());
}

std::int32_t anchorScore(const MatchingModel& a, const MatchingModel& aligned,
                         const CandidatePairList& pairs, std::int32_t expectedOverlap, VectorPath path) {
    const std::int32_t candidates = pairs.count;
    if (candidates == 0) return 0;
    std::array<bool, kMaxMinutiae> pairedA{};
    std::array<bool, kMaxMinutiae> pairedL{};
    // The pair scores are only ever summed, so the sum is kept instead of the
    // list (which can reach 51 entries when every candidate is confirmed).
    std::int32_t sum = 0;
    std::int32_t confirmed = 0;
    std::int32_t total = 0;

    for (std::int32_t k = 0; k < candidates; ++k) {
        const CandidatePair& e = pairs.entries[static_cast<std::size_t>(k)];
        const MinutiaRecord& ma = a.minutiae[e.first];
        const MinutiaRecord& ml = aligned.minutiae[e.second];
        const std::int32_t delta = circularDifference(ma.direction, ml.direction);
        if (delta >= kPairAngleLimit) continue;
        const std::int32_t dx = ma.x - ml.x;
        const std::int32_t dy = ma.y - ml.y;
        const std::int32_t square = dx * dx + dy * dy;
        if (square >= kPairableSquares) continue;
        const std::int32_t d = kPairDistance[static_cast<std::size_t>(square)];
        pairedA[e.first] = true;
        pairedL[e.second] = true;
        sum += pairWeight(d, delta) * e.similarity;
        ++confirmed;
        ++total;
    }

    // The second pass always runs, even when the first already passed the
    // limit: it then adds at most one pair. For each minutia of A, the
    // aligned minutiae within the box of |dx|, |dy| < 7 that are not yet
    // paired are found at once and visited in order of j; only the one just
    // visited becomes paired meanwhile, so this is the scan over every j.
    Positions positions{};
    std::uint64_t unpaired = 0;
    for (std::int32_t j = 0; j < aligned.count; ++j) {
        positions.x[static_cast<std::size_t>(j)] = heldTo16Bits(aligned.minutiae[static_cast<std::size_t>(j)].x);
        positions.y[static_cast<std::size_t>(j)] = heldTo16Bits(aligned.minutiae[static_cast<std::size_t>(j)].y);
        if (!pairedL[static_cast<std::size_t>(j)]) unpaired |= std::uint64_t{1} << j;
    }
    // On AVX-512 every minutia's near mask is made before the pass; else
    // each as the pass reaches it.
    std::array<std::uint64_t, kMaxMinutiae> nearOf;
#if defined(ZP_VECTOR_PATHS)
    const bool allAtOnce = path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512);
    if (allAtOnce) nearMasksAvx512(a, positions, aligned.count, nearOf);
#else
    static_cast<void>(path);
    constexpr bool allAtOnce = false;
#endif
    bool ended = false;
    for (std::int32_t i = 0; i < a.count && !ended; ++i) {
        if (pairedA[static_cast<std::size_t>(i)]) continue;
        const MinutiaRecord& ma = a.minutiae[static_cast<std::size_t>(i)];
        std::uint64_t near =
            (allAtOnce ? nearOf[static_cast<std::size_t>(i)] : nearMask(ma.x, ma.y, positions, aligned.count)) & unpaired;
        for (; near != 0; near &= near - 1) {
            const std::int32_t j = std::countr_zero(near);
            const MinutiaRecord& ml = aligned.minutiae[static_cast<std::size_t>(j)];
            const std::int32_t dx = ma.x - ml.x;
            const std::int32_t dy = ma.y - ml.y;
            const std::int32_t delta = circularDifference(ma.direction, ml.direction);
            if (delta >= kPairAngleLimit) continue;
            const std::int32_t square = dx * dx + dy * dy;
            if (square >= kPairableSquares) continue;
            const std::int32_t d = kPairDistance[static_cast<std::size_t>(square)];
            unpaired &= ~(std::uint64_t{1} << j);
            std::int32_t weight = pairWeight(d, delta);
            if (ma.type != ml.type) weight /= 2;
            sum += weight;
            ++total;
            if (total > kSecondPassPairLimit) {
                ended = true;
                break;
            }
        }
    }

    return combineScore(sum, total, expectedOverlap, confirmed, candidates);
}

}  // namespace zp

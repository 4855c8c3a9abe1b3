// Which minutiae of a model may pair with one minutia: equal type bytes and
// directions within a tolerance, for all of them at once as a bit mask.
#pragma once

#include <array>
#include <cstdint>

#include "match/matching_model.h"
#include "math/small_clear.h"
#include "math/vector_path.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {

inline constexpr std::int32_t kMaskTypeShift = 10;   // type above the 9-bit direction
inline constexpr std::int32_t kLargestDecodedType = 31;
inline constexpr std::int32_t kLargestDecodedDirection = 511;

// Direction | type << 10 for each minutia of a decoded model (types 0..31,
// directions 0..511), in blocks of eight.
struct PackedMinutiae {
    std::array<std::uint16_t, 64> lanes;
    std::int32_t count;
};

inline void packMinutiae(const MatchingModel& model, PackedMinutiae& out) {
    clearSmallArray(out.lanes);
    out.count = model.count;
    for (std::int32_t j = 0; j < model.count; ++j) {
        const MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(j)];
        out.lanes[static_cast<std::size_t>(j)] =
            static_cast<std::uint16_t>(m.direction | (m.type << kMaskTypeShift));
    }
}

// Bit j set when minutia j of others has m's type byte and a direction whose
// circular difference from m's is at most tolerance (0..179). m's direction
// must be 0..511; a type byte beyond the decoded range matches nothing.
// Differences d = |a - b| agree when d <= tolerance or d >= 360 - tolerance,
// as the circular difference computes them for 9-bit directions.
inline std::uint64_t pairingMask(const MinutiaRecord& m, const PackedMinutiae& others,
                                 std::int32_t tolerance) {
    if (m.type > kLargestDecodedType) return 0;
    const std::uint32_t probe = static_cast<std::uint32_t>(m.direction | (m.type << kMaskTypeShift));
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128i p = _mm_set1_epi16(static_cast<std::int16_t>(probe));
    const __m128i zero = _mm_setzero_si128();
    const __m128i near = _mm_set1_epi16(static_cast<std::int16_t>(tolerance));
    const __m128i wrapFrom = _mm_set1_epi16(static_cast<std::int16_t>(360 - tolerance));
    const __m128i largest = _mm_set1_epi16(kLargestDecodedDirection);
    for (std::int32_t j = 0; j < others.count; j += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(others.lanes.data() + j));
        const __m128i g = _mm_or_si128(_mm_subs_epu16(c, p), _mm_subs_epu16(p, c));
        const __m128i wrap = _mm_max_epi16(_mm_subs_epu16(wrapFrom, g), _mm_subs_epu16(g, largest));
        const __m128i miss = _mm_min_epi16(_mm_subs_epu16(g, near), wrap);
        const __m128i hit = _mm_cmpeq_epi16(miss, zero);
        const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(hit, zero)));
        mask |= static_cast<std::uint64_t>(bits & 0xFF) << j;
    }
    if (others.count < 64) mask &= (std::uint64_t{1} << others.count) - 1;
#else
    for (std::int32_t j = 0; j < others.count; ++j) {
        const std::uint32_t c = others.lanes[static_cast<std::size_t>(j)];
        if ((c >> kMaskTypeShift) != m.type) continue;
        if (circularDifference(static_cast<std::int32_t>(c & 0x3FF), m.direction) <= tolerance) {
            mask |= std::uint64_t{1} << j;
        }
    }
#endif
    return mask;
}

#if defined(ZP_VECTOR_PATHS)
// pairingMask for every minutia of model at once, others held in two
// registers of 32 lanes: the same saturating differences.
__attribute__((target("avx512f,avx512bw"))) inline void pairingMasksAvx512(
    const MatchingModel& model, const PackedMinutiae& others, std::int32_t tolerance,
    std::array<std::uint64_t, kMaxMinutiae>& out) {
    static_assert(sizeof(others.lanes) == 128);
    const __m512i low = _mm512_loadu_si512(others.lanes.data());
    const __m512i high = _mm512_loadu_si512(others.lanes.data() + 32);
    const __m512i near = _mm512_set1_epi16(static_cast<std::int16_t>(tolerance));
    const __m512i wrapFrom = _mm512_set1_epi16(static_cast<std::int16_t>(360 - tolerance));
    const __m512i largest = _mm512_set1_epi16(kLargestDecodedDirection);
    const std::uint64_t real = others.count < 64 ? (std::uint64_t{1} << others.count) - 1 : ~std::uint64_t{0};
    for (std::int32_t i = 0; i < model.count; ++i) {
        const MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(i)];
        const __m512i p = _mm512_set1_epi16(static_cast<std::int16_t>(m.direction | (m.type << kMaskTypeShift)));
        const __m512i g0 = _mm512_or_si512(_mm512_subs_epu16(low, p), _mm512_subs_epu16(p, low));
        const __m512i g1 = _mm512_or_si512(_mm512_subs_epu16(high, p), _mm512_subs_epu16(p, high));
        const __m512i miss0 = _mm512_min_epi16(_mm512_subs_epu16(g0, near),
                                               _mm512_max_epi16(_mm512_subs_epu16(wrapFrom, g0), _mm512_subs_epu16(g0, largest)));
        const __m512i miss1 = _mm512_min_epi16(_mm512_subs_epu16(g1, near),
                                               _mm512_max_epi16(_mm512_subs_epu16(wrapFrom, g1), _mm512_subs_epu16(g1, largest)));
        const std::uint64_t hits = std::uint64_t{_mm512_testn_epi16_mask(miss0, miss0)} |
                                   (std::uint64_t{_mm512_testn_epi16_mask(miss1, miss1)} << 32);
        out[static_cast<std::size_t>(i)] = m.type > kLargestDecodedType ? 0 : hits & real;
    }
}
#endif

// pairingMask of every minutia of model, into out[i], on a chosen path.
inline void pairingMasks(const MatchingModel& model, const PackedMinutiae& others, std::int32_t tolerance,
                         std::array<std::uint64_t, kMaxMinutiae>& out, VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512)) {
        pairingMasksAvx512(model, others, tolerance, out);
        return;
    }
#else
    static_cast<void>(path);
#endif
    for (std::int32_t i = 0; i < model.count; ++i) {
        out[static_cast<std::size_t>(i)] = pairingMask(model.minutiae[static_cast<std::size_t>(i)], others, tolerance);
    }
}

}  // namespace zp

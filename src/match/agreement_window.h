// Agreement of neighbour cells, tested over a window of cells at once.
//
// A cell is packed into 32 bits as two 16-bit lanes: the low lane holds the
// first relative direction (9 bits) and, from bit 10, the two bifurcation
// flags when they must match too; the high lane holds the second relative
// direction. Two directions agree when |a - b| <= 10 or 350 <= |a - b| <= 511,
// which is exactly "circular difference at most 10" for 9-bit directions
// (including the negative differences that directions of 360 and more give).
// Differing flags make |a - b| at least 513 in the low lane, so they never
// agree.
#pragma once

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zp {

inline constexpr std::int32_t kAgreeNear = 10;         // within this: agree
inline constexpr std::int32_t kAgreeWrapFrom = 350;    // 360 - 10: agree across 0
inline constexpr std::int32_t kLargestAngleGap = 511;  // two 9-bit directions
inline constexpr std::int32_t kFlagShift = 10;         // flags above the direction
// Cells read past a window's end by the vector test: arrays of packed cells
// carry this many readable cells after their last one.
inline constexpr std::int32_t kWindowPadding = 3;

inline constexpr std::uint32_t packCell(std::int32_t first, std::int32_t second,
                                        std::int32_t flags) {
    return static_cast<std::uint32_t>(first | (flags << kFlagShift)) |
           (static_cast<std::uint32_t>(second) << 16);
}

inline constexpr bool lanesAgree(std::uint32_t cell, std::uint32_t probe) {
    const auto gap = [](std::int32_t a, std::int32_t b) { return a > b ? a - b : b - a; };
    const std::int32_t g1 = gap(static_cast<std::int32_t>(cell & 0xFFFF),
                                static_cast<std::int32_t>(probe & 0xFFFF));
    const std::int32_t g2 =
        gap(static_cast<std::int32_t>(cell >> 16), static_cast<std::int32_t>(probe >> 16));
    const auto agree = [](std::int32_t g) {
        return g <= kAgreeNear || (g >= kAgreeWrapFrom && g <= kLargestAngleGap);
    };
    return agree(g1) && agree(g2);
}

// True when some cell of cells[from, to) agrees with probe. Portable path.
inline bool anyAgreeingCellScalar(const std::uint32_t* cells, std::int32_t from, std::int32_t to,
                                  std::uint32_t probe) {
    for (std::int32_t k = from; k < to; ++k) {
        if (lanesAgree(cells[k], probe)) return true;
    }
    return false;
}

#if defined(__SSE2__)
// Four cells per step; reads up to kWindowPadding cells beyond to. Per lane
// g = |c - p| (saturating both ways); the lane agrees when g - 10 or
// 350 - g saturates to 0, and, where flags may differ, g - 511 does too.
template <bool kWithFlags>
inline bool anyAgreeingCellVector(const std::uint32_t* cells, std::int32_t from, std::int32_t to,
                                  std::uint32_t probe) {
    const __m128i p = _mm_set1_epi32(static_cast<std::int32_t>(probe));
    const __m128i zero = _mm_setzero_si128();
    const __m128i near = _mm_set1_epi16(kAgreeNear);
    const __m128i wrapFrom = _mm_set1_epi16(kAgreeWrapFrom);
    const __m128i largest = _mm_set1_epi16(kLargestAngleGap);
    for (std::int32_t k = from; k < to; k += 4) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + k));
        const __m128i g = _mm_or_si128(_mm_subs_epu16(c, p), _mm_subs_epu16(p, c));
        __m128i wrap = _mm_subs_epu16(wrapFrom, g);
        if constexpr (kWithFlags) wrap = _mm_max_epi16(wrap, _mm_subs_epu16(g, largest));
        const __m128i miss = _mm_min_epi16(_mm_subs_epu16(g, near), wrap);
        std::int32_t bits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(miss, zero)));
        const std::int32_t left = to - k;
        if (left < 4) bits &= (1 << left) - 1;
        if (bits != 0) return true;
    }
    return false;
}
#endif

// kWithFlags: the cells may carry flags (then they must be equal).
template <bool kWithFlags>
inline bool anyAgreeingCell(const std::uint32_t* cells, std::int32_t from, std::int32_t to,
                            std::uint32_t probe) {
#if defined(__SSE2__)
    return anyAgreeingCellVector<kWithFlags>(cells, from, to, probe);
#else
    return anyAgreeingCellScalar(cells, from, to, probe);
#endif
}

// Direction buckets for directions 0..359: bucket k holds 12k .. 12k + 11.
// Two directions within 10 degrees of each other (across 0 too) lie in the
// same or neighbouring buckets, counted round the circle, since 10 < 12 and
// 30 buckets fill the circle exactly. Directions of 360 and more have no
// bucket (entry kDirectionBuckets); rows holding them take the window test.
inline constexpr std::int32_t kDirectionBucketWidth = 12;
inline constexpr std::int32_t kDirectionBuckets = 30;
inline constexpr std::int32_t kFullCircle = 360;
static_assert(kDirectionBucketWidth * kDirectionBuckets == kFullCircle);
static_assert(kAgreeNear < kDirectionBucketWidth);

// Bucket of each 9-bit direction.
constexpr std::array<std::uint8_t, kLargestAngleGap + 1> makeDirectionBuckets() {
    std::array<std::uint8_t, kLargestAngleGap + 1> out{};
    for (std::int32_t a = 0; a <= kLargestAngleGap; ++a) {
        out[static_cast<std::size_t>(a)] =
            static_cast<std::uint8_t>(a < kFullCircle ? a / kDirectionBucketWidth : kDirectionBuckets);
    }
    return out;
}
inline constexpr std::array<std::uint8_t, kLargestAngleGap + 1> kDirectionBucket = makeDirectionBuckets();

// Running counts for distance windows: given how many cells have each
// distance (histogram[k] for distance k - offset), writes
// farther[k] = total - (histogram[0] + ... + histogram[k]), the number of
// cells farther than distance k - offset. Sizes are whole 16-byte blocks.
inline constexpr std::int32_t kWindowTableBytes = 80;
using WindowTable = std::array<std::uint8_t, kWindowTableBytes>;

inline void fartherCounts(const WindowTable& histogram, std::int32_t total, WindowTable& farther) {
#if defined(__SSE2__)
    const __m128i all = _mm_set1_epi8(static_cast<char>(total));
    __m128i carry = _mm_setzero_si128();
    for (std::int32_t k = 0; k < kWindowTableBytes; k += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(histogram.data() + k));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
        v = _mm_add_epi8(v, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(farther.data() + k), _mm_sub_epi8(all, v));
        // The last running sum, in every byte, for the next block.
        const __m128i top = _mm_unpackhi_epi8(v, v);                  // bytes 8..15 doubled
        const __m128i last = _mm_shufflehi_epi16(top, 0xFF);          // word 7 (byte 15) to 4..7
        carry = _mm_shuffle_epi32(last, 0xFF);
    }
#else
    std::int32_t within = 0;
    for (std::int32_t k = 0; k < kWindowTableBytes; ++k) {
        within += histogram[static_cast<std::size_t>(k)];
        farther[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(total - within);
    }
#endif
}

}  // namespace zp

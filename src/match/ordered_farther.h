// Farther counts of an ordered row on the AVX-512 path, without a
// histogram: the row's cells, distance plus the table offset (saturated),
// fall along the row, so the cells farther than a threshold x are its
// first ones and their count is found by a binary search run in every
// threshold lane at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "match/agreement_window.h"
#include "math/vector_path.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>

namespace zp {

// Bytes 0..127: the thresholds x, in two registers.
inline constexpr std::array<std::uint8_t, 128> kFartherThresholds = [] {
    std::array<std::uint8_t, 128> out{};
    for (std::size_t x = 0; x < out.size(); ++x) out[x] = static_cast<std::uint8_t>(x);
    return out;
}();

// e: byte k the k-th cell's distance plus the offset of the table's index,
// saturated (a distance past the table's range then lies beyond every
// threshold), never rising along the row, and 0 past its last cell.
// kLargestStep: half the cells at most (16 for rows of up to 32 cells, 32
// for up to 64); a last step of one covers a row whose cells all lie
// farther. Both registers' searches run side by side.
template <std::int32_t kLargestStep>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline void orderedFarther(__m512i e, WindowTable& farther) {
    static_assert(kWindowTableBytes == 80 && (kLargestStep == 16 || kLargestStep == 32));
    const __m512i x0 = _mm512_loadu_si512(kFartherThresholds.data());
    const __m512i x1 = _mm512_loadu_si512(kFartherThresholds.data() + 64);
    __m512i count0 = _mm512_setzero_si512();
    __m512i count1 = _mm512_setzero_si512();
    const auto halve = [&](std::int32_t step) __attribute__((always_inline, target("avx512f,avx512bw,avx512vbmi"))) {
        const __m512i before = _mm512_set1_epi8(static_cast<char>(step - 1));
        const __m512i by = _mm512_set1_epi8(static_cast<char>(step));
        const __mmask64 farther0 = _mm512_cmpgt_epu8_mask(_mm512_permutexvar_epi8(_mm512_add_epi8(count0, before), e), x0);
        const __mmask64 farther1 = _mm512_cmpgt_epu8_mask(_mm512_permutexvar_epi8(_mm512_add_epi8(count1, before), e), x1);
        count0 = _mm512_mask_add_epi8(count0, farther0, count0, by);
        count1 = _mm512_mask_add_epi8(count1, farther1, count1, by);
    };
    for (std::int32_t step = kLargestStep; step >= 1; step /= 2) halve(step);
    halve(1);
    _mm512_storeu_si512(farther.data(), count0);
    _mm512_mask_storeu_epi8(farther.data() + 64, 0xFFFF, count1);
}

}  // namespace zp
#endif

// Stored neighbour cells read sixteen at a time on the AVX-512 path.
#pragma once

#include <cstdint>

#include "math/vector_path.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>

namespace zp {

// Sixteen stored cells' directions as packCell without flags: bytes 1 and
// 2 moved to bytes 0 and 2, their ninth bits (30 and 31) to bits 8 and 24.
__attribute__((target("avx512f,avx512bw"))) inline __m512i packedAnglesAvx512(__m512i cells) {
    const __m512i angleBytes = _mm512_set4_epi32(static_cast<std::int32_t>(0x800E800D), static_cast<std::int32_t>(0x800A8009),
                                                 static_cast<std::int32_t>(0x80068005), static_cast<std::int32_t>(0x80028001));
    return _mm512_ternarylogic_epi32(_mm512_shuffle_epi8(cells, angleBytes),
                                     _mm512_and_si512(_mm512_srli_epi32(cells, 22), _mm512_set1_epi32(0x100)),
                                     _mm512_and_si512(_mm512_srli_epi32(cells, 7), _mm512_set1_epi32(0x1000000)),
                                     0xFE);  // any of three
}

}  // namespace zp
#endif

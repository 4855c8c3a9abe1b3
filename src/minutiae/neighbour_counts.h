// Set neighbours of a row's pixels, 32 at a time on the AVX2 path: the
// scans over a skeleton use them to pass over the plain ridge pixels (two
// set neighbours) and visit only those that may end, fork or stand alone.
#pragma once

#include <cstdint>

#include "math/vector_path.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {

// Whether a scan over the rows inside a frame takes the AVX2 path: asked
// for, available, and rows holding at least one whole vector of pixels
// (narrower images keep the portable scan).
inline bool avx2RowScan(VectorPath path, std::int32_t width, std::int32_t frame) {
    return path >= VectorPath::Avx2 && vectorPathAvailable(VectorPath::Avx2) && width >= 2 * frame + 32;
}

#if defined(ZP_VECTOR_PATHS)

// Byte k: how many of the eight pixels around pixel x0 + k of row y are
// non-zero. Reads the rows above and below and one pixel beyond each side
// of the 32, all of which the caller's frame keeps inside the buffer (a
// last partial block reads on into the next row's frame).
__attribute__((target("avx2"))) inline __m256i neighbourCountsAvx2(const std::uint8_t* image, std::int32_t width,
                                                                  std::int32_t x0, std::int32_t y) {
    const std::uint8_t* p = image + y * width + x0;
    const __m256i one = _mm256_set1_epi8(1);
    __m256i count = _mm256_setzero_si256();
    for (const std::int32_t offset : {-width - 1, -width, -width + 1, -1, 1, width - 1, width, width + 1}) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + offset));
        count = _mm256_add_epi8(count, _mm256_min_epu8(v, one));
    }
    return count;
}

// Bit k: pixel x0 + k of row y lies before end (only the bits of a last
// partial block of 32 are cleared).
inline std::uint32_t pixelsBefore(std::int32_t x0, std::int32_t end) {
    return end - x0 >= 32 ? ~0U : (1U << (end - x0)) - 1;
}

#endif

}  // namespace zp

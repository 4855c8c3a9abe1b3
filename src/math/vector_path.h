// Vector paths: the ways a stage may compute the same result, from the
// portable loops to the widest vector instructions the processor offers.
// Every path gives identical bytes; the stages pick the best one at each
// call, and tests force each one in turn to compare them.
#pragma once

#include <array>
#include <cstdint>

// Defined where this build carries the x86 vector paths.
#if defined(__x86_64__) && defined(__SSE2__)
#define ZP_VECTOR_PATHS 1
#endif

namespace zp {

enum class VectorPath : std::uint8_t {
    Portable,  // plain loops, any processor
    Sse2,      // 16-byte vectors (every x86-64 processor)
    Avx2,      // 32-byte vectors, when the processor has them
    Avx512,    // AVX2 plus 64-byte vectors and mask registers (F, BW, VL, DQ, VBMI, VBMI2, CD) and GFNI
};

inline constexpr std::array<VectorPath, 4> kVectorPaths = {VectorPath::Portable, VectorPath::Sse2,
                                                           VectorPath::Avx2, VectorPath::Avx512};

// True when this build and this processor can run the path.
bool vectorPathAvailable(VectorPath path);

// The widest available path of those every stage knows (up to AVX2); the
// stages that have AVX-512 versions are given widestVectorPath().
VectorPath bestVectorPath();

// The widest available path.
VectorPath widestVectorPath();

// A stage's version for a path: the AVX2 one where AVX2 or wider is asked
// for and available, else the SSE2 one for any vector path, else the
// portable one.
template <typename F>
F functionForPath(VectorPath path, F portable, F sse2, F avx2) {
    if (path >= VectorPath::Avx2 && vectorPathAvailable(VectorPath::Avx2)) return avx2;
    if (path != VectorPath::Portable && vectorPathAvailable(VectorPath::Sse2)) return sse2;
    return portable;
}

}  // namespace zp

// Vector paths: the ways a stage may compute the same result, from the
// portable loops to the widest vector instructions the processor offers.
// Every path gives identical bytes; the stages pick the best one at each
// call, and tests force each one in turn to compare them.
#pragma once

#include <array>
#include <cstdint>

namespace zp {

enum class VectorPath : std::uint8_t {
    Portable,  // plain loops, any processor
    Sse2,      // 16-byte vectors (every x86-64 processor)
    Avx2,      // 32-byte vectors, when the processor has them
};

inline constexpr std::array<VectorPath, 3> kVectorPaths = {VectorPath::Portable, VectorPath::Sse2,
                                                           VectorPath::Avx2};

// True when this build and this processor can run the path.
bool vectorPathAvailable(VectorPath path);

// The widest available path.
VectorPath bestVectorPath();

}  // namespace zp

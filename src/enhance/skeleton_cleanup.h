// Skeleton cleanup after thinning: spur removal deletes isolated pixels,
// short isolated line pieces and short side branches; loop filling fills
// small closed loops so that the next thinning turns them into one line.
// Both work in place on the skeleton image (1 = ridge, 0 = other, 8-pixel
// frame of 0), examine 8 <= x < width - 8, 8 <= y < height - 8, and end with
// a thinning of border 8.
#pragma once

#include <cstdint>

#include "math/vector_path.h"

namespace zp {

// The class code is accepted for the pipeline's uniform stage calls and
// plays no part.
void spurRemoval(std::int32_t classCode, std::uint8_t* image, std::int32_t width,
                 std::int32_t height);
// The same on a chosen vector path (AVX2 finds the line ends and isolated
// pixels of 32 pixels of a row at once).
void spurRemoval(std::int32_t classCode, std::uint8_t* image, std::int32_t width,
                 std::int32_t height, VectorPath path);

void loopFilling(std::uint8_t* image, std::int32_t width, std::int32_t height);
// The same on a chosen vector path (AVX2 passes over pixels that can be
// neither alone nor a fork 32 at a time).
void loopFilling(std::uint8_t* image, std::int32_t width, std::int32_t height, VectorPath path);

}  // namespace zp

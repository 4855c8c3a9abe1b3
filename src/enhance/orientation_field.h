// Orientation field: the ridge direction of every finger block, quantised
// to eight direction codes 22.5 degrees apart.
#pragma once

#include <array>
#include <cstdint>

#include "math/vector_path.h"

namespace zp {

// Direction code k stands for a ridge direction of (k - 1) x 22.5 degrees,
// anticlockwise as the image is seen from the direction of increasing x.
inline constexpr std::uint8_t kHorizontalCode = 1;
inline constexpr std::uint8_t kVerticalCode = 5;

// Reads the image (ridges bright) and the 0/1 block map
// (blockMap[(y >> 3) * (width >> 3) + (x >> 3)], outer ring 0) and writes
// into every non-zero entry inside the outer ring its direction code 1..8.
// Each block's squared-gradient vector (3 x 3 Sobel, >> 2) is turned into
// 100 x (cos, sin) of the doubled gradient angle, both component maps are
// median-filtered over 5 x 5 blocks (background blocks taking part as
// (-100, -100)), and the turned doubled angle is halved and binned by its
// tangent. The image is only read. Maps wider than 32 or taller than 48
// blocks are left unchanged.
void orientationField(const std::uint8_t* image, std::int32_t width, std::int32_t height,
                      std::uint8_t* blockMap);

// Squared-gradient sums of the 8 x 8 block whose top-left pixel is at p
// (rows of width bytes; the pixels around it are read too): Sxx = sum of
// gx^2 - gy^2 and Sxy = sum of 2 gx gy, with gx, gy the 3 x 3 Sobel sums
// shifted right by 2 (arithmetic: towards minus infinity).
void blockGradientSums(const std::uint8_t* p, std::int32_t width, std::int32_t& sxx, std::int32_t& sxy);

// The same sums of the block at p and of the block right of it, as
// {Sxx, Sxy} of the first then of the second, where the path sums two
// blocks at once (AVX2); false, sums untouched, where it does not.
bool blockPairGradientSums(const std::uint8_t* p, std::int32_t width, std::array<std::int32_t, 4>& sums,
                           VectorPath path);

// Direction code of a block from its filtered cosine and sine bytes
// (100 - c, 100 - s).
std::uint8_t directionCode(std::uint8_t cosineByte, std::uint8_t sineByte);

// Direction code for t = trunc(100 x tangent of the halved ridge angle).
std::uint8_t directionCodeOfTangent(std::int32_t t);

}  // namespace zp

// Upsampling by two: bilinear doubling of a 250-dpi image in place.
#pragma once

#include <cstdint>

namespace zp {

// Most input rows or columns the doubling serves (384 output pixels).
inline constexpr std::int32_t kUpsampleMaxSide = 192;

// Doubles a width x height image to 2 width x 2 height in place; the buffer
// must hold 4 x width x height bytes. Output pixel (X, Y) interpolates the
// input pixel (X >> 1, Y >> 1) with its right, lower and lower-right
// neighbours, halves weighted, the last input row and column repeated. The
// caller doubles width and height afterwards. Sides outside 1..192 leave the
// image unchanged.
void upsampleByTwo(std::uint8_t* image, std::int32_t width, std::int32_t height);

}  // namespace zp

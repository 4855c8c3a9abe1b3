// Thinning: reduces the ridges of a binary ridge image to 8-connected lines
// one pixel wide, keeping their connectivity and end points.
#pragma once

#include <array>
#include <cstdint>

#include "math/vector_path.h"

namespace zp {

// Value of a pixel marked for deletion during a thinning iteration (odd, so
// it still counts as set). The skeleton cleanup uses it as its own mark.
inline constexpr std::uint8_t kThinningMark = 3;

// One entry per neighbour index (bit 0 E, 1 NE, 2 N, 3 NW, 4 W, 5 SW, 6 S,
// 7 SE; rows run downwards): 0 never deleted, bit 1 deletable in the row
// sub-pass, bit 2 deletable in the column sub-pass. A pixel is deletable
// when its crossing number is 1 and it has at least two set neighbours; the
// row sub-pass also needs W or E clear and set neighbours not all in the
// top or all in the bottom row, the column sub-pass N or S clear and set
// neighbours not all in the left or all in the right column.
inline constexpr std::array<std::uint8_t, 256> kThinningTable = {{
    0, 0, 0, 1, 0, 3, 2, 3, 0, 0, 0, 0, 2, 3, 2, 3,  // 0
    0, 0, 0, 0, 3, 2, 3, 2, 1, 0, 0, 0, 3, 2, 3, 2,  // 16
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 32
    1, 0, 0, 0, 3, 2, 3, 2, 1, 0, 0, 0, 3, 2, 3, 2,  // 48
    0, 3, 0, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1,  // 64
    3, 2, 0, 2, 1, 0, 1, 0, 3, 2, 0, 2, 1, 0, 1, 0,  // 80
    2, 3, 0, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1,  // 96
    3, 2, 0, 2, 1, 0, 1, 0, 3, 2, 0, 2, 1, 0, 1, 0,  // 112
    0, 1, 0, 1, 0, 3, 0, 3, 0, 0, 0, 0, 0, 3, 0, 3,  // 128
    0, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 2, 0, 2,  // 144
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 160
    0, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 2, 0, 2,  // 176
    2, 3, 0, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1,  // 192
    3, 2, 0, 2, 1, 0, 1, 0, 3, 2, 0, 2, 1, 0, 1, 0,  // 208
    2, 3, 0, 3, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1,  // 224
    3, 2, 0, 2, 1, 0, 1, 0, 3, 2, 0, 2, 1, 0, 1, 0,  // 240
}};

// Thins the pixels with border <= x < width - border and
// border <= y < height - border (border 8 when the argument is 8, else 4),
// repeating mark pass, row sub-pass, column sub-pass and reset until a mark
// pass marks nothing; the sub-passes see each deletion made before them in
// their scan order. Region pixels are 0 or 1 on entry and on return;
// neighbour reads reach one pixel beyond the region (odd values count as
// set), which is never changed. Marks that survive the row sub-pass are
// written as kThinningMark until the column sub-pass decides them. Images
// wider than 256 or taller than 384 pixels are left unchanged.
void thinning(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t border);
// The same on a chosen vector path (a narrower one where it is not available).
void thinning(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t border, VectorPath path);

// Neighbour index of the pixel at p in an image with rows of `width` bytes;
// a neighbour counts as set when its value is odd.
inline std::uint32_t thinningIndex(const std::uint8_t* p, std::int32_t width) {
    const std::uint8_t* n = p - width;
    const std::uint8_t* s = p + width;
    return (p[1] & 1U) | ((n[1] & 1U) << 1) | ((n[0] & 1U) << 2) | ((n[-1] & 1U) << 3) |
           ((p[-1] & 1U) << 4) | ((s[-1] & 1U) << 5) | ((s[0] & 1U) << 6) | ((s[1] & 1U) << 7);
}

}  // namespace zp

// Directional enhancement: each finger pixel is filtered with the oriented
// 7 x 7 kernel of its block's direction code, smoothing along the ridge and
// band-passing across it.
#pragma once

#include <array>
#include <cstdint>

#include "math/vector_path.h"

namespace zp {

// One kernel per direction code 1..8 (index code - 1), kEnhancementKernels[k][3 + dy][3 + dx]
// weighting pixel (x + dx, y + dy); every kernel sums to 512.
using EnhancementKernel = std::array<std::array<std::int8_t, 7>, 7>;
// Ridge direction (code - 1) x 22.5 degrees; along the ridge the centre line
// carries 27 34 40 42 40 34 27, across it -13 6 29 42 29 6 -13.
inline constexpr std::array<EnhancementKernel, 8> kEnhancementKernels = {{
    {{{-9, -11, -13, -13, -13, -11, -9},
      {4, 5, 6, 6, 6, 5, 4},
      {20, 25, 29, 29, 29, 25, 20},
      {27, 34, 40, 42, 40, 34, 27},
      {20, 25, 29, 29, 29, 25, 20},
      {4, 5, 6, 6, 6, 5, 4},
      {-9, -11, -13, -13, -13, -11, -9}}},
    {{{-11, -13, -13, -13, -11, -9, 4},
      {-9, 6, 6, 6, 5, 25, 20},
      {4, 5, 29, 29, 29, 34, 27},
      {20, 25, 40, 42, 40, 25, 20},
      {27, 34, 29, 29, 29, 5, 4},
      {20, 25, 5, 6, 6, 6, -9},
      {4, -9, -11, -13, -13, -13, -11}}},
    {{{-13, -13, -11, -9, 4, 20, 27},
      {-13, 6, 6, 5, 25, 34, 20},
      {-11, 6, 29, 29, 40, 25, 4},
      {-9, 5, 29, 42, 29, 5, -9},
      {4, 25, 40, 29, 29, 6, -11},
      {20, 34, 25, 5, 6, 6, -13},
      {27, 20, 4, -9, -11, -13, -13}}},
    {{{-11, -9, 4, 20, 27, 20, 4},
      {-13, 6, 5, 25, 34, 25, -9},
      {-13, 6, 29, 40, 29, 5, -11},
      {-13, 6, 29, 42, 29, 6, -13},
      {-11, 5, 29, 40, 29, 6, -13},
      {-9, 25, 34, 25, 5, 6, -13},
      {4, 20, 27, 20, 4, -9, -11}}},
    {{{-9, 4, 20, 27, 20, 4, -9},
      {-11, 5, 25, 34, 25, 5, -11},
      {-13, 6, 29, 40, 29, 6, -13},
      {-13, 6, 29, 42, 29, 6, -13},
      {-13, 6, 29, 40, 29, 6, -13},
      {-11, 5, 25, 34, 25, 5, -11},
      {-9, 4, 20, 27, 20, 4, -9}}},
    {{{4, 20, 27, 20, 4, -9, -11},
      {-9, 25, 34, 25, 5, 6, -13},
      {-11, 5, 29, 40, 29, 6, -13},
      {-13, 6, 29, 42, 29, 6, -13},
      {-13, 6, 29, 40, 29, 5, -11},
      {-13, 6, 5, 25, 34, 25, -9},
      {-11, -9, 4, 20, 27, 20, 4}}},
    {{{27, 20, 4, -9, -11, -13, -13},
      {20, 34, 25, 5, 6, 6, -13},
      {4, 25, 40, 29, 29, 6, -11},
      {-9, 5, 29, 42, 29, 5, -9},
      {-11, 6, 29, 29, 40, 25, 4},
      {-13, 6, 6, 5, 25, 34, 20},
      {-13, -13, -11, -9, 4, 20, 27}}},
    {{{4, -9, -11, -13, -13, -13, -11},
      {20, 25, 5, 6, 6, 6, -9},
      {27, 34, 29, 29, 29, 5, 4},
      {20, 25, 40, 42, 40, 25, 20},
      {4, 5, 29, 29, 29, 34, 27},
      {-9, 6, 6, 6, 5, 25, 20},
      {-11, -13, -13, -13, -11, -9, 4}}},
}};

// Every pixel with 8 <= x < width - 8 and 8 <= y < height - 8 whose block
// entry k = blockMap[(y >> 3) * (width >> 3) + (x >> 3)] is non-zero becomes
// clamp(sum >> 9, 0, 255) (0 when sum <= 0), sum being kernel k applied to
// the unfiltered image; the other pixels of those rows keep their values.
// Works in place with an eight-row delay, which leaves rows 4..7 and
// height - 8..height - 5 unchanged, rows 0..3 holding result rows 8..11 and
// rows height - 4..height - 1 holding the former rows 4..7. Heights below 12
// leave the image unchanged. The block map is only read; entries above 8
// are treated as background.
void directionalEnhancement(std::uint8_t* image, std::int32_t width, std::int32_t height,
                            const std::uint8_t* blockMap);
// The same on a chosen vector path (a narrower one where it is not available).
void directionalEnhancement(std::uint8_t* image, std::int32_t width, std::int32_t height,
                            const std::uint8_t* blockMap, VectorPath path);

}  // namespace zp

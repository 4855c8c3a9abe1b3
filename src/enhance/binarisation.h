// Binarisation: a pixel is ridge when it is at least as bright as the mean
// of ten flank pixels two pixels away on both sides of its block's ridge
// direction.
#pragma once

#include <array>
#include <cstdint>

#include "math/vector_path.h"

namespace zp {

struct FlankOffset {
    std::int8_t dx;
    std::int8_t dy;
};

// Ten offsets per direction code 1..8 (index code - 1) on the ring at
// distance 2 around the pixel, on both sides of a line in the code's
// direction (dx to the right, dy downwards).
inline constexpr std::array<std::array<FlankOffset, 10>, 8> kFlankSets = {{
    {{{-2, -2}, {-1, -2}, {0, -2}, {1, -2}, {2, -2}, {-2, 2}, {-1, 2}, {0, 2}, {1, 2}, {2, 2}}},
    {{{-2, -2}, {-1, -2}, {0, -2}, {1, -2}, {-2, -1}, {2, 1}, {-1, 2}, {0, 2}, {1, 2}, {2, 2}}},
    {{{-2, -2}, {-1, -2}, {0, -2}, {-2, -1}, {-2, 0}, {2, 0}, {2, 1}, {0, 2}, {1, 2}, {2, 2}}},
    {{{-2, -2}, {-1, -2}, {-2, -1}, {2, -1}, {-2, 0}, {2, 0}, {-2, 1}, {2, 1}, {1, 2}, {2, 2}}},
    {{{-2, -2}, {2, -2}, {-2, -1}, {2, -1}, {-2, 0}, {2, 0}, {-2, 1}, {2, 1}, {-2, 2}, {2, 2}}},
    {{{1, -2}, {2, -2}, {-2, -1}, {2, -1}, {-2, 0}, {2, 0}, {-2, 1}, {2, 1}, {-2, 2}, {-1, 2}}},
    {{{0, -2}, {1, -2}, {2, -2}, {2, -1}, {-2, 0}, {2, 0}, {-2, 1}, {-2, 2}, {-1, 2}, {0, 2}}},
    {{{-1, -2}, {0, -2}, {1, -2}, {2, -2}, {2, -1}, {-2, 1}, {-2, 2}, {-1, 2}, {0, 2}, {1, 2}}},
}};

// Rewrites the grey image as the binary ridge image: every pixel with
// 8 <= x < width - 8 and 8 <= y < height - 8 whose block entry k is 1..8
// becomes 1 when p >= (205 x flank sum) >> 11 and p >= 1, else 0; pixels of
// background blocks (and entries above 8) and the 8-pixel frame become 0.
// All decisions read the grey values from before the stage, which works in
// place with a four-row delay. The class code is accepted and not consulted.
void binarise(std::int32_t classCode, std::uint8_t* image, std::int32_t width, std::int32_t height,
              const std::uint8_t* blockMap);
// The same on a chosen vector path (a narrower one where it is not available).
void binarise(std::int32_t classCode, std::uint8_t* image, std::int32_t width, std::int32_t height,
              const std::uint8_t* blockMap, VectorPath path);

}  // namespace zp

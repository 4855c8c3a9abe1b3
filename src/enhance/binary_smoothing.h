// Binary smoothing: fills valley pixels enclosed on three or four sides and
// clears ridge pixels whose neighbours all lie on one side of them.
#pragma once

#include <array>
#include <cstdint>

#include "math/vector_path.h"

namespace zp {

// Valley pixels, indexed by S x 8 + W x 4 + N x 2 + E: 1 (filled) when at
// least three of the four edge neighbours are ridge.
inline constexpr std::array<std::uint8_t, 16> kValleyTable = {0, 0, 0, 0, 0, 0, 0, 1,
                                                              0, 0, 0, 1, 0, 1, 1, 1};

// Ridge pixels, indexed by SE x 128 + SW x 64 + NW x 32 + NE x 16 + S x 8 +
// W x 4 + N x 2 + E: 0 (cleared) when all set neighbours lie within the top
// row, the bottom row, the left column or the right column of the 3 x 3
// square (the empty neighbourhood included), else 1 (kept).
inline constexpr std::array<std::uint8_t, 256> kRidgeTable = [] {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = 1;
    for (const std::int32_t i : {0,  1,  2,  4,  8,  16, 17, 18, 32,  34,  36,  48,  50,
                                 64, 68, 72, 96, 100, 128, 129, 136, 144, 145, 192, 200}) {
        table[static_cast<std::size_t>(i)] = 0;
    }
    return table;
}();

// Every pixel with 8 <= x < width - 8 and 8 <= y < height - 8 becomes 0 in a
// background block (entry 0), the valley table entry of its edge neighbours
// when it is 0, and the ridge table entry of its eight neighbours when it is
// 1; all decisions read the image from before the stage, which works in
// place with a four-row delay. The frame columns keep their values and rows
// 4..7 end as 0 (the frame of a binary ridge image stays 0).
void binarySmoothing(std::uint8_t* image, std::int32_t width, std::int32_t height,
                     const std::uint8_t* blockMap);
// The same on a chosen vector path (a narrower one where it is not available).
void binarySmoothing(std::uint8_t* image, std::int32_t width, std::int32_t height,
                     const std::uint8_t* blockMap, VectorPath path);

}  // namespace zp

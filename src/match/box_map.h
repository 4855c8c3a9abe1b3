// Box map: 32 x 48 cells of 4 x 4 model units marking the widened bounding
// box of each model's minutiae (bit value 1 model A, 2 model B).
#pragma once

#include <array>
#include <cstdint>

#include "match/matching_model.h"

namespace zp {

inline constexpr std::int32_t kBoxMapColumns = 32;
inline constexpr std::int32_t kBoxMapRows = 48;
inline constexpr std::int32_t kBoxMapBytes = kBoxMapColumns * kBoxMapRows;
inline constexpr std::int32_t kBoxCellShift = 2;  // a cell covers 4 x 4 units
inline constexpr std::uint8_t kBoxBitA = 1;
inline constexpr std::uint8_t kBoxBitB = 2;

using BoxMap = std::array<std::uint8_t, kBoxMapBytes>;

// Inclusive bounds in model units.
struct ModelBox {
    std::int32_t left;
    std::int32_t right;
    std::int32_t top;
    std::int32_t bottom;
};

// Bounding box of the minutiae widened by 4 units and held to 0..255 x
// 0..383; a model without minutiae gives the empty box (996, 4, 996, 4).
ModelBox modelBox(const MatchingModel& model);

// Marks A's box with 1 and adds 2 over B's box. Cells beyond the map's 32
// columns or 48 rows (only outside templates reach them) are clipped.
void buildBoxMap(const MatchingModel& a, const MatchingModel& b, BoxMap& map);

// The map bit at model position (x, y); false for cells outside the map.
inline bool boxMapHas(const BoxMap& map, std::int32_t x, std::int32_t y, std::uint8_t bit) {
    const std::int32_t column = x >> kBoxCellShift;
    const std::int32_t row = y >> kBoxCellShift;
    if (column < 0 || column >= kBoxMapColumns || row < 0 || row >= kBoxMapRows) return false;
    return (map[static_cast<std::size_t>(row * kBoxMapColumns + column)] & bit) != 0;
}

}  // namespace zp

#include "match/box_map.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kBoxStart = 1000;      // left and top before the first minutia
constexpr std::int32_t kBoxMargin = 4;         // widening, model units
constexpr std::int32_t kBoxRightLimit = 255;   // right bound once it reaches 256
constexpr std::int32_t kBoxBottomLimit = 383;  // bottom bound once it reaches 384

// Adds value to the box's cells, one row of the map at a time as four
// 64-bit words. Cells hold at most 1 before value 2 is added, so no byte
// carries into its neighbour and the words add as the bytes would.
void markBox(const ModelBox& box, std::uint8_t value, BoxMap& map) {
    const std::int32_t left = box.left >> kBoxCellShift;
    const std::int32_t top = box.top >> kBoxCellShift;
    std::int32_t right = box.right >> kBoxCellShift;
    std::int32_t bottom = box.bottom >> kBoxCellShift;
    if (right >= kBoxMapColumns) right = kBoxMapColumns - 1;
    if (bottom >= kBoxMapRows) bottom = kBoxMapRows - 1;
    if (left > right || top > bottom) return;
    std::array<std::uint8_t, kBoxMapColumns> pattern{};
    for (std::int32_t c = left; c <= right; ++c) pattern[static_cast<std::size_t>(c)] = value;
    constexpr std::int32_t kWords = kBoxMapColumns / 8;
    static_assert(kBoxMapColumns % 8 == 0);
    std::array<std::uint64_t, kWords> add;
    std::memcpy(add.data(), pattern.data(), sizeof add);
    for (std::int32_t r = top; r <= bottom; ++r) {
        std::uint8_t* row = map.data() + r * kBoxMapColumns;
        for (std::int32_t w = 0; w < kWords; ++w) {
            std::uint64_t cells;
            std::memcpy(&cells, row + w * 8, sizeof cells);
            cells += add[static_cast<std::size_t>(w)];
            std::memcpy(row + w * 8, &cells, sizeof cells);
        }
    }
}

}  // namespace

ModelBox modelBox(const MatchingModel& model) {
    ModelBox box{kBoxStart, 0, kBoxStart, 0};
    for (std::int32_t i = 0; i < model.count; ++i) {
        const MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(i)];
        if (m.x < box.left) box.left = m.x;
        if (m.x > box.right) box.right = m.x;
        if (m.y < box.top) box.top = m.y;
        if (m.y > box.bottom) box.bottom = m.y;
    }
    box.left -= kBoxMargin;
    if (box.left < 0) box.left = 0;
    box.right += kBoxMargin;
    if (box.right >= kBoxRightLimit + 1) box.right = kBoxRightLimit;
    box.top -= kBoxMargin;
    if (box.top < 0) box.top = 0;
    box.bottom += kBoxMargin;
    if (box.bottom >= kBoxBottomLimit + 1) box.bottom = kBoxBottomLimit;
    return box;
}

void buildBoxMap(const MatchingModel& a, const MatchingModel& b, BoxMap& map) {
    map.fill(0);
    // The map starts cleared, so adding A's value sets its cells to 1.
    markBox(modelBox(a), kBoxBitA, map);
    markBox(modelBox(b), kBoxBitB, map);
}

}  // namespace zp

#include "match/box_map.h"

namespace zp {
namespace {

constexpr std::int32_t kBoxStart = 1000;      // left and top before the first minutia
constexpr std::int32_t kBoxMargin = 4;         // widening, model units
constexpr std::int32_t kBoxRightLimit = 255;   // right bound once it reaches 256
constexpr std::int32_t kBoxBottomLimit = 383;  // bottom bound once it reaches 384

void markBox(const ModelBox& box, std::uint8_t value, BoxMap& map) {
    const std::int32_t left = box.left >> kBoxCellShift;
    const std::int32_t top = box.top >> kBoxCellShift;
    std::int32_t right = box.right >> kBoxCellShift;
    std::int32_t bottom = box.bottom >> kBoxCellShift;
    if (right >= kBoxMapColumns) right = kBoxMapColumns - 1;
    if (bottom >= kBoxMapRows) bottom = kBoxMapRows - 1;
    for (std::int32_t r = top; r <= bottom; ++r) {
        for (std::int32_t c = left; c <= right; ++c) {
            auto& cell = map[static_cast<std::size_t>(r * kBoxMapColumns + c)];
            cell = static_cast<std::uint8_t>(cell + value);
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

// Similarity of two minutiae: how many neighbours of one reappear around the
// other at nearly the same distance with nearly the same relative directions.
#pragma once

#include <cstdint>

namespace zp {

inline constexpr std::int32_t kSimilarityDistanceTolerance = 2;  // model units
inline constexpr std::int32_t kSimilarityAngleTolerance = 10;    // degrees

// Walks two compacted neighbour-table rows (farthest first) and counts the
// cells of rowB matched by a cell of rowA within the tolerances. countA and
// countB are the two models' minutiae counts; only cells 0..count-2 are read.
std::int32_t similarity(const std::uint8_t* rowA, const std::uint8_t* rowB, std::int32_t countA,
                        std::int32_t countB, std::int32_t distanceTolerance,
                        std::int32_t angleTolerance);

}  // namespace zp

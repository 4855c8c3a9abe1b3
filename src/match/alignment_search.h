// Alignment search: moves model B onto model A about each of the three most
// similar candidate pairs and keeps the best anchor score.
#pragma once

#include <cstdint>

#include "match/box_map.h"
#include "match/candidate_pairs.h"
#include "match/matching_model.h"
#include "math/vector_path.h"

namespace zp {

inline constexpr std::int32_t kAnchorCount = 3;          // candidate pairs tried as anchors
inline constexpr std::int32_t kOverlapAgreement = 10;    // counts this close may take the smaller
inline constexpr std::int32_t kOverlapRatio = 3;         // and 3 x difference <= mean

// Rotation and shift of a move.
struct ModelMove {
    std::int32_t pivotX;
    std::int32_t pivotY;
    std::int32_t rotation;  // whole degrees
    std::int32_t shiftX;
    std::int32_t shiftY;
};

// Moves model (N, W, H) about the pivot by the rotation and shift, writes
// the moved minutiae into aligned when given (count and records only), and
// answers how many moved minutiae land within 0..W-1 x 0..H-1 on a box map
// cell carrying bit.
std::int32_t moveModel(const MatchingModel& model, const ModelMove& move, const BoxMap& map,
                       std::uint8_t bit, MatchingModel* aligned);
// The same on a chosen vector path (AVX-512 moves eight minutiae at a time
// with the same double-precision steps).
std::int32_t moveModel(const MatchingModel& model, const ModelMove& move, const BoxMap& map,
                       std::uint8_t bit, MatchingModel* aligned, VectorPath path);

// Expected overlap of two overlap counts: the smaller when they agree
// closely, else the larger.
std::int32_t expectedOverlap(std::int32_t forward, std::int32_t reverse);

// Best anchor score 0..100 over the first three candidate pairs; 0 with
// fewer than two pairs.
std::int32_t alignmentSearch(const MatchingModel& a, const MatchingModel& b,
                             const CandidatePairList& pairs, const BoxMap& map);
std::int32_t alignmentSearch(const MatchingModel& a, const MatchingModel& b,
                             const CandidatePairList& pairs, const BoxMap& map, VectorPath path);

}  // namespace zp

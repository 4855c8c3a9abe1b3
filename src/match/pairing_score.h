// Anchor score: how well model A and model B, moved into A's frame, agree.
#pragma once

#include <cstdint>

#include "match/candidate_pairs.h"
#include "match/matching_model.h"
#include "math/vector_path.h"

namespace zp {

inline constexpr std::int32_t kPairDistanceLimit = 7;    // pairs need d < 7
inline constexpr std::int32_t kPairAngleLimit = 13;      // and a direction difference < 13
inline constexpr std::int32_t kFullPairWeight = 88;      // weight of a close pair
inline constexpr std::int32_t kCloseDistance = 4;        // d < 4 ...
inline constexpr std::int32_t kCloseAngle = 8;           // ... and δ < 8 weigh 88
inline constexpr std::int32_t kDistancePenalty = 7;      // per unit of d
inline constexpr std::int32_t kAnglePenalty = 3;         // per degree of δ
inline constexpr std::int32_t kSecondPassPairLimit = 20; // the pass ends once T exceeds it
inline constexpr std::int32_t kScoreSumDivisor = 20;
inline constexpr std::int32_t kMaxScore = 100;

// Weight of a pair at distance d with direction difference delta.
inline constexpr std::int32_t pairWeight(std::int32_t d, std::int32_t delta) {
    if (d < kCloseDistance && delta < kCloseAngle) return kFullPairWeight;
    return kFullPairWeight - kDistancePenalty * d - kAnglePenalty * delta;
}

// ((S / 20) * T / n) * F / C from left to right, truncating, capped at 100.
inline constexpr std::int32_t combineScore(std::int32_t sum, std::int32_t total,
                                           std::int32_t expected, std::int32_t confirmed,
                                           std::int32_t candidates) {
    const std::int32_t s = ((sum / kScoreSumDivisor) * total / expected) * confirmed / candidates;
    return s > kMaxScore ? kMaxScore : s;
}

// Scores aligned (only its count and minutiae are read) against a with the
// candidate pairs and the expected overlap (above 0): 0..100.
std::int32_t anchorScore(const MatchingModel& a, const MatchingModel& aligned,
                         const CandidatePairList& pairs, std::int32_t expectedOverlap);
// The same on a chosen vector path (AVX-512 finds the aligned minutiae near
// each minutia of a 32 at a time).
std::int32_t anchorScore(const MatchingModel& a, const MatchingModel& aligned,
                         const CandidatePairList& pairs, std::int32_t expectedOverlap, VectorPath path);

}  // namespace zp

#include "match/pairing_score.h"

#include <array>

#include "math/integer_math.h"

namespace zp {

std::int32_t anchorScore(const MatchingModel& a, const MatchingModel& aligned,
                         const CandidatePairList& pairs, std::int32_t expectedOverlap) {
    const std::int32_t candidates = pairs.count;
    if (candidates == 0) return 0;
    std::array<bool, kMaxMinutiae> pairedA{};
    std::array<bool, kMaxMinutiae> pairedL{};
    // The pair scores are only ever summed, so the sum is kept instead of the
    // list (which can reach 51 entries when every candidate is confirmed).
    std::int32_t sum = 0;
    std::int32_t confirmed = 0;
    std::int32_t total = 0;

    for (std::int32_t k = 0; k < candidates; ++k) {
        const CandidatePair& e = pairs.entries[static_cast<std::size_t>(k)];
        const MinutiaRecord& ma = a.minutiae[e.first];
        const MinutiaRecord& ml = aligned.minutiae[e.second];
        const std::int32_t delta = circularDifference(ma.direction, ml.direction);
        if (delta >= kPairAngleLimit) continue;
        const std::int32_t dx = ma.x - ml.x;
        const std::int32_t dy = ma.y - ml.y;
        const std::int32_t d = isqrt(dx * dx + dy * dy);
        if (d >= kPairDistanceLimit) continue;
        pairedA[e.first] = true;
        pairedL[e.second] = true;
        sum += pairWeight(d, delta) * e.similarity;
        ++confirmed;
        ++total;
    }

    // The second pass always runs, even when the first already passed the
    // limit: it then adds at most one pair.
    bool ended = false;
    for (std::int32_t i = 0; i < a.count && !ended; ++i) {
        if (pairedA[static_cast<std::size_t>(i)]) continue;
        const MinutiaRecord& ma = a.minutiae[static_cast<std::size_t>(i)];
        for (std::int32_t j = 0; j < aligned.count; ++j) {
            if (pairedL[static_cast<std::size_t>(j)]) continue;
            const MinutiaRecord& ml = aligned.minutiae[static_cast<std::size_t>(j)];
            const std::int32_t dx = ma.x - ml.x;
            const std::int32_t dy = ma.y - ml.y;
            if (dx >= kPairDistanceLimit || dx <= -kPairDistanceLimit ||
                dy >= kPairDistanceLimit || dy <= -kPairDistanceLimit) {
                continue;
            }
            const std::int32_t delta = circularDifference(ma.direction, ml.direction);
            if (delta >= kPairAngleLimit) continue;
            const std::int32_t d = isqrt(dx * dx + dy * dy);
            if (d >= kPairDistanceLimit) continue;
            pairedL[static_cast<std::size_t>(j)] = true;
            std::int32_t weight = pairWeight(d, delta);
            if (ma.type != ml.type) weight /= 2;
            sum += weight;
            ++total;
            if (total > kSecondPassPairLimit) {
                ended = true;
                break;
            }
        }
    }

    return combineScore(sum, total, expectedOverlap, confirmed, candidates);
}

}  // namespace zp

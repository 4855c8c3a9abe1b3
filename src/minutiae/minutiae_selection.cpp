// Survivors of the filters, the candidate yield, and the choice of the most
// isolated survivors when there are more than the template holds.
#include "math/integer_math.h"
#include "minutiae/minutiae_stages.h"

namespace zp {
namespace {

// Width of one isolation band in pixels, and the band of "nothing near".
constexpr std::int32_t kBandWidth = 4;
constexpr std::int32_t kTopLevel = 7;

}  // namespace

std::int32_t collectSurvivors(const CandidateList& list, Candidate* survivors) {
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < list.count; ++i) {
        if (list.valid[i] && list.kept[i]) survivors[count++] = list.entries[i];
    }
    return count;
}

std::int32_t candidateYield(std::int32_t survivors, std::int32_t candidates) {
    return candidates > 0 ? 100 * survivors / candidates : 0;
}

std::int32_t isolationLevel(const CandidateList& list, const Candidate& survivor) {
    // The first occupied band is that of the nearest candidate elsewhere.
    std::int32_t band = kTopLevel;
    for (std::int32_t i = 0; i < list.count; ++i) {
        const Candidate& c = list.entries[i];
        if (c.x == survivor.x && c.y == survivor.y) continue;
        const std::int32_t d2 = (c.x - survivor.x) * (c.x - survivor.x) +
                                (c.y - survivor.y) * (c.y - survivor.y);
        const std::int32_t b = isqrt(d2) / kBandWidth;
        if (b < band) band = b;
    }
    if (band >= kTopLevel) return kTopLevel;
    return band + (survivor.type == kCandidateBifurcation ? 1 : 0);
}

std::int32_t selectMinutiae(const CandidateList& list, Candidate* survivors,
                            std::int32_t survivorCount, std::int32_t maxCount) {
    if (survivorCount <= maxCount) return survivorCount;
    std::int32_t level[kMaxCandidates];
    bool picked[kMaxCandidates];
    for (std::int32_t s = 0; s < survivorCount; ++s) {
        level[s] = isolationLevel(list, survivors[s]);
        picked[s] = false;
    }
    std::int32_t pickedCount = 0;
    for (std::int32_t l = kTopLevel; l >= 0 && pickedCount < maxCount; --l) {
        for (std::int32_t s = 0; s < survivorCount && pickedCount < maxCount; ++s) {
            if (level[s] != l) continue;
            picked[s] = true;
            ++pickedCount;
        }
    }
    std::int32_t out = 0;
    for (std::int32_t s = 0; s < survivorCount; ++s) {
        if (picked[s]) survivors[out++] = survivors[s];
    }
    return out;
}

}  // namespace zp

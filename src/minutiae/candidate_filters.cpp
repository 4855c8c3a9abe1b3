// Filters that drop candidates made by thinning artefacts, broken ridges,
// short spurs and the edge of the finger (they clear the kept flag).
#include "math/trig.h"
#include "minutiae/minutiae_stages.h"
#include "minutiae/skeleton_tracing.h"

namespace zp {
namespace {

// Squared distances of the pair filter.
constexpr std::int32_t kPairReach2 = 144;          // pairs farther apart are never compared
constexpr std::int32_t kBifurcationPair2 = 49;     // two bifurcations
constexpr std::int32_t kEndingPair2 = 36;          // two endings, unconditionally
constexpr std::int32_t kMixedPairBoth2 = 25;       // below: both go
constexpr std::int32_t kMixedPairEnding2 = 49;     // up to: the ending goes
// Two endings up to kPairReach2 apart go unless they point nearly opposite
// ways and the second lies ahead of the first.
constexpr std::int32_t kOppositeEndings = 150;
constexpr std::int32_t kAheadLimit = 90;
// Squared reach of the invalid-neighbour and border vetoes.
constexpr std::int32_t kVetoReach2 = 36;
// Steps along an ending's ridge when looking for removed forks, and the first
// step whose fork counts.
constexpr std::int32_t kForkSearchSteps = 16;
constexpr std::int32_t kFirstForkStep = 3;

std::int32_t distance2(const Candidate& a, const Candidate& b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

std::int32_t circularDifference(std::int32_t a, std::int32_t b) {
    const std::int32_t d = a > b ? a - b : b - a;
    return d > 180 ? 360 - d : d;
}

enum class PairAction { Skip, DropBoth, DropEnding };

}  // namespace

void pairFilter(const std::uint8_t* image, std::int32_t width, CandidateList& list) {
    for (std::int32_t i = 0; i < list.count; ++i) {
        // Flags as they stand now, after the clearings of earlier turns.
        if (!list.valid[i] || !list.kept[i]) continue;
        const Candidate& ci = list.entries[i];
        for (std::int32_t j = 0; j < list.count; ++j) {
            if (j == i || !list.valid[j]) continue;
            const Candidate& cj = list.entries[j];
            const std::int32_t d2 = distance2(ci, cj);
            if (d2 > kPairReach2) continue;

            PairAction action = PairAction::Skip;
            if (ci.type == kCandidateBifurcation && cj.type == kCandidateBifurcation) {
                if (d2 <= kBifurcationPair2) action = PairAction::DropBoth;
            } else if (ci.type == kCandidateEnding && cj.type == kCandidateEnding) {
                if (d2 <= kEndingPair2) {
                    action = PairAction::DropBoth;
                } else {
                    const std::int32_t ai = endingDirection(image, width, ci.x, ci.y, false);
                    const std::int32_t aj = endingDirection(image, width, cj.x, cj.y, false);
                    const std::int32_t t = angleBetween(ci.x, ci.y, cj.x, cj.y);
                    if (circularDifference(ai, aj) <= kOppositeEndings ||
                        circularDifference(ai, t) >= kAheadLimit) {
                        action = PairAction::DropBoth;
                    }
                }
            } else if (d2 < kMixedPairBoth2) {
                action = PairAction::DropBoth;
            } else if (d2 <= kMixedPairEnding2) {
                action = PairAction::DropEnding;
            }

            if (action == PairAction::DropBoth) {
                list.kept[i] = false;
                list.kept[j] = false;
                break;
            }
            if (action == PairAction::DropEnding) {
                // The scan over j goes on with i even when i was the ending.
                list.kept[ci.type == kCandidateEnding ? i : j] = false;
            }
        }
    }
}

void invalidNeighbourFilter(CandidateList& list) {
    for (std::int32_t i = 0; i < list.count; ++i) {
        if (!list.valid[i]) continue;
        for (std::int32_t j = 0; j < list.count; ++j) {
            if (list.valid[j]) continue;
            if (distance2(list.entries[i], list.entries[j]) <= kVetoReach2) {
                list.kept[i] = false;
                break;
            }
        }
    }
}

void borderFilter(CandidateList& list, const BorderList& border) {
    for (std::int32_t i = 0; i < list.count; ++i) {
        const Candidate& c = list.entries[i];
        if (c.type != kCandidateEnding || !list.valid[i] || !list.kept[i]) continue;
        for (std::int32_t b = 0; b < border.count; ++b) {
            const std::int32_t dx = c.x - border.x[b];
            const std::int32_t dy = c.y - border.y[b];
            if (dx * dx + dy * dy <= kVetoReach2) {
                list.kept[i] = false;
                break;
            }
        }
    }
}

void removedForkFilter(const std::uint8_t* image, std::int32_t width, CandidateList& list) {
    for (std::int32_t i = 0; i < list.count; ++i) {
        const Candidate& c = list.entries[i];
        if (c.type != kCandidateEnding || !list.valid[i] || !list.kept[i]) continue;
        std::int32_t prevX = kNoPoint;
        std::int32_t prevY = kNoPoint;
        std::int32_t x = c.x;
        std::int32_t y = c.y;
        bool dropped = false;
        for (std::int32_t step = 1; step <= kForkSearchSteps && !dropped; ++step) {
            const StepResult s = ridgeStep(image, width, y, x, prevY, prevX);
            prevX = x;
            prevY = y;
            x = s.x;
            y = s.y;
            if (step < kFirstForkStep || s.n != 2) continue;
            for (std::int32_t j = 0; j < list.count; ++j) {
                const Candidate& f = list.entries[j];
                if (f.x != s.x || f.y != s.y) continue;
                if (!list.valid[j] || !list.kept[j]) {
                    list.kept[i] = false;
                    dropped = true;
                }
                break;
            }
        }
    }
}

}  // namespace zp

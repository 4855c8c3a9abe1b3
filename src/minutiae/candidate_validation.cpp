// Validation of minutia candidates by following their ridges.
#include "math/integer_math.h"
#include "minutiae/minutiae_stages.h"
#include "minutiae/skeleton_tracing.h"

namespace zp {
namespace {

// Points T0..T15 followed along each branch of a bifurcation.
constexpr std::int32_t kBranchPoints = 16;
constexpr std::int32_t kLastBranchPoint = kBranchPoints - 1;
// Branch point that serves as the branch's reference point.
constexpr std::int32_t kReferencePoint = 8;
// Branches that stop before this point count as short.
constexpr std::int32_t kShortBranch = 12;
// Short or forked branches that make a bifurcation invalid.
constexpr std::int32_t kMaxShortBranches = 2;
constexpr std::int32_t kMaxForkedBranches = 2;
// Safe-area margin for forks met along a branch.
constexpr std::int32_t kForkMargin = 8;
// Shortest side of the reference triangle, and the slack beside a quarter of
// the other two sides' sum.
constexpr std::int32_t kMinTriangleSide = 3;
constexpr std::int32_t kTriangleSlack = 2;
// Last points of two branches closer than this in x and in y close a loop.
constexpr std::int32_t kLoopReach = 3;

struct Point {
    std::int32_t x;
    std::int32_t y;
};

std::int32_t distance2(Point a, Point b) {
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

bool endingIsValid(const std::uint8_t* image, std::int32_t width, const Candidate& c,
                   std::int32_t length) {
    const StepResult first = ridgeStep(image, width, c.y, c.x, kNoPoint, kNoPoint);
    Point prev{c.x, c.y};
    Point cur{first.x, first.y};
    for (std::int32_t k = 2; k <= length; ++k) {
        const StepResult s = ridgeStep(image, width, cur.y, cur.x, prev.y, prev.x);
        if (s.n != 1) return false;
        prev = cur;
        cur = {s.x, s.y};
    }
    return true;
}

bool bifurcationIsValid(const std::uint8_t* image, std::int32_t width, std::int32_t height,
                        const std::uint8_t* blockMap, const Candidate& c,
                        std::int32_t leastBranch) {
    const StepResult s1 = branchStart(image, width, c.y, c.x, kNoPoint, kNoPoint, kNoPoint, kNoPoint);
    const StepResult s2 = branchStart(image, width, c.y, c.x, s1.y, s1.x, kNoPoint, kNoPoint);
    const StepResult s3 = branchStart(image, width, c.y, c.x, s1.y, s1.x, s2.y, s2.x);
    const StepResult starts[3] = {s1, s2, s3};

    Point reference[3] = {};
    bool hasReference[3] = {false, false, false};
    Point last[3] = {};
    std::int32_t shortBranches = 0;
    std::int32_t forkedBranches = 0;
    bool allLong = true;

    for (std::int32_t b = 0; b < 3; ++b) {
        Point prev{c.x, c.y};
        Point cur{starts[b].x, starts[b].y};
        std::int32_t k = 2;
        StepResult s{};
        for (; k <= kLastBranchPoint; ++k) {
            s = ridgeStep(image, width, cur.y, cur.x, prev.y, prev.x);
            prev = cur;
            cur = {s.x, s.y};
            if (s.n != 1) break;
            if (k == kReferencePoint) {
                reference[b] = cur;
                hasReference[b] = true;
            }
        }
        last[b] = cur;
        if (k > kLastBranchPoint) continue;  // a long branch

        if (s.n >= 2) {
            if (safeArea(width, height, c.y, c.x, kForkMargin, blockMap) == 0 &&
                safeArea(width, height, cur.y, cur.x, kForkMargin, blockMap) == 0) {
                return false;
            }
            if (++forkedBranches >= kMaxForkedBranches) return false;
        }
        if (k < kShortBranch) {
            ++shortBranches;
            if (k < leastBranch || shortBranches >= kMaxShortBranches) return false;
        }
        allLong = false;
    }

    if (hasReference[0] && hasReference[1] && hasReference[2]) {
        const std::int32_t a = isqrt(distance2(reference[0], reference[1]));
        const std::int32_t b = isqrt(distance2(reference[1], reference[2]));
        const std::int32_t d = isqrt(distance2(reference[2], reference[0]));
        std::int32_t m = a;
        std::int32_t p = b;
        std::int32_t q = d;
        if (b < m) {
            m = b;
            p = a;
            q = d;
        }
        if (d < m) {
            m = d;
            p = a;
            q = b;
        }
        if (m < kMinTriangleSide || m > (p + q) / 4 + kTriangleSlack) return false;
    }
    if (!allLong) {
        constexpr std::int32_t kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
        for (const auto& pair : kPairs) {
            const std::int32_t dx = last[pair[0]].x - last[pair[1]].x;
            const std::int32_t dy = last[pair[0]].y - last[pair[1]].y;
            if (dx > -kLoopReach && dx < kLoopReach && dy > -kLoopReach && dy < kLoopReach) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

void validateCandidates(std::int32_t classCode, const std::uint8_t* image, std::int32_t width,
                        std::int32_t height, const std::uint8_t* blockMap, CandidateList& list) {
    const TraceLengths lengths = traceLengths(classCode);
    for (std::int32_t i = 0; i < list.count; ++i) {
        const Candidate& c = list.entries[i];
        const bool valid = c.type == kCandidateEnding
                               ? endingIsValid(image, width, c, lengths.ending)
                               : bifurcationIsValid(image, width, height, blockMap, c,
                                                    lengths.branch);
        if (!valid) list.valid[i] = false;
    }
}

}  // namespace zp

// Raster scan of the skeleton for minutia candidates.
#include "minutiae/minutiae_stages.h"
#include "math/integer_math.h"
#include "minutiae/skeleton_tracing.h"

namespace zp {
namespace {

// Frame of the skeleton that holds no ridge pixel.
constexpr std::int32_t kFrame = 8;
// Margin of the safe-area test that separates candidates from border endings.
constexpr std::int32_t kEndingMargin = 6;
// Half size of the square around a junction whose ridge pixels are marked.
constexpr std::int32_t kJunctionReach = 2;

}  // namespace

TraceLengths traceLengths(std::int32_t classCode) {
    if (classCode == 1 || classCode == 2) return {9, 12};
    if (classCode == 4) return {12, 9};
    return {9, 9};
}

void appendCandidate(CandidateList& list, std::int32_t x, std::int32_t y, std::int32_t type) {
    if (list.count >= kMaxCandidates) return;
    list.entries[list.count] = {x, y, type};
    list.valid[list.count] = true;
    list.kept[list.count] = true;
    ++list.count;
}

void scanCandidates(std::uint8_t* image, std::int32_t width, std::int32_t height,
                    const std::uint8_t* blockMap, CandidateList& candidates, BorderList& border) {
    candidates.count = 0;
    border.count = 0;
    for (std::int32_t y = kFrame; y <= height - kFrame - 1; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kFrame, width - kFrame); x < width - kFrame;
             x = firstNonZero(row, x + 1, width - kFrame)) {
            std::uint8_t* p = image + y * width + x;
            const std::int32_t cls = neighbourClass(image, width, y, x);
            if (cls == -1) {
                *p = 0;
            } else if (cls == 1) {
                *p = kEndingMark;
                if (safeArea(width, height, y, x, kEndingMargin, blockMap) != 0) {
                    appendCandidate(candidates, x, y, kCandidateEnding);
                } else if (border.count < kMaxBorderEndings) {
                    border.x[border.count] = x;
                    border.y[border.count] = y;
                    ++border.count;
                }
            } else if (cls >= 2) {
                *p = kJunctionMark;
                for (std::int32_t dy = -kJunctionReach; dy <= kJunctionReach; ++dy) {
                    std::uint8_t* row = p + dy * width;
                    for (std::int32_t dx = -kJunctionReach; dx <= kJunctionReach; ++dx) {
                        if (row[dx] == 1) row[dx] = kJunctionMark;
                    }
                }
                if (cls == 2) appendCandidate(candidates, x, y, kCandidateBifurcation);
            }
        }
    }
}

}  // namespace zp

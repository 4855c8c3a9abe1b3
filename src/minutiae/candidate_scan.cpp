// Raster scan of the skeleton for minutia candidates.
#include "minutiae/minutiae_stages.h"

#include <bit>

#include "math/integer_math.h"
#include "minutiae/neighbour_counts.h"
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

namespace {

// Classifies the non-zero pixel (x, y): isolated pixels go, line ends and
// forks are marked and listed.
void visitPixel(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t x, std::int32_t y,
                const std::uint8_t* blockMap, CandidateList& candidates, BorderList& border) {
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

#if defined(ZP_VECTOR_PATHS)
// Only pixels with other than two set neighbours can be anything but plain
// ridge. The scan changes no pixel's count as it goes (marks stay non-zero;
// a pixel deleted alone had no set neighbour), so these bits are exact
// whenever they are taken.
__attribute__((target("avx2"))) void scanAvx2(std::uint8_t* image, std::int32_t width, std::int32_t height,
                                             const std::uint8_t* blockMap, CandidateList& candidates,
                                             BorderList& border) {
    const std::int32_t end = width - kFrame;
    const __m256i two = _mm256_set1_epi8(2);
    const __m256i zero = _mm256_setzero_si256();
    for (std::int32_t y = kFrame; y <= height - kFrame - 1; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x0 = kFrame; x0 < end; x0 += 32) {
            const __m256i set = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x0));
            const __m256i plain = _mm256_or_si256(_mm256_cmpeq_epi8(neighbourCountsAvx2(image, width, x0, y), two),
                                                  _mm256_cmpeq_epi8(set, zero));
            std::uint32_t bits = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(plain)) & pixelsBefore(x0, end);
            for (; bits != 0; bits &= bits - 1) {
                visitPixel(image, width, height, x0 + std::countr_zero(bits), y, blockMap, candidates, border);
            }
        }
    }
}
#endif

void scanPortable(std::uint8_t* image, std::int32_t width, std::int32_t height, const std::uint8_t* blockMap,
                  CandidateList& candidates, BorderList& border) {
    for (std::int32_t y = kFrame; y <= height - kFrame - 1; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kFrame, width - kFrame); x < width - kFrame;
             x = firstNonZero(row, x + 1, width - kFrame)) {
            visitPixel(image, width, height, x, y, blockMap, candidates, border);
        }
    }
}

}  // namespace

void scanCandidates(std::uint8_t* image, std::int32_t width, std::int32_t height,
                    const std::uint8_t* blockMap, CandidateList& candidates, BorderList& border) {
    scanCandidates(image, width, height, blockMap, candidates, border, bestVectorPath());
}

void scanCandidates(std::uint8_t* image, std::int32_t width, std::int32_t height, const std::uint8_t* blockMap,
                    CandidateList& candidates, BorderList& border, VectorPath path) {
    candidates.count = 0;
    border.count = 0;
#if defined(ZP_VECTOR_PATHS)
    if (avx2RowScan(path, width, kFrame)) {
        scanAvx2(image, width, height, blockMap, candidates, border);
        return;
    }
#else
    static_cast<void>(path);
#endif
    scanPortable(image, width, height, blockMap, candidates, border);
}

}  // namespace zp

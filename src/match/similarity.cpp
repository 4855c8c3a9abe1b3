#include "match/similarity.h"

#include <bit>

#include "match/matching_model.h"
#include "match/neighbour_table.h"

namespace zp {

std::int32_t similarity(const std::uint8_t* rowA, const std::uint8_t* rowB, std::int32_t countA,
                        std::int32_t countB, std::int32_t distanceTolerance,
                        std::int32_t angleTolerance) {
    const auto dist = [](const std::uint8_t* row, std::int32_t k) -> std::int32_t {
        return row[k * kCellBytes];
    };
    if (rowA[0] == 0 || rowB[0] == 0) return 0;
    const std::int32_t lastA = countA - 1;  // cells 0..count-2 hold neighbours
    const std::int32_t lastB = countB - 1;

    // Skip the far neighbours that only one side has; an empty cell also ends
    // the skip.
    const std::int32_t dA = rowA[0];
    const std::int32_t dB = rowB[0];
    std::int32_t a0 = 0;
    std::int32_t b0 = 0;
    if (dB > dA) {
        b0 = lastB;
        for (std::int32_t b = 0; b < lastB; ++b) {
            if (dist(rowB, b) <= dA + distanceTolerance) {
                b0 = b;
                break;
            }
        }
    } else {
        a0 = lastA;
        for (std::int32_t a = 0; a < lastA; ++a) {
            if (dist(rowA, a) <= dB + distanceTolerance) {
                a0 = a;
                break;
            }
        }
    }
    if (b0 >= lastB) return 0;

    std::int32_t count = 0;
    std::int32_t start = a0;
    for (std::int32_t b = b0; b < lastB; ++b) {
        const std::uint8_t* cellB = rowB + b * kCellBytes;
        const std::int32_t e = cellB[0];
        if (e == 0) return count;
        bool startSet = false;
        for (std::int32_t a = start; a < lastA; ++a) {
            const std::uint8_t* cellA = rowA + a * kCellBytes;
            const std::int32_t f = cellA[0];
            if (f == 0) break;
            if (f > e + distanceTolerance) continue;
            // The first neighbour of A no farther than e + tolerance starts the
            // window for every later neighbour of B.
            if (!startSet) {
                start = a;
                startSet = true;
            }
            if (f < e - distanceTolerance) break;
            if (!directionsAgree(cellFirstAngle(cellA), cellFirstAngle(cellB), angleTolerance) ||
                !directionsAgree(cellSecondAngle(cellA), cellSecondAngle(cellB), angleTolerance)) {
                continue;
            }
            ++count;
            break;
        }
    }
    return count;
}

}  // namespace zp

namespace zp {

// Both preparations walk the row once: cells up to the first empty one or
// count - 1, whichever comes first, noting whether distances ever rise.

void prepareSecondRow(const std::uint8_t* row, std::int32_t count, SecondRow& out) {
    const std::int32_t last = count - 1;
    std::int32_t previous = 256;
    bool ordered = true;
    bool wide = false;
    std::int32_t n = 0;
    for (; n < last; ++n) {
        const std::uint8_t* cell = row + n * kCellBytes;
        const std::int32_t d = cell[0];
        if (d == 0) break;
        ordered &= d <= previous;
        previous = d;
        const std::int32_t first = cellFirstAngle(cell);
        const std::int32_t second = cellSecondAngle(cell);
        wide |= (first >= kFullCircle) | (second >= kFullCircle);
        out.distance[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(d);
        out.firstBucket[static_cast<std::size_t>(n)] = kDirectionBucket[static_cast<std::size_t>(first)];
        out.secondBucket[static_cast<std::size_t>(n)] = kDirectionBucket[static_cast<std::size_t>(second)];
    }
    out.length = n;
    out.row = row;
    out.ordered = ordered && (n == 0 || row[0] <= kPreparedReach);
    out.narrow = !wide;
}

namespace {

// Cells per bucket, with the last bucket copied before the first and the
// first after the last (entry k + 1 is bucket k), and one entry for
// directions without a bucket.
using BucketCells = std::array<CellMask, kDirectionBuckets + 3>;

// candidates[k]: the cells of bucket k and of its two neighbours round the
// circle.
void candidatesByBucket(BucketCells& cells, std::array<CellMask, kDirectionBuckets>& candidates) {
    cells[0] = cells[kDirectionBuckets];
    cells[kDirectionBuckets + 1] = cells[1];
    for (std::int32_t k = 0; k < kDirectionBuckets; ++k) {
        candidates[static_cast<std::size_t>(k)] = cells[static_cast<std::size_t>(k)] |
                                                  cells[static_cast<std::size_t>(k + 1)] |
                                                  cells[static_cast<std::size_t>(k + 2)];
    }
}

// kLowCells[k]: cells 0 .. k - 1.
constexpr std::array<CellMask, kRowCells + 1> makeLowCells() {
    std::array<CellMask, kRowCells + 1> out{};
    for (std::int32_t k = 0; k <= kRowCells; ++k) out[static_cast<std::size_t>(k)] = (CellMask{1} << k) - 1;
    return out;
}
constexpr std::array<CellMask, kRowCells + 1> kLowCells = makeLowCells();

}  // namespace

void prepareFirstRow(const std::uint8_t* row, std::int32_t count, FirstRow& out) {
    const std::int32_t last = count - 1;
    std::int32_t previous = 256;
    bool ordered = true;
    bool wide = false;
    BucketCells firstBucket{};
    BucketCells secondBucket{};
    // Distances beyond the window table's range all count as farther.
    WindowTable nearer{};
    constexpr std::int32_t kTop = kFartherEntries - kFartherOffset;  // first x beyond the table
    std::int32_t n = 0;
    for (; n < last; ++n) {
        const std::uint8_t* cell = row + n * kCellBytes;
        const std::int32_t d = cell[0];
        if (d == 0) break;
        ordered &= d <= previous;
        previous = d;
        if (d < kTop) ++nearer[static_cast<std::size_t>(d + kFartherOffset)];
        const std::int32_t first = cellFirstAngle(cell);
        const std::int32_t second = cellSecondAngle(cell);
        wide |= (first >= kFullCircle) | (second >= kFullCircle);
        out.cells[static_cast<std::size_t>(n)] = packCell(first, second, 0);
        const CellMask bit = CellMask{1} << n;
        firstBucket[kDirectionBucket[static_cast<std::size_t>(first)] + 1U] |= bit;
        secondBucket[kDirectionBucket[static_cast<std::size_t>(second)] + 1U] |= bit;
    }
    out.length = n;
    out.ordered = ordered;
    out.narrow = !wide;
    for (std::int32_t a = n; a < n + kWindowPadding; ++a) out.cells[static_cast<std::size_t>(a)] = 0;
    if (!ordered) return;
    // farther[x] = n - (cells with distance <= x): running sums of the
    // histogram.
    fartherCounts(nearer, n, out.farther);
    if (!out.narrow) return;
    // window[e]: cells no farther than e + 2 and no nearer than e - 2, i.e.
    // cells farther[e + 2] .. farther[e - 3] - 1 (farther never rises, so
    // the first bound is the smaller).
    out.window[0] = 0;
    for (std::int32_t e = 1; e <= kPreparedReach; ++e) {
        out.window[static_cast<std::size_t>(e)] =
            kLowCells[out.farther[static_cast<std::size_t>(e - kSimilarityDistanceTolerance - 1 + kFartherOffset)]] ^
            kLowCells[out.farther[static_cast<std::size_t>(e + kSimilarityDistanceTolerance + kFartherOffset)]];
    }
    candidatesByBucket(firstBucket, out.firstCandidates);
    candidatesByBucket(secondBucket, out.secondCandidates);
}

namespace {

std::uint32_t probeOf(const std::uint8_t* cell) {
    return packCell(cellFirstAngle(cell), cellSecondAngle(cell), 0);
}

// Rows with directions of 360 or more: each window tested as a whole.
std::int32_t windowSimilarity(const FirstRow& a, const SecondRow& b) {
    std::int32_t count = 0;
    for (std::int32_t k = 0; k < b.length; ++k) {
        const std::int32_t e = b.distance[static_cast<std::size_t>(k)];
        // Window: cells no farther than e + 2 and no nearer than e - 2.
        const std::int32_t from =
            a.farther[static_cast<std::size_t>(e + kSimilarityDistanceTolerance + kFartherOffset)];
        const std::int32_t to =
            a.farther[static_cast<std::size_t>(e - kSimilarityDistanceTolerance - 1 + kFartherOffset)];
        if (from < to && anyAgreeingCell<false>(a.cells.data(), from, to, probeOf(b.row + k * kCellBytes))) {
            ++count;
        }
    }
    return count;
}

}  // namespace

namespace {

// Masks of the cells of a that may agree with cell k of b.
inline CellMask candidateCells(const FirstRow& a, const SecondRow& b, std::int32_t k) {
    return a.window[b.distance[static_cast<std::size_t>(k)]] &
           a.firstCandidates[b.firstBucket[static_cast<std::size_t>(k)]] &
           a.secondCandidates[b.secondBucket[static_cast<std::size_t>(k)]];
}

// 1 when one of the candidates really agrees with cell k of b.
inline std::int32_t anyCandidateAgrees(const FirstRow& a, const SecondRow& b, std::int32_t k,
                                       CellMask m) {
    const std::uint32_t probe = probeOf(b.row + k * kCellBytes);
    for (; m != 0; m &= m - 1) {
        if (lanesAgree(a.cells[static_cast<std::size_t>(std::countr_zero(m))], probe)) return 1;
    }
    return 0;
}

}  // namespace

std::int32_t preparedSimilarity(const FirstRow& a, const SecondRow& b) {
    if (!a.narrow || !b.narrow) return windowSimilarity(a, b);
    // A cell of b counts when some cell of a within the distance window has
    // both directions within the angle tolerance. The bucket masks keep every
    // such cell of a (and some others), so only what they keep is tested.
    // Two cells of b per step: most steps keep nothing.
    std::int32_t count = 0;
    std::int32_t k = 0;
    for (; k + 1 < b.length; k += 2) {
        const CellMask m0 = candidateCells(a, b, k);
        const CellMask m1 = candidateCells(a, b, k + 1);
        if ((m0 | m1) == 0) continue;
        if (m0 != 0) count += anyCandidateAgrees(a, b, k, m0);
        if (m1 != 0) count += anyCandidateAgrees(a, b, k + 1, m1);
    }
    if (k < b.length) {
        const CellMask m = candidateCells(a, b, k);
        if (m != 0) count += anyCandidateAgrees(a, b, k, m);
    }
    return count;
}

}  // namespace zp

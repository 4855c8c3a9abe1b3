#include "match/similarity.h"

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
namespace {

constexpr std::uint32_t kSecondDistanceShift = 25;  // distance above direction 2
constexpr std::uint32_t kSecondDirectionsMask = (1U << kSecondDistanceShift) - 1;

// Cells before the first empty one, at most count - 1; and whether their
// distances never rise.
std::int32_t neighbourPrefix(const std::uint8_t* row, std::int32_t count, bool& ordered) {
    const std::int32_t last = count - 1;
    ordered = true;
    std::int32_t previous = 256;
    std::int32_t n = 0;
    for (; n < last; ++n) {
        const std::int32_t d = row[n * kCellBytes];
        if (d == 0) break;
        if (d > previous) ordered = false;
        previous = d;
    }
    return n;
}

}  // namespace

void prepareSecondRow(const std::uint8_t* row, std::int32_t count, SecondRow& out) {
    bool ordered = false;
    const std::int32_t n = neighbourPrefix(row, count, ordered);
    out.length = n;
    out.ordered = ordered && (n == 0 || row[0] <= kPreparedReach);
    for (std::int32_t b = 0; b < n; ++b) {
        const std::uint8_t* cell = row + b * kCellBytes;
        out.cells[static_cast<std::size_t>(b)] =
            packCell(cellFirstAngle(cell), cellSecondAngle(cell) | (cell[0] << 9), 0);
    }
}

void prepareFirstRow(const std::uint8_t* row, std::int32_t count, FirstRow& out) {
    bool ordered = false;
    const std::int32_t n = neighbourPrefix(row, count, ordered);
    out.length = n;
    out.ordered = ordered;
    for (std::int32_t a = 0; a < n; ++a) {
        const std::uint8_t* cell = row + a * kCellBytes;
        out.cells[static_cast<std::size_t>(a)] = packCell(cellFirstAngle(cell), cellSecondAngle(cell), 0);
    }
    for (std::int32_t a = n; a < n + kWindowPadding; ++a) out.cells[static_cast<std::size_t>(a)] = 0;
    if (!ordered) return;
    // farther[x] = n - (cells with distance <= x): a histogram of the
    // distances (those beyond the table's range all count as farther), then
    // running sums.
    WindowTable nearer{};
    constexpr std::int32_t kTop = kFartherEntries - kFartherOffset;  // first x beyond the table
    for (std::int32_t a = 0; a < n; ++a) {
        const std::int32_t d = row[a * kCellBytes];
        if (d < kTop) ++nearer[static_cast<std::size_t>(d + kFartherOffset)];
    }
    fartherCounts(nearer, n, out.farther);
}

std::int32_t preparedSimilarity(const FirstRow& a, const SecondRow& b) {
    std::int32_t count = 0;
    for (std::int32_t k = 0; k < b.length; ++k) {
        const std::uint32_t cell = b.cells[static_cast<std::size_t>(k)];
        const auto e = static_cast<std::int32_t>(cell >> kSecondDistanceShift);
        // Window: cells no farther than e + 2 and no nearer than e - 2.
        const std::int32_t from =
            a.farther[static_cast<std::size_t>(e + kSimilarityDistanceTolerance + kFartherOffset)];
        const std::int32_t to =
            a.farther[static_cast<std::size_t>(e - kSimilarityDistanceTolerance - 1 + kFartherOffset)];
        if (from < to && anyAgreeingCell<false>(a.cells.data(), from, to, cell & kSecondDirectionsMask)) {
            ++count;
        }
    }
    return count;
}

}  // namespace zp

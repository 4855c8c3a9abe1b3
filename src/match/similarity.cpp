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

#include "match/neighbour_table.h"

#include <array>
#include <bit>
#include <cstring>

#include "match/agreement_window.h"

#include "math/trig.h"

namespace zp {
namespace {

constexpr std::int32_t constIsqrt(std::int32_t n) {
    std::int32_t r = 0;
    while ((r + 1) * (r + 1) <= n) ++r;
    return r;
}

constexpr std::int32_t kSpan = 2 * kNeighbourReach + 1;

// Entry (dx + 65) * 131 + (dy + 65): direction (0..360) in bits 0-8 and
// isqrt(dx² + dy²) (0..91) in bits 9-15.
constexpr std::array<std::uint16_t, kSpan * kSpan> makeGeometryTable() {
    std::array<std::uint16_t, kSpan * kSpan> table{};
    for (std::int32_t dx = -kNeighbourReach; dx <= kNeighbourReach; ++dx) {
        for (std::int32_t dy = -kNeighbourReach; dy <= kNeighbourReach; ++dy) {
            const std::int32_t packed = angleBetween(0, 0, dx, dy) | (constIsqrt(dx * dx + dy * dy) << 9);
            table[static_cast<std::size_t>((dx + kNeighbourReach) * kSpan + dy + kNeighbourReach)] =
                static_cast<std::uint16_t>(packed);
        }
    }
    return table;
}

constexpr std::array<std::uint16_t, kSpan * kSpan> kGeometryTable = makeGeometryTable();

inline std::uint32_t geometryEntry(std::int32_t dx, std::int32_t dy) {
    return kGeometryTable[static_cast<std::size_t>((dx + kNeighbourReach) * kSpan + dy +
                                                   kNeighbourReach)];
}

}  // namespace

NeighbourGeometry neighbourGeometry(std::int32_t dx, std::int32_t dy) {
    const std::uint32_t e = geometryEntry(dx, dy);
    return {static_cast<std::int32_t>(e >> 9), static_cast<std::int32_t>(e & 0x1FF)};
}

bool fillNeighbourCell(std::uint8_t* cell, const MinutiaRecord& first,
                       const MinutiaRecord& second) {
    // Displacement from first to second; the reach test is symmetric.
    const std::int32_t dx = second.x - first.x;
    const std::int32_t dy = second.y - first.y;
    if (dx > kNeighbourReach || dx < -kNeighbourReach || dy > kNeighbourReach ||
        dy < -kNeighbourReach) {
        return false;
    }
    const std::uint32_t e = geometryEntry(dx, dy);
    const auto d = static_cast<std::int32_t>(e >> 9);
    if (d > kNeighbourReach) return false;
    const auto t = static_cast<std::int32_t>(e & 0x1FF);
    std::int32_t ri = first.direction - t;
    if (ri < 0) ri += 360;
    const std::int32_t back = t < 180 ? t + 180 : t - 180;
    std::int32_t rj = second.direction - back;
    if (rj < 0) rj += 360;
    std::uint8_t flags = 0;
    if (ri > 255) flags |= kCellFirstHighBit;
    if (rj > 255) flags |= kCellSecondHighBit;
    if (isBifurcation(first)) flags |= kCellFirstBifurcation;
    if (isBifurcation(second)) flags |= kCellSecondBifurcation;
    cell[0] = static_cast<std::uint8_t>(d);
    cell[1] = static_cast<std::uint8_t>(ri & 0xFF);
    cell[2] = static_cast<std::uint8_t>(rj & 0xFF);
    cell[3] = flags;
    return true;
}

void buildNeighbourTable(const MatchingModel& model, std::uint8_t* table) {
    const std::int32_t rowLength = model.maxCount;
    const std::int32_t n = model.count;
    std::memset(table, 0, static_cast<std::size_t>(rowLength * rowLength * kCellBytes));
    for (std::int32_t i = 0; i < n; ++i) {
        const MinutiaRecord& mi = model.minutiae[static_cast<std::size_t>(i)];
        for (std::int32_t j = i + 1; j < n; ++j) {
            std::uint8_t* cell = table + (i * rowLength + j) * kCellBytes;
            if (!fillNeighbourCell(cell, mi, model.minutiae[static_cast<std::size_t>(j)])) continue;
            if (cell[0] == 0) continue;
            // Mirror into (j, i): swap the two angles, the type flags and the
            // ninth bits.
            std::uint8_t* mirror = table + (j * rowLength + i) * kCellBytes;
            const std::uint8_t f = cell[3];
            mirror[0] = cell[0];
            mirror[1] = cell[2];
            mirror[2] = cell[1];
            mirror[3] = static_cast<std::uint8_t>(((f & kCellFirstBifurcation) << 1) |
                                                  ((f & kCellSecondBifurcation) >> 1) |
                                                  ((f & kCellFirstHighBit) << 1) |
                                                  ((f & kCellSecondHighBit) >> 1));
        }
    }
}

void compactNeighbourTable(std::int32_t count, std::uint8_t* table, std::int32_t rowLength) {
    // A counting sort by distance: cells of equal distance keep their order,
    // which is the order of a bubble sort that swaps only on a strictly
    // smaller first distance. Distances are 1..65 in tables built here.
    std::array<std::uint32_t, kMaxMinutiae> kept{};
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t* row = table + i * rowLength * kCellBytes;
        std::array<std::uint8_t, 256> slot{};  // cells per distance, then first slot
        std::int32_t m = 0;
        std::int32_t nearest = 255;
        std::int32_t farthest = 0;
        for (std::int32_t j = 0; j < count; ++j) {
            const std::int32_t d = row[j * kCellBytes];
            if (d == 0) continue;
            ++slot[static_cast<std::size_t>(d)];
            nearest = d < nearest ? d : nearest;
            farthest = d > farthest ? d : farthest;
            ++m;
        }
        std::int32_t next = 0;
        for (std::int32_t d = farthest; d >= nearest; --d) {
            const std::int32_t n = slot[static_cast<std::size_t>(d)];
            slot[static_cast<std::size_t>(d)] = static_cast<std::uint8_t>(next);
            next += n;
        }
        for (std::int32_t j = 0; j < count; ++j) {
            const std::uint8_t* cell = row + j * kCellBytes;
            const std::int32_t d = cell[0];
            if (d == 0) continue;
            std::uint32_t word;
            std::memcpy(&word, cell, kCellBytes);
            kept[slot[static_cast<std::size_t>(d)]++] = word;
        }
        std::memcpy(row, kept.data(), static_cast<std::size_t>(m * kCellBytes));
        std::memset(row + m * kCellBytes, 0,
                    static_cast<std::size_t>((rowLength - m) * kCellBytes));
    }
}

namespace {

// A cell as the 32-bit word whose bytes, in memory order, are the cell's.
constexpr std::uint32_t cellWord(std::int32_t d, std::int32_t first, std::int32_t second,
                              std::uint32_t flags) {
    const std::uint32_t b0 = static_cast<std::uint32_t>(d);
    const std::uint32_t b1 = static_cast<std::uint32_t>(first) & 0xFF;
    const std::uint32_t b2 = static_cast<std::uint32_t>(second) & 0xFF;
    const std::uint32_t b3 = flags | (first > 255 ? kCellFirstHighBit : 0U) |
                             (second > 255 ? kCellSecondHighBit : 0U);
    if constexpr (std::endian::native == std::endian::little) {
        return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
    } else {
        return (b0 << 24) | (b1 << 16) | (b2 << 8) | b3;
    }
}

inline std::int32_t wordDistance(std::uint32_t word) {
    std::uint8_t bytes[kCellBytes];
    std::memcpy(bytes, &word, kCellBytes);
    return bytes[0];
}

// Relative directions as cell bits: entry v = direction - t + 360 for a
// direction 0..511 and a line direction t 0..360, holding r = direction - t,
// plus 360 when negative, as byte 1 with its ninth bit (row angles) or as
// byte 2 with its ninth bit (column angles).
inline constexpr std::int32_t kRelativeEntries = 511 + 360 + 1;

constexpr std::array<std::uint32_t, kRelativeEntries> makeRelativeBits(bool column) {
    std::array<std::uint32_t, kRelativeEntries> out{};
    for (std::int32_t v = 0; v < kRelativeEntries; ++v) {
        const std::int32_t r = v >= 360 ? v - 360 : v;
        out[static_cast<std::size_t>(v)] = column ? cellWord(0, 0, r, 0) : cellWord(0, r, 0, 0);
    }
    return out;
}

constexpr std::array<std::uint32_t, kRelativeEntries> kRowAngleBits = makeRelativeBits(false);
constexpr std::array<std::uint32_t, kRelativeEntries> kColumnAngleBits = makeRelativeBits(true);

}  // namespace

void buildSortedNeighbourTable(const MatchingModel& model, std::uint8_t* table) {
    const std::int32_t rowLength = model.maxCount;
    const std::int32_t n = model.count;
    const auto rowAt = [&](std::int32_t r) { return table + r * rowLength * kCellBytes; };

    // Type flags of each minutia as the row's (bit 0) and as the column's
    // (bit 1) minutia.
    std::array<std::uint32_t, kMaxMinutiae> rowType;
    std::array<std::uint32_t, kMaxMinutiae> columnType;
    for (std::int32_t k = 0; k < n; ++k) {
        const bool bifurcation = isBifurcation(model.minutiae[static_cast<std::size_t>(k)]);
        rowType[static_cast<std::size_t>(k)] = cellWord(0, 0, 0, bifurcation ? kCellFirstBifurcation : 0U);
        columnType[static_cast<std::size_t>(k)] = cellWord(0, 0, 0, bifurcation ? kCellSecondBifurcation : 0U);
    }

    // First every pair i < j within reach, in order of i and then j: cell
    // (i, j) goes to the end of row i's list and its mirror to the end of
    // row j's. Row r's list thus holds its cells in order of column, as the
    // filled table does; it lives at the start of row r itself (a row holds
    // at most n - 1 < rowLength of them).
    std::array<std::uint8_t, kMaxMinutiae> listed{};
    for (std::int32_t i = 0; i < n; ++i) {
        const MinutiaRecord& mi = model.minutiae[static_cast<std::size_t>(i)];
        const std::uint32_t typeI = rowType[static_cast<std::size_t>(i)];
        const std::uint32_t typeIColumn = columnType[static_cast<std::size_t>(i)];
        const std::int32_t directionI = mi.direction + 360;
        std::uint8_t* rowI = rowAt(i);
        std::int32_t listedI = listed[static_cast<std::size_t>(i)];
        for (std::int32_t j = i + 1; j < n; ++j) {
            const MinutiaRecord& mj = model.minutiae[static_cast<std::size_t>(j)];
            const std::int32_t dx = mj.x - mi.x;
            const std::int32_t dy = mj.y - mi.y;
            if (static_cast<std::uint32_t>(dx + kNeighbourReach) > 2U * kNeighbourReach ||
                static_cast<std::uint32_t>(dy + kNeighbourReach) > 2U * kNeighbourReach) {
                continue;
            }
            const std::uint32_t e = geometryEntry(dx, dy);
            const auto d = static_cast<std::int32_t>(e >> 9);
            // Beyond reach, or at the same spot (no neighbour either way).
            if (static_cast<std::uint32_t>(d - 1) >= static_cast<std::uint32_t>(kNeighbourReach)) continue;
            const auto t = static_cast<std::int32_t>(e & 0x1FF);
            const std::int32_t back = t < 180 ? t + 180 : t - 180;
            const auto vi = static_cast<std::size_t>(directionI - t);
            const auto vj = static_cast<std::size_t>(mj.direction + 360 - back);
            const std::uint32_t distance = cellWord(d, 0, 0, 0);
            const std::uint32_t cell = distance | kRowAngleBits[vi] | kColumnAngleBits[vj] | typeI |
                                       columnType[static_cast<std::size_t>(j)];
            const std::uint32_t mirror = distance | kRowAngleBits[vj] | kColumnAngleBits[vi] |
                                         rowType[static_cast<std::size_t>(j)] | typeIColumn;
            std::memcpy(rowI + listedI++ * kCellBytes, &cell, kCellBytes);
            std::memcpy(rowAt(j) + listed[static_cast<std::size_t>(j)]++ * kCellBytes, &mirror, kCellBytes);
        }
        listed[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(listedI);
    }

    // Then each list sorted by falling distance, equal distances in list
    // order (a counting sort), and the rest of the row cleared.
    for (std::int32_t r = 0; r < n; ++r) {
        std::uint8_t* row = rowAt(r);
        const std::int32_t m = listed[static_cast<std::size_t>(r)];
        std::array<std::uint32_t, kMaxMinutiae> cells;
        std::array<std::uint8_t, kMaxMinutiae> distance;
        WindowTable histogram{};
        for (std::int32_t k = 0; k < m; ++k) {
            std::uint32_t word;
            std::memcpy(&word, row + k * kCellBytes, kCellBytes);
            const std::int32_t d = wordDistance(word);
            cells[static_cast<std::size_t>(k)] = word;
            distance[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(d);
            ++histogram[static_cast<std::size_t>(d)];
        }
        WindowTable slot;  // slot[d]: cells farther than d, the first place of distance d
        fartherCounts(histogram, m, slot);
        for (std::int32_t k = 0; k < m; ++k) {
            const std::size_t at = slot[distance[static_cast<std::size_t>(k)]]++;
            std::memcpy(row + at * kCellBytes, &cells[static_cast<std::size_t>(k)], kCellBytes);
        }
        std::memset(row + m * kCellBytes, 0, static_cast<std::size_t>((rowLength - m) * kCellBytes));
    }
    if (n < rowLength) {
        std::memset(rowAt(n), 0, static_cast<std::size_t>((rowLength - n) * rowLength * kCellBytes));
    }
}

}  // namespace zp

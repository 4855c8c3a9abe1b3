#include "match/neighbour_table.h"

#include <array>
#include <bit>
#include <cstring>

#include "match/agreement_window.h"
#include "math/integer_math.h"
#include "math/small_clear.h"
#include "math/trig.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {
namespace {

constexpr std::int32_t kSpan = 2 * kNeighbourReach + 1;

// Entry (dx + 65) * 131 + (dy + 65): direction (0..360) in bits 0-8 and
// isqrt(dx² + dy²) (0..91) in bits 9-15. One spare entry lets a 4-byte
// gather read the last one.
constexpr std::int32_t kGeometryEntries = kSpan * kSpan + 1;
constexpr std::array<std::uint16_t, kGeometryEntries> makeGeometryTable() {
    std::array<std::uint16_t, kGeometryEntries> table{};
    for (std::int32_t dx = -kNeighbourReach; dx <= kNeighbourReach; ++dx) {
        for (std::int32_t dy = -kNeighbourReach; dy <= kNeighbourReach; ++dy) {
            const std::int32_t packed = angleBetween(0, 0, dx, dy) | (constIsqrt(dx * dx + dy * dy) << 9);
            table[static_cast<std::size_t>((dx + kNeighbourReach) * kSpan + dy + kNeighbourReach)] =
                static_cast<std::uint16_t>(packed);
        }
    }
    return table;
}

constexpr std::array<std::uint16_t, kGeometryEntries> kGeometryTable = makeGeometryTable();

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

namespace {

// The minutiae of a model as the pair listing reads them, padded to whole
// blocks of sixteen, and the lists it makes: row r's list of cells at the
// start of row r, listed[r] of them.
constexpr std::int32_t kPairPadding = 16;
struct PairInputs {
    std::array<std::int32_t, kMaxMinutiae + kPairPadding> x;
    std::array<std::int32_t, kMaxMinutiae + kPairPadding> y;
    std::array<std::int32_t, kMaxMinutiae + kPairPadding> direction;
    std::array<std::uint32_t, kMaxMinutiae + kPairPadding> bifurcation;  // 0 or 1
    std::int32_t count;
    std::int32_t rowLength;
};

using PairLister = void (*)(const PairInputs&, std::uint8_t*, std::array<std::uint8_t, kMaxMinutiae>&);

// Every pair i < j within reach, in order of i and then j: cell (i, j) goes
// to the end of row i's list and its mirror to the end of row j's. Row r's
// list thus holds its cells in order of column, as the filled table does; it
// lives at the start of row r itself (a row holds at most n - 1 < rowLength
// of them).
void listPairsPortable(const PairInputs& in, std::uint8_t* table, std::array<std::uint8_t, kMaxMinutiae>& listed) {
    const std::int32_t n = in.count;
    const auto rowAt = [&](std::int32_t r) { return table + r * in.rowLength * kCellBytes; };
    const auto rowType = [&](std::int32_t k) {
        return cellWord(0, 0, 0, in.bifurcation[static_cast<std::size_t>(k)] != 0 ? kCellFirstBifurcation : 0U);
    };
    const auto columnType = [&](std::int32_t k) {
        return cellWord(0, 0, 0, in.bifurcation[static_cast<std::size_t>(k)] != 0 ? kCellSecondBifurcation : 0U);
    };
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t xi = in.x[static_cast<std::size_t>(i)];
        const std::int32_t yi = in.y[static_cast<std::size_t>(i)];
        const std::uint32_t typeI = rowType(i);
        const std::uint32_t typeIColumn = columnType(i);
        const std::int32_t directionI = in.direction[static_cast<std::size_t>(i)] + 360;
        std::uint8_t* rowI = rowAt(i);
        std::int32_t listedI = listed[static_cast<std::size_t>(i)];
        for (std::int32_t j = i + 1; j < n; ++j) {
            const std::int32_t dx = in.x[static_cast<std::size_t>(j)] - xi;
            const std::int32_t dy = in.y[static_cast<std::size_t>(j)] - yi;
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
            const auto vj = static_cast<std::size_t>(in.direction[static_cast<std::size_t>(j)] + 360 - back);
            const std::uint32_t distance = cellWord(d, 0, 0, 0);
            const std::uint32_t cell =
                distance | kRowAngleBits[vi] | kColumnAngleBits[vj] | typeI | columnType(j);
            const std::uint32_t mirror =
                distance | kRowAngleBits[vj] | kColumnAngleBits[vi] | rowType(j) | typeIColumn;
            std::memcpy(rowI + listedI++ * kCellBytes, &cell, kCellBytes);
            std::memcpy(rowAt(j) + listed[static_cast<std::size_t>(j)]++ * kCellBytes, &mirror, kCellBytes);
        }
        listed[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(listedI);
    }
}

#if defined(ZP_VECTOR_PATHS)
static_assert(std::endian::native == std::endian::little);

// kCompressLanes[m]: the indices of the set bits of m, lowest first, three
// bits each: the permutation that packs the kept lanes of a block of eight.
constexpr std::array<std::uint32_t, 256> makeCompressLanes() {
    std::array<std::uint32_t, 256> out{};
    for (std::uint32_t m = 0; m < 256; ++m) {
        std::uint32_t packed = 0;
        std::uint32_t at = 0;
        for (std::uint32_t lane = 0; lane < 8; ++lane) {
            if ((m >> lane) & 1U) packed |= lane << (3 * at++);
        }
        out[m] = packed;
    }
    return out;
}
constexpr std::array<std::uint32_t, 256> kCompressLanes = makeCompressLanes();

// The portable listing, eight columns j at a time: the cells within reach
// are packed into row i's list in order of j, their mirrors appended to
// the lists of their rows one by one.
__attribute__((target("avx2"))) void listPairsAvx2(const PairInputs& in, std::uint8_t* table,
                                                  std::array<std::uint8_t, kMaxMinutiae>& listed) {
    const std::int32_t n = in.count;
    const auto rowAt = [&](std::int32_t r) { return table + r * in.rowLength * kCellBytes; };
    const __m256i reach = _mm256_set1_epi32(kNeighbourReach);
    const __m256i full = _mm256_set1_epi32(360);
    const __m256i lastDirection = _mm256_set1_epi32(359);
    const __m256i half = _mm256_set1_epi32(180);
    const __m256i lastBelowHalf = _mm256_set1_epi32(179);
    const __m256i low9 = _mm256_set1_epi32(0x1FF);
    const __m256i low8 = _mm256_set1_epi32(0xFF);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i laneShift = _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21);
    const auto* geometry = reinterpret_cast<const int*>(kGeometryTable.data());
    std::array<std::uint32_t, kMaxMinutiae + 8> own;  // row i's cells, in order of j
    alignas(32) std::array<std::uint32_t, 8> mirrors;
    // Where the next cell of each row's list goes.
    // Columns past the last minutia (lanes of a block's end) write to a
    // spare cell instead.
    std::array<std::uint8_t*, kMaxMinutiae + 8> tail;
    std::array<std::uint8_t, kCellBytes * 8 * 8> spare;
    for (std::int32_t r = 0; r < n; ++r) tail[static_cast<std::size_t>(r)] = rowAt(r) + listed[static_cast<std::size_t>(r)] * kCellBytes;
    for (std::int32_t r = n; r < n + 8; ++r) tail[static_cast<std::size_t>(r)] = spare.data() + (r - n) * 8 * kCellBytes;
    for (std::int32_t i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const __m256i xi = _mm256_set1_epi32(in.x[at]);
        const __m256i yi = _mm256_set1_epi32(in.y[at]);
        const __m256i directionI = _mm256_set1_epi32(in.direction[at] + 360);
        const __m256i typeI = _mm256_set1_epi32(static_cast<std::int32_t>(in.bifurcation[at] << 24));
        const __m256i typeIColumn = _mm256_set1_epi32(static_cast<std::int32_t>(in.bifurcation[at] << 25));
        std::int32_t owned = 0;
        for (std::int32_t j0 = i + 1; j0 < n; j0 += 8) {
            const auto* px = reinterpret_cast<const __m256i*>(in.x.data() + j0);
            const auto* py = reinterpret_cast<const __m256i*>(in.y.data() + j0);
            const __m256i dx = _mm256_sub_epi32(_mm256_loadu_si256(px), xi);
            const __m256i dy = _mm256_sub_epi32(_mm256_loadu_si256(py), yi);
            // Lanes of real columns whose displacement the table covers.
            __m256i in8 = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - j0), laneIndex);
            in8 = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_abs_epi32(dx), reach), in8);
            in8 = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_abs_epi32(dy), reach), in8);
            // (dx + 65) * 131 + dy + 65, as 128 a + 2 a + a; lanes out of the
            // table read entry 0.
            const __m256i a = _mm256_add_epi32(dx, reach);
            __m256i index = _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(a, 7), _mm256_slli_epi32(a, 1)),
                                             _mm256_add_epi32(a, _mm256_add_epi32(dy, reach)));
            index = _mm256_and_si256(index, in8);
            const __m256i e = _mm256_and_si256(_mm256_i32gather_epi32(geometry, index, 2), low16);
            const __m256i d = _mm256_srli_epi32(e, 9);
            // Within reach and not at the same spot: 1 <= d <= 65.
            const __m256i kept = _mm256_andnot_si256(_mm256_cmpgt_epi32(d, reach),
                                                     _mm256_and_si256(in8, _mm256_cmpgt_epi32(d, zero)));
            const auto keptBits = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(kept)));
            if (keptBits == 0) continue;
            const __m256i t = _mm256_and_si256(e, low9);
            const __m256i back = _mm256_sub_epi32(_mm256_add_epi32(t, half),
                                                  _mm256_and_si256(_mm256_cmpgt_epi32(t, lastBelowHalf), full));
            // Relative directions, 0..511: direction - line + 360, less 360
            // once it reaches 360.
            __m256i ri = _mm256_sub_epi32(directionI, t);
            ri = _mm256_sub_epi32(ri, _mm256_and_si256(_mm256_cmpgt_epi32(ri, lastDirection), full));
            const auto* pd = reinterpret_cast<const __m256i*>(in.direction.data() + j0);
            __m256i rj = _mm256_sub_epi32(_mm256_add_epi32(_mm256_loadu_si256(pd), full), back);
            rj = _mm256_sub_epi32(rj, _mm256_and_si256(_mm256_cmpgt_epi32(rj, lastDirection), full));
            const auto* pb = reinterpret_cast<const __m256i*>(in.bifurcation.data() + j0);
            const __m256i bifurcationJ = _mm256_loadu_si256(pb);
            const __m256i riLow = _mm256_and_si256(ri, low8);
            const __m256i rjLow = _mm256_and_si256(rj, low8);
            const __m256i riHigh = _mm256_srli_epi32(ri, 8);  // the ninth bit
            const __m256i rjHigh = _mm256_srli_epi32(rj, 8);
            // Byte 0 d, byte 1 the row's angle, byte 2 the column's, byte 3
            // the type flags (bits 24, 25) and ninth bits (bits 30, 31).
            const __m256i cell = _mm256_or_si256(
                _mm256_or_si256(_mm256_or_si256(d, _mm256_slli_epi32(riLow, 8)),
                                _mm256_or_si256(_mm256_slli_epi32(rjLow, 16), typeI)),
                _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(bifurcationJ, 25), _mm256_slli_epi32(riHigh, 30)),
                                _mm256_slli_epi32(rjHigh, 31)));
            const __m256i mirror = _mm256_or_si256(
                _mm256_or_si256(_mm256_or_si256(d, _mm256_slli_epi32(rjLow, 8)),
                                _mm256_or_si256(_mm256_slli_epi32(riLow, 16), typeIColumn)),
                _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(bifurcationJ, 24), _mm256_slli_epi32(rjHigh, 30)),
                                _mm256_slli_epi32(riHigh, 31)));
            const __m256i order = _mm256_and_si256(
                _mm256_srlv_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(kCompressLanes[keptBits])), laneShift),
                _mm256_set1_epi32(7));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(own.data() + owned),
                                _mm256_permutevar8x32_epi32(cell, order));
            owned += std::popcount(keptBits);
            _mm256_store_si256(reinterpret_cast<__m256i*>(mirrors.data()), mirror);
            // Every lane writes its mirror at its row's next place, and only
            // the kept ones move that place on: a cell written but not kept is
            // overwritten later or lies past the row's list, which the sort
            // clears.
            for (std::size_t lane = 0; lane < 8; ++lane) {
                std::uint8_t*& to = tail[static_cast<std::size_t>(j0) + lane];
                std::memcpy(to, &mirrors[lane], kCellBytes);
                to += ((keptBits >> lane) & 1U) * kCellBytes;
            }
        }
        // Row i's list: its mirrors so far, then its own cells.
        std::memcpy(tail[at], own.data(), static_cast<std::size_t>(owned * kCellBytes));
        tail[at] += owned * kCellBytes;
    }
    for (std::int32_t r = 0; r < n; ++r) {
        listed[static_cast<std::size_t>(r)] = static_cast<std::uint8_t>((tail[static_cast<std::size_t>(r)] - rowAt(r)) / kCellBytes);
    }
}
#endif

}  // namespace

namespace {

// Reads a cell back as the successor lists keep it.
void noteCell(const std::uint8_t* cell, std::uint8_t& distance, std::uint32_t& packed) {
    distance = cell[0];
    packed = packedCellWithTypes(cell);
}

void successorCellsPortable(const MatchingModel& model, std::int32_t successors, std::uint8_t* table,
                            std::int32_t rowLength, std::uint8_t* distance, std::uint32_t* packed) {
    const std::int32_t n = model.count;
    for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t k = 0; k < successors; ++k) {
            std::uint8_t* cell = table + (i * rowLength + k) * kCellBytes;
            fillNeighbourCell(cell, model.minutiae[static_cast<std::size_t>(i)],
                              model.minutiae[static_cast<std::size_t>((i + 1 + k) % n)]);
            const auto at = static_cast<std::size_t>(i * successors + k);
            noteCell(cell, distance[at], packed[at]);
        }
    }
}

#if defined(ZP_VECTOR_PATHS)
__attribute__((target("avx2"))) inline __m256i eightFrom(const std::int32_t* values, std::int32_t from) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + from));
}

// Successors the AVX2 copies below have room for; more take the portable loop.
constexpr std::int32_t kMostAvx2Successors = 8;

// The portable rule eight minutiae i at a time, their successors read from
// copies of the minutiae that run on past the last one round to the first.
__attribute__((target("avx2"))) void successorCellsAvx2(const MatchingModel& model, std::int32_t successors,
                                                       std::uint8_t* table, std::int32_t rowLength,
                                                       std::uint8_t* distance, std::uint32_t* packed) {
    const std::int32_t n = model.count;
    constexpr std::int32_t kRun = kMaxMinutiae + kMostAvx2Successors + 8;  // n + successors + a block of eight
    std::array<std::int32_t, kRun> x;
    std::array<std::int32_t, kRun> y;
    std::array<std::int32_t, kRun> direction;
    std::array<std::int32_t, kRun> bifurcation;
    for (std::int32_t t = 0; t < n + successors + 8; ++t) {
        const MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(t % n)];
        x[static_cast<std::size_t>(t)] = m.x;
        y[static_cast<std::size_t>(t)] = m.y;
        direction[static_cast<std::size_t>(t)] = m.direction;
        bifurcation[static_cast<std::size_t>(t)] = isBifurcation(m) ? 1 : 0;
    }
    const __m256i reach = _mm256_set1_epi32(kNeighbourReach);
    const __m256i full = _mm256_set1_epi32(360);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low8 = _mm256_set1_epi32(0xFF);
    const auto* geometry = reinterpret_cast<const int*>(kGeometryTable.data());
    alignas(32) std::array<std::uint32_t, 8> cells;
    alignas(32) std::array<std::uint32_t, 8> lanesPacked;
    for (std::int32_t k = 0; k < successors; ++k) {
        for (std::int32_t i0 = 0; i0 < n; i0 += 8) {
            const std::int32_t j0 = i0 + 1 + k;
            const __m256i dx = _mm256_sub_epi32(eightFrom(x.data(), j0), eightFrom(x.data(), i0));
            const __m256i dy = _mm256_sub_epi32(eightFrom(y.data(), j0), eightFrom(y.data(), i0));
            const __m256i inTable = _mm256_andnot_si256(
                _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_abs_epi32(dx), reach), _mm256_cmpgt_epi32(_mm256_abs_epi32(dy), reach)),
                _mm256_set1_epi32(-1));
            const __m256i a = _mm256_add_epi32(dx, reach);
            __m256i index = _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(a, 7), _mm256_slli_epi32(a, 1)),
                                             _mm256_add_epi32(a, _mm256_add_epi32(dy, reach)));
            index = _mm256_and_si256(index, inTable);
            const __m256i e = _mm256_and_si256(_mm256_i32gather_epi32(geometry, index, 2), _mm256_set1_epi32(0xFFFF));
            const __m256i d = _mm256_srli_epi32(e, 9);
            // Within reach (d may be 0: a cell written with distance 0).
            const __m256i kept = _mm256_andnot_si256(_mm256_cmpgt_epi32(d, reach), inTable);
            const __m256i t = _mm256_and_si256(e, _mm256_set1_epi32(0x1FF));
            const __m256i back = _mm256_sub_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(180)),
                                                  _mm256_and_si256(_mm256_cmpgt_epi32(t, _mm256_set1_epi32(179)), full));
            __m256i ri = _mm256_sub_epi32(eightFrom(direction.data(), i0), t);
            ri = _mm256_add_epi32(ri, _mm256_and_si256(_mm256_cmpgt_epi32(zero, ri), full));
            __m256i rj = _mm256_sub_epi32(eightFrom(direction.data(), j0), back);
            rj = _mm256_add_epi32(rj, _mm256_and_si256(_mm256_cmpgt_epi32(zero, rj), full));
            const __m256i types = _mm256_or_si256(eightFrom(bifurcation.data(), i0), _mm256_slli_epi32(eightFrom(bifurcation.data(), j0), 1));
            const __m256i cell = _mm256_or_si256(
                _mm256_or_si256(d, _mm256_slli_epi32(_mm256_and_si256(ri, low8), 8)),
                _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(rj, low8), 16),
                                _mm256_or_si256(_mm256_slli_epi32(types, 24),
                                                _mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(ri, 8), 30),
                                                                _mm256_slli_epi32(_mm256_srli_epi32(rj, 8), 31)))));
            const __m256i lanes = _mm256_or_si256(_mm256_or_si256(ri, _mm256_slli_epi32(types, kFlagShift)),
                                                  _mm256_slli_epi32(rj, 16));
            _mm256_store_si256(reinterpret_cast<__m256i*>(cells.data()), _mm256_and_si256(cell, kept));
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanesPacked.data()), _mm256_and_si256(lanes, kept));
            const std::int32_t count = n - i0 < 8 ? n - i0 : 8;
            for (std::int32_t lane = 0; lane < count; ++lane) {
                const std::int32_t i = i0 + lane;
                const std::uint32_t word = cells[static_cast<std::size_t>(lane)];
                std::memcpy(table + (i * rowLength + k) * kCellBytes, &word, kCellBytes);
                const auto to = static_cast<std::size_t>(i * successors + k);
                distance[to] = static_cast<std::uint8_t>(word & 0xFF);
                packed[to] = lanesPacked[static_cast<std::size_t>(lane)];
            }
        }
    }
}
#endif

// The copy back: a fixed size where rows are full.
inline void writeSortedRow(std::uint8_t* row, const std::array<std::uint32_t, kMaxMinutiae>& sorted, std::int32_t rowLength) {
    if (rowLength == kMaxMinutiae) {
        std::memcpy(row, sorted.data(), static_cast<std::size_t>(kMaxMinutiae * kCellBytes));
    } else {
        std::memcpy(row, sorted.data(), static_cast<std::size_t>(rowLength * kCellBytes));
    }
}

// Each row's list of listed[r] cells sorted by falling distance, equal
// distances in list order (a counting sort), and the rest of the row
// cleared. The sorted row is made in a cleared copy, so the list is read
// where it lies and a full row goes back in one fixed-size copy (rows are at
// most kMaxMinutiae cells).
void sortRowsPortable(std::uint8_t* table, std::int32_t rowLength, std::int32_t n,
                      const std::array<std::uint8_t, kMaxMinutiae>& listed) {
    for (std::int32_t r = 0; r < n; ++r) {
        std::uint8_t* row = table + r * rowLength * kCellBytes;
        const std::int32_t m = listed[static_cast<std::size_t>(r)];
        WindowTable histogram{};
        for (std::int32_t k = 0; k < m; ++k) ++histogram[row[k * kCellBytes]];
        WindowTable slot;  // slot[d]: cells farther than d, the first place of distance d
        fartherCounts(histogram, m, slot);
        std::array<std::uint32_t, kMaxMinutiae> sorted;
        clearSmallArray(sorted);
        for (std::int32_t k = 0; k < m; ++k) {
            std::uint32_t word;
            std::memcpy(&word, row + k * kCellBytes, kCellBytes);
            sorted[slot[wordDistance(word)]++] = word;
        }
        writeSortedRow(row, sorted, rowLength);
    }
}

#if defined(ZP_VECTOR_PATHS)
// GCC 12's headers fill the unused result of unmasked AVX-512 intrinsics
// from an uninitialised variable and then warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Whole rows at once, sixteen columns at a time: row i's cell for column
// j > i from the displacement to j, and for j < i the mirror of cell (j, i),
// found from the opposite displacement (its geometry entry lies as far
// below the table's centre as the other lies above). Each kept cell goes
// straight to its place in the row: after the cells farther than it and
// those as far in earlier columns, as the key d * 64 + 63 - j orders them
// (the keys of a row are all distinct).
struct ColumnBlock {
    __m512i place;      // 131 x + y: an entry's index is a difference of two plus the centre's
    __m512i direction;  // direction + 360
    __m512i type;       // the neighbour's bifurcation flag in place
    __m512i tie;        // 63 - j
};

// What every row of a table reads.
struct RowContext {
    const PairInputs* in;
    std::int32_t blocks;  // of sixteen columns
    std::array<ColumnBlock, 4> columns;
};

// One row's cells in order of column (zero where not kept), their keys
// (zero where not kept, and past the last block) and which are kept.
struct RowCells {
    alignas(64) std::array<std::uint32_t, 64> cells;
    alignas(64) std::array<std::uint16_t, 64> keys;
    std::uint64_t kept;
};

// Row i's cells, keys and kept columns.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi,bmi2,popcnt"))) inline void computeRow(
    const RowContext& context, std::int32_t i, RowCells& out) {
    constexpr std::int32_t kCentre = kNeighbourReach * kSpan + kNeighbourReach;  // entry of (0, 0)
    const PairInputs& in = *context.in;
    const std::int32_t n = in.count;
    const auto* geometry = reinterpret_cast<const int*>(kGeometryTable.data());
    const __m512i full = _mm512_set1_epi32(360);
    const __m512i centre = _mm512_set1_epi32(kCentre);
    // Bytes 0 and 2 of each word to its bytes 1 and 2, the rest zero.
    const __m512i lowBytePlaces =
        _mm512_set4_epi32(static_cast<std::int32_t>(0x800E0C80U), static_cast<std::int32_t>(0x800A0880U),
                          static_cast<std::int32_t>(0x80060480U), static_cast<std::int32_t>(0x80020080U));
    const auto ai = static_cast<std::size_t>(i);
    const __m512i xi = _mm512_set1_epi32(in.x[ai] - kNeighbourReach);
    const __m512i yi = _mm512_set1_epi32(in.y[ai] - kNeighbourReach);
    const __m512i placeI = _mm512_set1_epi32(in.x[ai] * kSpan + in.y[ai]);
    const __m512i directionI = _mm512_set1_epi32(in.direction[ai] + 360);
    const __m512i typeI = _mm512_set1_epi32(static_cast<std::int32_t>(in.bifurcation[ai] << 24));
    std::uint64_t kept = 0;
    for (std::int32_t b = 0; b < context.blocks; ++b) {
        const ColumnBlock& c = context.columns[static_cast<std::size_t>(b)];
        const std::int32_t j0 = 16 * b;
        // Columns below n whose displacement the table covers.
        auto inTable = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(n - j0)));
        inTable = _mm512_mask_cmple_epu32_mask(inTable, _mm512_sub_epi32(_mm512_loadu_si512(in.x.data() + j0), xi),
                                               _mm512_set1_epi32(2 * kNeighbourReach));
        inTable = _mm512_mask_cmple_epu32_mask(inTable, _mm512_sub_epi32(_mm512_loadu_si512(in.y.data() + j0), yi),
                                               _mm512_set1_epi32(2 * kNeighbourReach));
        // Columns before i: the mirror's displacement, the opposite one.
        const auto mirrored = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(i - j0 < 0 ? 0 : i - j0)));
        const __m512i offset = _mm512_sub_epi32(c.place, placeI);
        const __m512i index = _mm512_mask_sub_epi32(_mm512_add_epi32(centre, offset), mirrored, centre, offset);
        const __m512i e = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), inTable, index, geometry, 2);
        const __m512i d = _mm512_and_si512(_mm512_srli_epi32(e, 9), _mm512_set1_epi32(0x7F));
        // Within reach and not at the same spot: 1 <= d <= 65.
        const __mmask16 near = _mm512_mask_cmple_epu32_mask(inTable, _mm512_sub_epi32(d, _mm512_set1_epi32(1)),
                                                           _mm512_set1_epi32(kNeighbourReach - 1));
        kept |= std::uint64_t{near} << j0;
        const __m512i t = _mm512_and_si512(e, _mm512_set1_epi32(0x1FF));
        __m512i back = _mm512_add_epi32(t, _mm512_set1_epi32(180));
        back = _mm512_min_epu32(back, _mm512_sub_epi32(back, full));
        // The line's direction at the row's minutia and at the column's.
        const __m512i u = _mm512_mask_blend_epi32(mirrored, t, back);
        const __m512i v = _mm512_mask_blend_epi32(mirrored, back, t);
        // direction - line + 360, less 360 where that stays >= 0.
        __m512i ri = _mm512_sub_epi32(directionI, u);
        ri = _mm512_min_epu32(ri, _mm512_sub_epi32(ri, full));
        __m512i rj = _mm512_sub_epi32(c.direction, v);
        rj = _mm512_min_epu32(rj, _mm512_sub_epi32(rj, full));
        // Byte 1 and byte 2 the low bytes of ri and rj, bit 30 and bit 31
        // their ninth bits.
        const __m512i both = _mm512_or_si512(ri, _mm512_slli_epi32(rj, 16));
        const __m512i lowBytes = _mm512_shuffle_epi8(both, lowBytePlaces);
        const __m512i ninthBits = _mm512_and_si512(
            _mm512_ternarylogic_epi32(_mm512_slli_epi32(both, 22), _mm512_slli_epi32(both, 7), _mm512_set1_epi32(1 << 30), 0xE4),
            _mm512_set1_epi32(static_cast<std::int32_t>(0xC0000000U)));
        const __m512i cell = _mm512_maskz_ternarylogic_epi32(near, _mm512_ternarylogic_epi32(d, lowBytes, c.type, 0xFE),
                                                             ninthBits, typeI, 0xFE);
        _mm512_store_si512(out.cells.data() + j0, cell);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.keys.data() + j0),
                           _mm512_cvtepi32_epi16(_mm512_maskz_or_epi32(near, _mm512_slli_epi32(d, 6), c.tie)));
    }
    out.kept = kept;
}

// Writes the row: its kept cells in order of key, then zero cells. Keys
// past column 31 are compared only where the table has more columns.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi,bmi2,popcnt"))) inline void placeRow(
    const RowCells& from, bool wide, std::uint8_t* row, std::int32_t rowLength) {
    const __m512i key01 = _mm512_load_si512(from.keys.data());
    const __m512i key23 = _mm512_load_si512(from.keys.data() + 32);
    auto* rowWords = reinterpret_cast<std::int32_t*>(row);
    const std::uint64_t rowCells = _bzhi_u64(~std::uint64_t{0}, static_cast<std::uint32_t>(rowLength));
    for (std::int32_t q = 0; q < 4; ++q) {
        _mm512_mask_storeu_epi32(rowWords + 16 * q, static_cast<__mmask16>(rowCells >> (16 * q)), _mm512_setzero_si512());
    }
    std::uint64_t kept = from.kept;
    while (kept != 0) {
        const auto k = static_cast<std::size_t>(std::countr_zero(kept));
        kept &= kept - 1;
        const __m512i self = _mm512_set1_epi16(static_cast<std::int16_t>(from.keys[k]));
        std::uint64_t farther = _mm512_cmpgt_epu16_mask(key01, self);
        if (wide) farther |= std::uint64_t{_mm512_cmpgt_epu16_mask(key23, self)} << 32;
        std::memcpy(row + std::popcount(farther) * kCellBytes, &from.cells[k], kCellBytes);
    }
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi,bmi2,popcnt"))) void buildRowsAvx512(
    const PairInputs& in, std::uint8_t* table) {
    static_assert(kMaxMinutiae <= 64 && kMaxMinutiae + kPairPadding >= 64);
    const std::int32_t n = in.count;
    RowContext context;
    context.in = &in;
    context.blocks = (n + 15) / 16;
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (std::int32_t b = 0; b < 4; ++b) {
        ColumnBlock& c = context.columns[static_cast<std::size_t>(b)];
        const __m512i x = _mm512_loadu_si512(in.x.data() + 16 * b);
        const __m512i y = _mm512_loadu_si512(in.y.data() + 16 * b);
        c.place = _mm512_add_epi32(_mm512_mullo_epi32(x, _mm512_set1_epi32(kSpan)), y);
        c.direction = _mm512_add_epi32(_mm512_loadu_si512(in.direction.data() + 16 * b), _mm512_set1_epi32(360));
        c.type = _mm512_slli_epi32(_mm512_loadu_si512(in.bifurcation.data() + 16 * b), 25);
        c.tie = _mm512_sub_epi32(_mm512_set1_epi32(63 - 16 * b), lanes);
    }
    // Row i's table lookups run while row i - 1's cells are placed.
    std::array<RowCells, 2> work;
    for (RowCells& w : work) clearSmallArray(w.keys);  // the keys of columns past the last block stay zero
    for (std::int32_t i = 0; i <= n; ++i) {
        if (i < n) computeRow(context, i, work[static_cast<std::size_t>(i & 1)]);
        if (i > 0) {
            placeRow(work[static_cast<std::size_t>((i - 1) & 1)], context.blocks > 2,
                     table + (i - 1) * in.rowLength * kCellBytes, in.rowLength);
        }
    }
}
#pragma GCC diagnostic pop
#endif

}  // namespace

namespace {

// Rows 0..n-1 from the lists of pairs: each row's list, then sorted.
void buildRowsByList(const PairInputs& in, std::uint8_t* table, VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    // SSE2 has no gather: it keeps the portable listing.
    const PairLister listPairs = functionForPath<PairLister>(path, listPairsPortable, listPairsPortable, listPairsAvx2);
#else
    static_cast<void>(path);
    const PairLister listPairs = listPairsPortable;
#endif
    std::array<std::uint8_t, kMaxMinutiae> listed{};
    listPairs(in, table, listed);

    // Then each list sorted by falling distance, equal distances in list
    // order, and the rest of the row cleared.
    sortRowsPortable(table, in.rowLength, in.count, listed);
}

}  // namespace

void buildSuccessorCells(const MatchingModel& model, std::int32_t successors, std::uint8_t* table,
                         std::int32_t rowLength, std::uint8_t* distance, std::uint32_t* packed, VectorPath path) {
    if (model.count <= 0) return;
#if defined(ZP_VECTOR_PATHS)
    if (path >= VectorPath::Avx2 && vectorPathAvailable(VectorPath::Avx2) && successors <= kMostAvx2Successors) {
        successorCellsAvx2(model, successors, table, rowLength, distance, packed);
        return;
    }
#else
    static_cast<void>(path);
#endif
    successorCellsPortable(model, successors, table, rowLength, distance, packed);
}

void buildSortedNeighbourTable(const MatchingModel& model, std::uint8_t* table) {
    buildSortedNeighbourTable(model, table, bestVectorPath());
}

void buildSortedNeighbourTable(const MatchingModel& model, std::uint8_t* table, VectorPath path) {
    const std::int32_t rowLength = model.maxCount;
    const std::int32_t n = model.count;
    const auto rowAt = [&](std::int32_t r) { return table + r * rowLength * kCellBytes; };

    PairInputs in;
    in.count = n;
    in.rowLength = rowLength;
    for (std::int32_t k = 0; k < n; ++k) {
        const MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(k)];
        in.x[static_cast<std::size_t>(k)] = m.x;
        in.y[static_cast<std::size_t>(k)] = m.y;
        in.direction[static_cast<std::size_t>(k)] = m.direction;
        in.bifurcation[static_cast<std::size_t>(k)] = isBifurcation(m) ? 1U : 0U;
    }
    for (std::int32_t k = n; k < kMaxMinutiae + kPairPadding; ++k) {
        in.x[static_cast<std::size_t>(k)] = 0;
        in.y[static_cast<std::size_t>(k)] = 0;
        in.direction[static_cast<std::size_t>(k)] = 0;
        in.bifurcation[static_cast<std::size_t>(k)] = 0;
    }
#if defined(ZP_VECTOR_PATHS)
    if (path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512)) {
        buildRowsAvx512(in, table);
    } else {
        buildRowsByList(in, table, path);
    }
#else
    buildRowsByList(in, table, path);
#endif
    if (n < rowLength) {
        std::memset(rowAt(n), 0, static_cast<std::size_t>((rowLength - n) * rowLength * kCellBytes));
    }
}

}  // namespace zp

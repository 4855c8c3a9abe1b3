// Neighbour tables: for every minutia of a model, the distance to each
// neighbour within reach and the directions of both minutiae relative to
// the line joining them. Cells are 4 bytes:
//   byte 0  distance 1..65, 0 = no neighbour
//   byte 1  relative direction of the row's minutia, low 8 bits
//   byte 2  relative direction of the neighbour, low 8 bits
//   byte 3  bit 0 row minutia is a bifurcation, bit 1 neighbour is,
//           bit 6 / bit 7 the ninth bit of byte 1 / byte 2
#pragma once

#include <cstdint>

#include "match/agreement_window.h"
#include "match/matching_model.h"
#include "math/vector_path.h"

namespace zp {

inline constexpr std::int32_t kNeighbourReach = 65;  // largest neighbour distance, model units
inline constexpr std::int32_t kCellBytes = 4;

inline constexpr std::uint8_t kCellFirstBifurcation = 0x01;
inline constexpr std::uint8_t kCellSecondBifurcation = 0x02;
inline constexpr std::uint8_t kCellFirstHighBit = 0x40;
inline constexpr std::uint8_t kCellSecondHighBit = 0x80;
inline constexpr std::uint8_t kCellTypeBits = kCellFirstBifurcation | kCellSecondBifurcation;

// Distance and direction of a displacement (dx, dy) = (x2 - x1, y2 - y1)
// with both parts in -65..65, from a constant table: isqrt(dx² + dy²) and the
// angle function of the two points.
struct NeighbourGeometry {
    std::int32_t distance;
    std::int32_t direction;
};
NeighbourGeometry neighbourGeometry(std::int32_t dx, std::int32_t dy);

// Fills cell for the pair (first, second): false, cell untouched, when they
// lie beyond reach. Two minutiae at one spot give a filled cell of distance 0.
bool fillNeighbourCell(std::uint8_t* cell, const MinutiaRecord& first,
                       const MinutiaRecord& second);

// Clears model.maxCount² cells at table, fills every pair i < j within reach
// and mirrors it into (j, i).
void buildNeighbourTable(const MatchingModel& model, std::uint8_t* table);

// Writes the finished table in one go: the same bytes as buildNeighbourTable
// followed by compactNeighbourTable(model.count, table, model.maxCount).
// Every byte of the model.maxCount² cells is written. Directions must be
// 0..511, as decoded from a template.
void buildSortedNeighbourTable(const MatchingModel& model, std::uint8_t* table);
// The same on a chosen vector path (AVX2 lists eight columns at a time;
// AVX-512 computes each row whole, sixteen columns at a time, and places
// its cells by rank).
void buildSortedNeighbourTable(const MatchingModel& model, std::uint8_t* table, VectorPath path);

// Successor cells: cell (i, k) of a cleared table with rows of rowLength
// cells (at least `successors`) describes minutia i and minutia
// (i + 1 + k) mod count, filled as fillNeighbourCell fills it, for k below
// successors. Also gives each cell's distance and its directions and type
// flags packed (packCell), at i * successors + k; cells beyond reach give 0
// for both. AVX2 computes eight minutiae at a time (up to eight successors).
void buildSuccessorCells(const MatchingModel& model, std::int32_t successors, std::uint8_t* table,
                         std::int32_t rowLength, std::uint8_t* distance, std::uint32_t* packed, VectorPath path);

// Rewrites rows 0..count-1 (rowLength cells each) as their neighbours,
// farthest first (equal distances keep their order), then zero cells.
void compactNeighbourTable(std::int32_t count, std::uint8_t* table, std::int32_t rowLength);

// Angles of a cell: byte 1 / byte 2 with their ninth bits.
inline std::int32_t cellFirstAngle(const std::uint8_t* cell) {
    return cell[1] + ((cell[3] & kCellFirstHighBit) != 0 ? 256 : 0);
}
inline std::int32_t cellSecondAngle(const std::uint8_t* cell) {
    return cell[2] + ((cell[3] & kCellSecondHighBit) != 0 ? 256 : 0);
}
// A cell as packCell of its two directions and its type flags.
inline std::uint32_t packedCellWithTypes(const std::uint8_t* cell) {
    return packCell(cellFirstAngle(cell), cellSecondAngle(cell), cell[3] & kCellTypeBits);
}

}  // namespace zp

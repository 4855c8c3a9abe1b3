// Similarity of two minutiae: how many neighbours of one reappear around the
// other at nearly the same distance with nearly the same relative directions.
#pragma once

#include <array>
#include <cstdint>

#include "match/agreement_window.h"
#include "math/vector_path.h"
#include "minutiae/template_format.h"

namespace zp {

inline constexpr std::int32_t kSimilarityDistanceTolerance = 2;  // model units
inline constexpr std::int32_t kSimilarityAngleTolerance = 10;    // degrees

// Walks two compacted neighbour-table rows (farthest first) and counts the
// cells of rowB matched by a cell of rowA within the tolerances. countA and
// countB are the two models' minutiae counts; only cells 0..count-2 are read.
std::int32_t similarity(const std::uint8_t* rowA, const std::uint8_t* rowB, std::int32_t countA,
                        std::int32_t countB, std::int32_t distanceTolerance,
                        std::int32_t angleTolerance);

// The walk above, on rows whose neighbours run from far to near, counts
// exactly the cells b of rowB (before its first empty cell and below
// countB - 1) for which some cell a of rowA (likewise) lies within the
// distance tolerance with both directions within the angle tolerance: the
// starting points and the moving window only pass over cells that could not
// agree. Rows are therefore read once into the records below, and rows that
// are not so ordered (tables read as the workspace holds them) keep the walk.

inline constexpr std::int32_t kRowCells = kMaxMinutiae - 1;  // neighbours per row at most
inline constexpr std::int32_t kPreparedReach = 65;            // largest distance of a second row
// farther[x + kFartherOffset]: cells with distance > x, for x = -3 .. 67.
inline constexpr std::int32_t kFartherOffset = kSimilarityDistanceTolerance + 1;
inline constexpr std::int32_t kFartherEntries = kPreparedReach + 2 * kFartherOffset;
// farther[e + kKeyNearerBound]: cells farther than e + 2, the first cell of
// distance e's window; a key carries this index beside the distance so one
// byte lookup reads both bounds of the window.
inline constexpr std::int32_t kKeyNearerBound = kSimilarityDistanceTolerance + kFartherOffset;

// Bit a: cell a of a first row.
using CellMask = std::uint64_t;
static_assert(kRowCells <= 64);
// First rows this short take 32-bit masks on the AVX-512 path.
inline constexpr std::int32_t kShortRowCells = 32;

// A row of the second model: each cell's distance and the buckets of its two
// directions, and the row itself for the exact test of the few cells that
// pass the bucket test.
struct SecondRow {
    // Per cell: distance | first bucket << 8 | (distance + kKeyNearerBound)
    // << 16 | second bucket << 24, read in one load; an empty key
    // (distance 0, never a candidate) after the last lets cells be taken in
    // pairs. Byte 2 carries into byte 3 only for distances from 251 on
    // (tables hold at most kNeighbourReach), which lie beyond every window,
    // so a bucket spoilt there changes no count.
    std::array<std::uint32_t, kRowCells + 1> key;
    const std::uint8_t* row;
    std::int32_t length;  // cells before the first empty one, below count - 1
    bool ordered;         // distances never rise and stay within kPreparedReach
    bool narrow;          // every direction below 360: buckets valid
};

// A row of the first model: its cells' directions packed, for each distance
// how many cells lie farther (which bounds the window of cells within the
// distance tolerance), and as bit masks: the cells of each window and the
// cells whose directions may agree with a direction of each bucket.
struct FirstRow {
    std::array<std::uint32_t, kRowCells + kWindowPadding> cells;
    WindowTable farther;  // entries 0 .. kFartherEntries - 1 used
    std::array<CellMask, kPreparedReach + 1> window;          // by distance 1..65; not on AVX-512
    std::array<CellMask, kDirectionBuckets> firstCandidates;   // by bucket of direction 1
    std::array<CellMask, kDirectionBuckets> secondCandidates;  // by bucket of direction 2
    // Rows of at most kShortRowCells on the AVX-512 path: the candidate
    // masks as 32-bit words instead (entries 30 and 31 empty).
    std::array<std::uint32_t, 32> firstShort;
    std::array<std::uint32_t, 32> secondShort;
    std::int32_t length;
    bool ordered;  // distances never rise
    bool narrow;   // every direction below 360: candidate masks valid
};

// Cells per direction bucket, with the last bucket copied before the first
// and the first after the last (entry k + 1 is bucket k), and one entry for
// directions without a bucket.
using BucketCells = std::array<CellMask, kDirectionBuckets + 3>;

// One pass over a row's cells (before the first empty one and below
// count - 1): for each its key (as SecondRow::key) and, where asked, its
// packed directions (packCell without flags); whether distances never rise
// and whether every direction lies below 360.
struct RowReading {
    std::int32_t length;
    bool ordered;
    bool narrow;
};
using RowReader = RowReading (*)(const std::uint8_t* row, std::int32_t count, std::uint32_t* keys,
                                 std::uint32_t* packed);

// The row reading and mask-making steps of a first row on one vector path: the distance
// windows from the farther counts, and each bucket's candidates (its cells
// and those of its two neighbours round the circle).
struct FirstRowKernels {
    RowReader read;
    // Null on the AVX-512 path, whose similarity kernel reads farther instead.
    void (*windows)(const WindowTable& farther, std::array<CellMask, kPreparedReach + 1>& window);
    void (*candidates)(BucketCells& cells, std::array<CellMask, kDirectionBuckets>& candidates);
    // Ordered rows of at most kShortRowCells cells, from their keys: the
    // farther counts and, when narrow, firstShort and secondShort, in place
    // of the steps above. Null except on the AVX-512 path.
    void (*shortRow)(const std::uint32_t* keys, FirstRow& out);
};
FirstRowKernels firstRowKernels(VectorPath path);

void prepareSecondRow(const std::uint8_t* row, std::int32_t count, SecondRow& out);
// prepareSecondRow on a chosen vector path (AVX2 reads eight cells at a time).
using SecondRowPreparer = void (*)(const std::uint8_t* row, std::int32_t count, SecondRow& out);
SecondRowPreparer secondRowPreparer(VectorPath path);
void prepareFirstRow(const std::uint8_t* row, std::int32_t count, FirstRow& out);
void prepareFirstRow(const std::uint8_t* row, std::int32_t count, FirstRow& out, const FirstRowKernels& kernels);

// The similarity of two ordered prepared rows (tolerances 2 and 10). The
// first row must not come from the AVX-512 kernels, which leave the
// tables read here unfilled for the kernel of that path.
std::int32_t preparedSimilarity(const FirstRow& a, const SecondRow& b);
// preparedSimilarity of one ordered first row with the ordered second rows
// rows[j] for each bit j of which, into out[j], on a chosen vector path:
// AVX-512 lists the cells of b with candidates without a branch per cell,
// the first row's tables loaded once. Null where the path takes
// preparedSimilarity one pair at a time.
using SimilarityKernel = void (*)(const FirstRow& a, const SecondRow* rows, std::uint64_t which, std::uint8_t* out);
SimilarityKernel similarityKernel(VectorPath path);

}  // namespace zp

// The fast comparison code against the straightforward reference of
// reference_match.h: rows, tables, whole match scores, loads and quick
// matches must agree exactly, workspace bytes included.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdint>
#include <random>
#include <vector>

#include "match/agreement_window.h"
#include "match/alignment_search.h"
#include "match/box_map.h"
#include "match/match_driver.h"
#include "match/neighbour_table.h"
#include "match/pairing_mask.h"
#include "match/pairing_score.h"
#include "match/quick_match.h"
#include "match/reference_match.h"
#include "match/similarity.h"
#include "match/synthetic_templates.h"
#include "match/template_loading.h"
#include "support/vector_paths.h"

namespace {

using Rng = std::mt19937;

std::int32_t uniform(Rng& rng, std::int32_t lo, std::int32_t hi) {
    return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng);
}

// A neighbour-table cell with angles 0..511 (ninth bits included) and
// random flags.
void randomCell(Rng& rng, std::uint8_t* cell, std::int32_t distance, bool wideAngles) {
    const std::int32_t a1 = wideAngles ? uniform(rng, 0, 511) : uniform(rng, 0, 359);
    const std::int32_t a2 = wideAngles ? uniform(rng, 0, 511) : uniform(rng, 0, 359);
    cell[0] = static_cast<std::uint8_t>(distance);
    cell[1] = static_cast<std::uint8_t>(a1 & 0xFF);
    cell[2] = static_cast<std::uint8_t>(a2 & 0xFF);
    cell[3] = static_cast<std::uint8_t>((a1 > 255 ? 0x40 : 0) | (a2 > 255 ? 0x80 : 0) | uniform(rng, 0, 3));
}

// A row of 50 cells: `filled` neighbours, sorted from far to near or not,
// then empty cells (or, sometimes, garbage after an empty cell).
std::vector<std::uint8_t> randomRow(Rng& rng, std::int32_t filled, bool sorted, std::int32_t maxDistance) {
    std::vector<std::uint8_t> row(50 * 4, 0);
    std::vector<std::int32_t> d(static_cast<std::size_t>(filled));
    for (auto& v : d) v = uniform(rng, 1, maxDistance);
    if (sorted) std::sort(d.begin(), d.end(), std::greater<>());
    const bool wide = uniform(rng, 0, 1) == 1;
    for (std::int32_t k = 0; k < filled; ++k) randomCell(rng, row.data() + k * 4, d[static_cast<std::size_t>(k)], wide);
    if (uniform(rng, 0, 4) == 0 && filled + 2 < 50) {
        randomCell(rng, row.data() + (filled + 1) * 4, uniform(rng, 1, maxDistance), wide);
    }
    return row;
}

// Row B as another view of row A: distances within +-3, angles within +-12
// (kept in their 9-bit range), some cells dropped.
std::vector<std::uint8_t> nearCopy(Rng& rng, const std::vector<std::uint8_t>& a, bool sorted) {
    std::vector<std::array<std::uint8_t, 4>> cells;
    for (std::size_t k = 0; k < 50 && a[k * 4] != 0; ++k) {
        if (uniform(rng, 0, 4) == 0) continue;
        const std::int32_t d = std::clamp(a[k * 4] + uniform(rng, -3, 3), 1, 255);
        const std::int32_t a1 = std::clamp(zpref::angle1(&a[k * 4]) + uniform(rng, -12, 12), 0, 511);
        const std::int32_t a2 = std::clamp(zpref::angle2(&a[k * 4]) + uniform(rng, -12, 12), 0, 511);
        cells.push_back({static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(a1 & 0xFF), static_cast<std::uint8_t>(a2 & 0xFF),
                         static_cast<std::uint8_t>((a1 > 255 ? 0x40 : 0) | (a2 > 255 ? 0x80 : 0))});
    }
    if (sorted) std::stable_sort(cells.begin(), cells.end(), [](const auto& x, const auto& y) { return x[0] > y[0]; });
    std::vector<std::uint8_t> row(50 * 4, 0);
    for (std::size_t k = 0; k < cells.size(); ++k) std::memcpy(&row[k * 4], cells[k].data(), 4);
    return row;
}

std::int32_t fastSimilarity(const std::uint8_t* rowA, const std::uint8_t* rowB, std::int32_t countA,
                            std::int32_t countB, bool& usedPrepared, bool& usedBuckets) {
    zp::FirstRow a;
    zp::SecondRow b;
    zp::prepareFirstRow(rowA, countA, a);
    zp::prepareSecondRow(rowB, countB, b);
    usedPrepared = a.ordered && b.ordered;
    usedBuckets = usedPrepared && a.narrow && b.narrow;
    return usedPrepared ? zp::preparedSimilarity(a, b) : zp::similarity(rowA, rowB, countA, countB, 2, 10);
}

TEST(FastIdentity, SimilarityOfRandomRows) {
    Rng rng(7);
    std::int32_t prepared = 0;
    std::int32_t bucketed = 0;
    std::int32_t positive = 0;
    for (std::int32_t trial = 0; trial < 40000; ++trial) {
        const std::int32_t countA = uniform(rng, 1, 50);
        const std::int32_t countB = uniform(rng, 1, 50);
        // Mostly sorted rows, as the library builds them; some not.
        const bool sortedA = uniform(rng, 0, 5) != 0;
        const bool sortedB = uniform(rng, 0, 5) != 0;
        // Narrow distance ranges make many ties and dense windows; a few
        // rows carry distances beyond reach (only foreign tables hold them).
        const std::int32_t reachA = uniform(rng, 0, 9) == 0 ? 255 : uniform(rng, 3, 65);
        const std::int32_t reachB = uniform(rng, 0, 9) == 0 ? 255 : uniform(rng, 3, 65);
        const auto a = randomRow(rng, uniform(rng, 0, 49), sortedA, reachA);
        auto b = randomRow(rng, uniform(rng, 0, 49), sortedB, reachB);
        if (uniform(rng, 0, 1) == 0) b = nearCopy(rng, a, sortedB);
        bool used = false;
        bool buckets = false;
        const std::int32_t expected = zpref::similarity(a.data(), b.data(), countA, countB);
        ASSERT_EQ(fastSimilarity(a.data(), b.data(), countA, countB, used, buckets), expected) << "trial " << trial;
        // Both rows prepared on each vector path.
        zp::SecondRow portable;
        zp::prepareSecondRow(b.data(), countB, portable);
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            zp::FirstRow first;
            zp::SecondRow second;
            zp::prepareFirstRow(a.data(), countA, first, zp::firstRowKernels(path));
            zp::secondRowPreparer(path)(b.data(), countB, second);
            ASSERT_EQ(second.length, portable.length) << zptest::vectorPathName(path) << " trial " << trial;
            ASSERT_EQ(second.ordered, portable.ordered) << zptest::vectorPathName(path) << " trial " << trial;
            ASSERT_EQ(second.narrow, portable.narrow) << zptest::vectorPathName(path) << " trial " << trial;
            for (std::int32_t k = 0; k < second.length; ++k) {
                ASSERT_EQ(second.key[static_cast<std::size_t>(k)], portable.key[static_cast<std::size_t>(k)]) << k;
            }
            if (!first.ordered || !second.ordered) continue;
            // (The AVX-512 path leaves the window masks to its own kernel.)
            if (path != zp::VectorPath::Avx512) {
                ASSERT_EQ(zp::preparedSimilarity(first, second), expected) << zptest::vectorPathName(path) << " trial " << trial;
            }
            if (const zp::SimilarityKernel kernel = zp::similarityKernel(path); kernel != nullptr) {
                std::array<std::uint8_t, 64> kernelOut{};
                kernel(first, &second, 1, kernelOut.data());
                ASSERT_EQ(kernelOut[0], expected) << zptest::vectorPathName(path) << " trial " << trial;
            }
        }
        bucketed += buckets ? 1 : 0;
        ASSERT_EQ(zp::similarity(a.data(), b.data(), countA, countB, 2, 10), expected) << "trial " << trial;
        prepared += used ? 1 : 0;
        positive += expected > 0 ? 1 : 0;
    }
    // All paths were exercised (bucket masks for directions below 360, the
    // window test beyond), and the counts were not all zero.
    EXPECT_GT(prepared, 20000);
    EXPECT_GT(bucketed, 5000);
    EXPECT_LT(bucketed, prepared - 5000);
    EXPECT_LT(prepared, 40000);
    EXPECT_GT(positive, 10000);
}

// Where the processor has AVX-512, its path takes its own similarity
// kernel (held to the others above and by whole comparisons); the AVX2 path
// keeps the portable walk.
TEST(FastIdentity, Avx512PathTakesItsOwnSimilarityKernel) {
    EXPECT_EQ(zp::similarityKernel(zp::VectorPath::Avx2), nullptr);
    if (!zp::vectorPathAvailable(zp::VectorPath::Avx512)) {
        GTEST_SKIP() << "this processor lacks AVX-512 (F, BW, VL, DQ, VBMI, VBMI2, CD, GFNI): its similarity kernel is not tested here";
    }
    EXPECT_NE(zp::similarityKernel(zp::VectorPath::Avx512), nullptr);
    EXPECT_EQ(zp::widestVectorPath(), zp::VectorPath::Avx512);
}

// The AVX-512 kernel over many second rows at once (one first row's tables
// loaded once) gives each row's similarity as the portable walk does, and
// writes only the asked rows.
TEST(FastIdentity, Avx512SimilaritiesOfManyRows) {
    if (!zp::vectorPathAvailable(zp::VectorPath::Avx512)) {
        GTEST_SKIP() << "this processor lacks AVX-512 (F, BW, VL, DQ, VBMI, VBMI2, CD, GFNI): its similarity kernel is not tested here";
    }
    const zp::SimilarityKernel kernel = zp::similarityKernel(zp::VectorPath::Avx512);
    Rng rng(23);
    for (std::int32_t trial = 0; trial < 2000; ++trial) {
        const std::int32_t count = uniform(rng, 1, 50);
        const auto a = randomRow(rng, uniform(rng, 0, 49), true, uniform(rng, 3, 65));
        zp::FirstRow first;
        zp::prepareFirstRow(a.data(), count, first, zp::firstRowKernels(zp::VectorPath::Portable));
        if (!first.ordered) continue;
        zp::FirstRow wide;
        zp::prepareFirstRow(a.data(), count, wide, zp::firstRowKernels(zp::VectorPath::Avx512));
        std::vector<std::vector<std::uint8_t>> rowBytes(zp::kMaxMinutiae);
        std::array<zp::SecondRow, zp::kMaxMinutiae> rows;
        std::uint64_t which = 0;
        for (std::int32_t j = 0; j < count; ++j) {
            const auto at = static_cast<std::size_t>(j);
            rowBytes[at] = uniform(rng, 0, 1) == 0 ? nearCopy(rng, a, true) : randomRow(rng, uniform(rng, 0, 49), true, 65);
            zp::prepareSecondRow(rowBytes[at].data(), count, rows[at]);
            if (rows[at].ordered && uniform(rng, 0, 3) != 0) which |= std::uint64_t{1} << j;
        }
        std::array<std::uint8_t, zp::kMaxMinutiae> got;
        got.fill(0xEE);
        kernel(wide, rows.data(), which, got.data());
        for (std::int32_t j = 0; j < count; ++j) {
            const auto at = static_cast<std::size_t>(j);
            const std::int32_t want = ((which >> j) & 1U) != 0 ? zp::preparedSimilarity(first, rows[at]) : 0xEE;
            ASSERT_EQ(got[at], want) << "trial " << trial << " row " << j;
        }
    }
}

// Short first rows on the AVX-512 path: the farther counts made with
// vector running sums and the 32-bit candidate masks made by a bit-matrix
// transpose equal the portable preparation's counts and masks.
TEST(FastIdentity, Avx512ShortRowTablesEqualPortable) {
    if (!zp::vectorPathAvailable(zp::VectorPath::Avx512)) {
        GTEST_SKIP() << "this processor lacks AVX-512 (F, BW, VL, DQ, VBMI, VBMI2, CD, GFNI): its short-row tables are not tested here";
    }
    Rng rng(29);
    std::int32_t narrowRows = 0;
    for (std::int32_t trial = 0; trial < 4000; ++trial) {
        const std::int32_t count = uniform(rng, 1, 50);
        // Up to 32 cells, a few rows reaching beyond the table's distances.
        const auto row = randomRow(rng, uniform(rng, 0, zp::kShortRowCells), true, uniform(rng, 0, 9) == 0 ? 255 : uniform(rng, 3, 65));
        zp::FirstRow portable;
        zp::FirstRow wide;
        zp::prepareFirstRow(row.data(), count, portable, zp::firstRowKernels(zp::VectorPath::Portable));
        zp::prepareFirstRow(row.data(), count, wide, zp::firstRowKernels(zp::VectorPath::Avx512));
        ASSERT_EQ(wide.length, portable.length) << "trial " << trial;
        ASSERT_EQ(wide.ordered, portable.ordered) << "trial " << trial;
        ASSERT_EQ(wide.narrow, portable.narrow) << "trial " << trial;
        if (!portable.ordered) continue;
        for (std::int32_t x = 0; x < zp::kFartherEntries; ++x) {
            ASSERT_EQ(wide.farther[static_cast<std::size_t>(x)], portable.farther[static_cast<std::size_t>(x)]) << "trial " << trial << " x " << x;
        }
        if (!portable.narrow) continue;
        ++narrowRows;
        for (std::size_t t = 0; t < 32; ++t) {
            const std::uint64_t first = t < zp::kDirectionBuckets ? portable.firstCandidates[t] : 0;
            const std::uint64_t second = t < zp::kDirectionBuckets ? portable.secondCandidates[t] : 0;
            ASSERT_EQ(wide.firstShort[t], first) << "trial " << trial << " bucket " << t;
            ASSERT_EQ(wide.secondShort[t], second) << "trial " << trial << " bucket " << t;
        }
    }
    EXPECT_GT(narrowRows, 1000);
}

TEST(FastIdentity, AgreementKernelsMatchCircularDifference) {
    // Every pair of 9-bit directions, as both lanes, scalar and vector.
    for (std::int32_t a = 0; a < 512; a += 1) {
        for (std::int32_t b = 0; b < 512; ++b) {
            const bool expected = zp::circularDifference(a, b) <= 10;
            const std::uint32_t cell = zp::packCell(a, b, 0);
            const std::uint32_t probeSame = zp::packCell(b, a, 0);
            ASSERT_EQ(zp::lanesAgree(zp::packCell(a, 0, 0), zp::packCell(b, 0, 0)), expected) << a << " " << b;
            ASSERT_EQ(zp::lanesAgree(zp::packCell(0, a, 0), zp::packCell(0, b, 0)), expected) << a << " " << b;
            std::array<std::uint32_t, 4 + zp::kWindowPadding> cells{};
            cells[2] = cell;
            const bool both = expected && zp::circularDifference(b, a) <= 10;
            ASSERT_EQ(zp::anyAgreeingCell<false>(cells.data(), 2, 3, probeSame), both);
            ASSERT_EQ(zp::anyAgreeingCellScalar(cells.data(), 2, 3, probeSame), both);
        }
    }
    // Flags must be equal for agreement.
    for (std::int32_t f = 0; f < 4; ++f) {
        for (std::int32_t g = 0; g < 4; ++g) {
            for (std::int32_t a : {0, 5, 255, 359, 400, 511}) {
                for (std::int32_t b : {0, 3, 250, 355, 511}) {
                    const bool expected = f == g && zp::circularDifference(a, b) <= 10;
                    std::array<std::uint32_t, 1 + zp::kWindowPadding> cells{zp::packCell(a, 7, f)};
                    ASSERT_EQ(zp::anyAgreeingCell<true>(cells.data(), 0, 1, zp::packCell(b, 7, g)), expected);
                    ASSERT_EQ(zp::anyAgreeingCellScalar(cells.data(), 0, 1, zp::packCell(b, 7, g)), expected);
                }
            }
        }
    }
}

// The bucket masks of a first row may only leave out cells that cannot
// agree: every pair of directions below 360 within 10 degrees, in either
// lane, and the distance windows exactly.
TEST(FastIdentity, BucketPrefilterKeepsEveryAgreeingCell) {
    std::int32_t kept = 0;
    for (std::int32_t x = 0; x < 360; ++x) {
        std::array<std::uint8_t, 8> row{};
        const std::int32_t other = (x * 7 + 100) % 360;
        row[0] = 10;
        row[1] = static_cast<std::uint8_t>(x & 0xFF);
        row[2] = static_cast<std::uint8_t>(other & 0xFF);
        row[3] = static_cast<std::uint8_t>((x > 255 ? 0x40 : 0) | (other > 255 ? 0x80 : 0));
        zp::FirstRow a;
        zp::prepareFirstRow(row.data(), 2, a);
        ASSERT_TRUE(a.narrow && a.ordered);
        ASSERT_EQ(a.length, 1);
        for (std::int32_t y = 0; y < 360; ++y) {
            const std::size_t bucket = zp::kDirectionBucket[static_cast<std::size_t>(y)];
            ASSERT_LT(bucket, static_cast<std::size_t>(zp::kDirectionBuckets));
            const bool firstKept = (a.firstCandidates[bucket] & 1U) != 0;
            const bool secondKept = (a.secondCandidates[bucket] & 1U) != 0;
            if (zp::circularDifference(x, y) <= 10) {
                ASSERT_TRUE(firstKept) << x << " " << y;
            }
            if (zp::circularDifference(other, y) <= 10) {
                ASSERT_TRUE(secondKept) << other << " " << y;
            }
            kept += firstKept ? 1 : 0;
        }
        for (std::int32_t e = 1; e <= 65; ++e) {
            ASSERT_EQ((a.window[static_cast<std::size_t>(e)] & 1U) != 0, e >= 8 && e <= 12) << e;
        }
    }
    // Three buckets per direction, no more.
    EXPECT_EQ(kept, 360 * 3 * zp::kDirectionBucketWidth);
    // Directions of 360 and more have no bucket: such rows take the window
    // test.
    EXPECT_EQ(zp::kDirectionBucket[360], zp::kDirectionBuckets);
    std::array<std::uint8_t, 8> wide{10, 104, 0, 0x40, 0, 0, 0, 0};
    zp::FirstRow a;
    zp::prepareFirstRow(wide.data(), 2, a);
    EXPECT_FALSE(a.narrow);
    zp::SecondRow b;
    zp::prepareSecondRow(wide.data(), 2, b);
    EXPECT_FALSE(b.narrow);
}

TEST(FastIdentity, AgreementWindowsOfEveryLength) {
    Rng rng(11);
    for (std::int32_t trial = 0; trial < 20000; ++trial) {
        std::array<std::uint32_t, 49 + zp::kWindowPadding> cells{};
        const bool flags = trial % 2 == 0;
        const auto flag = [&] { return flags ? uniform(rng, 0, 3) : 0; };
        for (auto& c : cells) c = zp::packCell(uniform(rng, 0, 511), uniform(rng, 0, 511), flag());
        const std::int32_t from = uniform(rng, 0, 49);
        const std::int32_t to = uniform(rng, from, 49);
        const std::uint32_t probe = zp::packCell(uniform(rng, 0, 511), uniform(rng, 0, 511), flag());
        bool expected = false;
        for (std::int32_t k = from; k < to; ++k) {
            const std::uint32_t c = cells[static_cast<std::size_t>(k)];
            const std::int32_t a1 = static_cast<std::int32_t>(c & 0x1FF);
            const std::int32_t a2 = static_cast<std::int32_t>(c >> 16);
            const std::int32_t f1 = static_cast<std::int32_t>((c >> 10) & 3);
            const std::int32_t p1 = static_cast<std::int32_t>(probe & 0x1FF);
            const std::int32_t p2 = static_cast<std::int32_t>(probe >> 16);
            const std::int32_t g1 = static_cast<std::int32_t>((probe >> 10) & 3);
            if (f1 == g1 && zp::circularDifference(a1, p1) <= 10 && zp::circularDifference(a2, p2) <= 10) expected = true;
        }
        ASSERT_EQ(zp::anyAgreeingCell<true>(cells.data(), from, to, probe), expected);
        if (!flags) {
            ASSERT_EQ(zp::anyAgreeingCell<false>(cells.data(), from, to, probe), expected);
        }
        ASSERT_EQ(zp::anyAgreeingCellScalar(cells.data(), from, to, probe), expected);
    }
}

TEST(FastIdentity, CompactionEqualsBubbleSort) {
    Rng rng(3);
    for (std::int32_t trial = 0; trial < 3000; ++trial) {
        const std::int32_t rowLength = uniform(rng, 1, 50);
        const std::int32_t count = uniform(rng, 0, rowLength);
        // Few distinct distances make long runs of ties.
        const std::int32_t maxDistance = uniform(rng, 0, 3) == 0 ? uniform(rng, 1, 4) : 65;
        std::vector<std::uint8_t> table(static_cast<std::size_t>(rowLength * rowLength * 4));
        for (std::size_t k = 0; k < table.size(); k += 4) {
            const std::int32_t d = uniform(rng, 0, 2) == 0 ? 0 : uniform(rng, 1, maxDistance);
            randomCell(rng, table.data() + k, d, true);
        }
        auto expected = table;
        zpref::compactTable(count, expected.data(), rowLength);
        zp::compactNeighbourTable(count, table.data(), rowLength);
        ASSERT_EQ(table, expected) << "trial " << trial;
    }
}

// Building the sorted rows directly writes exactly what filling and then
// compacting writes, over a buffer of garbage, and nothing outside the
// table: plausible models, clustered ones (many ties and same-spot pairs),
// and 9-bit positions, directions and types.
TEST(FastIdentity, SortedTableEqualsFillAndCompact) {
    Rng rng(17);
    for (std::int32_t trial = 0; trial < 4000; ++trial) {
        zp::MatchingModel model{};
        const std::int32_t width = uniform(rng, 0, 3) == 0 ? uniform(rng, 1, 40) : 116;
        const std::int32_t height = uniform(rng, 0, 3) == 0 ? uniform(rng, 1, 40) : 140;
        model.maxCount = zp::maxMinutiaeCount(width, height);
        model.count = uniform(rng, 0, model.maxCount);
        const std::int32_t kind = uniform(rng, 0, 2);
        for (std::int32_t i = 0; i < model.count; ++i) {
            zp::MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(i)];
            if (kind == 0) {
                m.x = uniform(rng, 4, 111);
                m.y = uniform(rng, 4, 135);
                m.direction = uniform(rng, 0, 359);
                m.type = static_cast<std::uint8_t>(uniform(rng, 1, 2));
            } else if (kind == 1) {
                m.x = uniform(rng, 50, 54);
                m.y = uniform(rng, 50, 56);
                m.direction = uniform(rng, 0, 511);
                m.type = static_cast<std::uint8_t>(uniform(rng, 0, 3));
            } else {
                m.x = uniform(rng, 0, 511);
                m.y = uniform(rng, 0, 511);
                m.direction = uniform(rng, 0, 511);
                m.type = static_cast<std::uint8_t>(uniform(rng, 0, 31));
            }
        }
        const std::size_t tableBytes = static_cast<std::size_t>(model.maxCount * model.maxCount * 4);
        std::vector<std::uint8_t> got(tableBytes + 64);
        for (auto& b : got) b = static_cast<std::uint8_t>(uniform(rng, 0, 255));
        auto expected = got;
        zp::buildNeighbourTable(model, expected.data() + 32);
        zp::compactNeighbourTable(model.count, expected.data() + 32, model.maxCount);
        const auto garbage = got;
        zp::buildSortedNeighbourTable(model, got.data() + 32);
        ASSERT_EQ(got, expected) << "trial " << trial;
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            got = garbage;
            zp::buildSortedNeighbourTable(model, got.data() + 32, path);
            ASSERT_EQ(got, expected) << zptest::vectorPathName(path) << " trial " << trial;
        }
    }
}

// Successor cells (the quick match's probe side) on every vector path: the
// same table bytes as filling each cell in turn, and the same cells read
// back, for clustered, plausible and 9-bit models of 1 to 50 minutiae.
TEST(FastIdentity, SuccessorCellsOnEveryPath) {
    Rng rng(29);
    for (std::int32_t trial = 0; trial < 3000; ++trial) {
        zp::MatchingModel model{};
        model.maxCount = 50;
        model.count = uniform(rng, 0, 3) == 0 ? uniform(rng, 1, 4) : uniform(rng, 1, 50);
        const std::int32_t kind = uniform(rng, 0, 2);
        for (std::int32_t i = 0; i < model.count; ++i) {
            zp::MinutiaRecord& m = model.minutiae[static_cast<std::size_t>(i)];
            const std::int32_t spread = kind == 0 ? 6 : (kind == 1 ? 110 : 511);
            m.x = uniform(rng, 0, spread);
            m.y = uniform(rng, 0, spread);
            m.direction = uniform(rng, 0, kind == 2 ? 511 : 359);
            m.type = static_cast<std::uint8_t>(uniform(rng, 0, 3));
        }
        std::vector<std::uint8_t> expected(50 * 50 * 4, 0);
        std::array<std::uint8_t, 150> expectedDistance{};
        std::array<std::uint32_t, 150> expectedPacked{};
        for (std::int32_t i = 0; i < model.count; ++i) {
            for (std::int32_t k = 0; k < 3; ++k) {
                std::uint8_t* cell = expected.data() + (i * 50 + k) * 4;
                zp::fillNeighbourCell(cell, model.minutiae[static_cast<std::size_t>(i)],
                                      model.minutiae[static_cast<std::size_t>((i + 1 + k) % model.count)]);
                expectedDistance[static_cast<std::size_t>(i * 3 + k)] = cell[0];
                expectedPacked[static_cast<std::size_t>(i * 3 + k)] =
                    zp::packCell(zpref::angle1(cell), zpref::angle2(cell), cell[3] & 3);
            }
        }
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            std::vector<std::uint8_t> table(50 * 50 * 4, 0);
            std::array<std::uint8_t, 150> distance{};
            std::array<std::uint32_t, 150> packed{};
            zp::buildSuccessorCells(model, 3, table.data(), 50, distance.data(), packed.data(), path);
            ASSERT_EQ(table, expected) << zptest::vectorPathName(path) << " trial " << trial;
            ASSERT_EQ(distance, expectedDistance) << zptest::vectorPathName(path) << " trial " << trial;
            ASSERT_EQ(packed, expectedPacked) << zptest::vectorPathName(path) << " trial " << trial;
        }
    }
}

// The anchor score's second pass finds the aligned minutiae near each
// minutia of A by a box mask: the same pairs in the same order as the scan
// over every j. Dense clusters make many near pairs and end the pass early;
// scattered and far-off positions (as moves of foreign templates give) too.
TEST(FastIdentity, AnchorScoreEqualsPairByPairScan) {
    Rng rng(23);
    std::int32_t positive = 0;
    for (std::int32_t trial = 0; trial < 20000; ++trial) {
        zp::MatchingModel a{};
        zp::MatchingModel l{};
        a.count = uniform(rng, 0, 50);
        l.count = uniform(rng, 0, 50);
        const std::int32_t spread = std::array<std::int32_t, 4>{6, 20, 120, 5000}[static_cast<std::size_t>(uniform(rng, 0, 3))];
        // Aligned x beyond the 16-bit range too, where dx² + dy² still fits
        // 32 bits.
        const std::int32_t alignedSpreadX = spread == 5000 && uniform(rng, 0, 1) == 0 ? 38000 : spread;
        for (zp::MatchingModel* m : {&a, &l}) {
            const std::int32_t reachX = m == &l ? alignedSpreadX : spread;
            for (std::int32_t k = 0; k < m->count; ++k) {
                zp::MinutiaRecord& r = m->minutiae[static_cast<std::size_t>(k)];
                r.x = 60 + uniform(rng, -reachX, reachX);
                r.y = 70 + uniform(rng, -spread, spread);
                r.direction = uniform(rng, 0, 3) == 0 ? uniform(rng, 0, 511) : uniform(rng, 80, 110);
                r.type = static_cast<std::uint8_t>(uniform(rng, 1, 2));
            }
        }
        zp::CandidatePairList pairs{};
        if (a.count > 0 && l.count > 0) {
            pairs.count = static_cast<std::uint8_t>(uniform(rng, 0, std::min(a.count, l.count)));
            for (std::int32_t k = 0; k < pairs.count; ++k) {
                pairs.entries[static_cast<std::size_t>(k)] = {static_cast<std::uint8_t>(uniform(rng, 0, a.count - 1)),
                                                              static_cast<std::uint8_t>(uniform(rng, 0, l.count - 1)),
                                                              static_cast<std::uint8_t>(uniform(rng, 2, 255))};
            }
        }
        const std::int32_t n = uniform(rng, 1, 50);
        const std::int32_t expected = zpref::anchorScore(a, l, pairs, n);
        ASSERT_EQ(zp::anchorScore(a, l, pairs, n), expected) << "trial " << trial;
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            ASSERT_EQ(zp::anchorScore(a, l, pairs, n, path), expected) << zptest::vectorPathName(path) << " trial " << trial;
        }
        positive += expected > 0 ? 1 : 0;
    }
    EXPECT_GT(positive, 1000);
}

// Pairing masks of a whole model at once, on every path, against the mask
// of each minutia: directions across the 9-bit range, types past the
// decoded range, both tolerances the matchers use.
TEST(FastIdentity, PairingMasksOnEveryPath) {
    Rng rng(37);
    std::int32_t hits = 0;
    for (std::int32_t trial = 0; trial < 3000; ++trial) {
        zp::MatchingModel models[2]{};
        for (zp::MatchingModel& m : models) {
            m.count = uniform(rng, 0, zp::kMaxMinutiae);
            for (std::int32_t k = 0; k < m.count; ++k) {
                zp::MinutiaRecord& r = m.minutiae[static_cast<std::size_t>(k)];
                r.direction = uniform(rng, 0, 511);
                r.type = static_cast<std::uint8_t>(uniform(rng, 0, 9) == 0 ? uniform(rng, 0, 40) : uniform(rng, 1, 2));
            }
        }
        zp::PackedMinutiae packed;
        zp::packMinutiae(models[1], packed);
        const std::int32_t tolerance = uniform(rng, 0, 1) == 0 ? 90 : uniform(rng, 0, 179);
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            std::array<std::uint64_t, zp::kMaxMinutiae> masks;
            zp::pairingMasks(models[0], packed, tolerance, masks, path);
            for (std::int32_t i = 0; i < models[0].count; ++i) {
                const std::uint64_t expected = zp::pairingMask(models[0].minutiae[static_cast<std::size_t>(i)], packed, tolerance);
                ASSERT_EQ(masks[static_cast<std::size_t>(i)], expected) << zptest::vectorPathName(path) << " trial " << trial << " minutia " << i;
                hits += expected != 0 ? 1 : 0;
            }
        }
    }
    EXPECT_GT(hits, 10000);
}

// Moves on every vector path against the portable one: random models (a
// few with positions far outside the map), rotations of either sign, boxes
// from random models, both bits, the moved records compared whole.
TEST(FastIdentity, MoveModelOnEveryPath) {
    Rng rng(31);
    std::int32_t landed = 0;
    for (std::int32_t trial = 0; trial < 4000; ++trial) {
        zp::MatchingModel models[2]{};
        for (zp::MatchingModel& m : models) {
            m.width = 256;
            m.height = 384;
            m.count = uniform(rng, 0, zp::kMaxMinutiae);
            const bool far = uniform(rng, 0, 9) == 0;
            for (std::int32_t k = 0; k < m.count; ++k) {
                zp::MinutiaRecord& r = m.minutiae[static_cast<std::size_t>(k)];
                r.x = far ? uniform(rng, -600, 1200) : uniform(rng, 0, 255);
                r.y = far ? uniform(rng, -600, 1200) : uniform(rng, 0, 383);
                r.direction = uniform(rng, 0, 511);
                r.type = static_cast<std::uint8_t>(uniform(rng, 0, 255));
            }
        }
        zp::BoxMap map;
        zp::buildBoxMap(models[0], models[1], map);
        const zp::ModelMove move{uniform(rng, 0, 255), uniform(rng, 0, 383), uniform(rng, -359, 359),
                                 uniform(rng, -255, 255), uniform(rng, -383, 383)};
        const std::uint8_t bit = uniform(rng, 0, 1) == 0 ? zp::kBoxBitA : zp::kBoxBitB;
        zp::MatchingModel expected{};
        const std::int32_t count = zp::moveModel(models[1], move, map, bit, &expected);
        landed += count;
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            zp::MatchingModel got{};
            ASSERT_EQ(zp::moveModel(models[1], move, map, bit, &got, path), count) << zptest::vectorPathName(path) << " trial " << trial;
            ASSERT_EQ(zp::moveModel(models[1], move, map, bit, nullptr, path), count) << zptest::vectorPathName(path) << " trial " << trial;
            ASSERT_EQ(got.count, expected.count);
            for (std::int32_t k = 0; k < expected.count; ++k) {
                const zp::MinutiaRecord& e = expected.minutiae[static_cast<std::size_t>(k)];
                const zp::MinutiaRecord& g = got.minutiae[static_cast<std::size_t>(k)];
                ASSERT_EQ(std::memcmp(&g, &e, sizeof e), 0) << zptest::vectorPathName(path) << " trial " << trial << " minutia " << k;
            }
        }
    }
    EXPECT_GT(landed, 2000);
}

// The box map, marked a row of words at a time, against cell-by-cell
// marking: plausible boxes, empty models and boxes reaching past the map.
TEST(FastIdentity, BoxMapEqualsCellByCellMarking) {
    Rng rng(29);
    for (std::int32_t trial = 0; trial < 5000; ++trial) {
        zp::MatchingModel models[2]{};
        for (zp::MatchingModel& m : models) {
            m.count = uniform(rng, 0, 3) == 0 ? uniform(rng, 0, 2) : uniform(rng, 0, 50);
            const bool wide = uniform(rng, 0, 2) == 0;
            for (std::int32_t k = 0; k < m.count; ++k) {
                m.minutiae[static_cast<std::size_t>(k)].x = wide ? uniform(rng, 0, 511) : uniform(rng, 4, 111);
                m.minutiae[static_cast<std::size_t>(k)].y = wide ? uniform(rng, 0, 511) : uniform(rng, 4, 135);
            }
        }
        zp::BoxMap expected{};
        for (std::int32_t side = 0; side < 2; ++side) {
            const zp::ModelBox box = zp::modelBox(models[side]);
            const std::int32_t right = std::min(box.right >> 2, 31);
            const std::int32_t bottom = std::min(box.bottom >> 2, 47);
            for (std::int32_t r = box.top >> 2; r <= bottom; ++r) {
                for (std::int32_t c = box.left >> 2; c <= right; ++c) {
                    expected[static_cast<std::size_t>(r * 32 + c)] =
                        static_cast<std::uint8_t>(expected[static_cast<std::size_t>(r * 32 + c)] + (side == 0 ? 1 : 2));
                }
            }
        }
        zp::BoxMap got;
        got.fill(0xA5);
        zp::buildBoxMap(models[0], models[1], got);
        ASSERT_EQ(got, expected) << "trial " << trial;
    }
}

// --- whole comparisons -------------------------------------------------

using zptest::Template;

// A template that decodes but is otherwise anything: 9-bit fields, types
// 0..31, stored sizes small or odd, class code 0 or 1.
Template hostileTemplate(Rng& rng, std::int32_t width, std::int32_t height, std::int32_t classCode) {
    Template t{};
    zp::TemplateHeader h = zptest::extractedHeader();
    h.width = width;
    h.height = height;
    h.classCode = classCode;
    h.quality = 0;
    const std::int32_t maxCount = zp::maxMinutiaeCount(width, height);
    h.count = uniform(rng, 0, maxCount);
    zp::writeTemplateHeader(t.data(), h);
    const bool clustered = uniform(rng, 0, 1) == 1;
    for (std::int32_t i = 0; i < h.count; ++i) {
        std::uint32_t word = 0;
        const std::uint32_t x = clustered ? static_cast<std::uint32_t>(uniform(rng, 40, 80)) : static_cast<std::uint32_t>(uniform(rng, 0, 511));
        const std::uint32_t y = clustered ? static_cast<std::uint32_t>(uniform(rng, 40, 80)) : static_cast<std::uint32_t>(uniform(rng, 0, 511));
        word = x | (y << 9) | (static_cast<std::uint32_t>(uniform(rng, 0, 511)) << 18) |
               (static_cast<std::uint32_t>(uniform(rng, 0, 3) == 0 ? uniform(rng, 0, 31) : uniform(rng, 1, 2)) << 27);
        const std::int32_t at = zp::kEntriesOffset + i * 4;
        for (std::int32_t b = 0; b < 4; ++b) t[static_cast<std::size_t>(at + b)] = static_cast<std::uint8_t>(word >> (8 * b));
    }
    return t;
}

struct Pair {
    Template first;
    Template second;
};

std::vector<Pair> comparisonPairs(std::uint32_t seed, std::int32_t plausible, std::int32_t hostile) {
    Rng rng(seed);
    std::vector<Pair> out;
    for (std::int32_t k = 0; k < plausible; ++k) {
        const auto base = zptest::plausibleMinutiae(seed * 1000 + static_cast<std::uint32_t>(k), uniform(rng, 0, 50));
        const Template a = zptest::makeTemplate(base);
        if (k % 2 == 0) {
            const zptest::Transform t{uniform(rng, -30, 30), uniform(rng, -10, 10), uniform(rng, -10, 10),
                                      uniform(rng, 0, 3), uniform(rng, 0, 12), 0.25, uniform(rng, 0, 8)};
            out.push_back({a, zptest::makeTemplate(zptest::transformedCopy(base, t, static_cast<std::uint32_t>(k)))});
        } else {
            out.push_back({a, zptest::makeTemplate(zptest::plausibleMinutiae(seed * 7777 + static_cast<std::uint32_t>(k), uniform(rng, 0, 50)))});
        }
        if (k % 5 == 0) out.push_back({a, a});
    }
    for (std::int32_t k = 0; k < hostile; ++k) {
        // Small stored sizes make the two tables (and the stored model)
        // overlap; class code 1 reads whatever the workspace holds.
        const std::int32_t kind = uniform(rng, 0, 3);
        std::int32_t w = 116;
        std::int32_t h = 140;
        if (kind == 1) {
            w = uniform(rng, 1, 40);
            h = uniform(rng, 1, 40);
        } else if (kind == 2) {
            w = uniform(rng, 1, 128);
            h = uniform(rng, 1, 192);
        }
        const std::int32_t classCode = uniform(rng, 0, 2) == 0 ? 1 : 0;
        const std::int32_t wb = uniform(rng, 0, 1) == 0 ? w : uniform(rng, 1, 128);
        const std::int32_t hb = uniform(rng, 0, 1) == 0 ? h : uniform(rng, 1, 192);
        out.push_back({hostileTemplate(rng, w, h, classCode), hostileTemplate(rng, wb, hb, classCode)});
    }
    return out;
}

// Workspaces start from random bytes and carry over from comparison to
// comparison, so class code 1 reads tables left by earlier matches.
// Every vector path keeps a workspace of its own beside the default one.
TEST(FastIdentity, MatchScoresAndWorkspaces) {
    Rng rng(5);
    std::vector<std::uint8_t> wsFast(zp::kWorkspaceSize);
    for (auto& b : wsFast) b = static_cast<std::uint8_t>(uniform(rng, 0, 255));
    auto wsRef = wsFast;
    const std::vector<zp::VectorPath> paths = zptest::availableVectorPaths();
    std::vector<std::vector<std::uint8_t>> wsPath(paths.size(), wsFast);
    const zp::BufferDescriptor fast{wsFast.data(), zp::kWorkspaceSize};
    const zp::BufferDescriptor ref{wsRef.data(), zp::kWorkspaceSize};
    std::int32_t matched = 0;
    const auto pairs = comparisonPairs(1, 600, 2400);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const Pair& p = pairs[k];
        zp::BufferDescriptor a{const_cast<std::uint8_t*>(p.first.data()), 256};
        zp::BufferDescriptor b{const_cast<std::uint8_t*>(p.second.data()), 256};
        const std::int32_t expected = zpref::match(p.first.data(), p.second.data(), ref);
        ASSERT_EQ(zp::matchTemplates(a, b, fast), expected) << "pair " << k;
        ASSERT_TRUE(wsFast == wsRef) << "workspace after pair " << k;
        for (std::size_t q = 0; q < paths.size(); ++q) {
            const zp::BufferDescriptor ws{wsPath[q].data(), zp::kWorkspaceSize};
            ASSERT_EQ(zp::matchTemplates(a, b, ws, paths[q]), expected) << zptest::vectorPathName(paths[q]) << " pair " << k;
            ASSERT_TRUE(wsPath[q] == wsRef) << zptest::vectorPathName(paths[q]) << " workspace after pair " << k;
        }
        matched += expected > 0 ? 1 : 0;
    }
    EXPECT_GT(matched, 300);
}

TEST(FastIdentity, LoadAndQuickMatchScoresAndWorkspaces) {
    Rng rng(9);
    std::vector<std::uint8_t> wsFast(zp::kWorkspaceSize);
    for (auto& b : wsFast) b = static_cast<std::uint8_t>(uniform(rng, 0, 255));
    auto wsRef = wsFast;
    const zp::BufferDescriptor fast{wsFast.data(), zp::kWorkspaceSize};
    const zp::BufferDescriptor ref{wsRef.data(), zp::kWorkspaceSize};
    const auto pairs = comparisonPairs(2, 300, 600);
    std::int32_t positive = 0;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        const Pair& p = pairs[k];
        zp::BufferDescriptor a{const_cast<std::uint8_t*>(p.first.data()), 256};
        ASSERT_EQ(zp::loadTemplate(a, fast), zpref::load(p.first.data(), ref)) << "pair " << k;
        ASSERT_TRUE(wsFast == wsRef) << "workspace after load " << k;
        // The probe, then other probes, then a probe after the loaded table
        // was disturbed: a match on the same workspace, or scribbled bytes.
        for (std::int32_t step = 0; step < 4; ++step) {
            const Template& probe = step == 0 ? p.second : pairs[(k + 1 + static_cast<std::size_t>(step) * 7) % pairs.size()].second;
            if (step == 2) {
                zp::BufferDescriptor b{const_cast<std::uint8_t*>(probe.data()), 256};
                ASSERT_EQ(zp::matchTemplates(a, b, fast), zpref::match(p.first.data(), probe.data(), ref));
            }
            if (step == 3) {
                for (std::int32_t n = 0; n < 40; ++n) {
                    const auto at = static_cast<std::size_t>(uniform(rng, 0, zp::kWorkspaceSize - 1));
                    wsFast[at] = wsRef[at] = static_cast<std::uint8_t>(uniform(rng, 0, 255));
                }
            }
            zp::BufferDescriptor q{const_cast<std::uint8_t*>(probe.data()), 256};
            const std::int32_t expected = zpref::quickMatch(probe.data(), ref);
            ASSERT_EQ(zp::quickMatch(q, fast), expected) << "pair " << k << " step " << step;
            ASSERT_TRUE(wsFast == wsRef) << "workspace after quick match " << k << " step " << step;
            for (const zp::VectorPath path : zptest::availableVectorPaths()) {
                ASSERT_EQ(zp::quickMatch(q, fast, path), expected)
                    << zptest::vectorPathName(path) << " pair " << k << " step " << step;
                ASSERT_TRUE(wsFast == wsRef) << zptest::vectorPathName(path) << " workspace " << k << " step " << step;
            }
            positive += expected > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(positive, 200);
}

// Loaded tables whose rows are not ordered (a host wrote over them) keep the
// binary search of the quick match.
TEST(FastIdentity, QuickMatchOnShuffledLoadedTables) {
    Rng rng(13);
    std::vector<std::uint8_t> wsFast(zp::kWorkspaceSize, 0);
    auto wsRef = wsFast;
    const zp::BufferDescriptor fast{wsFast.data(), zp::kWorkspaceSize};
    const zp::BufferDescriptor ref{wsRef.data(), zp::kWorkspaceSize};
    for (std::int32_t trial = 0; trial < 300; ++trial) {
        const auto base = zptest::plausibleMinutiae(40000 + static_cast<std::uint32_t>(trial), uniform(rng, 2, 50));
        const Template enrolled = zptest::makeTemplate(base);
        const zptest::Transform t{uniform(rng, -20, 20), uniform(rng, -5, 5), uniform(rng, -5, 5), 2, 8, 0.2, 3};
        const Template probe = zptest::makeTemplate(zptest::transformedCopy(base, t, static_cast<std::uint32_t>(trial)));
        zp::BufferDescriptor a{const_cast<std::uint8_t*>(enrolled.data()), 256};
        zp::loadTemplate(a, fast);
        zpref::load(enrolled.data(), ref);
        // Swap a few cells within rows of the loaded table.
        const std::int32_t table = 2 * 116 * 140;
        for (std::int32_t n = 0; n < 30; ++n) {
            const std::int32_t row = uniform(rng, 0, 49);
            const std::int32_t c1 = uniform(rng, 0, 49);
            const std::int32_t c2 = uniform(rng, 0, 49);
            for (std::int32_t b = 0; b < 4; ++b) {
                const auto x = static_cast<std::size_t>(table + (row * 50 + c1) * 4 + b);
                const auto y = static_cast<std::size_t>(table + (row * 50 + c2) * 4 + b);
                std::swap(wsFast[x], wsFast[y]);
                std::swap(wsRef[x], wsRef[y]);
            }
        }
        zp::BufferDescriptor q{const_cast<std::uint8_t*>(probe.data()), 256};
        const std::int32_t expected = zpref::quickMatch(probe.data(), ref);
        ASSERT_EQ(zp::quickMatch(q, fast), expected) << "trial " << trial;
        ASSERT_TRUE(wsFast == wsRef);
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            ASSERT_EQ(zp::quickMatch(q, fast, path), expected) << zptest::vectorPathName(path) << " trial " << trial;
        }
    }
}

// Loaded tables whose cells carry stray bits in their flag bytes (bits 2 to
// 5, which no direction or type uses): every vector path ignores them as
// the reference does.
TEST(FastIdentity, QuickMatchIgnoresStrayFlagBitsOnEveryPath) {
    Rng rng(17);
    std::vector<std::uint8_t> wsFast(zp::kWorkspaceSize, 0);
    auto wsRef = wsFast;
    const zp::BufferDescriptor fast{wsFast.data(), zp::kWorkspaceSize};
    const zp::BufferDescriptor ref{wsRef.data(), zp::kWorkspaceSize};
    for (std::int32_t trial = 0; trial < 100; ++trial) {
        const auto base = zptest::plausibleMinutiae(50000 + static_cast<std::uint32_t>(trial), uniform(rng, 2, 50));
        const Template enrolled = zptest::makeTemplate(base);
        const zptest::Transform t{uniform(rng, -20, 20), uniform(rng, -5, 5), uniform(rng, -5, 5), 2, 8, 0.2, 3};
        const Template probe = zptest::makeTemplate(zptest::transformedCopy(base, t, static_cast<std::uint32_t>(trial)));
        zp::BufferDescriptor a{const_cast<std::uint8_t*>(enrolled.data()), 256};
        zp::loadTemplate(a, fast);
        zpref::load(enrolled.data(), ref);
        const std::int32_t table = 2 * 116 * 140;
        for (std::int32_t cell = 0; cell < 50 * 50; ++cell) {
            const auto at = static_cast<std::size_t>(table + cell * 4 + 3);
            const auto stray = static_cast<std::uint8_t>(uniform(rng, 0, 15) << 2);
            wsFast[at] |= stray;
            wsRef[at] |= stray;
        }
        zp::BufferDescriptor q{const_cast<std::uint8_t*>(probe.data()), 256};
        const std::int32_t expected = zpref::quickMatch(probe.data(), ref);
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            ASSERT_EQ(zp::quickMatch(q, fast, path), expected) << zptest::vectorPathName(path) << " trial " << trial;
        }
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "match/matching_model.h"
#include "match/neighbour_table.h"
#include "math/integer_math.h"
#include "math/trig.h"
#include "support/vector_paths.h"

namespace {

using Cell = std::array<std::uint8_t, 4>;

zp::MinutiaRecord minutia(std::int32_t x, std::int32_t y, std::int32_t direction, std::uint8_t type = 1) {
    return zp::MinutiaRecord{x, y, direction, type, {0, 0, 0}};
}

// The cell exactly as the neighbour relation is defined, with the run-time
// angle function and square root.
bool referenceCell(const zp::MinutiaRecord& i, const zp::MinutiaRecord& j, Cell& cell) {
    const std::int32_t dx = i.x - j.x;
    const std::int32_t dy = i.y - j.y;
    if (dx > 65 || dx < -65 || dy > 65 || dy < -65) return false;
    const std::int32_t d = zp::isqrt(dx * dx + dy * dy);
    if (d > 65) return false;
    const std::int32_t t = zp::angleBetween(i.x, i.y, j.x, j.y);
    std::int32_t ri = i.direction - t;
    if (ri < 0) ri += 360;
    const std::int32_t tb = t < 180 ? t + 180 : t - 180;
    std::int32_t rj = j.direction - tb;
    if (rj < 0) rj += 360;
    cell[0] = static_cast<std::uint8_t>(d);
    cell[1] = static_cast<std::uint8_t>(ri % 256);
    cell[2] = static_cast<std::uint8_t>(rj % 256);
    cell[3] = static_cast<std::uint8_t>((ri > 255 ? 0x40 : 0) | (rj > 255 ? 0x80 : 0) |
                                        (i.type == 2 ? 1 : 0) | (j.type == 2 ? 2 : 0));
    return true;
}

TEST(NeighbourGeometry, TableEqualsAngleFunctionAndIsqrtOverWholeReach) {
    for (std::int32_t dx = -65; dx <= 65; ++dx) {
        for (std::int32_t dy = -65; dy <= 65; ++dy) {
            const zp::NeighbourGeometry g = zp::neighbourGeometry(dx, dy);
            ASSERT_EQ(g.direction, zp::angleBetween(0, 0, dx, dy)) << dx << "," << dy;
            ASSERT_EQ(g.direction, zp::angleBetween(40, 70, 40 + dx, 70 + dy)) << dx << "," << dy;
            ASSERT_EQ(g.distance, zp::isqrt(dx * dx + dy * dy)) << dx << "," << dy;
        }
    }
}

TEST(NeighbourCell, FastCellEqualsReferenceOverWholeReach) {
    const std::int32_t directions[][2] = {{0, 0}, {90, 270}, {359, 1}, {300, 45}, {511, 400}, {180, 359}};
    const std::uint8_t types[][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}, {3, 0}};
    std::size_t variant = 0;
    for (std::int32_t dx = -67; dx <= 67; ++dx) {
        for (std::int32_t dy = -67; dy <= 67; ++dy) {
            const auto& dir = directions[variant % 6];
            const auto& type = types[variant % 5];
            ++variant;
            const auto a = minutia(100, 120, dir[0], type[0]);
            const auto b = minutia(100 + dx, 120 + dy, dir[1], type[1]);
            Cell expected{9, 9, 9, 9};
            Cell got{9, 9, 9, 9};
            const bool e = referenceCell(a, b, expected);
            ASSERT_EQ(zp::fillNeighbourCell(got.data(), a, b), e) << dx << "," << dy;
            ASSERT_EQ(got, expected) << dx << "," << dy;
        }
    }
}

TEST(NeighbourCell, WorkedExampleAndMirror) {
    zp::MatchingModel model{};
    model.count = 2;
    model.maxCount = 2;
    model.minutiae[0] = minutia(10, 10, 90);
    model.minutiae[1] = minutia(20, 10, 0);
    std::array<std::uint8_t, 16> table{};
    zp::buildNeighbourTable(model, table.data());
    EXPECT_EQ((Cell{table[4], table[5], table[6], table[7]}), (Cell{10, 90, 180, 0}));
    EXPECT_EQ((Cell{table[8], table[9], table[10], table[11]}), (Cell{10, 180, 90, 0}));

    model.minutiae[0].direction = 300;
    zp::buildNeighbourTable(model, table.data());
    EXPECT_EQ((Cell{table[4], table[5], table[6], table[7]}), (Cell{10, 44, 180, 0x40}));
    EXPECT_EQ((Cell{table[8], table[9], table[10], table[11]}), (Cell{10, 180, 44, 0x80}));
}

TEST(NeighbourCell, MirrorSwapsTypeFlags) {
    zp::MatchingModel model{};
    model.count = 2;
    model.maxCount = 2;
    model.minutiae[0] = minutia(10, 10, 300, 2);
    model.minutiae[1] = minutia(20, 10, 0, 1);
    std::array<std::uint8_t, 16> table{};
    zp::buildNeighbourTable(model, table.data());
    EXPECT_EQ(table[7], 0x41);
    EXPECT_EQ(table[11], 0x82);
}

TEST(NeighbourCell, Reach) {
    struct Case {
        std::int32_t dx, dy;
        bool neighbour;
    };
    const Case cases[] = {{65, 0, true},   {66, 0, false},  {50, 50, false}, {0, -65, true},
                          {-46, 46, true}, {47, 46, true},  {47, 47, false}, {-66, 0, false}};
    for (const auto& c : cases) {
        Cell cell{};
        const bool filled = zp::fillNeighbourCell(cell.data(), minutia(100, 100, 0), minutia(100 + c.dx, 100 + c.dy, 0));
        EXPECT_EQ(filled && cell[0] != 0, c.neighbour) << c.dx << "," << c.dy;
    }
}

TEST(NeighbourCell, BifurcationFlagOnlyForTypeTwo) {
    for (std::uint8_t type = 0; type < 32; ++type) {
        Cell cell{};
        ASSERT_TRUE(zp::fillNeighbourCell(cell.data(), minutia(10, 10, 0, type), minutia(20, 10, 0, type)));
        EXPECT_EQ(cell[3] & 3, type == 2 ? 3 : 0) << int(type);
    }
}

TEST(NeighbourTable, SameSpotIsNoNeighbour) {
    zp::MatchingModel model{};
    model.count = 3;
    model.maxCount = 3;
    model.minutiae[0] = minutia(10, 10, 45);
    model.minutiae[1] = minutia(10, 10, 200);
    model.minutiae[2] = minutia(30, 10, 0);
    std::array<std::uint8_t, 36> table{};
    zp::buildNeighbourTable(model, table.data());
    zp::compactNeighbourTable(3, table.data(), 3);
    // Row 0 and row 1 each hold only minutia 2; row 2 holds both.
    EXPECT_EQ(table[0], 20);
    EXPECT_EQ(table[4], 0);
    EXPECT_EQ(table[12], 20);
    EXPECT_EQ(table[16], 0);
    EXPECT_EQ(table[24], 20);
    EXPECT_EQ(table[28], 20);
    EXPECT_EQ(table[32], 0);
}

TEST(NeighbourTable, CompactionSortsFarthestFirstAndKeepsTies) {
    // Row 0 of a 5-wide table: neighbours at 12, 30, 12 (tagged by byte 1), 40.
    std::array<std::uint8_t, 100> table{};
    const std::uint8_t row[5][4] = {{0, 0, 0, 0}, {12, 1, 0, 0}, {30, 2, 0, 0}, {12, 3, 0, 0}, {40, 4, 0, 0}};
    for (int j = 0; j < 5; ++j) {
        for (int b = 0; b < 4; ++b) table[static_cast<std::size_t>(j * 4 + b)] = row[j][b];
    }
    // A stray cell beyond the count must be dropped.
    table[20 + 16] = 0;
    zp::compactNeighbourTable(5, table.data(), 5);
    const std::uint8_t expected[5][2] = {{40, 4}, {30, 2}, {12, 1}, {12, 3}, {0, 0}};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(table[static_cast<std::size_t>(k * 4)], expected[k][0]) << k;
        EXPECT_EQ(table[static_cast<std::size_t>(k * 4 + 1)], expected[k][1]) << k;
    }
}

TEST(NeighbourTable, CellsBeyondTheCountAreCleared) {
    std::array<std::uint8_t, 36> table{};
    table.fill(7);
    zp::MatchingModel model{};
    model.count = 0;
    model.maxCount = 3;
    zp::buildNeighbourTable(model, table.data());
    zp::compactNeighbourTable(0, table.data(), 3);
    for (auto b : table) EXPECT_EQ(b, 0);
}

// The sorted table on every path, over garbage and with guard bytes, against
// filling and compacting: counts at the edges of blocks of eight and
// sixteen columns, rows longer than the count, and layouts where every
// minutia is a neighbour of every other (full rows, many equal distances),
// none is, all lie at one spot, or they stand in coincident pairs.
TEST(NeighbourTable, SortedTableOnEveryPathAtTheEdges) {
    enum class Layout { Grid, Cluster, Apart, OneSpot, Pairs };
    const Layout layouts[] = {Layout::Grid, Layout::Cluster, Layout::Apart, Layout::OneSpot, Layout::Pairs};
    const std::int32_t counts[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 48, 49, 50};
    for (const std::int32_t count : counts) {
        const std::int32_t rowLengths[] = {count, count + 1, 50};
        for (const std::int32_t rowLength : rowLengths) {
            if (rowLength > 50) continue;
            for (const Layout layout : layouts) {
                zp::MatchingModel model{};
                model.count = count;
                model.maxCount = rowLength;
                for (std::int32_t k = 0; k < count; ++k) {
                    std::int32_t x = 0;
                    std::int32_t y = 0;
                    switch (layout) {
                        case Layout::Grid: x = 8 + (k % 7) * 17; y = 5 + (k / 7) * 19; break;
                        case Layout::Cluster: x = 200 + (k % 5) * 3; y = 300 + (k / 5) * 2; break;
                        case Layout::Apart: x = (k % 4) * 70; y = (k / 4) * 70; break;
                        case Layout::OneSpot: x = 511; y = 511; break;
                        case Layout::Pairs: x = 30 + (k / 2) * 9; y = 60 - (k / 2) % 5; break;
                    }
                    model.minutiae[static_cast<std::size_t>(k)] =
                        minutia(x, y, (k * 97 + 13) % 512, static_cast<std::uint8_t>(k % 3 == 0 ? 2 : k % 5));
                }
                const std::size_t bytes = static_cast<std::size_t>(rowLength * rowLength * 4);
                std::vector<std::uint8_t> garbage(bytes + 128);
                for (std::size_t b = 0; b < garbage.size(); ++b) garbage[b] = static_cast<std::uint8_t>(b * 37 + 11);
                std::vector<std::uint8_t> expected = garbage;
                zp::buildNeighbourTable(model, expected.data() + 64);
                zp::compactNeighbourTable(count, expected.data() + 64, rowLength);
                for (const zp::VectorPath path : zptest::availableVectorPaths()) {
                    std::vector<std::uint8_t> got = garbage;
                    zp::buildSortedNeighbourTable(model, got.data() + 64, path);
                    ASSERT_EQ(got, expected) << zptest::vectorPathName(path) << " count " << count << " row "
                                             << rowLength << " layout " << static_cast<int>(layout);
                }
            }
        }
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdint>

#include "match/alignment_search.h"
#include "match/box_map.h"
#include "match/matching_model.h"
#include "support/vector_paths.h"

namespace {

zp::MatchingModel model(std::initializer_list<std::array<std::int32_t, 3>> minutiae, std::int32_t width = 116,
                        std::int32_t height = 140) {
    zp::MatchingModel m{};
    m.width = width;
    m.height = height;
    m.maxCount = 50;
    for (const auto& p : minutiae) {
        m.minutiae[static_cast<std::size_t>(m.count++)] = zp::MinutiaRecord{p[0], p[1], p[2], 1, {0, 0, 0}};
    }
    return m;
}

TEST(ExpectedOverlap, WorkedExamples) {
    const std::int32_t cases[][3] = {{12, 10, 10}, {40, 30, 30}, {30, 20, 30}, {20, 8, 20},
                                     {6, 3, 6},    {1, 0, 1},    {0, 0, 0},   {10, 12, 10}};
    for (const auto& c : cases) EXPECT_EQ(zp::expectedOverlap(c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

TEST(ModelBox, WidenedAndHeld) {
    const auto box = zp::modelBox(model({{10, 20, 0}, {2, 381, 0}, {253, 30, 0}}));
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, 255);
    EXPECT_EQ(box.top, 16);
    EXPECT_EQ(box.bottom, 383);
    const auto mid = zp::modelBox(model({{10, 20, 0}, {50, 60, 0}}));
    EXPECT_EQ(mid.left, 6);
    EXPECT_EQ(mid.right, 54);
    EXPECT_EQ(mid.top, 16);
    EXPECT_EQ(mid.bottom, 64);
    const auto empty = zp::modelBox(model({}));
    EXPECT_EQ(empty.left, 996);
    EXPECT_EQ(empty.right, 4);
    EXPECT_EQ(empty.top, 996);
    EXPECT_EQ(empty.bottom, 4);
}

TEST(BoxMap, MarksBothBoxes) {
    zp::BoxMap map;
    map.fill(0xEE);
    zp::buildBoxMap(model({{10, 20, 0}, {50, 60, 0}}), model({{40, 50, 0}, {100, 130, 0}}), map);
    // A: columns 1..13, rows 4..16; B: columns 9..26, rows 11..33.
    for (std::int32_t r = 0; r < 48; ++r) {
        for (std::int32_t c = 0; c < 32; ++c) {
            const bool inA = c >= 1 && c <= 13 && r >= 4 && r <= 16;
            const bool inB = c >= 9 && c <= 26 && r >= 11 && r <= 33;
            ASSERT_EQ(map[static_cast<std::size_t>(32 * r + c)], (inA ? 1 : 0) + (inB ? 2 : 0)) << c << "," << r;
        }
    }
}

TEST(BoxMap, EmptyModelMarksNothingAndOutsideBoxesAreClipped) {
    zp::BoxMap map;
    zp::buildBoxMap(model({}), model({}), map);
    for (auto v : map) ASSERT_EQ(v, 0);
    // Outside minutiae reach columns up to 63 and rows up to 95: clipped.
    // A: columns 29..63, rows 44..95; B: columns 31..33, rows 1..3; a box
    // starting beyond the map marks nothing.
    zp::buildBoxMap(model({{500, 500, 0}, {120, 180, 0}}), model({{130, 10, 0}}), map);
    std::int32_t marked = 0;
    for (auto v : map) marked += v != 0 ? 1 : 0;
    EXPECT_EQ(marked, 3 * 4 + 3);
    EXPECT_EQ(map[32 * 47 + 31], 1);
    EXPECT_EQ(map[32 * 44 + 29], 1);
    EXPECT_EQ(map[32 * 1 + 31], 2);
    EXPECT_EQ(map[32 * 3 + 31], 2);
    EXPECT_EQ(map[32 * 1 + 30], 0);
    zp::buildBoxMap(model({{511, 511, 0}}), model({}), map);
    for (auto v : map) ASSERT_EQ(v, 0);
}

TEST(MoveModel, IdentityKeepsEveryMinutia) {
    const auto m = model({{10, 20, 30}, {50, 60, 359}, {100, 130, 180}});
    zp::BoxMap map;
    zp::buildBoxMap(m, m, map);
    zp::MatchingModel aligned{};
    EXPECT_EQ(zp::moveModel(m, {50, 60, 0, 0, 0}, map, zp::kBoxBitA, &aligned), 3);
    ASSERT_EQ(aligned.count, 3);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(aligned.minutiae[i].x, m.minutiae[i].x);
        EXPECT_EQ(aligned.minutiae[i].y, m.minutiae[i].y);
        EXPECT_EQ(aligned.minutiae[i].direction, m.minutiae[i].direction);
    }
}

TEST(MoveModel, PivotLandsOnTargetAndDirectionsTurn) {
    const auto m = model({{40, 50, 300}, {60, 50, 10}});
    zp::BoxMap map{};
    zp::MatchingModel aligned{};
    zp::moveModel(m, {40, 50, 90, 7, -3}, map, zp::kBoxBitA, &aligned);
    EXPECT_EQ(aligned.minutiae[0].x, 47);
    EXPECT_EQ(aligned.minutiae[0].y, 47);
    EXPECT_EQ(aligned.minutiae[0].direction, 30);  // 390 - 360
    // (60, 50) turned 90 degrees about (40, 50): (40, 70), then shifted.
    EXPECT_EQ(aligned.minutiae[1].x, 47);
    EXPECT_EQ(aligned.minutiae[1].y, 67);
    EXPECT_EQ(aligned.minutiae[1].direction, 100);
    // A sum of exactly 360 stays 360; a negative sum gains 360 once.
    zp::moveModel(model({{40, 50, 270}}), {40, 50, 90, 0, 0}, map, zp::kBoxBitA, &aligned);
    EXPECT_EQ(aligned.minutiae[0].direction, 360);
    zp::moveModel(model({{40, 50, 10}}), {40, 50, -90, 0, 0}, map, zp::kBoxBitA, &aligned);
    EXPECT_EQ(aligned.minutiae[0].direction, 280);
}

// The offsets are rounded to single precision before the positions are
// made: here oy = -35.97814941... (not the exact -35.978147...), so the
// minutia (15, 86) turned 30 degrees lands at y' = 45.9999981, truncated to
// 45; without the rounding it would land on 46.
TEST(MoveModel, OffsetsAreRoundedToSinglePrecision) {
    const auto m = model({{66, 86, 0}, {15, 86, 0}});
    zp::BoxMap map{};
    zp::MatchingModel aligned{};
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        zp::moveModel(m, {66, 86, 30, 34, -15}, map, zp::kBoxBitA, &aligned, path);
        EXPECT_EQ(aligned.minutiae[0].x, 100) << zptest::vectorPathName(path);
        EXPECT_EQ(aligned.minutiae[0].y, 71) << zptest::vectorPathName(path);
        EXPECT_EQ(aligned.minutiae[1].y, 45) << zptest::vectorPathName(path);
    }
}

TEST(MoveModel, HalfAddedBeforeTruncationTowardZero) {
    // Shifts put exact positions at -1, -0.5 + ... : x' = x + tx + 0.5 truncated.
    zp::BoxMap map{};
    zp::MatchingModel aligned{};
    const std::int32_t cases[][2] = {{-1, 0}, {-2, -1}, {0, 0}, {1, 1}, {-3, -2}};
    for (const auto& c : cases) {
        zp::moveModel(model({{0, 0, 0}, {10, 10, 0}}), {10, 10, 0, c[0], 0}, map, zp::kBoxBitA, &aligned);
        EXPECT_EQ(aligned.minutiae[0].x, c[1]) << c[0];
    }
}

TEST(MoveModel, CountsOnlyInsideTheStoredSizeOnTheTestedBit) {
    auto m = model({{0, 10, 0}, {10, 10, 0}, {20, 10, 0}}, 20, 140);
    zp::BoxMap map;
    map.fill(1);
    zp::MatchingModel aligned{};
    // Shift by -2: x' = -1, 8, 18 (-1.5 truncates to -1): the first is outside.
    EXPECT_EQ(zp::moveModel(m, {10, 10, 0, -2, 0}, map, zp::kBoxBitA, &aligned), 2);
    EXPECT_EQ(aligned.minutiae[0].x, -1);
    // Shift by -1: -0.5 truncates to 0, which counts.
    EXPECT_EQ(zp::moveModel(m, {10, 10, 0, -1, 0}, map, zp::kBoxBitA, &aligned), 3);
    // Shift by +1: x' = 1, 11, 21 = W: the last is outside.
    EXPECT_EQ(zp::moveModel(m, {10, 10, 0, 1, 0}, map, zp::kBoxBitA, &aligned), 2);
    EXPECT_EQ(zp::moveModel(m, {10, 10, 0, 0, 0}, map, zp::kBoxBitB, &aligned), 0);
    // Stored sizes beyond the map: points past column 31 are not counted.
    auto wide = model({{130, 10, 0}, {120, 10, 0}}, 400, 400);
    map.fill(3);
    EXPECT_EQ(zp::moveModel(wide, {0, 0, 0, 0, 0}, map, zp::kBoxBitA, nullptr), 1);
}

TEST(AlignmentSearch, FewerThanTwoPairsScoreZero) {
    const auto m = model({{10, 10, 0}, {30, 30, 0}, {60, 60, 0}});
    zp::BoxMap map;
    zp::buildBoxMap(m, m, map);
    zp::CandidatePairList pairs{};
    pairs.count = 1;
    pairs.entries[0] = {0, 0, 40};
    EXPECT_EQ(zp::alignmentSearch(m, m, pairs, map), 0);
    pairs.count = 2;
    pairs.entries[1] = {1, 1, 40};
    EXPECT_GT(zp::alignmentSearch(m, m, pairs, map), 0);
}

TEST(AlignmentSearch, AnchorDirectionsWrap) {
    // A_0 at direction 10, B_0 at 350: the rotation is 20 degrees, which
    // brings B's other minutia (turned about B_0) onto A's.
    zp::MatchingModel a = model({{50, 50, 10}, {70, 50, 10}});
    zp::MatchingModel b = model({{50, 50, 350}, {0, 0, 350}});
    // Place B_1 so that a 20-degree turn about B_0 lands it on A_1.
    // (70 - 50, 0) turned by -20 degrees: (18.79, -6.84) -> (68.79, 43.16).
    b.minutiae[1].x = 69;
    b.minutiae[1].y = 43;
    zp::BoxMap map;
    zp::buildBoxMap(a, b, map);
    zp::MatchingModel aligned{};
    zp::moveModel(b, {50, 50, 20, 0, 0}, map, zp::kBoxBitA, &aligned);
    EXPECT_EQ(aligned.minutiae[0].direction, 10);
    EXPECT_NEAR(aligned.minutiae[1].x, 70, 1);
    EXPECT_NEAR(aligned.minutiae[1].y, 50, 1);
    zp::CandidatePairList pairs{};
    pairs.count = 2;
    pairs.entries[0] = {0, 0, 5};
    pairs.entries[1] = {1, 1, 5};
    // Both pairs confirmed at weight 88, similarity 5, n = 2: (880 / 20) * 2 / 2 * 2 / 2.
    EXPECT_EQ(zp::alignmentSearch(a, b, pairs, map), 44);
}

}  // namespace

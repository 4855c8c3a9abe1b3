#include "minutiae/skeleton_tracing.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "minutiae/skeleton_canvas.h"

namespace {

using zp::kNoPoint;
using zptest::SkeletonCanvas;

using Offsets = std::vector<std::pair<std::int32_t, std::int32_t>>;

struct ClassCase {
    std::string name;
    Offsets neighbours;  // (dx, dy) around the centre
    std::int32_t expected;
};

TEST(NeighbourClass, ClassesOfSmallNeighbourhoods) {
    const std::vector<ClassCase> cases = {
        {"isolated", {}, -1},
        {"one neighbour is an ending", {{1, 0}}, 1},
        {"N and S form an interior", {{0, -1}, {0, 1}}, 0},
        {"N, SW and SE form a bifurcation", {{0, -1}, {-1, 1}, {1, 1}}, 2},
        {"N touching NE is no fork", {{0, -1}, {1, -1}, {0, 1}}, 0},
        {"S touching SW is no fork", {{0, 1}, {-1, 1}, {0, -1}}, 0},
        {"W touching NW is no fork", {{-1, 0}, {-1, -1}, {1, 1}}, 0},
        {"E touching SE is no fork", {{1, 0}, {1, 1}, {-1, -1}}, 0},
        {"three corners form a bifurcation", {{-1, -1}, {1, -1}, {0, 1}}, 2},
        {"four neighbours are another junction", {{0, -1}, {0, 1}, {-1, 0}, {1, 0}}, 3},
        {"eight neighbours", {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}},
         3},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(16, 16);
        img.set(8, 8);
        for (const auto& [dx, dy] : c.neighbours) img.set(8 + dx, 8 + dy);
        EXPECT_EQ(zp::neighbourClass(img.data(), img.width, 8, 8), c.expected) << c.name;
    }
}

TEST(NeighbourClass, MarksCountAsSet) {
    SkeletonCanvas img(16, 16);
    img.set(8, 8, 2);
    img.set(8, 7, 3);
    img.set(7, 9, 1);
    img.set(9, 9, 2);
    EXPECT_EQ(zp::neighbourClass(img.data(), img.width, 8, 8), 2);
}

struct StepCase {
    std::string name;
    Offsets neighbours;       // set pixels around (10, 10), as (dx, dy)
    std::int32_t px, py;      // previous point (absolute), or kNoPoint
    std::array<std::int32_t, 3> expected;  // x, y, n
};

TEST(RidgeStep, AnswersForEveryCandidateCount) {
    const std::vector<StepCase> cases = {
        {"no candidate: the ridge ends", {{-1, 0}}, 9, 10, {10, 10, 0}},
        {"one candidate", {{-1, 0}, {1, 1}}, 9, 10, {11, 11, 1}},
        {"no previous point, one candidate", {{1, 0}}, kNoPoint, kNoPoint, {11, 10, 1}},
        {"three candidates", {{-1, 0}, {1, -1}, {1, 1}, {0, 1}}, 9, 10, {10, 10, 3}},
        {"rule 1: first candidate touches the previous point", {{-1, 0}, {-1, -1}, {1, 0}}, 9, 10,
         {11, 10, 1}},
        {"rule 2: second candidate touches the previous point", {{-1, 0}, {1, -1}, {-1, 1}}, 9, 10,
         {11, 9, 1}},
        {"rule 3: side by side above", {{0, 1}, {-1, -1}, {0, -1}}, 10, 11, {10, 9, 1}},
        {"rule 3: side by side below", {{0, -1}, {0, 1}, {1, 1}}, 10, 9, {10, 11, 1}},
        {"rule 4: one above the other in column 11", {{-1, 0}, {1, -1}, {1, 0}}, 9, 10,
         {11, 10, 1}},
        {"rule 4 without a previous point", {{-1, -1}, {-1, 0}}, kNoPoint, kNoPoint, {9, 10, 1}},
        {"rule 5: a true fork", {{0, 1}, {-1, -1}, {1, -1}}, 10, 11, {10, 10, 2}},
        {"rule 5 without a previous point", {{-1, -1}, {1, 1}}, kNoPoint, kNoPoint, {10, 10, 2}},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(24, 24);
        img.set(10, 10);
        for (const auto& [dx, dy] : c.neighbours) img.set(10 + dx, 10 + dy);
        const zp::StepResult r = zp::ridgeStep(img.data(), img.width, 10, 10, c.py, c.px);
        EXPECT_EQ((std::array<std::int32_t, 3>{r.x, r.y, r.n}), c.expected) << c.name;
    }
}

TEST(RidgeStep, PointEqualToPreviousStaysWithZero) {
    SkeletonCanvas img(24, 24);
    img.line(5, 10, 15, 10);
    img.line(10, 5, 10, 15);
    const zp::StepResult r = zp::ridgeStep(img.data(), img.width, 10, 10, 10, 10);
    EXPECT_EQ(r.x, 10);
    EXPECT_EQ(r.y, 10);
    EXPECT_EQ(r.n, 0);
}

TEST(RidgeStep, FirstStepAlongHorizontalRidge) {
    SkeletonCanvas img(64, 64);
    img.line(10, 20, 40, 20);
    const zp::StepResult r = zp::ridgeStep(img.data(), img.width, 20, 10, kNoPoint, kNoPoint);
    EXPECT_EQ(r.x, 11);
    EXPECT_EQ(r.y, 20);
    EXPECT_EQ(r.n, 1);
}

TEST(BranchStart, ThreeBranchesOfAForkInScanOrder) {
    SkeletonCanvas img(24, 24);
    img.setAll({{10, 10}, {9, 9}, {11, 9}, {10, 11}});
    const zp::StepResult s1 =
        zp::branchStart(img.data(), img.width, 10, 10, kNoPoint, kNoPoint, kNoPoint, kNoPoint);
    const zp::StepResult s2 =
        zp::branchStart(img.data(), img.width, 10, 10, s1.y, s1.x, kNoPoint, kNoPoint);
    const zp::StepResult s3 = zp::branchStart(img.data(), img.width, 10, 10, s1.y, s1.x, s2.y, s2.x);
    EXPECT_EQ((std::array<std::int32_t, 3>{s1.x, s1.y, s1.n}), (std::array<std::int32_t, 3>{9, 9, 1}));
    EXPECT_EQ((std::array<std::int32_t, 3>{s2.x, s2.y, s2.n}),
              (std::array<std::int32_t, 3>{11, 9, 1}));
    EXPECT_EQ((std::array<std::int32_t, 3>{s3.x, s3.y, s3.n}),
              (std::array<std::int32_t, 3>{10, 11, 1}));
}

TEST(BranchStart, NoNeighbourLeftAnswersTheCentre) {
    SkeletonCanvas img(24, 24);
    img.setAll({{10, 10}, {11, 10}});
    const zp::StepResult r =
        zp::branchStart(img.data(), img.width, 10, 10, 10, 11, kNoPoint, kNoPoint);
    EXPECT_EQ((std::array<std::int32_t, 3>{r.x, r.y, r.n}), (std::array<std::int32_t, 3>{10, 10, 1}));
}

TEST(SafeArea, MarginAndNineBlocks) {
    constexpr std::int32_t w = 232;
    constexpr std::int32_t h = 280;
    std::vector<std::uint8_t> map(static_cast<std::size_t>((w / 8) * (h / 8)), 1);
    EXPECT_EQ(zp::safeArea(w, h, 100, 7, 8, map.data()), 0);
    EXPECT_EQ(zp::safeArea(w, h, 272, 100, 8, map.data()), 0);
    EXPECT_EQ(zp::safeArea(w, h, 271, 100, 8, map.data()), 1);
    EXPECT_EQ(zp::safeArea(w, h, 100, 224, 8, map.data()), 0);
    EXPECT_EQ(zp::safeArea(w, h, 100, 223, 8, map.data()), 1);
    EXPECT_EQ(zp::safeArea(w, h, 8, 8, 8, map.data()), 1);
    // Each of the nine blocks of rows and columns 0..2 is needed at (8, 8).
    for (std::int32_t by = 0; by < 3; ++by) {
        for (std::int32_t bx = 0; bx < 3; ++bx) {
            std::vector<std::uint8_t> holed = map;
            holed[static_cast<std::size_t>(by * (w / 8) + bx)] = 0;
            EXPECT_EQ(zp::safeArea(w, h, 8, 8, 8, holed.data()), 0) << bx << "," << by;
        }
    }
    // A background block just outside the nine does not matter.
    std::vector<std::uint8_t> far = map;
    far[static_cast<std::size_t>(3 * (w / 8) + 3)] = 0;
    EXPECT_EQ(zp::safeArea(w, h, 8, 8, 8, far.data()), 1);
}

TEST(SafeArea, BlocksBeyondTheMapCountAsBackground) {
    // With a small margin the ring of blocks would reach outside the map.
    constexpr std::int32_t w = 64;
    constexpr std::int32_t h = 64;
    std::vector<std::uint8_t> map(64, 1);
    EXPECT_EQ(zp::safeArea(w, h, 4, 30, 2, map.data()), 0);
    EXPECT_EQ(zp::safeArea(w, h, 30, 60, 2, map.data()), 0);
    EXPECT_EQ(zp::safeArea(w, h, 30, 30, 2, map.data()), 1);
}

struct DirectionCase {
    std::string name;
    std::array<std::int32_t, 4> ridge;  // x0, y0, x1, y1
    std::int32_t x, y;                  // the ending
    std::int32_t longDirection;
    std::int32_t shortDirection;
};

TEST(EndingDirection, StraightRidges) {
    const std::vector<DirectionCase> cases = {
        {"horizontal, left end", {10, 20, 40, 20}, 10, 20, 0, 0},
        {"horizontal, right end", {10, 20, 40, 20}, 40, 20, 180, 180},
        {"vertical, top end", {30, 10, 30, 50}, 30, 10, 90, 90},
        {"vertical, bottom end", {30, 10, 30, 50}, 30, 50, 270, 270},
        {"diagonal down-right", {10, 10, 40, 40}, 10, 10, 45, 45},
        {"diagonal, upper right end", {10, 40, 40, 10}, 40, 10, 135, 135},
        {"diagonal, lower left end", {10, 40, 40, 10}, 10, 40, 315, 315},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(64, 64);
        img.line(c.ridge[0], c.ridge[1], c.ridge[2], c.ridge[3]);
        EXPECT_EQ(zp::endingDirection(img.data(), img.width, c.x, c.y, true), c.longDirection)
            << c.name;
        EXPECT_EQ(zp::endingDirection(img.data(), img.width, c.x, c.y, false), c.shortDirection)
            << c.name;
    }
}

TEST(EndingDirection, ShortRidgeStopsOnItsLastPixel) {
    // A ridge of 6 pixels: P5 is its far end and P6..P10 stay there, so P7 and
    // P10 coincide with P5 = (15, 20).
    SkeletonCanvas img(64, 64);
    img.line(10, 20, 15, 20);
    EXPECT_EQ(zp::endingDirection(img.data(), img.width, 10, 20, true), 0);
    EXPECT_EQ(zp::endingDirection(img.data(), img.width, 10, 20, false), 0);
    // A 3-pixel piece going down-right and then right: P1 = (11, 21),
    // P2..P10 = (12, 21): both directions from P1 are 0; from the ending to
    // P5 = (12, 21) the slope is 1/2, 27 degrees.
    SkeletonCanvas bent(64, 64);
    bent.setAll({{10, 20}, {11, 21}, {12, 21}});
    EXPECT_EQ(zp::endingDirection(bent.data(), bent.width, 10, 20, true), 0);
    EXPECT_EQ(zp::endingDirection(bent.data(), bent.width, 10, 20, false), 27);
}

TEST(EndingDirection, BendingRidgeBisectsTheTwoDirections) {
    // Right along row 20 to (16, 20), then straight down: P1 = (11, 20),
    // P6 = (16, 20), P7 = (16, 21), P10 = (16, 24). angle(P1 -> P7) = atan(1/5) = 11,
    // angle(P1 -> P10) = atan(4/5) = 39; bisector 25.
    SkeletonCanvas img(64, 64);
    img.line(10, 20, 16, 20);
    img.line(16, 21, 16, 40);
    EXPECT_EQ(zp::endingDirection(img.data(), img.width, 10, 20, true), 25);
}

TEST(BifurcationDirection, SymmetricYPointsUp) {
    SkeletonCanvas img(64, 64);
    img.line(30, 30, 30, 45);  // stem down from the fork
    img.line(30, 30, 18, 18);  // branch up-left
    img.line(30, 30, 42, 18);  // branch up-right
    ASSERT_EQ(zp::neighbourClass(img.data(), img.width, 30, 30), 2);
    EXPECT_EQ(zp::bifurcationDirection(img.data(), img.width, 30, 30), 270);
}

TEST(BifurcationDirection, YOpeningToTheRightPointsRight) {
    SkeletonCanvas img(64, 64);
    img.line(30, 30, 15, 30);  // stem to the left
    img.line(30, 30, 42, 18);  // branch up-right
    img.line(30, 30, 42, 42);  // branch down-right
    ASSERT_EQ(zp::neighbourClass(img.data(), img.width, 30, 30), 2);
    EXPECT_EQ(zp::bifurcationDirection(img.data(), img.width, 30, 30), 0);
}

}  // namespace

namespace {

// The neighbour class and ridge step written out directly from their rules,
// scanning the neighbours in order, to check every 3 x 3 neighbourhood.
constexpr std::int32_t kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr std::int32_t kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

std::int32_t classByRule(std::uint32_t mask) {
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < 8; ++i) n += (mask >> i) & 1U;
    if (n == 0) return -1;
    if (n == 1) return 1;
    if (n == 2) return 0;
    if (n >= 4) return 3;
    const auto set = [&](std::int32_t i) { return ((mask >> i) & 1U) != 0; };
    if (set(1) && (set(0) || set(2))) return 0;
    if (set(6) && (set(5) || set(7))) return 0;
    if (set(3) && (set(0) || set(5))) return 0;
    if (set(4) && (set(2) || set(7))) return 0;
    return 2;
}

std::array<std::int32_t, 3> stepByRule(std::uint32_t mask, std::int32_t x, std::int32_t y,
                                       std::int32_t px, std::int32_t py) {
    std::vector<std::pair<std::int32_t, std::int32_t>> c;
    for (std::int32_t i = 0; i < 8; ++i) {
        const std::int32_t nx = x + kDx[i];
        const std::int32_t ny = y + kDy[i];
        if (((mask >> i) & 1U) != 0 && !(nx == px && ny == py)) c.emplace_back(nx, ny);
    }
    if (c.empty()) return {x, y, 0};
    if (c.size() == 1) return {c[0].first, c[0].second, 1};
    if (c.size() >= 3) return {x, y, 3};
    const auto touches = [&](std::pair<std::int32_t, std::int32_t> p) {
        if (px == zp::kNoPoint && py == zp::kNoPoint) return false;
        return (p.second == py && std::abs(p.first - px) == 1) ||
               (p.first == px && std::abs(p.second - py) == 1);
    };
    if (touches(c[0])) return {c[1].first, c[1].second, 1};
    if (touches(c[1])) return {c[0].first, c[0].second, 1};
    if (c[0].second == c[1].second && std::abs(c[0].first - c[1].first) == 1) return {x, c[0].second, 1};
    if (c[0].first == c[1].first && std::abs(c[0].second - c[1].second) == 1) return {c[0].first, y, 1};
    return {x, y, 2};
}

TEST(NeighbourClass, EveryNeighbourhoodFollowsTheRule) {
    for (std::uint32_t mask = 0; mask < 256; ++mask) {
        SkeletonCanvas img(8, 8);
        img.set(4, 4);
        for (std::int32_t i = 0; i < 8; ++i) {
            if (((mask >> i) & 1U) != 0) img.set(4 + kDx[i], 4 + kDy[i]);
        }
        EXPECT_EQ(zp::neighbourClass(img.data(), img.width, 4, 4), classByRule(mask)) << mask;
    }
}

TEST(RidgeStep, EveryNeighbourhoodAndPreviousPointFollowTheRules) {
    // Previous point: none, each of the eight neighbours, or a point two away.
    std::vector<std::pair<std::int32_t, std::int32_t>> previous = {{zp::kNoPoint, zp::kNoPoint},
                                                                   {6, 4}};
    for (std::int32_t i = 0; i < 8; ++i) previous.emplace_back(4 + kDx[i], 4 + kDy[i]);
    for (std::uint32_t mask = 0; mask < 256; ++mask) {
        SkeletonCanvas img(8, 8);
        img.set(4, 4);
        for (std::int32_t i = 0; i < 8; ++i) {
            if (((mask >> i) & 1U) != 0) img.set(4 + kDx[i], 4 + kDy[i]);
        }
        for (const auto& [px, py] : previous) {
            const zp::StepResult r = zp::ridgeStep(img.data(), img.width, 4, 4, py, px);
            EXPECT_EQ((std::array<std::int32_t, 3>{r.x, r.y, r.n}), stepByRule(mask, 4, 4, px, py))
                << mask << " from " << px << "," << py;
        }
    }
}

}  // namespace

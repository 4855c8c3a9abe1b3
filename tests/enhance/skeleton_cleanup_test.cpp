#include "enhance/skeleton_cleanup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "enhance/thinning.h"
#include "minutiae/skeleton_canvas.h"
#include "minutiae/skeleton_tracing.h"
#include "ridge_chain.h"
#include "support/real_images.h"
#include "support/random_skeleton.h"
#include "support/vector_paths.h"

namespace {

using zptest::SkeletonCanvas;

constexpr std::int32_t kW = 96;
constexpr std::int32_t kH = 80;

std::int32_t countClass(SkeletonCanvas& img, std::int32_t cls) {
    std::int32_t n = 0;
    for (std::int32_t y = 8; y < img.height - 8; ++y) {
        for (std::int32_t x = 8; x < img.width - 8; ++x) {
            if (img.get(x, y) != 0 && zp::neighbourClass(img.data(), img.width, y, x) == cls) ++n;
        }
    }
    return n;
}

bool onlyZeroAndOne(const SkeletonCanvas& img) {
    for (std::uint8_t p : img.pixels) {
        if (p > 1) return false;
    }
    return true;
}

struct PieceCase {
    std::string name;
    std::int32_t x0, y0, x1, y1;
    bool stays;
};

TEST(SpurRemoval, IsolatedPiecesUpToSixPixelsGo) {
    const std::vector<PieceCase> cases = {
        {"isolated pixel", 40, 40, 40, 40, false},
        {"two pixels", 40, 40, 41, 40, false},
        {"horizontal, 6 pixels", 40, 40, 45, 40, false},
        {"horizontal, 7 pixels", 40, 40, 46, 40, true},
        {"vertical, 6 pixels", 40, 30, 40, 35, false},
        {"vertical, 7 pixels", 40, 30, 40, 36, true},
        {"diagonal, 6 pixels", 40, 30, 45, 35, false},
        {"diagonal, 7 pixels", 40, 30, 46, 36, true},
        {"anti-diagonal, 6 pixels", 45, 30, 40, 35, false},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(kW, kH);
        img.line(c.x0, c.y0, c.x1, c.y1);
        const SkeletonCanvas before = img;
        zp::spurRemoval(0, img.data(), img.width, img.height);
        if (c.stays) {
            EXPECT_EQ(img.pixels, before.pixels) << c.name;
        } else {
            EXPECT_EQ(img.countSet(), 0) << c.name;
        }
    }
}

// A long line along row 40 with a one-pixel bump up at (40, 39): the bump is
// a fork whose two line neighbours sit apart, so a trace arriving from above
// answers 2 there. The side branch rises straight up from the bump.
void drawLineWithBranch(SkeletonCanvas& img, std::int32_t branchPixels) {
    img.line(10, 40, 39, 40);
    img.set(40, 39);
    img.line(41, 40, 85, 40);
    if (branchPixels > 0) img.line(40, 38, 40, 39 - branchPixels);
}

TEST(SpurRemoval, SideBranchesUpToFivePixelsGo) {
    for (std::int32_t length = 1; length <= 8; ++length) {
        SkeletonCanvas img(kW, kH);
        drawLineWithBranch(img, length);
        SkeletonCanvas bare(kW, kH);
        drawLineWithBranch(bare, 0);
        const SkeletonCanvas before = img;
        zp::spurRemoval(0, img.data(), img.width, img.height);
        if (length <= 5) {
            EXPECT_EQ(img.pixels, bare.pixels) << length;
        } else {
            EXPECT_EQ(img.pixels, before.pixels) << length;
        }
    }
}

TEST(SpurRemoval, BranchEndingOnThreePixelsOfAStraightLineStays) {
    // The branch's last pixel touches three pixels of the line: the step from
    // it answers 3, and a branch of two or more pixels stays.
    SkeletonCanvas img(kW, kH);
    img.line(10, 40, 85, 40);
    img.line(40, 39, 40, 36);
    zp::spurRemoval(0, img.data(), img.width, img.height);
    for (std::int32_t y = 36; y <= 39; ++y) EXPECT_EQ(img.get(40, y), 1) << y;
}

TEST(SpurRemoval, PieceIsMarkedWholeFromTheFirstEnd) {
    // Two pieces of 6 and 7 pixels; the scan meets the left end of each first.
    SkeletonCanvas img(kW, kH);
    img.line(20, 20, 25, 20);
    img.line(20, 30, 26, 30);
    zp::spurRemoval(0, img.data(), img.width, img.height);
    for (std::int32_t x = 20; x <= 25; ++x) EXPECT_EQ(img.get(x, 20), 0) << x;
    for (std::int32_t x = 20; x <= 26; ++x) EXPECT_EQ(img.get(x, 30), 1) << x;
    EXPECT_TRUE(onlyZeroAndOne(img));
}

TEST(SpurRemoval, PixelsOutsideTheRegionAreNeverChanged) {
    SkeletonCanvas img(kW, kH);
    img.set(3, 3);
    img.set(kW - 4, kH - 2);
    img.line(0, 7, 4, 7);
    const SkeletonCanvas before = img;
    zp::spurRemoval(0, img.data(), img.width, img.height);
    EXPECT_EQ(img.pixels, before.pixels);
}

// A horizontal ridge that splits at a fork into two arcs which join again at
// a second fork: each arc leaves the first fork with 3 diagonal pixels, runs
// `straight` pixels along its row and comes back with 3 diagonal pixels, the
// third being the second fork. From the first fork each arc is thus
// straight + 6 steps long.
void drawLoop(SkeletonCanvas& img, std::int32_t straight) {
    const std::int32_t f1 = 30;
    const std::int32_t f2 = f1 + straight + 6;
    img.line(10, 40, f1, 40);
    for (const std::int32_t side : {-1, 1}) {
        img.line(f1, 40, f1 + 3, 40 + 3 * side);
        img.line(f1 + 3, 40 + 3 * side, f1 + 3 + straight, 40 + 3 * side);
        img.line(f1 + 3 + straight, 40 + 3 * side, f2, 40);
    }
    img.line(f2, 40, 90, 40);
}

// Spur removal and loop filling on every vector path equal the portable
// scans: skeletons of random noise (widths round every remainder of the
// 32-pixel vector, densities from sparse to full of small loops), again after
// a first pass, and of real captures.
template <typename Stage>
void expectOnEveryPath(const std::vector<std::uint8_t>& skeleton, std::int32_t w, std::int32_t h,
                       const std::string& what, Stage stage) {
    std::vector<std::uint8_t> want = skeleton;
    stage(want.data(), w, h, zp::VectorPath::Portable);
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        std::vector<std::uint8_t> work = skeleton;
        stage(work.data(), w, h, path);
        ASSERT_EQ(work, want) << what << ", " << zptest::vectorPathName(path);
    }
}

void spurRemovalOn(std::uint8_t* image, std::int32_t w, std::int32_t h, zp::VectorPath path) {
    zp::spurRemoval(0, image, w, h, path);
}

void loopFillingOn(std::uint8_t* image, std::int32_t w, std::int32_t h, zp::VectorPath path) {
    zp::loopFilling(image, w, h, path);
}

TEST(SkeletonCleanup, EveryPathOnRandomSkeletons) {
    std::mt19937 rng(53);
    std::int32_t spursRemoved = 0;
    std::int32_t loopsFilled = 0;
    for (std::int32_t trial = 0; trial < 80; ++trial) {
        const std::int32_t w = trial == 0 ? 256 : 24 + static_cast<std::int32_t>(rng() % 233);
        const std::int32_t h = trial == 0 ? 384 : 24 + static_cast<std::int32_t>(rng() % 361);
        const std::int32_t density = 5 + static_cast<std::int32_t>(rng() % 50);
        std::vector<std::uint8_t> image = zptest::randomSkeleton(rng, w, h, density);
        const std::string what = "trial " + std::to_string(trial);
        ASSERT_NO_FATAL_FAILURE(expectOnEveryPath(image, w, h, what, spurRemovalOn));
        ASSERT_NO_FATAL_FAILURE(expectOnEveryPath(image, w, h, what, loopFillingOn));
        std::vector<std::uint8_t> cleaned = image;
        zp::spurRemoval(0, cleaned.data(), w, h);
        spursRemoved += cleaned != image ? 1 : 0;
        ASSERT_NO_FATAL_FAILURE(expectOnEveryPath(cleaned, w, h, "again, " + what, spurRemovalOn));
        ASSERT_NO_FATAL_FAILURE(expectOnEveryPath(cleaned, w, h, "after spurs, " + what, loopFillingOn));
        std::vector<std::uint8_t> filled = cleaned;
        zp::loopFilling(filled.data(), w, h);
        loopsFilled += filled != cleaned ? 1 : 0;
    }
    EXPECT_GT(spursRemoved, 60);
    EXPECT_GT(loopsFilled, 40);
}

TEST(SkeletonCleanup, EveryPathOnRealSkeletons) {
    ZP_REQUIRE_DATA();
    for (const zptest::Capture& c : zptest::kPathCaptures) {
        zptest::StageInput in = zptest::realStageInput(c, zptest::RidgeStage::Done);
        ASSERT_FALSE(in.image.empty()) << c.set;
        zp::thinning(in.image.data(), in.w, in.h, 8);
        ASSERT_NO_FATAL_FAILURE(expectOnEveryPath(in.image, in.w, in.h, c.set, spurRemovalOn));
        zp::spurRemoval(0, in.image.data(), in.w, in.h);
        ASSERT_NO_FATAL_FAILURE(expectOnEveryPath(in.image, in.w, in.h, c.set, loopFillingOn));
    }
}

TEST(LoopFilling, LoopOfNineteenPixelArcsBecomesOneLine) {
    SkeletonCanvas img(kW + 16, kH);
    drawLoop(img, 13);
    ASSERT_EQ(countClass(img, 2), 2);
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(countClass(img, 2), 0);
    EXPECT_EQ(countClass(img, 3), 0);
    EXPECT_EQ(countClass(img, 1), 2);  // the two ends of one line
    EXPECT_TRUE(onlyZeroAndOne(img));
    for (std::int32_t y = 8; y < img.height - 8; ++y) {
        if (y < 38 || y > 42) {
            for (std::int32_t x = 8; x < img.width - 8; ++x) EXPECT_EQ(img.get(x, y), 0);
        }
    }
}

TEST(LoopFilling, LoopOfTwentyPixelArcsStays) {
    SkeletonCanvas img(kW + 16, kH);
    drawLoop(img, 14);
    const SkeletonCanvas before = img;
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(img.pixels, before.pixels);
}

TEST(LoopFilling, SmallLoopWithBothBranchesEndingAtTheSecondFork) {
    // Arcs of 6 steps: both traces stop at the second fork, which is the
    // common end of the two. The filled diamond thins to a cross: the hole's
    // centre is ridge, the arcs are gone.
    SkeletonCanvas img(kW + 16, kH);
    drawLoop(img, 0);
    ASSERT_EQ(countClass(img, 2), 2);
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(countClass(img, 2), 0);
    EXPECT_EQ(img.get(33, 40), 1);
    EXPECT_EQ(img.get(31, 39), 0);
    EXPECT_EQ(img.get(31, 41), 0);
    EXPECT_TRUE(onlyZeroAndOne(img));
}

TEST(LoopFilling, BranchComingBackToItsForkIsFilled) {
    // A lasso: a line ends in a fork whose two other branches are the two
    // ends of one loop of 11 pixels. The trace along the loop reaches the fork
    // again, where the step answers 2.
    SkeletonCanvas img(kW, kH);
    img.line(10, 40, 30, 40);
    img.setAll({{31, 39}, {32, 38}, {33, 38}, {34, 38}, {35, 39}, {35, 40}, {35, 41}, {34, 42},
                {33, 42}, {32, 42}, {31, 41}});
    ASSERT_EQ(countClass(img, 2), 1);
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(img.get(33, 40), 1);  // the hole became ridge
    EXPECT_EQ(img.get(35, 40), 0);  // and the ring thinned away
    EXPECT_EQ(img.get(33, 38), 0);
    EXPECT_TRUE(onlyZeroAndOne(img));
}

TEST(LoopFilling, IsolatedPixelIsRemoved) {
    SkeletonCanvas img(kW, kH);
    img.set(40, 40);
    img.line(20, 20, 60, 20);
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(img.get(40, 40), 0);
    EXPECT_EQ(img.countSet(), 41);
}

TEST(LoopFilling, OpenForksStay) {
    SkeletonCanvas img(kW, kH);
    img.line(40, 40, 40, 70);
    img.line(40, 40, 20, 20);
    img.line(40, 40, 60, 20);
    const SkeletonCanvas before = img;
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(img.pixels, before.pixels);
}

TEST(LoopFilling, PixelsOutsideTheRegionAreNeverChanged) {
    SkeletonCanvas img(kW, kH);
    img.set(3, 3);
    img.line(0, 7, 4, 7);
    img.set(kW - 2, 40);
    const SkeletonCanvas before = img;
    zp::loopFilling(img.data(), img.width, img.height);
    EXPECT_EQ(img.pixels, before.pixels);
}

}  // namespace

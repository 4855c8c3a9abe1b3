#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "minutiae/minutiae_stages.h"
#include "minutiae/skeleton_canvas.h"

namespace {

using zp::CandidateList;
using zp::kCandidateBifurcation;
using zp::kCandidateEnding;
using zptest::SkeletonCanvas;

constexpr std::int32_t kW = 232;
constexpr std::int32_t kH = 280;

std::vector<std::uint8_t> fullBlockMap() {
    return std::vector<std::uint8_t>(static_cast<std::size_t>((kW / 8) * (kH / 8)), 1);
}

bool validAfter(std::int32_t classCode, SkeletonCanvas& img, std::int32_t x, std::int32_t y,
                std::int32_t type) {
    CandidateList list;
    list.count = 0;
    zp::appendCandidate(list, x, y, type);
    const auto map = fullBlockMap();
    zp::validateCandidates(classCode, img.data(), img.width, img.height, map.data(), list);
    return list.valid[0];
}

TEST(TraceLengths, ByClassCode) {
    EXPECT_EQ(zp::traceLengths(0).ending, 9);
    EXPECT_EQ(zp::traceLengths(0).branch, 9);
    EXPECT_EQ(zp::traceLengths(1).branch, 12);
    EXPECT_EQ(zp::traceLengths(2).branch, 12);
    EXPECT_EQ(zp::traceLengths(2).ending, 9);
    EXPECT_EQ(zp::traceLengths(3).ending, 9);
    EXPECT_EQ(zp::traceLengths(4).ending, 12);
    EXPECT_EQ(zp::traceLengths(4).branch, 9);
    EXPECT_EQ(zp::traceLengths(-1).ending, 9);
}

struct EndingCase {
    std::string name;
    std::int32_t classCode;
    std::int32_t pixels;  // ridge pixels including the ending
    bool forkAtEnd;       // the ridge forks at its last pixel
    bool expected;
};

TEST(EndingValidation, RidgeMustContinueForTheTraceLength) {
    const std::vector<EndingCase> cases = {
        {"10 pixels: nine steps", 0, 10, false, true},
        {"9 pixels: the ninth step ends", 0, 9, false, false},
        {"6-pixel piece", 0, 6, false, false},
        {"fork after the tenth step, class 0", 0, 11, true, true},
        {"fork after the tenth step, class 4", 4, 11, true, false},
        {"13 pixels, class 4", 4, 13, false, true},
        {"12 pixels, class 4", 4, 12, false, false},
        {"fork reached at the ninth step, class 0", 0, 10, true, true},
        {"fork reached at the eighth step, class 0", 0, 9, true, false},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(kW, kH);
        const std::int32_t last = 40 + c.pixels - 1;
        img.line(40, 100, last, 100);
        if (c.forkAtEnd) {
            img.line(last, 100, last + 12, 88);
            img.line(last, 100, last + 12, 112);
        }
        EXPECT_EQ(validAfter(c.classCode, img, 40, 100, kCandidateEnding), c.expected) << c.name;
    }
}

// A narrow Y at (100, 100): the stem runs straight down, each arm goes three
// pixels diagonally up and then straight up, so the arms run 6 pixels apart.
void drawY(SkeletonCanvas& img, std::int32_t stemPixels, std::int32_t armPixels) {
    img.line(100, 100, 100, 100 + stemPixels);
    for (std::int32_t side : {-1, 1}) {
        img.line(100, 100, 100 + 3 * side, 97);
        if (armPixels > 3) img.line(100 + 3 * side, 97, 100 + 3 * side, 100 - armPixels);
    }
}

struct ForkCase {
    std::string name;
    std::int32_t classCode;
    std::int32_t stemPixels;  // pixels of the stem below the fork
    std::int32_t armPixels;   // pixels of each arm
    bool expected;
};

TEST(BifurcationValidation, BranchLengths) {
    const std::vector<ForkCase> cases = {
        {"all branches long", 0, 30, 20, true},
        {"stem of 9 pixels, class 0: one short branch is allowed", 0, 9, 20, true},
        {"stem of 8 pixels, class 0: stops at the ninth point", 0, 8, 20, true},
        {"stem of 7 pixels, class 0: too short", 0, 7, 20, false},
        {"stem of 9 pixels, class 1: too short", 1, 9, 20, false},
        {"stem of 10 pixels, class 2: too short", 2, 10, 20, false},
        {"stem of 11 pixels, class 2: not short", 2, 11, 20, true},
        {"stem of 14 pixels, class 4", 4, 14, 20, true},
        {"arms of 10 pixels, class 0: two short branches", 0, 30, 10, false},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(kW, kH);
        drawY(img, c.stemPixels, c.armPixels);
        EXPECT_EQ(validAfter(c.classCode, img, 100, 100, kCandidateBifurcation), c.expected)
            << c.name;
    }
}

TEST(BifurcationValidation, WideForkIsInvalid) {
    // Arms at 45 degrees to either side: the reference triangle is too even.
    SkeletonCanvas img(kW, kH);
    img.line(100, 100, 100, 130);
    img.line(100, 100, 80, 80);
    img.line(100, 100, 120, 80);
    EXPECT_FALSE(validAfter(0, img, 100, 100, kCandidateBifurcation));
}

TEST(BifurcationValidation, FlatForkIsInvalid) {
    // Arms leave side by side and run two pixels apart: the shortest side of
    // the reference triangle is 2.
    SkeletonCanvas img(kW, kH);
    img.line(100, 100, 100, 130);
    img.line(100, 100, 99, 99);
    img.line(99, 99, 99, 70);
    img.line(100, 100, 101, 99);
    img.line(101, 99, 101, 70);
    EXPECT_FALSE(validAfter(0, img, 100, 100, kCandidateBifurcation));
}

// The right arm of the narrow Y forks at (103, 92), its eighth point.
void drawForkedRightArm(SkeletonCanvas& img) {
    img.line(100, 100, 100, 130);
    img.line(100, 100, 97, 97);
    img.line(97, 97, 97, 80);
    img.line(100, 100, 103, 97);
    img.line(103, 97, 103, 92);
    img.line(103, 92, 101, 90);
    img.line(101, 90, 101, 70);
    img.line(103, 92, 115, 80);
}

TEST(BifurcationValidation, ForkedBranches) {
    SkeletonCanvas one(kW, kH);
    drawForkedRightArm(one);
    EXPECT_TRUE(validAfter(0, one, 100, 100, kCandidateBifurcation));

    // Both arms fork: invalid.
    SkeletonCanvas two(kW, kH);
    two.line(100, 100, 100, 130);
    two.line(100, 100, 97, 97);
    two.line(97, 97, 97, 92);
    two.line(97, 92, 85, 80);
    two.line(97, 92, 99, 90);
    two.line(99, 90, 99, 70);
    two.line(100, 100, 103, 97);
    two.line(103, 97, 103, 92);
    two.line(103, 92, 115, 80);
    two.line(103, 92, 102, 91);
    two.line(102, 91, 102, 70);
    EXPECT_FALSE(validAfter(0, two, 100, 100, kCandidateBifurcation));
}

TEST(BifurcationValidation, ForkedBranchOutsideTheSafeArea) {
    // The single forked branch is fatal when both forks fail the safe-area
    // test: block (12, 12) lies among the nine blocks of both.
    SkeletonCanvas img(kW, kH);
    drawForkedRightArm(img);
    CandidateList list;
    list.count = 0;
    zp::appendCandidate(list, 100, 100, kCandidateBifurcation);
    auto map = fullBlockMap();
    map[static_cast<std::size_t>(12 * (kW / 8) + 12)] = 0;
    zp::validateCandidates(0, img.data(), img.width, img.height, map.data(), list);
    EXPECT_FALSE(list.valid[0]);
}

TEST(BifurcationValidation, ArmsEndingSideBySide) {
    // Both arms are 12 pixels long (neither short nor long) and end in row 88.
    const auto draw = [](SkeletonCanvas& img, std::int32_t rightEndX) {
        img.line(100, 100, 100, 130);
        img.line(100, 100, 97, 97);
        img.line(97, 97, 97, 92);
        img.line(97, 92, 99, 90);
        img.line(99, 90, 99, 88);
        img.line(100, 100, 103, 97);
        img.line(103, 97, 103, 92);
        if (rightEndX == 101) {
            img.line(103, 92, 101, 90);
            img.line(101, 90, 101, 88);
        } else {
            img.line(103, 92, 102, 91);
            img.line(102, 91, 102, 88);
        }
    };
    SkeletonCanvas near(kW, kH);
    draw(near, 101);
    EXPECT_FALSE(validAfter(0, near, 100, 100, kCandidateBifurcation));
    SkeletonCanvas apart(kW, kH);
    draw(apart, 102);
    EXPECT_TRUE(validAfter(0, apart, 100, 100, kCandidateBifurcation));
}

}  // namespace

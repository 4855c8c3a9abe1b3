#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "minutiae/minutiae_stages.h"
#include "minutiae/skeleton_canvas.h"

namespace {

using zp::CandidateList;
using zp::kCandidateBifurcation;
using zp::kCandidateEnding;
using zptest::SkeletonCanvas;

constexpr std::int32_t E = kCandidateEnding;
constexpr std::int32_t B = kCandidateBifurcation;

struct Placed {
    std::int32_t x, y, type;
};

CandidateList makeList(const std::vector<Placed>& placed) {
    CandidateList list;
    list.count = 0;
    for (const auto& p : placed) zp::appendCandidate(list, p.x, p.y, p.type);
    return list;
}

std::vector<bool> keptFlags(const CandidateList& list) {
    std::vector<bool> kept;
    for (std::int32_t i = 0; i < list.count; ++i) kept.push_back(list.kept[i]);
    return kept;
}

struct PairCase {
    std::string name;
    std::vector<Placed> candidates;
    std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, std::pair<std::int32_t, std::int32_t>>>
        ridges;  // drawn for the short ending directions
    std::vector<bool> expectedKept;
};

TEST(PairFilter, DistanceAndTypeTable) {
    const std::vector<PairCase> cases = {
        {"two endings at d2 = 36 both go", {{30, 30, E}, {36, 30, E}}, {}, {false, false}},
        {"two endings at d2 = 100, directions 0 and 180, second ahead: both stay",
         {{30, 30, E}, {40, 30, E}},
         {{{30, 30}, {40, 30}}},
         {true, true}},
        {"two endings at d2 = 100, directions 0 and 90: both go",
         {{30, 30, E}, {40, 30, E}},
         {{{30, 30}, {36, 30}}, {{40, 30}, {40, 45}}},
         {false, false}},
        {"two endings at d2 = 145 are never compared", {{30, 30, E}, {42, 31, E}}, {}, {true, true}},
        {"ending and bifurcation at d2 = 36: the ending goes", {{30, 30, E}, {36, 30, B}}, {},
         {false, true}},
        {"bifurcation and ending at d2 = 36: the ending goes", {{30, 30, B}, {36, 30, E}}, {},
         {true, false}},
        {"ending and bifurcation at d2 = 25: the ending goes", {{30, 30, E}, {33, 34, B}}, {},
         {false, true}},
        {"ending and bifurcation at d2 = 16: both go", {{30, 30, E}, {34, 30, B}}, {},
         {false, false}},
        {"ending and bifurcation at d2 = 49: the ending goes", {{30, 30, E}, {37, 30, B}}, {},
         {false, true}},
        {"ending and bifurcation at d2 = 50: untouched", {{30, 30, E}, {37, 31, B}}, {},
         {true, true}},
        {"ending and bifurcation at d2 = 64: untouched", {{30, 30, E}, {38, 30, B}}, {},
         {true, true}},
        {"two bifurcations at d2 = 49 both go", {{30, 30, B}, {37, 30, B}}, {}, {false, false}},
        {"two bifurcations at d2 = 50 both stay", {{30, 30, B}, {37, 31, B}}, {}, {true, true}},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(64, 64);
        for (const auto& r : c.ridges) img.line(r.first.first, r.first.second, r.second.first, r.second.second);
        CandidateList list = makeList(c.candidates);
        zp::pairFilter(img.data(), img.width, list);
        EXPECT_EQ(keptFlags(list), c.expectedKept) << c.name;
    }
}

// B at (30, 30) with its ridge to the right (short direction 0) and C ten
// pixels below with its ridge up to the left (short direction 202). Seen from
// B, C lies at 90 degrees off B's direction: the pair goes. Seen from C, B
// lies 68 degrees off C's direction: the pair stays.
void drawAsymmetricPair(SkeletonCanvas& img) {
    img.line(30, 30, 45, 30);
    img.setAll({{30, 40}, {29, 40}, {28, 39}, {27, 39}, {26, 38}, {25, 38}, {24, 38}, {23, 38}});
}

TEST(PairFilter, AsymmetricEndingPairDependsOnWhoseTurnItIs) {
    SkeletonCanvas img(64, 64);
    drawAsymmetricPair(img);
    CandidateList bFirst = makeList({{30, 30, E}, {30, 40, E}});
    zp::pairFilter(img.data(), img.width, bFirst);
    EXPECT_EQ(keptFlags(bFirst), (std::vector<bool>{false, false}));
    CandidateList cFirst = makeList({{30, 40, E}, {30, 30, E}});
    zp::pairFilter(img.data(), img.width, cFirst);
    // C's turn keeps both; B's later turn still drops both.
    EXPECT_EQ(keptFlags(cFirst), (std::vector<bool>{false, false}));
}

TEST(PairFilter, EndingLosingItsFlagToABifurcationGoesOnWithItsScan) {
    // i = B's ending, j = a bifurcation 6 pixels above it, then C. i loses its
    // flag to j and its scan goes on to C, which it drops. C's own turn would
    // have kept both.
    SkeletonCanvas img(64, 64);
    drawAsymmetricPair(img);
    CandidateList list = makeList({{30, 30, E}, {30, 24, B}, {30, 40, E}});
    zp::pairFilter(img.data(), img.width, list);
    EXPECT_EQ(keptFlags(list), (std::vector<bool>{false, true, false}));
}

TEST(PairFilter, KeptFlagIsReadWhenTheTurnComes) {
    // A drops B (d2 = 36) before B's turn, so B's turn is skipped and C, which
    // only B's turn would drop, stays.
    SkeletonCanvas img(64, 64);
    drawAsymmetricPair(img);
    CandidateList list = makeList({{30, 24, E}, {30, 30, E}, {30, 40, E}});
    zp::pairFilter(img.data(), img.width, list);
    EXPECT_EQ(keptFlags(list), (std::vector<bool>{false, false, true}));
}

TEST(PairFilter, InvalidPartnersAreIgnored) {
    SkeletonCanvas img(64, 64);
    CandidateList list = makeList({{30, 30, E}, {33, 30, E}, {30, 33, B}});
    list.valid[1] = false;
    list.valid[2] = false;
    zp::pairFilter(img.data(), img.width, list);
    EXPECT_TRUE(list.kept[0]);
}

TEST(InvalidNeighbourFilter, DropsValidCandidatesWithinSixPixels) {
    CandidateList list = makeList({{30, 30, E}, {36, 30, B}, {60, 60, B}, {60, 67, E}, {90, 90, E}});
    list.valid[1] = false;  // 6 pixels from the first
    list.valid[3] = false;  // 7 pixels from the third
    list.kept[4] = false;   // already dropped, far from everything
    zp::invalidNeighbourFilter(list);
    EXPECT_FALSE(list.kept[0]);
    EXPECT_TRUE(list.kept[2]);
    EXPECT_FALSE(list.kept[4]);
}

TEST(BorderFilter, DropsEndingsWithinSixPixelsOfABorderEnding) {
    CandidateList list = makeList({{30, 30, E}, {30, 30, B}, {60, 60, E}});
    zp::BorderList border;
    border.count = 2;
    border.x[0] = 36;
    border.y[0] = 30;
    border.x[1] = 67;
    border.y[1] = 60;
    zp::borderFilter(list, border);
    EXPECT_EQ(keptFlags(list), (std::vector<bool>{false, true, true}));
}

struct ForkCase {
    std::string name;
    std::int32_t forkOffset;  // pixels from the ending to the fork along the ridge
    bool forkKept;
    bool forkValid;
    bool expectedKept;
};

TEST(RemovedForkFilter, EndingsRunningIntoDroppedForks) {
    const std::vector<ForkCase> cases = {
        {"fork dropped, met at step 5", 4, false, true, false},
        {"fork invalid, met at step 5", 4, true, false, false},
        {"fork kept, met at step 5", 4, true, true, true},
        {"fork dropped, met at step 16", 15, false, true, false},
        {"fork dropped, beyond step 16", 16, false, true, true},
        {"fork dropped, met at step 2 does not count", 1, false, true, true},
    };
    for (const auto& c : cases) {
        SkeletonCanvas img(96, 64);
        const std::int32_t fx = 20 + c.forkOffset;
        img.line(20, 30, fx, 30);
        img.line(fx, 30, fx + 10, 20);
        img.line(fx, 30, fx + 10, 40);
        CandidateList list = makeList({{20, 30, E}, {fx, 30, B}});
        list.kept[1] = c.forkKept;
        list.valid[1] = c.forkValid;
        zp::removedForkFilter(img.data(), img.width, list);
        EXPECT_EQ(list.kept[0], c.expectedKept) << c.name;
    }
}

TEST(RemovedForkFilter, ForkWithoutCandidateDoesNotCount) {
    SkeletonCanvas img(96, 64);
    img.line(20, 30, 24, 30);
    img.line(24, 30, 34, 20);
    img.line(24, 30, 34, 40);
    CandidateList list = makeList({{20, 30, E}});
    zp::removedForkFilter(img.data(), img.width, list);
    EXPECT_TRUE(list.kept[0]);
}

}  // namespace

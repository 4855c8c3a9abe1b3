#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "minutiae/minutiae_stages.h"

namespace {

using zp::Candidate;
using zp::CandidateList;
using zp::kCandidateBifurcation;
using zp::kCandidateEnding;

struct LevelCase {
    std::string name;
    std::int32_t type;
    std::int32_t neighbourDistance;  // along y; 0 = no neighbour
    std::int32_t expected;
};

TEST(IsolationLevel, BandOfTheNearestOtherCandidate) {
    const std::vector<LevelCase> cases = {
        {"ending, 3 pixels", kCandidateEnding, 3, 0},
        {"ending, 4 pixels", kCandidateEnding, 4, 1},
        {"ending, 9 pixels", kCandidateEnding, 9, 2},
        {"ending, 27 pixels", kCandidateEnding, 27, 6},
        {"ending, 28 pixels", kCandidateEnding, 28, 7},
        {"ending alone", kCandidateEnding, 0, 7},
        {"bifurcation, 3 pixels", kCandidateBifurcation, 3, 1},
        {"bifurcation, 22 pixels", kCandidateBifurcation, 22, 6},
        {"bifurcation, 27 pixels", kCandidateBifurcation, 27, 7},
        {"bifurcation alone", kCandidateBifurcation, 0, 7},
    };
    for (const auto& c : cases) {
        CandidateList list;
        list.count = 0;
        zp::appendCandidate(list, 100, 100, c.type);
        if (c.neighbourDistance > 0) {
            zp::appendCandidate(list, 100, 100 + c.neighbourDistance, kCandidateEnding);
            list.valid[1] = false;  // invalid candidates count as neighbours too
        }
        zp::appendCandidate(list, 100, 200, kCandidateEnding);  // far away
        EXPECT_EQ(zp::isolationLevel(list, list.entries[0]), c.expected) << c.name;
    }
}

TEST(MinutiaeSelection, SixtySurvivorsKeepTheFiftyMostIsolated) {
    // 60 survivors in a row 40 pixels apart (level 7), some with an invalid
    // candidate below them at a distance that lowers their level.
    struct Near {
        std::int32_t index;
        std::int32_t distance;
        std::int32_t type;
    };
    const std::vector<Near> near = {
        {3, 3, kCandidateEnding},        // level 0
        {7, 5, kCandidateEnding},        // 1
        {10, 26, kCandidateEnding},      // 6
        {13, 9, kCandidateEnding},       // 2
        {20, 25, kCandidateEnding},      // 6
        {25, 22, kCandidateBifurcation}, // 5 + 1 = 6
        {30, 24, kCandidateEnding},      // 6
        {35, 12, kCandidateEnding},      // 3
        {44, 17, kCandidateEnding},      // 4
        {50, 20, kCandidateEnding},      // 5
        {55, 3, kCandidateBifurcation},  // 0 + 1 = 1
        {57, 16, kCandidateEnding},      // 4
    };
    CandidateList list;
    list.count = 0;
    std::vector<std::int32_t> types(60, kCandidateEnding);
    for (const auto& n : near) types[static_cast<std::size_t>(n.index)] = n.type;
    for (std::int32_t i = 0; i < 60; ++i) {
        zp::appendCandidate(list, 10 + 40 * i, 100, types[static_cast<std::size_t>(i)]);
    }
    for (const auto& n : near) {
        zp::appendCandidate(list, 10 + 40 * n.index, 100 + n.distance, kCandidateEnding);
        list.valid[list.count - 1] = false;
    }
    Candidate survivors[zp::kMaxCandidates];
    const std::int32_t s = zp::collectSurvivors(list, survivors);
    ASSERT_EQ(s, 60);
    const std::int32_t n = zp::selectMinutiae(list, survivors, s, 50);
    ASSERT_EQ(n, 50);
    // Dropped: the eight below level 6, and of the four at level 6 the last two.
    const std::set<std::int32_t> dropped = {3, 7, 13, 25, 30, 35, 44, 50, 55, 57};
    std::vector<std::int32_t> expected;
    for (std::int32_t i = 0; i < 60; ++i) {
        if (dropped.count(i) == 0) expected.push_back(10 + 40 * i);
    }
    std::vector<std::int32_t> got;
    for (std::int32_t i = 0; i < n; ++i) got.push_back(survivors[i].x);
    EXPECT_EQ(got, expected);
}

TEST(MinutiaeSelection, NoMoreThanTheLimitLeavesTheSurvivorsAlone) {
    CandidateList list;
    list.count = 0;
    for (std::int32_t i = 0; i < 5; ++i) zp::appendCandidate(list, 10 + i, 10, kCandidateEnding);
    Candidate survivors[zp::kMaxCandidates];
    const std::int32_t s = zp::collectSurvivors(list, survivors);
    EXPECT_EQ(zp::selectMinutiae(list, survivors, s, 5), 5);
    for (std::int32_t i = 0; i < 5; ++i) EXPECT_EQ(survivors[i].x, 10 + i);
}

TEST(Survivors, OnlyValidAndKeptInListOrder) {
    CandidateList list;
    list.count = 0;
    for (std::int32_t i = 0; i < 6; ++i) zp::appendCandidate(list, i, 0, kCandidateEnding);
    list.valid[1] = false;
    list.kept[2] = false;
    list.valid[4] = false;
    list.kept[4] = false;
    Candidate survivors[zp::kMaxCandidates];
    ASSERT_EQ(zp::collectSurvivors(list, survivors), 3);
    EXPECT_EQ(survivors[0].x, 0);
    EXPECT_EQ(survivors[1].x, 3);
    EXPECT_EQ(survivors[2].x, 5);
}

struct YieldCase {
    std::int32_t survivors, candidates, expected;
};

TEST(CandidateYield, TruncatedPercentage) {
    const std::vector<YieldCase> cases = {
        {30, 40, 75}, {2, 3, 66}, {1, 3, 33}, {0, 7, 0}, {7, 7, 100}, {0, 0, 0}, {199, 200, 99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zp::candidateYield(c.survivors, c.candidates), c.expected)
            << c.survivors << "/" << c.candidates;
    }
}

TEST(CandidateList, CapacityDropsLaterEntries) {
    CandidateList list;
    list.count = 0;
    for (std::int32_t i = 0; i < 250; ++i) zp::appendCandidate(list, i, i, kCandidateEnding);
    EXPECT_EQ(list.count, zp::kMaxCandidates);
    EXPECT_EQ(list.entries[zp::kMaxCandidates - 1].x, zp::kMaxCandidates - 1);
}

}  // namespace

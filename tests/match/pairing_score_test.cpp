#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "match/candidate_pairs.h"
#include "match/matching_model.h"
#include "match/pairing_score.h"

namespace {

zp::MinutiaRecord at(std::int32_t x, std::int32_t y, std::int32_t direction = 0, std::uint8_t type = 1) {
    return zp::MinutiaRecord{x, y, direction, type, {0, 0, 0}};
}

TEST(PairWeight, WorkedExamples) {
    const std::int32_t cases[][3] = {{0, 0, 88}, {3, 7, 88}, {4, 0, 60}, {0, 8, 64}, {4, 1, 57}, {6, 12, 10}};
    for (const auto& c : cases) EXPECT_EQ(zp::pairWeight(c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

TEST(CombineScore, LeftToRightTruncation) {
    EXPECT_EQ(zp::combineScore(5 * 88 * 4 + 88 + 60 + 44, 8, 10, 5, 12), 32);
    EXPECT_EQ(zp::combineScore(3 * 88 * 6, 3, 3, 3, 3), 79);
    EXPECT_EQ(zp::combineScore(50 * 88 * 49, 50, 1, 50, 50), 100);
}

struct Scene {
    zp::MatchingModel a{};
    zp::MatchingModel aligned{};
    zp::CandidatePairList pairs{};
    void addA(const zp::MinutiaRecord& m) { a.minutiae[static_cast<std::size_t>(a.count++)] = m; }
    void addL(const zp::MinutiaRecord& m) { aligned.minutiae[static_cast<std::size_t>(aligned.count++)] = m; }
    void pair(std::int32_t i, std::int32_t j, std::int32_t s) {
        pairs.entries[pairs.count++] = zp::CandidatePair{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j), static_cast<std::uint8_t>(s)};
    }
};

TEST(AnchorScore, ScoreOf32) {
    Scene s;
    // Five confirmed candidate pairs of weight 88, similarity 4.
    for (std::int32_t k = 0; k < 5; ++k) {
        s.addA(at(10 + 10 * k, 10));
        s.addL(at(10 + 10 * k, 10));
        s.pair(k, k, 4);
    }
    // Seven candidate pairs that the alignment does not confirm.
    for (std::int32_t k = 0; k < 7; ++k) {
        s.addA(at(10 + 10 * k, 40));
        s.addL(at(10 + 10 * k, 80));
        s.pair(5 + k, 5 + k, 3);
    }
    // Second pass: weights 88 (d 0), 60 (d 4) and 44 (88, types differ).
    s.addA(at(10, 120));
    s.addL(at(10, 120));
    s.addA(at(40, 120));
    s.addL(at(44, 120));
    s.addA(at(80, 120, 0, 1));
    s.addL(at(80, 120, 0, 2));
    EXPECT_EQ(zp::anchorScore(s.a, s.aligned, s.pairs, 10), 32);
}

TEST(AnchorScore, ScoreOf79) {
    Scene s;
    for (std::int32_t k = 0; k < 3; ++k) {
        s.addA(at(10 + 20 * k, 10));
        s.addL(at(10 + 20 * k, 10));
        s.pair(k, k, 6);
    }
    EXPECT_EQ(zp::anchorScore(s.a, s.aligned, s.pairs, 3), 79);
}

TEST(AnchorScore, NoCandidatePairsScoresZero) {
    Scene s;
    s.addA(at(10, 10));
    s.addL(at(10, 10));
    EXPECT_EQ(zp::anchorScore(s.a, s.aligned, s.pairs, 1), 0);
}

TEST(AnchorScore, OnlySecondPassPairsScoreZero) {
    Scene s;
    s.addA(at(10, 10));
    s.addL(at(100, 100));
    s.pair(0, 0, 9);
    for (std::int32_t k = 0; k < 5; ++k) {
        s.addA(at(20 + 10 * k, 40));
        s.addL(at(20 + 10 * k, 40));
    }
    EXPECT_EQ(zp::anchorScore(s.a, s.aligned, s.pairs, 5), 0);
}

TEST(AnchorScore, PassLimitAfterTwentyFiveConfirmedPairs) {
    // 25 confirmed pairs (T = 25), then the second pass adds one pair only.
    Scene s;
    for (std::int32_t k = 0; k < 25; ++k) {
        s.addA(at(8 + 10 * (k % 10), 8 + 10 * (k / 10)));
        s.addL(at(8 + 10 * (k % 10), 8 + 10 * (k / 10)));
        s.pair(k, k, 2);
    }
    for (std::int32_t k = 0; k < 3; ++k) {
        s.addA(at(8 + 10 * k, 100));
        s.addL(at(8 + 10 * k, 100));
    }
    const std::int32_t sum = 25 * 88 * 2 + 88;  // T = 26, F = 25
    EXPECT_EQ(zp::anchorScore(s.a, s.aligned, s.pairs, 200), zp::combineScore(sum, 26, 200, 25, 25));
    // Without the limit the score would count two more pairs.
    EXPECT_NE(zp::combineScore(sum, 26, 200, 25, 25), zp::combineScore(sum + 2 * 88, 28, 200, 25, 25));
}

TEST(AnchorScore, SecondPassPairsOneMinutiaOfATwice) {
    Scene s;
    s.addA(at(10, 10));
    s.addL(at(10, 10));
    s.pair(0, 0, 5);
    s.addA(at(50, 50));  // within reach of both of the next two
    s.addL(at(50, 52));
    s.addL(at(52, 50));
    // T = 3 (one confirmed, two second-pass), F = 1, C = 1.
    const std::int32_t sum = 88 * 5 + 88 + 88;
    EXPECT_EQ(zp::anchorScore(s.a, s.aligned, s.pairs, 3), zp::combineScore(sum, 3, 3, 1, 1));
}

TEST(AnchorScore, LargerExpectedOverlapNeverScoresHigher) {
    Scene s;
    for (std::int32_t k = 0; k < 6; ++k) {
        s.addA(at(10 + 12 * k, 10, 5 * k));
        s.addL(at(11 + 12 * k, 10, 5 * k + 3));
        s.pair(k, k, 3 + k);
    }
    std::int32_t previous = 101;
    for (std::int32_t n = 1; n < 60; ++n) {
        const std::int32_t score = zp::anchorScore(s.a, s.aligned, s.pairs, n);
        EXPECT_LE(score, previous) << n;
        previous = score;
    }
}

}  // namespace

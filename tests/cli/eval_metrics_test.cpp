#include "eval_metrics.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using zpcli::kMaxScore;
using zpcli::kRejected;
using zpcli::ScoreList;
using zpcli::verificationMetrics;

TEST(EvalMetrics, RatesAtEveryThresholdCountScoresAtOrAboveIt) {
    const auto m = verificationMetrics({{10, 20, 30, 40}, {0, 5, 10, 25}});
    EXPECT_DOUBLE_EQ(m.fmr[0], 1.0);
    EXPECT_DOUBLE_EQ(m.fnmr[0], 0.0);
    // At 10 the impostor 10 is still accepted and the genuine 10 too.
    EXPECT_DOUBLE_EQ(m.fmr[10], 0.5);
    EXPECT_DOUBLE_EQ(m.fnmr[10], 0.0);
    EXPECT_DOUBLE_EQ(m.fmr[11], 0.25);
    EXPECT_DOUBLE_EQ(m.fnmr[11], 0.25);
    EXPECT_DOUBLE_EQ(m.fmr[26], 0.0);
    EXPECT_DOUBLE_EQ(m.fnmr[26], 0.5);
    EXPECT_DOUBLE_EQ(m.fmr[kMaxScore], 0.0);
    EXPECT_DOUBLE_EQ(m.fnmr[kMaxScore], 1.0);
    // The extra threshold accepts nothing, not even a score of 100.
    const auto top = verificationMetrics({{100}, {100}});
    EXPECT_DOUBLE_EQ(top.fmr[kMaxScore], 1.0);
    EXPECT_DOUBLE_EQ(top.fmr[kMaxScore + 1], 0.0);
    EXPECT_DOUBLE_EQ(top.fnmr[kMaxScore + 1], 1.0);
}

TEST(EvalMetrics, EerWhereTheCurvesCrossAtAThresholdIsThatRate) {
    // From 11 to 20: FMR 1/4, FNMR 1/4; t1 is the last of them.
    const auto m = verificationMetrics({{10, 20, 30, 40}, {0, 5, 10, 25}});
    EXPECT_DOUBLE_EQ(m.eerLow, 0.25);
    EXPECT_DOUBLE_EQ(m.eerHigh, 0.25);
    EXPECT_DOUBLE_EQ(m.eer, 0.25);
    EXPECT_EQ(m.eerThreshold, 20);
}

TEST(EvalMetrics, EerBetweenThresholdsIsTheMiddleOfTheNarrowerSide) {
    struct Case {
        ScoreList scores;
        double low, high, eer;
        int threshold;
    };
    const std::vector<Case> cases = {
        // Separated by a gap: both rates are 0 from 21 to 60; t1 = 60.
        {{{60, 70}, {10, 20}}, 0.0, 0.0, 0.0, 60},
        // t1 = 30: FNMR 0, FMR 1/2 (sum 0.5); t2 = 31: FMR 0, FNMR 1/2 (sum 0.5):
        // equal sums take t1's side.
        {{{30, 80}, {10, 30}}, 0.0, 0.5, 0.25, 30},
        // t1 = 40: FNMR 0, FMR 2/4 (sum .5); t2 = 41: FMR 1/4, FNMR 1/2 (sum .75).
        {{{40, 90}, {10, 20, 40, 60}}, 0.0, 0.5, 0.25, 40},
        // t1 = 20: FNMR 1/4, FMR 1 (sum 1.25); t2 = 21: FMR 0, FNMR 1/4
        // (sum .25): t2's side.
        {{{5, 50, 60, 70}, {20, 20}}, 0.0, 0.25, 0.125, 21},
    };
    for (const Case& c : cases) {
        const auto m = verificationMetrics(c.scores);
        EXPECT_DOUBLE_EQ(m.eerLow, c.low) << "threshold " << c.threshold;
        EXPECT_DOUBLE_EQ(m.eerHigh, c.high) << "threshold " << c.threshold;
        EXPECT_DOUBLE_EQ(m.eer, c.eer) << "threshold " << c.threshold;
        EXPECT_EQ(m.eerThreshold, c.threshold);
    }
}

TEST(EvalMetrics, FullOverlapGivesHalf) {
    // Every score tied: at t <= 50 everything is accepted, above nothing.
    const auto m = verificationMetrics({{50, 50}, {50, 50}});
    EXPECT_DOUBLE_EQ(m.eer, 0.5);
    EXPECT_DOUBLE_EQ(m.zeroFmr.fnmr, 1.0);
    EXPECT_EQ(m.zeroFmr.threshold, 51);
    EXPECT_DOUBLE_EQ(m.zeroFnmr.fmr, 1.0);
    EXPECT_EQ(m.zeroFnmr.threshold, 50);
}

TEST(EvalMetrics, Fmr100TakesTheLowestThresholdWithFmrWithinOnePercent) {
    // 200 impostors: two score 40, one 30, the rest 0. FMR(31) = 2/200 = 1 %
    // meets the bound exactly; FMR(41) = 0.
    ScoreList s;
    s.impostor.assign(197, 0);
    s.impostor.push_back(30);
    s.impostor.push_back(40);
    s.impostor.push_back(40);
    s.genuine = {20, 35, 45, 60};
    const auto m = verificationMetrics(s);
    EXPECT_EQ(m.fmr100.threshold, 31);
    EXPECT_DOUBLE_EQ(m.fmr100.fmr, 0.01);
    EXPECT_DOUBLE_EQ(m.fmr100.fnmr, 0.25);
    // 0.1 % allows no false match among 200.
    EXPECT_EQ(m.fmr1000.threshold, 41);
    EXPECT_DOUBLE_EQ(m.fmr1000.fnmr, 0.5);
    EXPECT_EQ(m.zeroFmr.threshold, 41);
    EXPECT_DOUBLE_EQ(m.zeroFmr.fnmr, 0.5);
}

TEST(EvalMetrics, ZeroFmrAboveTheHighestImpostorScore) {
    const auto m = verificationMetrics({{30, 55, 56, 90}, {0, 12, 55}});
    EXPECT_EQ(m.zeroFmr.threshold, 56);
    EXPECT_DOUBLE_EQ(m.zeroFmr.fmr, 0.0);
    EXPECT_DOUBLE_EQ(m.zeroFmr.fnmr, 0.5);  // 30 and 55 rejected
    // ZeroFNMR: highest threshold accepting every genuine, 30.
    EXPECT_EQ(m.zeroFnmr.threshold, 30);
    EXPECT_DOUBLE_EQ(m.zeroFnmr.fmr, 1.0 / 3.0);
}

TEST(EvalMetrics, TiesBetweenGenuineAndImpostorScoresMoveTogether) {
    // A genuine and an impostor both at 40: no threshold separates them.
    const auto m = verificationMetrics({{40, 80}, {10, 40}});
    EXPECT_DOUBLE_EQ(m.fmr[40], 0.5);
    EXPECT_DOUBLE_EQ(m.fnmr[40], 0.0);
    EXPECT_DOUBLE_EQ(m.fmr[41], 0.0);
    EXPECT_DOUBLE_EQ(m.fnmr[41], 0.5);
    EXPECT_DOUBLE_EQ(m.eer, 0.25);
    EXPECT_DOUBLE_EQ(m.zeroFmr.fnmr, 0.5);
}

TEST(EvalMetrics, RejectedComparisonsAreFalseNonMatchesButNeverFalseMatches) {
    const auto m = verificationMetrics({{kRejected, 60, 70, 80}, {kRejected, 10}});
    EXPECT_EQ(m.genuineRejected, 1u);
    EXPECT_EQ(m.impostorRejected, 1u);
    EXPECT_DOUBLE_EQ(m.fnmr[0], 0.25);
    EXPECT_DOUBLE_EQ(m.fmr[0], 0.5);
    EXPECT_DOUBLE_EQ(m.fmr[11], 0.0);
    // FNMR never reaches 0: no threshold gives ZeroFNMR.
    EXPECT_EQ(m.zeroFnmr.threshold, -1);
    // t1 = 10 (FNMR 1/4, FMR 1/2), t2 = 11 (FMR 0, FNMR 1/4): t2's side.
    EXPECT_DOUBLE_EQ(m.eerLow, 0.0);
    EXPECT_DOUBLE_EQ(m.eerHigh, 0.25);
    EXPECT_DOUBLE_EQ(m.zeroFmr.fnmr, 0.25);
}

TEST(EvalMetrics, EveryGenuineRejectedStillGivesAnEer) {
    // FNMR is 1 everywhere, so FNMR <= FMR nowhere but at FMR 1.
    const auto m = verificationMetrics({{kRejected, kRejected}, {0, 0}});
    EXPECT_DOUBLE_EQ(m.eerLow, 1.0);
    EXPECT_DOUBLE_EQ(m.eerHigh, 1.0);
    EXPECT_DOUBLE_EQ(m.eer, 1.0);
}

TEST(EvalMetrics, EmptyListsGiveZeroRates) {
    const auto m = verificationMetrics({});
    EXPECT_EQ(m.genuineCount, 0u);
    EXPECT_DOUBLE_EQ(m.eer, 0.0);
    EXPECT_DOUBLE_EQ(m.fmr[0], 0.0);
}

TEST(EvalMetrics, RankCountsTiesAgainstTheTrueEntry) {
    struct Case {
        int truth;
        std::vector<int> others;
        std::size_t rank;
    };
    const std::vector<Case> cases = {
        {50, {10, 20, 30}, 1},
        {50, {10, 50, 30}, 2},
        {50, {60, 70, 50}, 4},
        {0, {}, 1},
        {kRejected, {kRejected, 5}, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(zpcli::pessimisticRank(c.truth, c.others), c.rank) << c.truth;
}

TEST(EvalMetrics, RankRatesCountMissesAsFailures) {
    const auto r = zpcli::rankRates({1, 1, 2, 10, 11, 0, 1, 3, 1, 0});
    EXPECT_EQ(r.probes, 10u);
    EXPECT_DOUBLE_EQ(r.rank1, 0.4);
    EXPECT_DOUBLE_EQ(r.rank10, 0.7);
    EXPECT_DOUBLE_EQ(zpcli::rankRates({}).rank1, 0.0);
}

}  // namespace

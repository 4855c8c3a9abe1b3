#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "api/zpapi.h"
#include "match/match_driver.h"
#include "match/synthetic_templates.h"

namespace {

using zptest::Template;

std::int32_t driverScore(const Template& a, const Template& b, std::vector<std::uint8_t>& ws) {
    return zp::matchTemplates({const_cast<std::uint8_t*>(a.data()), 256}, {const_cast<std::uint8_t*>(b.data()), 256},
                              {ws.data(), ZP_WORKSPACE_SIZE});
}

TEST(ZPMatch, SecurityLevelTable) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const auto base = zptest::plausibleMinutiae(41, 40);
    const Template a = zptest::makeTemplate(base);
    // Pairs of templates whose driver scores spread over 0..100.
    std::vector<Template> probes;
    for (std::uint32_t k = 0; k < 40; ++k) {
        zptest::Transform t{static_cast<std::int32_t>(k % 7) * 4, 2, -1, 2 + static_cast<std::int32_t>(k % 3),
                            8 + static_cast<std::int32_t>(k % 9), 0.3 + 0.08 * (k % 6), 5 + static_cast<std::int32_t>(k % 15)};
        probes.push_back(zptest::makeTemplate(zptest::transformedCopy(base, t, k)));
    }
    const std::int32_t thresholds[][2] = {{1, 10}, {2, 20}, {3, 30}, {4, 40}, {5, 50},
                                          {0, 30}, {6, 30}, {-1, 30}, {1000, 30}};
    std::vector<bool> seen(101, false);
    for (const auto& p : probes) {
        const std::int32_t s = driverScore(a, p, ws);
        seen[static_cast<std::size_t>(s)] = true;
        for (const auto& level : thresholds) {
            EXPECT_EQ(ZPMatch(a.data(), p.data(), ws.data(), level[0]), (s >= 1 && s >= level[1]) ? 1 : 0)
                << "level " << level[0] << " score " << s;
        }
    }
    std::int32_t distinct = 0;
    for (bool b : seen) distinct += b ? 1 : 0;
    EXPECT_GE(distinct, 5);
}

TEST(ZPMatch, ScoreZeroNeverMatches) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const Template a = zptest::makeTemplate(zptest::plausibleMinutiae(42, 40));
    const Template empty = zptest::makeTemplate({});
    for (std::int32_t level = -1; level <= 6; ++level) EXPECT_EQ(ZPMatch(a.data(), empty.data(), ws.data(), level), 0);
    EXPECT_EQ(ZPMatch(a.data(), a.data(), ws.data(), 5), 1);
}

Template withQuality(Template t, std::uint8_t quality, std::uint8_t tag) {
    t[9] = quality;
    t[20] = tag;  // a reserved byte, to tell copies apart
    return t;
}

std::vector<std::uint8_t> pack(const std::vector<Template>& ts) {
    std::vector<std::uint8_t> out;
    for (const auto& t : ts) out.insert(out.end(), t.begin(), t.end());
    return out;
}

TEST(ZPFingerMerge, CountBelowTwoLeavesBestZeroAndArrayAlone) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const Template a = zptest::makeTemplate(zptest::plausibleMinutiae(43, 40));
    for (std::int32_t count : {0, 1, -3}) {
        auto array = pack({a});
        const auto before = array;
        std::vector<std::uint8_t> best(256, 0xFF);
        EXPECT_EQ(ZPFingerMerge(array.data(), count, best.data(), ws.data()), 0);
        for (auto v : best) EXPECT_EQ(v, 0);
        EXPECT_EQ(array, before);
    }
}

TEST(ZPFingerMerge, OrdersByQualityAndMatchesRunnerUpAgainstBest) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const auto base = zptest::plausibleMinutiae(44, 40);
    const Template t = zptest::makeTemplate(base);
    auto array = pack({withQuality(t, 50, 1), withQuality(t, 70, 2), withQuality(t, 60, 3)});
    std::vector<std::uint8_t> best(256);
    EXPECT_EQ(ZPFingerMerge(array.data(), 3, best.data(), ws.data()), 1);
    EXPECT_EQ(array[20], 2);
    EXPECT_EQ(array[256 + 20], 3);
    EXPECT_EQ(array[512 + 20], 1);
    EXPECT_TRUE(std::equal(best.begin(), best.end(), array.begin()));
}

TEST(ZPFingerMerge, ExchangeSortIsNotStable) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const Template t = zptest::makeTemplate(zptest::plausibleMinutiae(45, 40));
    auto array = pack({withQuality(t, 60, 'a'), withQuality(t, 60, 'b'), withQuality(t, 70, 'c')});
    std::vector<std::uint8_t> best(256);
    ZPFingerMerge(array.data(), 3, best.data(), ws.data());
    EXPECT_EQ(array[20], 'c');
    EXPECT_EQ(array[256 + 20], 'b');
    EXPECT_EQ(array[512 + 20], 'a');
}

TEST(ZPFingerMerge, EnrolmentLimits) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const auto base = zptest::plausibleMinutiae(46, 40);
    struct Case {
        const char* name;
        std::int32_t count;
        std::int32_t yield;
        std::int32_t quality;
        std::int32_t expected;
    };
    const Case cases[] = {{"all at the limits", 10, 20, 40, 1}, {"9 minutiae", 9, 20, 40, 0},
                          {"yield 19", 10, 19, 40, 0},          {"quality 39", 10, 20, 39, 0}};
    for (const auto& c : cases) {
        std::vector<zp::TemplateMinutia> some(base.begin(), base.begin() + c.count);
        auto header = zptest::extractedHeader();
        header.yield = c.yield;
        header.quality = c.quality;
        const Template t = zptest::makeTemplate(some, header);
        auto array = pack({t, t});
        std::vector<std::uint8_t> best(256);
        EXPECT_EQ(ZPFingerMerge(array.data(), 2, best.data(), ws.data()), c.expected) << c.name;
        EXPECT_TRUE(std::equal(best.begin(), best.end(), t.begin())) << c.name;
    }
}

TEST(ZPFingerMerge, NeedsAScoreOfFifty) {
    // Search copies of one finger for driver scores on each side of 50.
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const auto base = zptest::plausibleMinutiae(47, 40);
    const Template best = zptest::makeTemplate(base);
    std::int32_t checked = 0;
    bool fifty = false;
    for (std::uint32_t k = 0; k < 300 && !(fifty && checked > 20); ++k) {
        zptest::Transform t{static_cast<std::int32_t>(k % 11) * 3, 1, 1, 2 + static_cast<std::int32_t>(k % 3),
                            8 + static_cast<std::int32_t>(k % 9), 0.3 + 0.07 * (k % 7), 5 + static_cast<std::int32_t>(k % 15)};
        Template runnerUp = zptest::makeTemplate(zptest::transformedCopy(base, t, k));
        runnerUp[9] = 60;
        Template first = best;
        first[9] = 61;
        const std::int32_t s = driverScore(runnerUp, first, ws);
        fifty = fifty || s == 50;
        auto array = pack({runnerUp, first});
        std::vector<std::uint8_t> out(256);
        EXPECT_EQ(ZPFingerMerge(array.data(), 2, out.data(), ws.data()), s >= 50 ? 1 : 0) << s;
        ++checked;
    }
    if (!fifty) GTEST_SKIP() << "no pair scored exactly 50";
}

TEST(ZPLoadFeature, AllZeroTemplateLeavesWorkspace) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE, 0x42);
    const Template zero{};
    EXPECT_EQ(ZPLoadFeature(zero.data(), ws.data()), 0);
    for (auto v : ws) ASSERT_EQ(v, 0x42);
}

TEST(ZPQuickMatch, ScoresStayWithinRange) {
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    const auto base = zptest::plausibleMinutiae(48, 50);
    const Template t = zptest::makeTemplate(base);
    ASSERT_EQ(ZPLoadFeature(t.data(), ws.data()), 1);
    EXPECT_EQ(ZPQuickMatch(t.data(), ws.data()), 100);  // a count above 100 gives 100
    const Template zero{};
    EXPECT_EQ(ZPQuickMatch(zero.data(), ws.data()), 0);
    // After a match the model survives but the table is another's.
    const Template other = zptest::makeTemplate(zptest::plausibleMinutiae(49, 40));
    ZPMatch(other.data(), other.data(), ws.data(), 3);
    const std::int32_t after = ZPQuickMatch(t.data(), ws.data());
    EXPECT_GE(after, 0);
    EXPECT_LE(after, 100);
}

}  // namespace

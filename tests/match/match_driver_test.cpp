#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/records.h"
#include "match/match_driver.h"
#include "match/synthetic_templates.h"

namespace {

using zptest::Template;

class MatchDriver : public ::testing::Test {
protected:
    std::vector<std::uint8_t> workspace = std::vector<std::uint8_t>(zp::kWorkspaceSize, 0xA5);
    std::int32_t match(const Template& a, const Template& b) {
        return zp::matchTemplates({const_cast<std::uint8_t*>(a.data()), 256},
                                  {const_cast<std::uint8_t*>(b.data()), 256},
                                  {workspace.data(), zp::kWorkspaceSize});
    }
    bool workspaceUntouched() const {
        for (auto v : workspace) {
            if (v != 0xA5) return false;
        }
        return true;
    }
};

TEST_F(MatchDriver, IdenticalTemplatesScoreHigh) {
    for (std::uint32_t seed = 1; seed <= 5; ++seed) {
        const Template t = zptest::makeTemplate(zptest::plausibleMinutiae(seed, 40));
        EXPECT_EQ(match(t, t), 100) << seed;
    }
}

TEST_F(MatchDriver, TurnedAndShiftedCopyMatches) {
    const auto base = zptest::plausibleMinutiae(11, 40);
    const Template a = zptest::makeTemplate(base);
    const zptest::Transform moves[] = {{15, 5, -4}, {-20, -6, 8}, {8, 3, 3, 1, 4, 0.1, 3}};
    for (const auto& mv : moves) {
        const Template b = zptest::makeTemplate(zptest::transformedCopy(base, mv, 3));
        EXPECT_GE(match(a, b), 50) << mv.rotation;
        EXPECT_GE(match(b, a), 50) << mv.rotation;
    }
}

TEST_F(MatchDriver, DifferentFingersScoreLow) {
    std::int32_t worst = 0;
    for (std::uint32_t seed = 100; seed < 120; ++seed) {
        const Template a = zptest::makeTemplate(zptest::plausibleMinutiae(seed, 40));
        const Template b = zptest::makeTemplate(zptest::plausibleMinutiae(seed + 1000, 40));
        const std::int32_t s = match(a, b);
        worst = s > worst ? s : worst;
    }
    EXPECT_LT(worst, 30);
}

TEST_F(MatchDriver, RefusalsScoreZeroAndLeaveWorkspaceAlone) {
    const auto minutiae = zptest::plausibleMinutiae(21, 30);
    const Template good = zptest::makeTemplate(minutiae);
    Template empty = zptest::makeTemplate({});
    Template otherClass = good;
    otherClass[15] = 3;
    Template zero{};
    Template tooLarge = good;
    tooLarge[11] = 128;
    tooLarge[13] = 193;  // 4 x 128 x 193 > 0x18000
    const Template* refused[][2] = {{&good, &empty}, {&empty, &good}, {&good, &otherClass},
                                    {&otherClass, &good}, {&zero, &good}, {&good, &zero},
                                    {&tooLarge, &good}, {&good, &tooLarge}};
    for (const auto& pair : refused) {
        EXPECT_EQ(match(*pair[0], *pair[1]), 0);
    }
    // Only the empty-model cases reach the tables; the rest never write.
    workspace.assign(zp::kWorkspaceSize, 0xA5);
    for (std::size_t k = 2; k < 8; ++k) {
        EXPECT_EQ(match(*refused[k][0], *refused[k][1]), 0) << k;
        EXPECT_TRUE(workspaceUntouched()) << k;
    }
}

TEST_F(MatchDriver, LargestStoredSizeThatFits) {
    // 4 x 128 x 192 = 0x18000 exactly: accepted, and its tables (at 2q and
    // 3q) end inside the workspace.
    auto header = zptest::extractedHeader();
    header.width = 128;
    header.height = 192;
    const Template t = zptest::makeTemplate(zptest::plausibleMinutiae(5, 40), header);
    EXPECT_EQ(match(t, t), 100);
}

TEST_F(MatchDriver, SmallSecondTemplateOverlapsTablesSafely) {
    // q = 1 x 1: A's table at 2, B's at 3; the tables overlap as placed.
    auto header = zptest::extractedHeader();
    header.width = 116;
    header.height = 140;
    const auto minutiae = zptest::plausibleMinutiae(8, 40);
    const Template a = zptest::makeTemplate(minutiae, header);
    auto small = header;
    small.width = 1;
    small.height = 1;
    small.quality = 0;
    const Template b = zptest::makeTemplate({}, small);
    EXPECT_EQ(match(a, b), 0);
    small.width = 8;
    small.height = 8;
    small.quality = 4;
    std::vector<zp::TemplateMinutia> few(minutiae.begin(), minutiae.begin() + 4);
    const Template c = zptest::makeTemplate(few, small);
    const std::int32_t s1 = match(a, c);
    const std::int32_t s2 = match(c, a);
    EXPECT_GE(s1, 0);
    EXPECT_LE(s1, 100);
    EXPECT_GE(s2, 0);
    EXPECT_LE(s2, 100);
}

TEST_F(MatchDriver, ClassCodeOneReadsTheWorkspaceAsItStands) {
    const auto minutiae = zptest::plausibleMinutiae(31, 35);
    auto header = zptest::extractedHeader();
    header.classCode = 1;
    const Template t = zptest::makeTemplate(minutiae, header);
    // With a workspace of 0xA5 everywhere, every cell reads as a far
    // neighbour; the result is whatever those bytes give, the same each time.
    const std::int32_t first = match(t, t);
    EXPECT_EQ(match(t, t), first);
    EXPECT_TRUE(workspaceUntouched());
}

TEST_F(MatchDriver, WorkspaceUseEndsAtFourQuarters) {
    const Template t = zptest::makeTemplate(zptest::plausibleMinutiae(4, 45));
    match(t, t);
    const std::int32_t q = 116 * 140;
    for (std::int32_t k = 0; k < 2 * q; ++k) ASSERT_EQ(workspace[static_cast<std::size_t>(k)], 0xA5) << k;
    for (std::int32_t k = 2 * q + 10000; k < 3 * q; ++k) ASSERT_EQ(workspace[static_cast<std::size_t>(k)], 0xA5) << k;
    for (std::int32_t k = 3 * q + 10000; k < zp::kWorkspaceSize; ++k) ASSERT_EQ(workspace[static_cast<std::size_t>(k)], 0xA5) << k;
}

}  // namespace

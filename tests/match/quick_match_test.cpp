#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/records.h"
#include "match/match_driver.h"
#include "match/matching_model.h"
#include "match/quick_match.h"
#include "match/synthetic_templates.h"
#include "match/template_loading.h"

namespace {

using zptest::Template;

constexpr std::int32_t kQ = 116 * 140;

class LoadAndQuickMatch : public ::testing::Test {
protected:
    std::vector<std::uint8_t> workspace = std::vector<std::uint8_t>(zp::kWorkspaceSize, 0x3C);
    zp::BufferDescriptor ws() { return {workspace.data(), zp::kWorkspaceSize}; }
    std::int32_t load(const Template& t) { return zp::loadTemplate({const_cast<std::uint8_t*>(t.data()), 256}, ws()); }
    std::int32_t quick(const Template& t) { return zp::quickMatch({const_cast<std::uint8_t*>(t.data()), 256}, ws()); }
};

TEST_F(LoadAndQuickMatch, LoadWritesModelAndTableOnly) {
    const Template t = zptest::makeTemplate(zptest::plausibleMinutiae(3, 40));
    ASSERT_EQ(load(t), 1);
    for (std::int32_t k = 832; k < 2 * kQ; ++k) ASSERT_EQ(workspace[static_cast<std::size_t>(k)], 0x3C) << k;
    for (std::int32_t k = 2 * kQ + 10000; k < zp::kWorkspaceSize; ++k) ASSERT_EQ(workspace[static_cast<std::size_t>(k)], 0x3C) << k;
    zp::MatchingModel stored;
    std::memcpy(&stored, workspace.data(), sizeof(stored));
    EXPECT_EQ(stored.count, 40);
    EXPECT_EQ(stored.maxCount, 50);
    EXPECT_EQ(stored.workspaceBase, 0);
    // Unused records and unset bytes are zero, the same on every load.
    std::vector<std::uint8_t> first(workspace.begin(), workspace.begin() + 832);
    workspace.assign(zp::kWorkspaceSize, 0x77);
    ASSERT_EQ(load(t), 1);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), workspace.begin()));
    for (std::int32_t k = 7 + 4 * 40; k < 207; ++k) {
        std::int32_t word;
        std::memcpy(&word, workspace.data() + 4 * k, 4);
        EXPECT_EQ(word, 0) << k;
    }
}

TEST_F(LoadAndQuickMatch, RejectedLoadsLeaveWorkspaceAlone) {
    const Template zero{};
    auto header = zptest::extractedHeader();
    header.width = 128;
    header.height = 193;
    const Template tooLarge = zptest::makeTemplate(zptest::plausibleMinutiae(3, 40), header);
    for (const Template* t : {&zero, &tooLarge}) {
        EXPECT_EQ(load(*t), 0);
        for (auto v : workspace) ASSERT_EQ(v, 0x3C);
    }
}

TEST_F(LoadAndQuickMatch, EmptyLoadedTemplateFindsNothing) {
    ASSERT_EQ(load(zptest::makeTemplate({})), 1);
    for (std::int32_t k = 0; k < 10000; ++k) ASSERT_EQ(workspace[static_cast<std::size_t>(2 * kQ + k)], 0);
    EXPECT_EQ(quick(zptest::makeTemplate(zptest::plausibleMinutiae(3, 40))), 0);
}

TEST_F(LoadAndQuickMatch, SameFingerScoresAndRepeats) {
    const auto base = zptest::plausibleMinutiae(9, 40);
    ASSERT_EQ(load(zptest::makeTemplate(base)), 1);
    const Template same = zptest::makeTemplate(base);
    const std::int32_t best = quick(same);
    EXPECT_GT(best, 80);
    const Template moved = zptest::makeTemplate(zptest::transformedCopy(base, {25, 6, -5, 1, 3, 0.15, 4}, 2));
    const std::int32_t s = quick(moved);
    EXPECT_GT(s, 20);
    EXPECT_LE(s, best);
    EXPECT_EQ(quick(moved), s);
    const Template other = zptest::makeTemplate(zptest::plausibleMinutiae(900, 40));
    EXPECT_LT(quick(other), s);
}

TEST_F(LoadAndQuickMatch, FailedLoadKeepsThePreviousModel) {
    const auto base = zptest::plausibleMinutiae(12, 35);
    const Template a = zptest::makeTemplate(base);
    const Template probe = zptest::makeTemplate(zptest::transformedCopy(base, {10, 2, 2, 1, 2, 0.1, 2}, 5));
    ASSERT_EQ(load(a), 1);
    const std::int32_t before = quick(probe);
    Template corrupt = a;
    corrupt[8] = 101;
    EXPECT_EQ(load(corrupt), 0);
    EXPECT_EQ(quick(probe), before);
}

TEST_F(LoadAndQuickMatch, MatchOverwritesTheLoadedTableButNotTheModel) {
    const Template a = zptest::makeTemplate(zptest::plausibleMinutiae(13, 35));
    const Template b = zptest::makeTemplate(zptest::plausibleMinutiae(14, 35));
    ASSERT_EQ(load(a), 1);
    std::vector<std::uint8_t> model(workspace.begin(), workspace.begin() + 832);
    std::vector<std::uint8_t> table(workspace.begin() + 2 * kQ, workspace.begin() + 2 * kQ + 10000);
    zp::matchTemplates({const_cast<std::uint8_t*>(b.data()), 256}, {const_cast<std::uint8_t*>(a.data()), 256}, ws());
    EXPECT_TRUE(std::equal(model.begin(), model.end(), workspace.begin()));
    EXPECT_FALSE(std::equal(table.begin(), table.end(), workspace.begin() + 2 * kQ));
}

TEST_F(LoadAndQuickMatch, MovedWorkspaceStillServes) {
    const auto base = zptest::plausibleMinutiae(15, 40);
    ASSERT_EQ(load(zptest::makeTemplate(base)), 1);
    const Template probe = zptest::makeTemplate(zptest::transformedCopy(base, {5, 1, 1, 1, 2, 0.1, 2}, 7));
    const std::int32_t here = quick(probe);
    std::vector<std::uint8_t> copy = workspace;
    workspace.assign(zp::kWorkspaceSize, 0);
    EXPECT_EQ(zp::quickMatch({const_cast<std::uint8_t*>(probe.data()), 256}, {copy.data(), zp::kWorkspaceSize}), here);
}

TEST_F(LoadAndQuickMatch, ProbeOfAnotherStoredSizeIsRefused) {
    const auto base = zptest::plausibleMinutiae(16, 40);
    ASSERT_EQ(load(zptest::makeTemplate(base)), 1);
    auto header = zptest::extractedHeader();
    header.width = 115;
    EXPECT_EQ(quick(zptest::makeTemplate(base, header)), 0);
    header.width = 116;
    header.height = 400;
    EXPECT_EQ(quick(zptest::makeTemplate(base, header)), 0);
}

TEST_F(LoadAndQuickMatch, ImplausibleWorkspacesAreRefused) {
    const auto base = zptest::plausibleMinutiae(17, 40);
    const Template probe = zptest::makeTemplate(base);
    ASSERT_EQ(load(probe), 1);
    const std::int32_t expected = quick(probe);
    EXPECT_GT(expected, 0);
    const std::vector<std::uint8_t> good = workspace;
    const auto setWord = [this](std::int32_t word, std::int32_t value) {
        std::memcpy(workspace.data() + 4 * word, &value, 4);
    };
    struct Case {
        const char* name;
        std::int32_t word;
        std::int32_t value;
    };
    const Case cases[] = {{"count above maximum", 0, 51}, {"negative count", 0, -1},
                          {"maximum above 50", 1, 51},    {"count above stored maximum", 1, 30},
                          {"base beyond workspace", 207, 90000}, {"negative base", 207, -4},
                          {"direction beyond nine bits", 7 + 2, 512}, {"negative direction", 7 + 4 + 2, -1},
                          {"sizes too large", 5, 200}};
    for (const auto& c : cases) {
        workspace = good;
        setWord(c.word, c.value);
        if (c.word == 5) setWord(4, 200);
        EXPECT_EQ(quick(probe), 0) << c.name;
    }
    workspace = good;
    EXPECT_EQ(quick(probe), expected);
}

// A loaded row by hand: model of N_M minutiae, row 0 with the given
// distances; probe of two minutiae whose successor cell has distance d.
class QuickWalk : public ::testing::Test {
protected:
    std::vector<std::uint8_t> workspace = std::vector<std::uint8_t>(zp::kWorkspaceSize, 0);
    std::int32_t run(std::int32_t loadedCount, const std::vector<std::array<std::int32_t, 3>>& row,
                     std::int32_t probeDistance, std::int32_t probeAngle) {
        // Probe: (10, 10) direction probeAngle and (10 + d, 10) direction 180.
        // Cell (0, 0): distance d, angles (probeAngle, 0) relative to t = 0.
        const Template probe = zptest::makeTemplate(
            {{10, 10, probeAngle, 1}, {10 + probeDistance, 10, 180, 1}});
        zp::MatchingModel loaded{};
        loaded.count = loadedCount;
        loaded.maxCount = 50;
        loaded.width = 116;
        loaded.height = 140;
        for (auto& r : loaded.minutiae) r = {50, 50, probeAngle, 1, {0, 0, 0}};
        // Only row 0 holds cells; the others stay empty.
        for (std::int32_t i = 1; i < loadedCount; ++i) loaded.minutiae[static_cast<std::size_t>(i)].type = 2;
        std::memcpy(workspace.data(), &loaded, sizeof(loaded));
        std::uint8_t* r = workspace.data() + 2 * kQ;
        for (std::size_t k = 0; k < row.size(); ++k) {
            r[4 * k] = static_cast<std::uint8_t>(row[k][0]);
            r[4 * k + 1] = static_cast<std::uint8_t>(row[k][1]);
            r[4 * k + 2] = static_cast<std::uint8_t>(row[k][2]);
            r[4 * k + 3] = static_cast<std::uint8_t>((row[k][1] > 255 ? 0x40 : 0) | (row[k][2] > 255 ? 0x80 : 0));
        }
        return zp::quickMatch({const_cast<std::uint8_t*>(probe.data()), 256}, {workspace.data(), zp::kWorkspaceSize});
    }
};

// Probe cells of two minutiae: (0, 0) and (0, 2) both hold i = 0 -> j = 1,
// (0, 1) is i with itself; row 1 holds j = 1 -> i = 0 (angles 0, a).
TEST_F(QuickWalk, WorkedExamples) {
    struct Case {
        const char* name;
        std::int32_t loadedCount;
        std::vector<std::array<std::int32_t, 3>> row;
        std::int32_t d;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        // Distance 30 against 31: compatible, counted for cells (0,0) and (0,2).
        {"30 against 31", 3, {{31, 40, 0}, {10, 0, 0}}, 30, 2},
        {"30 against 33", 3, {{33, 40, 0}, {10, 0, 0}}, 30, 0},
        // Row 30, 29, 10: the probe (distance 30) fits cell 0 but not cell 1;
        // the search lands on index 1, walks down to 1 only, up to 2: nothing.
        {"lands on 1, never visits 0", 4, {{30, 40, 0}, {29, 200, 0}, {10, 0, 0}}, 30, 0},
        // The same row with a probe compatible with cell 1 counts.
        {"compatible with cell 1", 4, {{30, 200, 0}, {29, 40, 0}, {10, 0, 0}}, 29, 2},
        // Out of range before the search.
        {"above the farthest", 3, {{20, 40, 0}, {10, 0, 0}}, 23, 0},
        {"below the nearest", 3, {{40, 40, 0}, {30, 0, 0}}, 27, 0},
        // A single loaded minutia has no neighbour.
        {"single loaded minutia", 1, {{30, 40, 0}}, 30, 0},
    };
    for (const auto& c : cases) {
        workspace.assign(zp::kWorkspaceSize, 0);
        EXPECT_EQ(run(c.loadedCount, c.row, c.d, 40), c.expected) << c.name;
    }
}

TEST_F(QuickWalk, RelativeDirectionTolerance) {
    // Loaded first angle 359 against probe 4 (difference 5) and 10 (11).
    EXPECT_EQ(run(3, {{30, 359, 0}, {10, 0, 0}}, 30, 4), 2);
    workspace.assign(zp::kWorkspaceSize, 0);
    EXPECT_EQ(run(3, {{30, 359, 0}, {10, 0, 0}}, 30, 10), 0);
}

TEST(QuickMatchBounds, FarApartProbeHasEmptySuccessorTable) {
    std::vector<std::uint8_t> workspace(zp::kWorkspaceSize, 0);
    const auto loadedMinutiae = zptest::plausibleMinutiae(1, 30);
    const Template loaded = zptest::makeTemplate(loadedMinutiae);
    ASSERT_EQ(zp::loadTemplate({const_cast<std::uint8_t*>(loaded.data()), 256}, {workspace.data(), zp::kWorkspaceSize}), 1);
    const Template probe = zptest::makeTemplate({{4, 4, 0, 1}, {100, 4, 0, 1}, {4, 130, 0, 1}, {100, 130, 0, 1}});
    EXPECT_EQ(zp::quickMatch({const_cast<std::uint8_t*>(probe.data()), 256}, {workspace.data(), zp::kWorkspaceSize}), 0);
}

}  // namespace

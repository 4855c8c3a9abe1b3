#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/records.h"
#include "match/candidate_pairs.h"
#include "match/matching_model.h"

namespace {

// With class code 1 no table is built: the pairs come from the workspace
// as it stands, so each similarity can be set by hand. Row i of A shares
// its first s cells with row j of B to give similarity s.
class PairsFromWorkspace : public ::testing::Test {
protected:
    static constexpr std::int32_t kCount = 12;
    std::vector<std::uint8_t> workspace = std::vector<std::uint8_t>(zp::kWorkspaceSize, 0);
    zp::BufferDescriptor ws{workspace.data(), zp::kWorkspaceSize};
    zp::MatchingModel a{};
    zp::MatchingModel b{};

    void SetUp() override {
        for (zp::MatchingModel* m : {&a, &b}) {
            m->count = kCount;
            m->maxCount = 50;
            m->width = 116;
            m->height = 140;
            m->classCode = 1;
            for (auto& r : m->minutiae) r = zp::MinutiaRecord{50, 50, 100, 1, {0, 0, 0}};
        }
        a.workspaceBase = 0;
        b.workspaceBase = 116 * 140;
    }
    std::uint8_t* rowOf(const zp::MatchingModel& m, std::int32_t i) {
        return zp::neighbourTableOf(m, 116 * 140, ws) + i * 50 * 4;
    }
    // Every row holds the first cells of one pattern (distances 60, 55, 50,
    // ...); two rows with a and b such cells have similarity min(a, b).
    void setRow(const zp::MatchingModel& m, std::int32_t i, std::int32_t cells) {
        std::uint8_t* r = rowOf(m, i);
        for (std::int32_t k = 0; k < kCount - 1; ++k) {
            r[k * 4] = k < cells ? static_cast<std::uint8_t>(60 - 5 * k) : 0;
            r[k * 4 + 1] = k < cells ? static_cast<std::uint8_t>(7 * k) : 0;
        }
    }
    void setRowA(std::int32_t i, std::int32_t cells) { setRow(a, i, cells); }
    void setRowB(std::int32_t j, std::int32_t cells) { setRow(b, j, cells); }
    std::vector<std::array<std::int32_t, 3>> build(zp::CandidatePairList& list) {
        const std::int32_t p = zp::buildTablesAndPairs(a, b, list, 1, zp::TableSelection::Matching, 1, ws);
        EXPECT_EQ(p, list.count);
        std::vector<std::array<std::int32_t, 3>> out;
        for (std::int32_t k = 0; k < p; ++k) {
            const auto& e = list.entries[static_cast<std::size_t>(k)];
            out.push_back({e.first, e.second, e.similarity});
        }
        for (std::int32_t k = p; k < 50; ++k) {
            const auto& e = list.entries[static_cast<std::size_t>(k)];
            EXPECT_EQ(e.first | e.second | e.similarity, 0);
        }
        return out;
    }
};

using Entries = std::vector<std::array<std::int32_t, 3>>;

TEST_F(PairsFromWorkspace, LastValueRule) {
    // For i = 0, j = 1, 2, 3 pass with 5, 3, 4: 4 > 3 overwrites the entry.
    setRowA(0, 11);
    setRowB(1, 5);
    setRowB(2, 3);
    setRowB(3, 4);
    zp::CandidatePairList list{};
    EXPECT_EQ(build(list), (Entries{{0, 3, 4}}));
}

TEST_F(PairsFromWorkspace, SimilarityBelowTwoNeverPasses) {
    setRowA(0, 11);
    setRowB(1, 1);
    setRowB(2, 2);
    setRowB(4, 1);
    zp::CandidatePairList list{};
    EXPECT_EQ(build(list), (Entries{{0, 2, 2}}));
}

TEST_F(PairsFromWorkspace, DuplicateSecondIndex) {
    setRowB(5, 11);
    setRowA(0, 3);
    setRowA(1, 3);   // not strictly greater: the earlier entry stays
    setRowA(2, 4);   // strictly greater: replaces it in place
    setRowA(3, 2);
    setRowB(6, 2);
    a.minutiae[3].direction = 300;  // pairs with B6 only
    b.minutiae[6].direction = 300;
    zp::CandidatePairList list{};
    EXPECT_EQ(build(list), (Entries{{2, 5, 4}, {3, 6, 2}}));
}

TEST_F(PairsFromWorkspace, StableOrderByFallingSimilarity) {
    // Types and directions keep each i to its own j.
    const std::int32_t looks[5][2] = {{1, 0}, {1, 120}, {1, 240}, {2, 0}, {2, 120}};
    const std::int32_t sims[5] = {2, 5, 2, 7, 5};
    for (std::int32_t i = 0; i < 5; ++i) {
        for (zp::MatchingModel* m : {&a, &b}) {
            m->minutiae[static_cast<std::size_t>(i)].type = static_cast<std::uint8_t>(looks[i][0]);
            m->minutiae[static_cast<std::size_t>(i)].direction = looks[i][1];
        }
        setRowA(i, sims[i]);
        setRowB(i, sims[i]);
    }
    zp::CandidatePairList list{};
    EXPECT_EQ(build(list), (Entries{{3, 3, 7}, {1, 1, 5}, {4, 4, 5}, {0, 0, 2}, {2, 2, 2}}));
}

TEST_F(PairsFromWorkspace, TypeAndDirectionFilters) {
    setRowA(0, 11);
    for (std::int32_t j = 0; j < 4; ++j) setRowB(j, 6);
    b.minutiae[0].type = 2;          // different type
    b.minutiae[1].direction = 191;   // 91 degrees off
    b.minutiae[3].direction = 9;     // 91 degrees off the other way
    b.minutiae[2].direction = 190;   // 90 degrees off: agrees
    zp::CandidatePairList list{};
    EXPECT_EQ(build(list), (Entries{{0, 2, 6}}));
}

TEST_F(PairsFromWorkspace, LeadingAndTrailingBytesUntouched) {
    setRowA(0, 3);
    setRowB(0, 3);
    zp::CandidatePairList list{};
    list.leading = 0xDEADBEEF;
    list.trailing = 0x5A;
    for (auto& e : list.entries) e = {9, 9, 9};
    EXPECT_EQ(build(list), (Entries{{0, 0, 3}}));
    EXPECT_EQ(list.leading, 0xDEADBEEFu);
    EXPECT_EQ(list.trailing, 0x5A);
}

TEST_F(PairsFromWorkspace, LoadingSelectionLeavesThePairListAlone) {
    a.classCode = 0;
    zp::CandidatePairList list{};
    list.count = 7;
    list.entries[0] = {1, 2, 3};
    EXPECT_EQ(zp::buildTablesAndPairs(a, a, list, 0, zp::TableSelection::Loading, 2, ws), 0);
    EXPECT_EQ(list.count, 7);
    EXPECT_EQ(list.entries[0].similarity, 3);
}

TEST(CandidatePairs, EmptyModelGivesEmptyRowsAndNoPairs) {
    std::vector<std::uint8_t> workspace(zp::kWorkspaceSize, 0xCC);
    zp::BufferDescriptor ws{workspace.data(), zp::kWorkspaceSize};
    zp::MatchingModel a{};
    a.maxCount = 50;
    a.width = 116;
    a.height = 140;
    zp::MatchingModel b = a;
    b.workspaceBase = 116 * 140;
    b.count = 3;
    for (std::int32_t i = 0; i < 3; ++i) b.minutiae[static_cast<std::size_t>(i)] = {10 + 10 * i, 10, 0, 1, {0, 0, 0}};
    zp::CandidatePairList list{};
    EXPECT_EQ(zp::buildTablesAndPairs(a, b, list, 0, zp::TableSelection::Matching, 1, ws), 0);
    const std::uint8_t* tableA = workspace.data() + 2 * 116 * 140;
    for (std::int32_t k = 0; k < 10000; ++k) ASSERT_EQ(tableA[k], 0);
    // Exactly the two tables were written.
    EXPECT_EQ(workspace[2 * 116 * 140 - 1], 0xCC);
    EXPECT_EQ(workspace[4 * 116 * 140], 0xCC);
    EXPECT_EQ(workspace[3 * 116 * 140 + 10000], 0xCC);
}

}  // namespace

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "match/similarity.h"

namespace {

struct C {
    std::int32_t d;
    std::int32_t a1;
    std::int32_t a2;
};

std::vector<std::uint8_t> row(const std::vector<C>& cells, std::size_t length = 50) {
    std::vector<std::uint8_t> r(length * 4, 0);
    for (std::size_t k = 0; k < cells.size(); ++k) {
        r[k * 4] = static_cast<std::uint8_t>(cells[k].d);
        r[k * 4 + 1] = static_cast<std::uint8_t>(cells[k].a1 & 0xFF);
        r[k * 4 + 2] = static_cast<std::uint8_t>(cells[k].a2 & 0xFF);
        r[k * 4 + 3] = static_cast<std::uint8_t>((cells[k].a1 > 255 ? 0x40 : 0) | (cells[k].a2 > 255 ? 0x80 : 0));
    }
    return r;
}

struct Case {
    const char* name;
    std::vector<C> a;
    std::vector<C> b;
    std::int32_t countA;
    std::int32_t countB;
    std::int32_t expected;
};

TEST(Similarity, WorkedExamples) {
    const std::vector<Case> cases = {
        {"identical rows", {{30, 10, 20}, {20, 100, 200}, {10, 300, 5}}, {{30, 10, 20}, {20, 100, 200}, {10, 300, 5}}, 4, 4, 3},
        {"middle angle 11 off", {{30, 10, 20}, {20, 100, 200}, {10, 300, 5}}, {{30, 10, 20}, {20, 111, 200}, {10, 300, 5}}, 4, 4, 2},
        {"middle angle 10 off", {{30, 10, 20}, {20, 100, 200}, {10, 300, 5}}, {{30, 10, 20}, {20, 110, 200}, {10, 300, 5}}, 4, 4, 3},
        {"23 in A, 21 in B", {{23, 0, 0}}, {{21, 0, 0}}, 2, 2, 1},
        {"23 in A, 20 in B", {{23, 0, 0}}, {{20, 0, 0}}, 2, 2, 0},
        {"359 against 3", {{30, 359, 3}}, {{30, 3, 359}}, 2, 2, 1},
        {"second angle off", {{30, 0, 20}}, {{30, 0, 31}}, 2, 2, 0},
        {"empty first cell of A", {}, {{30, 0, 0}}, 2, 2, 0},
        {"empty first cell of B", {{30, 0, 0}}, {}, 2, 2, 0},
        // The cells at index count - 1 and beyond are never read.
        {"only cells below count - 1", {{30, 0, 0}, {20, 0, 0}}, {{30, 0, 0}, {20, 0, 0}}, 2, 3, 1},
        // B starts farther: b0 skips the far neighbours of B.
        {"B farther, skip", {{30, 0, 0}, {20, 0, 0}}, {{50, 0, 0}, {40, 0, 0}, {31, 0, 0}, {20, 0, 0}}, 3, 5, 2},
        // B farther, none of B within dA + 2 below N2 - 1: answer 0.
        {"B farther, nothing", {{10, 0, 0}}, {{50, 0, 0}, {40, 0, 0}}, 2, 3, 0},
        // A farther: a0 skips the far neighbours of A.
        {"A farther, skip", {{60, 0, 0}, {50, 0, 0}, {30, 0, 0}}, {{31, 0, 0}}, 4, 2, 1},
        // One neighbour of A agrees with two neighbours of B: the window's
        // start is the first a reaching the distance test.
        {"one A neighbour serves two", {{30, 0, 0}}, {{31, 0, 0}, {30, 0, 0}}, 3, 3, 2},
        // The b0 search stops at an empty cell of B: b0 = 1 (distance 0),
        // whose empty cell then ends the walk before the 11 behind it.
        {"b0 stops at an empty cell", {{10, 0, 0}}, {{50, 0, 0}, {0, 0, 0}, {11, 0, 0}}, 2, 4, 0},
        {"same without the gap", {{10, 0, 0}}, {{50, 0, 0}, {11, 0, 0}}, 2, 4, 1},
        // Direction 360 and more go through the circular difference as computed:
        // 400 against 40 gives 360 - 360 = 0.
        {"ninth-bit angles", {{30, 400, 40}}, {{30, 40, 400}}, 2, 2, 1},
    };
    for (const auto& c : cases) {
        const auto a = row(c.a);
        const auto b = row(c.b);
        EXPECT_EQ(zp::similarity(a.data(), b.data(), c.countA, c.countB, 2, 10), c.expected) << c.name;
    }
}

}  // namespace

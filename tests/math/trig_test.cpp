#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "math/integer_math.h"
#include "math/trig.h"

namespace {

using zp::kTangentTable;

struct SineCase {
    std::int32_t angle;
    float sine;
};

TEST(Trig, SineCosineAndReduction) {
    const SineCase cases[] = {
        {30, 0.5F},   {-90, -1.0F},  {450, 1.0F},  {720, 0.0F}, {-361, 0.0F},
        {0, 0.0F},    {90, 1.0F},    {150, 0.5F},  {210, -0.5F}, {330, -0.5F},
        {360, 0.0F},  {-360, 0.0F},  {719, -zp::kSineTable[1]},  {-30, -0.5F},
    };
    for (const auto& c : cases) EXPECT_EQ(zp::sine(c.angle), c.sine) << "sine(" << c.angle << ")";
    EXPECT_EQ(zp::cosine(0), 1.0F);
    EXPECT_EQ(zp::cosine(180), -1.0F);
    EXPECT_EQ(zp::cosine(60), 0.5F);
}

TEST(Trig, TablesHoldSixDecimalValuesExceptTheFourteenHistoricalEntries) {
    for (int k = 0; k <= 90; ++k) {
        const double exact = std::round(std::sin(k * M_PI / 180.0) * 1e6) / 1e6;
        EXPECT_EQ(zp::kSineTable[k], static_cast<float>(exact)) << k;
    }
    const int lowered[] = {48, 58, 63, 72, 73, 80, 81, 82, 84, 85, 86, 87, 88, 89};
    for (int k = 0; k < 90; ++k) {
        const double exact = std::round(std::tan(k * M_PI / 180.0) * 1e6) / 1e6;
        bool isLowered = false;
        for (int l : lowered) isLowered = isLowered || l == k;
        if (isLowered) {
            EXPECT_LT(kTangentTable[k], static_cast<float>(exact)) << k;
        } else {
            EXPECT_EQ(kTangentTable[k], static_cast<float>(exact)) << k;
        }
    }
    EXPECT_EQ(kTangentTable[89], 57.289917F);
    EXPECT_EQ(kTangentTable[63], 1.96261F);
}

TEST(Trig, Tangent) {
    const SineCase cases[] = {{90, 100.0F},  {270, -100.0F}, {135, -1.0F}, {225, 1.0F},
                              {45, 1.0F},    {0, 0.0F},      {180, 0.0F},  {315, -1.0F},
                              {-45, -1.0F},  {405, 1.0F},    {800, 0.0F},  {89, 57.289917F}};
    for (const auto& c : cases) EXPECT_EQ(zp::tangent(c.angle), c.sine) << "tangent(" << c.angle << ")";
}

struct AtanCase {
    float t;
    std::int32_t degrees;
};

TEST(Trig, ArctangentWorkedCases) {
    const AtanCase cases[] = {
        {1.0F, 45},   {-1.0F, -45},        {0.0F, 0},      {0.5F, 27},       {2.0F, 63},
        {60.0F, 90},  {57.289917F, 89},    {-60.0F, -90},  {0.0174F, 0},     {0.01746F, 1},
        {-0.0174F, 0}, {29.0F, 89},        {40.0F, 89},    {57.2F, 89},      {-40.0F, -89},
        {28.636244F, 88}, {0.017455F, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(zp::arctangent(c.t), c.degrees) << "arctangent(" << c.t << ")";
}

// The binary search with its three-neighbour look must give the nearest
// table index (ties to the smaller) everywhere between tan 1° and tan 88°.
TEST(Trig, ArctangentIsNearestTableEntry) {
    auto nearest = [](float s) {
        int best = 0;
        float bestDistance = std::fabs(s - kTangentTable[0]);
        for (int k = 1; k < 90; ++k) {
            const float d = std::fabs(s - kTangentTable[k]);
            if (d < bestDistance) {
                bestDistance = d;
                best = k;
            }
        }
        return best;
    };
    for (float s = std::nextafter(kTangentTable[1], 100.0F); s <= kTangentTable[88]; s = std::nextafter(s * 1.0001F, 100.0F)) {
        ASSERT_EQ(zp::arctangent(s), nearest(s)) << s;
        ASSERT_EQ(zp::arctangent(-s), -nearest(s)) << -s;
    }
    // Midpoints between neighbours go to the smaller index.
    for (int k = 2; k < 88; ++k) {
        const float mid = (kTangentTable[k] + kTangentTable[k + 1]) / 2.0F;
        EXPECT_EQ(zp::arctangent(mid), nearest(mid)) << k;
    }
}

struct AngleCase {
    std::int32_t x1, y1, x2, y2, degrees;
};

TEST(Trig, AngleBetweenPoints) {
    const AngleCase cases[] = {
        {0, 0, 10, 0, 0},   {0, 0, 0, 10, 90},   {0, 0, -10, 0, 180}, {0, 0, 0, -10, 270},
        {5, 5, 5, 5, 90},   {0, 0, 100, -1, 360}, {0, 0, 10, 10, 45},  {0, 0, -10, 10, 135},
        {0, 0, -10, -10, 225}, {0, 0, 10, -10, 315}, {3, 4, 5, 5, 27},  {0, 0, -100, 1, 180},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zp::angleBetween(c.x1, c.y1, c.x2, c.y2), c.degrees)
            << "(" << c.x1 << "," << c.y1 << ")->(" << c.x2 << "," << c.y2 << ")";
    }
}

TEST(Trig, DirectionBisector) {
    const std::int32_t cases[][3] = {{350, 10, 0}, {10, 30, 20},   {0, 359, 359},
                                     {180, 0, 90}, {270, 90, 180}, {359, 1, 0}, {200, 10, 285}};
    for (const auto& c : cases) {
        EXPECT_EQ(zp::directionBisector(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    }
}

TEST(IntegerMath, IsqrtEdgeCasesAndRoundingDown) {
    const std::int32_t cases[][2] = {{-5, 0},     {0, 0},      {1, 1},     {3, 1},      {4, 2},
                                     {10000, 100}, {10001, 100}, {9999, 99}, {116 * 140, 127},
                                     {128 * 192, 156}, {2147395600, 46340}, {2147483647, 46340}};
    for (const auto& c : cases) EXPECT_EQ(zp::isqrt(c[0]), c[1]) << c[0];
    for (std::int32_t n = 0; n <= 200000; ++n) {
        const std::int32_t r = zp::isqrt(n);
        ASSERT_TRUE(r * r <= n && (r + 1) * (r + 1) > n) << n;
    }
}

TEST(IntegerMath, ByteFill) {
    std::uint8_t buffer[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    zp::byteFill(buffer + 1, 7, 5);
    const std::uint8_t expected[8] = {1, 7, 7, 7, 7, 7, 1, 1};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], expected[i]) << i;
    zp::byteFill(buffer, 9, 0);
    zp::byteFill(buffer, 9, -3);
    EXPECT_EQ(buffer[0], 1);
}

// Every start and end over rows with a few set bytes at every offset
// (word boundaries included) and with none.
TEST(IntegerMath, FirstNonZeroFindsTheNextSetByte) {
    std::vector<std::uint8_t> row(40, 0);
    for (const std::int32_t set : {-1, 0, 7, 8, 15, 23, 39}) {
        std::fill(row.begin(), row.end(), 0);
        if (set >= 0) row[static_cast<std::size_t>(set)] = 1;
        row[33] = static_cast<std::uint8_t>(set == 39 ? 0 : 200);
        for (std::int32_t from = 0; from <= 40; ++from) {
            for (std::int32_t to = from; to <= 40; ++to) {
                std::int32_t want = from;
                while (want < to && row[static_cast<std::size_t>(want)] == 0) ++want;
                ASSERT_EQ(zp::firstNonZero(row.data(), from, to), want) << set << " " << from << " " << to;
            }
        }
    }
}

}  // namespace

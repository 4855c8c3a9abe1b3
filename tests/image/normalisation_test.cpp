#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/normalisation.h"

namespace {

TEST(NormalisationGain, TakesTheSquareRootOfAFloatingQuotient) {
    const struct {
        std::uint32_t variance;
        std::int32_t gain;
    } cases[] = {
        {900, 256},   // sqrt(4) * 128
        {961, 247},   // sqrt(3.746...) * 128 = 247.7; an integer quotient would give 221
        {3600, 128},  // unit gain
        {1, 7680},    // 60 * 128
        {5898, 100},
        {5899, 99},
        {3601, 127},
    };
    for (const auto& c : cases) EXPECT_EQ(zp::normalisationGain(c.variance), c.gain) << c.variance;
}

// A 32 x 32 image whose inner region alternates lo and hi in a checkerboard;
// the frame holds `frame`.
std::vector<std::uint8_t> twoLevelImage(std::uint8_t lo, std::uint8_t hi, std::uint8_t frame) {
    std::vector<std::uint8_t> image(32 * 32, frame);
    for (std::int32_t y = 8; y < 24; ++y)
        for (std::int32_t x = 8; x < 24; ++x) image[y * 32 + x] = ((x + y) & 1) != 0 ? hi : lo;
    return image;
}

TEST(Normalisation, MapsGreyLevelsWithMeanAndGain) {
    // Inner region 70/130: mean 100, variance 900, gain 256. The frame does
    // not take part in the measures but is mapped too.
    std::vector<std::uint8_t> image = twoLevelImage(70, 130, 100);
    const struct {
        std::int32_t index;
        std::uint8_t grey;
        std::uint8_t want;
    } frame[] = {{0, 100, 120}, {1, 101, 122}, {2, 99, 118}, {3, 250, 255}, {4, 30, 0}};
    for (const auto& f : frame) image[f.index] = f.grey;
    ASSERT_EQ(zp::normalise(image.data(), 32, 32, nullptr), 1);
    for (const auto& f : frame) EXPECT_EQ(image[f.index], f.want) << int{f.grey};
    EXPECT_EQ(image[8 * 32 + 8], 60);   // 70: -30 * 256 >> 7 = -60
    EXPECT_EQ(image[8 * 32 + 9], 180);  // 130
    EXPECT_EQ(image[31 * 32 + 31], 120);
}

TEST(Normalisation, NegativeProductsRoundDown) {
    const struct {
        std::int32_t grey, mean, gain, want;
    } cases[] = {
        {99, 100, 100, 119},  // (-100) >> 7 = -1
        {101, 100, 100, 120},
        {100, 100, 100, 120},
        {0, 100, 100, 41},    // -10000 >> 7 = -79
        {0, 200, 7680, 0},    // clamped low
        {255, 0, 7680, 255},  // clamped high
    };
    for (const auto& c : cases) EXPECT_EQ(zp::normalisedGrey(c.grey, c.mean, c.gain), c.want) << c.grey;
}

TEST(Normalisation, RefusesAFlatInnerRegion) {
    std::vector<std::uint8_t> image = twoLevelImage(90, 90, 3);
    image[0] = 200;
    const std::vector<std::uint8_t> before = image;
    EXPECT_EQ(zp::normalise(image.data(), 32, 32, nullptr), 0);
    EXPECT_EQ(image, before);
}

TEST(Normalisation, RefusesAnEmptyInnerRegion) {
    std::vector<std::uint8_t> image(16 * 40, 5);
    image[3] = 80;
    const std::vector<std::uint8_t> before = image;
    EXPECT_EQ(zp::normalise(image.data(), 16, 40, nullptr), 0);
    EXPECT_EQ(zp::normalise(image.data(), 40, 16, nullptr), 0);
    EXPECT_EQ(image, before);
}

}  // namespace

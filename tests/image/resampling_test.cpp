#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "image/inversion.h"
#include "image/upsampling.h"
#include "support/real_images.h"

namespace {

TEST(Inversion, MirrorsEveryGreyLevel) {
    std::vector<std::uint8_t> image = {0, 200, 255, 1, 128, 55};
    zp::invertImage(image.data(), 3, 2);
    EXPECT_EQ(image, (std::vector<std::uint8_t>{255, 55, 0, 254, 127, 200}));
}

TEST(Inversion, MirrorsEveryPixelOfRandomImages) {
    std::mt19937 rng(12);
    for (const auto& size : {std::pair{232, 280}, std::pair{27, 33}, std::pair{5, 3}, std::pair{1, 9}}) {
        const std::vector<std::uint8_t> image =
            zptest::randomGrey(rng, static_cast<std::size_t>(size.first * size.second));
        std::vector<std::uint8_t> work = image;
        zp::invertImage(work.data(), size.first, size.second);
        for (std::size_t i = 0; i < image.size(); ++i) ASSERT_EQ(work[i], 255 - image[i]) << i;
    }
}

TEST(Inversion, EmptyOrNegativeSizeDoesNothing) {
    std::vector<std::uint8_t> image = {1, 2, 3};
    zp::invertImage(image.data(), 0, 3);
    zp::invertImage(image.data(), -1, -3);
    EXPECT_EQ(image, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(Upsampling, DoublesTwoByTwo) {
    std::vector<std::uint8_t> image(16, 0);
    image[0] = 10;
    image[1] = 20;
    image[2] = 30;
    image[3] = 40;
    zp::upsampleByTwo(image.data(), 2, 2);
    const std::vector<std::uint8_t> want = {10, 15, 20, 20, 20, 25, 30, 30,
                                            30, 35, 40, 40, 30, 35, 40, 40};
    EXPECT_EQ(image, want);
}

// Straightforward doubling into a second buffer, by the interpolation rule.
std::vector<std::uint8_t> doubled(const std::vector<std::uint8_t>& in, std::int32_t w, std::int32_t h) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(4 * w * h));
    for (std::int32_t oy = 0; oy < 2 * h; ++oy) {
        for (std::int32_t ox = 0; ox < 2 * w; ++ox) {
            const std::int32_t x = ox / 2;
            const std::int32_t y = oy / 2;
            const std::int32_t fx = ox % 2;
            const std::int32_t fy = oy % 2;
            const std::int32_t x1 = x + 1 < w ? x + 1 : x;
            const std::int32_t y1 = y + 1 < h ? y + 1 : y;
            // Bilinear weights in quarters; repeated edges fold back onto P.
            const std::int32_t wr = fx;
            const std::int32_t wd = fy;
            const std::int32_t sum = in[y * w + x] * (2 - wr) * (2 - wd) + in[y * w + x1] * wr * (2 - wd) +
                                     in[y1 * w + x] * (2 - wr) * wd + in[y1 * w + x1] * wr * wd;
            out[oy * 2 * w + ox] = static_cast<std::uint8_t>(sum >> 2);
        }
    }
    return out;
}

TEST(Upsampling, InPlaceMatchesBilinearDoubling) {
    const std::int32_t sizes[][2] = {{1, 1}, {1, 4}, {5, 1}, {3, 3}, {7, 5}, {64, 96}, {192, 192}};
    std::mt19937 rng(4);
    for (const auto& s : sizes) {
        const std::int32_t w = s[0];
        const std::int32_t h = s[1];
        std::vector<std::uint8_t> image(static_cast<std::size_t>(4 * w * h));
        std::vector<std::uint8_t> input(static_cast<std::size_t>(w * h));
        for (auto& p : input) p = static_cast<std::uint8_t>(rng());
        std::copy(input.begin(), input.end(), image.begin());
        zp::upsampleByTwo(image.data(), w, h);
        EXPECT_EQ(image, doubled(input, w, h)) << w << "x" << h;
    }
}

TEST(Upsampling, RefusesSidesBeyondTheTables) {
    std::vector<std::uint8_t> image(4 * 193 * 2, 9);
    const std::vector<std::uint8_t> before = image;
    zp::upsampleByTwo(image.data(), 193, 2);
    EXPECT_EQ(image, before);
}

}  // namespace

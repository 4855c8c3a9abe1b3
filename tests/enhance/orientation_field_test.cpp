#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "enhance/median_filter.h"
#include "enhance/orientation_field.h"
#include "math/trig.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

constexpr std::int32_t kW = 232;
constexpr std::int32_t kH = 280;
constexpr std::int32_t kBw = kW / 8;
constexpr std::int32_t kBh = kH / 8;

TEST(MedianOfValues, SortsAndTakesTheMiddle) {
    std::vector<std::int32_t> odd = {5, -3, 9, 1, 1};
    EXPECT_EQ(zp::medianOfValues(odd.data(), 5), 1);
    EXPECT_EQ(odd, (std::vector<std::int32_t>{-3, 1, 1, 5, 9}));
    std::vector<std::int32_t> even = {4, 1, 8, 3};
    EXPECT_EQ(zp::medianOfValues(even.data(), 4), 3);  // (3 + 4) >> 1
    std::vector<std::int32_t> negative = {-4, -1};
    EXPECT_EQ(zp::medianOfValues(negative.data(), 2), -3);  // -5 >> 1
    EXPECT_EQ(zp::medianOfValues(nullptr, 0), 0);
}

// The filter written out with medianOfValues.
std::vector<std::uint8_t> filteredReference(const std::vector<std::uint8_t>& src,
                                            const std::vector<std::uint8_t>& mask, std::int32_t cols,
                                            std::int32_t rows) {
    std::vector<std::uint8_t> out = src;
    for (std::int32_t by = 2; by <= rows - 3; ++by) {
        for (std::int32_t bx = 2; bx <= cols - 3; ++bx) {
            if (mask[by * cols + bx] == 0) continue;
            std::array<std::int32_t, 25> v{};
            std::int32_t n = 0;
            for (std::int32_t dy = -2; dy <= 2; ++dy)
                for (std::int32_t dx = -2; dx <= 2; ++dx) v[n++] = src[(by + dy) * cols + bx + dx];
            out[by * cols + bx] = static_cast<std::uint8_t>(zp::medianOfValues(v.data(), 25));
        }
    }
    return out;
}

TEST(MedianFilter, MatchesTheMedianOfEachWindow) {
    const std::int32_t sizes[][2] = {{29, 35}, {32, 48}, {5, 5}, {6, 9}, {18, 7}, {4, 10}};
    std::mt19937 rng(5);
    for (const auto& s : sizes) {
        for (std::int32_t spread : {3, 201}) {
            const std::int32_t cols = s[0];
            const std::int32_t rows = s[1];
            std::vector<std::uint8_t> src(static_cast<std::size_t>(cols * rows));
            std::vector<std::uint8_t> mask(src.size());
            for (auto& v : src) v = static_cast<std::uint8_t>(rng() % spread);
            for (auto& v : mask) v = static_cast<std::uint8_t>(rng() % 4);
            std::vector<std::uint8_t> dst(src.size(), 77);
            zp::medianFilter5x5(src.data(), dst.data(), mask.data(), cols, rows);
            EXPECT_EQ(dst, filteredReference(src, mask, cols, rows)) << cols << "x" << rows;
        }
    }
}

TEST(DirectionCode, BinsTheTangentOfTheHalvedAngle) {
    const struct {
        std::int32_t t;
        std::uint8_t code;
    } cases[] = {{-10000, 5}, {-401, 5}, {-400, 4}, {-134, 4}, {-133, 3}, {-76, 3}, {-75, 2},
                 {-26, 2},    {-25, 1},  {0, 1},    {24, 1},   {25, 8},   {74, 8},  {75, 7},
                 {132, 7},    {133, 6},  {399, 6},  {400, 5},  {10000, 5}};
    for (const auto& c : cases) EXPECT_EQ(zp::directionCodeOfTangent(c.t), c.code) << c.t;
}

TEST(DirectionCode, FollowsTheTurnedVector) {
    const struct {
        std::uint8_t cosineByte, sineByte, code;
    } cases[] = {
        {100, 0, 3},    // flat block: c = 0, s = 100 -> phi -90, h -45
        {100, 200, 7},  // c = 0, s = -100 -> phi 90, h 45
        {0, 100, 5},    // c = 100 (horizontal gradient): a = -100 -> phi 180, h 90
        {200, 100, 1},  // c = -100 (vertical gradient): phi 0
        {200, 200, 8},  // background vector (-100, -100): phi 45, h 22
    };
    for (const auto& c : cases)
        EXPECT_EQ(zp::directionCode(c.cosineByte, c.sineByte), c.code) << int{c.cosineByte} << "," << int{c.sineByte};
}

std::vector<std::uint8_t> foregroundMap() {
    std::vector<std::uint8_t> map(kBw * kBh, 0);
    for (std::int32_t by = 1; by < kBh - 1; ++by)
        for (std::int32_t bx = 1; bx < kBw - 1; ++bx) map[by * kBw + bx] = 1;
    return map;
}

template <typename F>
std::vector<std::uint8_t> imageOf(F f) {
    std::vector<std::uint8_t> image(kW * kH);
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) image[y * kW + x] = f(x, y) ? 200 : 40;
    return image;
}

TEST(OrientationField, StripesGiveTheirDirection) {
    const struct {
        const char* name;
        bool (*bright)(std::int32_t, std::int32_t);
        std::uint8_t code;
    } cases[] = {
        {"horizontal", [](std::int32_t, std::int32_t y) { return ((y >> 2) & 1) != 0; }, 1},
        {"vertical", [](std::int32_t x, std::int32_t) { return ((x >> 2) & 1) != 0; }, 5},
        {"rising", [](std::int32_t x, std::int32_t y) { return (((x + y) >> 2) & 1) != 0; }, 3},
        {"falling", [](std::int32_t x, std::int32_t y) { return (((x - y + 1024) >> 2) & 1) != 0; }, 7},
        {"one-row", [](std::int32_t, std::int32_t y) { return (y & 1) != 0; }, 3},
        {"flat", [](std::int32_t, std::int32_t) { return false; }, 3},
    };
    for (const auto& c : cases) {
        const std::vector<std::uint8_t> image = imageOf(c.bright);
        std::vector<std::uint8_t> map = foregroundMap();
        zp::orientationField(image.data(), kW, kH, map.data());
        for (std::int32_t by = 0; by < kBh; ++by) {
            for (std::int32_t bx = 0; bx < kBw; ++bx) {
                const bool ring = bx == 0 || by == 0 || bx == kBw - 1 || by == kBh - 1;
                ASSERT_EQ(map[by * kBw + bx], ring ? 0 : c.code) << c.name << " block " << bx << "," << by;
            }
        }
    }
}

TEST(OrientationField, BackgroundAndOuterRingAreNotWrittenAndBackgroundVotes) {
    const std::vector<std::uint8_t> image = imageOf([](std::int32_t, std::int32_t y) { return ((y >> 2) & 1) != 0; });
    std::vector<std::uint8_t> map(kBw * kBh, 0);
    for (std::int32_t bx = 0; bx < kBw; ++bx) map[bx] = 1;  // a ring the stage must not touch
    // A lone finger block among background: the 24 background vectors
    // (-100, -100) outvote its own in the median, giving code 8.
    map[10 * kBw + 10] = 1;
    zp::orientationField(image.data(), kW, kH, map.data());
    for (std::int32_t i = 0; i < kBw * kBh; ++i) {
        const std::uint8_t want = i < kBw ? 1 : (i == 10 * kBw + 10 ? 8 : 0);
        ASSERT_EQ(map[i], want) << i;
    }
}

// The stage written out from its rule: per-block gradient sums, vector,
// median of each 5 x 5 window, code.
// The squared-gradient sums of the block at (x, y), written out.
void gradientSumsReference(const std::uint8_t* image, std::int32_t w, std::int32_t x, std::int32_t y, std::int32_t& sxx,
                           std::int32_t& sxy) {
    auto p = [&](std::int32_t u, std::int32_t v) { return static_cast<std::int32_t>(image[v * w + u]); };
    sxx = 0;
    sxy = 0;
    for (std::int32_t v = y; v < y + 8; ++v) {
        for (std::int32_t u = x; u < x + 8; ++u) {
            const std::int32_t gxs = p(u + 1, v - 1) + 2 * p(u + 1, v) + p(u + 1, v + 1) - p(u - 1, v - 1) -
                                     2 * p(u - 1, v) - p(u - 1, v + 1);
            const std::int32_t gys = p(u - 1, v + 1) + 2 * p(u, v + 1) + p(u + 1, v + 1) - p(u - 1, v - 1) -
                                     2 * p(u, v - 1) - p(u + 1, v - 1);
            const std::int32_t gx = static_cast<std::int32_t>(std::floor(gxs / 4.0));
            const std::int32_t gy = static_cast<std::int32_t>(std::floor(gys / 4.0));
            sxx += gx * gx - gy * gy;
            sxy += 2 * gx * gy;
        }
    }
}

std::vector<std::uint8_t> orientationReference(const std::vector<std::uint8_t>& image,
                                               std::vector<std::uint8_t> map) {
    std::vector<std::int32_t> cosv(kBw * kBh, 200);
    std::vector<std::int32_t> sinv(kBw * kBh, 200);
    for (std::int32_t y = 8; y < kH - 8; y += 8) {
        for (std::int32_t x = 8; x < kW - 8; x += 8) {
            const std::int32_t b = (y >> 3) * kBw + (x >> 3);
            if (map[b] == 0) continue;
            std::int32_t sxx = 0;
            std::int32_t sxy = 0;
            gradientSumsReference(image.data(), kW, x, y, sxx, sxy);
            std::int32_t c = 0;
            std::int32_t s = 0;
            if (sxx != 0) {
                const std::int32_t th = zp::arctangent(static_cast<float>(static_cast<double>(sxy) / sxx));
                const double k = sxx >= 0 ? 100.0 : -100.0;
                c = static_cast<std::int32_t>(std::trunc(k * zp::cosine(th)));
                s = static_cast<std::int32_t>(std::trunc(k * zp::sine(th)));
            } else {
                s = sxy < 0 ? -100 : 100;
            }
            cosv[b] = 100 - c;
            sinv[b] = 100 - s;
        }
    }
    auto median = [&](const std::vector<std::int32_t>& src, std::int32_t bx, std::int32_t by) {
        if (bx < 2 || by < 2 || bx > kBw - 3 || by > kBh - 3 || map[by * kBw + bx] == 0) return src[by * kBw + bx];
        std::array<std::int32_t, 25> v{};
        std::int32_t n = 0;
        for (std::int32_t dy = -2; dy <= 2; ++dy)
            for (std::int32_t dx = -2; dx <= 2; ++dx) v[n++] = src[(by + dy) * kBw + bx + dx];
        return zp::medianOfValues(v.data(), 25);
    };
    std::vector<std::uint8_t> out = map;
    for (std::int32_t by = 1; by <= kBh - 2; ++by) {
        for (std::int32_t bx = 1; bx <= kBw - 2; ++bx) {
            if (map[by * kBw + bx] == 0) continue;
            const std::int32_t a = median(cosv, bx, by) - 100;
            const std::int32_t b = median(sinv, bx, by) - 100;
            std::int32_t phi = 0;
            if (a == 0) {
                phi = b < 0 ? -90 : 90;
            } else {
                phi = zp::arctangent(static_cast<float>(b) / static_cast<float>(a)) + (a < 0 ? 180 : 0);
            }
            const std::int32_t h = phi / 2;
            const auto t = static_cast<std::int32_t>(std::trunc(100.0 * zp::tangent(h)));
            std::uint8_t code = 5;
            if (t >= -400 && t < -133) code = 4;
            else if (t >= -133 && t < -75) code = 3;
            else if (t >= -75 && t < -25) code = 2;
            else if (t >= -25 && t < 25) code = 1;
            else if (t >= 25 && t < 75) code = 8;
            else if (t >= 75 && t < 133) code = 7;
            else if (t >= 133 && t < 400) code = 6;
            out[by * kBw + bx] = code;
        }
    }
    return out;
}

TEST(OrientationField, MatchesTheRuleOnCurvedRidgesAndPatchyMaps) {
    std::mt19937 rng(41);
    for (std::int32_t trial = 0; trial < 4; ++trial) {
        const double cx = 60.0 + rng() % 100;
        const double cy = 80.0 + rng() % 120;
        std::vector<std::uint8_t> image(kW * kH);
        for (std::int32_t y = 0; y < kH; ++y) {
            for (std::int32_t x = 0; x < kW; ++x) {
                const double r = std::sqrt((x - cx) * (x - cx) + 0.6 * (y - cy) * (y - cy));
                image[y * kW + x] = static_cast<std::uint8_t>(128 + 90 * std::sin(r * 0.75) + rng() % 21 - 10);
            }
        }
        std::vector<std::uint8_t> map(kBw * kBh, 0);
        for (std::int32_t by = 1; by < kBh - 1; ++by)
            for (std::int32_t bx = 1; bx < kBw - 1; ++bx) map[by * kBw + bx] = rng() % 5 != 0 ? 1 : 0;
        const std::vector<std::uint8_t> want = orientationReference(image, map);
        zp::orientationField(image.data(), kW, kH, map.data());
        EXPECT_EQ(map, want) << "trial " << trial;
    }
}

// The gradient sums of one block, and of two neighbouring ones on every
// vector path that sums pairs, against the rule on every block of
// random images (any greys, only 0 and 255 for the largest gradients) and
// of real captures.
TEST(OrientationField, GradientSumsOfEveryVectorPathMatchTheRule) {
    constexpr std::int32_t w = 256;
    constexpr std::int32_t h = 384;
    std::mt19937 rng(47);
    std::vector<std::vector<std::uint8_t>> images;
    for (const bool extremes : {false, true}) {
        std::vector<std::uint8_t> image = zptest::randomGrey(rng, static_cast<std::size_t>(w * h));
        if (extremes) {
            for (auto& p : image) p = p < 128 ? 0 : 255;
        }
        images.push_back(std::move(image));
    }
    if (!zptest::dataDir().empty()) {
        for (const char* set : {"fvc2000_db1_b", "fvc2000_db3_b", "fvc2002_db1_b"}) {
            images.push_back(zptest::loadSensorImage(set, 108, 6));
            ASSERT_FALSE(images.back().empty()) << set;
        }
    }
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        for (std::size_t i = 0; i < images.size(); ++i) {
            for (std::int32_t y = 8; y < h - 8; y += 8) {
                for (std::int32_t x = 8; x < w - 8; x += 8) {
                    std::int32_t sxx = 0;
                    std::int32_t sxy = 0;
                    std::int32_t wantXx = 0;
                    std::int32_t wantXy = 0;
                    zp::blockGradientSums(images[i].data() + y * w + x, w, sxx, sxy);
                    gradientSumsReference(images[i].data(), w, x, y, wantXx, wantXy);
                    ASSERT_EQ(sxx, wantXx) << zptest::vectorPathName(path) << " image " << i << " at " << x << "," << y;
                    ASSERT_EQ(sxy, wantXy) << zptest::vectorPathName(path) << " image " << i << " at " << x << "," << y;
                    // With the block to the right, where the path sums two at once.
                    std::array<std::int32_t, 4> pair{};
                    if (x + 8 < w - 8 && zp::blockPairGradientSums(images[i].data() + y * w + x, w, pair, path)) {
                        std::int32_t nextXx = 0;
                        std::int32_t nextXy = 0;
                        gradientSumsReference(images[i].data(), w, x + 8, y, nextXx, nextXy);
                        ASSERT_EQ(pair, (std::array<std::int32_t, 4>{wantXx, wantXy, nextXx, nextXy}))
                            << zptest::vectorPathName(path) << " image " << i << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

}  // namespace

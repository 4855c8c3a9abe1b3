#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "image/smoothing.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

// The rule, written out with a second image: finger-block pixels of the
// inner region take the 1 2 1 / 2 4 2 / 1 2 1 mean of the unsmoothed image,
// rows 0..3 become copies of rows 4..7, everything else stays.
std::vector<std::uint8_t> smoothedReference(const std::vector<std::uint8_t>& in, std::int32_t w,
                                            std::int32_t h, const std::vector<std::uint8_t>& map) {
    std::vector<std::uint8_t> out = in;
    for (std::int32_t y = 8; y < h - 8; ++y) {
        for (std::int32_t x = 8; x < w - 8; ++x) {
            if (map[(y >> 3) * (w >> 3) + (x >> 3)] == 0) continue;
            std::int32_t sum = 0;
            for (std::int32_t dy = -1; dy <= 1; ++dy)
                for (std::int32_t dx = -1; dx <= 1; ++dx)
                    sum += in[(y + dy) * w + x + dx] * (2 - (dx < 0 ? -dx : dx)) * (2 - (dy < 0 ? -dy : dy));
            out[y * w + x] = static_cast<std::uint8_t>(sum / 16);
        }
    }
    for (std::int32_t i = 0; i < 4 * w; ++i) out[i] = in[4 * w + i];
    return out;
}

TEST(Smoothing, SpreadsASingleBrightPixel) {
    const std::int32_t w = 32;
    const std::int32_t h = 32;
    std::vector<std::uint8_t> image(w * h, 0);
    const std::vector<std::uint8_t> map(16, 1);
    image[12 * w + 12] = 160;
    zp::smoothImage(image.data(), w, h, map.data());
    const struct {
        std::int32_t dx, dy, want;
    } cases[] = {{0, 0, 40},  {1, 0, 20},  {-1, 0, 20}, {0, 1, 20}, {0, -1, 20}, {1, 1, 10},
                 {-1, 1, 10}, {1, -1, 10}, {-1, -1, 10}, {2, 0, 0},  {0, 2, 0}};
    for (const auto& c : cases) EXPECT_EQ(image[(12 + c.dy) * w + 12 + c.dx], c.want) << c.dx << "," << c.dy;
}

TEST(Smoothing, BackgroundBlocksAndFrameKeepTheirValues) {
    const std::int32_t w = 32;
    const std::int32_t h = 32;
    std::vector<std::uint8_t> image(w * h);
    for (std::int32_t i = 0; i < w * h; ++i) image[i] = static_cast<std::uint8_t>(i * 37);
    std::vector<std::uint8_t> map(16, 0);
    const std::vector<std::uint8_t> before = image;
    zp::smoothImage(image.data(), w, h, map.data());
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int32_t from = y < 4 ? (y + 4) * w + x : y * w + x;
            ASSERT_EQ(image[y * w + x], before[from]) << x << "," << y;
        }
    }
}

TEST(Smoothing, MatchesTheRuleOnEveryRow) {
    const std::int32_t sizes[][2] = {{232, 280}, {32, 48}, {40, 17}, {24, 16}, {16, 13}, {20, 8}, {27, 35}};
    std::mt19937 rng(33);
    for (const auto& s : sizes) {
        const std::int32_t w = s[0];
        const std::int32_t h = s[1];
        std::vector<std::uint8_t> image = zptest::randomGrey(rng, static_cast<std::size_t>(w * h));
        const std::vector<std::uint8_t> map = zptest::randomBlockMap(rng, w, h, 3);
        const std::vector<std::uint8_t> want = smoothedReference(image, w, h, map);
        zp::smoothImage(image.data(), w, h, map.data());
        EXPECT_EQ(image, want) << w << "x" << h;
    }
}

// Each vector path against the rule: random greys, only 0 and 255 (the
// largest sums), on sizes with partial steps, and real captures' greys.
TEST(Smoothing, EveryVectorPathMatchesTheRule) {
    const std::int32_t sizes[][2] = {{232, 280}, {256, 384}, {40, 17}, {27, 35}, {93, 51}};
    std::mt19937 rng(34);
    std::vector<std::vector<std::uint8_t>> real;
    if (!zptest::dataDir().empty()) {
        for (const char* set : {"fvc2000_db1_b", "fvc2000_db3_b", "fvc2002_db1_b"}) {
            real.push_back(zptest::loadSensorImage(set, 106, 4));
            ASSERT_FALSE(real.back().empty()) << set;
        }
    }
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        for (const auto& s : sizes) {
            const std::int32_t w = s[0];
            const std::int32_t h = s[1];
            for (int kind = 0; kind < 2 + static_cast<int>(real.size()); ++kind) {
                std::vector<std::uint8_t> image = zptest::randomGrey(rng, static_cast<std::size_t>(w * h));
                if (kind == 1) {
                    for (auto& p : image) p = p < 128 ? 0 : 255;
                } else if (kind >= 2) {
                    // A real capture's top-left w x h pixels.
                    for (std::int32_t y = 0; y < h; ++y)
                        for (std::int32_t x = 0; x < w; ++x) image[y * w + x] = real[kind - 2][y * 256 + x];
                }
                const std::vector<std::uint8_t> map = zptest::randomBlockMap(rng, w, h, 3);
                const std::vector<std::uint8_t> want = smoothedReference(image, w, h, map);
                zp::smoothImage(image.data(), w, h, map.data(), path);
                EXPECT_EQ(image, want) << zptest::vectorPathName(path) << " " << w << "x" << h << " kind " << kind;
            }
        }
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "enhance/directional_enhancement.h"
#include "ridge_chain.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

using Kernel = zp::EnhancementKernel;
const auto& K = zp::kEnhancementKernels;

Kernel transposed(const Kernel& k) {
    Kernel t{};
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c) t[r][c] = k[c][r];
    return t;
}
Kernel mirroredLeftRight(const Kernel& k) {
    Kernel t{};
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c) t[r][c] = k[r][6 - c];
    return t;
}
Kernel mirroredTopBottom(const Kernel& k) {
    Kernel t{};
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 7; ++c) t[r][c] = k[6 - r][c];
    return t;
}

TEST(EnhancementKernels, SumTo512) {
    for (std::size_t code = 0; code < K.size(); ++code) {
        int sum = 0;
        for (const auto& row : K[code])
            for (int w : row) sum += w;
        EXPECT_EQ(sum, 512) << "kernel " << code + 1;
    }
}

TEST(EnhancementKernels, AreRelatedByTheirSymmetries) {
    // Kernels are numbered by direction code (index code - 1).
    EXPECT_EQ(K[4], transposed(K[0]));
    EXPECT_EQ(K[3], transposed(K[1]));
    EXPECT_EQ(K[5], transposed(K[7]));
    EXPECT_EQ(K[7], mirroredLeftRight(K[1]));
    EXPECT_EQ(K[6], mirroredLeftRight(K[2]));
    EXPECT_EQ(K[5], mirroredLeftRight(K[3]));
    for (int code : {0, 4}) {
        EXPECT_EQ(K[code], mirroredLeftRight(K[code]));
        EXPECT_EQ(K[code], mirroredTopBottom(K[code]));
    }
    EXPECT_EQ(K[2], transposed(K[2]));
    EXPECT_EQ(K[6], transposed(K[6]));
}

TEST(EnhancementKernels, HorizontalKernelHasTheStatedProfiles) {
    const std::array<std::int8_t, 7> along = {27, 34, 40, 42, 40, 34, 27};
    const std::array<std::int8_t, 7> across = {-13, 6, 29, 42, 29, 6, -13};
    EXPECT_EQ(K[0][3], along);
    for (int r = 0; r < 7; ++r) EXPECT_EQ(K[0][r][3], across[r]) << r;
}

// The stage written out with a second image: rows 8..H-9 filtered by the
// rule, rows 4..7 and H-8..H-5 unchanged, rows 0..3 holding result rows
// 8..11 and rows H-4..H-1 the former rows 4..7.
std::vector<std::uint8_t> enhancedReference(const std::vector<std::uint8_t>& in, std::int32_t w,
                                            std::int32_t h, const std::vector<std::uint8_t>& map) {
    std::vector<std::uint8_t> out = in;
    for (std::int32_t y = 8; y < h - 8; ++y) {
        for (std::int32_t x = 8; x < w - 8; ++x) {
            const std::uint8_t k = map[(y >> 3) * (w >> 3) + (x >> 3)];
            if (k == 0) continue;
            std::int32_t sum = 0;
            for (std::int32_t dy = -3; dy <= 3; ++dy)
                for (std::int32_t dx = -3; dx <= 3; ++dx) sum += K[k - 1][dy + 3][dx + 3] * in[(y + dy) * w + x + dx];
            out[y * w + x] = static_cast<std::uint8_t>(sum <= 0 ? 0 : (sum >> 9 > 255 ? 255 : sum >> 9));
        }
    }
    for (std::int32_t y = 0; y < 4 && y + 8 < h - 8; ++y)
        for (std::int32_t x = 0; x < w; ++x) out[y * w + x] = out[(y + 8) * w + x];
    for (std::int32_t y = 0; y < 4; ++y)
        for (std::int32_t x = 0; x < w; ++x) out[(h - 4 + y) * w + x] = in[(4 + y) * w + x];
    return out;
}

TEST(DirectionalEnhancement, MatchesTheRuleOnEveryRow) {
    const std::int32_t sizes[][2] = {{232, 280}, {40, 40}, {27, 33}, {64, 24}, {48, 19}};
    std::mt19937 rng(42);
    for (const auto& s : sizes) {
        const std::int32_t w = s[0];
        const std::int32_t h = s[1];
        std::vector<std::uint8_t> image = zptest::randomGrey(rng, static_cast<std::size_t>(w * h));
        const std::vector<std::uint8_t> map = zptest::randomBlockMap(rng, w, h, 4);
        const std::vector<std::uint8_t> want = enhancedReference(image, w, h, map);
        zp::directionalEnhancement(image.data(), w, h, map.data());
        EXPECT_EQ(image, want) << w << "x" << h;
    }
}

TEST(DirectionalEnhancement, UniformRegionsKeepTheirGrey) {
    const std::int32_t w = 48;
    const std::int32_t h = 48;
    for (std::uint8_t code = 1; code <= 8; ++code) {
        for (std::int32_t grey : {0, 1, 77, 200, 255}) {
            std::vector<std::uint8_t> image(w * h, static_cast<std::uint8_t>(grey));
            const std::vector<std::uint8_t> map(36, code);
            zp::directionalEnhancement(image.data(), w, h, map.data());
            for (std::int32_t i = 0; i < w * h; ++i)
                ASSERT_EQ(image[i], grey) << "code " << int{code} << " grey " << grey << " at " << i;
        }
    }
}

TEST(DirectionalEnhancement, BackgroundBlockBetweenFingerBlocksIsUntouched) {
    const std::int32_t w = 48;
    const std::int32_t h = 40;
    std::mt19937 rng(7);
    std::vector<std::uint8_t> image(w * h);
    for (auto& p : image) p = static_cast<std::uint8_t>(rng());
    std::vector<std::uint8_t> map(6 * 5, 3);
    map[2 * 6 + 2] = 0;  // block columns 1 and 3 filtered, 2 left alone
    const std::vector<std::uint8_t> before = image;
    const std::vector<std::uint8_t> want = enhancedReference(image, w, h, map);
    zp::directionalEnhancement(image.data(), w, h, map.data());
    for (std::int32_t y = 16; y < 24; ++y)
        for (std::int32_t x = 16; x < 24; ++x) EXPECT_EQ(image[y * w + x], before[y * w + x]);
    EXPECT_EQ(image, want);
}

// The stage on a chosen path, for the tests of every path.
void enhanceOnPath(std::uint8_t* image, std::int32_t w, std::int32_t h, const std::uint8_t* map, zp::VectorPath path) {
    zp::directionalEnhancement(image, w, h, map, path);
}

// Each vector path against the rule: random greys on sizes that leave
// partial segments and lone finger blocks, only the extreme greys 0 and 255
// (sums at their limits, so clamping at both ends), and a real capture's
// input to the stage.
TEST(DirectionalEnhancement, EveryVectorPathMatchesTheRule) {
    zptest::expectEveryPathOnRandomImages(
        2024, 2,
        [](std::mt19937& rng, std::int32_t w, std::int32_t h, std::int32_t kind) {
            std::vector<std::uint8_t> image = zptest::randomGrey(rng, static_cast<std::size_t>(w * h));
            if (kind == 1) {
                for (auto& p : image) p = p < 128 ? 0 : 255;
            }
            return image;
        },
        enhancedReference, enhanceOnPath);
}

TEST(DirectionalEnhancement, EveryVectorPathMatchesTheRuleOnRealCaptures) {
    ZP_REQUIRE_DATA();
    zptest::expectEveryPathOnRealCaptures(zptest::RidgeStage::Enhancement, enhancedReference,
                                          enhanceOnPath);
}

}  // namespace

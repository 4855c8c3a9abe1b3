#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "enhance/binarisation.h"
#include "ridge_chain.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

// The flank sets drawn as 5 x 5 pictures, rows dy = -2..2, X = member.
const char* const kPictures[8] = {
    "XXXXX.......o.......XXXXX", "XXXX.X......o......X.XXXX", "XXX..X....X.o.X....X..XXX",
    "XX...X...XX.o.XX...X...XX", "X...XX...XX.o.XX...XX...X", "...XXX...XX.o.XX...XXX...",
    "..XXX....XX.o.XX....XXX..", ".XXXX....X..o..X....XXXX.",
};

TEST(FlankSets, MatchTheirPictures) {
    for (std::size_t code = 0; code < 8; ++code) {
        std::vector<std::pair<int, int>> drawn;
        for (int i = 0; i < 25; ++i)
            if (kPictures[code][i] == 'X') drawn.emplace_back(i % 5 - 2, i / 5 - 2);
        std::vector<std::pair<int, int>> typed;
        for (const zp::FlankOffset& f : zp::kFlankSets[code]) typed.emplace_back(f.dx, f.dy);
        std::sort(drawn.begin(), drawn.end());
        std::sort(typed.begin(), typed.end());
        EXPECT_EQ(typed, drawn) << "code " << code + 1;
    }
}

// The stage written out with a second image.
std::vector<std::uint8_t> binarisedReference(const std::vector<std::uint8_t>& in, std::int32_t w, std::int32_t h,
                                             const std::vector<std::uint8_t>& map) {
    std::vector<std::uint8_t> out(in.size(), 0);
    for (std::int32_t y = 8; y < h - 8; ++y) {
        for (std::int32_t x = 8; x < w - 8; ++x) {
            const std::uint8_t k = map[(y >> 3) * (w >> 3) + (x >> 3)];
            if (k == 0) continue;
            std::int32_t sum = 0;
            for (const zp::FlankOffset& f : zp::kFlankSets[k - 1]) sum += in[(y + f.dy) * w + x + f.dx];
            const std::int32_t p = in[y * w + x];
            out[y * w + x] = p >= (205 * sum) >> 11 && p >= 1 ? 1 : 0;
        }
    }
    return out;
}

TEST(Binarisation, MatchesTheRuleOnEveryRow) {
    const std::int32_t sizes[][2] = {{232, 280}, {40, 40}, {27, 33}, {64, 17}, {24, 16}, {30, 9}};
    std::mt19937 rng(43);
    for (const auto& s : sizes) {
        const std::int32_t w = s[0];
        const std::int32_t h = s[1];
        std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h));
        for (auto& p : image) p = static_cast<std::uint8_t>(rng() % 7 == 0 ? 0 : rng());
        const std::vector<std::uint8_t> map = zptest::randomBlockMap(rng, w, h, 4);
        const std::vector<std::uint8_t> want = binarisedReference(image, w, h, map);
        zp::binarise(0, image.data(), w, h, map.data());
        EXPECT_EQ(image, want) << w << "x" << h;
    }
}

struct Scene {
    std::int32_t w = 40;
    std::int32_t h = 40;
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(40 * 40, 0);
    std::vector<std::uint8_t> map = std::vector<std::uint8_t>(25, 0);
};

TEST(Binarisation, UniformForegroundIsRidgeUnlessBlack) {
    for (std::int32_t grey : {0, 1, 100, 255}) {
        for (std::uint8_t code = 1; code <= 8; ++code) {
            Scene s;
            std::fill(s.image.begin(), s.image.end(), static_cast<std::uint8_t>(grey));
            std::fill(s.map.begin(), s.map.end(), code);
            zp::binarise(0, s.image.data(), s.w, s.h, s.map.data());
            for (std::int32_t y = 0; y < s.h; ++y) {
                for (std::int32_t x = 0; x < s.w; ++x) {
                    const bool inner = x >= 8 && x < 32 && y >= 8 && y < 32;
                    ASSERT_EQ(s.image[y * s.w + x], inner && grey >= 1 ? 1 : 0) << grey << " " << x << "," << y;
                }
            }
        }
    }
}

TEST(Binarisation, DecidesAtTheRoundedDownThreshold) {
    // Code 1, flank rows at 100 and 103: sum 1015, threshold 1015 * 205 >> 11 = 101.
    const struct {
        std::uint8_t centre, want;
    } cases[] = {{101, 1}, {100, 0}, {102, 1}};
    for (const auto& c : cases) {
        Scene s;
        std::fill(s.map.begin(), s.map.end(), 1);
        std::fill(s.image.begin(), s.image.end(), 100);
        for (std::int32_t x = 0; x < s.w; ++x) s.image[22 * s.w + x] = 103;
        s.image[20 * s.w + 20] = c.centre;
        zp::binarise(0, s.image.data(), s.w, s.h, s.map.data());
        EXPECT_EQ(s.image[20 * s.w + 20], c.want) << int{c.centre};
    }
}

TEST(Binarisation, BrightBandIsRidgeAndBackgroundIsCleared) {
    Scene s;
    std::fill(s.map.begin(), s.map.end(), 1);
    s.map[2 * 5 + 3] = 0;  // block (3, 2) background
    std::fill(s.image.begin(), s.image.end(), 30);
    for (std::int32_t y = 19; y <= 21; ++y)
        for (std::int32_t x = 0; x < s.w; ++x) s.image[y * s.w + x] = 220;
    for (std::int32_t y = 16; y < 24; ++y)
        for (std::int32_t x = 24; x < 32; ++x) s.image[y * s.w + x] = 250;
    zp::binarise(0, s.image.data(), s.w, s.h, s.map.data());
    for (std::int32_t x = 8; x < 24; ++x) {
        EXPECT_EQ(s.image[20 * s.w + x], 1) << x;  // middle of the band, dark flanks
        EXPECT_EQ(s.image[17 * s.w + x], 0) << x;  // dark ground next to the band
    }
    for (std::int32_t y = 16; y < 24; ++y)
        for (std::int32_t x = 24; x < 32; ++x) EXPECT_EQ(s.image[y * s.w + x], 0);
}

// The stage on a chosen path, for the tests of every path.
void binariseOnPath(std::uint8_t* image, std::int32_t w, std::int32_t h, const std::uint8_t* map, zp::VectorPath path) {
    zp::binarise(0, image, w, h, map, path);
}

// Each vector path against the rule: random greys, greys a step or two
// around 100 (many pixels right at their threshold) on sizes with partial
// segments, and real captures' input to the stage.
TEST(Binarisation, EveryVectorPathMatchesTheRule) {
    zptest::expectEveryPathOnRandomImages(
        44, 2,
        [](std::mt19937& rng, std::int32_t w, std::int32_t h, std::int32_t kind) {
            std::vector<std::uint8_t> image = zptest::randomGrey(rng, static_cast<std::size_t>(w * h));
            if (kind == 1) {
                for (auto& p : image) p = static_cast<std::uint8_t>(99 + p % 5);
            }
            return image;
        },
        binarisedReference, binariseOnPath);
}

TEST(Binarisation, EveryVectorPathMatchesTheRuleOnRealCaptures) {
    ZP_REQUIRE_DATA();
    zptest::expectEveryPathOnRealCaptures(zptest::RidgeStage::Binarisation, binarisedReference,
                                          binariseOnPath);
}

}  // namespace

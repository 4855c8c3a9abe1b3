#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "enhance/binary_smoothing.h"
#include "ridge_chain.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

TEST(BinarySmoothingTables, FollowTheirRules) {
    for (std::uint32_t i = 0; i < 16; ++i) {
        const int bits = static_cast<int>((i & 1) + ((i >> 1) & 1) + ((i >> 2) & 1) + ((i >> 3) & 1));
        EXPECT_EQ(zp::kValleyTable[i], bits >= 3 ? 1 : 0) << i;
    }
    // Ridge index bits: E 1, N 2, W 4, S 8, NE 16, NW 32, SW 64, SE 128.
    constexpr std::uint32_t top = 2 | 16 | 32;
    constexpr std::uint32_t bottom = 8 | 64 | 128;
    constexpr std::uint32_t left = 4 | 32 | 64;
    constexpr std::uint32_t right = 1 | 16 | 128;
    int cleared = 0;
    for (std::uint32_t i = 0; i < 256; ++i) {
        const bool oneSide = (i & ~top) == 0 || (i & ~bottom) == 0 || (i & ~left) == 0 || (i & ~right) == 0;
        EXPECT_EQ(zp::kRidgeTable[i], oneSide ? 0 : 1) << i;
        cleared += oneSide ? 1 : 0;
    }
    EXPECT_EQ(cleared, 25);
}

// A 3 x 3 neighbourhood, rows top to bottom, in the middle of a 32 x 32
// finger image; returns the centre after the stage.
std::uint8_t smoothedCentre(const char* rows) {
    std::vector<std::uint8_t> image(32 * 32, 0);
    const std::vector<std::uint8_t> map(16, 5);
    for (int i = 0; i < 9; ++i) image[(15 + i / 3) * 32 + 15 + i % 3] = rows[i] == '1' ? 1 : 0;
    zp::binarySmoothing(image.data(), 32, 32, map.data());
    return image[16 * 32 + 16];
}

TEST(BinarySmoothing, DecidesByTheNeighbourhood) {
    const struct {
        const char* rows;
        std::uint8_t want;
        const char* what;
    } cases[] = {
        {"000010000", 0, "isolated ridge pixel"},
        {"010001010", 1, "valley with N, E, S filled"},
        {"010010010", 1, "ridge on a vertical line kept"},
        {"010000010", 0, "valley with N, S only stays"},
        {"010101010", 1, "valley enclosed on four sides filled"},
        {"111010000", 0, "ridge with neighbours only in the top row cleared"},
        {"010011000", 1, "ridge with N and E (two sides) kept"},
        {"000011000", 0, "line end (one neighbour) cleared"},
        {"100010001", 1, "ridge on a diagonal kept"},
        {"001011001", 0, "ridge with neighbours only in the right column cleared"},
        {"000010111", 0, "ridge with neighbours only in the bottom row cleared"},
        {"111111111", 1, "interior ridge kept"},
        {"000000000", 0, "empty valley"},
    };
    for (const auto& c : cases) EXPECT_EQ(smoothedCentre(c.rows), c.want) << c.what;
}

// The stage written out with a second image.
std::vector<std::uint8_t> smoothedReference(const std::vector<std::uint8_t>& in, std::int32_t w, std::int32_t h,
                                            const std::vector<std::uint8_t>& map) {
    std::vector<std::uint8_t> out = in;
    auto at = [&](std::int32_t x, std::int32_t y) { return in[y * w + x] != 0 ? 1U : 0U; };
    for (std::int32_t y = 8; y < h - 8; ++y) {
        for (std::int32_t x = 8; x < w - 8; ++x) {
            std::uint8_t r = 0;
            if (map[(y >> 3) * (w >> 3) + (x >> 3)] != 0) {
                const std::uint32_t low = at(x, y + 1) * 8 + at(x - 1, y) * 4 + at(x, y - 1) * 2 + at(x + 1, y);
                if (in[y * w + x] == 0) {
                    r = zp::kValleyTable[low];
                } else {
                    r = zp::kRidgeTable[at(x + 1, y + 1) * 128 + at(x - 1, y + 1) * 64 + at(x - 1, y - 1) * 32 +
                                        at(x + 1, y - 1) * 16 + low];
                }
            }
            out[y * w + x] = r;
        }
    }
    return out;
}

TEST(BinarySmoothing, MatchesTheRuleWithoutPropagation) {
    const std::int32_t sizes[][2] = {{232, 280}, {40, 40}, {27, 33}, {64, 17}};
    std::mt19937 rng(44);
    for (const auto& s : sizes) {
        const std::int32_t w = s[0];
        const std::int32_t h = s[1];
        // A binary ridge image: random inside, 8-pixel frame of 0.
        std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h), 0);
        for (std::int32_t y = 8; y < h - 8; ++y)
            for (std::int32_t x = 8; x < w - 8; ++x) image[y * w + x] = static_cast<std::uint8_t>(rng() % 2);
        const std::vector<std::uint8_t> map = zptest::randomBlockMap(rng, w, h, 5);
        const std::vector<std::uint8_t> want = smoothedReference(image, w, h, map);
        zp::binarySmoothing(image.data(), w, h, map.data());
        EXPECT_EQ(image, want) << w << "x" << h;
    }
}

TEST(BinarySmoothing, RidgeInBackgroundBlockIsCleared) {
    std::vector<std::uint8_t> image(32 * 32, 0);
    std::vector<std::uint8_t> map(16, 1);
    map[1 * 4 + 1] = 0;
    for (std::int32_t y = 8; y < 16; ++y)
        for (std::int32_t x = 8; x < 16; ++x) image[y * 32 + x] = 1;
    zp::binarySmoothing(image.data(), 32, 32, map.data());
    for (std::int32_t y = 8; y < 16; ++y)
        for (std::int32_t x = 8; x < 16; ++x) EXPECT_EQ(image[y * 32 + x], 0);
}

// The stage on a chosen path, for the tests of every path.
void smoothOnPath(std::uint8_t* image, std::int32_t w, std::int32_t h, const std::uint8_t* map, zp::VectorPath path) {
    zp::binarySmoothing(image, w, h, map, path);
}

// Each vector path against the rule: random 0/1 images and random bytes
// (any non-zero pixel counts as set) inside a frame of 0, on sizes with
// partial steps and lone finger blocks, and real captures' binary ridge
// images.
TEST(BinarySmoothing, EveryVectorPathMatchesTheRule) {
    zptest::expectEveryPathOnRandomImages(
        45, 2,
        [](std::mt19937& rng, std::int32_t w, std::int32_t h, std::int32_t kind) {
            std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h), 0);
            for (std::int32_t y = 8; y < h - 8; ++y) {
                for (std::int32_t x = 8; x < w - 8; ++x) {
                    const auto p = static_cast<std::uint8_t>(rng());
                    image[y * w + x] = kind == 1 ? (p % 3 == 0 ? 0 : p) : p % 2;
                }
            }
            return image;
        },
        smoothedReference, smoothOnPath);
}

TEST(BinarySmoothing, EveryVectorPathMatchesTheRuleOnRealCaptures) {
    ZP_REQUIRE_DATA();
    zptest::expectEveryPathOnRealCaptures(zptest::RidgeStage::BinarySmoothing, smoothedReference,
                                          smoothOnPath);
}

}  // namespace

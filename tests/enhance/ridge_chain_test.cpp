#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"
#include "enhance/thinning.h"
#include "ridge_chain.h"
#include "support/real_images.h"

namespace {

using zptest::Capture;

class RidgeChain : public ::testing::TestWithParam<Capture> {};

TEST_P(RidgeChain, TurnsARealCaptureIntoAThinSkeleton) {
    ZP_REQUIRE_DATA();
    const Capture c = GetParam();
    std::vector<std::uint8_t> image = zptest::loadSensorImage(c.set, c.finger, c.impression);
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    std::int32_t w = 0;
    std::int32_t h = 0;
    ASSERT_NO_FATAL_FAILURE(zptest::runToBinaryRidges(image, workArea, w, h)) << c.set;
    ASSERT_EQ(w, 232);
    ASSERT_EQ(h, 280);
    zp::thinning(image.data(), w, h, 8);

    const std::int32_t bw = w >> 3;
    const std::int32_t bh = h >> 3;
    std::int32_t fingerBlocks = 0;
    for (std::int32_t by = 0; by < bh; ++by) {
        for (std::int32_t bx = 0; bx < bw; ++bx) {
            const std::uint8_t code = workArea[by * bw + bx];
            ASSERT_LE(code, 8);
            if (bx == 0 || by == 0 || bx == bw - 1 || by == bh - 1) {
                ASSERT_EQ(code, 0);
            }
            fingerBlocks += code != 0 ? 1 : 0;
        }
    }
    EXPECT_GT(fingerBlocks, 100);

    std::int32_t ridge = 0;
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint8_t v = image[y * w + x];
            ASSERT_LE(v, 1) << x << "," << y;
            const bool frame = x < 8 || y < 8 || x >= w - 8 || y >= h - 8;
            if (frame || workArea[(y >> 3) * bw + (x >> 3)] == 0) {
                ASSERT_EQ(v, 0) << x << "," << y;
            }
            ridge += v;
        }
    }
    EXPECT_GT(ridge, 1500) << "too little skeleton";

    // One pixel wide: no 2 x 2 square of ridge pixels, and no pixel that a
    // further thinning pass would delete.
    for (std::int32_t y = 8; y < h - 9; ++y) {
        for (std::int32_t x = 8; x < w - 9; ++x) {
            const std::uint8_t* p = &image[y * w + x];
            ASSERT_FALSE(p[0] && p[1] && p[w] && p[w + 1]) << "2 x 2 square at " << x << "," << y;
            if (p[0] == 1) {
                ASSERT_EQ(zp::kThinningTable[zp::thinningIndex(p, w)], 0) << x << "," << y;
            }
        }
    }
    const std::vector<std::uint8_t> skeleton = image;
    zp::thinning(image.data(), w, h, 8);
    EXPECT_EQ(image, skeleton);
}

INSTANTIATE_TEST_SUITE_P(RealCaptures, RidgeChain,
                         ::testing::Values(Capture{"fvc2002_db1_b", 101, 1}, Capture{"fvc2000_db2_b", 103, 2},
                                           Capture{"fvc2000_db1_b", 105, 4}),
                         [](const ::testing::TestParamInfo<Capture>& info) {
                             return std::string(info.param.set) + "_" + std::to_string(info.param.finger) + "_" +
                                    std::to_string(info.param.impression);
                         });

}  // namespace

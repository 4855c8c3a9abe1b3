#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "enhance/skeleton_cleanup.h"
#include "enhance/thinning.h"
#include "minutiae/minutiae_stages.h"
#include "support/random_skeleton.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

// The candidate scan on every vector path against the portable one, on
// cleaned skeletons of random noise (widths round every remainder of the
// 32-pixel vector) under a block map that is finger in some blocks only:
// the marked image, both lists and their order.
TEST(CandidateScan, EveryPathOnRandomSkeletons) {
    std::mt19937 rng(59);
    std::int32_t listed = 0;
    for (std::int32_t trial = 0; trial < 60; ++trial) {
        const std::int32_t w = trial == 0 ? 256 : 24 + static_cast<std::int32_t>(rng() % 233);
        const std::int32_t h = trial == 0 ? 384 : 24 + static_cast<std::int32_t>(rng() % 361);
        const std::int32_t density = 5 + static_cast<std::int32_t>(rng() % 50);
        std::vector<std::uint8_t> image = zptest::randomSkeleton(rng, w, h, density);
        if (trial % 2 == 0) zp::spurRemoval(0, image.data(), w, h);
        const std::vector<std::uint8_t> blocks = zptest::randomBlockMap(rng, w, h, 4);
        std::vector<std::uint8_t> want = image;
        auto wantList = std::make_unique<zp::CandidateList>();
        auto wantBorder = std::make_unique<zp::BorderList>();
        zp::scanCandidates(want.data(), w, h, blocks.data(), *wantList, *wantBorder, zp::VectorPath::Portable);
        listed += wantList->count;
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            std::vector<std::uint8_t> work = image;
            auto list = std::make_unique<zp::CandidateList>();
            auto border = std::make_unique<zp::BorderList>();
            zp::scanCandidates(work.data(), w, h, blocks.data(), *list, *border, path);
            const std::string what = "trial " + std::to_string(trial) + ", " + zptest::vectorPathName(path);
            ASSERT_EQ(work, want) << what;
            ASSERT_EQ(list->count, wantList->count) << what;
            for (std::int32_t k = 0; k < list->count; ++k) {
                ASSERT_EQ(list->entries[k].x, wantList->entries[k].x) << what << " candidate " << k;
                ASSERT_EQ(list->entries[k].y, wantList->entries[k].y) << what << " candidate " << k;
                ASSERT_EQ(list->entries[k].type, wantList->entries[k].type) << what << " candidate " << k;
            }
            ASSERT_EQ(border->count, wantBorder->count) << what;
            for (std::int32_t k = 0; k < border->count; ++k) {
                ASSERT_EQ(border->x[k], wantBorder->x[k]) << what << " border " << k;
                ASSERT_EQ(border->y[k], wantBorder->y[k]) << what << " border " << k;
            }
        }
    }
    EXPECT_GT(listed, 1000);
}

}  // namespace

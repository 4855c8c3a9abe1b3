#include <gtest/gtest.h>

#include <array>
#include <random>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/records.h"
#include "image/quality_score.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

constexpr int kBw = 32;
constexpr int kBh = 48;

// A 256 x 384 image whose 8 x 8 blocks have the given contrasts: each block
// is a checkerboard of 128 + c and 128 - c, whose inverted mean absolute
// deviation is exactly c.
std::vector<std::uint8_t> imageFromContrasts(const std::array<std::uint8_t, kBw * kBh>& contrast) {
    std::vector<std::uint8_t> image(zp::kImageSize, 128);
    for (int y = 0; y < zp::kImageHeight; ++y) {
        for (int x = 0; x < zp::kImageWidth; ++x) {
            const int c = contrast[(y >> 3) * kBw + (x >> 3)];
            image[y * zp::kImageWidth + x] = static_cast<std::uint8_t>(((x + y) & 1) ? 128 + c : 128 - c);
        }
    }
    return image;
}

struct Scored {
    std::int32_t result = 0;
    zp::ImageDescriptor desc;
    std::array<std::uint8_t, zp::kWorkAreaSize> map{};
};

Scored score(std::vector<std::uint8_t>& image, std::int32_t width = zp::kImageWidth,
             std::int32_t height = zp::kImageHeight) {
    Scored s;
    s.map.fill(0xAA);
    s.desc.image = image.data();
    s.desc.width = width;
    s.desc.height = height;
    s.desc.resolution = zp::kImageResolution;
    s.desc.workArea = s.map.data();
    s.result = zp::qualityScore(s.desc);
    return s;
}

TEST(QualityScore, UniformImageHasNoFinger) {
    for (int level : {0, 128, 255}) {
        std::vector<std::uint8_t> image(zp::kImageSize, static_cast<std::uint8_t>(level));
        const Scored s = score(image);
        EXPECT_EQ(s.result, 0) << level;
        EXPECT_EQ(s.desc.quality, 0);
        zp::ImageDescriptor desc = s.desc;
        EXPECT_EQ(zp::fingerTest(desc, 0), 0);
        EXPECT_EQ(zp::fingerTest(desc, -100), 0);
    }
}

TEST(QualityScore, GridLargerThanTheWorkAreaIsRefusedBeforeAnyWork) {
    std::vector<std::uint8_t> image(264 * 384, 0);
    for (std::size_t i = 0; i < image.size(); i += 3) image[i] = 255;
    const Scored wide = score(image, 264, 384);
    EXPECT_EQ(wide.result, 0);
    for (std::uint8_t b : wide.map) ASSERT_EQ(b, 0xAA);
    const Scored tall = score(image, 256, 392);
    EXPECT_EQ(tall.result, 0);
    for (std::uint8_t b : tall.map) ASSERT_EQ(b, 0xAA);

    zp::ImageDescriptor desc;
    desc.image = image.data();
    desc.width = 256;
    desc.height = 384;
    desc.resolution = 300;  // no block size
    std::array<std::uint8_t, zp::kWorkAreaSize> map{};
    desc.workArea = map.data();
    EXPECT_EQ(zp::qualityScore(desc), 0);
}

// Every block a finger block except scattered low-contrast holes, which give
// the low reference: the cleaned map fills the interior bar the four corners
// the last pass erodes after the border is cleared, the highest score
// reachable (1,376 * 100 / 1,536 = 89).
TEST(QualityScore, FullCoverageReachesTheHighestScore) {
    std::array<std::uint8_t, kBw * kBh> contrast{};
    contrast.fill(40);
    int holes = 0;
    for (int by = 2; by < kBh - 2; by += 3) {
        for (int bx = 2; bx < kBw - 2; bx += 3) {
            contrast[by * kBw + bx] = 0;
            ++holes;
        }
    }
    ASSERT_GT(holes * 16, kBw * kBh);
    std::vector<std::uint8_t> image = imageFromContrasts(contrast);
    const Scored s = score(image);
    ASSERT_EQ(s.result, 1);
    EXPECT_EQ(s.desc.quality, 89);
    EXPECT_EQ(s.desc.top, 8);
    EXPECT_EQ(s.desc.bottom, 46 * 8);
    EXPECT_EQ(s.desc.left, 8);
    EXPECT_EQ(s.desc.right, 30 * 8);
    // 21,328 / 1,376 = 15.5 columns and 32,384 / 1,376 = 23.5 rows, truncated.
    EXPECT_EQ(s.desc.centreX, 15 * 8);
    EXPECT_EQ(s.desc.centreY, 23 * 8);
    for (int bx = 0; bx < kBw; ++bx) {
        EXPECT_EQ(s.map[bx], 0);
        EXPECT_EQ(s.map[(kBh - 1) * kBw + bx], 0);
    }
    EXPECT_EQ(s.map[1 * kBw + 1], 0);
    EXPECT_EQ(s.map[1 * kBw + 2], 1);

    zp::ImageDescriptor desc = s.desc;
    EXPECT_EQ(zp::fingerTest(desc, 89), 1);  // equal to the threshold passes
    EXPECT_EQ(zp::fingerTest(desc, 90), 0);
}

// A finger rectangle with a hole and a lone far-away block: the hole is
// filled, the lone block cleared, and the measures follow the rectangle.
TEST(QualityScore, CleaningClearsIsolatedBlocksAndFillsHoles) {
    std::array<std::uint8_t, kBw * kBh> contrast{};
    for (int by = 10; by <= 29; ++by) {
        for (int bx = 6; bx <= 21; ++bx) contrast[by * kBw + bx] = 50;
    }
    contrast[15 * kBw + 12] = 0;
    contrast[40 * kBw + 28] = 60;
    std::vector<std::uint8_t> image = imageFromContrasts(contrast);
    const Scored s = score(image);
    ASSERT_EQ(s.result, 1);
    EXPECT_EQ(s.map[15 * kBw + 12], 1);
    EXPECT_EQ(s.map[40 * kBw + 28], 0);
    // The 16 x 20 rectangle loses its four corners in the first pass.
    EXPECT_EQ(s.desc.quality, (16 * 20 - 4) * 100 / (kBw * kBh));
    EXPECT_EQ(s.desc.left, 6 * 8);
    EXPECT_EQ(s.desc.right, 21 * 8);
    EXPECT_EQ(s.desc.top, 10 * 8);
    EXPECT_EQ(s.desc.bottom, 29 * 8);
    EXPECT_EQ(s.desc.centreX, 13 * 8);  // 13.5 truncated
    EXPECT_EQ(s.desc.centreY, 19 * 8);  // 19.5 truncated
}

TEST(QualityScore, MajorityVoteThresholds) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 9> neighbourhood;  // 3 x 3 around the centre block
        std::uint8_t after;
    };
    const Case cases[] = {
        {"isolated finger block is cleared", {0, 0, 0, 0, 1, 0, 0, 0, 0}, 0},
        {"finger block counting 4 turns background", {1, 1, 0, 1, 1, 0, 0, 0, 0}, 0},
        {"finger block counting 5 stays", {1, 1, 1, 1, 1, 0, 0, 0, 0}, 1},
        {"background block counting 5 turns finger", {1, 1, 1, 1, 0, 1, 0, 0, 0}, 1},
        {"background block counting 4 stays", {1, 1, 1, 0, 0, 1, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        // 5 x 5 map; only the centre is scored, its neighbours sit in the
        // border ring or have too few neighbours of their own to matter.
        std::array<std::uint8_t, 25> map{};
        std::array<std::uint8_t, 25> scratch{};
        for (int i = 0; i < 9; ++i) map[(1 + i / 3) * 5 + 1 + i % 3] = c.neighbourhood[i];
        zp::blockMajorityPass(map.data(), scratch.data(), 5, 5);
        EXPECT_EQ(map[2 * 5 + 2], c.after) << c.name;
    }
    // Border blocks never change.
    std::array<std::uint8_t, 9> full{1, 1, 1, 1, 1, 1, 1, 1, 1};
    std::array<std::uint8_t, 9> scratch{};
    full[0] = 0;
    zp::blockMajorityPass(full.data(), scratch.data(), 3, 3);
    EXPECT_EQ(full[0], 0);
}

TEST(QualityScore, GapFillingNeedsFingerBlocksOnBothSides) {
    // 7 x 5 map: row 1 has a gap between two finger blocks, row 2 a gap
    // reaching the left edge of the interior, row 3 a single finger block.
    std::array<std::uint8_t, 35> map = {
        0, 0, 0, 0, 0, 0, 0,
        0, 1, 0, 0, 1, 0, 0,
        0, 0, 0, 0, 1, 1, 0,
        0, 0, 0, 1, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0,
    };
    zp::fillBlockGaps(map.data(), 7, 5);
    const std::array<std::uint8_t, 35> expected = {
        0, 0, 0, 0, 0, 0, 0,
        0, 1, 1, 1, 1, 0, 0,
        0, 0, 0, 1, 1, 1, 0,  // column 3 filled between rows 1 and 3
        0, 0, 0, 1, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0,
    };
    EXPECT_EQ(map, expected);
}

TEST(QualityScore, RealFingerprintsGivePlausibleMeasures) {
    ZP_REQUIRE_DATA();
    // Expected values were worked out independently of this code from the
    // same centre-cropped or padded images.
    struct Case {
        const char* set;
        int finger;
        std::int32_t quality, centreX, centreY, left, right, top, bottom;
    };
    const Case cases[] = {
        {"fvc2002_db1_b", 101, 64, 144, 184, 32, 240, 16, 368},
        {"fvc2000_db2_b", 103, 77, 120, 176, 8, 240, 8, 368},
        {"fvc2000_db1_b", 105, 73, 120, 184, 8, 240, 40, 336},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> image = zptest::loadSensorImage(c.set, c.finger, 1);
        ASSERT_EQ(image.size(), static_cast<std::size_t>(zp::kImageSize)) << c.set;
        const std::vector<std::uint8_t> before = image;
        const Scored s = score(image);
        const std::string where = std::string(c.set) + " " + std::to_string(c.finger);
        ASSERT_EQ(s.result, 1) << where;
        EXPECT_EQ(image, before) << where;
        EXPECT_EQ(s.desc.quality, c.quality) << where;
        EXPECT_EQ(s.desc.centreX, c.centreX) << where;
        EXPECT_EQ(s.desc.centreY, c.centreY) << where;
        EXPECT_EQ(s.desc.left, c.left) << where;
        EXPECT_EQ(s.desc.right, c.right) << where;
        EXPECT_EQ(s.desc.top, c.top) << where;
        EXPECT_EQ(s.desc.bottom, c.bottom) << where;
        // The map keeps only 0 and 1, its outer ring 0.
        for (int i = 0; i < kBw * kBh; ++i) {
            ASSERT_LE(s.map[i], 1);
            const bool ring = i < kBw || i >= (kBh - 1) * kBw || i % kBw == 0 || i % kBw == kBw - 1;
            if (ring) {
                ASSERT_EQ(s.map[i], 0) << where << " block " << i;
            }
        }
        std::printf("%s %d_1: quality %d centre (%d, %d) x %d..%d y %d..%d\n", c.set, c.finger,
                    s.desc.quality, s.desc.centreX, s.desc.centreY, s.desc.left, s.desc.right,
                    s.desc.top, s.desc.bottom);
    }
}

// Block contrast written out.
std::int32_t contrastReference(const std::uint8_t* block, std::int32_t width, std::int32_t size) {
    std::int32_t sum = 0;
    for (std::int32_t y = 0; y < size; ++y)
        for (std::int32_t x = 0; x < size; ++x) sum += 255 - block[y * width + x];
    const std::int32_t mean = sum / (size * size);
    std::int32_t deviation = 0;
    for (std::int32_t y = 0; y < size; ++y)
        for (std::int32_t x = 0; x < size; ++x) deviation += std::abs(255 - block[y * width + x] - mean);
    return deviation / (size * size);
}

// Each vector path against the rule on every block of random images (any
// greys, only 0 and 255, a narrow band) and of real captures.
TEST(QualityScore, BlockContrastOfEveryVectorPathMatchesTheRule) {
    std::mt19937 rng(46);
    std::vector<std::vector<std::uint8_t>> images;
    for (int kind = 0; kind < 3; ++kind) {
        std::vector<std::uint8_t> image = zptest::randomGrey(rng, zp::kImageSize);
        for (auto& p : image) p = kind == 0 ? p : kind == 1 ? (p < 128 ? 0 : 255) : static_cast<std::uint8_t>(120 + p % 9);
        images.push_back(std::move(image));
    }
    if (!zptest::dataDir().empty()) {
        for (const char* set : {"fvc2000_db1_b", "fvc2000_db3_b", "fvc2002_db1_b"}) {
            images.push_back(zptest::loadSensorImage(set, 105, 3));
            ASSERT_FALSE(images.back().empty()) << set;
        }
    }
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        for (std::size_t i = 0; i < images.size(); ++i) {
            for (const std::int32_t size : {4, 8}) {
                for (std::int32_t y = 0; y + size <= zp::kImageHeight; y += size) {
                    for (std::int32_t x = 0; x + size <= zp::kImageWidth; x += size) {
                        const std::uint8_t* block = images[i].data() + y * zp::kImageWidth + x;
                        ASSERT_EQ(zp::blockContrast(block, zp::kImageWidth, size, path),
                                  contrastReference(block, zp::kImageWidth, size))
                            << zptest::vectorPathName(path) << " image " << i << " size " << size << " at " << x << ","
                            << y;
                    }
                }
            }
        }
    }
}

}  // namespace

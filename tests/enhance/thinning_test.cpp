#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/records.h"
#include "enhance/thinning.h"
#include "ridge_chain.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace {

// The table from the rule: crossing number 1 and at least two set
// neighbours, then the side conditions of each sub-pass.
std::uint8_t ruleEntry(std::uint32_t index) {
    int x[10];
    for (int k = 1; k <= 8; ++k) x[k] = static_cast<int>((index >> (k - 1)) & 1);
    x[9] = x[1];
    int b = 0;
    for (int k = 1; k <= 8; ++k) b += x[k];
    int crossings = 0;
    for (int k = 1; k <= 4; ++k) crossings += x[2 * k - 1] == 0 && (x[2 * k] == 1 || x[2 * k + 1] == 1) ? 1 : 0;
    if (crossings != 1 || b < 2) return 0;
    // Bits: E 1, NE 2, N 4, NW 8, W 16, SW 32, S 64, SE 128.
    constexpr std::uint32_t top = 2 | 4 | 8;
    constexpr std::uint32_t bottom = 32 | 64 | 128;
    constexpr std::uint32_t left = 8 | 16 | 32;
    constexpr std::uint32_t right = 1 | 2 | 128;
    const bool e = (index & 1) != 0;
    const bool n = (index & 4) != 0;
    const bool w = (index & 16) != 0;
    const bool s = (index & 64) != 0;
    std::uint8_t entry = 0;
    if ((!w || !e) && (index & ~top) != 0 && (index & ~bottom) != 0) entry |= 1;
    if ((!n || !s) && (index & ~left) != 0 && (index & ~right) != 0) entry |= 2;
    return entry;
}

TEST(ThinningTable, FollowsTheDeletionRule) {
    int counts[4] = {};
    for (std::uint32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(zp::kThinningTable[i], ruleEntry(i)) << "index " << i;
        ++counts[zp::kThinningTable[i]];
    }
    EXPECT_EQ(counts[0], 148);
    EXPECT_EQ(counts[1], 38);
    EXPECT_EQ(counts[2], 38);
    EXPECT_EQ(counts[3], 32);
}

struct Picture {
    std::int32_t w = 0;
    std::int32_t h = 0;
    std::vector<std::uint8_t> pixels;
};

// Rows of '1' and '.' placed at (8, 8) inside an image with a frame of 8.
Picture framed(const std::vector<std::string>& rows) {
    Picture p;
    p.w = static_cast<std::int32_t>(rows[0].size()) + 16;
    p.h = static_cast<std::int32_t>(rows.size()) + 16;
    p.pixels.assign(static_cast<std::size_t>(p.w * p.h), 0);
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (std::size_t x = 0; x < rows[y].size(); ++x)
            p.pixels[(y + 8) * p.w + x + 8] = rows[y][x] == '1' ? 1 : 0;
    return p;
}

TEST(Thinning, ThinsTheWorkedShapes) {
    const struct {
        const char* what;
        std::vector<std::string> before;
        std::vector<std::string> after;
    } cases[] = {
        {"empty", {"....", "....", "...."}, {"....", "....", "...."}},
        {"isolated pixel", {"...", ".1.", "..."}, {"...", ".1.", "..."}},
        {"horizontal line", {".....", "11111", "....."}, {".....", "11111", "....."}},
        {"vertical line", {".1.", ".1.", ".1.", ".1."}, {".1.", ".1.", ".1.", ".1."}},
        {"diagonal line", {"1...", ".1..", "..1.", "...1"}, {"1...", ".1..", "..1.", "...1"}},
        {"corner of a 4-connected step", {"11", "1."}, {".1", "1."}},
        {"2 x 2 block", {"....", ".11.", ".11.", "...."}, {"....", "..1.", "..1.", "...."}},
        {"3 x 3 block", {".....", ".111.", ".111.", ".111.", "....."}, {".....", "...1.", "..1..", "...1.", "....."}},
        {"3 x 10 block",
         {"............", ".1111111111.", ".1111111111.", ".1111111111.", "............"},
         {"............", "..........1.", "..11111111..", "..........1.", "............"}},
    };
    for (const auto& c : cases) {
        Picture p = framed(c.before);
        zp::thinning(p.pixels.data(), p.w, p.h, 8);
        EXPECT_EQ(p.pixels, framed(c.after).pixels) << c.what;
    }
}

// The iteration written out with full scans.
void thinningReference(std::vector<std::uint8_t>& img, std::int32_t w, std::int32_t h, std::int32_t m) {
    for (;;) {
        int marks = 0;
        for (std::int32_t y = m; y < h - m; ++y)
            for (std::int32_t x = m; x < w - m; ++x)
                if (img[y * w + x] == 1 && zp::kThinningTable[zp::thinningIndex(&img[y * w + x], w)] != 0) {
                    img[y * w + x] = 3;
                    ++marks;
                }
        if (marks == 0) return;
        for (std::int32_t y = m; y < h - m; ++y)
            for (std::int32_t x = m; x < w - m; ++x)
                if (img[y * w + x] == 3 && (zp::kThinningTable[zp::thinningIndex(&img[y * w + x], w)] & 1) != 0)
                    img[y * w + x] = 0;
        for (std::int32_t x = m; x < w - m; ++x)
            for (std::int32_t y = m; y < h - m; ++y)
                if (img[y * w + x] == 3 && (zp::kThinningTable[zp::thinningIndex(&img[y * w + x], w)] & 2) != 0)
                    img[y * w + x] = 0;
        for (auto& v : img)
            if (v == 3) v = 1;
    }
}

// Noise in the one-pixel ring just outside the region, which neighbour
// reads reach but nothing may change: 0 and 1, or other values too (odd
// ones count as set).
void noiseAroundRegion(std::vector<std::uint8_t>& image, std::int32_t w, std::int32_t h, std::int32_t m,
                       bool otherValues, std::mt19937& rng) {
    constexpr std::uint8_t kValues[] = {0, 1, 0, 1, 2, 5, 128, 255};
    const auto value = [&] { return kValues[rng() % (otherValues ? 8 : 4)]; };
    for (std::int32_t x = 0; x < w; ++x) {
        image[(m - 1) * w + x] = value();
        image[(h - m) * w + x] = value();
    }
    for (std::int32_t y = 0; y < h; ++y) {
        image[y * w + m - 1] = value();
        image[y * w + w - m] = value();
    }
}

TEST(Thinning, MatchesTheIterationOnRandomShapes) {
    std::mt19937 rng(45);
    for (std::int32_t trial = 0; trial < 60; ++trial) {
        // Sizes up to the largest served, widths of every remainder by 8 and 64.
        const std::int32_t w = trial == 0 ? 256 : 20 + static_cast<std::int32_t>(rng() % 237);
        const std::int32_t h = trial == 0 ? 384 : 20 + static_cast<std::int32_t>(rng() % 365);
        const std::int32_t border = trial % 3 == 0 ? 5 : 8;
        const std::int32_t m = border == 8 ? 8 : 4;
        std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h), 0);
        const auto inside = [&](std::int32_t x, std::int32_t y) { return x >= m && x < w - m && y >= m && y < h - m; };
        switch (trial % 4) {
            case 0:
            case 1:
                // Thick random strokes: blobs of up to 25 x 25.
                for (int s = 0; s < 40; ++s) {
                    const std::int32_t cx = static_cast<std::int32_t>(rng() % w);
                    const std::int32_t cy = static_cast<std::int32_t>(rng() % h);
                    const std::int32_t rx = 1 + static_cast<std::int32_t>(rng() % 12);
                    const std::int32_t ry = 1 + static_cast<std::int32_t>(rng() % 12);
                    for (std::int32_t y = cy - ry; y <= cy + ry; ++y)
                        for (std::int32_t x = cx - rx; x <= cx + rx; ++x)
                            if (inside(x, y)) image[y * w + x] = 1;
                }
                break;
            case 2:
                // Dense noise: many marks that see each other's deletions.
                for (std::int32_t y = m; y < h - m; ++y)
                    for (std::int32_t x = m; x < w - m; ++x) image[y * w + x] = rng() % 100 < 55 ? 1 : 0;
                break;
            default:
                // Ridge-like bands of width 2 to 6 along random slopes, with holes.
                for (int s = 0; s < 12; ++s) {
                    const std::int32_t x0 = static_cast<std::int32_t>(rng() % w);
                    const std::int32_t y0 = static_cast<std::int32_t>(rng() % h);
                    const std::int32_t dx = static_cast<std::int32_t>(rng() % 7) - 3;
                    const std::int32_t dy = static_cast<std::int32_t>(rng() % 7) - 3;
                    const std::int32_t thick = 2 + static_cast<std::int32_t>(rng() % 5);
                    for (std::int32_t t = 0; t < 200; ++t) {
                        const std::int32_t cx = x0 + dx * t / 3;
                        const std::int32_t cy = y0 + dy * t / 3;
                        for (std::int32_t y = cy; y < cy + thick; ++y)
                            for (std::int32_t x = cx; x < cx + thick; ++x)
                                if (inside(x, y)) image[y * w + x] = rng() % 20 == 0 ? 0 : 1;
                    }
                }
                break;
        }
        noiseAroundRegion(image, w, h, m, trial % 2 == 1, rng);
        std::vector<std::uint8_t> want = image;
        thinningReference(want, w, h, m);
        for (const zp::VectorPath path : zptest::availableVectorPaths()) {
            std::vector<std::uint8_t> work = image;
            zp::thinning(work.data(), w, h, border, path);
            ASSERT_EQ(work, want) << "trial " << trial << ", " << w << " x " << h << ", border " << border << ", "
                                  << zptest::vectorPathName(path);
        }
    }
}

using zptest::Capture;

class ThinningOnRealCaptures : public ::testing::TestWithParam<Capture> {};

// The binary ridge image of a real capture, thinned; then the skeleton
// again with small blobs painted over it, as the cleanup's loop filling
// leaves it.
TEST_P(ThinningOnRealCaptures, MatchesTheIteration) {
    ZP_REQUIRE_DATA();
    const Capture c = GetParam();
    std::vector<std::uint8_t> image = zptest::loadSensorImage(c.set, c.finger, c.impression);
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    std::int32_t w = 0;
    std::int32_t h = 0;
    ASSERT_NO_FATAL_FAILURE(zptest::runToBinaryRidges(image, workArea, w, h)) << c.set;

    // The working window is the buffer's first w * h bytes.
    image.resize(static_cast<std::size_t>(w * h));
    std::vector<std::uint8_t> want = image;
    thinningReference(want, w, h, 8);
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        std::vector<std::uint8_t> work = image;
        zp::thinning(work.data(), w, h, 8, path);
        ASSERT_EQ(work, want) << zptest::vectorPathName(path);
    }
    zp::thinning(image.data(), w, h, 8);

    std::mt19937 rng(static_cast<std::uint32_t>(c.finger * 10 + c.impression));
    for (int s = 0; s < 60; ++s) {
        const std::int32_t cx = static_cast<std::int32_t>(rng() % w);
        const std::int32_t cy = static_cast<std::int32_t>(rng() % h);
        const std::int32_t r = 1 + static_cast<std::int32_t>(rng() % 3);
        for (std::int32_t y = cy - r; y <= cy + r; ++y)
            for (std::int32_t x = cx - r; x <= cx + r; ++x)
                if (x >= 8 && x < w - 8 && y >= 8 && y < h - 8) image[y * w + x] = 1;
    }
    want = image;
    thinningReference(want, w, h, 8);
    for (const zp::VectorPath path : zptest::availableVectorPaths()) {
        std::vector<std::uint8_t> work = image;
        zp::thinning(work.data(), w, h, 8, path);
        EXPECT_EQ(work, want) << zptest::vectorPathName(path);
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, ThinningOnRealCaptures,
                         ::testing::Values(Capture{"fvc2002_db1_b", 101, 1}, Capture{"fvc2002_db1_b", 105, 3},
                                           Capture{"fvc2000_db1_b", 102, 2}, Capture{"fvc2000_db2_b", 104, 5},
                                           Capture{"fvc2000_db3_b", 107, 1}, Capture{"fvc2000_db4_b", 110, 8}));

TEST(Thinning, LeavesImagesLargerThanTheSensorUnchanged) {
    for (const auto& [w, h] : {std::pair{257, 40}, std::pair{40, 385}}) {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h), 1);
        const std::vector<std::uint8_t> before = image;
        zp::thinning(image.data(), w, h, 8);
        EXPECT_EQ(image, before) << w << " x " << h;
    }
}

TEST(Thinning, LeavesEverythingOutsideTheRegion) {
    for (std::int32_t border : {8, 4}) {
        const std::int32_t w = 30;
        const std::int32_t h = 30;
        std::vector<std::uint8_t> image(w * h, 1);
        const std::vector<std::uint8_t> before = image;
        zp::thinning(image.data(), w, h, border);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                if (x < border || x >= w - border || y < border || y >= h - border) {
                    ASSERT_EQ(image[y * w + x], before[y * w + x]) << border << ": " << x << "," << y;
                }
            }
    }
}

}  // namespace

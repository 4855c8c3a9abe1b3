// Several windows of one capture: the grid over the finger's extent, the
// centred window unchanged, and what the other windows show.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/rules.h"
#include "image_io.h"
#include "zpapi.h"

namespace {

using zpcli::FingerExtent;
using zpcli::Rect;

struct GridCase {
    const char* what;
    FingerExtent extent;
    std::size_t windows;     // rectangles the grid lists
    std::int32_t stepX;      // the first sideways shift (0: none)
    std::int32_t stepY;      // the first shift up
};

// Extents measured in captures of several sizes; centres where the
// fitting puts them.
const GridCase kGrid[] = {
    {"a finger smaller than the working window", {true, 150, 200, 90, 120, 210, 280}, 1, 0, 0},
    {"a capture no larger than the frame: the margins' shifts up and down",
     {true, 128, 195, 12, 20, 244, 370}, 3, 0, 35},
    {"a finger just too short to shift (slack below 16 px)", {true, 128, 192, 10, 40, 246, 350}, 1, 0, 0},
    {"448 x 478: a step each way on both axes", {true, 230, 245, 40, 20, 420, 470}, 9, 58, 70},
    {"640 x 480: two steps sideways, one up and down", {true, 320, 240, 0, 0, 640, 480}, 15, 58, 70},
};

TEST(WindowGrid, FollowsTheFingersExtent) {
    for (const GridCase& c : kGrid) {
        const std::vector<Rect> grid = zpcli::windowGrid(c.extent);
        ASSERT_EQ(grid.size(), c.windows) << c.what;
        const Rect& centre = grid[0];
        EXPECT_EQ(centre.width, zp::kWindowWidth);
        EXPECT_EQ(centre.height, zp::kWindowHeight);
        EXPECT_EQ(centre.x + centre.width / 2, static_cast<std::int32_t>(c.extent.centreX)) << c.what;
        EXPECT_EQ(centre.y + centre.height / 2, static_cast<std::int32_t>(c.extent.centreY)) << c.what;
        for (std::size_t i = 1; i < grid.size(); ++i) {
            const Rect& r = grid[i];
            EXPECT_EQ(std::count(grid.begin(), grid.end(), r), 1) << c.what << ": window " << i << " listed twice";
            if (r.x != centre.x) {
                EXPECT_GE(r.x, c.extent.left) << c.what;
                EXPECT_LE(r.x + r.width, c.extent.right) << c.what;
            }
            if (r.y != centre.y) {
                EXPECT_GE(r.y, c.extent.top) << c.what;
                EXPECT_LE(r.y + r.height, c.extent.bottom) << c.what;
            }
        }
        // Up and down first, then left and right.
        if (c.stepY) {
            EXPECT_EQ(grid[1], (Rect{centre.x, centre.y - c.stepY, centre.width, centre.height})) << c.what;
            EXPECT_EQ(grid[2], (Rect{centre.x, centre.y + c.stepY, centre.width, centre.height})) << c.what;
        }
        if (c.stepX) {
            const std::size_t at = c.stepY ? 3 : 1;
            EXPECT_EQ(grid[at], (Rect{centre.x - c.stepX, centre.y, centre.width, centre.height})) << c.what;
            EXPECT_EQ(grid[at + 1], (Rect{centre.x + c.stepX, centre.y, centre.width, centre.height})) << c.what;
        }
    }
}

// A capture of w x h, background 200, with a striped ellipse of rx x ry
// round (cx, cy).
zpcli::GreyImage capture(int w, int h, int cx, int cy, int rx, int ry) {
    zpcli::GreyImage g;
    g.width = w;
    g.height = h;
    g.pixels.assign(static_cast<std::size_t>(w) * h, 200);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = static_cast<double>(x - cx) / rx;
            const double dy = static_cast<double>(y - cy) / ry;
            if (dx * dx + dy * dy < 1.0) g.pixels[static_cast<std::size_t>(y) * w + x] = (x + 2 * y) % 9 < 4 ? 40 : 220;
        }
    return g;
}

// 64-bit FNV-1a of a byte buffer.
std::uint64_t fnv(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 14695981039346656037ULL;
    for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ULL;
    return h;
}

TEST(FitWindows, CentredWindowIsTheFittedImageAndTheOthersShowTheirRectangle) {
    const zpcli::GreyImage images[] = {capture(448, 478, 220, 250, 170, 220), capture(256, 384, 128, 192, 120, 185),
                                       capture(300, 300, 150, 150, 140, 140), capture(640, 480, 300, 240, 300, 230)};
    // The fitted images as the single-window fitting has always made them.
    const std::uint64_t kFitted[] = {0x5bd34de6e027c7adULL, 0xda10e85ebae05505ULL, 0xe5cfb0ff97586b2dULL,
                                     0x3054f0e12c90e6adULL};
    for (std::size_t i = 0; i < std::size(images); ++i) {
        const zpcli::GreyImage& g = images[i];
        std::string alone;
        std::string several;
        const std::vector<std::uint8_t> fitted = zpcli::fitToSensor(g, alone);
        EXPECT_EQ(fnv(fitted), kFitted[i]) << g.width << " x " << g.height;
        const std::vector<zpcli::CaptureWindow> one = zpcli::fitWindows(g, 1, alone);
        const std::vector<zpcli::CaptureWindow> all = zpcli::fitWindows(g, zpcli::kMaxWindows, several);
        ASSERT_EQ(one.size(), 1U);
        EXPECT_EQ(one[0].sensor, fitted) << g.width << " x " << g.height;
        EXPECT_EQ(all[0].sensor, fitted) << g.width << " x " << g.height;
        const std::vector<Rect> grid = zpcli::windowGrid(zpcli::fingerExtent(g));
        ASSERT_EQ(all.size(), std::min<std::size_t>(grid.size(), zpcli::kMaxWindows));
        for (const zpcli::CaptureWindow& w : all) {
            if (w.index == 0) continue;
            EXPECT_EQ(w.rect, grid[static_cast<std::size_t>(w.index)]);
            // The rectangle lands in the frame's middle; outside it and its
            // margin lies the background.
            for (int y = 0; y < ZP_IMAGE_HEIGHT; ++y)
                for (int x = 0; x < ZP_IMAGE_WIDTH; ++x) {
                    const int sx = x + w.frameX;
                    const int sy = y + w.frameY;
                    const bool inside = sx >= w.rect.x - zpcli::kWindowMargin &&
                                        sx < w.rect.x + w.rect.width + zpcli::kWindowMargin &&
                                        sy >= w.rect.y - zpcli::kWindowMargin &&
                                        sy < w.rect.y + w.rect.height + zpcli::kWindowMargin && sx >= 0 && sy >= 0 &&
                                        sx < g.width && sy < g.height;
                    const std::uint8_t want = inside ? g.pixels[static_cast<std::size_t>(sy) * g.width + sx] : 200;
                    ASSERT_EQ(w.sensor[static_cast<std::size_t>(y) * ZP_IMAGE_WIDTH + x], want)
                        << "window " << w.index << " at " << x << ", " << y;
                }
            EXPECT_EQ(w.frameX + ZP_IMAGE_WIDTH / 2, w.rect.x + w.rect.width / 2);
            EXPECT_EQ(w.frameY + ZP_IMAGE_HEIGHT / 2, w.rect.y + w.rect.height / 2);
        }
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/records.h"
#include "image/window_crop.h"

namespace {

std::uint8_t pattern(std::int32_t x, std::int32_t y) {
    return static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);
}

std::uint8_t mapPattern(std::int32_t bx, std::int32_t by) {
    return static_cast<std::uint8_t>(1 + ((bx * 3 + by * 5) % 250));
}

struct WindowCase {
    std::int32_t cx, cy;
    std::int32_t x0, y0;    // window's top-left pixel in the old image
    std::int32_t bx0, by0;  // first block column and row cut from the old map
};

TEST(WindowCrop, CutsImageAndMapRoundTheCentre) {
    const WindowCase cases[] = {
        {128, 192, 12, 52, 1, 6},   // centred: 4 pixels into a block
        {8, 8, 8, 8, 1, 1},         // clamped to the top-left margin
        {240, 368, 16, 96, 2, 12},  // clamped to the bottom-right margin
        {120, 200, 8, 60, 1, 7},    // x clamped, y centred
    };
    for (const WindowCase& c : cases) {
        std::vector<std::uint8_t> image(zp::kImageSize);
        for (std::int32_t y = 0; y < zp::kImageHeight; ++y)
            for (std::int32_t x = 0; x < zp::kImageWidth; ++x)
                image[y * zp::kImageWidth + x] = pattern(x, y);
        std::array<std::uint8_t, zp::kWorkAreaSize> map{};
        for (std::int32_t by = 0; by < 48; ++by)
            for (std::int32_t bx = 0; bx < 32; ++bx) map[by * 32 + bx] = mapPattern(bx, by);

        zp::ImageDescriptor desc = zp::sensorDescriptor(image.data(), map.data());
        desc.centreX = c.cx;
        desc.centreY = c.cy;
        ASSERT_EQ(zp::windowCrop(desc), 1);
        EXPECT_EQ(desc.width, 232);
        EXPECT_EQ(desc.height, 280);

        bool same = true;
        for (std::int32_t y = 0; y < 280; ++y)
            for (std::int32_t x = 0; x < 232; ++x)
                same = same && image[y * 232 + x] == pattern(x + c.x0, y + c.y0);
        EXPECT_TRUE(same) << "image, centre " << c.cx << "," << c.cy;

        bool mapSame = true;
        for (std::int32_t by = 0; by < 35; ++by) {
            for (std::int32_t bx = 0; bx < 29; ++bx) {
                const bool ring = bx == 0 || by == 0 || bx == 28 || by == 34;
                const std::uint8_t want = ring ? 0 : mapPattern(bx + c.bx0, by + c.by0);
                mapSame = mapSame && map[by * 29 + bx] == want;
            }
        }
        EXPECT_TRUE(mapSame) << "map, centre " << c.cx << "," << c.cy;
    }
}

TEST(WindowCrop, RefusesAnImageTooSmallForTheWindow) {
    std::vector<std::uint8_t> image(200 * 300, 7);
    std::array<std::uint8_t, zp::kWorkAreaSize> map{};
    zp::ImageDescriptor desc;
    desc.image = image.data();
    desc.width = 200;
    desc.height = 300;
    desc.resolution = 500;
    desc.workArea = map.data();
    desc.centreX = 96;
    desc.centreY = 144;
    EXPECT_EQ(zp::windowCrop(desc), 0);
    EXPECT_EQ(desc.width, 200);
    EXPECT_EQ(desc.height, 300);
}

}  // namespace

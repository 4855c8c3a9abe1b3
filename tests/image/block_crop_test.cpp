#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/block_crop.h"

namespace {

std::uint8_t pattern(std::int32_t x, std::int32_t y) {
    return static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);
}

std::vector<std::uint8_t> patternImage(std::int32_t w, std::int32_t h) {
    std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h));
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) image[y * w + x] = pattern(x, y);
    return image;
}

struct CropCase {
    std::int32_t width, height, block;
    std::int32_t newWidth, newHeight, left, top, result;
};

TEST(CropToBlocks, KeepsTheCentredWholeBlocks) {
    const CropCase cases[] = {
        {259, 390, 8, 256, 384, 1, 3, 3},
        {256, 384, 8, 256, 384, 0, 0, 0},
        {256, 384, 4, 256, 384, 0, 0, 0},
        {263, 384, 8, 256, 384, 3, 0, 1},
        {256, 391, 8, 256, 384, 0, 3, 2},
        {130, 193, 4, 128, 192, 1, 0, 3},
    };
    for (const CropCase& c : cases) {
        std::vector<std::uint8_t> image = patternImage(c.width, c.height);
        std::int32_t w = c.width;
        std::int32_t h = c.height;
        EXPECT_EQ(zp::cropToBlocks(image.data(), w, h, c.block), c.result) << c.width << "x" << c.height;
        ASSERT_EQ(w, c.newWidth);
        ASSERT_EQ(h, c.newHeight);
        bool same = true;
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                same = same && image[y * w + x] == pattern(x + c.left, y + c.top);
        EXPECT_TRUE(same) << c.width << "x" << c.height;
    }
}

TEST(CropToBlocks, WholeImageIsUntouched) {
    std::vector<std::uint8_t> image = patternImage(256, 384);
    const std::vector<std::uint8_t> before = image;
    std::int32_t w = 256;
    std::int32_t h = 384;
    EXPECT_EQ(zp::cropToBlocks(image.data(), w, h, 8), 0);
    EXPECT_EQ(image, before);
}

}  // namespace

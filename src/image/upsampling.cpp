#include "image/upsampling.h"

namespace zp {

void upsampleByTwo(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1 || width > kUpsampleMaxSide || height > kUpsampleMaxSide) return;
    const std::int32_t outWidth = 2 * width;
    // Written from the last output pixel backwards: every input pixel is
    // read before the output overwrites it.
    for (std::int32_t oy = 2 * height - 1; oy >= 0; --oy) {
        const std::int32_t y = oy >> 1;
        const std::int32_t fy = oy & 1;
        const bool lastRow = y == height - 1;
        for (std::int32_t ox = outWidth - 1; ox >= 0; --ox) {
            const std::int32_t x = ox >> 1;
            const std::int32_t fx = ox & 1;
            const bool lastColumn = x == width - 1;
            const std::uint8_t* p = image + y * width + x;
            const std::int32_t P = p[0];
            std::int32_t q = 0;
            if (lastRow && lastColumn) {
                q = P;
            } else if (lastRow) {
                q = (P * (2 - fx) + p[1] * fx) >> 1;
            } else if (lastColumn) {
                q = (P * (2 - fy) + p[width] * fy) >> 1;
            } else if (fx == 0) {
                q = (P * (4 - 2 * fy) + p[width] * 2 * fy) >> 2;
            } else {
                q = (P * (2 - fy) + p[1] * (2 - fy) + p[width] * fy + p[width + 1] * fy) >> 2;
            }
            image[oy * outWidth + ox] = static_cast<std::uint8_t>(q);
        }
    }
}

}  // namespace zp

#include "image/window_crop.h"

#include <cstring>

#include "image/quality_score.h"

namespace zp {
namespace {

constexpr std::int32_t kHalfWidth = kWindowWidth / 2;
constexpr std::int32_t kHalfHeight = kWindowHeight / 2;

}  // namespace

std::int32_t windowCrop(ImageDescriptor& desc) {
    std::int32_t block = 0;
    std::int32_t shift = 0;
    if (!blockGeometry(desc.resolution, block, shift)) return 0;
    const std::int32_t width = desc.width;
    const std::int32_t height = desc.height;
    // The window with a block of margin must fit, and so must the cut map.
    if (width < kWindowWidth + 2 * block || height < kWindowHeight + 2 * block) return 0;
    if ((kWindowWidth >> shift) * (kWindowHeight >> shift) > kWorkAreaSize) return 0;

    std::int32_t x0 = 0;
    std::int32_t x1 = 0;
    std::int32_t y0 = 0;
    std::int32_t y1 = 0;
    windowSpan(desc.centreX, kHalfWidth, width, block, x0, x1);
    windowSpan(desc.centreY, kHalfHeight, height, block, y0, y1);

    desc.width = kWindowWidth;
    desc.height = kWindowHeight;

    // Rows move towards the start of the buffer (the old row is longer).
    std::uint8_t* image = desc.image;
    for (std::int32_t y = y0; y < y1; ++y) {
        std::memmove(image + (y - y0) * kWindowWidth, image + y * width + x0,
                     static_cast<std::size_t>(kWindowWidth));
    }

    std::uint8_t* map = desc.workArea;
    const std::int32_t oldColumns = width >> shift;
    const std::int32_t bx0 = x0 >> shift;
    const std::int32_t by0 = y0 >> shift;
    const std::int32_t columns = (x1 >> shift) - bx0;
    const std::int32_t rows = (y1 >> shift) - by0;
    for (std::int32_t r = 0; r < rows; ++r) {
        std::memmove(map + r * columns, map + (by0 + r) * oldColumns + bx0,
                     static_cast<std::size_t>(columns));
    }

    const std::int32_t newColumns = kWindowWidth >> shift;
    const std::int32_t newRows = kWindowHeight >> shift;
    for (std::int32_t c = 0; c < newColumns; ++c) {
        map[c] = 0;
        map[(newRows - 1) * newColumns + c] = 0;
    }
    for (std::int32_t r = 0; r < newRows; ++r) {
        map[r * newColumns] = 0;
        map[r * newColumns + newColumns - 1] = 0;
    }
    return 1;
}

}  // namespace zp

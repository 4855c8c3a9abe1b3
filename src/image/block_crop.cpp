#include "image/block_crop.h"

#include <cstring>

namespace zp {

std::int32_t cropToBlocks(std::uint8_t* image, std::int32_t& width, std::int32_t& height,
                          std::int32_t blockSize) {
    if (blockSize < 1 || width < 1 || height < 1) return 0;
    const std::int32_t rw = width % blockSize;
    const std::int32_t rh = height % blockSize;
    if (rw == 0 && rh == 0) return 0;

    const std::int32_t newWidth = width - rw;
    const std::int32_t newHeight = height - rh;
    const std::int32_t left = rw / 2;
    const std::int32_t top = rh / 2;
    // Each kept row moves towards the start of the buffer, never past a row
    // still to be copied.
    for (std::int32_t y = 0; y < newHeight; ++y) {
        std::memmove(image + y * newWidth, image + (y + top) * width + left,
                     static_cast<std::size_t>(newWidth));
    }
    width = newWidth;
    height = newHeight;
    return (rw != 0 ? 1 : 0) + (rh != 0 ? 2 : 0);
}

}  // namespace zp

// Crop to whole blocks: trims the remainder pixels of an image whose sides
// are not multiples of the block size, keeping the centred part.
#pragma once

#include <cstdint>

namespace zp {

// Keeps the (width - width % blockSize) x (height - height % blockSize)
// pixels whose top-left pixel is (width % blockSize / 2, height % blockSize / 2),
// packed row by row at the start of image, and stores the new sizes through
// width and height. Returns 0 when nothing was cropped, 1 when only the
// width, 2 when only the height, 3 when both were reduced. A block size
// below 1 crops nothing.
std::int32_t cropToBlocks(std::uint8_t* image, std::int32_t& width, std::int32_t& height,
                          std::int32_t blockSize);

}  // namespace zp

#include "image/inversion.h"

namespace zp {

void invertImage(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return;
    const std::int32_t count = width * height;
    for (std::int32_t i = 0; i < count; ++i) image[i] = static_cast<std::uint8_t>(255 - image[i]);
}

}  // namespace zp

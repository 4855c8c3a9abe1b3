#include "image/inversion.h"

#include <cstring>

namespace zp {

void invertImage(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return;
    const std::int32_t count = width * height;
    // 255 - p is ~p for a byte: eight pixels at a time, then the rest.
    std::int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, image + i, sizeof word);
        word = ~word;
        std::memcpy(image + i, &word, sizeof word);
    }
    for (; i < count; ++i) image[i] = static_cast<std::uint8_t>(255 - image[i]);
}

}  // namespace zp

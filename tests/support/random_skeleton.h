// Skeletons for the scans over thinned images: random noise of a given
// density inside the 8-pixel frame, thinned.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "enhance/thinning.h"

namespace zptest {

inline std::vector<std::uint8_t> randomSkeleton(std::mt19937& rng, std::int32_t w, std::int32_t h, std::int32_t density) {
    std::vector<std::uint8_t> image(static_cast<std::size_t>(w * h), 0);
    for (std::int32_t y = 8; y < h - 8; ++y) {
        for (std::int32_t x = 8; x < w - 8; ++x) {
            image[static_cast<std::size_t>(y * w + x)] = static_cast<std::int32_t>(rng() % 100) < density ? 1 : 0;
        }
    }
    zp::thinning(image.data(), w, h, 8);
    return image;
}

}  // namespace zptest

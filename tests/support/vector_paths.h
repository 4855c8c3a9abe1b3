// The vector paths this machine runs, for tests that hold each one to the
// portable path's results.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "math/vector_path.h"
#include "support/real_images.h"

namespace zptest {

inline std::vector<zp::VectorPath> availableVectorPaths() {
    std::vector<zp::VectorPath> paths;
    for (const zp::VectorPath p : zp::kVectorPaths) {
        if (zp::vectorPathAvailable(p)) paths.push_back(p);
    }
    return paths;
}

inline std::string vectorPathName(zp::VectorPath path) {
    switch (path) {
        case zp::VectorPath::Portable: return "portable";
        case zp::VectorPath::Sse2: return "sse2";
        case zp::VectorPath::Avx2: return "avx2";
        case zp::VectorPath::Avx512: return "avx512";
    }
    return "unknown";
}

// Image sizes for path tests: the window, the sensor, and sizes whose rows
// end in partial segments and steps.
inline const std::vector<std::pair<std::int32_t, std::int32_t>> kPathTestSizes = {
    {232, 280}, {256, 384}, {40, 40}, {27, 33}, {93, 51}, {64, 17}};

// For every available path, size and image kind: an image made by
// make(rng, w, h, kind) and a random block map (about one block in three
// background); stage(image, w, h, map, path) must leave what
// reference(image, w, h, map) gives.
template <typename Make, typename Reference, typename Stage>
void expectEveryPathOnRandomImages(std::uint32_t seed, std::int32_t kinds, Make make, Reference reference, Stage stage) {
    std::mt19937 rng(seed);
    for (const zp::VectorPath path : availableVectorPaths()) {
        for (const auto& [w, h] : kPathTestSizes) {
            for (std::int32_t kind = 0; kind < kinds; ++kind) {
                std::vector<std::uint8_t> image = make(rng, w, h, kind);
                const std::vector<std::uint8_t> map = randomBlockMap(rng, w, h, 3);
                const std::vector<std::uint8_t> want = reference(image, w, h, map);
                stage(image.data(), w, h, map.data(), path);
                EXPECT_EQ(image, want) << vectorPathName(path) << " " << w << "x" << h << " kind " << kind;
            }
        }
    }
}

}  // namespace zptest

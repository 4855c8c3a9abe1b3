// Runs a real capture through the preparation and ridge stages up to the
// binary ridge image, for tests of the stages that follow.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/records.h"
#include "enhance/binarisation.h"
#include "enhance/binary_smoothing.h"
#include "enhance/directional_enhancement.h"
#include "enhance/orientation_field.h"
#include "image/inversion.h"
#include "image/normalisation.h"
#include "image/quality_score.h"
#include "image/smoothing.h"
#include "image/window_crop.h"

namespace zptest {

// One capture of a real set.
struct Capture {
    const char* set;
    int finger;
    int impression;
};

// image: a 256 x 384 sensor image, turned in place into the binary ridge
// image of its 232 x 280 window; workArea ends holding the direction codes.
// Fails the current test (and returns early) when a stage refuses.
inline void runToBinaryRidges(std::vector<std::uint8_t>& image,
                              std::array<std::uint8_t, zp::kWorkAreaSize>& workArea, std::int32_t& w,
                              std::int32_t& h) {
    ASSERT_EQ(image.size(), static_cast<std::size_t>(zp::kImageSize));
    zp::ImageDescriptor desc = zp::sensorDescriptor(image.data(), workArea.data());
    ASSERT_EQ(zp::qualityScore(desc), 1);
    ASSERT_EQ(zp::windowCrop(desc), 1);
    w = desc.width;
    h = desc.height;
    zp::invertImage(image.data(), w, h);
    ASSERT_EQ(zp::normalise(image.data(), w, h, workArea.data()), 1);
    zp::smoothImage(image.data(), w, h, workArea.data());
    zp::orientationField(image.data(), w, h, workArea.data());
    zp::directionalEnhancement(image.data(), w, h, workArea.data());
    zp::binarise(0, image.data(), w, h, workArea.data());
    zp::binarySmoothing(image.data(), w, h, workArea.data());
}

}  // namespace zptest

// The library's rules that hosts and the tool must apply exactly as the
// stages do: security levels, enrolment minima and the working window.
// Stated once here; the stages, the exports and the tool read them from here.
#pragma once

#include <array>
#include <cstdint>

#include "core/records.h"

namespace zp {

// Score a comparison must reach at security levels 1..5 (ZPMatch); any other
// level acts as kDefaultLevel.
inline constexpr std::array<std::int32_t, 5> kLevelThresholds = {10, 20, 30, 40, 50};
inline constexpr std::int32_t kDefaultLevel = 3;

constexpr std::int32_t levelThreshold(std::int32_t level) {
    if (level < 1 || level > 5) level = kDefaultLevel;
    return kLevelThresholds[static_cast<std::size_t>(level - 1)];
}

// Enrolment (ZPFingerMerge): least minutiae count, candidate yield and
// quality (low byte) of the chosen template, and the score its runner-up
// must reach against it.
inline constexpr std::int32_t kEnrolMinMinutiae = 10;
inline constexpr std::int32_t kEnrolMinYield = 20;
inline constexpr std::int32_t kEnrolMinQuality = 40;
inline constexpr std::int32_t kEnrolMinScore = 50;

// The fixed working window cut round the finger's centre.
inline constexpr std::int32_t kWindowWidth = 232;
inline constexpr std::int32_t kWindowHeight = 280;
// Block size of the 500-dpi sensor image (one block of margin is kept).
inline constexpr std::int32_t kSensorBlockSize = 8;

// Start and end of the window along one axis: centred on centre, pushed
// inside [block, extent - block].
constexpr void windowSpan(std::int32_t centre, std::int32_t half, std::int32_t extent, std::int32_t block,
                          std::int32_t& start, std::int32_t& end) {
    start = centre - half;
    end = centre + half;
    if (start < block) {
        start = block;
        end = block + 2 * half;
    } else if (end > extent - block) {
        end = extent - block;
        start = end - 2 * half;
    }
}

// Top-left pixel of the working window round (centreX, centreY) in the
// 256 x 384 sensor image.
struct WindowOrigin {
    std::int32_t x = 0;
    std::int32_t y = 0;
};
constexpr WindowOrigin sensorWindowOrigin(std::int32_t centreX, std::int32_t centreY) {
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    windowSpan(centreX, kWindowWidth / 2, kImageWidth, kSensorBlockSize, x0, x1);
    windowSpan(centreY, kWindowHeight / 2, kImageHeight, kSensorBlockSize, y0, y1);
    return {x0, y0};
}

}  // namespace zp

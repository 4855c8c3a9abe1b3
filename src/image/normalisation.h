// Grey-level normalisation to a fixed mean and variance; also the pipeline's
// test for a blank window.
#pragma once

#include <cstdint>

namespace zp {

inline constexpr std::int32_t kTargetMean = 120;
inline constexpr std::int32_t kTargetVariance = 3600;

// Measures the truncated mean m and variance v (unsigned 32-bit sum of
// squares, truncated) over the inner region 8 <= x < width - 8,
// 8 <= y < height - 8. Returns 0 and leaves the image unchanged when v is 0
// (flat or empty region). Otherwise maps every pixel of the image, frame
// included, to clamp((((p - m) * g) >> 7) + 120, 0, 255) with the gain
// g = trunc(sqrt(3600.0 / v) * 128) in double precision, and returns 1.
// The work area (block map) is accepted for the common stage signature and
// not read.
std::int32_t normalise(std::uint8_t* image, std::int32_t width, std::int32_t height,
                       const std::uint8_t* workArea);

// One grey level mapped with mean m and gain g:
// clamp((((p - m) * g) >> 7) + 120, 0, 255), the shift arithmetic.
std::int32_t normalisedGrey(std::int32_t p, std::int32_t mean, std::int32_t gain);

// Gain of the normalisation for a variance v > 0: trunc(sqrt(3600 / v) * 128).
std::int32_t normalisationGain(std::uint32_t variance);

}  // namespace zp

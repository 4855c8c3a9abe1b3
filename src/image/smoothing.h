// Smoothing of the finger area: a 3 x 3 binomial blur of the normalised
// window, applied in place with a four-row delay.
#pragma once

#include <cstdint>

#include "math/vector_path.h"

namespace zp {

// Every pixel with 8 <= x < width - 8 and 8 <= y < height - 8 whose block
// (workArea[(y >> 3) * (width >> 3) + (x >> 3)]) is non-zero becomes
// (1 2 1 / 2 4 2 / 1 2 1 weighted sum of the unsmoothed 3 x 3 neighbourhood) / 16.
// Everything else in rows 4..height - 1 keeps its value; rows 0..3 end as
// copies of rows 4..7 (the trace of the in-place four-row delay). With a
// height of 16 or less nothing is smoothed but rows 0..3 are still copied;
// heights below 8 leave the image unchanged.
void smoothImage(std::uint8_t* image, std::int32_t width, std::int32_t height,
                 const std::uint8_t* workArea);
// The same on a chosen vector path (a narrower one where it is not available).
void smoothImage(std::uint8_t* image, std::int32_t width, std::int32_t height,
                 const std::uint8_t* workArea, VectorPath path);

}  // namespace zp

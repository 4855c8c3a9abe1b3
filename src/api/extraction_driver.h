// Extraction pipeline driver: one grey image in, one feature template out.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace zp {

// Driver answers.
inline constexpr std::int32_t kExtractWritten = 0;
inline constexpr std::int32_t kExtractShortBuffer = 3;
inline constexpr std::int32_t kExtractNoFinger = 4;
inline constexpr std::int32_t kExtractNoTemplate = 5;

// Runs the whole pipeline in place on image.image (width, height and
// resolution set by the caller; only 500 dpi is accepted, other resolutions
// answer kExtractNoFinger with the image untouched). The driver points the
// descriptor's work area at its own 1,536-byte stack area and sets the class
// code to 0. threshold is the least quality score, minimumYield the least
// candidate yield. Returns kExtractWritten, kExtractShortBuffer (template
// length below 256), kExtractNoFinger (no finger or quality below threshold;
// image unchanged) or kExtractNoTemplate (blank window, no minutia, or yield
// below minimumYield).
std::int32_t extractionDriver(ImageDescriptor& image, const BufferDescriptor& templ,
                              std::int32_t threshold, std::int32_t minimumYield);

}  // namespace zp

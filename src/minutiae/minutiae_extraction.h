// Minutiae extraction: from the cleaned ridge skeleton and the foreground
// block map to the feature template.
#pragma once

#include <cstdint>

namespace zp {

// Finds the ridge endings and bifurcations of the skeleton (working image of
// width x height, written in place: after the call it holds 0 background,
// 1 ridge, 2 endings and 3 around junctions), filters them, keeps at most
// maxCount of them with their directions and writes the template (256 bytes,
// zero-filled by the caller). Returns the kept count + 256 * candidate yield;
// 0 when nothing usable was found (the template then stays all zero when no
// candidate exists, or holds a header with a count of 0).
std::int32_t extractMinutiae(std::int32_t classCode, std::uint8_t* image, std::int32_t width,
                             std::int32_t height, const std::uint8_t* blockMap,
                             std::int32_t maxCount, std::int32_t quality, std::uint8_t* templ);

}  // namespace zp

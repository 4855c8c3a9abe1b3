// Finger presence and quality score: block contrast, an adaptive contrast
// threshold, a cleaned foreground block map, and the finger's share,
// centre and extent.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "math/vector_path.h"

namespace zp {

// Block size and shift for a resolution; false for resolutions other than
// 250 and 500 dpi.
bool blockGeometry(std::int32_t resolution, std::int32_t& size, std::int32_t& shift);

// Contrast of one size x size block (size 4 or 8) of an image with rows of
// width bytes: the mean absolute deviation of its inverted grey levels from
// their mean, both means rounded down. Every vector path gives the same.
std::int32_t blockContrast(const std::uint8_t* block, std::int32_t width, std::int32_t size, VectorPath path);

// One 3 x 3 majority vote over the interior of a bw x bh block map: a finger
// block with 4 or fewer finger blocks in its neighbourhood (itself included)
// turns background, a background block with 5 or more turns finger. Votes
// read the map as it stood before the pass; scratch (bw * bh bytes) holds it.
void blockMajorityPass(std::uint8_t* map, std::uint8_t* scratch, std::int32_t bw, std::int32_t bh);

// Fills the gaps between the outermost finger blocks of every interior row,
// then of every interior column.
void fillBlockGaps(std::uint8_t* map, std::int32_t bw, std::int32_t bh);

// Fills the work area with the foreground block map and writes quality,
// centre and extent into the descriptor. Returns 1 when a finger was found,
// else 0 (descriptor fields then untouched). The image is only read.
std::int32_t qualityScore(ImageDescriptor& desc);

// 1 when the quality score succeeds and reaches threshold, else 0.
std::int32_t fingerTest(ImageDescriptor& desc, std::int32_t threshold);

}  // namespace zp

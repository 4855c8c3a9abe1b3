// Window crop: cuts the image and its foreground block map down to the
// fixed 232 x 280 working window round the finger's centre.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "core/rules.h"

namespace zp {

// Needs a descriptor on which the quality score succeeded (centre and block
// map set). The window [x0, x0 + 232) x [y0, y0 + 280) lies centred on
// (centreX, centreY) and is pushed inside the image so that it keeps one
// block of margin on every side. Its pixels are packed at the start of the
// image, the block map is cut likewise (block rows y0 >> s .. (y0 + 280 >> s) - 1,
// columns x0 >> s .. (x0 + 232 >> s) - 1) to the start of the work area with
// its outer ring cleared, and width and height become 232 and 280. At
// 500 dpi the window usually starts 4 pixels into a block; the cut map keeps
// that offset and is read with (x >> 3) in window coordinates all the same.
// Returns 1; returns 0 and changes nothing when the resolution has no block
// size or the image cannot hold the window plus a block of margin.
std::int32_t windowCrop(ImageDescriptor& desc);

}  // namespace zp

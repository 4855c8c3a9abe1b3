// Export of a template's minutiae to the record formats other systems read.
//
// All formats carry the minutiae in pixels of the 232 x 280 working window
// (500 dpi, origin top-left, x right, y down), which is where a template's
// coordinates live: a template does not record where the window lay in the
// sensor image. Position = 2 x the stored value.
//
// Angles: a template stores the ridge direction in whole degrees measured
// from +x towards +y (clockwise on screen, y down). ISO/IEC 19794-2 and
// ANSI INCITS 378 measure counter-clockwise from +x, so their angle is
// (360 - d) mod 360, then quantised: ISO in units of 360/256 degrees
// (rounded, 0..255), ANSI in units of 2 degrees (rounded, 0..179). The xyt
// text format (one "x y theta quality" line per minutia) carries the same
// counter-clockwise angle in whole degrees. Quality fields, which templates
// do not have, are written as 0 ("not reported"); ridge endings are type 1
// and bifurcations type 2 in both record formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli_common.h"

namespace zpcli {

std::vector<std::uint8_t> toIso19794_2(const Template& t);
std::vector<std::uint8_t> toAnsi378(const Template& t);
std::string toXyt(const Template& t);
// Header fields and the minutiae ("points": x, y, direction, type) of a template.
Json templateJson(const Template& t);

// Counter-clockwise degrees 0..359 of a stored direction.
std::int32_t counterClockwise(std::int32_t direction);

}  // namespace zpcli

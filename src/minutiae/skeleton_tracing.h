// Reading the one-pixel ridge skeleton: the class of a pixel from its 3 x 3
// neighbourhood, one step along a ridge line, the branch starts of a fork,
// the test whether a point lies well inside the finger, and the directions
// of ridge endings and bifurcations.
//
// A pixel is set when it is non-zero; the marks that later stages write
// into ridge pixels therefore change no answer here. Every point handed in
// must have all eight neighbours inside the image (the skeleton keeps an
// 8-pixel frame of 0). Nothing here writes to the image.
#pragma once

#include <cstdint>

namespace zp {

// Coordinate of an absent optional point: (kNoPoint, kNoPoint).
inline constexpr std::int32_t kNoPoint = -1;

// One answer of the ridge step: the next point and its continuation count
// (1 = next pixel of the line; 0 = the line ends here; 2 = a fork;
// 3 = three or more continuations). When n != 1 the point is the one the
// step started from.
struct StepResult {
    std::int32_t x;
    std::int32_t y;
    std::int32_t n;
};

// Neighbour class of a set pixel: -1 isolated, 0 ridge interior, 1 ridge
// ending, 2 bifurcation (three neighbours, none edge-touching another
// through the centre's edge neighbour), 3 other junction.
std::int32_t neighbourClass(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                            std::int32_t x);

// One step along the ridge from (x, y), coming from (prevX, prevY) or from
// no point.
StepResult ridgeStep(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                     std::int32_t x, std::int32_t prevY, std::int32_t prevX);

// First set neighbour of (x, y) in scan order that is neither excluded
// point; the centre itself when there is none. n is always 1.
StepResult branchStart(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                       std::int32_t x, std::int32_t firstY, std::int32_t firstX,
                       std::int32_t secondY, std::int32_t secondX);

// 1 when (x, y) lies at least margin pixels inside the image and the nine
// blocks around its block are all foreground in the block map, else 0.
std::int32_t safeArea(std::int32_t width, std::int32_t height, std::int32_t y, std::int32_t x,
                      std::int32_t margin, const std::uint8_t* blockMap);

// Direction from the ending (x, y) into its ridge, in whole degrees. The long
// form (0..359) bisects the directions from the first ridge point to the
// seventh and the tenth; the short form (0..360) is the direction from the
// ending to the fifth point.
std::int32_t endingDirection(const std::uint8_t* image, std::int32_t width, std::int32_t x,
                             std::int32_t y, bool longForm);

// Direction of the bifurcation (x, y), 0..359: from the far end of the lone
// branch towards the two branches that run side by side.
std::int32_t bifurcationDirection(const std::uint8_t* image, std::int32_t width, std::int32_t x,
                                  std::int32_t y);

}  // namespace zp

// Pieces of the generator shared between its stages and its tests.
#pragma once

#include <cstdint>
#include <vector>

#include "synth.h"

namespace zp::synth::internal {

// Smooth random field in about [-1, 1]: values on a coarse grid of
// cellsX x cellsY cells over a width x height area, eased between grid points.
class ValueNoise {
public:
    ValueNoise(std::uint64_t seed, int width, int height, int cellsX, int cellsY);
    double at(double x, double y) const;

private:
    int cellsX_, cellsY_;
    double scaleX_, scaleY_;
    std::vector<double> grid_;
};

// Zhang-Suen thinning (with the Lu-Wang neighbour count, which keeps
// two-pixel diagonal lines and tapered ridge ends) of a 0/1 image to one-pixel-wide 8-connected lines.
std::vector<std::uint8_t> thin(const std::vector<std::uint8_t>& binary, int width, int height);

// Crossing number of a skeleton pixel: the number of separate runs of set
// pixels among its eight neighbours (1 = ending, 2 = line, 3 = fork).
int crossingNumber(const std::vector<std::uint8_t>& skeleton, int width, int x, int y);

// Endings and bifurcations of a skeleton, without those near the edge of the
// finger and the artefacts of thinning (short spurs, tiny islands, ridge breaks
// and bridges), each with its direction.
std::vector<Minutia> skeletonMinutiae(const std::vector<std::uint8_t>& skeleton,
                                      const std::vector<std::uint8_t>& silhouette, int width, int height);

}  // namespace zp::synth::internal

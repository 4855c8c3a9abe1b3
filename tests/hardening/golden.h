// The golden report: template hashes and scores of a fixed set of synthetic
// fingers, which must come out byte for byte the same from every build.
#pragma once

#include <string>

namespace zphard {

inline constexpr int kGoldenFingers = 10;
inline constexpr int kGoldenImpressions = 3;

// The whole report as text, one fact per line.
std::string goldenReport();

}  // namespace zphard

// Enrolment: the limits the chosen template must meet and the score its
// confirming impression must reach against it.
#pragma once

#include <cstdint>

namespace zp {

inline constexpr std::int32_t kEnrolMinMinutiae = 10;
inline constexpr std::int32_t kEnrolMinYield = 20;
inline constexpr std::int32_t kEnrolMinQuality = 40;  // low byte of the quality score
inline constexpr std::int32_t kEnrolMinScore = 50;

}  // namespace zp

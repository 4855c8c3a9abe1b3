#include "math/trig.h"

namespace zp {
namespace {

// Brings a into 0..360 with at most one turn either way; -1 when out of range.
constexpr std::int32_t reduceAngle(std::int32_t a) {
    if (a >= 360) a -= 360;
    if (a < 0) a += 360;
    return (a < 0 || a > 360) ? -1 : a;
}

}  // namespace

float sine(std::int32_t a) {
    a = reduceAngle(a);
    if (a < 0) return 0.0F;
    if (a <= 90) return kSineTable[a];
    if (a <= 180) return kSineTable[180 - a];
    if (a <= 270) return -kSineTable[a - 180];
    return -kSineTable[360 - a];
}

float cosine(std::int32_t a) { return sine(90 - a); }

float tangent(std::int32_t a) {
    a = reduceAngle(a);
    if (a < 0) return 0.0F;
    if (a == 90) return 100.0F;
    if (a == 270) return -100.0F;
    if (a < 90) return kTangentTable[a];
    if (a <= 180) return -kTangentTable[180 - a];
    if (a < 270) return kTangentTable[a - 180];
    return -kTangentTable[360 - a];
}

std::int32_t directionBisector(std::int32_t a, std::int32_t b) {
    const std::int32_t diff = a > b ? a - b : b - a;
    std::int32_t m = diff > 180 ? (a + b + 360) / 2 : (a + b) / 2;
    if (m >= 360) m -= 360;
    return m;
}

}  // namespace zp

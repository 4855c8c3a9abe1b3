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

std::int32_t arctangent(float t) {
    const float s = t < 0.0F ? -t : t;
    const std::int32_t g = t < 0.0F ? -1 : 1;
    if (s == 0.0F) return 0;
    if (s > kTangentTable[89]) return 90 * g;
    if (s <= kTangentTable[1]) return 0;
    if (s > kTangentTable[88]) return 89 * g;

    std::int32_t lo = 0;
    std::int32_t hi = 89;
    while (lo < hi) {
        const std::int32_t mid = (lo + hi) / 2;
        if (s <= kTangentTable[mid]) {
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
    }
    if (lo <= 0) return 0;
    if (lo >= 89) return 89 * g;

    // Nearest of the three neighbours; ties go to the smaller index.
    std::int32_t best = lo - 1;
    float bestDistance = s - kTangentTable[lo - 1];
    if (bestDistance < 0.0F) bestDistance = -bestDistance;
    for (std::int32_t k = lo; k <= lo + 1; ++k) {
        float d = s - kTangentTable[k];
        if (d < 0.0F) d = -d;
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return best * g;
}

std::int32_t angleBetween(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    if (x2 == x1) return y2 < y1 ? 270 : 90;
    const std::int32_t dx = x2 - x1;
    const std::int32_t dy = y2 - y1;
    const auto t = static_cast<float>(static_cast<double>(dy) / static_cast<double>(dx));
    const std::int32_t a = arctangent(t);
    if (dx < 0) return a + 180;
    if (dy < 0) return a + 360;
    return a;
}

std::int32_t directionBisector(std::int32_t a, std::int32_t b) {
    const std::int32_t diff = a > b ? a - b : b - a;
    std::int32_t m = diff > 180 ? (a + b + 360) / 2 : (a + b) / 2;
    if (m >= 360) m -= 360;
    return m;
}

}  // namespace zp

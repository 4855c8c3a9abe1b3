#include "math/integer_math.h"

#include <cmath>

namespace zp {

std::int32_t isqrt(std::int32_t n) {
    if (n < 0) return 0;
    if (n > 10000) return static_cast<std::int32_t>(std::sqrt(static_cast<double>(n)));
    std::int32_t lo = 0;
    std::int32_t hi = 100;
    while (lo < hi) {
        const std::int32_t mid = (lo + hi) / 2;
        if (n > mid * mid) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if ((lo + 1) * (lo + 1) <= n) return lo + 1;
    if (lo * lo <= n) return lo;
    return lo - 1;
}

void byteFill(std::uint8_t* dst, std::uint8_t value, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) dst[i] = value;
}

}  // namespace zp

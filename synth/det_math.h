// Reproducible arithmetic for the fingerprint generator.
//
// Every value the generator produces must be the same on every build and
// machine, so it never calls the platform's sin, cos, atan2 or exp (whose last
// bits differ between C libraries) nor the standard random distributions
// (whose algorithms differ between standard libraries). The functions here use
// only +, -, *, / and sqrt, which IEEE 754 rounds exactly, on doubles; the
// library is compiled without floating-point contraction.
#pragma once

#include <cmath>
#include <cstdint>

namespace zp::synth::det {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kTwoPi = 2.0 * kPi;
inline constexpr double kHalfPi = 0.5 * kPi;
inline constexpr double kDegree = kPi / 180.0;

// Nearest whole number, halves away from zero (floor is exact in IEEE).
inline double roundHalfAway(double v) { return v < 0.0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5); }

inline double clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Cubic ease from 0 at edge0 to 1 at edge1.
inline double smoothstep(double edge0, double edge1, double v) {
    const double t = clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

namespace detail {
// Taylor series on |r| <= pi/4; the truncation error is below 1e-18.
inline double sinPoly(double r) {
    const double r2 = r * r;
    double s = 1.0 / 355687428096000.0;  // 1/17!
    s = s * -r2 + 1.0 / 1307674368000.0;  // 1/15!
    s = s * -r2 + 1.0 / 6227020800.0;
    s = s * -r2 + 1.0 / 39916800.0;
    s = s * -r2 + 1.0 / 362880.0;
    s = s * -r2 + 1.0 / 5040.0;
    s = s * -r2 + 1.0 / 120.0;
    s = s * -r2 + 1.0 / 6.0;
    s = s * -r2 + 1.0;
    return s * r;
}
inline double cosPoly(double r) {
    const double r2 = r * r;
    double c = 1.0 / 6402373705728000.0;  // 1/18!
    c = c * -r2 + 1.0 / 20922789888000.0;  // 1/16!
    c = c * -r2 + 1.0 / 87178291200.0;
    c = c * -r2 + 1.0 / 479001600.0;
    c = c * -r2 + 1.0 / 3628800.0;
    c = c * -r2 + 1.0 / 40320.0;
    c = c * -r2 + 1.0 / 720.0;
    c = c * -r2 + 1.0 / 24.0;
    c = c * -r2 + 0.5;
    return c * -r2 + 1.0;
}
// Quadrant k and remainder r of x = k * pi/2 + r, |r| <= pi/4 (two-part pi/2).
inline double reduce(double x, long long& k) {
    constexpr double kHalfPiHi = 1.5707963267341256e+00;  // 33 bits of pi/2
    constexpr double kHalfPiLo = 6.0771005065061922e-11;  // the rest
    const double q = roundHalfAway(x / kHalfPi);
    k = static_cast<long long>(q);
    return (x - q * kHalfPiHi) - q * kHalfPiLo;
}
}  // namespace detail

inline double sin(double x) {
    long long k = 0;
    const double r = detail::reduce(x, k);
    switch (k & 3) {
        case 0: return detail::sinPoly(r);
        case 1: return detail::cosPoly(r);
        case 2: return -detail::sinPoly(r);
        default: return -detail::cosPoly(r);
    }
}

inline double cos(double x) {
    long long k = 0;
    const double r = detail::reduce(x, k);
    switch (k & 3) {
        case 0: return detail::cosPoly(r);
        case 1: return -detail::sinPoly(r);
        case 2: return -detail::cosPoly(r);
        default: return detail::sinPoly(r);
    }
}

// Arctangent of t in [0, 1]: two argument halvings bring t below 0.1, where a
// short odd series converges to full precision.
inline double atanUnit(double t) {
    t = t / (1.0 + std::sqrt(1.0 + t * t));
    t = t / (1.0 + std::sqrt(1.0 + t * t));
    const double t2 = t * t;
    double s = 0.0;
    for (int n = 15; n >= 0; --n) s = s * -t2 + 1.0 / (2.0 * n + 1.0);
    return 4.0 * s * t;
}

// Angle of (x, y) in radians, -pi < result <= pi; atan2(0, 0) = 0.
inline double atan2(double y, double x) {
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    if (ax == 0.0 && ay == 0.0) return 0.0;
    double a = ay <= ax ? atanUnit(ay / ax) : kHalfPi - atanUnit(ax / ay);
    if (x < 0.0) a = kPi - a;
    return y < 0.0 ? -a : a;
}

// e^x for moderate x (|x| < 700): x = k ln2 + r, Taylor series of e^r.
inline double exp(double x) {
    constexpr double kLn2 = 0.69314718055994530942;
    const double q = roundHalfAway(x / kLn2);
    const double r = x - q * kLn2;
    double s = 1.0;
    for (int n = 20; n >= 1; --n) s = 1.0 + s * r / n;
    return std::ldexp(s, static_cast<int>(q));
}

// Angle in degrees of the direction (dx, dy), 0 <= result < 360, measured from
// +x towards +y (down the image).
inline double directionDegrees(double dx, double dy) {
    double a = atan2(dy, dx) / kDegree;
    if (a < 0.0) a += 360.0;
    if (a >= 360.0) a -= 360.0;
    return a;
}

// splitmix64: a tiny, well-mixed generator whose stream is fixed by its
// 64-bit state alone.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1) with 53 random bits.
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Whole number in [0, n).
    int below(int n) { return static_cast<int>((next() >> 33) % static_cast<std::uint64_t>(n)); }
    // Approximately standard normal: the sum of four uniforms, rescaled
    // (bounded at +-3.46, which suits image noise).
    double normal() {
        const double s = uniform() + uniform() + uniform() + uniform();
        return (s - 2.0) * 1.7320508075688772;
    }

private:
    std::uint64_t state_;
};

// One 64-bit value mixed from two, for deriving independent seeds.
inline std::uint64_t mixSeed(std::uint64_t a, std::uint64_t b) {
    Random r(a ^ (b * 0xD1B54A32D192ED03ULL + 0x8CB92BA72F3D8DD7ULL));
    r.next();
    return r.next();
}

}  // namespace zp::synth::det

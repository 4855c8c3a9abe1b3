// Whole-degree trigonometry: constant sine and tangent tables, the
// arctangent by table search, the direction between two points and the
// bisector of two directions. Results are bit-exact by construction; every
// caller depends on the exact whole-degree answers.
#pragma once

#include <array>
#include <cstdint>

namespace zp {

// sin(k°) for k = 0..90, six decimals.
inline constexpr std::array<float, 91> kSineTable = {
    0.000000F, 0.017452F, 0.034899F, 0.052336F, 0.069756F, 0.087156F, 0.104528F, 0.121869F,
    0.139173F, 0.156434F, 0.173648F, 0.190809F, 0.207912F, 0.224951F, 0.241922F, 0.258819F,
    0.275637F, 0.292372F, 0.309017F, 0.325568F, 0.342020F, 0.358368F, 0.374607F, 0.390731F,
    0.406737F, 0.422618F, 0.438371F, 0.453990F, 0.469472F, 0.484810F, 0.500000F, 0.515038F,
    0.529919F, 0.544639F, 0.559193F, 0.573576F, 0.587785F, 0.601815F, 0.615661F, 0.629320F,
    0.642788F, 0.656059F, 0.669131F, 0.681998F, 0.694658F, 0.707107F, 0.719340F, 0.731354F,
    0.743145F, 0.754710F, 0.766044F, 0.777146F, 0.788011F, 0.798636F, 0.809017F, 0.819152F,
    0.829038F, 0.838671F, 0.848048F, 0.857167F, 0.866025F, 0.874620F, 0.882948F, 0.891007F,
    0.898794F, 0.906308F, 0.913545F, 0.920505F, 0.927184F, 0.933580F, 0.939693F, 0.945519F,
    0.951057F, 0.956305F, 0.961262F, 0.965926F, 0.970296F, 0.974370F, 0.978148F, 0.981627F,
    0.984808F, 0.987688F, 0.990268F, 0.992546F, 0.994522F, 0.996195F, 0.997564F, 0.998630F,
    0.999391F, 0.999848F, 1.000000F,
};

// tan(k°) for k = 0..89, six decimals; fourteen entries (48, 58, 63, 72, 73,
// 80-82, 84-89) hold slightly lower historical values that every stored
// direction depends on.
inline constexpr std::array<float, 90> kTangentTable = {
    0.000000F,  0.017455F,  0.034921F,  0.052408F,  0.069927F,  0.087489F,  0.105104F,
    0.122785F,  0.140541F,  0.158384F,  0.176327F,  0.194380F,  0.212557F,  0.230868F,
    0.249328F,  0.267949F,  0.286745F,  0.305731F,  0.324920F,  0.344328F,  0.363970F,
    0.383864F,  0.404026F,  0.424475F,  0.445229F,  0.466308F,  0.487733F,  0.509525F,
    0.531709F,  0.554309F,  0.577350F,  0.600861F,  0.624869F,  0.649408F,  0.674509F,
    0.700208F,  0.726543F,  0.753554F,  0.781286F,  0.809784F,  0.839100F,  0.869287F,
    0.900404F,  0.932515F,  0.965689F,  1.000000F,  1.035530F,  1.072369F,  1.110612F,
    1.150368F,  1.191754F,  1.234897F,  1.279942F,  1.327045F,  1.376382F,  1.428148F,
    1.482561F,  1.539865F,  1.600334F,  1.664279F,  1.732051F,  1.804048F,  1.880726F,
    1.96261F,   2.050304F,  2.144507F,  2.246037F,  2.355852F,  2.475087F,  2.605089F,
    2.747477F,  2.904211F,  3.077683F,  3.270852F,  3.487414F,  3.732051F,  4.010781F,
    4.331476F,  4.704630F,  5.144554F,  5.671281F,  6.313751F,  7.115369F,  8.144346F,
    9.514363F,  11.430051F, 14.300664F, 19.081133F, 28.636244F, 57.289917F,
};

// Sine of a whole angle; angles from -360 to 719 are served, others give 0.
float sine(std::int32_t a);
// sine(90 - a).
float cosine(std::int32_t a);
// Tangent of a whole angle; 90 gives 100 and 270 gives -100.
float tangent(std::int32_t a);
// Whole degrees -90..90 whose tangent lies nearest to t (ties to the
// smaller index); |t| <= tan 1° gives 0 and |t| > tan 89° gives ±90.
// constexpr so that tables of directions can be computed at compile time.
constexpr std::int32_t arctangent(float t) {
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
        if (s <= kTangentTable[static_cast<std::size_t>(mid)]) {
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
    }
    if (lo <= 0) return 0;
    if (lo >= 89) return 89 * g;

    // Nearest of the three neighbours; ties go to the smaller index.
    std::int32_t best = lo - 1;
    float bestDistance = s - kTangentTable[static_cast<std::size_t>(lo - 1)];
    if (bestDistance < 0.0F) bestDistance = -bestDistance;
    for (std::int32_t k = lo; k <= lo + 1; ++k) {
        float d = s - kTangentTable[static_cast<std::size_t>(k)];
        if (d < 0.0F) d = -d;
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return best * g;
}

// Direction from point 1 to point 2 in whole degrees 0..360, measured from
// +x towards +y (y downwards). Coincident points give 90.
constexpr std::int32_t angleBetween(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    if (x2 == x1) return y2 < y1 ? 270 : 90;
    const std::int32_t dx = x2 - x1;
    const std::int32_t dy = y2 - y1;
    const auto t = static_cast<float>(static_cast<double>(dy) / static_cast<double>(dx));
    const std::int32_t a = arctangent(t);
    if (dx < 0) return a + 180;
    if (dy < 0) return a + 360;
    return a;
}
// Mean of two directions 0..359 on the circle.
std::int32_t directionBisector(std::int32_t a, std::int32_t b);

}  // namespace zp

#include "enhance/orientation_field.h"

#include <array>
#include <cstring>

#include "enhance/median_filter.h"
#include "math/trig.h"

#if defined(ZP_VECTOR_PATHS)
#include <emmintrin.h>
#endif

namespace zp {
namespace {

constexpr std::int32_t kBlockShift = 3;
constexpr std::int32_t kBlock = 8;
constexpr std::int32_t kMaxColumns = 32;
constexpr std::int32_t kMaxRows = 48;
constexpr std::int32_t kMaxBlocks = kMaxColumns * kMaxRows;
// Vector components are stored as 100 - c; 200 stands for c = -100.
constexpr std::uint8_t kUnmeasured = 200;
constexpr std::int32_t kScale = 100;

// Upper bounds of 100 x tan(halved angle) and the code of each bin, from
// the steep negative side through horizontal to the steep positive side.
struct TangentBin {
    std::int32_t below;
    std::uint8_t code;
};
constexpr std::array<TangentBin, 8> kTangentBins = {{
    {-400, 5}, {-133, 4}, {-75, 3}, {-25, 2}, {25, 1}, {75, 8}, {133, 7}, {400, 6},
}};

// Fixed-length lane loops over local copies, so that they vectorise.
void blockGradientSumsPortable(const std::uint8_t* p, std::int32_t width, std::int32_t& sxx, std::int32_t& sxy) {
    std::array<std::int32_t, kBlock> xxLanes{};
    std::array<std::int32_t, kBlock> xyLanes{};
    std::array<std::int32_t, kBlock + 2> above{};
    std::array<std::int32_t, kBlock + 2> row{};
    std::array<std::int32_t, kBlock + 2> below{};
    for (std::int32_t i = 0; i < kBlock + 2; ++i) {
        above[i] = p[i - 1 - width];
        row[i] = p[i - 1];
    }
    for (std::int32_t v = 0; v < kBlock; ++v) {
        const std::uint8_t* next = p + (v + 1) * width - 1;
        for (std::int32_t i = 0; i < kBlock + 2; ++i) below[i] = next[i];
        for (std::int32_t i = 0; i < kBlock; ++i) {
            const std::int32_t gxSum = (above[i + 2] - above[i]) + 2 * (row[i + 2] - row[i]) + (below[i + 2] - below[i]);
            const std::int32_t gySum =
                (below[i] + 2 * below[i + 1] + below[i + 2]) - (above[i] + 2 * above[i + 1] + above[i + 2]);
            const std::int32_t gx = gxSum >> 2;
            const std::int32_t gy = gySum >> 2;
            xxLanes[i] += gx * gx - gy * gy;
            xyLanes[i] += 2 * gx * gy;
        }
        above = row;
        row = below;
    }
    sxx = 0;
    sxy = 0;
    for (std::int32_t i = 0; i < kBlock; ++i) {
        sxx += xxLanes[i];
        sxy += xyLanes[i];
    }
}

#if defined(ZP_VECTOR_PATHS)
// The eight columns as 16-bit lanes: Sobel sums stay within +-1020, and one
// multiply-add of the lanes (gx, gy) with (gx, -gy) gives gx^2 - gy^2, with
// (gy, gx) gives 2 gx gy, each in 32 bits.
struct SobelRow {
    __m128i left;    // pixels x - 1
    __m128i centre;  // x
    __m128i right;   // x + 1
};

inline SobelRow sobelRow(const std::uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const auto lanes = [zero](const std::uint8_t* q) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
    };
    return SobelRow{lanes(p - 1), lanes(p), lanes(p + 1)};
}

void blockGradientSumsSse2(const std::uint8_t* p, std::int32_t width, std::int32_t& sxx, std::int32_t& sxy) {
    SobelRow above = sobelRow(p - width);
    SobelRow row = sobelRow(p);
    __m128i xx = _mm_setzero_si128();
    __m128i xy = _mm_setzero_si128();
    const __m128i minusHigh = _mm_set1_epi32(static_cast<std::int32_t>(0xFFFF0001U));  // (1, -1) per lane pair
    for (std::int32_t v = 0; v < kBlock; ++v) {
        const SobelRow below = sobelRow(p + (v + 1) * width);
        const __m128i gxSum = _mm_add_epi16(
            _mm_add_epi16(_mm_sub_epi16(above.right, above.left), _mm_slli_epi16(_mm_sub_epi16(row.right, row.left), 1)),
            _mm_sub_epi16(below.right, below.left));
        const __m128i gySum = _mm_sub_epi16(
            _mm_add_epi16(_mm_add_epi16(below.left, _mm_slli_epi16(below.centre, 1)), below.right),
            _mm_add_epi16(_mm_add_epi16(above.left, _mm_slli_epi16(above.centre, 1)), above.right));
        const __m128i gx = _mm_srai_epi16(gxSum, 2);
        const __m128i gy = _mm_srai_epi16(gySum, 2);
        const __m128i lo = _mm_unpacklo_epi16(gx, gy);
        const __m128i hi = _mm_unpackhi_epi16(gx, gy);
        // (gx, -gy) from (gx, gy) by a lane-pair sign multiply.
        xx = _mm_add_epi32(xx, _mm_madd_epi16(lo, _mm_mullo_epi16(lo, minusHigh)));
        xx = _mm_add_epi32(xx, _mm_madd_epi16(hi, _mm_mullo_epi16(hi, minusHigh)));
        const __m128i swappedLo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(lo, 0xB1), 0xB1);
        const __m128i swappedHi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(hi, 0xB1), 0xB1);
        xy = _mm_add_epi32(xy, _mm_madd_epi16(lo, swappedLo));
        xy = _mm_add_epi32(xy, _mm_madd_epi16(hi, swappedHi));
        above = row;
        row = below;
    }
    const auto total = [](__m128i v) {
        v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
        v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
        return _mm_cvtsi128_si32(v);
    };
    sxx = total(xx);
    sxy = total(xy);
}
#endif

}  // namespace

void blockGradientSums(const std::uint8_t* p, std::int32_t width, std::int32_t& sxx, std::int32_t& sxy,
                       VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (path != VectorPath::Portable) {
        blockGradientSumsSse2(p, width, sxx, sxy);
        return;
    }
#else
    static_cast<void>(path);
#endif
    blockGradientSumsPortable(p, width, sxx, sxy);
}

std::uint8_t directionCodeOfTangent(std::int32_t t) {
    for (const TangentBin& bin : kTangentBins) {
        if (t < bin.below) return bin.code;
    }
    return kVerticalCode;
}

std::uint8_t directionCode(std::uint8_t cosineByte, std::uint8_t sineByte) {
    // Minus the stored vector: the doubled gradient angle turned by 180
    // degrees is the doubled ridge angle.
    const std::int32_t a = cosineByte - kScale;
    const std::int32_t b = sineByte - kScale;
    std::int32_t phi = 0;
    if (a == 0) {
        phi = b < 0 ? -90 : 90;
    } else {
        phi = arctangent(static_cast<float>(b) / static_cast<float>(a));
        if (a < 0) phi += 180;
    }
    const std::int32_t half = phi / 2;
    const auto t = static_cast<std::int32_t>(static_cast<float>(kScale) * tangent(half));
    return directionCodeOfTangent(t);
}

void orientationField(const std::uint8_t* image, std::int32_t width, std::int32_t height,
                      std::uint8_t* blockMap) {
    const std::int32_t columns = width >> kBlockShift;
    const std::int32_t rows = height >> kBlockShift;
    if (columns < 1 || rows < 1 || columns > kMaxColumns || rows > kMaxRows) return;
    const std::int32_t blocks = columns * rows;

    std::array<std::uint8_t, kMaxBlocks> cosines;
    std::array<std::uint8_t, kMaxBlocks> sines;
    std::array<std::uint8_t, kMaxBlocks> filteredCosines;
    std::memset(cosines.data(), kUnmeasured, static_cast<std::size_t>(blocks));
    std::memset(sines.data(), kUnmeasured, static_cast<std::size_t>(blocks));

    const VectorPath path = bestVectorPath();
    // Blocks measured: x = 8, 16, ... while x < width - 8; y likewise.
    for (std::int32_t y = kBlock; y < height - kBlock; y += kBlock) {
        for (std::int32_t x = kBlock; x < width - kBlock; x += kBlock) {
            const std::int32_t b = (y >> kBlockShift) * columns + (x >> kBlockShift);
            if (blockMap[b] == 0) continue;
            std::int32_t sxx = 0;
            std::int32_t sxy = 0;
            blockGradientSums(image + y * width + x, width, sxx, sxy, path);
            std::int32_t c = 0;
            std::int32_t s = 0;
            if (sxx != 0) {
                const auto r = static_cast<float>(static_cast<double>(sxy) / static_cast<double>(sxx));
                const std::int32_t theta = arctangent(r);
                const float sign = sxx >= 0 ? 1.0F : -1.0F;
                c = static_cast<std::int32_t>(sign * kScale * cosine(theta));
                s = static_cast<std::int32_t>(sign * kScale * sine(theta));
            } else {
                s = sxy < 0 ? -kScale : kScale;
            }
            cosines[b] = static_cast<std::uint8_t>(kScale - c);
            sines[b] = static_cast<std::uint8_t>(kScale - s);
        }
    }

    // The filtered sines go into the storage of the unfiltered cosines.
    medianFilter5x5(cosines.data(), filteredCosines.data(), blockMap, columns, rows);
    medianFilter5x5(sines.data(), cosines.data(), blockMap, columns, rows);

    for (std::int32_t by = 1; by <= rows - 2; ++by) {
        for (std::int32_t bx = 1; bx <= columns - 2; ++bx) {
            const std::int32_t i = by * columns + bx;
            if (blockMap[i] != 0) blockMap[i] = directionCode(filteredCosines[i], cosines[i]);
        }
    }
}

}  // namespace zp

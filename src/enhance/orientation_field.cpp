#include "enhance/orientation_field.h"

#include <array>
#include <cstring>

#include "enhance/median_filter.h"
#include "math/trig.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
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

}  // namespace

// Fixed-length lane loops over local copies, so that they vectorise.
void blockGradientSums(const std::uint8_t* p, std::int32_t width, std::int32_t& sxx, std::int32_t& sxy) {
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

namespace {

#if defined(ZP_VECTOR_PATHS)
// Two neighbouring blocks at once, the first in the low 16 bytes of every
// vector: the eight columns of each as 16-bit lanes (Sobel sums stay within
// +-1020); one multiply-add of the lanes (gx, gy) with (gx, -gy) gives
// gx^2 - gy^2, with (gy, gx) gives 2 gx gy, each in 32 bits.
struct SobelRowPair {
    __m256i left;
    __m256i centre;
    __m256i right;
};

__attribute__((target("avx2"))) inline void sobelRowPair(const std::uint8_t* p, SobelRowPair& out) {
    out.left = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1)));
    out.centre = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    out.right = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)));
}

__attribute__((target("avx2"))) void blockPairGradientSumsAvx2(const std::uint8_t* p, std::int32_t width,
                                                               std::array<std::int32_t, 4>& sums) {
    SobelRowPair above;
    SobelRowPair row;
    sobelRowPair(p - width, above);
    sobelRowPair(p, row);
    __m256i xx = _mm256_setzero_si256();
    __m256i xy = _mm256_setzero_si256();
    const __m256i minusHigh = _mm256_set1_epi32(static_cast<std::int32_t>(0xFFFF0001U));
    for (std::int32_t v = 0; v < kBlock; ++v) {
        SobelRowPair below;
        sobelRowPair(p + (v + 1) * width, below);
        const __m256i gxSum = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_sub_epi16(above.right, above.left),
                             _mm256_slli_epi16(_mm256_sub_epi16(row.right, row.left), 1)),
            _mm256_sub_epi16(below.right, below.left));
        const __m256i gySum = _mm256_sub_epi16(
            _mm256_add_epi16(_mm256_add_epi16(below.left, _mm256_slli_epi16(below.centre, 1)), below.right),
            _mm256_add_epi16(_mm256_add_epi16(above.left, _mm256_slli_epi16(above.centre, 1)), above.right));
        const __m256i gx = _mm256_srai_epi16(gxSum, 2);
        const __m256i gy = _mm256_srai_epi16(gySum, 2);
        const __m256i lo = _mm256_unpacklo_epi16(gx, gy);
        const __m256i hi = _mm256_unpackhi_epi16(gx, gy);
        xx = _mm256_add_epi32(xx, _mm256_madd_epi16(lo, _mm256_mullo_epi16(lo, minusHigh)));
        xx = _mm256_add_epi32(xx, _mm256_madd_epi16(hi, _mm256_mullo_epi16(hi, minusHigh)));
        xy = _mm256_add_epi32(xy, _mm256_madd_epi16(lo, _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(lo, 0xB1), 0xB1)));
        xy = _mm256_add_epi32(xy, _mm256_madd_epi16(hi, _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(hi, 0xB1), 0xB1)));
        above = row;
        row = below;
    }
    // Within each half: (xx, xy) summed over its four words.
    __m256i both = _mm256_hadd_epi32(xx, xy);  // xx0+xx1 xx2+xx3 xy0+xy1 xy2+xy3 per half
    both = _mm256_hadd_epi32(both, both);      // xx xy xx xy per half
    sums[0] = _mm256_extract_epi32(both, 0);
    sums[1] = _mm256_extract_epi32(both, 1);
    sums[2] = _mm256_extract_epi32(both, 4);
    sums[3] = _mm256_extract_epi32(both, 5);
}
#endif

}  // namespace

bool blockPairGradientSums(const std::uint8_t* p, std::int32_t width, std::array<std::int32_t, 4>& sums,
                           VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (path == VectorPath::Avx2 && vectorPathAvailable(VectorPath::Avx2)) {
        blockPairGradientSumsAvx2(p, width, sums);
        return true;
    }
#else
    static_cast<void>(p);
    static_cast<void>(width);
    static_cast<void>(sums);
    static_cast<void>(path);
#endif
    return false;
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

    // The doubled gradient angle of block b as the two stored bytes.
    const auto measure = [&cosines, &sines](std::int32_t b, std::int32_t sxx, std::int32_t sxy) {
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
    };

    const VectorPath path = bestVectorPath();
    // Blocks measured: x = 8, 16, ... while x < width - 8; y likewise. A
    // finger block and its right neighbour are summed together where the
    // path allows.
    for (std::int32_t y = kBlock; y < height - kBlock; y += kBlock) {
        for (std::int32_t x = kBlock; x < width - kBlock; x += kBlock) {
            const std::int32_t b = (y >> kBlockShift) * columns + (x >> kBlockShift);
            if (blockMap[b] == 0) continue;
            std::array<std::int32_t, 4> sums{};
            if (x + kBlock < width - kBlock && blockPairGradientSums(image + y * width + x, width, sums, path)) {
                // The block to the right comes along, measured if it is finger.
                measure(b, sums[0], sums[1]);
                if (blockMap[b + 1] != 0) measure(b + 1, sums[2], sums[3]);
                x += kBlock;
                continue;
            }
            blockGradientSums(image + y * width + x, width, sums[0], sums[1]);
            measure(b, sums[0], sums[1]);
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

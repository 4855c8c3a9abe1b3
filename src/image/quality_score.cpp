#include "image/quality_score.h"

#include <array>

#include "math/vector_path.h"

#if defined(ZP_VECTOR_PATHS)
#include <emmintrin.h>
#endif

namespace zp {
namespace {

constexpr std::int32_t kMaxBlockColumns = 32;
constexpr std::int32_t kMaxBlockRows = 48;
constexpr std::int32_t kCleaningPasses = 5;
// The map's outer ring is cleared after this many passes.
constexpr std::int32_t kPassesBeforeBorderClear = 4;
// A reference walk stops once it has gathered more than 1/16 of all blocks.
constexpr std::int32_t kReferenceShare = 16;

// Mean absolute deviation of the inverted grey levels of one Size x Size
// block (a compile-time size lets the compiler unroll and vectorise).
template <std::int32_t Size>
std::int32_t blockContrast(const std::uint8_t* block, std::int32_t width) {
    std::int32_t sum = 0;
    for (std::int32_t y = 0; y < Size; ++y) {
        for (std::int32_t x = 0; x < Size; ++x) sum += 255 - block[y * width + x];
    }
    const std::int32_t mean = sum / (Size * Size);
    std::int32_t deviation = 0;
    for (std::int32_t y = 0; y < Size; ++y) {
        for (std::int32_t x = 0; x < Size; ++x) {
            const std::int32_t d = 255 - block[y * width + x] - mean;
            deviation += d < 0 ? -d : d;
        }
    }
    return deviation / (Size * Size);
}

#if defined(ZP_VECTOR_PATHS)
// The 8 x 8 block by sums of absolute differences over two rows at a time:
// against 0 they give the grey sum, against 255 - mean the deviation
// |255 - p - mean| (255 - mean is a grey level itself).
std::int32_t blockContrast8Sse2(const std::uint8_t* block, std::int32_t width) {
    constexpr std::int32_t kPixels = 64;
    __m128i rows[4];
    for (std::int32_t i = 0; i < 4; ++i) {
        const std::uint8_t* top = block + 2 * i * width;
        rows[i] = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(top)),
                                     _mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + width)));
    }
    const auto total = [&rows](__m128i against) {
        __m128i sums = _mm_setzero_si128();
        for (const __m128i r : rows) sums = _mm_add_epi64(sums, _mm_sad_epu8(r, against));
        return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    };
    const std::int32_t mean = (kPixels * 255 - total(_mm_setzero_si128())) / kPixels;
    return total(_mm_set1_epi8(static_cast<char>(255 - mean))) / kPixels;
}
#endif

// Mean contrast of the lowest blocks from bin `from` up to (not including)
// `to`, gathering until more than nb / 16 blocks are counted; -1 if none.
std::int32_t referenceContrast(const std::array<std::int32_t, 256>& histogram, std::int32_t from,
                               std::int32_t to, std::int32_t nb) {
    std::int32_t count = 0;
    std::int32_t sum = 0;
    for (std::int32_t bin = from; bin < to; ++bin) {
        count += histogram[bin];
        sum += histogram[bin] * bin;
        if (kReferenceShare * count > nb) break;
    }
    return count == 0 ? -1 : sum / count;
}

}  // namespace

void blockMajorityPass(std::uint8_t* map, std::uint8_t* scratch, std::int32_t bw, std::int32_t bh) {
    const std::int32_t nb = bw * bh;
    for (std::int32_t i = 0; i < nb; ++i) scratch[i] = map[i];
    for (std::int32_t by = 1; by < bh - 1; ++by) {
        for (std::int32_t bx = 1; bx < bw - 1; ++bx) {
            std::int32_t count = 0;
            for (std::int32_t dy = -1; dy <= 1; ++dy) {
                for (std::int32_t dx = -1; dx <= 1; ++dx) count += scratch[(by + dy) * bw + bx + dx];
            }
            std::uint8_t& cell = map[by * bw + bx];
            if (cell != 0 && count <= 4) cell = 0;
            else if (cell == 0 && count >= 5) cell = 1;
        }
    }
}

void clearBorder(std::uint8_t* map, std::int32_t bw, std::int32_t bh) {
    for (std::int32_t bx = 0; bx < bw; ++bx) {
        map[bx] = 0;
        map[(bh - 1) * bw + bx] = 0;
    }
    for (std::int32_t by = 0; by < bh; ++by) {
        map[by * bw] = 0;
        map[by * bw + bw - 1] = 0;
    }
}

namespace {

// Fills every gap between the first and last finger block of the interior
// span of a line; `stride` steps along the line, `count` cells in it.
void fillLine(std::uint8_t* first, std::int32_t stride, std::int32_t count) {
    std::int32_t lo = -1;
    std::int32_t hi = -1;
    for (std::int32_t i = 1; i < count - 1; ++i) {
        if (first[i * stride] != 0) {
            if (lo < 0) lo = i;
            hi = i;
        }
    }
    for (std::int32_t i = lo + 1; lo >= 0 && i < hi; ++i) first[i * stride] = 1;
}

}  // namespace

void fillBlockGaps(std::uint8_t* map, std::int32_t bw, std::int32_t bh) {
    for (std::int32_t by = 1; by < bh - 1; ++by) fillLine(map + by * bw, 1, bw);
    for (std::int32_t bx = 1; bx < bw - 1; ++bx) fillLine(map + bx, bw, bh);
}

std::int32_t blockContrast(const std::uint8_t* block, std::int32_t width, std::int32_t size, VectorPath path) {
    if (size == 4) return blockContrast<4>(block, width);
#if defined(ZP_VECTOR_PATHS)
    if (path != VectorPath::Portable) return blockContrast8Sse2(block, width);
#else
    static_cast<void>(path);
#endif
    return blockContrast<8>(block, width);
}

bool blockGeometry(std::int32_t resolution, std::int32_t& size, std::int32_t& shift) {
    if (resolution == 500) {
        size = 8;
        shift = 3;
        return true;
    }
    if (resolution == 250) {
        size = 4;
        shift = 2;
        return true;
    }
    return false;
}

std::int32_t qualityScore(ImageDescriptor& desc) {
    std::int32_t size = 0;
    std::int32_t shift = 0;
    if (!blockGeometry(desc.resolution, size, shift)) return 0;
    const std::int32_t bw = desc.width >> shift;
    const std::int32_t bh = desc.height >> shift;
    const std::int32_t nb = bw * bh;
    if (bw > kMaxBlockColumns || bh > kMaxBlockRows || nb < 1) return 0;

    std::uint8_t* map = desc.workArea;
    for (std::int32_t i = 0; i < nb; ++i) map[i] = 0;
    std::array<std::int32_t, 256> histogram{};
    std::array<std::uint8_t, kWorkAreaSize> contrast{};

    const VectorPath path = bestVectorPath();
    std::int32_t total = 0;
    for (std::int32_t by = 0; by < bh; ++by) {
        for (std::int32_t bx = 0; bx < bw; ++bx) {
            const std::uint8_t* block = desc.image + by * size * desc.width + bx * size;
            const std::int32_t c = blockContrast(block, desc.width, size, path);
            contrast[by * bw + bx] = static_cast<std::uint8_t>(c);
            total += c;
            ++histogram[c];
        }
    }
    const std::int32_t average = total / nb;
    if (average == 0) return 0;

    const std::int32_t low = referenceContrast(histogram, 0, average, nb);
    if (low < 0) return 0;
    const std::int32_t upper = referenceContrast(histogram, average / 3, 256, nb);
    if (upper < 0) return 0;
    std::int32_t threshold = (low + upper) / 2;
    if (threshold == 0) threshold = 1;

    for (std::int32_t i = 0; i < nb; ++i) map[i] = contrast[i] > threshold ? 1 : 0;

    // The contrast map is spent; it serves as the passes' copy of the old map.
    for (std::int32_t pass = 1; pass <= kCleaningPasses; ++pass) {
        blockMajorityPass(map, contrast.data(), bw, bh);
        if (pass == kPassesBeforeBorderClear) clearBorder(map, bw, bh);
    }
    fillBlockGaps(map, bw, bh);

    std::int32_t count = 0;
    std::int32_t sumRows = 0;
    std::int32_t sumColumns = 0;
    std::int32_t top = 1000;
    std::int32_t bottom = 0;
    std::int32_t left = 1000;
    std::int32_t right = 0;
    for (std::int32_t by = 1; by < bh - 1; ++by) {
        for (std::int32_t bx = 1; bx < bw - 1; ++bx) {
            if (map[by * bw + bx] == 0) continue;
            ++count;
            sumRows += by;
            sumColumns += bx;
            if (by < top) top = by;
            if (by > bottom) bottom = by;
            if (bx < left) left = bx;
            if (bx > right) right = bx;
        }
    }
    if (bh - 1 <= 1 || count == 0) return 0;

    desc.quality = count * 100 / nb;
    desc.centreX = sumColumns / count * size;
    desc.centreY = sumRows / count * size;
    desc.top = top * size;
    desc.bottom = bottom * size;
    desc.left = left * size;
    desc.right = right * size;
    return 1;
}

std::int32_t fingerTest(ImageDescriptor& desc, std::int32_t threshold) {
    if (qualityScore(desc) == 0) return 0;
    return desc.quality >= threshold ? 1 : 0;
}

}  // namespace zp

#include "enhance/directional_enhancement.h"

#include <cstring>

namespace zp {


namespace {

constexpr std::int32_t kFrame = 8;
constexpr std::int32_t kBlockShift = 3;
constexpr std::int32_t kRadius = 3;
// Results of row y wait in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 8;
// Sums are scaled back by the kernels' total, 512.
constexpr std::int32_t kScaleShift = 9;
// Each kernel is unchanged by a half turn, so the 49 taps fold into the
// centre and 24 pairs (dx, dy) / (-dx, -dy) sharing a weight.
constexpr std::int32_t kPairs = 24;
constexpr std::int32_t kSegment = 8;

constexpr bool halfTurnSymmetric() {
    for (const EnhancementKernel& k : kEnhancementKernels)
        for (std::int32_t r = 0; r < 7; ++r)
            for (std::int32_t c = 0; c < 7; ++c)
                if (k[r][c] != k[6 - r][6 - c]) return false;
    return true;
}
static_assert(halfTurnSymmetric(), "the folded filter needs kernels unchanged by a half turn");

struct FoldedKernel {
    std::int16_t centre = 0;
    std::array<std::int16_t, kPairs> weights{};
    std::array<std::int32_t, kPairs> offsets{};  // (dy * width + dx) of the first tap
};

// Filters the n <= 8 pixels from p on with one folded kernel, into out.
// All eight lanes are computed (the reads stay inside the rows below) so
// that the loop has a fixed length.
inline void filterRun(const std::uint8_t* p, std::uint8_t* out, const FoldedKernel& k, std::int32_t n) {
    constexpr std::int32_t N = kSegment;
    std::int32_t acc[N];
    for (std::int32_t i = 0; i < N; ++i) acc[i] = k.centre * p[i];
    for (std::int32_t t = 0; t < kPairs; ++t) {
        const std::uint8_t* a = p + k.offsets[t];
        const std::uint8_t* b = p - k.offsets[t];
        const std::int32_t w = k.weights[t];
        for (std::int32_t i = 0; i < N; ++i) {
            // |w| <= 42 and a pair sums to at most 510: the product fits 16 bits.
            acc[i] += static_cast<std::int16_t>(w * (a[i] + b[i]));
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t v = acc[i] <= 0 ? 0 : acc[i] >> kScaleShift;
        out[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
    }
}

}  // namespace

void directionalEnhancement(std::uint8_t* image, std::int32_t width, std::int32_t height,
                            const std::uint8_t* blockMap) {
    if (width < 1 || height < 12) return;

    std::array<FoldedKernel, 8> kernels{};
    for (std::size_t code = 0; code < kernels.size(); ++code) {
        const EnhancementKernel& k = kEnhancementKernels[code];
        FoldedKernel& f = kernels[code];
        f.centre = k[kRadius][kRadius];
        std::int32_t t = 0;
        // The first 24 taps in row order lie before the centre; their
        // partners lie after it.
        for (std::int32_t dy = -kRadius; dy <= kRadius && t < kPairs; ++dy) {
            for (std::int32_t dx = -kRadius; dx <= kRadius && t < kPairs; ++dx) {
                f.weights[t] = k[kRadius + dy][kRadius + dx];
                f.offsets[t] = dy * width + dx;
                ++t;
            }
        }
    }

    const auto rowBytes = static_cast<std::size_t>(width);
    // Rows 4..7 are overwritten by parked results; keep them at the bottom.
    std::memcpy(image + (height - 4) * width, image + 4 * width, 4 * rowBytes);

    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* row = image + y * width;
        std::uint8_t* out = image + (y - kDelay) * width;
        std::memcpy(out, row, rowBytes);
        const std::uint8_t* blocks = blockMap + (y >> kBlockShift) * columns;
        for (std::int32_t xs = kFrame; xs < width - kFrame; xs = (xs | 7) + 1) {
            const std::uint8_t code = blocks[xs >> kBlockShift];
            if (code == 0 || code > 8) continue;
            const FoldedKernel& k = kernels[code - 1];
            const std::int32_t n = ((xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame) - xs;
            filterRun(row + xs, out + xs, k, n);
        }
    }

    if (height > 2 * kDelay) {
        std::memmove(image + kDelay * width, image, static_cast<std::size_t>(height - 2 * kDelay) * rowBytes);
    }
    std::memcpy(image + 4 * width, image + (height - 4) * width, 4 * rowBytes);
}

}  // namespace zp
